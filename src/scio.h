// scio: streams, alphabets, the FASTA reader and the count files.
//
// Contents:
//   sopen, sclose           open/close by name ("-", "~", ".Z"/".gz" via zcat, "|cmd")
//   sopen_nofollow          create a fixed-path file for writing, never through a symlink
//   sclose_quiet            close without checks, on a path that is already failing
//   check_output            flush an output stream and stop on a write error
//   aanum, numaa, numpos    letter <-> residue/register numbers
//   getseq2                 one FASTA record into a Sequence
//   warn_truncated          the warning for a record cut to the length limit
//   readgenfreq/readposfreq the two count files (big-endian), ntohla
//   writegenfreq/writeposfreq  the same layouts written out (counting tool)
//   read_region             the next region record of a sequence (plot)
#pragma once

#include <cstdint>
#include <cstdio>

#include "velcorin2.h"

// sopen: opens `name` with mode `ops` ("r", "w", "r+" or "a"); a null name
// gives null.  "-" is stdin ("r") or stdout ("w"); "~/path", "~" and
// "~user/path" name home directories; "|cmd" in mode "w" writes into a shell
// command; in mode "r" a name ending in ".Z" or ".gz" is read through zcat
// (started without a shell), and a missing plain file falls back to its
// ".Z", then ".gz" form.  Created files get permissions 0600.
// Every failure throws error 3; a given name never yields null.
FILE *sopen(const char *name, const char *ops);

// sopen_nofollow: like sopen(name, "w") for a plain path, but refuses to
// follow a symbolic link at `name` (error 3, the message of a failed "w").
FILE *sopen_nofollow(const char *name);

// sclose: closes a stream from sopen (pipes are closed and their command
// waited for).  A stream opened for writing that has a write error or fails
// to close stops the run with error 4 and the name it was opened under.  A
// compressed input that was read to its end while its zcat failed (a
// damaged file) is error 5 with its name.
// A null stream is ignored.
void sclose(FILE *fl);

// sclose_quiet: closes a stream from sopen on a path that is already
// failing: nothing is checked or reported, a zcat behind it is stopped and
// waited for.  Standard streams are left open.  A null stream is ignored.
void sclose_quiet(FILE *fl);

// check_output: flushes `fl`; if it was opened for writing by sopen and has
// failed, stops with error 4 and its name.  Streams sopen did not open pass.
void check_output(FILE *fl);

int8_t aanum(int8_t ch);   // letter (any case) -> 0..21, or -1
int8_t numaa(int8_t ch);   // residue number -> letter, NUL outside 0..21
int8_t numpos(int8_t ch);  // register number -> 'a'..'g', NUL outside 0..6

// getseq2: reads the next FASTA record into `sequence` (seqlen, seq, code,
// title; reg is left alone; warnings holds what the reader reports, for
// stderr).  Returns 1 with the record filled, 0 when no further header line
// exists.  Header lines of any length are read whole (code and title keep
// their first NAMELEN-1 characters).  A record longer than max_length
// (0: no limit) keeps its first max_length residues with one warn_truncated()
// line; the rest of it is skipped unchecked.  An unknown character throws
// "Unable to parse input '%c', %s.\n" for stdout, status 255.
int32_t getseq2(FILE *fl, Sequence &sequence, int32_t max_length);

// warn_truncated: adds "Sequence <code> truncated to <max_length> residues\n"
// to the record's warnings.
void warn_truncated(Sequence &sequence, int32_t max_length);

// Count files, in the file's order.  A wrong header line is error 6, a
// table cut short error 5 (message "<GenFreq> file" / "<PosFreq> file").
// Bytes after the tables are ignored.
void readgenfreq(FILE *fl, GenFreq &g);
void readposfreq(FILE *fl, PosFreq &p);
// ntohla: converts `size` values in place from big-endian to host order.
void ntohla(int32_t *arr, int size);

// Writers of the same layouts; return 0 on success, -1 on a write error.
int writegenfreq(FILE *fl, const GenFreq &g);
int writeposfreq(FILE *fl, const PosFreq &p);

// read_region: the next region record ">code first last" of `code`,
// searched forward from the current position of `rf` (records before it
// are passed over for good).  Returns 1 with *rstart and *rend set to the
// record's numbers as written, 0 when the file ends first.  A record whose
// numbers do not both parse never matches.
int read_region(FILE *rf, const char *code, int32_t *rstart, int32_t *rend);

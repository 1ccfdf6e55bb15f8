// scio: streams, alphabets, the FASTA reader and the count files.
//
// Contents:
//   sopen, sclose           open/close by name ("-", "~", ".Z"/".gz" via zcat, "|cmd")
//   sopen_nofollow          create a fixed-path file for writing, never through a symlink
//   check_output            flush an output stream and stop on a write error
//   aanum, numaa, numpos    letter <-> residue/register numbers
//   getseq2                 one FASTA record into a Sequence
//   warn_truncated          the warning for a record cut to MAXSEQ residues
//   readgenfreq/readposfreq the two count files (big-endian), ntohla
//   writegenfreq/writeposfreq  the same layouts written out (counting tool)
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
// Every failure is fatal (error 3); a given name never yields null.
FILE *sopen(const char *name, const char *ops);

// sopen_nofollow: like sopen(name, "w") for a plain path, but refuses to
// follow a symbolic link at `name` (error 3, the message of a failed "w").
FILE *sopen_nofollow(const char *name);

// sclose: closes a stream from sopen (pipes are closed and their command
// waited for).  A stream opened for writing that has a write error or fails
// to close stops the run with error 4 and the name it was opened under.  A
// compressed input that was read to its end while its zcat failed (a
// damaged file) stops the run with error 5 and its name.
// A null stream is ignored.
void sclose(FILE *fl);

// check_output: flushes `fl`; if it was opened for writing by sopen and has
// failed, stops with error 4 and its name.  Streams sopen did not open pass.
void check_output(FILE *fl);

int8_t aanum(int8_t ch);   // letter (any case) -> 0..21, or -1
int8_t numaa(int8_t ch);   // residue number -> letter, NUL outside 0..21
int8_t numpos(int8_t ch);  // register number -> 'a'..'g', NUL outside 0..6

// getseq2: reads the next FASTA record.  Returns 1 with the record filled,
// 0 when no further header line exists.  An unknown character prints
// "Unable to parse input '%c', %s.\n" on stdout and ends with status -1.
// Header lines of any length are read whole (code and title keep their
// first NAMELEN-1 characters); a record is cut to MAXSEQ residues with one
// warn_truncated() line.
int32_t getseq2(FILE *fl, Sequence *sequence);

// warn_truncated: "Sequence <code> truncated to 20000 residues" on stderr.
void warn_truncated(const char *code);

// Count tables of the two model files, in the file's order.  A wrong
// header line stops with error 6, a table cut short with error 5 (message
// "<GenFreq> file" / "<PosFreq> file").  Bytes after the tables are ignored.
// `flog` is not used.
void readgenfreq(FILE *fl, int32_t *totals, int32_t freqs[NAA], int32_t totalp[NREG],
                 int32_t freqp[NAA][NAA][NREG], FILE *flog);
void readposfreq(FILE *fl, int32_t totals[NREG], int32_t freqs[NAA][NREG],
                 int32_t totalp[NREG][NREG], int32_t freqp[NAA][NAA][NREG][NREG], FILE *flog);
// ntohla: converts `size` values in place from big-endian to host order.
void ntohla(int32_t *arr, int size);

// Writers of the same layouts; return 0 on success, -1 on a write error.
int writegenfreq(FILE *fl, int32_t totals, const int32_t freqs[NAA], const int32_t totalp[NREG],
                 const int32_t freqp[NAA][NAA][NREG]);
int writeposfreq(FILE *fl, const int32_t totals[NREG], const int32_t freqs[NAA][NREG],
                 const int32_t totalp[NREG][NREG], const int32_t freqp[NAA][NAA][NREG][NREG]);

// scio: streams, alphabets, the FASTA reader and the count files.
//
// Contents:
//   sopen, sclose           open/close by name ("-", "~", ".Z"/".gz" via zcat, "|cmd")
//   sopen_replacing, sreplace  write a file beside its name, then rename it over
//   file_identity           device and inode of a file name
//   sclose_quiet            close without checks, on a path that is already failing
//   check_input, stream_name  a read error mid-run; the name of a stream
//   aanum, numaa, numpos    letter <-> residue/register numbers
//   getseq2                 one FASTA record into a Sequence
//   warn_truncated          the warning for a record cut to the length limit
//   readgenfreq/readposfreq the two count files (big-endian), ntohla
//   writegenfreq/writeposfreq  the same layouts written out (counting tool)
//   read_region             the next region record of a sequence (plot)
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "velcorin2.h"

// sopen: opens `name` with mode `ops` ("r", "w", "r+" or "a"); a null name
// gives null.  "-" is stdin ("r") or stdout ("w"); "~/path", "~" and
// "~user/path" name home directories; "|cmd" in mode "w" writes into a shell
// command; in mode "r" a name ending in ".Z" or ".gz", and any input whose
// first bytes are gzip or compress data, is read through zcat (started
// without a shell), and a missing plain file falls back to its ".Z", then
// ".gz" form.  Created files get permissions 0600.  Every failure throws
// error 3 (with the system's reason where there is one); a given name never
// yields null.
FILE *sopen(const char *name, const char *ops);

// sopen_replacing: for writing a file that takes the plain path `name` only
// once it is complete: a new private file (0600, created exclusively) beside
// it, whose name goes to `scratch`.  Nothing at `name` is ever opened, so a
// FIFO, a device, another user's file or a hard link there is never written
// into, and concurrent runs each leave a whole file (the last one wins).  A
// symbolic link or anything but a regular file at `name`, or another user's
// file in a sticky directory, is refused: error 3 with the message of a
// failed "w" open and the reason.
FILE *sopen_replacing(const char *name, std::string &scratch);

// sreplace: closes `fl` (checked like sclose) and renames `scratch` over
// `name`; a rename that is refused is error 4.  The scratch file never
// stays behind; `scratch` is cleared.
void sreplace(FILE *fl, std::string &scratch, const char *name);

// FileId: the identity of a file: device and inode of an existing regular
// file, or those of the directory a new file would be made in and its name.
struct FileId {
    dev_t dev;
    ino_t ino;
    std::string name;
    bool operator==(const FileId &) const = default;
};
// file_identity: the FileId of a file name as sopen reads it ("~" expanded);
// false for "-", "|command", and names of anything but a regular file.
bool file_identity(const char *name, FileId *id);

// sclose: closes a stream from sopen (pipes are closed and their command
// waited for; standard streams are flushed, not closed).  An output with a
// write error, a failed close, or a command that exited non-zero or was
// killed (but for SIGPIPE) is error 4 with the name it was opened under.
// An input with a read error, or a compressed input read to its end while
// its zcat failed (a damaged file), is error 5 with its name.  A null
// stream is ignored.
void sclose(FILE *fl);

// sclose_quiet: closes a stream from sopen on a path that is already
// failing: nothing is checked or reported, a zcat behind it is stopped and
// waited for.  Standard streams are only flushed.  A null stream is ignored.
void sclose_quiet(FILE *fl);

// check_input: error 5 with the stream's name if reading it failed.
void check_input(FILE *fl);

// stream_name: the name a stream from sopen was opened under ("" if none).
const char *stream_name(FILE *fl);

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
// table cut short error 5 (message "<GenFreq> file" / "<PosFreq> file");
// so is a negative count, a total that is not the sum of the counts it
// totals, or anything after the last table (the message says which).
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

// scio: streams, alphabets, the FASTA reader and the count files.
//
// Contents:
//   sopen, sclose           open/close by name ("-", "~", ".Z"/".gz" via zcat, "|cmd")
//   check_output            flush an output stream and stop on a write error
//   aanum, numaa, numpos    letter <-> residue/register numbers
//   getseq2                 one FASTA record into a Sequence
//   readgenfreq/readposfreq the two count files (big-endian), ntohla
//   writegenfreq/writeposfreq  the same layouts written out (counting tool)
#pragma once

#include <cstdint>
#include <cstdio>

#include "velcorin2.h"

// sopen: opens `name` with mode "r", "w", "r+" or "a"; null name gives null.
// Every failure is fatal (error 3); a given name never yields null.
FILE *sopen(const char *name, const char *ops);

// sclose: closes a stream from sopen (pipes with pclose).  A stream opened
// for writing that has a write error or fails to close stops the run with
// error 4 and the name it was opened under.
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
int32_t getseq2(FILE *fl, Sequence *sequence);

// Count tables of the two model files, in the file's order.
void readgenfreq(FILE *fl, int32_t *totals, int32_t freqs[NAA], int32_t totalp[NREG],
                 int32_t freqp[NAA][NAA][NREG], FILE *flog);
void readposfreq(FILE *fl, int32_t totals[NREG], int32_t freqs[NAA][NREG],
                 int32_t totalp[NREG][NREG], int32_t freqp[NAA][NAA][NREG][NREG], FILE *flog);
void ntohla(int32_t *arr, int size);

// Writers of the same layouts; return 0 on success, -1 on a write error.
int writegenfreq(FILE *fl, int32_t totals, const int32_t freqs[NAA], const int32_t totalp[NREG],
                 const int32_t freqp[NAA][NAA][NREG]);
int writeposfreq(FILE *fl, const int32_t totals[NREG], const int32_t freqs[NAA][NREG],
                 const int32_t totalp[NREG][NREG], const int32_t freqp[NAA][NAA][NREG][NREG]);

// scpos: register files (".pos") and the register-pair counting.
//
// Contents:
//   getpos    one record: code, title, residues "*", registers "*"
//   add_seq2  add (bias +1) or take out (bias -1) one record's PosFreq counts
#pragma once

#include <cstdint>
#include <cstdio>

#include "velcorin2.h"

// getpos: reads the next register-file record into `sequence` (seq, reg,
// seqlen, code, title): ">code" line, title line, residues up to "*" (every
// letter aanum knows, "-" and X included), registers up to "*" (a..g as 0..6,
// "." as NOREG; h..z as NOREG with a warning).  code and title keep at most
// NAMELEN-1 characters; residues and registers past MAXSEQ are read but not
// stored (a truncation warning names the code).  Residues without a register
// entry get NOREG.  Differing entry counts (or h..z) give
// "erroneous .pos file!\n" on stderr once; the record is still returned.
// Returns 1 for a complete record, 0 at the end of input (no further ">",
// or the input ends inside the code or title line or before the register
// part's "*").
int32_t getpos(FILE *fl, Sequence *sequence);

// add_seq2: adds `bias` to every PosFreq count the record contributes: for
// each amino acid (0..19) at a register 0..6, pfreqs/ptotals at its register,
// and pfreqp/ptotalp for each amino acid 1..7 positions further along an
// unbroken heptad (gaps and X inside the run are not counted but do not
// break it).  Residues or registers outside those ranges touch no table.
// Counts wrap modulo 2^32, so bias -1 then +1 restores every count exactly.
void add_seq2(int32_t pfreqs[NAA][NREG], int32_t ptotals[NREG], int32_t pfreqp[NAA][NAA][NREG][NREG],
              int32_t ptotalp[NREG][NREG], const int8_t *reg, const int8_t *seq, int32_t seqlen,
              int32_t bias);

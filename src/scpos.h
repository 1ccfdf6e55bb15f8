// scpos: register files (".pos") and the register-pair counting.
//
// Contents:
//   getpos    one record: code, title, residues "*", registers "*"
//   add_seq2  add (bias +1) or take out (bias -1) one record's PosFreq counts
//   add_genseq  add one record's GenFreq (background) counts
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

// add_genseq: adds one record's GenFreq counts: each amino acid (0..19,
// proline included) to gfreqs and *gtotals, and for each position i and
// distance class d (0..6) with j = i + d + 1 < seqlen and both residues
// amino acids, one to gfreqp[seq[i]][seq[j]][d] and gtotalp[d] (gaps and X
// are not counted and do not separate the residues around them).  Returns
// 1, or 0 when a count would pass INT32_MAX; the tables are then partly
// updated (that count left at INT32_MAX) and the caller should give up.
int32_t add_genseq(int32_t *gtotals, int32_t gfreqs[NAA], int32_t gtotalp[NREG],
                   int32_t gfreqp[NAA][NAA][NREG], const int8_t *seq, int32_t seqlen);

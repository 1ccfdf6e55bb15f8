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
// seqlen, code, title).  Returns 1 for a complete record, 0 at the end of
// input (also when the input ends before the register part's "*").
int32_t getpos(FILE *fl, Sequence *sequence);

// add_seq2: adds `bias` to every PosFreq count the record contributes:
// singles at given registers, pairs 1..7 apart along an unbroken heptad.
void add_seq2(int32_t pfreqs[NAA][NREG], int32_t ptotals[NREG], int32_t pfreqp[NAA][NAA][NREG][NREG],
              int32_t ptotalp[NREG][NREG], const int8_t *reg, const int8_t *seq, int32_t seqlen,
              int32_t bias);

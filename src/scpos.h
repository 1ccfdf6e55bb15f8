// scpos: register files (".pos") and the counting of both count files.
//
// Contents:
//   getpos      one record: code, title, residues "*", registers "*"
//   add_seq2    add (bias +1) or take out (bias -1) one record's PosFreq counts
//   add_genseq  add one record's GenFreq (background) counts
#pragma once

#include <cstdint>
#include <cstdio>

#include "velcorin2.h"

// Results of getpos.
inline constexpr int32_t POS_END = 0;         // no further ">" in the input
inline constexpr int32_t POS_RECORD = 1;      // a complete record
inline constexpr int32_t POS_INCOMPLETE = 2;  // the input ended inside a record

// getpos: reads the next register-file record into `sequence` (seq, reg,
// seqlen, code, title, warnings): ">code" line, title line, residues up to
// "*" (every letter aanum knows, "-" and X included), registers up to "*"
// (a..g as 0..6, "." as NOREG; h..z as NOREG with a warning).  code and title
// keep at most NAMELEN-1 characters; residues and registers past max_length
// (0: no limit) are read but not stored, with a truncation warning.
// Residues without a register entry get NOREG.  Differing entry counts, h..z,
// or a record cut short add "erroneous .pos file!\n" to the warnings once.
// Returns POS_RECORD, POS_END, or POS_INCOMPLETE when the input ends inside
// the code or title line or before the register part's "*" (the record is
// then filled as far as it was read).
int32_t getpos(FILE *fl, Sequence &sequence, int32_t max_length);

// add_seq2: adds `bias` to every PosFreq count the record contributes: for
// each amino acid (0..19) at a register 0..6, freqs/totals at its register,
// and freqp/totalp for each amino acid 1..7 positions further along an
// unbroken heptad (gaps and X inside the run are not counted but do not
// break it).  Residues or registers outside those ranges touch no table.
// Counts wrap modulo 2^32, so bias -1 then +1 restores every count exactly.
void add_seq2(PosFreq &p, const int8_t *reg, const int8_t *seq, int32_t seqlen, int32_t bias);

// add_genseq: adds one record's GenFreq counts: each amino acid (0..19,
// proline included) to freqs and totals, and for each position i and
// distance class d (0..6) with j = i + d + 1 < seqlen and both residues
// amino acids, one to freqp[seq[i]][seq[j]][d] and totalp[d] (gaps and X
// are not counted and do not separate the residues around them).  Returns
// 1, or 0 when a count would pass INT32_MAX; the tables are then partly
// updated (that count left at INT32_MAX) and the caller should give up.
int32_t add_genseq(GenFreq &g, const int8_t *seq, int32_t seqlen);

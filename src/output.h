// output: per-residue table, coil logs, PostScript plot, global p-score table.
//
// Contents:
//   score2prob, prob2score        the global score <-> p-score table
//   pscore_table                  the table itself (read-only)
//   txt_output2, txt_format_row   the per-residue table and one of its rows
//   log_output_ver                score line
//   log_output_prn3, log_print_coil, print_coil3   coil report and map
//   res_compare                   one page of the comparison plot
//
// Contract shared by all functions: the best score of residue i is
// scs[i][offsets[i]] and its register number (offsets[i] + i) mod 7, with
// offsets[i] in 0..6 and seqlen at most MAXSEQ.  Nothing here allocates and
// nothing reports write errors.
#pragma once

#include <cstdint>
#include <cstdio>

#include "velcorin2.h"

// ---- Global p-score table ---------------------------------------------------
// PSCORE_ROWS rows of {score, probability}: row i holds the score
// (i - 4000) / 100.0 and the normal distribution function (mean -7.688,
// deviation 8.421) at that score, rounded to 8 significant digits.  Only the
// first pscore_size rows are consulted by the lookups; the last row is never
// used.  Built on first use.
inline constexpr int PSCORE_ROWS = 7001;
inline constexpr int32_t pscore_size = 7000;
const double (*pscore_table())[2];

// score2prob: 1 minus the probability of the last consulted row whose score
// is not above `score`; 1.0 when no row qualifies (scores below -40.00,
// -inf).  NaN compares with nothing, so it takes the last consulted row.
double score2prob(double score);

// prob2score: the score of the last consulted row whose probability is not
// above 1 - `prob`; 40.0 (above every row) when no row qualifies.
double prob2score(double prob);

// ---- Per-residue table --------------------------------------------------------
// txt_output2: writes the header lines ("# Sequence Code", "# Sequence Name"
// or "# Unnamed sequence", "#", the column header) and one row per residue
// to `fout`.  `code` and `title` may be null or empty.
void txt_output2(const char *code, const char *title, const int8_t *seq, int32_t seqlen, FILE *fout,
                 const double scs[][NREG], const int8_t *offsets);

// txt_format_row: writes into `buf` exactly the bytes that
// "%8d       %c             %c      %8.5f    (%7.2f)\n" gives for
// pos, residue, reg, score2prob(score), score (no terminating NUL; a NUL
// residue or register letter is written as a NUL byte, as "%c" does).
// `buf` must hold TXT_ROW_MAX bytes.  Returns the number of bytes written.
inline constexpr int TXT_ROW_MAX = 512;
int txt_format_row(char *buf, int32_t pos, char residue, char reg, double score);

// ---- Logs ---------------------------------------------------------------------
// log_output_ver: "%4d %lf %s %s\n" with cnt, the score (-100000.0 for -inf
// or NaN), code, title.  code and title must be non-null.
void log_output_ver(double score, int cnt, const char *title, const char *code, FILE *flog);

// log_output_prn3: the coil report of one sequence: header lines on both
// logs, the sequence p-score line on flog_seq, the peak line on flog, then
// either "No coiled coils found." or the optional map and the region list.
// `bound` is a p-score threshold, converted here with prob2score.  When no
// residue's best score equals `score`, the peak line names position
// seqlen + 1 and the register letter of offset 0 at that index.
void log_output_prn3(int mode, double score, const double scs[][NREG], const int8_t *offsets,
                     int32_t seqlen, int cnt, Sequence sequence, double bound, double upper_bound,
                     FILE *flog, FILE *flog_seq);

// log_print_coil: one region entry "  %1.4f@ %4d-%4d:%c;  " with the p-score
// of `score`, positions from+1 and to+1, and the register letter of residue
// `from` under register offset `reg`.
void log_print_coil(FILE *flog, double score, int from, int to, int reg);

// print_coil3: the residue and register map of one sequence in rows of 70.
// `bound` is a raw score, `upper_bound` is compared with raw scores as given.
// `reg` is read (indices below seqlen only) when mode has 0x40, 0x04 or 0x08.
void print_coil3(int mode, int32_t seqlen, const int8_t *reg, const double scs[][NREG], double bound,
                 double upper_bound, const int8_t *offsets, const int8_t *seq, FILE *flog);

// ---- Plot -------------------------------------------------------------------------
// res_compare: one PostScript page comparing the stock curve `sc1` with the
// pair curve `sc2`.  The region comes from `regionfile` (read forward across
// calls, never rewound; null means the whole sequence) and is clamped to the
// sequence.  Reads the global WINDOW for the right-axis labels.
void res_compare(FILE *ps, const double *sc1, const double *sc2, const Sequence *sequence,
                 FILE *regionfile);

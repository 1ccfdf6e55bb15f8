// scoring: the pair and stock scorers behind predict().
//
// Contents:
//   LANES, TERM_LANES                       the layout the scorers share
//   register_at, next_segment, pair_term    building blocks
//   pair_propensities, segment_end_propensities, window_sums   pair scoring of one segment
//   score_pairs                             pair scoring of a whole sequence
//   stock_log_occurrence, stock_window_sums, score_stock       stock scoring
//   max_over_windows                        per position, the best window containing it
//
// The scorers run the seven register offsets side by side: per position a
// row of eight lanes, lane o for register offset o (lane 7 is padding).
// Every lane does the scalar operations in the scalar order, so the scores
// are the very doubles a one-offset-at-a-time scorer gives.  Per-position
// arrays are indexed by absolute sequence position.  Nothing here checks
// its arguments: callers guarantee residues 0..19 inside segments,
// registers and distance classes 0..6.
#pragma once

#include <cstdint>

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

inline constexpr int LANES = 8;        // one row: the seven register offsets and a pad
inline constexpr int TERM_LANES = 16;  // registers 0..6 twice, and a pad

// register_at: register (0..6) of position pos under register offset offs (both >= 0).
inline int register_at(int32_t pos, int32_t offs) { return (pos + offs) % NREG; }

// next_segment: the next scoring segment at or after *en: a maximal run of
// residues 0..18 (0..19 when prolines do not end segments).  Stores it as
// [*st, *en) and returns true; false with both unchanged when none is left.
// Set *en to 0 before the first call.
bool next_segment(int32_t *st, int32_t *en, const int8_t *seq, int32_t seqlen, bool prolines_end_segments);

// pair_term: log-odds of the pair (x, y = x + dist + 1) in registers xreg,
// yreg against the background pair at class dist, less the single-residue
// log-odds of the right-hand residue; charged to x.
double pair_term(const ProbTables &t, int32_t x, int32_t y, int32_t xreg, int32_t yreg, int8_t dist, const int8_t *seq);

// pair_propensities: prop[i][o], st <= i < en, = mean pair term of residue
// i in register offset o with its right-hand partners at the classes in
// use, partners inside [st, en) only; the residue's single-residue log-odds
// when it has none.  Lane 7 is 0.
void pair_propensities(double (*prop)[LANES], const Model &m, const int8_t *seq, int32_t st, int32_t en);

// segment_end_propensities: the part of pair_propensities for the last
// farthest + 1 positions of the segment, whose partners may fall outside it.
void segment_end_propensities(double (*prop)[LANES], const Model &m, const int8_t *seq, int32_t st, int32_t en);

// window_sums: win[i], st <= i <= en - window, = running sum of
// prop[i .. i + window - 1], lane by lane.  Other rows are untouched.
void window_sums(double (*win)[LANES], const double (*prop)[LANES], int32_t st, int32_t en, int32_t window);

// score_pairs: pair scoring of a whole sequence of at least the model's
// shortest segment.  best[i] = the best window score containing i over the
// register offsets, offset[i] = its offset (lowest on ties), NOT_SCORED and
// 0 where no segment of at least the shortest segment holds i; *max = the
// best residue score.  A segment shorter than PAIR_WINDOW is one window.
void score_pairs(const Model &m, Workspace &w, const int8_t *seq, int32_t seqlen, double *best, int8_t *offset,
                 double *max);

// take_maxima: the maxima over the windows win[st..en-window] in every
// register offset; then each residue's best offset (the lowest on ties) and
// its score into best/offset, raising *gmax.  Both scorers finish a segment so.
void take_maxima(Workspace &w, double *best, int8_t *offset, int32_t st, int32_t en, int32_t window, double *gmax);

// clear_scores: NOT_SCORED and offset 0 for positions 0..seqlen-1.
void clear_scores(int32_t seqlen, double *best, int8_t *offset);

// stock_log_occurrence: the stock method's log relative occurrence of a
// residue in a register (LOGZERO where it is 0).
double stock_log_occurrence(int aa, int reg);

// stock_window_sums: prop[st..en-1] = the stock terms of each register
// offset, then win[st..en-window] = their window sums.
void stock_window_sums(double (*win)[LANES], double (*prop)[LANES], const int8_t *seq, int32_t st, int32_t en,
                       int32_t window);

// score_stock: stock scoring with STOCK_WINDOW-residue windows, like
// score_pairs with the stock terms and segments shorter than the window
// skipped.  False, writing nothing, when seqlen < STOCK_WINDOW.
bool score_stock(const Model &m, Workspace &w, const int8_t *seq, int32_t seqlen, double *best, int8_t *offset,
                 double *max);

// max_over_windows: L independent lanes at once (L = 1 is the plain form).
// For each lane, windowscore[q] scores positions q..q+window-1; maxima[p],
// p < seqlen, becomes the largest windowscore[q] over the windows inside
// the stretch that contain p.  Needs 1 <= window <= seqlen; prev is a
// working array of seqlen rows, block one of window rows; maxima may be an
// array of seqlen rows that no other argument uses.  Linear in seqlen
// whatever the window.
// Comparisons are strict and made in a fixed order, the same in every lane,
// so the result is reproducible to the bit.  Instantiated for L = 1 and 8.
template <int L>
void max_over_windows(double (*maxima)[L], const double (*windowscore)[L], int32_t seqlen, int32_t window,
                      double (*prev)[L], double (*block)[L]);

}  // namespace velcorin2

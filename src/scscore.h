// scscore: probability tables, pair and stock scoring, sequence p-scores.
//
// Contents:
//   getlog, getdlog, calcgprobs, calcgprobp, calcpprobs, calcpprobp   the model
//   getoffs, subsequence_advance, lpropensity_term                    building blocks
//   get_respropl, get_sc_en, get_winscores, scseqadj                  pair scoring
//   initialize_relative, relative_entry, singles_windows, scorestock  stock scoring
//   seq_scr2pscr, pscore_table_entry                                  sequence p-score
//
// All per-position arrays are indexed by absolute sequence position and hold
// MAXSEQ entries.  Nothing here checks its arguments: the callers guarantee
// residues 0..19 inside segments, registers and distance classes 0..6.
#pragma once

#include <cstdint>

#include "velcorin2.h"

// ---- The model: natural-log probabilities from counts ------------------------

double getlog(int32_t num);    // ln(num), LOGZERO for 0
double getdlog(double num);    // ln(num), LOGZERO for exactly 0.0

// calcgprobs: probs[x] = getlog(freqs[x]) - getlog(totals), unsmoothed.  Returns 1.
int calcgprobs(const int32_t freqs[NAA], int32_t totals, double probs[NAA]);

// calcgprobp: probp[x][y][d] = getlog(freqp[x][y][d]) - getlog(totalp[d]), unsmoothed.
void calcgprobp(const int32_t freqp[NAA][NAA][NREG], const int32_t totalp[NREG],
                double probp[NAA][NAA][NREG]);

// calcpprobs: residue-by-register log probabilities of coils, each register
// normalised to sum to 1.  A zero count (or any count under a total of 0)
// takes min(1/(5t), 0.05).  With ProlineFreeWin nonzero proline is left out
// and gets LOGZERO.  Returns 1.
int calcpprobs(const int32_t freqs[NAA][NREG], const int32_t totals[NREG], double probs[NAA][NREG],
               int ProlineFreeWin);

// calcpprobp: pair-by-register-pair log probabilities of coils, each register
// pair normalised to sum to 1.  A zero count (or any count under a total of
// 0) takes the smallest of exp(probs[x][p])*exp(probs[y][q]), 1/(5t) and
// 0.0025.  probs must be the finished calcpprobs table built with the same
// ProlineFreeWin; pairs holding proline then get LOGZERO.
void calcpprobp(const int32_t freqp[NAA][NAA][NREG][NREG], const int32_t totalp[NREG][NREG],
                const double probs[NAA][NREG], double probp[NAA][NAA][NREG][NREG], int ProlineFreeWin);

// ---- Building blocks ---------------------------------------------------------

// getoffs: register (0..6) of position pos under register offset offs (both >= 0).
int getoffs(int32_t pos, int32_t offs);

// subsequence_advance: finds the next scoring segment at or after *en: a
// maximal run of residues 0..18 (0..19 when ProlineFreeWin is 0).  Stores it
// as [*st, *en) and returns 1; returns 0 with *st and *en unchanged when none
// is left.  Set *en to 0 before the first call.
int subsequence_advance(int32_t *st, int32_t *en, const int8_t *seq, int32_t seqlen,
                        int32_t ProlineFreeWin);

// lpropensity_term: log-odds of the pair (x, y = x + dist + 1) in registers
// xoffs, yoffs against the background pair at class dist, less the
// single-residue log-odds of the right-hand residue; charged to x.
double lpropensity_term(int32_t x, int32_t y, int32_t xoffs, int32_t yoffs, int8_t dist,
                        const int8_t *seq);

// ---- Pair scoring ------------------------------------------------------------

// get_respropl: respropl[st..en-1] = mean pair term of each residue with its
// right-hand partners at the first functnum classes of lib, partners inside
// [st, en) only; the residue's single-residue log-odds when it has none.
void get_respropl(double *respropl, const int8_t *seq, int32_t st, int32_t en, int32_t offs,
                  const int8_t *lib);

// get_sc_en: the part of get_respropl for the last maxfval + 1 positions of
// the segment, whose partners may fall outside it.  respropl there must be 0.
void get_sc_en(double *respropl, const int8_t *seq, int32_t st, int32_t en, int32_t offs,
               const int8_t *lib, int32_t maxfval);

// get_winscores: winscores[i], st <= i <= en - WINDOW, = running sum of the
// propensities of positions i .. i + WINDOW - 1.  Other entries are untouched.
// Needs en - st >= WINDOW >= 1 for any output.
void get_winscores(double *winscores, const int8_t *seq, int32_t st, int32_t en, int32_t offs,
                   const int8_t *lib);

// scseqadj: pair scoring of a whole sequence.  scores[i][o] = best window
// score containing i in register offset o (-inf where no segment of at least
// window_length residues holds i); offsets[i] = best o, lowest on ties;
// *maxscore = best residue score (-inf when nothing was scored).  A segment
// shorter than WINDOW is one window; WINDOW is restored before returning.
// Returns 0, writing nothing, when seqlen < window_length; else 1.
int scseqadj(const int8_t *lib, const int8_t *seq, int32_t seqlen, double scores[][NREG],
             int8_t *offsets, double *maxscore, int32_t ProlineFreeWin);

// ---- Stock scoring -----------------------------------------------------------

// initialize_relative: sets the stock table to the natural logarithms of the
// built-in relative occurrences (0 becomes LOGZERO).  Call at start-up,
// before any stock scoring; calling it again gives the same table.
void initialize_relative();
double relative_entry(int aa, int reg);   // the stock table as it stands now

// singles_windows: winscores[st..en-WINDOW] = window sums of the stock terms
// relative[seq[i]][getoffs(i, offs)], as running sums.
void singles_windows(double *winscores, const int8_t *seq, int32_t st, int32_t en, int32_t offs);

// scorestock: stock scoring of a whole sequence, like scseqadj but with the
// stock terms, segments shorter than WINDOW skipped and WINDOW never changed.
// Returns 0, writing nothing, when seqlen < WINDOW; else 1.
int scorestock(const int8_t *seq, int32_t seqlen, double scores[][NREG], int8_t *offsets,
               double *maxscore, int32_t ProlineFreeWin);

// ---- Sequence p-score --------------------------------------------------------

// seq_scr2pscr: p-score (0..1, rising with the score) of the first calibration
// row whose score is strictly above seq_score; 1.0 when there is none.  The
// table is chosen by window_length (21, else 28).
double seq_scr2pscr(double seq_score);

inline constexpr int32_t n_pscores = 813;
// pscore_table_entry: column col (0 score, 1 p-score) of row 0..812 of the
// calibration table of the current window_length.
double pscore_table_entry(int32_t row, int col);

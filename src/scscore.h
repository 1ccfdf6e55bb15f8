// scscore: probability tables, the pair and stock scorers.
//
// Contents:
//   getlog, getdlog, calcgprobs, calcgprobp, calcpprobs, calcpprobp   the model
//   PairModel, build_pair_model, build_pair_terms                     what the pair scorer reads
//   Workspace                                                         one thread's scratch
//   getoffs, subsequence_advance, lpropensity_term                    building blocks
//   get_respropl, get_sc_en, get_winscores, scseqadj                  pair scoring
//   initialize_relative, relative_entry, singles_windows, scorestock  stock scoring
//
// The scorers run the seven register offsets side by side: per position a
// row of eight lanes, lane o for register offset o (lane 7 is padding).
// Every lane does the scalar operations in the scalar order, so the scores
// are the very doubles a one-offset-at-a-time scorer gives.  Per-position
// arrays are indexed by absolute sequence position.  Nothing here checks its
// arguments: callers guarantee residues 0..19 inside segments, registers and
// distance classes 0..6.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "velcorin2.h"

inline constexpr int LANES = 8;  // one row: the seven register offsets and a pad

// ---- The model: natural-log probabilities from counts ------------------------

double getlog(int32_t num);  // ln(num), LOGZERO for 0
double getdlog(double num);  // ln(num), LOGZERO for exactly 0.0

// calcgprobs: probs[x] = getlog(freqs[x]) - getlog(totals), unsmoothed.  Returns 1.
int calcgprobs(const int32_t freqs[NAA], int32_t totals, double probs[NAA]);

// calcgprobp: probp[x][y][d] = getlog(freqp[x][y][d]) - getlog(totalp[d]), unsmoothed.
void calcgprobp(const int32_t freqp[NAA][NAA][NREG], const int32_t totalp[NREG], double probp[NAA][NAA][NREG]);

// calcpprobs: residue-by-register log probabilities of coils, each register
// normalised to sum to 1.  A zero count (or any count under a total of 0)
// takes min(1/(5t), 0.05).  With ProlineFreeWin nonzero proline is left out
// and gets LOGZERO.  Returns 1.
int calcpprobs(const int32_t freqs[NAA][NREG], const int32_t totals[NREG], double probs[NAA][NREG], int ProlineFreeWin);

// calcpprobp: pair-by-register-pair log probabilities of coils, each register
// pair normalised to sum to 1.  A zero count (or any count under a total of
// 0) takes the smallest of exp(probs[x][p])*exp(probs[y][q]), 1/(5t) and
// 0.0025.  probs must be the finished calcpprobs table built with the same
// ProlineFreeWin; pairs holding proline then get LOGZERO.
void calcpprobp(const int32_t freqp[NAA][NAA][NREG][NREG], const int32_t totalp[NREG][NREG],
                const double probs[NAA][NREG], double probp[NAA][NAA][NREG][NREG], int ProlineFreeWin);

// ---- What the pair scorer reads ------------------------------------------------

// The probability tables and, for the distance classes of the run, every
// pair term divided by functnum: terms[((f * NAA + a) * NAA + b) * 16 + k] is
// lpropensity_term of residues a, b at class lib[f] with the left residue in
// register k mod 7, over functnum (k runs to 15 so that eight lanes can be
// read from any register on).
struct PairModel {
    ProbTables probs;
    int32_t functnum = 0;
    int8_t lib[NREG] = {};
    int32_t maxfval = 0;  // largest class in use, at least 0
    std::vector<double> terms;
    std::vector<double> raw_terms;  // the same terms undivided, for the segment ends
};

// build_pair_model: the whole pair model from both count files: gprobs and
// gprobp always; pprobs and pprobp too unless pos is null (leave-one-out
// runs build them per record with build_pos_probs).
void build_pair_model(PairModel &m, const GenFreq &g, const PosFreq *pos, const RunSettings &s);

// build_pos_probs: pprobs, pprobp and the pair terms from PosFreq counts.
void build_pos_probs(PairModel &m, const PosFreq &p, int ProlineFreeWin);

// ---- One thread's scratch ------------------------------------------------------

// Working rows of the scorers, grown to the longest record scored so far.
struct Workspace {
    int32_t capacity = 0;
    std::unique_ptr<double[][LANES]> prop, win, maxima, prev, block;
    void reserve(int32_t n);
};

// ---- Building blocks ---------------------------------------------------------

// getoffs: register (0..6) of position pos under register offset offs (both >= 0).
int getoffs(int32_t pos, int32_t offs);

// subsequence_advance: finds the next scoring segment at or after *en: a
// maximal run of residues 0..18 (0..19 when ProlineFreeWin is 0).  Stores it
// as [*st, *en) and returns 1; returns 0 with *st and *en unchanged when none
// is left.  Set *en to 0 before the first call.
int subsequence_advance(int32_t *st, int32_t *en, const int8_t *seq, int32_t seqlen, int32_t ProlineFreeWin);

// lpropensity_term: log-odds of the pair (x, y = x + dist + 1) in registers
// xoffs, yoffs against the background pair at class dist, less the
// single-residue log-odds of the right-hand residue; charged to x.
double lpropensity_term(const ProbTables &t, int32_t x, int32_t y, int32_t xoffs, int32_t yoffs, int8_t dist,
                        const int8_t *seq);

// ---- Pair scoring ------------------------------------------------------------

// get_respropl: prop[i][o], st <= i < en, = mean pair term of residue i in
// register offset o with its right-hand partners at the classes in use,
// partners inside [st, en) only; the residue's single-residue log-odds when
// it has none.  Lane 7 is 0.
void get_respropl(double (*prop)[LANES], const PairModel &m, const int8_t *seq, int32_t st, int32_t en);

// get_sc_en: the part of get_respropl for the last maxfval + 1 positions of
// the segment, whose partners may fall outside it.
void get_sc_en(double (*prop)[LANES], const PairModel &m, const int8_t *seq, int32_t st, int32_t en);

// get_winscores: win[i], st <= i <= en - window, = running sum of
// prop[i .. i + window - 1], lane by lane.  Other rows are untouched.
void get_winscores(double (*win)[LANES], const double (*prop)[LANES], int32_t st, int32_t en, int32_t window);

// scseqadj: pair scoring of a whole sequence.  scores[i][o] = best window
// score containing i in register offset o (-inf where no segment of at least
// window_length residues holds i); offsets[i] = best o, lowest on ties;
// *maxscore = best residue score (-inf when nothing was scored).  A segment
// shorter than the pair window is one window.  Returns 0, writing nothing,
// when seqlen < window_length; else 1.
int scseqadj(const PairModel &m, const RunSettings &s, Workspace &w, const int8_t *seq, int32_t seqlen,
             double scores[][NREG], int8_t *offsets, double *maxscore);

// ---- Stock scoring -----------------------------------------------------------

// initialize_relative: sets the stock table to the natural logarithms of the
// built-in relative occurrences (0 becomes LOGZERO).  Call at start-up,
// before any stock scoring; calling it again gives the same table.
void initialize_relative();
double relative_entry(int aa, int reg);  // the stock table as it stands now

// singles_windows: prop[st..en-1] = the stock terms relative[seq[i]][register]
// of each register offset, then win[st..en-window] = their window sums.
void singles_windows(double (*win)[LANES], double (*prop)[LANES], const int8_t *seq, int32_t st, int32_t en,
                     int32_t window);

// scorestock: stock scoring of a whole sequence with STOCK_WINDOW-residue
// windows, like scseqadj but with the stock terms and segments shorter than
// the window skipped.  Returns 0, writing nothing, when seqlen < STOCK_WINDOW.
int scorestock(const RunSettings &s, Workspace &w, const int8_t *seq, int32_t seqlen, double scores[][NREG],
               int8_t *offsets, double *maxscore);

// scscore: probability tables, pair and stock scoring, sequence p-scores.
//
// Contents:
//   getlog, getdlog, calcgprobs, calcgprobp, calcpprobs, calcpprobp   the model
//   getoffs, subsequence_advance, lpropensity_term                    building blocks
//   get_respropl, get_sc_en, get_winscores, scseqadj                  pair scoring
//   initialize_relative, singles_windows, scorestock                  stock scoring
//   seq_scr2pscr                                                      sequence p-score
#pragma once

#include <cstdint>

#include "velcorin2.h"

double getlog(int32_t num);    // ln(num), LOGZERO for 0
double getdlog(double num);    // ln(num), LOGZERO for exactly 0.0

int calcgprobs(const int32_t freqs[NAA], int32_t totals, double probs[NAA]);
void calcgprobp(const int32_t freqp[NAA][NAA][NREG], const int32_t totalp[NREG],
                double probp[NAA][NAA][NREG]);
int calcpprobs(const int32_t freqs[NAA][NREG], const int32_t totals[NREG], double probs[NAA][NREG],
               int ProlineFreeWin);
void calcpprobp(const int32_t freqp[NAA][NAA][NREG][NREG], const int32_t totalp[NREG][NREG],
                const double probs[NAA][NREG], double probp[NAA][NAA][NREG][NREG], int ProlineFreeWin);

int getoffs(int32_t pos, int32_t offs);
int subsequence_advance(int32_t *st, int32_t *en, const int8_t *seq, int32_t seqlen,
                        int32_t ProlineFreeWin);
double lpropensity_term(int32_t x, int32_t y, int32_t xoffs, int32_t yoffs, int8_t dist,
                        const int8_t *seq);

void get_respropl(double *respropl, const int8_t *seq, int32_t st, int32_t en, int32_t offs,
                  const int8_t *lib);
void get_sc_en(double *respropl, const int8_t *seq, int32_t st, int32_t en, int32_t offs,
               const int8_t *lib, int32_t maxfval);
void get_winscores(double *winscores, const int8_t *seq, int32_t st, int32_t en, int32_t offs,
                   const int8_t *lib);
int scseqadj(const int8_t *lib, const int8_t *seq, int32_t seqlen, double scores[][NREG],
             int8_t *offsets, double *maxscore, int32_t ProlineFreeWin);

void initialize_relative();
double relative_entry(int aa, int reg);   // the stock table as it stands now
void singles_windows(double *winscores, const int8_t *seq, int32_t st, int32_t en, int32_t offs);
int scorestock(const int8_t *seq, int32_t seqlen, double scores[][NREG], int8_t *offsets,
               double *maxscore, int32_t ProlineFreeWin);

double seq_scr2pscr(double seq_score);

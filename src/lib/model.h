// model: the probability tables of a model, built from its counts.
//
// Contents:
//   log_count, log_or_zero              natural logarithms with LOGZERO for 0
//   background_residue_logs, background_pair_logs   the background tables
//   coil_residue_logs, coil_pair_logs               the smoothed coil tables
//
// Unsmoothed background logarithms; the coil tables smooth what the known
// coils never showed.  Used by build_model (velcorin2.h) and its tests.
#pragma once

#include <cstdint>

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

double log_count(int32_t num);   // ln(num), LOGZERO for 0
double log_or_zero(double num);  // ln(num), LOGZERO for exactly 0.0

// background_residue_logs: probs[x] = log_count(freqs[x]) - log_count(totals).
void background_residue_logs(const int32_t freqs[NAA], int32_t totals, double probs[NAA]);

// background_pair_logs: probp[x][y][d] = log_count(freqp[x][y][d]) - log_count(totalp[d]).
void background_pair_logs(const int32_t freqp[NAA][NAA][NREG], const int32_t totalp[NREG],
                          double probp[NAA][NAA][NREG]);

// coil_residue_logs: residue-by-register log probabilities of coils, each
// register normalised to sum to 1.  A zero count (or any count under a
// total of 0) takes min(1/(5t), 0.05).  With prolines_end_segments proline
// is left out and gets LOGZERO.
void coil_residue_logs(const int32_t freqs[NAA][NREG], const int32_t totals[NREG], double probs[NAA][NREG],
                       bool prolines_end_segments);

// coil_pair_logs: pair-by-register-pair log probabilities of coils, each
// register pair normalised to sum to 1.  A zero count (or any count under a
// total of 0) takes the smallest of exp(probs[x][p])*exp(probs[y][q]),
// 1/(5t) and 0.0025.  `probs` is the finished coil_residue_logs table of the
// same proline rule; pairs holding proline then get LOGZERO.
void coil_pair_logs(const int32_t freqp[NAA][NAA][NREG][NREG], const int32_t totalp[NREG][NREG],
                    const double probs[NAA][NREG], double probp[NAA][NAA][NREG][NREG], bool prolines_end_segments);

}  // namespace velcorin2

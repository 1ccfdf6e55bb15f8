// dyn: the maximum over sliding windows.
//
// Contents:
//   max_over_windows  per position, the best score of the windows containing it
#pragma once

#include <cstdint>

// max_over_windows: L independent lanes at once (the pair scorer runs the
// seven register offsets side by side; L = 1 is the plain form).  For each
// lane, windowscore[q] scores positions q..q+window-1; maxima[p], p < seqlen,
// becomes the largest windowscore[q] over the windows inside the stretch that
// contain p.  Needs 1 <= window <= seqlen; prev and block are working arrays
// of seqlen rows.  Linear in seqlen whatever the window.  Comparisons are
// strict and made in the fixed order of the block method, the same in every
// lane, so the result is reproducible to the bit; between equal values of
// opposite sign (+0.0 and -0.0) the one kept depends on that order, not on
// the position.  Instantiated for L = 1 and L = 8.
template <int L>
void max_over_windows(double (*maxima)[L], const double (*windowscore)[L], int32_t seqlen, int32_t window,
                      double (*prev)[L], double (*block)[L]);

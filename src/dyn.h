// dyn: the maximum over sliding windows.
//
// Contents:
//   max_over_windows  per position, the best score of the windows containing it
#pragma once

#include <cstdint>

// max_over_windows: windowscore[q] scores positions q..q+window-1; sets
// maxima[p], p < seqlen, to the largest windowscore[q] over the windows
// inside the stretch that contain p.  Needs 1 <= window <= seqlen <= MAXSEQ.
// Linear in seqlen whatever the window.  Comparisons are strict and made in
// the fixed order of the block method, so the result is reproducible to the
// bit; between equal values of opposite sign (+0.0 and -0.0) the one kept
// depends on that order, not on the position.
void max_over_windows(double *maxima, const double *windowscore, int32_t seqlen, int32_t window);

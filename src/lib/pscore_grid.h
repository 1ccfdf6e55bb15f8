// pscore_grid: the score grids every p-score table shares.
//
// Contents:
//   residue_grid_score, sequence_grid_score   the score column of each table
//   six_decimals                              a fraction as the sequence tables hold it
//   residue_row                               how many residue rows a score reaches
#pragma once

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

// residue_grid_score: the double nearest to (row - 4000) / 100, which the
// division gives: -40.00 .. 30.00.  The lookups rely on exactly these doubles.
inline double residue_grid_score(int row) { return (row - 4000) / 100.0; }

// sequence_grid_score: the double nearest to (row - 639) / 10: -63.9 .. 17.3.
inline double sequence_grid_score(int row) { return (row - 639) / 10.0; }

// six_decimals: `v` printed with "%.6f" and read back.
double six_decimals(double v);

// residue_row: the number of leading consulted rows whose score is not
// greater than `v` (0..RESIDUE_LOOKUP_ROWS); NaN takes every row.
int residue_row(const PscoreTables &t, double v);

}  // namespace velcorin2

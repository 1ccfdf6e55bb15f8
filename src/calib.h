// calib: p-scores fitted to the model in use.
//
// Contents:
//   model_fingerprint                        what identifies the count files of a model
//   fit_residue_table, fit_sequence_table    the tables from a background's scores
//   write_calibration, read_calibration      the calibration file
//   check_calibration                        refuses a calibration made for another model
//   calibrated_pscores                       the p-score tables of a run
//
// A calibration holds, for window lengths 28 and 21, the residue table (the
// probability that a background residue's best score is below each score of
// the grid -40.00 .. 30.00) and the sequence table (how many background
// sequences score below each score of the grid -63.9 .. 17.3).  Both grids
// are those of the built-in tables, so every lookup works as with them.
// The probabilities are integers in units of 1e-12: the file is exact text,
// and the same scores give the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "output.h"
#include "velcorin2.h"

// The first line of every calibration file.
inline constexpr char CALIBRATION_MAGIC[] = "velcorin2 calibration 1\n";

// model_fingerprint: 64-bit FNV-1a over the big-endian bytes of every count
// of both files in file order (the bytes after each file's header line).
uint64_t model_fingerprint(const GenFreq &g, const PosFreq &p);

// fit_residue_table: the residue table of the finite best residue scores
// `x` (sorted ascending).  Between the 0.1 % lowest and the 0.1 % highest
// scores (at least 100 at each end) it is the empirical distribution,
// q = #{x < score} / n, with runs of empty cells spread linearly; beyond
// them an exponential tail whose scale is the mean excess over the point.
// Every q is then kept in [i + 1, CAL_UNIT - 7001 + i] and pushed up to
// rise strictly.  False, with the reason in *why, for fewer than 1000
// scores or scores too concentrated to leave two tails.
bool fit_residue_table(const std::vector<double> &x, CalResidueTable &t, std::string *why);

// fit_sequence_table: c[k] = #{y < grid score k} over the sequence scores
// `y` (sorted ascending, finite).  False, with *why, when `y` is empty.
bool fit_sequence_table(const std::vector<double> &y, CalSequenceTable &t, std::string *why);

// write_calibration: the file text of `c`; 0, or -1 on a write error.
int write_calibration(FILE *fl, const Calibration &c);

// read_calibration: reads and checks a whole calibration file: header,
// every row of the four tables with its exact grid score, probabilities
// rising strictly inside (0, 1), counts not falling and within 0..scored,
// nothing after the last row.  A wrong first line is error 6, anything else
// error 5, both naming `name` (and the line).
void read_calibration(FILE *fl, const std::string &name, Calibration &c);

// check_calibration: a run may use `c` only with the distance classes (in
// any order), the proline rule and the count files (`model`, their
// fingerprint) it was made for; otherwise an error message naming `name`
// and both sides, status 2.
void check_calibration(const Calibration &c, const RunSettings &s, uint64_t model, const std::string &name);

// calibrated_pscores: `t` as the built-in tables, but with the residue table
// of the run's window length and both sequence tables from `c` (values
// c / scored to six decimals, as the built-in ones), finished.
void calibrated_pscores(const Calibration &c, int32_t window_length, PscoreTables &t);

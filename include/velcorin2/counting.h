// counting.h: building a model: the counting of both count files and the
// calibration of a model's p-scores on a background.
//
// Contents:
//   add_coil_counts          one register-file record into (or out of) coil counts
//   add_background_counts    one FASTA record into background counts
//   fit_residue_table, fit_sequence_table   the calibration tables from scores
//   BackgroundScores, score_background      what a calibration is fitted to
//   calibrate                               the whole calibration of a model
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

// add_coil_counts: adds `weight` to every coil count the record contributes:
// for each amino acid at a register 0..6, freqs/totals at its register, and
// freqp/totalp for each amino acid 1..7 positions further along an unbroken
// heptad (gaps and X inside the run are not counted but do not break it).
// Counts wrap modulo 2^32, so weight -1 then +1 restores every count exactly.
void add_coil_counts(CoilCounts &c, const Sequence &seq, int32_t weight);

// add_background_counts: adds one record's background counts: each amino
// acid to freqs and totals, and for each position i and class d (0..6) with
// j = i + d + 1 inside the record and both residues amino acids, one to
// freqp[seq[i]][seq[j]][d] and totalp[d].  False when a count would pass
// INT32_MAX (the tables are then partly updated; give up).
bool add_background_counts(BackgroundCounts &bg, const Sequence &seq);

// fit_residue_table: the residue table of the finite best residue scores
// `x` (sorted ascending): the empirical distribution between the 0.1 %
// lowest and highest scores (at least 100 at each end), an exponential
// tail beyond them, kept inside (0, 1) and strictly rising.  False, with
// the reason in *why, for fewer than 1000 scores or scores too concentrated.
bool fit_residue_table(const std::vector<double> &x, CalResidueTable &t, std::string *why);

// fit_sequence_table: c[k] = #{y < grid score k} over the sequence scores
// `y` (sorted ascending, finite).  False, with *why, when `y` is empty.
bool fit_sequence_table(const std::vector<double> &y, CalSequenceTable &t, std::string *why);

// The finite best residue scores and the sequence scores of a background,
// per shortest segment (slot_of_shortest), and its size.
struct BackgroundScores {
    std::vector<double> residues[2], sequences[2];
    int64_t chains = 0, length = 0;
};

// score_background: every FASTA record of `fl`, scored with `m` (whose
// shortest segment is ignored: both are scored), into `bg`.  Records longer
// than max_length are cut with the reader's warning, passed to `warn`.
// Returns the records read.
int64_t score_background(FILE *fl, const Model &m, int32_t max_length, BackgroundScores &bg,
                         void (*warn)(const std::string &));

// calibrate: the calibration of `m` from the scores of its background (the
// vectors are sorted here); `source` names the background.  False, with
// *why, when a table cannot be fitted.
bool calibrate(const Model &m, BackgroundScores &bg, const std::string &source, Calibration &c, std::string *why);

}  // namespace velcorin2

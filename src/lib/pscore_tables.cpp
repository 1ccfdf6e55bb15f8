// pscore_tables: the two conversions of scores into p-scores, built in or
// from a calibration, and their lookups.
//
// Contents:
//   1. The built-in tables
//   2. Lookups
//   3. The tables of a calibration
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "pscore_grid.h"
#include "velcorin2/velcorin2.h"

namespace velcorin2 {

// ---- 1. The built-in tables -------------------------------------------------------------

namespace {

// The residue table: the normal distribution function at each grid score,
// to eight significant digits, the way the values were always tabulated.
void build_residue_table(PscoreTables &t)
{
    for (int i = 0; i < RESIDUE_ROWS; i++) {
        double score = residue_grid_score(i);
        double x = (score + 7.688) / 8.421;
        double phi = 0.5 * std::erfc(-x / std::sqrt(2.0));
        char b[40];
        std::snprintf(b, sizeof b, "%.7e", phi);
        t.residue[i][0] = score;
        t.residue[i][1] = std::strtod(b, nullptr);
    }
}

// The sequence tables: the cumulative count c of calibration sequences
// scoring below each grid point -63.9, -63.8, ..., 17.3, out of N (6242 for
// a shortest segment of 28, 6331 for 21).  Only the rows that fix the shape
// are stored; the others are filled by linear interpolation between the
// nearest stored rows (halves rounded up).
struct Anchor {
    int32_t row, c28, c21;
};
constexpr Anchor anchors[] = {
    {0, 0, 0},         {1, 0, 1},         {90, 0, 2},        {91, 1, 3},        {239, 22, 27},     {339, 64, 77},
    {439, 205, 233},   {539, 799, 844},   {589, 1948, 2000}, {616, 3077, 3131}, {617, 3127, 3181}, {639, 4184, 4247},
    {689, 5842, 5925}, {739, 6206, 6295}, {789, 6239, 6328}, {804, 6241, 6330}, {805, 6242, 6331}, {812, 6242, 6331},
};

void build_sequence_table(PscoreTables &t, bool for21)
{
    const int32_t N = for21 ? 6331 : 6242;
    constexpr int nanchors = sizeof anchors / sizeof anchors[0];
    for (int a = 0; a + 1 < nanchors; a++) {
        const int32_t k0 = anchors[a].row, k1 = anchors[a + 1].row;
        const int32_t c0 = for21 ? anchors[a].c21 : anchors[a].c28;
        const int32_t c1 = for21 ? anchors[a + 1].c21 : anchors[a + 1].c28;
        for (int32_t k = k0; k <= k1; k++) {
            const int32_t c = c0 + ((c1 - c0) * (k - k0) * 2 + (k1 - k0)) / (2 * (k1 - k0));
            t.sequence[k][0] = sequence_grid_score(k);
            t.sequence[k][1] = six_decimals(static_cast<double>(c) / N);
        }
    }
}

// finish: "%8.5f" of the p-score of every possible lookup result, for the table.
void finish(PscoreTables &t)
{
    for (int k = 0; k < RESIDUE_ROWS; k++) {
        double p = 1.0 - (k == 0 ? 0.0 : t.residue[k - 1][1]);
        t.pstr_len[k] = std::snprintf(t.pstr[k], sizeof t.pstr[k], "%8.5f", p);
    }
}

}  // namespace

double six_decimals(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    return std::strtod(buf, nullptr);
}

const PscoreTables &builtin_pscores(int32_t shortest_segment)
{
    // Each table is built on first use only: a run needs one of them, and
    // the normal law of the residue table is most of a short run's start-up.
    auto build = [](bool for21) {
        auto *t = new PscoreTables;  // kept for the whole process
        build_residue_table(*t);
        build_sequence_table(*t, for21);
        finish(*t);
        return t;
    };
    if (slot_of_shortest(shortest_segment) == 1) {
        static const PscoreTables *t21 = build(true);
        return *t21;
    }
    static const PscoreTables *t28 = build(false);
    return *t28;
}

// ---- 2. Lookups ---------------------------------------------------------------------------

int residue_row(const PscoreTables &, double v)
{
    // The number of leading consulted rows whose score is not greater than
    // v: where a linear scan from the top would stop.  Worked out from v and
    // confirmed against the grid on both sides; NaN compares with nothing
    // and takes every row, like the scan.
    if (!(v >= -40.0)) return v != v ? RESIDUE_LOOKUP_ROWS : 0;
    const double guess = (v + 40.0) * 100.0;
    int k = guess >= RESIDUE_LOOKUP_ROWS ? RESIDUE_LOOKUP_ROWS : int(guess) + 1;
    if (k > RESIDUE_LOOKUP_ROWS) k = RESIDUE_LOOKUP_ROWS;
    while (k < RESIDUE_LOOKUP_ROWS && residue_grid_score(k) <= v) k++;
    while (k > 0 && residue_grid_score(k - 1) > v) k--;
    return k;
}

double residue_pscore(const PscoreTables &t, double score)
{
    int k = residue_row(t, score);
    double p = k == 0 ? 0.0 : t.residue[k - 1][1];
    return 1.0 - p;
}

double score_for_pscore(const PscoreTables &t, double pscore)
{
    // The same count for the probability column, by bisection: the column
    // strictly increases, so "row > q" is false up to one row and true from
    // there on.  NaN takes every row.
    const double q = 1.0 - pscore;
    int lo = 0, hi = RESIDUE_LOOKUP_ROWS;
    while (lo < hi) {
        int mid = (lo + hi) >> 1;
        if (t.residue[mid][1] > q)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo == 0 ? 40.0 : t.residue[lo - 1][0];
}

double sequence_pscore(const PscoreTables &t, double score)
{
    // The grid rises strictly, so the first row above the score is found by
    // bisection; no row lies above a NaN score, which gets 1.0 like the top.
    int lo = 0, hi = SEQUENCE_ROWS;
    while (lo < hi) {
        int mid = (lo + hi) >> 1;
        if (t.sequence[mid][0] > score)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo == SEQUENCE_ROWS ? 1.0 : t.sequence[lo][1];
}

// ---- 3. The tables of a calibration -----------------------------------------------------------

void calibrated_pscores(const Calibration &c, int32_t shortest_segment, PscoreTables &t)
{
    const int slot = slot_of_shortest(shortest_segment);
    const CalResidueTable &r = c.residue[slot];
    const CalSequenceTable &s = c.sequence[slot];
    for (int i = 0; i < RESIDUE_ROWS; i++) {
        t.residue[i][0] = residue_grid_score(i);
        // Correctly rounded, as reading "0.<12 digits>" with strtod gives it.
        t.residue[i][1] = double(r.q[i]) / 1e12;
    }
    for (int k = 0; k < SEQUENCE_ROWS; k++) {
        t.sequence[k][0] = sequence_grid_score(k);
        t.sequence[k][1] = six_decimals(double(s.c[k]) / double(s.scored));
    }
    finish(t);
}

}  // namespace velcorin2

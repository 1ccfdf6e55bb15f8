// scscore: probability tables, pair and stock scoring, sequence p-scores.
//
// Contents:
//   1. Process-wide settings and probability tables
//   2. The model: getlog, getdlog, calcgprobs, calcgprobp, calcpprobs, calcpprobp
//   3. Building blocks: getoffs, subsequence_advance, lpropensity_term
//   4. Pair scoring: get_respropl, get_sc_en, get_winscores, scseqadj
//   5. Stock scoring: initialize_relative, relative_entry, singles_windows, scorestock
//   6. Sequence p-score: seq_scr2pscr, pscore_table_entry
//
// Scores must be reproducible to the last printed digit, so every sum is
// formed in the order the method defines (each pair term divided by functnum
// before it is added; window sums as running sums) and no operation is
// regrouped, even where that would be faster.
#include "scscore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "dyn.h"

// ---- 1. Process-wide settings and probability tables -----------------------
int32_t window_length = 28;
int32_t WINDOW = 30;
int32_t functnum = 3;
int32_t prog = 1;
double gprobs[NAA];
double gprobp[NAA][NAA][NREG];
double pprobs[NAA][NREG];
double pprobp[NAA][NAA][NREG][NREG];

namespace {
constexpr double NEG_INF = -std::numeric_limits<double>::infinity();

// Per-sequence working arrays, indexed by absolute position.
double respropl_work[MAXSEQ];  // propensities of get_winscores
double winscores_work[MAXSEQ]; // window scores of the two sequence scorers
double scorebuff[MAXSEQ];      // maxima over windows of the two sequence scorers

// Register one position further on, without a division.
inline int next_reg(int r) { return r == NREG - 1 ? 0 : r + 1; }

// 1 / (5 t) with 5 t formed as an integer product; a wide product keeps
// totals above INT32_MAX / 5 from overflowing.  t = 0 gives +inf.
inline double inverse_five_t(int32_t t) { return 1.0 / static_cast<double>(int64_t{5} * t); }
}  // namespace

// ---- 2. The model -------------------------------------------------------------

double getlog(int32_t num) { return num == 0 ? LOGZERO : std::log(static_cast<double>(num)); }

double getdlog(double num) { return num == 0.0 ? LOGZERO : std::log(num); }

int calcgprobs(const int32_t freqs[NAA], int32_t totals, double probs[NAA])
{
    for (int x = 0; x < NAA; x++) probs[x] = getlog(freqs[x]) - getlog(totals);
    return 1;
}

void calcgprobp(const int32_t freqp[NAA][NAA][NREG], const int32_t totalp[NREG],
                double probp[NAA][NAA][NREG])
{
    for (int d = 0; d < NREG; d++) {
        const double t = getlog(totalp[d]);
        for (int x = 0; x < NAA; x++)
            for (int y = 0; y < NAA; y++) probp[x][y][d] = getlog(freqp[x][y][d]) - t;
    }
}

int calcpprobs(const int32_t freqs[NAA][NREG], const int32_t totals[NREG], double probs[NAA][NREG],
               int ProlineFreeWin)
{
    for (int r = 0; r < NREG; r++) {
        const int32_t t = totals[r];
        double raw[NAA];
        double mass = 0.0;
        for (int x = 0; x < NAA; x++) {
            if (ProlineFreeWin && x == PROLINE) {
                probs[x][r] = LOGZERO;
                continue;
            }
            const int32_t c = freqs[x][r];
            // A count under a total of 0 cannot be a share of it; such a
            // file is inconsistent and the entry is smoothed like a zero count.
            if (c != 0 && t != 0) {
                raw[x] = static_cast<double>(c) / static_cast<double>(t);
            } else {
                const double v = inverse_five_t(t);
                raw[x] = v < 0.05 ? v : 0.05;
            }
            mass += raw[x];
        }
        for (int x = 0; x < NAA; x++) {
            if (ProlineFreeWin && x == PROLINE) continue;
            probs[x][r] = getdlog(raw[x] / mass);
        }
    }
    return 1;
}

void calcpprobp(const int32_t freqp[NAA][NAA][NREG][NREG], const int32_t totalp[NREG][NREG],
                const double probs[NAA][NREG], double probp[NAA][NAA][NREG][NREG], int ProlineFreeWin)
{
    // exp() of the single probabilities once, not once per pair and register pair.
    double single[NAA][NREG];
    for (int x = 0; x < NAA; x++)
        for (int r = 0; r < NREG; r++) single[x][r] = std::exp(probs[x][r]);

    for (int p = 0; p < NREG; p++) {
        for (int q = 0; q < NREG; q++) {
            const int32_t t = totalp[p][q];
            const double inv5t = inverse_five_t(t);
            double raw[NAA][NAA];
            double mass = 0.0;
            for (int x = 0; x < NAA; x++) {
                for (int y = 0; y < NAA; y++) {
                    if (ProlineFreeWin && (x == PROLINE || y == PROLINE)) {
                        probp[x][y][p][q] = LOGZERO;
                        continue;
                    }
                    const int32_t c = freqp[x][y][p][q];
                    if (c != 0 && t != 0) {
                        raw[x][y] = static_cast<double>(c) / static_cast<double>(t);
                    } else {
                        double v = single[x][p] * single[y][q];
                        if (inv5t < v) v = inv5t;
                        if (0.0025 < v) v = 0.0025;
                        raw[x][y] = v;
                    }
                    mass += raw[x][y];
                }
            }
            for (int x = 0; x < NAA; x++) {
                for (int y = 0; y < NAA; y++) {
                    if (ProlineFreeWin && (x == PROLINE || y == PROLINE)) continue;
                    probp[x][y][p][q] = getdlog(raw[x][y] / mass);
                }
            }
        }
    }
}

// ---- 3. Building blocks -------------------------------------------------------

int getoffs(int32_t pos, int32_t offs) { return (pos + offs) % NREG; }

int subsequence_advance(int32_t *st, int32_t *en, const int8_t *seq, int32_t seqlen,
                        int32_t ProlineFreeWin)
{
    // Negative numbers never come from the alphabet, but they would index the
    // tables out of range, so they end a segment like any other non-residue.
    const int limit = ProlineFreeWin ? PROLINE : NAA;
    auto admissible = [&](int32_t i) { return seq[i] >= 0 && seq[i] < limit; };

    int32_t i = *en;
    while (i < seqlen && !admissible(i)) i++;
    if (i >= seqlen) return 0;
    const int32_t start = i;
    while (i < seqlen && admissible(i)) i++;
    *st = start;
    *en = i;
    return 1;
}

double lpropensity_term(int32_t x, int32_t y, int32_t xoffs, int32_t yoffs, int8_t dist,
                        const int8_t *seq)
{
    const int a = seq[x], b = seq[y];
    return (pprobp[a][b][xoffs][yoffs] - gprobp[a][b][dist]) - (pprobs[b][yoffs] - gprobs[b]);
}

// ---- 4. Pair scoring ------------------------------------------------------------

void get_respropl(double *respropl, const int8_t *seq, int32_t st, int32_t en, int32_t offs,
                  const int8_t *lib)
{
    int32_t maxfval = 0;
    for (int32_t f = 0; f < functnum; f++)
        if (lib[f] > maxfval) maxfval = lib[f];

    for (int32_t i = st; i < en; i++) respropl[i] = 0;

    // Body: every partner lies inside the segment.  Registers advance by one
    // per position instead of being recomputed with a remainder.
    const double fnum = functnum;
    const int32_t body_end = en - maxfval - 1;
    for (int32_t f = 0; f < functnum; f++) {
        const int8_t d = lib[f];
        int rx = getoffs(st, offs);
        int ry = getoffs(st + d + 1, offs);
        for (int32_t x = st; x < body_end; x++) {
            const int a = seq[x], b = seq[x + d + 1];
            const double term = (pprobp[a][b][rx][ry] - gprobp[a][b][d]) - (pprobs[b][ry] - gprobs[b]);
            respropl[x] += term / fnum;
            rx = next_reg(rx);
            ry = next_reg(ry);
        }
    }
    get_sc_en(respropl, seq, st, en, offs, lib, maxfval);
}

void get_sc_en(double *respropl, const int8_t *seq, int32_t st, int32_t en, int32_t offs,
               const int8_t *lib, int32_t maxfval)
{
    // A segment shorter than maxfval + 1 (never passed by the scorers) must
    // not reach to positions before its start.
    const int32_t from = std::max(st, en - maxfval - 1);
    for (int32_t i = from; i < en; i++) {
        int32_t counter = 0;
        for (int32_t f = 0; f < functnum; f++) {
            const int32_t y = i + lib[f] + 1;
            if (y < en) {
                counter++;
                respropl[i] += lpropensity_term(i, y, getoffs(i, offs), getoffs(y, offs), lib[f], seq);
            }
        }
        if (counter > 0) {
            respropl[i] /= counter;
        } else {
            const int a = seq[i];
            respropl[i] = pprobs[a][getoffs(i, offs)] - gprobs[a];
        }
    }
}

void get_winscores(double *winscores, const int8_t *seq, int32_t st, int32_t en, int32_t offs,
                   const int8_t *lib)
{
    get_respropl(respropl_work, seq, st, en, offs, lib);
    double s = 0;
    for (int32_t k = st; k <= st + WINDOW - 2; k++) s += respropl_work[k];
    for (int32_t i = st, j = st + WINDOW - 1; j < en; i++, j++) {
        s += respropl_work[j];
        winscores[i] = s;
        s -= respropl_work[i];
    }
}

namespace {
// Both sequence scorers start from "nothing scored".
void clear_scores(int32_t seqlen, double scores[][NREG], int8_t *offsets)
{
    for (int32_t i = 0; i < seqlen; i++) {
        for (int o = 0; o < NREG; o++) scores[i][o] = NEG_INF;
        offsets[i] = 0;
    }
}

// Maximum over the windows of one segment and register offset, into scores[.][o].
void take_window_maxima(double scores[][NREG], int32_t st, int32_t en, int o)
{
    max_over_windows(scorebuff + st, winscores_work + st, en - st, WINDOW);
    for (int32_t i = st; i < en; i++) scores[i][o] = scorebuff[i];
}

// Best register offset of every residue of [st, en), lowest on ties; raises *gmax.
void pick_offsets(double scores[][NREG], int8_t *offsets, int32_t st, int32_t en, double *gmax)
{
    for (int32_t i = st; i < en; i++) {
        double best = NEG_INF;
        for (int o = 0; o < NREG; o++) {
            if (scores[i][o] > best) {
                offsets[i] = static_cast<int8_t>(o);
                best = scores[i][o];
            }
        }
        if (best > *gmax) *gmax = best;
    }
}
}  // namespace

int scseqadj(const int8_t *lib, const int8_t *seq, int32_t seqlen, double scores[][NREG],
             int8_t *offsets, double *maxscore, int32_t ProlineFreeWin)
{
    if (seqlen < window_length) return 0;
    clear_scores(seqlen, scores, offsets);
    double gmax = NEG_INF;
    int32_t st = 0, en = 0;
    while (subsequence_advance(&st, &en, seq, seqlen, ProlineFreeWin)) {
        if (en - st < window_length) continue;
        const int32_t OLDWINDOW = WINDOW;
        if (en - st < WINDOW) WINDOW = en - st;  // a short segment is one window
        for (int o = 0; o < NREG; o++) {
            get_winscores(winscores_work, seq, st, en, o, lib);
            take_window_maxima(scores, st, en, o);
        }
        pick_offsets(scores, offsets, st, en, &gmax);
        WINDOW = OLDWINDOW;
    }
    *maxscore = gmax;
    return 1;
}

// ---- 5. Stock scoring --------------------------------------------------------------

namespace {
// Relative occurrence of each residue (rows in residue-number order) in the
// registers a..g of known coils.  Kept apart from the logarithms in
// `relative`, so that converting again (a second run in one process) gives
// the same table instead of logarithms of logarithms.
constexpr double relative_occurrence[NAA][NREG] = {
    {3.167, 0.297, 0.398, 3.902, 0.585, 0.501, 0.483},  // L
    {2.597, 0.098, 0.345, 0.894, 0.514, 0.471, 0.431},  // I
    {1.665, 0.403, 0.386, 0.949, 0.211, 0.342, 0.36},   // V
    {2.24, 0.307, 0.48, 1.409, 0.541, 0.772, 0.663},    // M
    {0.531, 0.076, 0.403, 0.662, 0.189, 0.106, 0.013},  // F
    {1.417, 0.09, 0.122, 1.659, 0.19, 0.13, 0.155},     // Y
    {0.045, 0.275, 0.578, 0.216, 0.211, 0.426, 0.156},  // G
    {1.297, 1.551, 1.084, 2.612, 0.377, 1.248, 0.877},  // A
    {1.375, 2.639, 1.763, 0.191, 1.815, 1.961, 2.795},  // K
    {0.659, 1.163, 1.21, 0.031, 1.358, 1.937, 1.798},   // R
    {0.347, 0.275, 0.679, 0.395, 0.294, 0.579, 0.213},  // H
    {0.262, 3.496, 3.108, 0.998, 5.685, 2.494, 3.048},  // E
    {0.03, 2.352, 2.268, 0.237, 0.663, 1.62, 1.448},    // D
    {0.179, 2.114, 1.778, 0.631, 2.55, 1.578, 2.526},   // Q
    {0.835, 1.475, 1.534, 0.039, 1.722, 2.456, 2.28},   // N
    {0.382, 0.583, 1.052, 0.419, 0.525, 0.916, 0.628},  // S
    {0.169, 0.702, 0.955, 0.654, 0.791, 0.843, 0.647},  // T
    {0.824, 0.022, 0.308, 0.152, 0.18, 0.156, 0.044},   // C
    {0.24, 0, 0, 0.456, 0.019, 0, 0},                   // W
    {0, 0.008, 0, 0.013, 0, 0, 0},                      // P
};
double relative[NAA][NREG];  // natural logarithms, set by initialize_relative
}  // namespace

void initialize_relative()
{
    for (int aa = 0; aa < NAA; aa++)
        for (int off = 0; off < NREG; off++) {
            const double r = relative_occurrence[aa][off];
            relative[aa][off] = r != 0 ? std::log(r) : LOGZERO;
        }
}

double relative_entry(int aa, int reg) { return relative[aa][reg]; }

void singles_windows(double *winscores, const int8_t *seq, int32_t st, int32_t en, int32_t offs)
{
    double s = 0;
    int r = getoffs(st, offs);
    for (int32_t k = st; k <= st + WINDOW - 2; k++) {
        s += relative[seq[k]][r];
        r = next_reg(r);
    }
    // r is now the register of j; ri follows i.
    int ri = getoffs(st, offs);
    for (int32_t i = st, j = st + WINDOW - 1; j < en; i++, j++) {
        s += relative[seq[j]][r];
        winscores[i] = s;
        s -= relative[seq[i]][ri];
        r = next_reg(r);
        ri = next_reg(ri);
    }
}

int scorestock(const int8_t *seq, int32_t seqlen, double scores[][NREG], int8_t *offsets,
               double *maxscore, int32_t ProlineFreeWin)
{
    if (seqlen < WINDOW) return 0;
    clear_scores(seqlen, scores, offsets);
    double gmax = NEG_INF;
    int32_t st = 0, en = 0;
    while (subsequence_advance(&st, &en, seq, seqlen, ProlineFreeWin)) {
        if (en - st < WINDOW) continue;
        for (int o = 0; o < NREG; o++) {
            singles_windows(winscores_work, seq, st, en, o);
            take_window_maxima(scores, st, en, o);
        }
        pick_offsets(scores, offsets, st, en, &gmax);
    }
    *maxscore = gmax;
    return 1;
}

// ---- 6. Sequence p-score ---------------------------------------------------------------

namespace {
// Calibration of sequence scores: the cumulative count c of calibration
// sequences scoring below each grid point -63.9, -63.8, ..., 17.3, out of N.
// Only the rows that fix the shape are stored; the others are filled by
// linear interpolation between the nearest stored rows (halves rounded up).
struct Anchor {
    int32_t row, c28, c21;
};
constexpr Anchor anchors[] = {
    {0, 0, 0},         {1, 0, 1},         {90, 0, 2},        {91, 1, 3},
    {239, 22, 27},     {339, 64, 77},     {439, 205, 233},   {539, 799, 844},
    {589, 1948, 2000}, {616, 3077, 3131}, {617, 3127, 3181}, {639, 4184, 4247},
    {689, 5842, 5925}, {739, 6206, 6295}, {789, 6239, 6328}, {804, 6241, 6330},
    {805, 6242, 6331}, {812, 6242, 6331},
};
constexpr int32_t N28 = 6242, N21 = 6331;

struct PscoreTable {
    double score[n_pscores];
    double pscore[n_pscores];
};

// p-score = c / N as a six-decimal number, read back as the nearest double.
double six_decimals(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    return std::strtod(buf, nullptr);
}

PscoreTable build_pscore_table(bool for21)
{
    PscoreTable t{};
    const int32_t N = for21 ? N21 : N28;
    constexpr int nanchors = sizeof anchors / sizeof anchors[0];
    for (int a = 0; a + 1 < nanchors; a++) {
        const int32_t k0 = anchors[a].row, k1 = anchors[a + 1].row;
        const int32_t c0 = for21 ? anchors[a].c21 : anchors[a].c28;
        const int32_t c1 = for21 ? anchors[a + 1].c21 : anchors[a + 1].c28;
        for (int32_t k = k0; k <= k1; k++) {
            const int32_t c = c0 + ((c1 - c0) * (k - k0) * 2 + (k1 - k0)) / (2 * (k1 - k0));
            // Integer over 10.0 is correctly rounded: the double nearest k/10.
            t.score[k] = (k - 639) / 10.0;
            t.pscore[k] = six_decimals(static_cast<double>(c) / N);
        }
    }
    return t;
}

const PscoreTable &pscore_table()
{
    static const PscoreTable table28 = build_pscore_table(false);
    static const PscoreTable table21 = build_pscore_table(true);
    return window_length == 21 ? table21 : table28;
}
}  // namespace

double seq_scr2pscr(double seq_score)
{
    const PscoreTable &t = pscore_table();
    // The grid rises strictly, so the first row above the score is found by
    // bisection; no row lies above a NaN score, which gets 1.0 like the top.
    const double *row = std::upper_bound(t.score, t.score + n_pscores, seq_score);
    return row == t.score + n_pscores ? 1.0 : t.pscore[row - t.score];
}

double pscore_table_entry(int32_t row, int col)
{
    const PscoreTable &t = pscore_table();
    return col == 0 ? t.score[row] : t.pscore[row];
}

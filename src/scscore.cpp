// scscore: probability tables, the pair and stock scorers.
// Contents: see scscore.h.
//
// Scores must be reproducible to the last printed digit, so every sum is
// formed in the order the method defines (each pair term divided by functnum
// before it is added, the classes in their order; window sums as running
// sums) and no operation is regrouped, even where that would be faster.  The
// pair terms are looked up in a table of the very doubles the formula gives.
#include "scscore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "dyn.h"

namespace {
constexpr double NEG_INF = -std::numeric_limits<double>::infinity();
constexpr int TERM_LANES = 16;                        // registers 0..6 twice, and a pad
typedef double v2d __attribute__((vector_size(16)));  // two lanes, exact per lane

inline v2d load2(const double *p)
{
    v2d v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store2(double *p, v2d v) { std::memcpy(p, &v, sizeof v); }

// 1 / (5 t) with 5 t formed as an integer product; a wide product keeps
// totals above INT32_MAX / 5 from overflowing.  t = 0 gives +inf.
inline double inverse_five_t(int32_t t) { return 1.0 / static_cast<double>(int64_t{5} * t); }
}  // namespace

// ---- 1. The model -------------------------------------------------------------

double getlog(int32_t num) { return num == 0 ? LOGZERO : std::log(static_cast<double>(num)); }

double getdlog(double num) { return num == 0.0 ? LOGZERO : std::log(num); }

int calcgprobs(const int32_t freqs[NAA], int32_t totals, double probs[NAA])
{
    for (int x = 0; x < NAA; x++) probs[x] = getlog(freqs[x]) - getlog(totals);
    return 1;
}

void calcgprobp(const int32_t freqp[NAA][NAA][NREG], const int32_t totalp[NREG], double probp[NAA][NAA][NREG])
{
    for (int d = 0; d < NREG; d++) {
        const double t = getlog(totalp[d]);
        for (int x = 0; x < NAA; x++)
            for (int y = 0; y < NAA; y++) probp[x][y][d] = getlog(freqp[x][y][d]) - t;
    }
}

int calcpprobs(const int32_t freqs[NAA][NREG], const int32_t totals[NREG], double probs[NAA][NREG], int ProlineFreeWin)
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

// ---- 2. The pair model ----------------------------------------------------------

namespace {
void build_pair_terms(PairModel &m)
{
    const double fnum = m.functnum;
    m.terms.assign(size_t(m.functnum) * NAA * NAA * TERM_LANES, 0.0);
    m.raw_terms.assign(m.terms.size(), 0.0);
    for (int32_t f = 0; f < m.functnum; f++) {
        const int8_t d = m.lib[f];
        for (int a = 0; a < NAA; a++)
            for (int b = 0; b < NAA; b++) {
                const size_t at = ((size_t(f) * NAA + a) * NAA + b) * TERM_LANES;
                for (int k = 0; k < TERM_LANES; k++) {
                    const int rx = k % NREG, ry = (rx + d + 1) % NREG;
                    const ProbTables &p = m.probs;
                    const double term = (p.pprobp[a][b][rx][ry] - p.gprobp[a][b][d]) - (p.pprobs[b][ry] - p.gprobs[b]);
                    m.raw_terms[at + k] = term;
                    m.terms[at + k] = term / fnum;
                }
            }
    }
}
}  // namespace

void build_pos_probs(PairModel &m, const PosFreq &p, int ProlineFreeWin)
{
    calcpprobs(p.freqs, p.totals, m.probs.pprobs, ProlineFreeWin);
    calcpprobp(p.freqp, p.totalp, m.probs.pprobs, m.probs.pprobp, ProlineFreeWin);
    build_pair_terms(m);
}

void build_pair_model(PairModel &m, const GenFreq &g, const PosFreq *pos, const RunSettings &s)
{
    m.functnum = s.functnum;
    m.maxfval = 0;
    for (int32_t f = 0; f < s.functnum; f++) {
        m.lib[f] = s.lib[f];
        if (s.lib[f] > m.maxfval) m.maxfval = s.lib[f];
    }
    calcgprobs(g.freqs, g.totals, m.probs.gprobs);
    calcgprobp(g.freqp, g.totalp, m.probs.gprobp);
    if (pos) build_pos_probs(m, *pos, s.mode & MODE_PROLINEFREE);
}

// ---- 3. Workspace -------------------------------------------------------------------

void Workspace::reserve(int32_t n)
{
    if (n <= capacity) return;
    const int32_t c = std::max(n, capacity + capacity / 2);
    for (auto *a : {&prop, &win, &maxima, &prev, &block}) a->reset(new double[size_t(c)][LANES]);
    capacity = c;
}

// ---- 4. Building blocks -------------------------------------------------------

int getoffs(int32_t pos, int32_t offs) { return (pos + offs) % NREG; }

int subsequence_advance(int32_t *st, int32_t *en, const int8_t *seq, int32_t seqlen, int32_t ProlineFreeWin)
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

double lpropensity_term(const ProbTables &t, int32_t x, int32_t y, int32_t xoffs, int32_t yoffs, int8_t dist,
                        const int8_t *seq)
{
    const int a = seq[x], b = seq[y];
    return (t.pprobp[a][b][xoffs][yoffs] - t.gprobp[a][b][dist]) - (t.pprobs[b][yoffs] - t.gprobs[b]);
}

// ---- 5. Pair scoring ------------------------------------------------------------

void get_respropl(double (*prop)[LANES], const PairModel &m, const int8_t *seq, int32_t st, int32_t en)
{
    // Body: every partner lies inside the segment.  Lane o of position x is
    // register (x + o) mod 7, so the eight lanes are read from the term row
    // at x mod 7 on.  Two lanes per vector, four vectors per row: each lane
    // is still 0 + t0 + t1 + ... in the order of the classes.
    const int32_t body_end = en - m.maxfval - 1;
    const double *base[NREG];
    int32_t partner[NREG];
    for (int32_t f = 0; f < m.functnum; f++) {
        base[f] = m.terms.data() + size_t(f) * NAA * NAA * TERM_LANES;
        partner[f] = m.lib[f] + 1;
    }
    int k = getoffs(st, 0);
    for (int32_t x = st; x < body_end; x++) {
        v2d a0 = {}, a1 = {}, a2 = {}, a3 = {};
        const size_t left = size_t(seq[x]) * NAA;
        for (int32_t f = 0; f < m.functnum; f++) {
            const double *t = base[f] + (left + size_t(seq[x + partner[f]])) * TERM_LANES + k;
            a0 += load2(t);
            a1 += load2(t + 2);
            a2 += load2(t + 4);
            a3 += load2(t + 6);
        }
        a3[1] = 0;
        store2(prop[x], a0);
        store2(prop[x] + 2, a1);
        store2(prop[x] + 4, a2);
        store2(prop[x] + 6, a3);
        k = k == NREG - 1 ? 0 : k + 1;
    }
    get_sc_en(prop, m, seq, st, en);
}

void get_sc_en(double (*prop)[LANES], const PairModel &m, const int8_t *seq, int32_t st, int32_t en)
{
    // A segment shorter than maxfval + 1 (never passed by the scorers) must
    // not reach to positions before its start.
    const int32_t from = std::max(st, en - m.maxfval - 1);
    for (int32_t i = from; i < en; i++) {
        const int k = getoffs(i, 0);
        const int a = seq[i];
        v2d acc[LANES / 2] = {};
        int32_t counter = 0;
        for (int32_t f = 0; f < m.functnum; f++) {
            const int32_t y = i + m.lib[f] + 1;
            if (y >= en) continue;
            counter++;
            const double *t = &m.raw_terms[((size_t(f) * NAA + a) * NAA + seq[y]) * TERM_LANES + k];
            for (int h = 0; h < LANES / 2; h++) {
                v2d v;
                std::memcpy(&v, t + 2 * h, sizeof v);
                acc[h] += v;
            }
        }
        double *row = prop[i];
        if (counter > 0) {
            for (int h = 0; h < LANES / 2; h++) acc[h] /= double(counter);
            std::memcpy(row, acc, sizeof acc);
        } else {  // no partner inside the segment: the residue's own log-odds
            for (int o = 0; o < NREG; o++) row[o] = m.probs.pprobs[a][getoffs(i, o)] - m.probs.gprobs[a];
        }
        row[LANES - 1] = 0;
    }
}

void get_winscores(double (*__restrict win)[LANES], const double (*__restrict prop)[LANES], int32_t st, int32_t en,
                   int32_t window)
{
    double s[LANES] = {};
    for (int32_t k = st; k <= st + window - 2; k++)
        for (int o = 0; o < LANES; o++) s[o] += prop[k][o];
    for (int32_t i = st, j = st + window - 1; j < en; i++, j++) {
        for (int o = 0; o < LANES; o++) {
            s[o] += prop[j][o];
            win[i][o] = s[o];
            s[o] -= prop[i][o];
        }
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

// The maxima over the windows of one segment, in every register offset, into
// scores; then the best register offset of every residue, lowest on ties,
// raising *gmax.
void take_maxima(Workspace &w, double scores[][NREG], int8_t *offsets, int32_t st, int32_t en, int32_t window,
                 double *gmax)
{
    max_over_windows<LANES>(w.maxima.get(), w.win.get() + st, en - st, window, w.prev.get(), w.block.get());
    double g = *gmax;
    for (int32_t i = st; i < en; i++) {
        const double *mx = w.maxima[i - st];
        std::memcpy(scores[i], mx, sizeof scores[i]);
        double best = NEG_INF;
        int off = 0;
        for (int o = 0; o < NREG; o++) {  // strictly greater: the lowest offset wins a tie
            const bool up = mx[o] > best;
            off = up ? o : off;
            best = up ? mx[o] : best;
        }
        offsets[i] = static_cast<int8_t>(off);
        g = best > g ? best : g;
    }
    *gmax = g;
}
}  // namespace

int scseqadj(const PairModel &m, const RunSettings &s, Workspace &w, const int8_t *seq, int32_t seqlen,
             double scores[][NREG], int8_t *offsets, double *maxscore)
{
    if (seqlen < s.window_length) return 0;
    w.reserve(seqlen);
    clear_scores(seqlen, scores, offsets);
    double gmax = NEG_INF;
    int32_t st = 0, en = 0;
    while (subsequence_advance(&st, &en, seq, seqlen, s.mode & MODE_PROLINEFREE)) {
        if (en - st < s.window_length) continue;
        const int32_t window = std::min(en - st, PAIR_WINDOW);  // a short segment is one window
        get_respropl(w.prop.get(), m, seq, st, en);
        get_winscores(w.win.get(), w.prop.get(), st, en, window);
        take_maxima(w, scores, offsets, st, en, window, &gmax);
    }
    *maxscore = gmax;
    return 1;
}

// ---- 6. Stock scoring --------------------------------------------------------------

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

void singles_windows(double (*win)[LANES], double (*prop)[LANES], const int8_t *seq, int32_t st, int32_t en,
                     int32_t window)
{
    for (int32_t x = st; x < en; x++) {
        for (int o = 0; o < NREG; o++) prop[x][o] = relative[seq[x]][getoffs(x, o)];
        prop[x][LANES - 1] = 0;
    }
    get_winscores(win, prop, st, en, window);
}

int scorestock(const RunSettings &s, Workspace &w, const int8_t *seq, int32_t seqlen, double scores[][NREG],
               int8_t *offsets, double *maxscore)
{
    if (seqlen < STOCK_WINDOW) return 0;
    w.reserve(seqlen);
    clear_scores(seqlen, scores, offsets);
    double gmax = NEG_INF;
    int32_t st = 0, en = 0;
    while (subsequence_advance(&st, &en, seq, seqlen, s.mode & MODE_PROLINEFREE)) {
        if (en - st < STOCK_WINDOW) continue;
        singles_windows(w.win.get(), w.prop.get(), seq, st, en, STOCK_WINDOW);
        take_maxima(w, scores, offsets, st, en, STOCK_WINDOW, &gmax);
    }
    *maxscore = gmax;
    return 1;
}

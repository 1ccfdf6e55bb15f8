// pair_scoring: the pair-correlation scorer.
//
// For every scoring segment and register offset: the mean pair term of
// each residue with its right-hand partners (its propensity), the sums of
// the propensities over windows of PAIR_WINDOW residues, and for every
// residue the best window that holds it.  Every sum is formed in the order
// the method defines (each term divided by the class count before it is
// added, the classes in their order; window sums as running sums), so the
// scores are reproducible to the last printed digit.
#include <algorithm>
#include <cstring>

#include "scoring.h"

namespace velcorin2 {

namespace {
typedef double v2d __attribute__((vector_size(16)));  // two lanes, exact per lane

inline v2d load2(const double *p)
{
    v2d v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store2(double *p, v2d v) { std::memcpy(p, &v, sizeof v); }
}  // namespace

void Workspace::reserve(int32_t n)
{
    if (n <= capacity) return;
    const int32_t c = std::max(n, capacity + capacity / 2);
    // The old rows go first, so that growing never holds both at once.
    for (auto *a : {&prop, &win, &prev}) {
        a->reset();
        a->reset(new double[size_t(c)][LANES]);
    }
    if (!block) block.reset(new double[size_t(std::max(PAIR_WINDOW, STOCK_WINDOW))][LANES]);
    capacity = c;
}

bool next_segment(int32_t *st, int32_t *en, const int8_t *seq, int32_t seqlen, bool prolines_end_segments)
{
    // Negative numbers never come from the alphabet, but they would index the
    // tables out of range, so they end a segment like any other non-residue.
    const int limit = prolines_end_segments ? PROLINE : NAA;
    auto admissible = [&](int32_t i) { return seq[i] >= 0 && seq[i] < limit; };

    int32_t i = *en;
    while (i < seqlen && !admissible(i)) i++;
    if (i >= seqlen) return false;
    const int32_t start = i;
    while (i < seqlen && admissible(i)) i++;
    *st = start;
    *en = i;
    return true;
}

double pair_term(const ProbTables &t, int32_t x, int32_t y, int32_t xreg, int32_t yreg, int8_t dist, const int8_t *seq)
{
    const int a = seq[x], b = seq[y];
    return (t.coil_pair[a][b][xreg][yreg] - t.bg_pair[a][b][dist]) - (t.coil_residue[b][yreg] - t.bg_residue[b]);
}

void pair_propensities(double (*prop)[LANES], const Model &m, const int8_t *seq, int32_t st, int32_t en)
{
    // Body: every partner lies inside the segment.  Lane o of position x is
    // register (x + o) mod 7, so the eight lanes are read from the term row
    // at x mod 7 on.  Two lanes per vector, four vectors per row: each lane
    // is still 0 + t0 + t1 + ... in the order of the classes.
    const int32_t body_end = en - m.farthest - 1;
    const double *base[NREG];
    int32_t partner[NREG];
    for (int32_t f = 0; f < m.distance_count; f++) {
        base[f] = m.terms.data() + size_t(f) * NAA * NAA * TERM_LANES;
        partner[f] = m.distances[f] + 1;
    }
    int k = register_at(st, 0);
    for (int32_t x = st; x < body_end; x++) {
        v2d a0 = {}, a1 = {}, a2 = {}, a3 = {};
        const size_t left = size_t(seq[x]) * NAA;
        for (int32_t f = 0; f < m.distance_count; f++) {
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
    segment_end_propensities(prop, m, seq, st, en);
}

void segment_end_propensities(double (*prop)[LANES], const Model &m, const int8_t *seq, int32_t st, int32_t en)
{
    // A segment shorter than farthest + 1 (never passed by the scorers) must
    // not reach to positions before its start.
    const int32_t from = std::max(st, en - m.farthest - 1);
    for (int32_t i = from; i < en; i++) {
        const int k = register_at(i, 0);
        const int a = seq[i];
        v2d acc[LANES / 2] = {};
        int32_t counter = 0;
        for (int32_t f = 0; f < m.distance_count; f++) {
            const int32_t y = i + m.distances[f] + 1;
            if (y >= en) continue;
            counter++;
            const double *t = &m.raw_terms[((size_t(f) * NAA + a) * NAA + seq[y]) * TERM_LANES + k];
            for (int h = 0; h < LANES / 2; h++) acc[h] += load2(t + 2 * h);
        }
        double *row = prop[i];
        if (counter > 0) {
            for (int h = 0; h < LANES / 2; h++) acc[h] /= double(counter);
            std::memcpy(row, acc, sizeof acc);
        } else {  // no partner inside the segment: the residue's own log-odds
            for (int o = 0; o < NREG; o++) row[o] = m.probs.coil_residue[a][register_at(i, o)] - m.probs.bg_residue[a];
        }
        row[LANES - 1] = 0;
    }
}

void window_sums(double (*__restrict win)[LANES], const double (*__restrict prop)[LANES], int32_t st, int32_t en,
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

// take_maxima: the maxima over the windows of one segment in every register
// offset; then each residue's best offset (the lowest on ties) and its
// score, raising *gmax.  Shared by both scorers.
void take_maxima(Workspace &w, double *best, int8_t *offset, int32_t st, int32_t en, int32_t window, double *gmax)
{
    // The propensities of the segment are summed up in the windows: their
    // rows take the maxima.
    double(*maxima)[LANES] = w.prop.get() + st;
    max_over_windows<LANES>(maxima, w.win.get() + st, en - st, window, w.prev.get(), w.block.get());
    double g = *gmax;
    for (int32_t i = st; i < en; i++) {
        const double *mx = maxima[i - st];
        double top = NOT_SCORED;
        int off = 0;
        for (int o = 0; o < NREG; o++) {  // strictly greater: the lowest offset wins a tie
            const bool up = mx[o] > top;
            off = up ? o : off;
            top = up ? mx[o] : top;
        }
        offset[i] = static_cast<int8_t>(off);
        best[i] = mx[off];  // not `top`: where no lane rose it is lane 0 as it stands, NaN included
        g = top > g ? top : g;
    }
    *gmax = g;
}

// clear_scores: both sequence scorers start from "nothing scored".
void clear_scores(int32_t seqlen, double *best, int8_t *offset)
{
    std::fill(best, best + seqlen, NOT_SCORED);
    std::fill(offset, offset + seqlen, int8_t(0));
}

void score_pairs(const Model &m, Workspace &w, const int8_t *seq, int32_t seqlen, double *best, int8_t *offset,
                 double *max)
{
    w.reserve(seqlen);
    clear_scores(seqlen, best, offset);
    double gmax = NOT_SCORED;
    int32_t st = 0, en = 0;
    while (next_segment(&st, &en, seq, seqlen, m.prolines_end_segments)) {
        if (en - st < m.shortest_segment) continue;
        const int32_t window = std::min(en - st, PAIR_WINDOW);  // a short segment is one window
        pair_propensities(w.prop.get(), m, seq, st, en);
        window_sums(w.win.get(), w.prop.get(), st, en, window);
        take_maxima(w, best, offset, st, en, window, &gmax);
    }
    *max = gmax;
}

}  // namespace velcorin2

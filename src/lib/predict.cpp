// predict: one sequence scored into a Prediction, and the regions of a
// prediction.
#include <algorithm>

#include "pscore_grid.h"
#include "scoring.h"
#include "velcorin2/velcorin2.h"

namespace velcorin2 {

namespace {

template <class T> void fit(std::vector<T> &v, int32_t n)
{
    if (v.size() < size_t(n)) v.resize(size_t(n));
}

// stretch_maximum: the best score over the stretches of known registers
// at least `shortest` long; NOT_SCORED when there is none.
double stretch_maximum(const double *score, const Sequence &seq, int32_t shortest)
{
    int32_t start = 0, end = 0;
    double best = NOT_SCORED;
    while (next_known_stretch(&start, &end, seq)) {
        if (end - start < shortest) continue;
        for (int32_t i = start; i < end; i++)
            if (score[i] > best) best = score[i];
    }
    return best;
}

}  // namespace

bool next_known_stretch(int32_t *st, int32_t *en, const Sequence &seq)
{
    const int8_t *res = seq.residues.data(), *reg = seq.registers.data();
    int32_t start = *en;
    while (start < seq.length && (reg[start] == NOREG || res[start] > 19)) start++;
    int32_t end = start;
    while (end < seq.length && reg[end] != NOREG && res[end] <= 19) end++;
    if (start >= seq.length) return false;
    *st = start;
    *en = end;
    return true;
}

void predict(const Model &m, const Sequence &seq, const PredictOptions &opt, Workspace &w, Prediction &p)
{
    const int32_t n = seq.length;
    p.length = n;
    p.scored = n >= m.shortest_segment;
    if (!p.scored) return;
    fit(p.score, n);
    fit(p.offset, n);
    const int8_t *res = seq.residues.data();
    double max = NOT_SCORED;
    if (opt.stock) {
        fit(p.stock_score, n);
        fit(w.stock_offset, n);
        // Too short for the stock windows: no stock curve, never an earlier record's.
        if (!score_stock(m, w, res, n, p.stock_score.data(), w.stock_offset.data(), &max))
            std::fill(p.stock_score.begin(), p.stock_score.begin() + n, NOT_SCORED);
    }
    score_pairs(m, w, res, n, p.score.data(), p.offset.data(), &max);
    p.best_score = max;
    p.sequence_score = opt.known_registers ? stretch_maximum(p.score.data(), seq, m.shortest_segment) : max;
}

void residue_pscores(const Model &m, const Prediction &p, std::vector<double> &out)
{
    out.resize(size_t(p.length));
    for (int32_t i = 0; i < p.length; i++)
        out[size_t(i)] = p.scored ? residue_pscore(m.pscores, p.score[size_t(i)]) : 1.0;
}

void find_regions(const Model &m, const Prediction &p, double pscore, int32_t min_length, std::vector<Region> &out)
{
    out.clear();
    if (!p.scored) return;
    // A residue's p-score falls row by row as its score climbs the grid, so
    // "p-score below the threshold" is "score at least the grid score of the
    // first row whose p-score is below it": found once, by bisection over
    // the p-scores exactly as residue_pscore computes them.
    const PscoreTables &t = m.pscores;
    auto pscore_of = [&t](int k) { return 1.0 - (k == 0 ? 0.0 : t.residue[k - 1][1]); };
    int lo = 0, hi = RESIDUE_LOOKUP_ROWS + 1;  // rows reached: 0..RESIDUE_LOOKUP_ROWS, or none
    while (lo < hi) {
        const int mid = (lo + hi) >> 1;
        if (pscore_of(mid) < pscore)
            hi = mid;
        else
            lo = mid + 1;
    }
    if (lo > RESIDUE_LOOKUP_ROWS) return;  // no score gets below the threshold
    const double floor = lo == 0 ? -HUGE_VAL : residue_grid_score(lo - 1);
    const double *sc = p.score.data();
    int32_t i = 0;
    while (i < p.length) {
        // ">= floor" is false for NaN, which no model gives: it ends a region.
        while (i < p.length && !(sc[i] >= floor)) i++;
        if (i == p.length) break;
        Region r;
        r.from = i;
        r.best = sc[i];
        for (i++; i < p.length && sc[i] >= floor; i++)
            if (sc[i] > r.best) r.best = sc[i];
        r.to = i - 1;
        if (r.to - r.from + 1 >= min_length) out.push_back(r);
    }
}

}  // namespace velcorin2

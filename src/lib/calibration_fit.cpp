// calibration_fit: a model's p-score tables fitted to the scores it gives
// a background.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "pscore_grid.h"
#include "scoring.h"
#include "velcorin2/counting.h"
#include "velcorin2/io.h"

namespace velcorin2 {

namespace {
constexpr int64_t MIN_SCORES = 1000;    // fewer finite residue scores: no fit
constexpr int64_t TAIL_DIVISOR = 1000;  // each tail starts at the 0.1 % most extreme scores ...
constexpr int64_t MIN_TAIL = 100;       // ... and holds at least this many
constexpr double MIN_SCALE = 0.01;      // a tail scale below this comes only from degenerate data
}  // namespace

bool fit_residue_table(const std::vector<double> &x, CalResidueTable &t, std::string *why)
{
    constexpr int R = RESIDUE_ROWS;
    const int64_t n = int64_t(x.size());
    if (n < MIN_SCORES) {
        *why = std::to_string(n) + " finite residue scores; at least " + std::to_string(MIN_SCORES) + " are needed";
        return false;
    }
    // B[i]: scores below grid i.  A score equal to a grid score reaches that
    // row, as the lookup (last row not above the score) has it.
    std::vector<int64_t> B(R);
    for (int i = 0; i < R; i++) B[i] = std::lower_bound(x.begin(), x.end(), residue_grid_score(i)) - x.begin();
    const int64_t k = std::max((n + TAIL_DIVISOR - 1) / TAIL_DIVISOR, MIN_TAIL);
    int iu = -1, il = -1;  // the last row reached by k scores, the first with k below it
    for (int i = R - 1; i >= 0 && iu < 0; i--)
        if (n - B[i] >= k) iu = i;
    for (int i = 0; i < R && il < 0; i++)
        if (B[i] >= k) il = i;
    if (iu < 0 || il < 0 || il >= iu) {
        *why = "the scores are too concentrated (or too far outside -40 to 30) to leave " + std::to_string(k) +
               " of them beyond each tail point";
        return false;
    }
    const double u = residue_grid_score(iu), l = residue_grid_score(il);
    const int64_t Cu = n - B[iu], L = B[il];
    // Tail scales: the mean excess beyond the point (the exponential's
    // maximum-likelihood scale), summed in ascending order of the scores.
    double su = 0.0, sl = 0.0;
    for (int64_t j = B[iu]; j < n; j++) su += x[size_t(j)] - u;
    for (int64_t j = 0; j < L; j++) sl += l - x[size_t(j)];
    su = su / double(Cu);
    sl = sl / double(L);
    if (su < MIN_SCALE) su = MIN_SCALE;
    if (sl < MIN_SCALE) sl = MIN_SCALE;

    const double nd = double(n), al = double(L) / nd, au = double(Cu) / nd;
    int64_t *q = t.q;
    for (int i = 0; i < R; i++) {
        const double g = residue_grid_score(i);
        if (i < il)
            q[i] = std::llround(al * std::exp((g - l) / sl) * 1e12);
        else if (i <= iu)
            q[i] = std::llround(double(B[i]) / nd * 1e12);
        else
            q[i] = CAL_UNIT - std::llround(au * std::exp(-((g - u) / su)) * 1e12);
    }
    // A run of empty 0.01 cells in the body would give rows of equal
    // probability: the next rise is spread over the run instead.
    for (int i = il + 1; i <= iu;) {
        if (q[i] != q[i - 1]) {
            i++;
            continue;
        }
        const int a = i - 1;
        int b = i;
        while (b + 1 <= iu && q[b + 1] == q[a]) b++;
        const int64_t d = b + 1 < R ? q[b + 1] - q[a] : 0;
        if (d > 0)
            for (int j = a + 1; j <= b; j++) q[j] = q[a] + d * (j - a) / (b + 1 - a);
        i = b + 1;
    }
    // Inside (0, 1) with room for one unit per row on either side, then
    // strictly rising: every score has a p-score above 0 and below 1, and
    // no two rows share a probability (the reverse lookup needs that).
    for (int i = 0; i < R; i++) q[i] = std::min(std::max(q[i], int64_t(i) + 1), CAL_UNIT - R + i);
    for (int i = 1; i < R; i++)
        if (q[i] <= q[i - 1]) q[i] = q[i - 1] + 1;

    t.scores = n;
    t.lower = l;
    t.lower_scale = sl;
    t.upper = u;
    t.upper_scale = su;
    return true;
}

bool fit_sequence_table(const std::vector<double> &y, CalSequenceTable &t, std::string *why)
{
    if (y.empty() || y.size() > size_t(INT32_MAX)) {
        *why = y.empty() ? "no sequence has a score" : "too many sequences";
        return false;
    }
    t.scored = int32_t(y.size());
    // A score equal to a grid score is above every score that uses its row
    // (the lookup takes the first row above the score), so it is not below it.
    for (int k = 0; k < SEQUENCE_ROWS; k++)
        t.c[k] = int32_t(std::lower_bound(y.begin(), y.end(), sequence_grid_score(k)) - y.begin());
    return true;
}

int64_t score_background(FILE *fl, const Model &m, int32_t max_length, BackgroundScores &bg,
                         void (*warn)(const std::string &))
{
    // One model per shortest segment: the segments each scores differ.
    Model models[2] = {m, m};
    Sequence rec;
    Workspace ws;
    Prediction p;
    int64_t n = 0, line = 1;
    for (int w = 0; w < 2; w++) models[w].shortest_segment = SHORTEST_SEGMENTS[w];
    while (read_fasta_record(fl, rec, max_length, &line)) {
        if (warn && !rec.warnings.empty()) warn(rec.warnings);
        n++;
        bg.chains++;
        bg.length += rec.length;
        for (int w = 0; w < 2; w++) {
            predict(models[w], rec, PredictOptions{}, ws, p);
            if (!p.scored) continue;
            for (int32_t i = 0; i < rec.length; i++) {
                const double v = p.score[size_t(i)];
                if (std::isfinite(v)) bg.residues[w].push_back(v);
            }
            if (std::isfinite(p.sequence_score)) bg.sequences[w].push_back(p.sequence_score);
        }
    }
    check_read_error(fl);
    return n;
}

bool calibrate(const Model &m, BackgroundScores &bg, const std::string &source, Calibration &c, std::string *why)
{
    c.distance_count = m.distance_count;
    std::copy(m.distances, m.distances + NREG, c.distances);
    c.prolines_end_segments = m.prolines_end_segments;
    c.model = m.fingerprint;
    c.source = source;
    c.chains = bg.chains;
    c.residues = bg.length;
    for (int w = 0; w < 2; w++) {
        std::vector<double> &x = bg.residues[w], &y = bg.sequences[w];
        std::sort(x.begin(), x.end());
        std::sort(y.begin(), y.end());
        if (!fit_residue_table(x, c.residue[w], why) || !fit_sequence_table(y, c.sequence[w], why)) {
            *why = "window length " + std::to_string(SHORTEST_SEGMENTS[w]) + ": " + *why;
            return false;
        }
    }
    return true;
}

}  // namespace velcorin2

// model: a model from its counts and settings: the probability tables, the
// pair terms the scorer looks up, and the p-score tables.
//
// Scores must be reproducible to the last printed digit, so every table is
// formed in the order the method defines and no operation is regrouped.
#include "model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "errors.h"
#include "scoring.h"
#include "velcorin2/io.h"

namespace velcorin2 {

namespace {
// 1 / (5 t) with 5 t formed as an integer product; a wide product keeps
// totals above INT32_MAX / 5 from overflowing.  t = 0 gives +inf.
inline double inverse_five_t(int32_t t) { return 1.0 / static_cast<double>(int64_t{5} * t); }
}  // namespace

// ---- 1. Probability tables ------------------------------------------------------------

double log_count(int32_t num) { return num == 0 ? LOGZERO : std::log(static_cast<double>(num)); }

double log_or_zero(double num) { return num == 0.0 ? LOGZERO : std::log(num); }

void background_residue_logs(const int32_t freqs[NAA], int32_t totals, double probs[NAA])
{
    for (int x = 0; x < NAA; x++) probs[x] = log_count(freqs[x]) - log_count(totals);
}

void background_pair_logs(const int32_t freqp[NAA][NAA][NREG], const int32_t totalp[NREG], double probp[NAA][NAA][NREG])
{
    for (int d = 0; d < NREG; d++) {
        const double t = log_count(totalp[d]);
        for (int x = 0; x < NAA; x++)
            for (int y = 0; y < NAA; y++) probp[x][y][d] = log_count(freqp[x][y][d]) - t;
    }
}

void coil_residue_logs(const int32_t freqs[NAA][NREG], const int32_t totals[NREG], double probs[NAA][NREG],
                       bool prolines_end_segments)
{
    for (int r = 0; r < NREG; r++) {
        const int32_t t = totals[r];
        double raw[NAA];
        double mass = 0.0;
        for (int x = 0; x < NAA; x++) {
            if (prolines_end_segments && x == PROLINE) {
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
            if (prolines_end_segments && x == PROLINE) continue;
            probs[x][r] = log_or_zero(raw[x] / mass);
        }
    }
}

void coil_pair_logs(const int32_t freqp[NAA][NAA][NREG][NREG], const int32_t totalp[NREG][NREG],
                    const double probs[NAA][NREG], double probp[NAA][NAA][NREG][NREG], bool prolines_end_segments)
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
                    if (prolines_end_segments && (x == PROLINE || y == PROLINE)) {
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
                    if (prolines_end_segments && (x == PROLINE || y == PROLINE)) continue;
                    probp[x][y][p][q] = log_or_zero(raw[x][y] / mass);
                }
            }
        }
    }
}

// ---- 2. The model ---------------------------------------------------------------------------

namespace {

// The pair term of residues a, b at class d with the left residue in
// register rx: the pair's log-odds in its two registers against the same
// pair at that distance in the background, less the single-residue log-odds
// of the right-hand residue; the differences formed first.
void build_pair_terms(Model &m)
{
    const double fnum = m.distance_count;
    m.terms.assign(size_t(m.distance_count) * NAA * NAA * TERM_LANES, 0.0);
    m.raw_terms.assign(m.terms.size(), 0.0);
    const ProbTables &p = m.probs;
    for (int32_t f = 0; f < m.distance_count; f++) {
        const int8_t d = m.distances[f];
        for (int a = 0; a < NAA; a++)
            for (int b = 0; b < NAA; b++) {
                const size_t at = ((size_t(f) * NAA + a) * NAA + b) * TERM_LANES;
                for (int k = 0; k < TERM_LANES; k++) {
                    const int rx = k % NREG, ry = (rx + d + 1) % NREG;
                    const double term =
                        (p.coil_pair[a][b][rx][ry] - p.bg_pair[a][b][d]) - (p.coil_residue[b][ry] - p.bg_residue[b]);
                    m.raw_terms[at + k] = term;
                    m.terms[at + k] = term / fnum;
                }
            }
    }
}

}  // namespace

void rebuild_coil_tables(Model &m, const CoilCounts &coil)
{
    coil_residue_logs(coil.freqs, coil.totals, m.probs.coil_residue, m.prolines_end_segments);
    coil_pair_logs(coil.freqp, coil.totalp, m.probs.coil_residue, m.probs.coil_pair, m.prolines_end_segments);
    build_pair_terms(m);
}

void build_model(Model &m, const BackgroundCounts &bg, const CoilCounts &coil, const int8_t *distances,
                 int32_t distance_count, bool prolines_end_segments, int32_t shortest_segment,
                 const Calibration *calibration, const std::string &calibration_name)
{
    m.distance_count = distance_count;
    m.farthest = 0;
    std::fill(std::begin(m.distances), std::end(m.distances), int8_t(0));
    for (int32_t f = 0; f < distance_count; f++) {
        m.distances[f] = distances[f];
        if (distances[f] > m.farthest) m.farthest = distances[f];
    }
    m.prolines_end_segments = prolines_end_segments;
    m.shortest_segment = shortest_segment;
    background_residue_logs(bg.freqs, bg.totals, m.probs.bg_residue);
    background_pair_logs(bg.freqp, bg.totalp, m.probs.bg_pair);
    rebuild_coil_tables(m, coil);
    m.fingerprint = model_fingerprint(bg, coil);
    // Every p-score comes from the calibration when there is one; it must
    // have been made for this model, or its p-scores mean nothing.
    if (calibration) {
        check_calibration(*calibration, m.distances, m.distance_count, prolines_end_segments, m.fingerprint,
                          calibration_name);
        calibrated_pscores(*calibration, shortest_segment, m.pscores);
    } else {
        m.pscores = builtin_pscores(shortest_segment);
    }
}

namespace {
// An open input closed on every path; the checked close of a complete read.
struct Input {
    FILE *fl;
    explicit Input(const std::string &name) : fl(open_input(name.c_str())) {}
    ~Input() { close_stream_quietly(fl); }
    void close()
    {
        FILE *f = fl;
        fl = nullptr;
        close_stream(f);
    }
};
}  // namespace

std::unique_ptr<Model> load_model(const ModelRecipe &recipe)
{
    if (recipe.distances.empty() || recipe.distances.size() > size_t(NREG))
        raise_text("velcorin2: a model takes one to seven distance classes\n", false, STATUS_ERROR, ErrorCode::USAGE);
    int8_t distances[NREG] = {};
    for (size_t i = 0; i < recipe.distances.size(); i++) {
        if (recipe.distances[i] < 0 || recipe.distances[i] > 6)
            raise_text("velcorin2: distance " + std::to_string(recipe.distances[i]) + " is outside 0 to 6\n", false,
                       STATUS_ERROR, ErrorCode::USAGE);
        distances[i] = int8_t(recipe.distances[i]);
    }
    if (recipe.shortest_segment != 28 && recipe.shortest_segment != 21)
        raise_text("velcorin2: the shortest segment is 21 or 28\n", false, STATUS_ERROR, ErrorCode::USAGE);
    auto bg = std::make_unique<BackgroundCounts>();
    auto coil = std::make_unique<CoilCounts>();
    {
        Input g(recipe.background_counts), c(recipe.coil_counts);
        read_background_counts(g.fl, *bg);
        read_coil_counts(c.fl, *coil);
        g.close();
        c.close();
    }
    std::unique_ptr<Calibration> cal;
    if (!recipe.calibration.empty()) {
        cal = std::make_unique<Calibration>();
        Input in(recipe.calibration);
        read_calibration(in.fl, recipe.calibration, *cal);
        in.close();
    }
    auto m = std::make_unique<Model>();
    build_model(*m, *bg, *coil, distances, int32_t(recipe.distances.size()), recipe.prolines_end_segments,
                recipe.shortest_segment, cal.get(), recipe.calibration);
    return m;
}

uint64_t model_fingerprint(const BackgroundCounts &g, const CoilCounts &p)
{
    struct Fnv {
        uint64_t h = 14695981039346656037ull;
        void add(const int32_t *a, size_t n)
        {
            for (size_t i = 0; i < n; i++) {
                const uint32_t v = uint32_t(a[i]);
                for (int shift = 24; shift >= 0; shift -= 8) {
                    h ^= (v >> shift) & 0xff;
                    h *= 1099511628211ull;
                }
            }
        }
    } f;
    f.add(&g.totals, 1);
    f.add(g.freqs, NAA);
    f.add(g.totalp, NREG);
    f.add(&g.freqp[0][0][0], NAA * NAA * NREG);
    f.add(p.totals, NREG);
    f.add(&p.freqs[0][0], NAA * NREG);
    f.add(&p.totalp[0][0], NREG * NREG);
    f.add(&p.freqp[0][0][0][0], NAA * NAA * NREG * NREG);
    return f.h;
}

}  // namespace velcorin2

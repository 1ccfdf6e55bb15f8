// The scoring against plain re-derivations: the maximum over windows by its
// definition, the smoothing rules of the coil tables on hand-made counts,
// and whole sequences scored window by window from the probability tables,
// each window summed afresh, each residue's best window found by brute force.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "cli/cli.h"
#include "lib/model.h"
#include "lib/scoring.h"
#include "velcorin2/counting.h"
#include "velcorin2/io.h"
#include "velcorin2/velcorin2.h"

using namespace velcorin2;

namespace {

std::mt19937 rng(7);

// maxima[p] is by definition the best window inside the stretch that holds
// p.  The unused tail holds +inf, so a read beyond the last window shows.
template <int L> void check_maxima(int n, int w, bool ties)
{
    std::vector<double> ws(size_t(n) * L), got(size_t(n) * L, 12345.0), a(size_t(n) * L), b(size_t(n) * L);
    std::uniform_int_distribution<int> small(-5, 5);
    std::normal_distribution<double> wide(0.0, 10.0);
    for (double &v : ws) v = ties ? small(rng) : wide(rng);
    for (size_t q = size_t(n - w + 1) * L; q < ws.size(); q++) ws[q] = INFINITY;
    auto rows = [](std::vector<double> &v) { return reinterpret_cast<double(*)[L]>(v.data()); };
    max_over_windows<L>(rows(got), rows(ws), n, w, rows(a), rows(b));
    for (int p = 0; p < n; p++)
        for (int l = 0; l < L; l++) {
            double m = -INFINITY;
            for (int q = std::max(0, p - w + 1); q <= std::min(p, n - w); q++) m = std::max(m, ws[size_t(q) * L + l]);
            ASSERT_EQ(got[size_t(p) * L + l], m) << "n=" << n << " w=" << w << " p=" << p << " lane " << l;
        }
}

}  // namespace

TEST(MaxOverWindows, MatchesTheDefinitionForEveryWindowLength)
{
    for (int n : {1, 2, 3, 7, 29, 30, 31, 64, 97})
        for (int w = 1; w <= n; w++) {
            ASSERT_NO_FATAL_FAILURE(check_maxima<1>(n, w, true));
            ASSERT_NO_FATAL_FAILURE(check_maxima<8>(n, w, w % 2 == 0));
        }
    ASSERT_NO_FATAL_FAILURE(check_maxima<8>(DEFAULT_MAX_LENGTH, 30, false));
}

// Registers: 0 nothing counted; 1 total 10; 2 total 2; 3 a count under a
// total of 0.  A missing residue takes min(1/(5t), 0.05), a missing pair the
// smallest of the product of its residues, 1/(5t) and 0.0025.
TEST(CoilTables, SmoothingRules)
{
    auto p = std::make_unique<CoilCounts>();
    p->freqs[0][1] = 10, p->totals[1] = 10, p->freqs[0][2] = 2, p->totals[2] = 2, p->freqs[0][3] = 5;
    double ps[NAA][NREG];
    coil_residue_logs(p->freqs, p->totals, ps, false);
    for (int x = 0; x < NAA; x++) EXPECT_NEAR(ps[x][0], std::log(1.0 / 20), 1e-12) << x;
    EXPECT_EQ(ps[5][3], ps[5][0]);
    EXPECT_NEAR(ps[1][1], std::log(0.02 / 1.38), 1e-12);  // 1 + 19 * 0.02
    EXPECT_NEAR(ps[1][2], std::log(0.05 / 1.95), 1e-12);  // 1 + 19 * 0.05
    coil_residue_logs(p->freqs, p->totals, ps, true);
    EXPECT_EQ(ps[PROLINE][0], LOGZERO);
    EXPECT_NEAR(ps[3][0], std::log(1.0 / 19), 1e-12);

    for (auto &row : ps) std::fill(row, row + NREG, LOGZERO);
    ps[0][0] = std::log(0.01), ps[1][1] = std::log(0.02);
    p->freqp[2][2][0][1] = 10, p->freqp[PROLINE][2][0][1] = 5, p->totalp[0][1] = 15;
    auto pp = std::make_unique<double[][NAA][NREG][NREG]>(NAA);
    coil_pair_logs(p->freqp, p->totalp, ps, pp.get(), true);
    EXPECT_NEAR(std::exp(pp[0][1][0][1]), 0.0002 / (10.0 / 15 + 0.0002), 1e-15);
    double sum = 0;
    for (int x = 0; x < PROLINE; x++)
        for (int y = 0; y < PROLINE; y++) sum += std::exp(pp[x][y][0][1]);
    EXPECT_NEAR(sum, 1.0, 1e-14);
    EXPECT_TRUE(pp[PROLINE][2][0][1] == LOGZERO && pp[3][4][0][1] == LOGZERO);
}

namespace {

// The shipped model, read as the program reads it.
struct Shipped {
    BackgroundCounts g;
    CoilCounts p;
    Shipped()
    {
        FILE *gf = open_input(VELCORIN2_SOURCE_DIR "/data/genfreq.dat");
        FILE *pf = open_input(VELCORIN2_SOURCE_DIR "/data/posfreq.dat");
        read_background_counts(gf, g);
        read_coil_counts(pf, p);
        close_stream(gf);
        close_stream(pf);
    }
};

struct Scored {
    std::vector<double> best;  // -inf where nothing was scored
    std::vector<int> offset;
    std::vector<bool> tie;  // best and second-best offsets within 1e-9
};

// Brute force: per offset the mean pair term of each residue (its single
// log-odds when no partner is inside the segment), every window summed
// afresh, each residue the best window holding it; the window is the
// segment when it is shorter than `window`.
template <class Term, class Single>
Scored brute_force(const std::vector<int8_t> &seq, int limit, int min_segment, int window, const std::vector<int> &lib,
                   Term term, Single single)
{
    const int n = int(seq.size());
    std::vector<std::vector<double>> sc(size_t(n), std::vector<double>(NREG, -INFINITY));
    for (int st = 0; st < n;) {
        if (seq[size_t(st)] >= limit) {
            st++;
            continue;
        }
        int en = st;
        while (en < n && seq[size_t(en)] < limit) en++;
        const int w = std::min(window, en - st);
        for (int off = 0; off < NREG && en - st >= min_segment; off++) {
            std::vector<double> prop(static_cast<size_t>(n));
            for (int x = st; x < en; x++) {
                double s = 0;
                int cnt = 0;
                for (int d : lib)
                    if (x + d + 1 < en) s += term(x, x + d + 1, off, d), cnt++;
                prop[size_t(x)] = cnt ? s / cnt : single(x, off);
            }
            for (int q = st; q + w <= en; q++) {
                double win = 0;
                for (int k = q; k < q + w; k++) win += prop[size_t(k)];
                for (int k = q; k < q + w; k++) sc[size_t(k)][size_t(off)] = std::max(sc[size_t(k)][size_t(off)], win);
            }
        }
        st = en;
    }
    Scored r;
    for (auto &row : sc) {
        const int b = int(std::max_element(row.begin(), row.end()) - row.begin());
        bool tie = false;
        for (int o = 0; o < NREG; o++) tie |= o != b && std::fabs(row[size_t(o)] - row[size_t(b)]) < 1e-9;
        r.best.push_back(row[size_t(b)]), r.offset.push_back(b), r.tie.push_back(tie);
    }
    return r;
}

void compare(const Scored &want, const double *score, const int8_t *offsets)
{
    for (size_t i = 0; i < want.best.size(); i++) {
        const double got = score[i];
        if (std::isinf(want.best[i])) {
            ASSERT_TRUE(std::isinf(got) && got < 0) << "residue " << i;
            continue;
        }
        ASSERT_NEAR(got, want.best[i], 1e-9 * (1 + std::fabs(got))) << "residue " << i;
        if (!want.tie[i]) {
            ASSERT_EQ(offsets[i], want.offset[i]) << "residue " << i;
        }
    }
}

std::vector<int8_t> random_sequence(int n)
{
    std::vector<int8_t> s(static_cast<size_t>(n));
    for (auto &c : s) {
        const unsigned r = rng() % 100;
        c = int8_t(r < 2 ? PROLINE : r < 3 ? 20 : r % PROLINE);  // a few prolines and X
    }
    return s;
}

}  // namespace

// The model of the shipped counts for distances `lib`.
std::unique_ptr<Model> shipped_model(const std::vector<int> &lib, bool prolines_end_segments, int32_t shortest)
{
    static const Shipped counts;
    int8_t d[NREG] = {};
    for (size_t f = 0; f < lib.size(); f++) d[f] = int8_t(lib[f]);
    auto m = std::make_unique<Model>();
    build_model(*m, counts.g, counts.p, d, int32_t(lib.size()), prolines_end_segments, shortest, nullptr);
    return m;
}

Sequence record_of(const std::vector<int8_t> &res)
{
    Sequence s;
    s.residues = res;
    s.length = int32_t(res.size());
    return s;
}

TEST(Scoring, PairScoresMatchBruteForce)
{
    struct Case {
        std::vector<int> lib;
        bool prolines_end_segments;
        int shortest;
    };
    // The last sequence is as long as titin, beyond the default length limit.
    const std::vector<int> lengths = {28, 29, 45, 300, 1200, 34350};
    for (const Case &c : {Case{{1, 2, 3}, true, 28}, Case{{0, 1, 5, 6}, false, 28}, Case{{6, 1}, true, 21}}) {
        auto m = shipped_model(c.lib, c.prolines_end_segments, c.shortest);
        const ProbTables &t = m->probs;
        Workspace w;
        Prediction p;
        {
            // One residue short of the shortest segment: nothing is scored.
            predict(*m, record_of(random_sequence(c.shortest - 1)), {}, w, p);
            EXPECT_FALSE(p.scored);
        }
        for (int n : lengths) {
            const std::vector<int8_t> seq = random_sequence(n);
            auto term = [&](int x, int y, int off, int d) {
                return pair_term(t, x, y, (x + off) % NREG, (y + off) % NREG, int8_t(d), seq.data());
            };
            auto single = [&](int x, int off) {
                return t.coil_residue[seq[size_t(x)]][(x + off) % NREG] - t.bg_residue[seq[size_t(x)]];
            };
            const Scored want =
                brute_force(seq, c.prolines_end_segments ? PROLINE : NAA, c.shortest, PAIR_WINDOW, c.lib, term, single);
            predict(*m, record_of(seq), {}, w, p);
            ASSERT_TRUE(p.scored);
            SCOPED_TRACE("length " + std::to_string(n) + ", " + std::to_string(c.lib.size()) + " classes");
            compare(want, p.score.data(), p.offset.data());
            const double best = *std::max_element(want.best.begin(), want.best.end());
            if (std::isinf(best))
                EXPECT_EQ(p.sequence_score, best);
            else
                EXPECT_NEAR(p.sequence_score, best, 1e-9 * (1 + std::fabs(best)));
        }
    }
}

TEST(Scoring, StockScoresMatchBruteForce)
{
    auto m = shipped_model({1, 2, 3}, true, 21);
    Workspace w;
    Prediction p;
    for (int n : {27, 28, 100, 900}) {
        const std::vector<int8_t> seq = random_sequence(n);
        auto single = [&](int x, int off) { return stock_log_occurrence(seq[size_t(x)], (x + off) % NREG); };
        auto no_pairs = [](int, int, int, int) { return 0.0; };
        const Scored want = brute_force(seq, PROLINE, STOCK_WINDOW, STOCK_WINDOW, {}, no_pairs, single);
        predict(*m, record_of(seq), PredictOptions{false, true}, w, p);
        if (n >= STOCK_WINDOW) {
            compare(want, p.stock_score.data(), w.stock_offset.data());
        } else {  // too short for a stock window: no stock curve at all
            for (int i = 0; i < n; i++) ASSERT_EQ(p.stock_score[size_t(i)], NOT_SCORED);
        }
    }
}

// A leave-one-out run takes each record out of the counts while scoring it
// and puts it back: every record must score as it scores alone, whatever
// came before it and on however many threads.
TEST(Scoring, LeaveOneOutScoresEachRecordAgainstTheOthersOnly)
{
    static const Shipped counts;
    RunSettings s;
    s.mode = MODE_LEAVEOUT | MODE_PROLINEFREE;
    auto m = shipped_model({1, 2, 3}, true, 28);
    auto table = [&](const std::string &records, int threads) {
        s.threads = threads;
        std::string in = records;
        char *buf = nullptr;
        size_t len = 0;
        cli::RunFiles f;
        f.sequences = fmemopen(in.data(), in.size(), "r");
        f.table = open_memstream(&buf, &len);
        f.coil_log = f.sequence_log = stderr;
        cli::process_input(s, f, *m, counts.p);
        std::fclose(f.sequences);
        std::fclose(f.table);
        f.sequences = f.table = nullptr;
        std::string out(buf, len);
        std::free(buf);
        return out;
    };
    std::string all;
    std::vector<std::string> records;
    FILE *in = open_input(VELCORIN2_SOURCE_DIR "/tests/data/known.pos");
    for (int c; (c = std::getc(in)) != EOF;) {
        if (c == '>') records.emplace_back();
        if (!records.empty()) records.back() += char(c);
        all += char(c);
    }
    close_stream(in);
    std::string alone;
    for (const std::string &r : records) alone += table(r, 1);
    EXPECT_EQ(table(all, 1), alone);
    EXPECT_EQ(table(all, 3), alone);
}

// The counting tool adds records up to the 32-bit limit and no further:
// add_genseq refuses the count that would pass it and leaves it there;
// add_seq2 wraps instead (a loaded count may be anything), which the tool
// sees as a total going down, and taking the record out again restores it.
TEST(Counts, NoCountPassesTheLimit)
{
    Sequence kae = sequence_from_letters("k", "", "KAAAE"), k = sequence_from_letters("k", "", "K");
    const int8_t K = residue_number('K'), E = residue_number('E');
    auto g = std::make_unique<BackgroundCounts>();
    g->freqp[K][E][3] = INT32_MAX;
    EXPECT_FALSE(add_background_counts(*g, kae));
    EXPECT_EQ(g->freqp[K][E][3], INT32_MAX);
    *g = BackgroundCounts{};
    g->totals = INT32_MAX - 1;
    EXPECT_TRUE(add_background_counts(*g, k));
    EXPECT_FALSE(add_background_counts(*g, k));
    EXPECT_EQ(g->totals, INT32_MAX);

    Sequence liv = sequence_from_letters("liv", "", "LIVLIVLIV");
    liv.registers = {0, 1, 2, 3, 4, 5, 6, 0, 1};
    auto p = std::make_unique<CoilCounts>();
    p->totals[0] = INT32_MAX;
    add_coil_counts(*p, liv, 1);
    EXPECT_LT(p->totals[0], 0);
    add_coil_counts(*p, liv, -1);
    EXPECT_EQ(p->totals[0], INT32_MAX);
    EXPECT_EQ(p->totals[1], 0);
}

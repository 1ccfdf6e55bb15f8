// Unit tests of scscore: probability tables, pair terms, the two sequence scorers, the sequence p-score table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <type_traits>
#include <vector>

#include "scscore.h"

namespace {
std::mt19937 rng;

template <class T> void fill_random(T &t)
{
    if constexpr (std::is_array_v<T>) for (auto &e : t) fill_random(e);
    else t = std::uniform_real_distribution<double>(-4.0, 0.0)(rng);
}

// Arbitrary tables, so that every pair term differs, and a sequence without proline.
std::vector<int8_t> random_model(unsigned seed, int n)
{
    rng.seed(seed);
    fill_random(gprobs), fill_random(gprobp), fill_random(pprobs), fill_random(pprobp);
    std::vector<int8_t> s(n);
    for (auto &c : s) c = int8_t(rng() % PROLINE);
    return s;
}

struct Scoring : ::testing::Test {  // the scorers share globals: start from the driver's settings
    void SetUp() override { WINDOW = 30, window_length = 28, functnum = 3; }
    void TearDown() override { SetUp(); }
};

int32_t cs[NAA][NREG], ts[NREG], cp[NAA][NAA][NREG][NREG], tp[NREG][NREG];
double ps[NAA][NREG], pp[NAA][NAA][NREG][NREG], scs[MAXSEQ][NREG], maxscore;
int8_t offs[MAXSEQ];
const int8_t lib3[7] = {0, 2, 3};
}  // namespace

TEST(Model, ProbabilityTables)
{
    // registers: 0 nothing counted; 1 total 10; 2 total 2; 3 a count under a total of 0; 4 a negative count, as is
    cs[0][1] = 10, ts[1] = 10, cs[0][2] = 2, ts[2] = 2, cs[0][3] = 5, cs[0][4] = 20, cs[1][4] = -10, ts[4] = 10;
    calcpprobs(cs, ts, ps, 0);
    for (int x = 0; x < NAA; x++)  // 1 / 20 each
        EXPECT_TRUE(std::fabs(ps[x][0] - std::log(1.0 / 20)) < 1e-12 && ps[x][3] == ps[x][0]) << x;
    EXPECT_NEAR(ps[1][1], std::log(0.02 / 1.38), 1e-12);  // 1 + 19 * 0.02
    EXPECT_NEAR(ps[1][2], std::log(0.05 / 1.95), 1e-12);  // 1 + 19 * 0.05
    EXPECT_NEAR(ps[0][4], std::log(2.0 / 1.36), 1e-12);   // 2 - 1 + 18 * 0.02
    calcpprobs(cs, ts, ps, 0x100);
    for (int x = 0; x < NAA; x++) EXPECT_NEAR(ps[x][0], x == PROLINE ? LOGZERO : std::log(1.0 / 19), 1e-12) << x;

    // Only residue 0 in register 0 and residue 1 in register 1 are likely, so
    // every unseen pair but (0, 1) in registers (0, 1) gets a product of 0.
    for (auto &a : ps) std::fill(a, a + NREG, LOGZERO);
    ps[0][0] = std::log(0.01), ps[1][1] = std::log(0.02);
    cp[2][2][0][1] = 10, cp[PROLINE][2][0][1] = 5, tp[0][1] = 15;  // 1 / 75 is above the product
    cp[2][2][0][0] = 7;  // a count under a total of 0: smoothed like the rest, to 0
    calcpprobp(cp, tp, ps, pp, 1);
    EXPECT_NEAR(std::exp(pp[0][1][0][1]), 0.0002 / (10.0 / 15 + 0.0002), 1e-15);  // proline-free
    double sum = 0;
    for (int x = 0; x < PROLINE; x++) for (int y = 0; y < PROLINE; y++) sum += std::exp(pp[x][y][0][1]);
    EXPECT_NEAR(sum, 1.0, 1e-15);
    EXPECT_TRUE(pp[PROLINE][2][0][1] == LOGZERO && pp[3][4][0][1] == LOGZERO && pp[2][2][0][0] == LOGZERO);
    EXPECT_NEAR(pp[0][0][0][0], 0.0, 1e-12);
    ps[0][0] = ps[1][1] = std::log(0.9);  // 0.0025 caps a large product, 1 / (5 t) when below 0.0025
    cp[2][2][1][1] = 100, tp[1][1] = 100;
    calcpprobp(cp, tp, ps, pp, 0);
    EXPECT_NEAR(std::exp(pp[0][1][0][1]), 0.0025 / 1.0025, 1e-15);  // the proline pair counts now
    EXPECT_NEAR(std::exp(pp[1][1][1][1]), 0.002 / 1.002, 1e-15);
}

TEST(Blocks, PairTermAndSegments)
{
    int8_t seq[] = {4, 9, 7};
    pprobp[4][7][2][3] = 1.5, gprobp[4][7][1] = 0.25, pprobs[7][3] = 0.75, gprobs[7] = 0.5;
    EXPECT_EQ(lpropensity_term(0, 2, 2, 3, 1, seq), 1.0);
    using V = std::vector<std::pair<int, int>>;
    auto cut = [](std::vector<int8_t> s, int pfw) {
        V out;
        int32_t st = -7, en = 0;
        while (subsequence_advance(&st, &en, s.data(), int32_t(s.size()), pfw)) out.push_back({st, en});
        EXPECT_EQ(st, out.empty() ? -7 : out.back().first);  // the last call left it alone
        return out;
    };
    EXPECT_EQ(cut({0, 0, 19, 0, 0}, 0x100), (V{{0, 2}, {3, 5}}));
    EXPECT_EQ(cut({0, 0, 19, 0, 0}, 0), (V{{0, 5}}));
    EXPECT_EQ(cut({20, 3, 21, 19, 21, 5, 6, -1, 2}, 0), (V{{1, 2}, {3, 4}, {5, 7}, {8, 9}}));
    EXPECT_EQ(cut({20, 19, 21}, 1), V{});
}

TEST_F(Scoring, TailRuleAndRunningWindowSums)
{
    auto seq = random_model(1, 60);
    const int8_t *s = seq.data(), lib12[7] = {1, 2}, lib000[7] = {0, 0, 0};
    auto term = [&](int x, int dist, int o) {
        return lpropensity_term(x, x + dist + 1, getoffs(x, o), getoffs(x + dist + 1, o), int8_t(dist), s);
    };
    auto single = [&](int x, int o) { return pprobs[s[x]][getoffs(x, o)] - gprobs[s[x]]; };
    std::vector<double> r(60, 99.0), w(60, 99.0);
    functnum = 2;
    get_respropl(r.data(), s, 5, 40, 3, lib12);
    for (int x = 5; x <= 36; x++) ASSERT_EQ(r[x], (0.0 + term(x, 1, 3) / 2) + term(x, 2, 3) / 2) << x;
    EXPECT_EQ(r[37], term(37, 1, 3));  // the class-2 partner would be 40
    EXPECT_TRUE(r[38] == single(38, 3) && r[39] == single(39, 3) && r[4] == 99.0 && r[40] == 99.0);
    get_winscores(w.data(), s, 5, 40, 3, lib12);
    double sum = std::accumulate(&r[5], &r[35], 0.0);
    for (int i = 5; i <= 10; sum -= r[i], sum += r[i + 30], i++) ASSERT_EQ(w[i], sum) << i;  // never afresh
    EXPECT_TRUE(w[4] == 99.0 && w[11] == 99.0);
    functnum = 3;
    get_respropl(r.data(), s, 0, 30, 6, lib000);
    for (int x = 0; x < 29; x++) {
        const double t = term(x, 0, 6) / 3;
        ASSERT_EQ(r[x], ((0.0 + t) + t) + t) << x;
    }
    EXPECT_EQ(r[29], single(29, 6));
}

TEST_F(Scoring, ShortSegmentIsOneWindow)
{
    auto seq = random_model(8, 45);  // proline-free: [0, 3), [4, 32) of window_length residues, [33, 45)
    seq[3] = 21, seq[32] = PROLINE;
    scs[45][0] = 7.0, std::fill(offs, offs + 46, 9);
    ASSERT_EQ(scseqadj(lib3, seq.data(), 45, scs, offs, &maxscore, 1), 1);
    EXPECT_TRUE(WINDOW == 30 && scs[45][0] == 7.0 && offs[45] == 9);
    std::vector<double> r(45);
    for (int o = 0; o < NREG; o++) {
        get_respropl(r.data(), seq.data(), 4, 32, o, lib3);
        const double s = std::accumulate(&r[4], &r[32], 0.0);
        for (int i = 0; i < 45; i++) ASSERT_EQ(scs[i][o], i >= 4 && i < 32 ? s : -INFINITY) << i;
        EXPECT_LE(s, maxscore);
    }
    for (int i = 0; i < 45; i++) ASSERT_EQ(offs[i], i >= 4 && i < 32 ? offs[4] : 0) << i;
    EXPECT_EQ(maxscore, scs[4][offs[4]]);
    scs[0][0] = 7.0;  // shorter than window_length: refused, nothing written
    EXPECT_TRUE(scseqadj(lib3, seq.data(), 27, scs, offs, &maxscore, 1) == 0 && scs[0][0] == 7.0);
}

TEST_F(Scoring, TiesKeepTheLowestOffset)
{
    auto seq = random_model(12, 50);
    std::memset(pprobs, 0, sizeof pprobs), std::memset(pprobp, 0, sizeof pprobp);  // blind to registers
    ASSERT_EQ(scseqadj(lib3, seq.data(), 50, scs, offs, &maxscore, 1), 1);
    for (int i = 0; i < 50; i++) EXPECT_EQ(offs[i], 0) << i;
}

TEST_F(Scoring, StockScoring)
{
    initialize_relative();
    initialize_relative();  // a second conversion (a second run in one process) changes nothing
    EXPECT_EQ(relative_entry(18, 1), LOGZERO);  // tryptophan in register b: never seen
    WINDOW = 28;
    std::vector<int8_t> s(40, 0);  // leucines: every window holds 4 heptads, whatever the register
    const double expect = 4 * (std::log(3.167) + std::log(0.297) + std::log(0.398) + std::log(3.902) +
                               std::log(0.585) + std::log(0.501) + std::log(0.483));
    for (int n : {28, 40}) {
        ASSERT_EQ(scorestock(s.data(), n, scs, offs, &maxscore, 1), 1);
        for (int i = 0; i < n; i++) EXPECT_NEAR(scs[i][0], expect, 1e-12) << n << " " << i;
    }
    scs[0][0] = 5.0;  // below WINDOW: refused, nothing written
    EXPECT_TRUE(scorestock(s.data(), 27, scs, offs, &maxscore, 1) == 0 && scs[0][0] == 5.0);
    s[20] = PROLINE;  // segments below WINDOW are skipped, unless the proline is admitted
    scorestock(s.data(), 40, scs, offs, &maxscore, 1);
    EXPECT_EQ(maxscore, -INFINITY);
    scorestock(s.data(), 40, scs, offs, &maxscore, 0);
    EXPECT_TRUE(maxscore > -INFINITY && WINDOW == 28);
}

TEST_F(Scoring, PscoreTables)
{
    const double rows[][3] = {  // row, p-score at window length 28, at 21
        {0, 0, 0}, {1, 0, 0.000158}, {90, 0, 0.000316}, {91, 0.00016, 0.000474}, {239, 0.003525, 0.004265},
        {339, 0.010253, 0.012162}, {439, 0.032842, 0.036803}, {539, 0.128004, 0.133312}, {589, 0.312079, 0.315906},
        {616, 0.492951, 0.494551}, {617, 0.500961, 0.502448}, {639, 0.670298, 0.670826}, {689, 0.935918, 0.935871},
        {739, 0.994233, 0.994314}, {789, 0.999519, 0.999526}, {804, 0.99984, 0.999842}, {805, 1, 1}, {812, 1, 1},
        {165, 0.001922, 0.002369},  // between rows 91 and 239; at 28, 21 * 74 / 148 = 10.5 counts, rounded up
    };
    const double lookups[][3] = {  // score, p-score at 28, at 21: of the first row strictly above
        {-100, 0, 0}, {-INFINITY, 0, 0}, {-63.9, 0, 0.000158}, {-2.3, 0.500961, 0.502448},
        {-2.25, 0.500961, 0.502448}, {16.45, 0.99984, 0.999842}, {16.5, 1, 1}, {17.3, 1, 1}, {NAN, 1, 1},
    };
    for (int col : {1, 2}) {
        window_length = col == 1 ? 28 : 21;
        for (auto &r : rows) EXPECT_EQ(pscore_table_entry(int(r[0]), 1), r[col]) << r[0];
        for (auto &l : lookups) EXPECT_EQ(seq_scr2pscr(l[0]), l[col]) << l[0];
    }
}

// Unit tests of scscore: probability tables, pair terms and propensities,
// window sums, the two sequence scorers and the sequence p-score table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "scscore.h"

namespace {
constexpr double NEG_INF = -std::numeric_limits<double>::infinity();

template <class T> void fill_random(T &table, std::mt19937 &rng)
{
    if constexpr (std::is_array_v<T>) {
        for (auto &e : table) fill_random(e, rng);
    } else {
        table = std::uniform_real_distribution<double>(-4.0, 0.0)(rng);
    }
}

// Arbitrary table values, so that every pair term differs.
void random_tables(unsigned seed)
{
    std::mt19937 rng(seed);
    fill_random(gprobs, rng), fill_random(gprobp, rng), fill_random(pprobs, rng), fill_random(pprobp, rng);
}

std::vector<int8_t> random_seq(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<int8_t> s(n);
    for (auto &c : s) c = int8_t(rng() % PROLINE);
    return s;
}

double single(const int8_t *s, int i, int offs) { return pprobs[s[i]][getoffs(i, offs)] - gprobs[s[i]]; }

double term(const int8_t *s, int x, int dist, int offs)
{
    return lpropensity_term(x, x + dist + 1, getoffs(x, offs), getoffs(x + dist + 1, offs), int8_t(dist), s);
}

// The scorers share globals: every test starts from the driver's settings.
struct Scoring : ::testing::Test {
    void SetUp() override { WINDOW = 30, window_length = 28, functnum = 3; }
    void TearDown() override { SetUp(); }
};

int32_t cs[NAA][NREG], ts[NREG], cp[NAA][NAA][NREG][NREG], tp[NREG][NREG];
double ps[NAA][NREG], pp[NAA][NAA][NREG][NREG];
double scs[MAXSEQ][NREG];
int8_t offs[MAXSEQ];
const int8_t lib3[7] = {0, 2, 3};
}  // namespace

TEST(Model, GeneralTablesAndSingles)
{
    EXPECT_EQ(getlog(0), LOGZERO);
    EXPECT_EQ(getdlog(0.0), LOGZERO);
    int32_t freqs[NAA] = {500};
    double probs[NAA];
    EXPECT_EQ(calcgprobs(freqs, 1000, probs), 1);
    EXPECT_DOUBLE_EQ(probs[0], std::log(0.5));
    EXPECT_NEAR(probs[1], -2806.9078, 1e-4);

    // registers: 0 nothing counted; 1 total 10; 2 total 2; 3 a count under a
    // total of 0; 4 a negative count, taken as it is
    cs[0][1] = 10, ts[1] = 10, cs[0][2] = 2, ts[2] = 2, cs[0][3] = 5;
    cs[0][4] = 20, cs[1][4] = -10, ts[4] = 10;
    EXPECT_EQ(calcpprobs(cs, ts, ps, 0), 1);
    for (int x = 0; x < NAA; x++) {
        EXPECT_NEAR(ps[x][0], -2.9957, 1e-4);
        EXPECT_DOUBLE_EQ(ps[x][3], std::log(1.0 / 20));
    }
    EXPECT_NEAR(ps[1][1], std::log(0.02 / 1.38), 1e-12);  // 1 + 19 * 0.02
    EXPECT_NEAR(ps[1][2], std::log(0.05 / 1.95), 1e-12);  // 1 + 19 * 0.05
    EXPECT_NEAR(ps[0][4], std::log(2.0 / 1.36), 1e-12);   // 2 - 1 + 18 * 0.02
    calcpprobs(cs, ts, ps, 0x100);
    for (int x = 0; x < PROLINE; x++) EXPECT_NEAR(ps[x][0], -2.9444, 1e-4);
    EXPECT_EQ(ps[PROLINE][0], LOGZERO);
}

TEST(Model, ProlineFreePairsSumToOne)
{
    std::mt19937 rng(3);
    std::memset(ts, 0, sizeof ts);
    std::memset(tp, 0, sizeof tp);
    for (int x = 0; x < NAA; x++)
        for (int p = 0; p < NREG; p++) {
            ts[p] += cs[x][p] = rng() % 3 ? rng() % 30 : 0;
            for (int y = 0; y < NAA; y++)
                for (int q = 0; q < NREG; q++) tp[p][q] += cp[x][y][p][q] = rng() % 2 ? rng() % 30 : 0;
        }
    calcpprobs(cs, ts, ps, 1);
    calcpprobp(cp, tp, ps, pp, 1);
    for (int p = 0; p < NREG; p++)
        for (int q = 0; q < NREG; q++) {
            double sum = 0;
            for (int x = 0; x < NAA; x++)
                for (int y = 0; y < NAA; y++) {
                    if (x == PROLINE || y == PROLINE) ASSERT_EQ(pp[x][y][p][q], LOGZERO);
                    else sum += std::exp(pp[x][y][p][q]);
                }
            EXPECT_NEAR(sum, 1.0, 1e-12);
        }
}

TEST(Model, PairSmoothingTakesTheSmallestBound)
{
    // Only residue 0 in register 0 and residue 1 in register 1 are likely, so
    // every unseen pair but (0, 1) in registers (0, 1) gets a product of 0.
    for (auto &a : ps) for (auto &v : a) v = LOGZERO;
    ps[0][0] = std::log(0.01), ps[1][1] = std::log(0.02);
    std::memset(cp, 0, sizeof cp);
    std::memset(tp, 0, sizeof tp);
    cp[2][2][0][1] = 10, tp[0][1] = 10;  // 1 / 50 is above the product
    cp[2][2][0][0] = 7;                  // a count under a total of 0
    calcpprobp(cp, tp, ps, pp, 0);
    EXPECT_NEAR(std::exp(pp[0][1][0][1]), 0.0002 / 1.0002, 1e-15);
    EXPECT_EQ(pp[3][4][0][1], LOGZERO);
    EXPECT_NEAR(pp[0][0][0][0], 0.0, 1e-12);  // the only nonzero value of (0, 0)
    EXPECT_EQ(pp[2][2][0][0], LOGZERO);       // smoothed like the rest, to 0
    ps[0][0] = ps[1][1] = std::log(0.9);      // 0.0025 caps a large product
    calcpprobp(cp, tp, ps, pp, 0);
    EXPECT_NEAR(std::exp(pp[0][1][0][1]), 0.0025 / 1.0025, 1e-15);
}

TEST(Blocks, RegistersPairTermAndSegments)
{
    EXPECT_EQ(getoffs(13, 3), 2);
    EXPECT_EQ(getoffs(0, 0), 0);
    int8_t seq[] = {4, 9, 7};
    pprobp[4][7][2][3] = 1.5, gprobp[4][7][1] = 0.25, pprobs[7][3] = 0.75, gprobs[7] = 0.5;
    EXPECT_EQ(lpropensity_term(0, 2, 2, 3, 1, seq), 1.0);

    using V = std::vector<std::pair<int, int>>;
    auto cut = [](std::vector<int8_t> s, int pfw) {
        V out;
        int32_t st = -7, en = 0;
        while (subsequence_advance(&st, &en, s.data(), int32_t(s.size()), pfw)) out.push_back({st, en});
        EXPECT_EQ(subsequence_advance(&st, &en, s.data(), int32_t(s.size()), pfw), 0);
        return out;
    };
    EXPECT_EQ(cut({0, 0, 19, 0, 0}, 0x100), (V{{0, 2}, {3, 5}}));
    EXPECT_EQ(cut({0, 0, 19, 0, 0}, 0), (V{{0, 5}}));
    EXPECT_EQ(cut({20, 3, 21, 19, 21, 5, 6}, 0), (V{{1, 2}, {3, 4}, {5, 7}}));
    EXPECT_EQ(cut({1, -1, 2}, 0), (V{{0, 1}, {2, 3}}));
    EXPECT_EQ(cut({20, 19, 21}, 1), V{});
    int32_t st = -7, en = 0;  // no segment: *st untouched
    EXPECT_EQ(subsequence_advance(&st, &en, seq, 0, 1), 0);
    EXPECT_EQ(st, -7);
}

TEST_F(Scoring, PropensityTailRule)
{
    random_tables(1);
    auto seq = random_seq(60, 2);
    const int8_t *s = seq.data();
    const int8_t lib12[7] = {1, 2}, lib000[7] = {0, 0, 0};
    std::vector<double> r(60, 99.0);
    functnum = 2;
    get_respropl(r.data(), s, 5, 35, 3, lib12);
    for (int x = 5; x <= 31; x++) ASSERT_EQ(r[x], (0.0 + term(s, x, 1, 3) / 2) + term(s, x, 2, 3) / 2);
    EXPECT_EQ(r[32], term(s, 32, 1, 3));  // the class-2 partner would be 35
    EXPECT_EQ(r[33], single(s, 33, 3));
    EXPECT_EQ(r[34], single(s, 34, 3));
    EXPECT_EQ(r[4], 99.0);
    EXPECT_EQ(r[35], 99.0);

    functnum = 3;
    get_respropl(r.data(), s, 0, 30, 6, lib000);
    for (int x = 0; x < 29; x++) {
        double t = term(s, x, 0, 6);
        ASSERT_EQ(r[x], ((0.0 + t / 3) + t / 3) + t / 3);
    }
    EXPECT_EQ(r[29], single(s, 29, 6));
}

TEST_F(Scoring, WindowSumsAreRunningSums)
{
    random_tables(6);
    auto seq = random_seq(60, 7);
    std::vector<double> r(60), w(60, 99.0);
    get_respropl(r.data(), seq.data(), 10, 50, 2, lib3);
    get_winscores(w.data(), seq.data(), 10, 50, 2, lib3);
    double s = 0;
    for (int k = 10; k < 40; k++) s += r[k];
    for (int i = 10; i <= 20; i++) {
        ASSERT_EQ(w[i], s) << i;
        s -= r[i], s += r[i + 30];  // never summed afresh
    }
    EXPECT_EQ(w[9], 99.0);
    EXPECT_EQ(w[21], 99.0);
}

TEST_F(Scoring, PairScoringOfSegments)
{
    random_tables(8);
    auto seq = random_seq(45, 9);
    double maxscore = 0;
    // [0, 20) and [21, 45) under the proline-free option: too short for 28 and 21
    seq[20] = PROLINE, seq[44] = 20;
    for (int wl : {28, 21}) {
        window_length = wl;
        ASSERT_EQ(scseqadj(lib3, seq.data(), 41, scs, offs, &maxscore, 0x100), 1);
        EXPECT_EQ(maxscore, NEG_INF);
        for (int i = 0; i < 41; i++) EXPECT_TRUE(scs[i][i % NREG] == NEG_INF && offs[i] == 0) << i;
    }
    // [4, 33): 29 residues, one window; the tail [34, 44) is too short
    seq[20] = 0, seq[3] = 21, seq[33] = 20;
    for (int i = 0; i < 46; i++) std::fill(scs[i], scs[i] + NREG, 7.0);
    ASSERT_EQ(scseqadj(lib3, seq.data(), 45, scs, offs, &maxscore, 1), 1);
    EXPECT_EQ(WINDOW, 30);
    EXPECT_EQ(scs[45][0], 7.0);
    for (int o = 0; o < NREG; o++) {
        std::vector<double> r(45);
        get_respropl(r.data(), seq.data(), 4, 33, o, lib3);
        double s = 0;
        for (int i = 4; i < 33; i++) s += r[i];
        for (int i = 4; i < 33; i++) ASSERT_EQ(scs[i][o], s);
        for (int i : {0, 3, 33, 44}) EXPECT_EQ(scs[i][o], NEG_INF);
        EXPECT_TRUE(o < offs[4] ? s < scs[4][offs[4]] : s <= scs[4][offs[4]]);
    }
    for (int i = 5; i < 33; i++) EXPECT_EQ(offs[i], offs[4]);
    EXPECT_EQ(maxscore, scs[4][offs[4]]);
    scs[0][0] = 7.0, window_length = 28;
    EXPECT_EQ(scseqadj(lib3, seq.data(), 27, scs, offs, &maxscore, 1), 0);
    EXPECT_EQ(scs[0][0], 7.0);  // refused: nothing written
}

TEST_F(Scoring, TiesKeepTheLowestOffset)
{
    random_tables(12);  // then made blind to registers: all offsets score alike
    for (int a = 0; a < NAA; a++) {
        for (int r = 0; r < NREG; r++) pprobs[a][r] = pprobs[a][0];
        for (int b = 0; b < NAA; b++)
            for (double v = pprobp[a][b][0][0]; auto &row : pprobp[a][b]) std::fill(row, row + NREG, v);
    }
    auto seq = random_seq(50, 13);
    double maxscore;
    ASSERT_EQ(scseqadj(lib3, seq.data(), 50, scs, offs, &maxscore, 1), 1);
    for (int i = 0; i < 50; i++) EXPECT_EQ(offs[i], 0);
}

TEST_F(Scoring, StockScoring)
{
    initialize_relative();
    initialize_relative();  // a second conversion (a second run in one process) changes nothing
    EXPECT_EQ(relative_entry(0, 0), std::log(3.167));
    EXPECT_EQ(relative_entry(PROLINE, 0), LOGZERO);
    WINDOW = 28;
    std::vector<int8_t> s(40, 0);
    double maxscore = 0;
    ASSERT_EQ(scorestock(s.data(), 28, scs, offs, &maxscore, 1), 1);
    const double expect = 4 * std::log(3.167) + 4 * std::log(3.902) +
                          4 * (std::log(0.297) + std::log(0.398) + std::log(0.585) + std::log(0.501) + std::log(0.483));
    for (int i = 0; i < 28; i++) EXPECT_NEAR(scs[i][0], expect, 1e-12);
    scs[0][0] = 5.0;
    EXPECT_EQ(scorestock(s.data(), 27, scs, offs, &maxscore, 1), 0);
    EXPECT_EQ(scs[0][0], 5.0);

    s[1] = 18;  // a tryptophan in register b weighs -2800 in every window holding it
    double ws[40];
    singles_windows(ws, s.data(), 0, 40, 0);
    EXPECT_LT(ws[1], -2700);
    EXPECT_GT(ws[2], -100);
    s[20] = PROLINE;  // segments below WINDOW are skipped, unless the proline is admitted
    ASSERT_EQ(scorestock(s.data(), 40, scs, offs, &maxscore, 1), 1);
    EXPECT_EQ(maxscore, NEG_INF);
    ASSERT_EQ(scorestock(s.data(), 40, scs, offs, &maxscore, 0), 1);
    EXPECT_GT(maxscore, NEG_INF);
    EXPECT_EQ(WINDOW, 28);
}

TEST_F(Scoring, PscoreTables)
{
    struct Row { int k; double p28, p21; };
    const Row rows[] = {
        {0, 0, 0},                   {1, 0, 0.000158},            {90, 0, 0.000316},
        {91, 0.00016, 0.000474},     {239, 0.003525, 0.004265},   {339, 0.010253, 0.012162},
        {439, 0.032842, 0.036803},   {539, 0.128004, 0.133312},   {589, 0.312079, 0.315906},
        {616, 0.492951, 0.494551},   {617, 0.500961, 0.502448},   {639, 0.670298, 0.670826},
        {689, 0.935918, 0.935871},   {739, 0.994233, 0.994314},   {789, 0.999519, 0.999526},
        {804, 0.99984, 0.999842},    {805, 1, 1},                 {812, 1, 1},
    };
    for (int wl : {28, 21}) {
        window_length = wl;
        for (const Row &r : rows) EXPECT_EQ(pscore_table_entry(r.k, 1), wl == 28 ? r.p28 : r.p21) << r.k;
        double prev = 0;
        char buf[32];
        for (int k = 0; k < n_pscores; k++) {  // the grid as printed numbers; never falling
            std::snprintf(buf, sizeof buf, "%.1f", -63.9 + 0.1 * k);
            ASSERT_EQ(pscore_table_entry(k, 0), std::strtod(buf, nullptr)) << k;
            std::snprintf(buf, sizeof buf, "%.6f", pscore_table_entry(k, 1));
            ASSERT_EQ(pscore_table_entry(k, 1), std::strtod(buf, nullptr)) << k;
            ASSERT_GE(pscore_table_entry(k, 1), prev) << k;
            prev = pscore_table_entry(k, 1);
        }
        const bool w28 = wl == 28;
        EXPECT_EQ(seq_scr2pscr(-100.0), 0.0);
        EXPECT_EQ(seq_scr2pscr(NEG_INF), 0.0);
        EXPECT_EQ(seq_scr2pscr(-63.9), w28 ? 0.0 : 0.000158);
        EXPECT_EQ(seq_scr2pscr(-2.25), w28 ? 0.500961 : 0.502448);
        EXPECT_EQ(seq_scr2pscr(-2.3), w28 ? 0.500961 : 0.502448);
        EXPECT_EQ(seq_scr2pscr(16.45), w28 ? 0.99984 : 0.999842);
        EXPECT_EQ(seq_scr2pscr(16.5), 1.0);
        EXPECT_EQ(seq_scr2pscr(17.3), 1.0);
        EXPECT_EQ(seq_scr2pscr(std::nan("")), 1.0);
    }
    window_length = 28;  // between rows 91 and 239: 21 * 74 / 148 = 10.5 counts, rounded up
    EXPECT_EQ(pscore_table_entry(165, 1), 0.001922);  // 12 / 6242
}

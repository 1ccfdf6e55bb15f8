// Unit tests of scscore: probability tables, pair terms and propensities,
// window sums, the two sequence scorers and the sequence p-score table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dyn.h"
#include "scscore.h"

namespace {
constexpr double NEG_INF = -std::numeric_limits<double>::infinity();

// Probability tables filled with arbitrary values, so that every term differs.
void random_tables(unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-4.0, 0.0);
    for (auto &v : gprobs) v = u(rng);
    for (auto &a : gprobp) for (auto &b : a) for (auto &v : b) v = u(rng);
    for (auto &a : pprobs) for (auto &v : a) v = u(rng);
    for (auto &a : pprobp) for (auto &b : a) for (auto &c : b) for (auto &v : c) v = u(rng);
}

std::vector<int8_t> random_seq(int n, unsigned seed, int limit = PROLINE)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(0, limit - 1);
    std::vector<int8_t> s(n);
    for (auto &c : s) c = int8_t(d(rng));
    return s;
}

double single_logodds(const int8_t *seq, int i, int offs)
{
    return pprobs[seq[i]][getoffs(i, offs)] - gprobs[seq[i]];
}

double term(const int8_t *seq, int x, int dist, int offs)
{
    int y = x + dist + 1;
    return lpropensity_term(x, y, getoffs(x, offs), getoffs(y, offs), int8_t(dist), seq);
}

// Settings restored after every test, since the scorers share globals.
struct Scoring : ::testing::Test {
    void SetUp() override { WINDOW = 30; window_length = 28; functnum = 3; }
    void TearDown() override { SetUp(); }
};

int32_t zeros_s[NAA][NREG], totals_s[NREG];
int32_t zeros_p[NAA][NAA][NREG][NREG], totals_p[NREG][NREG];
double probs_s[NAA][NREG], probs_p[NAA][NAA][NREG][NREG];
}  // namespace

// ---- The model -----------------------------------------------------------------

TEST(Model, LogsAndGeneralTables)
{
    EXPECT_EQ(getlog(0), LOGZERO);
    EXPECT_EQ(getlog(1), 0.0);
    EXPECT_EQ(getdlog(0.0), LOGZERO);
    EXPECT_EQ(getdlog(1e-300), std::log(1e-300));

    int32_t freqs[NAA] = {500};
    double probs[NAA];
    EXPECT_EQ(calcgprobs(freqs, 1000, probs), 1);
    EXPECT_DOUBLE_EQ(probs[0], std::log(0.5));
    EXPECT_NEAR(probs[1], -2806.9078, 1e-4);

    static int32_t freqp[NAA][NAA][NREG];
    int32_t totalp[NREG] = {0, 0, 0, 40};
    freqp[2][5][3] = 10;
    static double probp[NAA][NAA][NREG];
    calcgprobp(freqp, totalp, probp);
    EXPECT_EQ(probp[2][5][3], std::log(10.0) - std::log(40.0));
    EXPECT_EQ(probp[5][2][3], LOGZERO - std::log(40.0));
    EXPECT_EQ(probp[5][2][0], 0.0);  // 0 over a total of 0: LOGZERO - LOGZERO
}

TEST(Model, SinglesSmoothingAndNormalisation)
{
    std::memset(zeros_s, 0, sizeof zeros_s);
    std::memset(totals_s, 0, sizeof totals_s);
    // register 0: nothing counted; 1: total 10; 2: total 2; 3: total 0 over a
    // count; 4: a negative count taken as it is
    zeros_s[0][1] = 10; totals_s[1] = 10;
    zeros_s[0][2] = 2;  totals_s[2] = 2;
    zeros_s[0][3] = 5;
    zeros_s[0][4] = 20; zeros_s[1][4] = -10; totals_s[4] = 10;
    EXPECT_EQ(calcpprobs(zeros_s, totals_s, probs_s, 0), 1);
    for (int x = 0; x < NAA; x++) {
        EXPECT_NEAR(probs_s[x][0], -2.9957, 1e-4);
        EXPECT_DOUBLE_EQ(probs_s[x][3], std::log(1.0 / 20));
    }
    EXPECT_NEAR(probs_s[0][1], std::log(1.0 / 1.38), 1e-12);   // 1 + 19 * 0.02
    EXPECT_NEAR(probs_s[1][1], std::log(0.02 / 1.38), 1e-12);
    EXPECT_NEAR(probs_s[1][2], std::log(0.05 / 1.95), 1e-12);  // 1 + 19 * 0.05
    EXPECT_NEAR(probs_s[0][4], std::log(2.0 / 1.36), 1e-12);   // 2 - 1 + 18 * 0.02
    EXPECT_TRUE(std::isnan(probs_s[1][4]));

    calcpprobs(zeros_s, totals_s, probs_s, 1);
    for (int x = 0; x < PROLINE; x++) EXPECT_NEAR(probs_s[x][0], -2.9444, 1e-4);
    for (int r = 0; r < NREG; r++) EXPECT_EQ(probs_s[PROLINE][r], LOGZERO);
}

TEST(Model, ProlineFreeTablesSumToOneAndRepeat)
{
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> d(0, 30);
    std::memset(totals_s, 0, sizeof totals_s);
    std::memset(totals_p, 0, sizeof totals_p);
    for (int x = 0; x < NAA; x++)
        for (int r = 0; r < NREG; r++) totals_s[r] += zeros_s[x][r] = d(rng) < 5 ? 0 : d(rng);
    for (int x = 0; x < NAA; x++)
        for (int y = 0; y < NAA; y++)
            for (int p = 0; p < NREG; p++)
                for (int q = 0; q < NREG; q++) totals_p[p][q] += zeros_p[x][y][p][q] = d(rng) < 15 ? 0 : d(rng);
    calcpprobs(zeros_s, totals_s, probs_s, 1);
    calcpprobp(zeros_p, totals_p, probs_s, probs_p, 1);
    for (int r = 0; r < NREG; r++) {
        double sum = 0;
        for (int x = 0; x < PROLINE; x++) sum += std::exp(probs_s[x][r]);
        EXPECT_NEAR(sum, 1.0, 1e-12);
    }
    for (int p = 0; p < NREG; p++)
        for (int q = 0; q < NREG; q++) {
            double sum = 0;
            for (int x = 0; x < NAA; x++)
                for (int y = 0; y < NAA; y++) {
                    if (x == PROLINE || y == PROLINE) EXPECT_EQ(probs_p[x][y][p][q], LOGZERO);
                    else sum += std::exp(probs_p[x][y][p][q]);
                }
            EXPECT_NEAR(sum, 1.0, 1e-12);
        }
    static double again[NAA][NAA][NREG][NREG];
    double again_s[NAA][NREG];
    calcpprobs(zeros_s, totals_s, again_s, 1);
    calcpprobp(zeros_p, totals_p, again_s, again, 1);
    EXPECT_EQ(std::memcmp(again_s, probs_s, sizeof again_s), 0);
    EXPECT_EQ(std::memcmp(again, probs_p, sizeof again), 0);
}

TEST(Model, PairSmoothingTakesTheSmallestBound)
{
    // Only residue 0 in register 0 and residue 1 in register 1 are likely, so
    // every unseen pair but (0, 1) gets a product of 0.
    for (auto &a : probs_s) for (auto &v : a) v = LOGZERO;
    probs_s[0][0] = std::log(0.01);
    probs_s[1][1] = std::log(0.02);
    std::memset(zeros_p, 0, sizeof zeros_p);
    std::memset(totals_p, 0, sizeof totals_p);
    zeros_p[2][2][0][1] = 10; totals_p[0][1] = 10;     // 1 / 50 is above the product
    zeros_p[2][2][0][0] = 7;                          // total 0 under a count
    calcpprobp(zeros_p, totals_p, probs_s, probs_p, 0);
    EXPECT_NEAR(std::exp(probs_p[0][1][0][1]), 0.0002 / 1.0002, 1e-15);
    EXPECT_NEAR(std::exp(probs_p[2][2][0][1]), 1.0 / 1.0002, 1e-15);
    EXPECT_EQ(probs_p[3][4][0][1], LOGZERO);
    // (0, 0) in registers (0, 0) has 0.01 * 0.01 below 0.0025; the counted
    // pair under a total of 0 is smoothed like the rest, to a product of 0.
    EXPECT_NEAR(std::exp(probs_p[0][0][0][0]), 1.0, 1e-12);
    EXPECT_EQ(probs_p[2][2][0][0], LOGZERO);
    // 0.0025 caps the product when both residues are common
    probs_s[0][0] = probs_s[1][1] = std::log(0.9);
    calcpprobp(zeros_p, totals_p, probs_s, probs_p, 0);
    EXPECT_NEAR(std::exp(probs_p[0][1][0][1]), 0.0025 / 1.0025, 1e-15);
}

// ---- Building blocks --------------------------------------------------------------

TEST(Blocks, RegistersAndPairTerm)
{
    EXPECT_EQ(getoffs(13, 3), 2);
    EXPECT_EQ(getoffs(0, 0), 0);
    EXPECT_EQ(getoffs(19999, 6), (19999 + 6) % 7);

    int8_t seq[] = {4, 9, 7};
    pprobp[4][7][2][3] = 1.5;  // x = 0 in register 2, y = 2 in register 3, class 1
    gprobp[4][7][1] = 0.25;
    pprobs[7][3] = 0.75;
    gprobs[7] = 0.5;
    EXPECT_EQ(lpropensity_term(0, 2, 2, 3, 1, seq), 1.0);
}

TEST(Blocks, Segments)
{
    auto cut = [](std::vector<int8_t> s, int pfw) {
        std::vector<std::pair<int, int>> out;
        int32_t st = -7, en = 0;
        while (subsequence_advance(&st, &en, s.data(), int32_t(s.size()), pfw)) out.push_back({st, en});
        int32_t st2 = st, en2 = en;
        EXPECT_EQ(subsequence_advance(&st2, &en2, s.data(), int32_t(s.size()), pfw), 0);
        EXPECT_EQ(st2, st);
        EXPECT_EQ(en2, en);
        return out;
    };
    using V = std::vector<std::pair<int, int>>;
    EXPECT_EQ(cut({0, 0, 19, 0, 0}, 0x100), (V{{0, 2}, {3, 5}}));
    EXPECT_EQ(cut({0, 0, 19, 0, 0}, 0), (V{{0, 5}}));
    EXPECT_EQ(cut({20, 3, 21, 19, 21, 5, 6}, 0), (V{{1, 2}, {3, 4}, {5, 7}}));
    EXPECT_EQ(cut({1, -1, 2}, 0), (V{{0, 1}, {2, 3}}));
    EXPECT_EQ(cut({20, 19, 21}, 1), V{});  // nothing admissible: *st untouched (-7)
}

// ---- Propensities and window sums ------------------------------------------------------

TEST_F(Scoring, PropensityTailWithClassesOneAndTwo)
{
    random_tables(1);
    auto seq = random_seq(60, 2);
    const int8_t lib[7] = {1, 2};
    functnum = 2;
    std::vector<double> r(60, 99.0);
    for (int offs : {0, 3}) {
        get_respropl(r.data(), seq.data(), 5, 35, offs, lib);
        const int8_t *s = seq.data();
        for (int x = 5; x <= 31; x++)
            ASSERT_EQ(r[x], (0.0 + term(s, x, 1, offs) / 2) + term(s, x, 2, offs) / 2) << x;
        EXPECT_EQ(r[32], term(s, 32, 1, offs));  // the class-2 partner would be 35
        EXPECT_EQ(r[33], single_logodds(s, 33, offs));
        EXPECT_EQ(r[34], single_logodds(s, 34, offs));
        EXPECT_EQ(r[4], 99.0);
        EXPECT_EQ(r[35], 99.0);
    }
}

TEST_F(Scoring, PropensityWithAllClassesZero)
{
    random_tables(4);
    auto seq = random_seq(30, 5);
    const int8_t lib[7] = {0, 0, 0};
    std::vector<double> r(30);
    get_respropl(r.data(), seq.data(), 0, 30, 6, lib);
    for (int x = 0; x < 29; x++) {
        double t = term(seq.data(), x, 0, 6);
        ASSERT_EQ(r[x], ((0.0 + t / 3) + t / 3) + t / 3);
    }
    EXPECT_EQ(r[29], single_logodds(seq.data(), 29, 6));
}

TEST_F(Scoring, WindowSumsAreRunningSums)
{
    random_tables(6);
    auto seq = random_seq(60, 7);
    const int8_t lib[7] = {0, 2, 3};
    std::vector<double> r(60), w(60, 99.0);
    get_respropl(r.data(), seq.data(), 10, 50, 2, lib);
    get_winscores(w.data(), seq.data(), 10, 50, 2, lib);
    double s = 0;
    for (int k = 10; k < 40; k++) s += r[k];
    EXPECT_EQ(w[10], s);
    for (int i = 11; i <= 20; i++) {
        s -= r[i - 1];  // one subtraction and one addition per step
        s += r[i + 29];
        ASSERT_EQ(w[i], s) << i;
    }
    EXPECT_EQ(w[9], 99.0);
    EXPECT_EQ(w[21], 99.0);

    std::fill(w.begin(), w.end(), 99.0);
    get_winscores(w.data(), seq.data(), 10, 40, 2, lib);  // exactly one window
    EXPECT_NE(w[10], 99.0);
    EXPECT_EQ(w[11], 99.0);
}

// ---- Pair scoring ------------------------------------------------------------------

namespace {
double scs[MAXSEQ][NREG];
int8_t offs[MAXSEQ];
}  // namespace

TEST_F(Scoring, ShortSegmentsAreSkipped)
{
    random_tables(8);
    const int8_t lib[7] = {0, 2, 3};
    auto seq = random_seq(40, 9);
    seq[20] = PROLINE;
    double maxscore = 0;
    for (int wl : {28, 21}) {
        window_length = wl;
        ASSERT_EQ(scseqadj(lib, seq.data(), 40, scs, offs, &maxscore, 0x100), 1);
        EXPECT_EQ(maxscore, NEG_INF);
        for (int i = 0; i < 40; i++) {
            EXPECT_EQ(offs[i], 0);
            for (int o = 0; o < NREG; o++) EXPECT_EQ(scs[i][o], NEG_INF);
        }
    }
    // Without the proline-free option the whole sequence is one segment with
    // 30-residue windows.
    ASSERT_EQ(scseqadj(lib, seq.data(), 40, scs, offs, &maxscore, 0), 1);
    double best = NEG_INF;
    for (int o = 0; o < NREG; o++) {
        double ws[40], m[40];
        get_winscores(ws, seq.data(), 0, 40, o, lib);
        max_over_windows(m, ws, 40, 30);
        for (int i = 0; i < 40; i++) ASSERT_EQ(scs[i][o], m[i]);
    }
    for (int i = 0; i < 40; i++) {
        for (int o = 0; o < NREG; o++) {
            EXPECT_LE(scs[i][o], scs[i][offs[i]]);
            if (o < offs[i]) {
                EXPECT_LT(scs[i][o], scs[i][offs[i]]);
            }
        }
        best = std::max(best, scs[i][offs[i]]);
    }
    EXPECT_EQ(maxscore, best);
    EXPECT_EQ(WINDOW, 30);
}

TEST_F(Scoring, SegmentBelowWindowIsOneWindow)
{
    random_tables(10);
    const int8_t lib[7] = {0, 2, 3};
    auto seq = random_seq(45, 11);
    seq[3] = 21;  // segment [4, 33) of 29 residues, then [34, 45) too short
    seq[33] = 20;
    std::fill(&scs[0][0], &scs[0][0] + 50 * NREG, 7.0);
    double maxscore = 0;
    ASSERT_EQ(scseqadj(lib, seq.data(), 45, scs, offs, &maxscore, 1), 1);
    EXPECT_EQ(WINDOW, 30);
    EXPECT_EQ(scs[45][0], 7.0);
    for (int o = 0; o < NREG; o++) {
        std::vector<double> r(45);
        get_respropl(r.data(), seq.data(), 4, 33, o, lib);
        double s = 0;
        for (int i = 4; i < 33; i++) s += r[i];
        for (int i = 4; i < 33; i++) ASSERT_EQ(scs[i][o], s);
        for (int i : {0, 3, 33, 44}) EXPECT_EQ(scs[i][o], NEG_INF);
    }
    for (int i = 5; i < 33; i++) EXPECT_EQ(offs[i], offs[4]);
    EXPECT_EQ(maxscore, scs[4][offs[4]]);

    // Below window_length: refused, nothing written
    window_length = 28;
    scs[0][0] = 7.0;
    EXPECT_EQ(scseqadj(lib, seq.data(), 27, scs, offs, &maxscore, 1), 0);
    EXPECT_EQ(scs[0][0], 7.0);
}

TEST_F(Scoring, TiesKeepTheLowestOffset)
{
    // Tables that ignore the register make all seven offsets score alike.
    random_tables(12);
    for (int a = 0; a < NAA; a++) {
        for (int r = 0; r < NREG; r++) pprobs[a][r] = pprobs[a][0];
        for (int b = 0; b < NAA; b++)
            for (int p = 0; p < NREG; p++)
                for (int q = 0; q < NREG; q++) pprobp[a][b][p][q] = pprobp[a][b][0][0];
    }
    const int8_t lib[7] = {0, 2, 3};
    auto seq = random_seq(50, 13);
    double maxscore;
    ASSERT_EQ(scseqadj(lib, seq.data(), 50, scs, offs, &maxscore, 1), 1);
    for (int i = 0; i < 50; i++) EXPECT_EQ(offs[i], 0);
}

// ---- Stock scoring -------------------------------------------------------------------

TEST_F(Scoring, StockScoring)
{
    initialize_relative();  // the one conversion of this test program
    EXPECT_EQ(relative_entry(0, 0), std::log(3.167));
    EXPECT_EQ(relative_entry(PROLINE, 0), LOGZERO);
    EXPECT_EQ(relative_entry(18, 1), LOGZERO);
    EXPECT_EQ(relative_entry(PROLINE, 1), std::log(0.008));

    WINDOW = 28;
    std::vector<int8_t> leu(28, 0);
    double maxscore = 0;
    ASSERT_EQ(scorestock(leu.data(), 28, scs, offs, &maxscore, 0x100), 1);
    const double heptad = std::log(0.297) + std::log(0.398) + std::log(0.585) + std::log(0.501) +
                          std::log(0.483);
    const double expect = 4 * std::log(3.167) + 4 * std::log(3.902) + 4 * heptad;
    for (int i = 0; i < 28; i++) EXPECT_NEAR(scs[i][0], expect, 1e-12);
    EXPECT_EQ(WINDOW, 28);

    // A tryptophan in register b drags every window holding it down by 2800.
    std::vector<int8_t> s(40, 0);
    s[1] = 18;
    double ws[40];
    singles_windows(ws, s.data(), 0, 40, 0);
    EXPECT_LT(ws[0], -2700);
    EXPECT_GT(ws[2], -100);

    // 27 residues: refused, nothing written
    scs[0][0] = 5.0;
    EXPECT_EQ(scorestock(leu.data(), 27, scs, offs, &maxscore, 0x100), 0);
    EXPECT_EQ(scs[0][0], 5.0);

    // segments all below WINDOW: scored as nothing
    std::vector<int8_t> split(40, 0);
    split[20] = PROLINE;
    ASSERT_EQ(scorestock(split.data(), 40, scs, offs, &maxscore, 1), 1);
    EXPECT_EQ(maxscore, NEG_INF);
    EXPECT_EQ(scs[10][3], NEG_INF);
    // without the proline-free option the proline is scored, window unchanged
    ASSERT_EQ(scorestock(split.data(), 40, scs, offs, &maxscore, 0), 1);
    EXPECT_GT(maxscore, NEG_INF);
    EXPECT_EQ(WINDOW, 28);
}

// ---- Sequence p-score ---------------------------------------------------------------------

TEST_F(Scoring, PscoreTablesHoldTheCalibrationRows)
{
    struct Row { int k; int c28; double p28; int c21; double p21; };
    const Row rows[] = {
        {0, 0, 0, 0, 0},                       {1, 0, 0, 1, 0.000158},
        {90, 0, 0, 2, 0.000316},               {91, 1, 0.00016, 3, 0.000474},
        {239, 22, 0.003525, 27, 0.004265},     {339, 64, 0.010253, 77, 0.012162},
        {439, 205, 0.032842, 233, 0.036803},   {539, 799, 0.128004, 844, 0.133312},
        {589, 1948, 0.312079, 2000, 0.315906}, {616, 3077, 0.492951, 3131, 0.494551},
        {617, 3127, 0.500961, 3181, 0.502448}, {639, 4184, 0.670298, 4247, 0.670826},
        {689, 5842, 0.935918, 5925, 0.935871}, {739, 6206, 0.994233, 6295, 0.994314},
        {789, 6239, 0.999519, 6328, 0.999526}, {804, 6241, 0.99984, 6330, 0.999842},
        {805, 6242, 1, 6331, 1},               {812, 6242, 1, 6331, 1},
    };
    for (int wl : {28, 21}) {
        window_length = wl;
        for (const Row &r : rows) {
            EXPECT_EQ(pscore_table_entry(r.k, 1), wl == 28 ? r.p28 : r.p21) << wl << " row " << r.k;
            EXPECT_EQ(seq_scr2pscr(pscore_table_entry(r.k, 0) - 0.05), wl == 28 ? r.p28 : r.p21);
        }
        double prev = 0;
        char buf[32];
        for (int k = 0; k < n_pscores; k++) {
            std::snprintf(buf, sizeof buf, "%.1f", -63.9 + 0.1 * k);
            ASSERT_EQ(pscore_table_entry(k, 0), std::strtod(buf, nullptr)) << k;
            double p = pscore_table_entry(k, 1);
            std::snprintf(buf, sizeof buf, "%.6f", p);
            ASSERT_EQ(p, std::strtod(buf, nullptr)) << k;
            ASSERT_GE(p, prev) << k;
            prev = p;
        }
    }
    // an unlisted row: 21 * 74 / 148 = 10.5 more counts than row 91, rounded up
    window_length = 28;
    EXPECT_EQ(pscore_table_entry(165, 1), 0.001922);  // 12 / 6242
}

TEST_F(Scoring, PscoreLookup)
{
    for (int wl : {28, 21}) {
        window_length = wl;
        const bool w28 = wl == 28;
        EXPECT_EQ(seq_scr2pscr(-100.0), 0.0);
        EXPECT_EQ(seq_scr2pscr(NEG_INF), 0.0);
        EXPECT_EQ(seq_scr2pscr(-63.9), w28 ? 0.0 : 0.000158);
        EXPECT_EQ(seq_scr2pscr(-2.25), w28 ? 0.500961 : 0.502448);
        EXPECT_EQ(seq_scr2pscr(-2.3), w28 ? 0.500961 : 0.502448);
        EXPECT_EQ(seq_scr2pscr(16.45), w28 ? 0.99984 : 0.999842);
        EXPECT_EQ(seq_scr2pscr(16.5), 1.0);
        EXPECT_EQ(seq_scr2pscr(17.3), 1.0);
        EXPECT_EQ(seq_scr2pscr(1e300), 1.0);
        EXPECT_EQ(seq_scr2pscr(std::nan("")), 1.0);
    }
}

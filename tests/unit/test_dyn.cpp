// Unit tests of max_over_windows: the block method against the plain definition.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "dyn.h"
#include "velcorin2.h"

namespace {
// maxima[p] by definition: the best window lying inside the stretch and holding p.
std::vector<double> naive(const std::vector<double> &ws, int n, int w)
{
    std::vector<double> out(n);
    for (int p = 0; p < n; p++) {
        double m = -std::numeric_limits<double>::infinity();
        for (int q = std::max(0, p - w + 1); q <= std::min(p, n - w); q++) m = std::max(m, ws[q]);
        out[p] = m;
    }
    return out;
}

// Runs the block method on a copy whose unused tail holds NaN, so a read
// beyond the last window shows up in the result.
std::vector<double> blocks(std::vector<double> ws, int n, int w)
{
    for (int q = n - w + 1; q < n; q++) ws[q] = std::nan("");
    std::vector<double> out(n, 12345.0);
    max_over_windows(out.data(), ws.data(), n, w);
    return out;
}
}  // namespace

TEST(MaxOverWindows, MatchesDefinitionForEveryWindowLength)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> small(-5, 5);  // many equal values
    std::normal_distribution<double> wide(0.0, 10.0);
    for (int n : {1, 2, 3, 5, 7, 10, 29, 30, 31, 64, 97}) {
        for (int w = 1; w <= n; w++) {
            for (int trial = 0; trial < 3; trial++) {
                std::vector<double> ws(n);
                for (double &v : ws) v = trial == 0 ? small(rng) : wide(rng);
                ASSERT_EQ(blocks(ws, n, w), naive(ws, n, w)) << "n=" << n << " w=" << w;
            }
        }
    }
}

TEST(MaxOverWindows, SmallExamples)
{
    // window 3 over 7 positions
    EXPECT_EQ(blocks({1, 5, 2, 0, 3, 0, 0}, 7, 3), (std::vector<double>{1, 5, 5, 5, 3, 3, 3}));
    // one window
    EXPECT_EQ(blocks({4, 0, 0, 0}, 4, 4), (std::vector<double>{4, 4, 4, 4}));
    // window 1: every position keeps its own score
    EXPECT_EQ(blocks({3, -1, 2}, 3, 1), (std::vector<double>{3, -1, 2}));
    // two windows: the ends see one each, the middle the larger
    EXPECT_EQ(blocks({-2, 6, 0, 0, 0}, 5, 4), (std::vector<double>{-2, 6, 6, 6, 6}));
    EXPECT_EQ(blocks({6, -2, 0, 0, 0}, 5, 4), (std::vector<double>{6, 6, 6, 6, -2}));
}

TEST(MaxOverWindows, FullCapacityAndMinusInfinity)
{
    std::mt19937 rng(11);
    std::normal_distribution<double> d(0.0, 1.0);
    for (int w : {1, 30, 6999, MAXSEQ}) {
        std::vector<double> ws(MAXSEQ);
        for (double &v : ws) v = d(rng);
        ws[0] = -std::numeric_limits<double>::infinity();
        ASSERT_EQ(blocks(ws, MAXSEQ, w), naive(ws, MAXSEQ, w)) << "w=" << w;
    }
}

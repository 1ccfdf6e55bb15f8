// Unit tests of max_over_windows: the block method against the plain definition.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "dyn.h"
#include "velcorin2.h"

namespace {
// maxima[p] by definition is the best window lying inside the stretch and
// holding p.  The unused tail holds +inf, so a read beyond the last window shows.
void check(std::vector<double> ws, int n, int w)
{
    for (int q = n - w + 1; q < n; q++) ws[q] = INFINITY;
    std::vector<double> got(n, 12345.0);
    max_over_windows(got.data(), ws.data(), n, w);
    for (int p = 0; p < n; p++) {
        double m = -INFINITY;
        for (int q = std::max(0, p - w + 1); q <= std::min(p, n - w); q++) m = std::max(m, ws[q]);
        ASSERT_EQ(got[p], m) << "n=" << n << " w=" << w << " p=" << p;
    }
}
}  // namespace

TEST(MaxOverWindows, MatchesDefinitionForEveryWindowLength)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> small(-5, 5);  // many ties
    std::normal_distribution<double> wide(0.0, 10.0);
    for (int n : {1, 2, 3, 5, 7, 29, 30, 31, 64, 97})
        for (int w = 1; w <= n; w++)
            for (int trial = 0; trial < 2; trial++) {
                std::vector<double> ws(n);
                for (double &v : ws) v = trial == 0 ? small(rng) : wide(rng);
                ASSERT_NO_FATAL_FAILURE(check(ws, n, w));
            }
    for (int w : {1, 30, 6999, MAXSEQ}) {  // full capacity, minus infinity first
        std::vector<double> ws(MAXSEQ);
        for (double &v : ws) v = wide(rng);
        ws[0] = -INFINITY;
        ASSERT_NO_FATAL_FAILURE(check(ws, MAXSEQ, w));
    }
}

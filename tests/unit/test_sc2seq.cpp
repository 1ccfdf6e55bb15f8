// The stretch walk of register-file runs: maximal runs of amino acids with a
// given register, resumed where the last one ended.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sc2seq.h"
#include "velcorin2.h"

namespace {

std::vector<std::pair<int, int>> stretches(const std::vector<int8_t> &seq, const std::string &reg, int posp)
{
    std::vector<int8_t> r(reg.begin(), reg.end());
    std::vector<std::pair<int, int>> out;
    int st = -7, en = 0;
    while (nondot_advance(&st, &en, seq.data(), r.data(), int(seq.size()), posp)) out.emplace_back(st, en);
    return out;
}

}  // namespace

TEST(NondotAdvance, StretchesOfGivenRegisters)
{
    // A "." and a residue numbered 20 or more each split a stretch.
    std::vector<int8_t> seq = {0, 1, 2, 3, 20, 4, 5, 6, 7, 8, 9};
    std::string reg = {0, 1, 2, 3, 4, 5, '.', 0, 1, '.', '.'};
    using P = std::pair<int, int>;
    EXPECT_EQ(stretches(seq, reg, 1), (std::vector<P>{{0, 4}, {5, 6}, {7, 9}}));

    // Nothing given: no stretch, and the out-values stay as they were.
    std::string none(seq.size(), '.');
    int st = -7, en = 0;
    EXPECT_EQ(nondot_advance(&st, &en, seq.data(), reinterpret_cast<const int8_t *>(none.data()), 11, 1), 0);
    EXPECT_EQ(st, -7);
    EXPECT_EQ(en, 0);
}

TEST(NondotAdvance, WholeSequenceWithoutRegisters)
{
    std::vector<int8_t> seq(5, 0);
    using P = std::pair<int, int>;
    EXPECT_EQ(stretches(seq, std::string(5, '.'), 0), (std::vector<P>{{0, 5}}));
}

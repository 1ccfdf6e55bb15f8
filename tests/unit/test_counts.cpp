// The counting tool's overflow guard: no count passes INT32_MAX.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

// The tool's internals (its main() is left out by VELCORIN2_COUNTS_NO_MAIN).
#include "../../tools/velcorin2_counts.cpp"

namespace {

TEST(Counts, NoCountPassesInt32Max)
{
    const int8_t seq[] = {aanum('K'), aanum('A'), aanum('A'), aanum('A'), aanum('E')};
    auto g = std::make_unique<GenTables>();
    g->freqp[aanum('K')][aanum('E')][3] = INT32_MAX;  // any one count, even above its total
    EXPECT_EQ(add_genseq(&g->totals, g->freqs, g->totalp, g->freqp, seq, 5), 0);
    EXPECT_EQ(g->freqp[aanum('K')][aanum('E')][3], INT32_MAX);
    g->totals = INT32_MAX - 1;
    EXPECT_EQ(add_genseq(&g->totals, g->freqs, g->totalp, g->freqp, seq, 1), 1);
    EXPECT_EQ(add_genseq(&g->totals, g->freqs, g->totalp, g->freqp, seq, 1), 0);
    EXPECT_EQ(g->totals, INT32_MAX);

    // add_seq2 wraps; add_posrecord sees a total go down.  Register a comes twice in the record.
    Sequence s = make_sequence();
    s.seqlen = 9;
    for (int i = 0; i < 9; i++) seqbuf[i] = aanum("LIVLIVLIV"[i]), regbuf[i] = int8_t(i % 7);
    auto p = std::make_unique<PosTables>();
    for (auto [total, start, ok] : {std::tuple(&p->totals[0], INT32_MAX - 2, true),
                                    std::tuple(&p->totals[0], INT32_MAX - 1, false),
                                    std::tuple(&p->totalp[0][1], INT32_MAX, false)}) {
        std::memset(p.get(), 0, sizeof *p);
        *total = start;
        EXPECT_EQ(add_posrecord(*p, s), ok) << start;
    }
}

}  // namespace

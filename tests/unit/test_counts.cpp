// The GenFreq counting (add_genseq) and the counting tool's overflow guard.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "scio.h"
#include "scpos.h"

// The tool's internals (its main() is left out by VELCORIN2_COUNTS_NO_MAIN).
#include "../../tools/velcorin2_counts.cpp"

namespace {

struct Gen {
    int32_t totals = 0;
    int32_t freqs[NAA] = {};
    int32_t totalp[NREG] = {};
    int32_t freqp[NAA][NAA][NREG] = {};
    int add(const std::string &letters)
    {
        int8_t seq[64];
        for (size_t i = 0; i < letters.size(); i++) seq[i] = aanum(int8_t(letters[i]));
        return add_genseq(&totals, freqs, totalp, freqp, seq, int32_t(letters.size()));
    }
    long pairs() const
    {
        long n = 0;
        for (auto &a : freqp)
            for (auto &b : a)
                for (int32_t v : b) n += v;
        return n;
    }
};

int8_t aa(char c) { return aanum(int8_t(c)); }

TEST(AddGenseq, CountsResiduesAndPairsByDistanceClass)
{
    Gen g;
    // L I X V P: X is not counted and does not stop a pair across it;
    // proline is counted like any residue in the background.
    EXPECT_EQ(g.add("LIXVP"), 1);
    EXPECT_EQ(g.totals, 4);
    EXPECT_EQ(g.freqs[aa('L')], 1);
    EXPECT_EQ(g.freqs[PROLINE], 1);
    EXPECT_EQ(g.freqp[aa('L')][aa('I')][0], 1);
    EXPECT_EQ(g.freqp[aa('L')][aa('V')][2], 1);  // three apart, across the X
    EXPECT_EQ(g.freqp[aa('L')][PROLINE][3], 1);
    EXPECT_EQ(g.freqp[aa('I')][aa('L')][0], 0);  // pairs are ordered
    EXPECT_EQ(g.totalp[0], 2);                   // L-I, V-P; nothing with X
    EXPECT_EQ(g.totalp[1], 1);
    EXPECT_EQ(g.totalp[2], 2);
    EXPECT_EQ(g.totalp[3], 1);
    EXPECT_EQ(g.pairs(), 6);
}

TEST(AddGenseq, PairsReachSevenApartAndNoFurther)
{
    Gen g;
    ASSERT_EQ(g.add("AAAAAAAAAAA"), 1);  // 11 residues
    for (int d = 0; d < NREG; d++) EXPECT_EQ(g.totalp[d], 11 - d - 1) << d;
    EXPECT_EQ(g.pairs(), 10 + 9 + 8 + 7 + 6 + 5 + 4);
    // Pairs never cross from one record into the next.
    Gen two;
    two.add("AAAAA");
    two.add("AAAAAA");
    EXPECT_EQ(two.totalp[4], 1);
    EXPECT_EQ(two.totalp[5], 0);
}

TEST(AddGenseq, RefusesACountPastInt32Max)
{
    Gen g;
    g.totals = INT32_MAX - 1;
    EXPECT_EQ(g.add("L"), 1);
    EXPECT_EQ(g.totals, INT32_MAX);
    EXPECT_EQ(g.add("L"), 0);
    EXPECT_EQ(g.totals, INT32_MAX);  // never wrapped

    // Any single count, even one above its total in a hand-made table.
    Gen p;
    p.freqp[aa('K')][aa('E')][3] = INT32_MAX;
    EXPECT_EQ(p.add("KAAAE"), 0);
    EXPECT_EQ(p.freqp[aa('K')][aa('E')][3], INT32_MAX);
}

// The tool's PosFreq counting: add_seq2 wraps, so the tool watches the totals.
struct PosRecord {
    int8_t seq[16], reg[16];
    char title[1] = "", code[2] = "r";
    Sequence s{0, seq, reg, title, code};
    PosRecord(const char *letters, const char *regs)
    {
        s.seqlen = int32_t(std::strlen(letters));
        for (int i = 0; i < s.seqlen; i++) {
            seq[i] = aanum(int8_t(letters[i]));
            reg[i] = regs[i] == '.' ? NOREG : int8_t(regs[i] - 'a');
        }
    }
};

TEST(AddPosrecord, CountsAsAddSeq2AndStopsBeforeAWrap)
{
    static PosTables t, ref;
    std::memset(&t, 0, sizeof t);
    std::memset(&ref, 0, sizeof ref);
    PosRecord r("LIVLIVLIV", "abcdefgab");
    ASSERT_TRUE(add_posrecord(t, r.s));
    add_seq2(ref.freqs, ref.totals, ref.freqp, ref.totalp, r.reg, r.seq, r.s.seqlen, 1);
    EXPECT_EQ(std::memcmp(&t, &ref, sizeof t), 0);

    // Register a is met twice per record: one short of the limit overflows.
    t.totals[0] = INT32_MAX - 1;
    EXPECT_FALSE(add_posrecord(t, r.s));
    // A register-pair total alone, with the single totals far from the limit.
    std::memset(&t, 0, sizeof t);
    t.totalp[0][1] = INT32_MAX;
    EXPECT_FALSE(add_posrecord(t, r.s));
    // Exactly reaching the limit is fine.
    std::memset(&t, 0, sizeof t);
    t.totals[0] = INT32_MAX - 2;
    EXPECT_TRUE(add_posrecord(t, r.s));
    EXPECT_EQ(t.totals[0], INT32_MAX);
}

}  // namespace

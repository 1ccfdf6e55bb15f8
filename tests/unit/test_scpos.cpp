// Register-file reading (getpos) and the register-pair counting (add_seq2).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "scio.h"
#include "scpos.h"

namespace {

const std::string kWarn = "erroneous .pos file!\n";
int8_t seq[MAXSEQ], reg[MAXSEQ];
char title[NAMELEN], code[NAMELEN];
Sequence rec{0, seq, reg, title, code};

// Each record of `text` as "code|title|residues|registers|stderr", then "end|stderr".
std::vector<std::string> records(std::string text)
{
    FILE *fl = fmemopen(text.data(), text.size(), "r");
    std::vector<std::string> out;
    for (bool got = true; got;) {
        testing::internal::CaptureStderr();
        got = getpos(fl, &rec) == 1;
        std::string err = testing::internal::GetCapturedStderr(), r = std::string(code) + "|" + title + "|", regs;
        for (int i = 0; i < rec.seqlen; i++)
            r += char(numaa(seq[i])), regs += reg[i] == NOREG ? '.' : char(numpos(reg[i]));
        out.push_back(got ? r + "|" + regs + "|" + err : "end|" + err);
    }
    std::fclose(fl);
    return out;
}

TEST(Getpos, ReadsRecordsCutsOverlongPartsAndWarnsOncePerBadRecord)
{
    std::string res(MAXSEQ + 5, 'L'), regs, c(1500, 'c'), t(2000, 't');
    for (int i = 0; i < MAXSEQ + 5; i++) regs += char('a' + i % 7);
    const std::string big = "|t|" + res.substr(0, MAXSEQ) + "|" + regs.substr(0, MAXSEQ) + "|Sequence ";
    EXPECT_EQ(records("junk\n>" + c + "\n" + t + "\nMK*\nab*\n>BIG\nt\n" + res + "*\n" + regs + "*\n" +
                      ">SHORTREG\nt\n" + res + "*\n" + regs.substr(0, MAXSEQ) + "*\n>P1\nA test\nMKLV*\nabcd*\n" +
                      ">P2 more\n\nm k-x\n1 2Bz l*\nd E1e.\nf g\n*\n>P3\nt\nMKLV*\nabc*\n" +
                      ">P4\nt\nMKLVA*\nahbzc*\n>P5\nt\nMK*\nhhh*\n>P6\nt\nMK*\nab"),
              (std::vector<std::string>{
                  c.substr(0, NAMELEN - 1) + "|" + t.substr(0, NAMELEN - 1) + "|MK|ab|",
                  "BIG" + big + "BIG truncated to 20000 residues\n",  // the full counts agree
                  "SHORTREG" + big + "SHORTREG truncated to 20000 residues\n" + kWarn, "P1|A test|MKLV|abcd|",
                  "P2 more||MK-XL|de.fg|",  // case folded; digits, blanks, B and Z skipped
                  "P3|t|MKLV|abc.|" + kWarn,  // not the "d" of the record before
                  "P4|t|MKLVA|a.b.c|" + kWarn, "P5|t|MK|..|" + kWarn, "end|"}));  // P6 lacks its last "*"
}

struct Tables {
    int32_t fs[NAA][NREG], ts[NREG], fp[NAA][NAA][NREG][NREG], tp[NREG][NREG];
    void add(const int8_t *r, const int8_t *s, int n, int bias) { add_seq2(fs, ts, fp, tp, r, s, n, bias); }
    bool operator==(const Tables &o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};
template <class A> long sum(const A &t)  // all counts of a table
{
    return std::accumulate((const int32_t *)&t, (const int32_t *)(&t + 1), 0L);
}

// One record's counts as words by register and residue: "La", then its pairs "LIab".
std::string count(const char *res, const char *regs)
{
    int8_t s[16], r[16], n = int8_t(std::strlen(res));
    for (int i = 0; i < n; i++) s[i] = aanum(res[i]), r[i] = regs[i] == '.' ? NOREG : int8_t(regs[i] - 'a');
    auto t = std::make_unique<Tables>();
    t->add(r, s, n, 1);
    EXPECT_EQ(sum(t->fs), sum(t->ts));
    EXPECT_EQ(sum(t->fp), sum(t->tp));
    std::string w;
    for (int p = 0; p < NREG; p++)
        for (int a = 0; a < NAA; a++) {
            for (int k = 0; k < t->fs[a][p]; k++) w += {char(numaa(int8_t(a))), char('a' + p), ' '};
            for (int q = 0; q < NREG; q++)
                for (int b = 0; b < NAA; b++)
                    for (int k = 0; k < t->fp[a][b][p][q]; k++)
                        w += {char(numaa(int8_t(a))), char(numaa(int8_t(b))), char('a' + p), char('a' + q), ' '};
        }
    return w;
}

TEST(AddSeq2, CountsPairsAlongAnUnbrokenHeptadUpToSevenApart)
{
    EXPECT_EQ(count("LIV", "abc"), "La LIab LVac Ib IVbc Vc ");
    EXPECT_EQ(count("LIVM", "ab.d"), "La LIab Ib Md ");  // "." ends the run and is not counted
    EXPECT_EQ(count("LIV", "abd"), "La LIab Ib Vd ");    // so does a skipped register
    EXPECT_EQ(count("L-KLBK", "abcdef"), "La LKac LLad LKaf Kc KLcd KKcf Ld LKdf Kf ");  // gap, X: no break
    EXPECT_EQ(count("MXXXXXXLK", "abcdefgab"), "La LKab Ma MLaa Kb ");                   // 7 apart, not 8
    EXPECT_EQ(count("BLIVKL", "a`hz.g"), "Lg ");  // registers and residues outside the tables
}

// Over the shipped register file: taking each record out and back restores every count, also
// across the wrap modulo 2^32.
TEST(AddSeq2, TakingEachRecordOutAndBackRestoresAllCounts)
{
    std::string file = __FILE__;
    FILE *fl = std::fopen((file.substr(0, file.rfind("/tests/")) + "/data/coils.pos").c_str(), "r");
    ASSERT_NE(fl, nullptr);
    auto total = std::make_unique<Tables>(), before = std::make_unique<Tables>();
    total->ts[0] = INT32_MAX;
    int n = 0;
    for (; getpos(fl, &rec) == 1; n++) {
        total->add(reg, seq, rec.seqlen, 1);
        *before = *total;
        total->add(reg, seq, rec.seqlen, -1);
        total->add(reg, seq, rec.seqlen, 1);
        EXPECT_TRUE(*total == *before) << code;
    }
    std::fclose(fl);
    EXPECT_EQ(n, 550);
    EXPECT_EQ(sum(total->ts), 15606L + INT32_MAX - (1L << 32));
    EXPECT_EQ(sum(total->tp), 92310);
}

}  // namespace

// Register-file reading and the register-pair counting.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "scio.h"
#include "scpos.h"

namespace {

// Reads the records of `text` into the driver's kind of record.
struct Reader {
    int8_t seq[MAXSEQ], reg[MAXSEQ];
    char title[NAMELEN], code[NAMELEN];
    Sequence s{0, seq, reg, title, code};
    std::string text;
    FILE *fl;
    explicit Reader(std::string t) : text(std::move(t)) { fl = fmemopen(text.data(), text.size(), "r"); }
    ~Reader() { std::fclose(fl); }

    int next(std::string *err = nullptr)  // without `err`, stderr must stay empty
    {
        testing::internal::CaptureStderr();
        int r = getpos(fl, &s);
        std::string e = testing::internal::GetCapturedStderr();
        if (err) *err = e;
        else EXPECT_EQ(e, "");
        return r;
    }
    std::string registers() const
    {
        std::string r;
        for (int i = 0; i < s.seqlen; i++) r += reg[i] == NOREG ? '.' : char(numpos(reg[i]));
        return r;
    }
};

struct Tables {
    int32_t pfreqs[NAA][NREG] = {};
    int32_t ptotals[NREG] = {};
    int32_t pfreqp[NAA][NAA][NREG][NREG] = {};
    int32_t ptotalp[NREG][NREG] = {};

    void add(const int8_t *reg, const int8_t *seq, int n, int bias)
    {
        add_seq2(pfreqs, ptotals, pfreqp, ptotalp, reg, seq, n, bias);
    }
    bool operator==(const Tables &o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
    long pairs() const { return sum(&ptotalp[0][0], NREG * NREG); }
    long singles() const { return sum(ptotals, NREG); }
    static long sum(const int32_t *a, int n) { return std::accumulate(a, a + n, 0L); }
    // Each total equals the sum of its counts when add_seq2 made them all.
    void expect_consistent() const
    {
        for (int p = 0; p < NREG; p++) {
            long n = 0;
            for (int x = 0; x < NAA; x++) n += pfreqs[x][p];
            EXPECT_EQ(n, ptotals[p]);
            for (int q = 0; q < NREG; q++) {
                long m = 0;
                for (int x = 0; x < NAA; x++)
                    for (int y = 0; y < NAA; y++) m += pfreqp[x][y][p][q];
                EXPECT_EQ(m, ptotalp[p][q]);
            }
        }
    }
};

// Counts one record given as residue letters and register letters.
std::unique_ptr<Tables> count(const std::string &res, const std::string &regs)
{
    std::vector<int8_t> seq, reg;
    for (char c : res) seq.push_back(aanum(int8_t(c)));
    for (char c : regs) reg.push_back(c == '.' ? NOREG : int8_t(c - 'a'));
    auto t = std::make_unique<Tables>();
    t->add(reg.data(), seq.data(), int(seq.size()), 1);
    return t;
}

int aa(char c) { return aanum(int8_t(c)); }

TEST(Getpos, ReadsRecordsAndStopsAtTheEndOfInput)
{
    auto r = std::make_unique<Reader>("junk\n>P1\nA test\nMKLV*\nabcd*\n"
                                      ">P2 more\n\nm k-x\n1 2Bz l*\nd E1e.\nf g\n*\n");
    ASSERT_EQ(r->next(), 1);
    EXPECT_STREQ(r->code, "P1");
    EXPECT_STREQ(r->title, "A test");
    EXPECT_EQ(r->s.seqlen, 4);
    EXPECT_EQ(std::vector<int>(r->seq, r->seq + 4), (std::vector<int>{aa('M'), aa('K'), aa('L'), aa('V')}));
    EXPECT_EQ(std::vector<int>(r->reg, r->reg + 4), (std::vector<int>{0, 1, 2, 3}));

    // Case folded; "-" and X are residues; digits, blanks, B and Z are skipped.
    ASSERT_EQ(r->next(), 1);
    EXPECT_STREQ(r->code, "P2 more");
    EXPECT_STREQ(r->title, "");
    EXPECT_EQ(std::vector<int>(r->seq, r->seq + r->s.seqlen), (std::vector<int>{3, 8, 20, 21, 0}));
    EXPECT_EQ(r->registers(), "de.fg");
    EXPECT_EQ(r->next(), 0);

    for (const char *text : {"", "no record\n", ">P1", ">P1\nA test", ">P1\nA test\nMKLV*\nabcd",
                             ">P1\nA test\nMKLV"}) {
        SCOPED_TRACE(text);
        std::string err;
        EXPECT_EQ(std::make_unique<Reader>(text)->next(&err), 0);
    }
}

TEST(Getpos, BadRegisterPartsWarnOncePerRecord)
{
    auto r = std::make_unique<Reader>(">P1\nt\nMKLVA*\nabcde*\n>P2\nt\nMKLV*\nabc*\n"
                                      ">P3\nt\nMKLVA*\nahbzc*\n>P4\nt\nMK*\nhhh*\n");
    std::string err;
    ASSERT_EQ(r->next(), 1);
    ASSERT_EQ(r->next(&err), 1);
    EXPECT_EQ(err, "erroneous .pos file!\n");
    EXPECT_EQ(r->s.seqlen, 4);
    EXPECT_EQ(r->registers(), "abc.");  // not the "d" of the record before
    ASSERT_EQ(r->next(&err), 1);
    EXPECT_EQ(err, "erroneous .pos file!\n");
    EXPECT_EQ(r->registers(), "a.b.c");  // h..z are no register
    ASSERT_EQ(r->next(&err), 1);         // bad letters and a count mismatch
    EXPECT_EQ(err, "erroneous .pos file!\n");

    // The check runs even when the input ends inside the register part.
    EXPECT_EQ(std::make_unique<Reader>(">P1\nt\nMKLV*\nab")->next(&err), 0);
    EXPECT_EQ(err, "erroneous .pos file!\n");
}

TEST(Getpos, OverlongLinesAndPartsAreCut)
{
    std::string res(MAXSEQ + 5, 'L'), regs;
    for (int i = 0; i < MAXSEQ + 5; i++) regs += char('a' + i % 7);
    auto r = std::make_unique<Reader>(">" + std::string(1500, 'c') + "\n" + std::string(2000, 't') +
                                      "\nMK*\nab*\n>BIG\nt\n" + res + "*\n" + regs + "*\n>SHORTREG\nt\n" +
                                      res + "*\n" + regs.substr(0, MAXSEQ) + "*\n>NEXT\nt\nMK*\nab*\n");
    ASSERT_EQ(r->next(), 1);
    EXPECT_EQ(std::strlen(r->code), size_t(NAMELEN - 1));
    EXPECT_EQ(std::strlen(r->title), size_t(NAMELEN - 1));
    EXPECT_EQ(r->s.seqlen, 2);

    std::string err;
    ASSERT_EQ(r->next(&err), 1);
    EXPECT_EQ(err, "Sequence BIG truncated to 20000 residues\n");  // the full counts agree
    EXPECT_EQ(r->s.seqlen, MAXSEQ);
    EXPECT_EQ(r->reg[MAXSEQ - 1], (MAXSEQ - 1) % 7);
    ASSERT_EQ(r->next(&err), 1);
    EXPECT_EQ(err, "Sequence SHORTREG truncated to 20000 residues\nerroneous .pos file!\n");
    ASSERT_EQ(r->next(), 1);
    EXPECT_STREQ(r->code, "NEXT");
    EXPECT_EQ(r->s.seqlen, 2);
}

TEST(AddSeq2, CountsPairsAlongAnUnbrokenHeptad)
{
    const int L = aa('L'), I = aa('I'), V = aa('V'), M = aa('M'), A = aa('A'), K = aa('K');
    auto t = count("LIV", "abc");
    EXPECT_EQ(t->pfreqp[L][I][0][1] + t->pfreqp[L][V][0][2] + t->pfreqp[I][V][1][2], 3);
    EXPECT_EQ(t->ptotalp[0][1] + t->ptotalp[0][2] + t->ptotalp[1][2], 3);
    EXPECT_EQ(t->pfreqs[L][0] + t->pfreqs[I][1] + t->pfreqs[V][2], 3);
    EXPECT_EQ(t->ptotals[0] + t->ptotals[1] + t->ptotals[2], 3);
    EXPECT_EQ(t->pairs(), 3);
    EXPECT_EQ(t->singles(), 3);

    auto dot = count("LIVM", "ab.d");  // "." ends the run and is not counted
    EXPECT_EQ(dot->pfreqp[L][I][0][1], 1);
    EXPECT_EQ(dot->pairs(), 1);
    EXPECT_EQ(dot->singles(), 3);
    EXPECT_EQ(count("LIV", "abd")->pairs(), 1);  // so does a skipped register

    auto far = count("MAAAAAALK", "abcdefgab");
    EXPECT_EQ(far->pfreqp[M][L][0][0], 1);  // 7 apart: register pair (a, a)
    EXPECT_EQ(far->pfreqp[M][K][0][1], 0);  // 8 apart: not counted
    EXPECT_EQ(far->pfreqp[A][K][1][1], 1);
    EXPECT_EQ(far->pairs(), 7 + 7 + 6 + 5 + 4 + 3 + 2 + 1);
    far->expect_consistent();

    for (const char *res : {"LXK", "L-K"}) {  // gap and X: not counted, no break
        auto x = count(res, "abc");
        EXPECT_EQ(x->pfreqp[L][K][0][2], 1);
        EXPECT_EQ(x->pairs(), 1);
        EXPECT_EQ(x->singles(), 2);
    }
}

TEST(AddSeq2, OutOfRangeValuesTouchNoTableAndCountsWrap)
{
    const int8_t seq[] = {0, 20, 21, -1, 100, 1, 2, 3, 127, -128, 0, 100, -1, 1};
    const int8_t reg[] = {7, 0, 1, 2, 3, -1, 100, NOREG, 5, 6, 0, 1, 2, 3};
    auto t = std::make_unique<Tables>();
    t->add(reg, seq, 10, 1);
    EXPECT_TRUE(*t == Tables{});
    t->add(reg + 10, seq + 10, 4, 1);  // passed over inside a run
    EXPECT_EQ(t->pfreqp[0][1][0][3], 1);
    EXPECT_EQ(t->pairs(), 1);
    EXPECT_EQ(t->singles(), 2);

    t->ptotals[0] = INT32_MAX;
    t->add(reg + 10, seq + 10, 1, 1);
    EXPECT_EQ(t->ptotals[0], INT32_MIN);
    t->add(reg + 10, seq + 10, 1, -1);
    EXPECT_EQ(t->ptotals[0], INT32_MAX);
}

// Counts every record, then takes each out and puts it back: the tables
// must come back bit for bit.
std::unique_ptr<Tables> check_restoration(const std::string &text, int want_records)
{
    auto total = std::make_unique<Tables>();
    int n = 0;
    for (auto r = std::make_unique<Reader>(text); r->next() == 1; n++) total->add(r->reg, r->seq, r->s.seqlen, 1);
    EXPECT_EQ(n, want_records);
    total->expect_consistent();

    auto work = std::make_unique<Tables>(*total);
    for (auto r = std::make_unique<Reader>(text); r->next() == 1;) {
        work->add(r->reg, r->seq, r->s.seqlen, -1);
        EXPECT_FALSE(*work == *total) << r->code;
        work->add(r->reg, r->seq, r->s.seqlen, 1);
        EXPECT_TRUE(*work == *total) << r->code;
    }
    return total;
}

TEST(AddSeq2, TakingEachRecordOutAndBackRestoresAllCounts)
{
    check_restoration(">a\nparallel dimer\nSRVTFERVEQMSIQIKEVGDRVNYIKRSLQSLDSQIGHLQDLSALTVDTLKT*\n"
                      "...defgabcdefgabcdefgabcdefgabcdefgabcdefgabcdefg...*\n"
                      ">b\nstutter\nDPLVVAASIIGILHLILWILDRL*\n..cdefgabcabcdefgdefg..*\n"
                      ">c\nX inside\nLKXLEAKXEELKAXL*\nabcdefgabcdefga*\n",
                      3);

    // The shared register file, beside the checkout, with the figures it documents.
    std::string root = __FILE__;
    for (int i = 0; i < 3; i++) root = root.substr(0, root.rfind('/'));
    std::string text;
    for (std::string path : {root + "/../shared/data/coils.pos", std::string("/work/shared/data/coils.pos")}) {
        if (FILE *f = std::fopen(path.c_str(), "r")) {
            char buf[4096];
            for (size_t k; (k = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, k);
            std::fclose(f);
            break;
        }
    }
    if (text.empty()) GTEST_SKIP() << "coils.pos not found";
    auto t = check_restoration(text, 550);
    EXPECT_EQ(t->singles(), 15606);
    EXPECT_EQ(t->pairs(), 92310);
}

}  // namespace

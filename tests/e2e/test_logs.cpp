// Register-file runs end to end: sequence scores over the stretches of given
// registers, leave-one-out with exact restoration of the counts, the score
// line, the coil report and the residue and register map.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "harness.h"
#include "scio.h"
#include "scpos.h"

namespace {

// Three designed coils (registers given over whole heptads), one with
// flanks, and one whose register stretches are all shorter than 28.
const std::string kRecA =
    ">recA\nfirst coil\nLKELEKKLEELEKKNEELAKKLEELKKKNEALEKKLAELEKKIE*\n"
    "abcdefgabcdefgabcdefgabcdefgabcdefgabcdefgab*\n";
const std::string kRecB =
    ">recB\nflanked coil\nMSGSEIAALKQEIAALKKENAALKWEIAALKQGYGSW*\n"
    "....abcdefgabcdefgabcdefgabcdefg.....*\n";
const std::string kRecC =
    ">recC\nbroken stretches\nVKQLEDKVEELLSKNYHLENEVARLKKLVGERKEELKKQ*\n"
    "abcdefgabcdefgabcdefg...efgabcdefgabcde*\n";

struct Logs : ::testing::Test {
    TempDir dir;
    void SetUp() override
    {
        write_test_model(dir);  // gen.dat; pos.dat is replaced below
        dir.write("all.pos", kRecA + kRecB + kRecC);
        dir.write("c.pos", kRecC);
        write_counts_from("all.pos", "pos.dat");
    }
    // PosFreq counts of the records of `pos` (each counted once).
    void write_counts_from(const std::string &pos, const std::string &out)
    {
        auto p = std::make_unique<PosFreq>();
        Sequence s;
        FILE *in = std::fopen(dir.file(pos).c_str(), "r");
        while (getpos(in, s, MAXSEQ) == POS_RECORD) add_seq2(*p, s.reg.data(), s.seq.data(), s.seqlen, 1);
        std::fclose(in);
        FILE *o = std::fopen(dir.file(out).c_str(), "wb");
        writeposfreq(o, *p);
        std::fclose(o);
    }
    RunResult run(const std::vector<std::string> &args) { return run_velcorin2(args, dir.path()); }
    static std::string table_of(const std::string &tables, const std::string &code)
    {
        size_t at = tables.find("# Sequence Code: " + code + "\n");
        if (at == std::string::npos) return "";
        size_t next = tables.find("# Sequence Code: ", at + 1);
        return tables.substr(at, next == std::string::npos ? std::string::npos : next - at);
    }
};

TEST_F(Logs, LeaveOneOutPutsEveryCountBack)
{
    // recC scored after recA and recB were taken out and put back must equal
    // recC scored first: any count left changed would show in its table.
    RunResult all = run({"-1", "2", "3", "4", "gen.dat", "pos.dat", "all.pos", "all.txt"});
    RunResult one = run({"-1", "2", "3", "4", "gen.dat", "pos.dat", "c.pos", "c.txt"});
    ASSERT_EQ(all.status, 0) << all.out << all.err;
    ASSERT_EQ(one.status, 0);
    EXPECT_EQ(table_of(dir.read("all.txt"), "recC"), dir.read("c.txt"));
    EXPECT_NE(dir.read("c.txt"), "");

    // Leaving recC out changes its scores compared with scoring it against
    // counts that include it.
    run({"-pos", "2", "3", "4", "gen.dat", "pos.dat", "c.pos", "cpos.txt"});
    EXPECT_NE(dir.read("c.txt"), dir.read("cpos.txt"));
}

TEST_F(Logs, ScoreLinesUseStretchesOfGivenRegisters)
{
    RunResult r = run({"-pos", "-v", "2", "3", "4", "gen.dat", "pos.dat", "all.pos", "out.txt", "coil.log"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string log = dir.read("coil.log");
    EXPECT_NE(log.find(" recA first coil\n"), std::string::npos) << log;
    // recB's only stretch is 28 residues long: scored.  recC's stretches
    // (21 and 15) are too short: no sequence score.
    EXPECT_EQ(log.find("   2 -100000.000000"), std::string::npos) << log;
    EXPECT_NE(log.find("   3 -100000.000000 recC broken stretches\n"), std::string::npos) << log;
    // The table is written for every scored record all the same.
    EXPECT_NE(table_of(dir.read("out.txt"), "recC"), "");
}

TEST_F(Logs, CoilReportAndMap)
{
    RunResult r = run({"-pos", "-p", "0.5", "-d", "2", "3", "4", "gen.dat", "pos.dat", "all.pos", "out.txt",
                       "coil.log", "seq.log"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string coil = dir.read("coil.log"), seq = dir.read("seq.log");
    EXPECT_EQ(coil.rfind("1 \trecA\n\tfirst coil\n\t  ", 0), 0u) << coil;
    EXPECT_NE(seq.find("1 \trecA\n\tfirst coil\n\tP-score = "), std::string::npos) << seq;
    EXPECT_NE(seq.find("3 \trecC\n\tbroken stretches\n\tP-score = 0.0000\n\tScore = -inf\n\n"), std::string::npos)
        << seq;
    // The map: two blocks with a ruler each, the residues of recA on one row.
    const std::string ruler = "1234567890123456789012345678901234567890123456789012345678901234567890";
    EXPECT_NE(coil.find("\n\n\t" + ruler + "\n\n   1\tLKELEKKLEELEKKNEELAKKLEELKKKNEALEKKLAELEKKIE\t"), std::string::npos)
        << coil;
    EXPECT_NE(coil.find("End: 44]\n\n"), std::string::npos) << coil;

    // "-d -" with a second bound nothing reaches: nothing is flagged, so no map,
    // but the regions are still listed.
    r = run({"-pos", "-p", "0.5", "-d", "-", "-1000", "2", "3", "4", "gen.dat", "pos.dat", "all.pos", "o2.txt",
             "coil2.log", "seq2.log"});
    ASSERT_EQ(r.status, 0);
    std::string coil2 = dir.read("coil2.log");
    EXPECT_NE(coil2.find("End: 44]"), std::string::npos);
    if (coil2.find(ruler) != std::string::npos) {
        // Only records with a residue whose predicted register differs from the given one may keep a map.
        EXPECT_NE(coil2.find_first_of("ABCDEFG", coil2.find(ruler)), std::string::npos);
    }
}

TEST_F(Logs, ConfigurationKeysSetTheSameModes)
{
    std::string conf = dir.write("conf",
                                 "genbnk = gen.dat\ncctb=pos.dat\nlib = 2 3 4\ntest = all.pos\nout = out.txt\n"
                                 "log = coil.log\npos\nver\n");
    RunResult r = run_velcorin2({}, dir.path(), {{"VELCORIN_CONFIG", conf}});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    RunResult cli = run({"-pos", "-v", "2", "3", "4", "gen.dat", "pos.dat", "all.pos", "out2.txt", "coil2.log"});
    ASSERT_EQ(cli.status, 0);
    EXPECT_EQ(dir.read("out.txt"), dir.read("out2.txt"));
    EXPECT_EQ(dir.read("coil.log"), dir.read("coil2.log"));
}

}  // namespace

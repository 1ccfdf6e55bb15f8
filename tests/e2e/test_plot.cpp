// The comparison plot end to end: one page per scored record in /tmp/tr.ps,
// the pair scoring in the table, and pages that a PostScript interpreter
// renders without complaint.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "harness.h"

namespace {

constexpr const char *kPlot = "/tmp/tr.ps";

int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) n++;
    return n;
}

struct Plot : ::testing::Test {
    TempDir dir;
    void SetUp() override
    {
        write_test_model(dir);
        dir.write("seqs.fa",
                  ">cc1 a coiled coil\nMSKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAELEQKNKELEKKLAEL\n"
                  ">tiny\nMKV\n"
                  ">pro2 prolines break it\nMSKLEELLKKNEELEKKVAELPKENAELKKKLEELEKKLAELEQKNKELEKKLAELAAAAAAAAAAAA\n");
        std::remove(kPlot);
    }
    RunResult run(const std::vector<std::string> &args) { return run_velcorin2(args, dir.path()); }
};

TEST_F(Plot, OnePagePerScoredRecordAndTheTableShowsPairScores)
{
    RunResult plain = run({"2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "plain.txt"});
    RunResult g = run({"-g", "2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "g.txt"});
    ASSERT_EQ(g.status, 0) << g.out << g.err;
    EXPECT_EQ(dir.read("g.txt"), dir.read("plain.txt"));
    std::string ps = read_file(kPlot);
    EXPECT_EQ(count(ps, "%! \n"), 2);
    EXPECT_EQ(count(ps, "showpage\n\n"), 2);
    EXPECT_NE(ps.find("50 150 moveto (cc1) show 50 100 moveto(a coiled coil) show\n"), std::string::npos);
    EXPECT_NE(ps.find("315 sy moveto (region 1-56) show\n"), std::string::npos);
    struct stat st{};
    ASSERT_EQ(stat(kPlot, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Plot, RegionFileNamesTheRegion)
{
    dir.write("regions", ">cc1 10 20\n>pro2 5 30\n");
    RunResult g = run({"-g", "regions", "2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "g.txt"});
    ASSERT_EQ(g.status, 0) << g.out << g.err;
    std::string ps = read_file(kPlot);
    EXPECT_NE(ps.find("(region 10-20)"), std::string::npos);
    EXPECT_NE(ps.find("(region 5-30)"), std::string::npos);
    EXPECT_NE(ps.find("9 -15 adjust moveto vx 2 div 0 rmoveto 0 30 vy mul rlineto stroke\n"
                      "19 -15 adjust moveto"), std::string::npos);
}

TEST_F(Plot, ShortRecordUnderWindow21HasNoStaleStockCurve)
{
    // 24 residues: scored by the pair method with -win 21, refused by the
    // 28-residue stock windows.  Its stock curve must be empty, not the
    // previous record's.
    dir.write("mix.fa", std::string(">long\n") + std::string(40, 'L') + "\n>mid\nMSKLEELLKKNEELEKKVAELEKE\n");
    RunResult g = run({"-g", "-win", "21", "2", "3", "4", "gen.dat", "pos.dat", "mix.fa", "g.txt"});
    ASSERT_EQ(g.status, 0) << g.out << g.err;
    std::string ps = read_file(kPlot);
    size_t page2 = ps.find("%! \n", 1);
    ASSERT_NE(page2, std::string::npos);
    std::string second = ps.substr(page2);
    size_t stock = second.find("0 setgray [2] 0 setdash \n");
    size_t pair = second.find("0.7 setgray [] 0 setdash\n");
    ASSERT_NE(stock, std::string::npos);
    EXPECT_EQ(second.substr(stock, pair - stock), "0 setgray [2] 0 setdash \nstroke \n");
    EXPECT_NE(second.find("sx sy moveto(-inf) cshow"), std::string::npos);
}

TEST_F(Plot, SymlinkedPlotFileIsRefused)
{
    std::string target = dir.file("elsewhere");
    ASSERT_EQ(symlink(target.c_str(), kPlot), 0);
    RunResult g = run({"-g", "2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "g.txt"});
    std::remove(kPlot);
    EXPECT_EQ(g.status, 2);
    EXPECT_EQ(g.out, "Couldn't find config file\nERROR: Error while opening file : cannot open /tmp/tr.ps as w, 577\n\n");
    EXPECT_FALSE(dir.exists("elsewhere"));
}

TEST_F(Plot, GhostscriptRendersEveryPage)
{
    if (std::system("command -v gs >/dev/null 2>&1") != 0) GTEST_SKIP() << "ghostscript not installed";
    RunResult g = run({"-g", "2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "g.txt"});
    ASSERT_EQ(g.status, 0);
    std::string cmd = "cd " + dir.path() + " && gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r40 "
                      "-sOutputFile=page%d.png " + kPlot + " > gs.log 2>&1";
    int rc = std::system(cmd.c_str());
    std::string log = dir.read("gs.log");
    EXPECT_EQ(rc, 0) << log;
    EXPECT_EQ(log.find("Error"), std::string::npos) << log;
    EXPECT_TRUE(dir.exists("page1.png"));
    EXPECT_TRUE(dir.exists("page2.png"));
    EXPECT_FALSE(dir.exists("page3.png"));
}

}  // namespace

// Inputs that once crashed the program, tripped a sanitizer or gave a wrong
// result, found by the fuzzing harnesses of fuzz/ and the limit runs of
// scripts/stress.sh.  Each runs the real binary (in the sanitizer build, any
// undefined behaviour or bad access ends it with a status other than 0).
#include <gtest/gtest.h>

#include <cstdlib>

#include "harness.h"

namespace {

constexpr const char *kPlot = "/tmp/tr.ps";

const std::string kFasta =
    ">cc1 a coiled coil\nMSKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAELEQKNKELEKKLAEL\n"
    ">cc2\nMSKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAEL\n";

struct Regressions : ::testing::Test {
    TempDir dir;
    void SetUp() override
    {
        write_test_model(dir);
        dir.write("seqs.fa", kFasta);
        std::remove(kPlot);
    }
    RunResult run(const std::vector<std::string> &args, const Env &env = {})
    {
        return run_velcorin2(args, dir.path(), env);
    }
};

// Region bounds at the ends of the int range: the first residue is clamped
// before it is made 0-based (it used to overflow), and the region stays
// inside the sequence.
TEST_F(Regressions, RegionBoundsAtTheEndsOfTheIntRange)
{
    dir.write("regions", "> cc1 -2147483648 20\n>cc2 2147483647 -2147483648\n");
    RunResult r = run({"-g", "regions", "1", "2", "3", "gen.dat", "pos.dat", "seqs.fa", "out.txt"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string ps = read_file(kPlot);
    EXPECT_NE(ps.find("(region 1-20)"), std::string::npos);
    EXPECT_NE(ps.find("(region 43-42)"), std::string::npos);  // empty region at the end of cc2
}

// A compressed sequence input whose tail is damaged: zcat fails after the
// records it could decompress.  The run used to score the short input and
// end with status 0; now the failure is an error at the close.  An intact
// file, and a damaged model file whose tables were complete, still pass.
TEST_F(Regressions, DamagedCompressedInputIsAnError)
{
    std::string fasta;
    for (int i = 0; i < 60; i++) fasta += ">r" + std::to_string(i) + "\n" + std::string(200, 'L') + "\n";
    dir.write("many.fa", fasta);
    ASSERT_EQ(std::system(("gzip -n -f " + dir.file("many.fa")).c_str()), 0);
    std::string gz = dir.read("many.fa.gz");
    dir.write("damaged.fa.gz", gz.substr(0, gz.size() - 30));

    RunResult ok = run({"1", "2", "3", "gen.dat", "pos.dat", "many.fa.gz", "out.txt"});
    EXPECT_EQ(ok.status, 0) << ok.out << ok.err;
    RunResult bad = run({"1", "2", "3", "gen.dat", "pos.dat", "damaged.fa.gz", "bad.txt"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.out.find("ERROR: Error while reading from damaged.fa.gz\n"), std::string::npos) << bad.out;

    // The model tables are read whole before the damage is reached: not an error.
    std::string pos = dir.read("pos.dat") + std::string(100000, '\0');
    dir.write("posx", pos);
    ASSERT_EQ(std::system(("gzip -n -f " + dir.file("posx")).c_str()), 0);
    std::string pgz = dir.read("posx.gz");
    dir.write("pos.dat.gz", pgz.substr(0, pgz.size() - 4));
    RunResult model = run({"1", "2", "3", "gen.dat", "pos.dat.gz", "many.fa.gz", "out2.txt"});
    EXPECT_EQ(model.status, 0) << model.out << model.err;
    EXPECT_TRUE(dir.read("out2.txt") == dir.read("out.txt"));
}

// The limits of scripts/stress.sh that run quickly: a record one residue
// over the capacity, header lines far over the name buffers, a configuration
// line far over its buffer, and an output pipe whose reader stops early.
TEST_F(Regressions, LimitsEndToEnd)
{
    auto count_rows = [](const std::string &table) {
        int n = 0;  // rows start with the padded position, header lines with "#"
        for (size_t at = 0; at < table.size();) {
            n += table[at] == ' ';
            size_t nl = table.find('\n', at);
            at = nl == std::string::npos ? table.size() : nl + 1;
        }
        return n;
    };
    const std::string helix = "LKELEKKLEELKKKNEELAEK";
    std::string over;
    while (over.size() < 20001) over += helix;
    over.resize(20001);
    const std::string name(100000, 'H');
    dir.write("limits.fa", ">" + name + "\n" + over + "\n>x " + name + "\n" + helix + helix + "\n");
    RunResult r = run({"1", "2", "3", "gen.dat", "pos.dat", "limits.fa", "out.txt"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string table = dir.read("out.txt");
    EXPECT_EQ(count_rows(table), 20000 + 42);
    EXPECT_NE(table.find("# Sequence Code: " + name.substr(0, 1023) + "\n"), std::string::npos);
    EXPECT_NE(table.find("# Sequence Name: " + name.substr(0, 1023) + "\n"), std::string::npos);
    EXPECT_NE(r.err.find("truncated to 20000 residues"), std::string::npos);

    std::string lib = "lib =";
    for (int i = 0; i < 5000; i++) lib += " " + std::to_string(i % 7);
    dir.write("long.conf", lib + "\ngenbnk = gen.dat\ncctb = pos.dat\n");
    RunResult c = run({"limits.fa", "out7.txt"}, {{"VELCORIN_CONFIG", dir.file("long.conf")}});
    EXPECT_EQ(c.status, 0) << c.out << c.err;
    EXPECT_EQ(count_rows(dir.read("out7.txt")), 20000 + 42);

    RunResult p = run({"1", "2", "3", "gen.dat", "pos.dat", "limits.fa", "|head -c 100 >head.out"});
    EXPECT_NE(p.status, 0);  // SIGPIPE (141) or a write error (2), never a success
    EXPECT_EQ(dir.read("head.out").size(), 100u);
}

}  // namespace

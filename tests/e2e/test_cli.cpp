// The command line end to end: options, distances, positional files,
// configuration precedence, usage and exit statuses.
#include <gtest/gtest.h>

#include <cctype>

#include "harness.h"

namespace {

const std::string kUsage = "\nUsage: velcorin2 [-win 21|28] <fasta_file> <output_file>\n";
const std::string kNoConfig = "Couldn't find config file\n";
const std::string kFrame = "<time>\n\n\n<time>\n\nDone.\n";  // stamps, end of progress line, stamps
const std::vector<std::string> kFiles = {"2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "out.txt"};

// A 56-residue coil, a record too short to score (still counted), a 48-residue globular one.
const std::string kFasta =
    ">coil1 first test protein\nMSKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAELEQKNKELEKKLAEL\n"
    ">short too short\nMKLVE\n"
    ">glob2\nMTPYDGSWRNHCFPQGTPDWYNMCHSGRTPDGNWYQCPHMSTGDNRWY\n";

struct Cli : ::testing::Test {
    TempDir dir;
    void SetUp() override
    {
        write_test_model(dir);
        dir.write("seqs.fa", kFasta);
    }
    RunResult run(const std::vector<std::string> &args, const Env &env = {})
    {
        return run_velcorin2(args, dir.path(), env);
    }
    // Rows of the per-residue table: position, residue and register in their columns.
    static int count_rows(const std::string &table)
    {
        int n = 0;
        size_t at = 0;
        for (size_t nl; (nl = table.find('\n', at)) != std::string::npos; at = nl + 1) {
            std::string l = table.substr(at, nl - at);
            n += l.size() >= 57 && std::isdigit((unsigned char)l[7]) && l.substr(8, 7) == "       " &&
                 std::isupper((unsigned char)l[15]) && l[29] >= 'a' && l[29] <= 'g';
        }
        return n;
    }
};

TEST_F(Cli, FailuresGiveTheirMessageAndStatus)
{
    dir.write("bad.fa", ">x\nMK1\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    const std::vector<Case> cases = {
        {{}, 255, kNoConfig, kUsage},
        {{"-x", "2"}, 2, kNoConfig + "ERROR: Unrecognized switch: -x\n", ""},
        {{"-"}, 255, kNoConfig, "velcorin2: a distance is expected where '-' stands\n" + kUsage},
        {{"-4", "2"}, 2, kNoConfig + "ERROR: Unrecognized switch: -4\n", ""},  // so is a negative first distance
        {{"--verbose"}, 2, kNoConfig + "ERROR: Unrecognized switch: --verbose\n", ""},
        {{"-win", "25"}, 255, kNoConfig, kUsage},
        {{"-f"}, 255, kNoConfig, kUsage},  // a missing value is never read past the words
        {{"-win"}, 255, kNoConfig, kUsage},
        {{"-v", "-d", "+-"}, 255, kNoConfig, kUsage},
        {{"2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "o", "l1", "l2", "l3"}, 255, kNoConfig, kUsage},
        {{"-f", "0", "gen.dat", "pos.dat", "seqs.fa", "o"}, 255, kNoConfig,
         "velcorin2: functnum must be 1 to 7\n" + kUsage},
        {{"2", "9", "4", "gen.dat", "pos.dat", "seqs.fa", "o"}, 255, kNoConfig,
         "velcorin2: distance 9 is outside 0 to 6\n" + kUsage},
        {{"2", "3", "4", "gen.dat", "pos.dat", "nothere.fa", "o"}, 2,
         kNoConfig + "ERROR: Error while opening file nothere.fa\n", ""},
        {{"2", "3", "4", "pos.dat", "pos.dat", "seqs.fa", "o"}, 2,
         kNoConfig + "ERROR: Bad Magic Number of <GenFreq> file\n", "<time>\n\n"},
        {{"2", "3", "4", "gen.dat", "pos.dat", "bad.fa", "o"}, 255, kNoConfig + "Unable to parse input '1', MK1\n.\n",
         "<time>\n\n"},
        // A failed write is not a success: no "Done.", status 2.
        {{"2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "/dev/full"}, 2,
         kNoConfig + "ERROR: Error while writing in /dev/full\n", "<time>\n\n\n<time>\n\n"},
        {{"--no-table", "--regions", "/dev/full", "2", "3", "4", "gen.dat", "pos.dat", "seqs.fa"}, 2,
         kNoConfig + "ERROR: Error while writing in /dev/full\n", "<time>\n\n\n<time>\n\n"},
        // Region options: values checked, and a run without a table must write something.
        {{"--pscore", "1.5"}, 255, kNoConfig, "velcorin2: --pscore needs a p-score from 0 to 1\n" + kUsage},
        {{"--pscore", "0.05x"}, 255, kNoConfig, "velcorin2: --pscore needs a p-score from 0 to 1\n" + kUsage},
        {{"--min-length", "0"}, 255, kNoConfig,
         "velcorin2: --min-length needs a whole number from 1 to 2147483647\n" + kUsage},
        {{"--no-table", "2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "coil.log"}, 255, kNoConfig,
         "velcorin2: --no-table leaves nothing to write; add --gff3, --regions, -p, -v or -g\n" + kUsage},
        {{"--gff3"}, 255, kNoConfig, kUsage},
    };
    for (const Case &c : cases) {
        RunResult r = run(c.args);
        std::string what = c.args.empty() ? "(none)" : c.args[0] + " " + std::to_string(c.args.size());
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_EQ(r.out, c.out) << what;
        EXPECT_EQ(r.err, c.err) << what;
    }
}

TEST_F(Cli, PlainRunWritesTablesForLongRecords)
{
    RunResult r = run(kFiles);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, kNoConfig);
    EXPECT_EQ(r.err, kFrame);
    std::string table = dir.read("out.txt");
    EXPECT_EQ(table.rfind("# Sequence Code: coil1\n# Sequence Name: first test protein\n#\n"
                          "# Position  Residue      Register    P-score    ( Score )\n", 0), 0u);
    EXPECT_NE(table.find("# Sequence Code: glob2\n# Unnamed sequence\n#\n"), std::string::npos);
    EXPECT_EQ(table.find("short"), std::string::npos);
    EXPECT_EQ(count_rows(table), 56 + 48);

    // "-" reads standard input and writes standard output; the logs stay empty without -v/-p.
    r = run_velcorin2({"2", "3", "4", "gen.dat", "pos.dat", "-", "-", "coil.log", "seq.log"}, dir.path(), {}, kFasta);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kNoConfig + table);
    EXPECT_EQ(dir.read("coil.log") + dir.read("seq.log"), "");
}

TEST_F(Cli, ConfigurationComesFirstAndCommandLineFillsTheRest)
{
    std::string conf = dir.write("conf", "genbnk = gen.dat\ncctb = pos.dat\nlib = 2 3 4\nver\n");
    RunResult r = run({"seqs.fa", "out.txt", "coil.log"}, {{"VELCORIN_CONFIG", conf}});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "\n");  // the distance list prints a newline
    EXPECT_EQ(count_rows(dir.read("out.txt")), 104);
    // "ver": one score line per scored record, numbered in input order.
    std::string log = dir.read("coil.log");
    size_t nl = log.find('\n');
    ASSERT_NE(nl, std::string::npos) << log;
    EXPECT_EQ(log.substr(0, 5) + log.substr(nl - 25, 26), "   1  coil1 first test protein\n") << log;
    EXPECT_EQ(log.substr(nl + 1, 5) + log.substr(log.size() - 8), "   3  glob2 \n") << log;

    // A lone "-" is standard input wherever it stands, also first.
    std::string table = dir.read("out.txt");
    r = run_velcorin2({"-", "out2.txt"}, dir.path(), {{"VELCORIN_CONFIG", conf}}, kFasta);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(dir.read("out2.txt"), table);

    // Fewer distances than functnum asks for: refused, not made up.
    conf = dir.write("conf2", "genbnk = gen.dat\ncctb = pos.dat\ntest = seqs.fa\nout = o\nlib = 1 2\n");
    r = run({"-f", "3"}, {{"VELCORIN_CONFIG", conf}});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "velcorin2: functnum is 3 but only 2 distances were given\n" + kUsage);
}

TEST_F(Cli, WindowLengthProgressMarksAndEmptyInput)
{
    dir.write("mid.fa", ">mid\nMSKLEELLKKNEELEKKVAELEKE\n");  // 24 residues: only -win 21 scores it
    ASSERT_EQ(run({"2", "3", "4", "gen.dat", "pos.dat", "mid.fa", "a.txt"}).status, 0);
    EXPECT_EQ(dir.read("a.txt"), "");
    ASSERT_EQ(run({"-win", "21", "2", "3", "4", "gen.dat", "pos.dat", "mid.fa", "b.txt"}).status, 0);
    EXPECT_EQ(count_rows(dir.read("b.txt")), 24);

    // One mark as the 10th and the 20th record are taken up; a short 10th record has none.
    std::string fasta;
    for (int i = 1; i <= 25; i++) fasta += ">r" + std::to_string(i) + "\n" + std::string(i == 10 ? 3 : 30, 'L') + "\n";
    dir.write("many.fa", fasta);
    EXPECT_EQ(run({"2", "3", "4", "gen.dat", "pos.dat", "many.fa", "c.txt"}).err, "<time>\n\n.\n<time>\n\nDone.\n");

    dir.write("empty.fa", "");
    RunResult r = run({"2", "3", "4", "gen.dat", "pos.dat", "empty.fa", "d.txt"});
    EXPECT_EQ(r.err, kFrame);
    EXPECT_EQ(dir.read("d.txt"), "");
}

TEST_F(Cli, HelpAndVersion)
{
    RunResult r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("-win 21|28"), std::string::npos);
    EXPECT_NE(r.out.find("(default 3)"), std::string::npos);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(run({"--version"}).out, "velcorin2 1.0.0\n");
}

}  // namespace

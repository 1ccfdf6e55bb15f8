// The command line end to end: options, distances, positional files,
// configuration precedence, usage and exit statuses.
#include <gtest/gtest.h>

#include <cctype>


#include "harness.h"

namespace {

const std::string kUsage = "\nUsage: velcorin2 [-win 21|28] <fasta_file> <output_file>\n";
const std::string kNoConfig = "Couldn't find config file\n";
const std::string kFrame = "<time>\n\n\n<time>\n\nDone.\n";  // stamps, end of progress line, stamps

// A long helical-looking sequence and a short one (skipped, still counted).
const std::string kFasta =
    ">coil1 first test protein\n"
    "MSKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAELEQKNKELEKKLAEL\n"
    ">short too short\n"
    "MKLVE\n"
    ">glob2\n"
    "MTPYDGSWRNHCFPQGTPDWYNMCHSGRTPDGNWYQCPHMSTGDNRWY\n";

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

TEST_F(Cli, NoArgumentsGivesUsage)
{
    RunResult r = run({});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, kNoConfig);
    EXPECT_EQ(r.err, kUsage);
}

TEST_F(Cli, BadOptionsAndMissingValues)
{
    RunResult r = run({"-x", "2", "3", "4"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, kNoConfig + "ERROR: Unrecognized switch: -x\n");
    EXPECT_EQ(r.err, "");

    // A lone "-" before the files is an option word, and so is a negative first distance.
    EXPECT_EQ(run({"-"}).out, kNoConfig + "ERROR: Unrecognized switch: -\n");
    EXPECT_EQ(run({"-4", "2", "3"}).out, kNoConfig + "ERROR: Unrecognized switch: -4\n");

    for (auto args : std::vector<std::vector<std::string>>{
             {"-win", "25", "2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "out"},
             {"-f"}, {"-p"}, {"-win"}, {"-d", "+"}, {"-v", "-d", "+-"}}) {
        RunResult u = run(args);
        EXPECT_EQ(u.status, 255) << args[0];
        EXPECT_EQ(u.err, kUsage) << args[0];
    }
    // Leftover words after the six files.
    RunResult extra = run({"2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "out", "l1", "l2", "l3"});
    EXPECT_EQ(extra.status, 255);
}

TEST_F(Cli, DistanceChecks)
{
    RunResult r = run({"-f", "9", "1", "2", "3", "4", "5", "6", "0", "1", "2", "gen.dat", "pos.dat", "seqs.fa", "out"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "velcorin2: functnum must be 1 to 7\n" + kUsage);

    r = run({"-f", "0", "gen.dat", "pos.dat", "seqs.fa", "out"});
    EXPECT_EQ(r.err, "velcorin2: functnum must be 1 to 7\n" + kUsage);

    r = run({"2", "9", "4", "gen.dat", "pos.dat", "seqs.fa", "out"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "velcorin2: distance 9 is outside 0 to 6\n" + kUsage);

    // Too few distances: only visible when the configuration named the files.
    std::string conf = dir.write("conf", "genbnk = gen.dat\ncctb = pos.dat\ntest = seqs.fa\nout = out\nlib = 1 2\n");
    r = run({"-f", "3"}, {{"VELCORIN_CONFIG", conf}});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.err, "velcorin2: functnum is 3 but only 2 distances were given\n" + kUsage);
}

TEST_F(Cli, PlainRunWritesTablesForLongRecords)
{
    RunResult r = run({"2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "out.txt"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, kNoConfig);
    EXPECT_EQ(r.err, kFrame);
    std::string table = dir.read("out.txt");
    EXPECT_EQ(table.rfind("# Sequence Code: coil1\n# Sequence Name: first test protein\n#\n"
                          "# Position  Residue      Register    P-score    ( Score )\n", 0), 0u);
    EXPECT_NE(table.find("# Sequence Code: glob2\n# Unnamed sequence\n#\n"), std::string::npos);
    EXPECT_EQ(table.find("short"), std::string::npos);
    EXPECT_EQ(count_rows(table), 56 + 48);
}

TEST_F(Cli, OutputFilesAndStandardStreams)
{
    // "-" as the sequence file reads stdin and as the output writes stdout.
    RunResult r = run_velcorin2({"2", "3", "4", "gen.dat", "pos.dat", "-", "-", "coil.log", "seq.log"},
                                dir.path(), {}, kFasta);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_rows(r.out), 104);
    EXPECT_EQ(dir.read("coil.log"), "");
    EXPECT_EQ(dir.read("seq.log"), "");
    EXPECT_EQ(r.err, kFrame);
}

TEST_F(Cli, ConfigurationComesFirstAndCommandLineFillsTheRest)
{
    std::string conf = dir.write("conf", "genbnk = gen.dat\ncctb = pos.dat\nlib = 2 3 4\nver\n");
    RunResult r = run({"seqs.fa", "out.txt", "coil.log"}, {{"VELCORIN_CONFIG", conf}});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "\n");  // the distance list prints a newline
    EXPECT_EQ(count_rows(dir.read("out.txt")), 104);
    // -v from the "ver" key: one score line per scored record, numbered in input order.
    std::string log = dir.read("coil.log");
    size_t nl = log.find('\n');
    ASSERT_NE(nl, std::string::npos) << log;
    std::string first = log.substr(0, nl), second = log.substr(nl + 1);
    EXPECT_EQ(first.rfind("   1 ", 0), 0u) << log;
    EXPECT_EQ(first.substr(first.size() - 25), " coil1 first test protein") << log;
    EXPECT_EQ(second.rfind("   3 ", 0), 0u) << log;
    EXPECT_EQ(second.substr(second.size() - 8), " glob2 \n") << log;
}

TEST_F(Cli, WindowLength21ScoresShorterRecords)
{
    dir.write("mid.fa", ">mid\nMSKLEELLKKNEELEKKVAELEKE\n");  // 24 residues
    RunResult r = run({"2", "3", "4", "gen.dat", "pos.dat", "mid.fa", "a.txt"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(dir.read("a.txt"), "");
    r = run({"-win", "21", "2", "3", "4", "gen.dat", "pos.dat", "mid.fa", "b.txt"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(count_rows(dir.read("b.txt")), 24);
}

TEST_F(Cli, ProgressMarksEveryTenthRecord)
{
    std::string fasta;
    for (int i = 1; i <= 25; i++) {
        // The 10th record is too short: no mark for it.
        fasta += ">r" + std::to_string(i) + "\n" + (i == 10 ? std::string("MKV") : std::string(30, 'L')) + "\n";
    }
    dir.write("many.fa", fasta);
    RunResult r = run({"2", "3", "4", "gen.dat", "pos.dat", "many.fa", "out.txt"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "<time>\n\n.\n<time>\n\nDone.\n");
}

TEST_F(Cli, EmptyInputWritesNothing)
{
    dir.write("empty.fa", "");
    RunResult r = run({"2", "3", "4", "gen.dat", "pos.dat", "empty.fa", "out.txt"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, kFrame);
    EXPECT_EQ(dir.read("out.txt"), "");
}

TEST_F(Cli, HelpAndVersion)
{
    RunResult r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("-win 21|28"), std::string::npos);
    EXPECT_NE(r.out.find("(default 3)"), std::string::npos);
    EXPECT_EQ(r.err, "");
    r = run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "velcorin2 1.0.0\n");
    EXPECT_EQ(run({"--verbose"}).status, 2);
}

TEST_F(Cli, FailedWritesAreNotSuccess)
{
    RunResult r = run({"2", "3", "4", "gen.dat", "pos.dat", "seqs.fa", "/dev/full"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, kNoConfig + "ERROR: Error while writing in /dev/full\n");
    EXPECT_EQ(r.err.find("Done."), std::string::npos);
}

TEST_F(Cli, MissingFilesAndBadModels)
{
    RunResult r = run({"2", "3", "4", "gen.dat", "pos.dat", "nothere.fa", "out.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, kNoConfig + "ERROR: Error while opening file nothere.fa\n");
    r = run({"2", "3", "4", "pos.dat", "pos.dat", "seqs.fa", "out.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, kNoConfig + "ERROR: Bad Magic Number of <GenFreq> file\n");
}

TEST_F(Cli, ParseErrorStopsWithStatus255)
{
    dir.write("bad.fa", ">x\nMK1\n");
    RunResult r = run({"2", "3", "4", "gen.dat", "pos.dat", "bad.fa", "out.txt"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, kNoConfig + "Unable to parse input '1', MK1\n.\n");
}

}  // namespace

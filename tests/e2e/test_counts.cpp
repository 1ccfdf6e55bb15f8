// velcorin2-counts end to end: its files read back to the counts velcorin2's own readers and
// counting make, it never replaces a file unasked, and bad input leaves no file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <tuple>

#include "harness.h"
#include "scio.h"
#include "scpos.h"

namespace {

RunResult counts(const std::vector<std::string> &args, const TempDir &dir, const std::string &in = "")
{
    return run_program(VELCORIN2_COUNTS_BIN, args, dir.path(), {}, in);
}

// Files in `dir`: no scratch file may stay behind.
long files(const TempDir &dir) { return std::distance(std::filesystem::directory_iterator(dir.path()), {}); }

using Gen = GenFreq;
using Pos = PosFreq;

const std::string kFasta = ">a\nLIXVP\n>b two lines\naaaaa\naaaaaa\n";

TEST(Counts, FilesReadBackToTheCountsMade)
{
    TempDir dir;
    RunResult r = counts({"genfreq", dir.write("in.fa", kFasta)}, dir);
    ASSERT_EQ(std::tuple(r.status, r.out, r.err), std::tuple(0, "", ""));  // silent
    std::string bytes = dir.read("genfreq.dat");  // the default name; total 15 big-endian, proline counted
    EXPECT_EQ(bytes.substr(0, 38) + std::to_string(bytes.size()),
              std::string("GenFreq 1 + 20 + 7 + 20x20x7 long\n\0\0\0\x0f", 38) + "11346");
    EXPECT_EQ(counts({"-o", "-", "genfreq"}, dir, kFasta).out, bytes);  // standard input and output
    // Read back, and counted as velcorin2's own readers and counting do.
    auto gen = std::make_unique<Gen>(), want = std::make_unique<Gen>();
    Sequence rec;
    FILE *f = std::fopen(dir.file("genfreq.dat").c_str(), "rb"), *in = std::fopen(dir.file("in.fa").c_str(), "r");
    readgenfreq(f, *gen);
    while (getseq2(in, rec, MAXSEQ)) add_genseq(*want, rec.seq.data(), rec.seqlen);
    std::fclose(f), std::fclose(in);
    EXPECT_EQ(std::memcmp(gen.get(), want.get(), sizeof *gen), 0);
    // Pairs 1..7 apart, ordered, across X but never across records.
    EXPECT_EQ(std::vector<int>(gen->totalp, gen->totalp + NREG), (std::vector<int>{12, 10, 10, 8, 6, 5, 4}));
    const int L = aanum('L'), I = aanum('I');
    EXPECT_EQ(std::pair(gen->freqp[L][I][0], gen->freqp[I][L][0]), std::pair(1, 0));

    std::string coils = std::string(VELCORIN2_SOURCE_DIR) + "/data/coils.pos";
    ASSERT_EQ(counts({"-o", "pos.dat", "posfreq", coils}, dir).status, 0);
    EXPECT_EQ(std::filesystem::file_size(dir.file("pos.dat")), 79224u);
    auto pos = std::make_unique<Pos>(), want_pos = std::make_unique<Pos>();
    f = std::fopen(dir.file("pos.dat").c_str(), "rb"), in = std::fopen(coils.c_str(), "r");
    readposfreq(f, *pos);
    while (getpos(in, rec, MAXSEQ) == POS_RECORD) add_seq2(*want_pos, rec.reg.data(), rec.seq.data(), rec.seqlen, 1);
    std::fclose(f), std::fclose(in);
    EXPECT_EQ(std::memcmp(pos.get(), want_pos.get(), sizeof *pos), 0);
    EXPECT_EQ(std::accumulate(pos->totals, pos->totals + NREG, 0), 15606);
}

TEST(Counts, NeverReplacesAFileUnlessForced)
{
    TempDir dir;
    dir.write("in.fa", kFasta);
    dir.write("model.dat", "keep me");
    std::filesystem::create_symlink(dir.file("nowhere"), dir.file("link.dat"));  // dangling: still a file
    for (std::string out : {"model.dat", "link.dat"}) {
        RunResult r = counts({"-o", out, "genfreq", "in.fa"}, dir);
        EXPECT_EQ(std::pair(r.status, r.err),
                  std::pair(2, "velcorin2-counts: " + out + " exists; use --force to replace it\n"));
    }
    EXPECT_EQ(dir.read("model.dat"), "keep me");
    EXPECT_FALSE(dir.exists("nowhere"));
    EXPECT_EQ(counts({"--force", "-o", "model.dat", "genfreq", "in.fa"}, dir).status, 0);
    EXPECT_EQ(dir.read("model.dat").size(), 11346u);
    EXPECT_EQ(files(dir), 3);
}

TEST(Counts, BadInputEndsTheRunAndWritesNothing)
{
    TempDir dir;
    dir.write("bad.fa", ">x\nMKL#EV\n");
    dir.write("cut.pos", ">p1\nt\nLIV*\nabc*\n>p2\nt\nLIV*\nabc");
    dir.write("empty.fa", "");
    dir.write("short.fa", ">s\n" + std::string(56, 'L') + "\n");
    write_test_model(dir);
    const std::string usage = "Try 'velcorin2-counts --help'.\n";
    using Case = std::tuple<std::vector<std::string>, int, std::string, std::string>;  // args, status, out, err
    for (auto [args, status, out, err] : std::vector<Case>{
             {{"genfreq", "bad.fa"}, 255, "Unable to parse input '#', MKL#EV\n.\n", ""},
             {{"genfreq", "missing.fa"}, 2, "ERROR: Error while opening file missing.fa\n", ""},
             {{"posfreq", "cut.pos"}, 2, "", "velcorin2-counts: cut.pos: record 2 is incomplete (the input ends "
                                             "before the '*' that closes its register part)\n"},
             {{"genfreq", "empty.fa"}, 2, "", "velcorin2-counts: warning: no records in empty.fa\n"
                                              "velcorin2-counts: no records read; nothing written\n"},
             {{"tables", "bad.fa"}, 1, "",
              "velcorin2-counts: unknown table kind 'tables' (genfreq, posfreq or calibrate)\n" + usage},
             {{"genfreq", "bad.fa", "-f"}, 1, "", "velcorin2-counts: options go before genfreq\n" + usage},
             {{"-P", "genfreq", "bad.fa"}, 1, "", "velcorin2-counts: --distances and -P belong to calibrate\n" + usage},
             {{"calibrate", "gen.dat", "pos.dat"}, 1, "",
              "velcorin2-counts: calibrate needs the model's distance classes: --distances LIST (e.g. 1,2,3)\n" +
                  usage},
             {{"--distances", "1,2,7", "calibrate", "gen.dat", "pos.dat"}, 1, "",
              "velcorin2-counts: --distances takes one to seven distance classes 0 to 6, such as 1,2,3\n" + usage},
             {{"--distances", "1 2 3", "calibrate", "gen.dat"}, 1, "",
              "velcorin2-counts: calibrate needs the GenFreq and PosFreq files, then the background\n" + usage},
             {{"--distances", "1 2 3", "calibrate", "gen.dat", "pos.dat", "short.fa"}, 2, "",
              "velcorin2-counts: window length 28: 56 finite residue scores; at least 1000 are needed; "
              "nothing written\n"},
             {{"--distances", "1 2 3", "calibrate", "pos.dat", "pos.dat", "short.fa"}, 2,
              "ERROR: Bad Magic Number of <GenFreq> file\n", ""}}) {
        RunResult r = counts(args, dir);
        EXPECT_EQ(std::tuple(r.status, r.out, r.err), std::tuple(status, out, err)) << args[0] << " " << args[1];
    }
    EXPECT_EQ(files(dir), 6);
}

// A calibration is fitted to the very scores velcorin2 prints: the sequence
// table counts the score lines of a velcorin2 run over the same background,
// at each window length, and the residue table is fitted to as many scores
// as that run's table has finite rows.
TEST(Counts, CalibrationCountsTheScoresVelcorin2Prints)
{
    TempDir dir;
    write_test_model(dir);
    std::string fasta;
    uint32_t state = 99;  // a fixed generator: the same background on every host
    for (int rec = 0; rec < 60; rec++) {
        fasta += ">bg" + std::to_string(rec) + "\n";
        const int len = 20 + int((state = state * 1664525u + 1013904223u) >> 24);  // 20 to 275
        for (int i = 0; i < len; i++) fasta += "LIVMFYGAKRHEDQNSTCWP"[((state = state * 1664525u + 1013904223u) >> 8) % 20];
        fasta += "\n";
    }
    dir.write("bg.fa", fasta);
    for (const std::string rule : {"", "-P"}) {
        std::vector<std::string> args = {"--force", "-o", "cal.dat", "--distances", "2,3"};
        if (!rule.empty()) args.push_back(rule);
        for (auto w : {"calibrate", "gen.dat", "pos.dat", "bg.fa"}) args.push_back(w);
        RunResult r = counts(args, dir);
        ASSERT_EQ(std::tuple(r.status, r.out, r.err), std::tuple(0, "", "")) << rule;
        const std::string cal = dir.read("cal.dat");
        EXPECT_NE(cal.find(rule.empty() ? "\nprolines end segments\n" : "\nprolines do not end segments\n"),
                  std::string::npos);
        for (int win : {28, 21}) {
            std::vector<std::string> run = {"-v", "-win", std::to_string(win), "-f", "2", "--calib", "cal.dat"};
            if (!rule.empty()) run.push_back(rule);
            for (auto w : {"2", "3", "gen.dat", "pos.dat", "bg.fa", "out.txt", "coil.log"}) run.push_back(w);
            ASSERT_EQ(run_velcorin2(run, dir.path()).status, 0);
            std::vector<double> y;  // the score lines of scored sequences
            const std::string log = dir.read("coil.log");
            for (size_t at = 0; at < log.size(); at = log.find('\n', at) + 1) {
                double v = std::strtod(log.c_str() + at + 5, nullptr);
                if (v != -100000.0) y.push_back(v);
            }
            long finite = 0;  // rows (not '#' lines) whose score is not -inf
            const std::string table = dir.read("out.txt");
            for (size_t at = 0, nl; (nl = table.find('\n', at)) != std::string::npos; at = nl + 1)
                finite += table[at] != '#' && table.compare(nl - 5, 5, "-inf)") != 0;
            std::string head = "\nresidue " + std::to_string(win) + " scores " + std::to_string(finite) + " ";
            ASSERT_NE(cal.find(head), std::string::npos) << rule << " " << win;
            const size_t seq = cal.find("\nsequence " + std::to_string(win) + " scored " + std::to_string(y.size()));
            ASSERT_NE(seq, std::string::npos) << rule << " " << win;
            // Each row: score, count below it (the score lines print six
            // decimals, so none is taken for a grid score it is not).
            const char *row = cal.c_str() + cal.find('\n', seq + 1) + 1;
            for (int k = 0; k < 813; k++) {
                char *end;
                const double g = std::strtod(row, &end);
                const long c = std::strtol(end, &end, 10);
                EXPECT_EQ(c, std::count_if(y.begin(), y.end(), [g](double v) { return v < g; })) << g;
                row = std::strchr(end, '\n') + 1;
            }
        }
    }
}

}  // namespace

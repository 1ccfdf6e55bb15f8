// velcorin2-counts end to end: the files it writes read back to the counts
// the program's own counting makes, it never replaces a file unasked, and
// bad input ends the run without leaving a file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "harness.h"
#include "scio.h"
#include "scpos.h"

namespace {

RunResult counts(const std::vector<std::string> &args, const TempDir &dir, const std::string &in = "")
{
    return run_program(VELCORIN2_COUNTS_BIN, args, dir.path(), {}, in);
}

struct Gen {
    int32_t totals = 0, freqs[NAA] = {}, totalp[NREG] = {}, freqp[NAA][NAA][NREG] = {};
    bool operator==(const Gen &o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};
struct Pos {
    int32_t totals[NREG] = {}, freqs[NAA][NREG] = {}, totalp[NREG][NREG] = {},
            freqp[NAA][NAA][NREG][NREG] = {};
    bool operator==(const Pos &o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};

struct Record {
    int8_t seq[MAXSEQ], reg[MAXSEQ];
    char title[NAMELEN], code[NAMELEN];
    Sequence s{0, seq, reg, title, code};
};

FILE *open_or_fail(const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    EXPECT_NE(f, nullptr) << path;
    return f;
}

// The counts velcorin2's own readers and counting make of a file.
std::unique_ptr<Gen> count_fasta_directly(const std::string &path)
{
    auto g = std::make_unique<Gen>();
    auto r = std::make_unique<Record>();
    FILE *f = open_or_fail(path);
    while (getseq2(f, &r->s)) add_genseq(&g->totals, g->freqs, g->totalp, g->freqp, r->seq, r->s.seqlen);
    std::fclose(f);
    return g;
}
std::unique_ptr<Pos> count_pos_directly(const std::string &path)
{
    auto p = std::make_unique<Pos>();
    auto r = std::make_unique<Record>();
    FILE *f = open_or_fail(path);
    while (getpos(f, &r->s)) add_seq2(p->freqs, p->totals, p->freqp, p->totalp, r->reg, r->seq, r->s.seqlen, 1);
    std::fclose(f);
    return p;
}
std::unique_ptr<Gen> read_gen(const std::string &path)
{
    auto g = std::make_unique<Gen>();
    FILE *f = open_or_fail(path);
    readgenfreq(f, &g->totals, g->freqs, g->totalp, g->freqp, stderr);
    std::fclose(f);
    return g;
}
std::unique_ptr<Pos> read_pos(const std::string &path)
{
    auto p = std::make_unique<Pos>();
    FILE *f = open_or_fail(path);
    readposfreq(f, p->totals, p->freqs, p->totalp, p->freqp, stderr);
    std::fclose(f);
    return p;
}

const std::string kFasta =
    ">one first record\n"
    "MKLEELLKKnEELEKKVAELEKENAELKKK\n"
    "LEELEKXLAELXEQKNKE\n"
    ">two\n"
    "PPGW\n"
    "\n"
    ">three lower case and a stop*\n"
    "mtpydgswrnhcfpqg*\n";

const std::string kPos =
    ">p1\nfirst\nLIVLIVLIVK*\nabcdefgab.*\n"
    ">p2\nwith X inside a run\nLXVEEK*\nabcdef*\n";

// Files in `dir` other than the test's own inputs: nothing half-written may stay.
std::vector<std::string> listing(const TempDir &dir)
{
    std::vector<std::string> names;
    for (auto &e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Counts, GenFreqRoundTrip)
{
    TempDir dir;
    std::string fa = dir.write("in.fa", kFasta);
    RunResult r = counts({"genfreq", "in.fa"}, dir);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out + r.err, "");
    std::string bytes = dir.read("genfreq.dat");  // the default name
    ASSERT_EQ(bytes.size(), 11346u);
    EXPECT_EQ(bytes.substr(0, 34), "GenFreq 1 + 20 + 7 + 20x20x7 long\n");
    auto got = read_gen(dir.file("genfreq.dat"));
    EXPECT_TRUE(*got == *count_fasta_directly(fa));
    EXPECT_EQ(got->totals, 46 + 4 + 16);  // X and what follows "*" not counted
    // Big-endian on disk: the total stands in bytes 34..37.
    EXPECT_EQ(bytes.substr(34, 4), std::string("\0\0\0\x42", 4));

    // Several inputs, standard input and compressed input add up to one file.
    dir.write("a.fa", kFasta.substr(0, kFasta.find(">two")));
    dir.write("b.fa", kFasta.substr(kFasta.find(">two")));
    ASSERT_EQ(run_program("/bin/sh", {"-c", "gzip -n b.fa"}, dir.path()).status, 0);
    RunResult split = counts({"-o", "split.dat", "genfreq", "a.fa", "b.fa.gz"}, dir);
    ASSERT_EQ(split.status, 0) << split.out << split.err;
    EXPECT_EQ(dir.read("split.dat"), bytes);
    RunResult piped = counts({"-o", "-", "genfreq"}, dir, kFasta);
    ASSERT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, bytes);
}

TEST(Counts, PosFreqRoundTripOnTheShippedCoils)
{
    TempDir dir;
    dir.write("small.pos", kPos);
    ASSERT_EQ(counts({"-o", "small.dat", "posfreq", "small.pos"}, dir).status, 0);
    auto small = read_pos(dir.file("small.dat"));
    EXPECT_TRUE(*small == *count_pos_directly(dir.file("small.pos")));
    EXPECT_EQ(small->totals[0], 3);     // L, L of p1 and L of p2
    EXPECT_EQ(small->totalp[0][0], 1);  // positions 0 and 7 of p1, seven apart
    EXPECT_EQ(small->freqp[aanum('L')][aanum('V')][0][2], 2);  // across X in p2

    std::string coils = std::string(VELCORIN2_SOURCE_DIR) + "/data/coils.pos";
    RunResult r = counts({"-o", "pos.dat", "posfreq", coils}, dir);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(std::filesystem::file_size(dir.file("pos.dat")), 79224u);
    auto got = read_pos(dir.file("pos.dat"));
    EXPECT_TRUE(*got == *count_pos_directly(coils));
    EXPECT_EQ(got->totals[0] + got->totals[1] + got->totals[2] + got->totals[3] + got->totals[4] +
                  got->totals[5] + got->totals[6],
              15606);  // the amino acids with a register in that file
}

TEST(Counts, NeverReplacesAFileUnlessForced)
{
    TempDir dir;
    dir.write("in.fa", kFasta);
    dir.write("model.dat", "keep me");
    RunResult r = counts({"-o", "model.dat", "genfreq", "in.fa"}, dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "velcorin2-counts: model.dat exists; use --force to replace it\n");
    EXPECT_EQ(dir.read("model.dat"), "keep me");
    // A symbolic link counts as an existing file, even a dangling one.
    std::filesystem::create_symlink(dir.file("nowhere"), dir.file("link.dat"));
    EXPECT_EQ(counts({"-o", "link.dat", "genfreq", "in.fa"}, dir).status, 2);
    EXPECT_FALSE(dir.exists("nowhere"));

    for (const char *force : {"-f", "--force"}) {
        dir.write("model.dat", "keep me");
        RunResult f = counts({force, "-o", "model.dat", "genfreq", "in.fa"}, dir);
        ASSERT_EQ(f.status, 0) << force << f.err;
        EXPECT_TRUE(*read_gen(dir.file("model.dat")) == *count_fasta_directly(dir.file("in.fa")));
    }
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"in.fa", "link.dat", "model.dat"}));
}

TEST(Counts, BadInputEndsTheRunAndWritesNothing)
{
    TempDir dir;
    dir.write("bad.fa", ">x\nMKL#EV\n");
    dir.write("cut.pos", kPos.substr(0, kPos.size() - 2));  // last register part unclosed
    dir.write("fasta.fa", ">a\nMKLV\n>b\nEEKL\n");
    dir.write("empty.fa", "");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    } cases[] = {
        {{"genfreq", "bad.fa"}, 255, "Unable to parse input '#', MKL#EV\n.\n", ""},
        {{"genfreq", "missing.fa"}, 2, "ERROR: Error while opening file missing.fa\n", ""},
        {{"posfreq", "cut.pos"}, 2, "",
         "velcorin2-counts: cut.pos: record 2 is incomplete (the input ends before the '*' that "
         "closes its register part)\n"},
        // A FASTA file is no register file: its records never close.
        {{"posfreq", "fasta.fa"}, 2, "", ""},
        {{"genfreq", "empty.fa"}, 2, "",
         "velcorin2-counts: warning: no records in empty.fa\n"
         "velcorin2-counts: no records read; nothing written\n"},
        {{"tables", "fasta.fa"}, 1, "",
         "velcorin2-counts: unknown table kind 'tables' (genfreq or posfreq)\n"
         "Try 'velcorin2-counts --help'.\n"},
        {{"genfreq", "fasta.fa", "--force"}, 1, "", ""},
        {{"-x", "genfreq"}, 1, "", ""},
        {{"-o"}, 1, "", ""},
        {{}, 1, "", ""},
    };
    for (auto &c : cases) {
        RunResult r = counts(c.args, dir);
        std::string what = c.args.empty() ? "(none)" : c.args[0] + " " + c.args.back();
        EXPECT_EQ(r.status, c.status) << what;
        if (!c.out.empty() || !c.err.empty()) {
            EXPECT_EQ(r.out, c.out) << what;
            EXPECT_EQ(r.err, c.err) << what;
        } else {
            EXPECT_NE(r.out + r.err, "") << what;  // always says why
        }
    }
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"bad.fa", "cut.pos", "empty.fa", "fasta.fa"}));
}

TEST(Counts, HelpShowsTheDefaults)
{
    TempDir dir;
    RunResult r = counts({"--help"}, dir);
    EXPECT_EQ(r.status, 0);
    for (const char *s : {"genfreq.dat", "posfreq.dat", "20000", "2147483647", "--force"})
        EXPECT_NE(r.out.find(s), std::string::npos) << s;
}

}  // namespace

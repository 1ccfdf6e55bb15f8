// Tests of scio: stream opening and closing, alphabets, the FASTA reader
// and the count files.  Paths that end the process run in a forked child.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "scio.h"

namespace fs = std::filesystem;

namespace {

const std::string OPEN_ERR = "ERROR: Error while opening file ";
const std::string TOO_LONG = OPEN_ERR + "file name too long for internal buffer\n";

std::string slurp(const std::string &path)
{
    std::stringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    return ss.str();
}

void spit(const std::string &path, const std::string &data)
{
    std::ofstream(path, std::ios::binary) << data;
}

std::string read_all(FILE *fp)
{
    std::string s;
    for (int c; (c = getc(fp)) != EOF;) s += char(c);
    return s;
}

FILE *input(const std::string &text)
{
    FILE *fp = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), fp);
    std::rewind(fp);
    return fp;
}

struct Outcome {
    int status;
    std::string out;
};

class Scio : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/test_scio.XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const std::string &name) const { return dir + "/" + name; }

    // Runs `fn` in a child with stdout captured; a child that returns exits 0.
    Outcome run(const std::function<void()> &fn)
    {
        std::string out = path(".out");
        std::fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            fn();
            std::fflush(nullptr);
            _exit(0);
        }
        int st = 0;
        waitpid(pid, &st, 0);
        return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), slurp(out)};
    }

    std::string dir;
};

// ---- Streams -----------------------------------------------------------------

TEST_F(Scio, OpeningByModeAndName)
{
    EXPECT_EQ(sopen(nullptr, "r"), nullptr);
    EXPECT_EQ(sopen("-", "r"), stdin);
    EXPECT_EQ(sopen("-", "w"), stdout);
    EXPECT_EQ(run([] { sopen("-", "a"); }).out, OPEN_ERR + "-\n");
    std::string f = path("f"), g = path("g");
    EXPECT_EQ(run([&] { sopen(f.c_str(), "rw"); }).out,
              OPEN_ERR + ": invalid file mode rw for " + f + "\n");

    mode_t old = umask(0);
    FILE *fp = sopen(f.c_str(), "w");
    std::fputs("one\n", fp);
    sclose(fp);
    EXPECT_EQ(fs::status(f).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    fp = sopen(f.c_str(), "a");
    std::fputs("two\n", fp);
    sclose(fp);
    sclose(sopen(f.c_str(), "r+"));  // neither truncates nor appends
    EXPECT_EQ(slurp(f), "one\ntwo\n");
    sclose(sopen(g.c_str(), "r+"));
    EXPECT_EQ(fs::status(g).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    umask(old);

    Outcome r = run([&] { sopen(path("nodir/f").c_str(), "w"); });
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, OPEN_ERR + ": cannot open " + path("nodir/f") + " as w, 577\n\n");
    EXPECT_EQ(run([&] { sopen(path("missing").c_str(), "r"); }).out, OPEN_ERR + path("missing") + "\n");

    std::string name241 = dir + "/" + std::string(240 - dir.size(), 'n');
    EXPECT_EQ(run([&] { sopen(name241.c_str(), "r"); }).out, TOO_LONG);
    sclose(sopen(name241.c_str(), "w"));  // the limit is for reading only
    EXPECT_TRUE(fs::exists(name241));
}

TEST_F(Scio, HomeDirectoryNames)
{
    spit(path("f"), "home file\n");
    Outcome r = run([&] {
        setenv("HOME", dir.c_str(), 1);
        std::fputs(read_all(sopen("~/f", "r")).c_str(), stdout);
        sclose(sopen("~/g", "w"));
        sclose(sopen("~", "r"));  // the home directory itself
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "home file\n");
    EXPECT_TRUE(fs::exists(path("g")));
    EXPECT_EQ(run([] { unsetenv("HOME"); sopen("~/f", "r"); }).out, OPEN_ERR + "~/f\n");
    EXPECT_EQ(run([] { sopen("~no_such_user_vc/f", "r"); }).out, OPEN_ERR + "~no_such_user_vc/f\n");
    std::string user50 = "~" + std::string(50, 'u') + "/f";
    EXPECT_EQ(run([&] { sopen(user50.c_str(), "r"); }).out, TOO_LONG);
    std::string home496(496, 'd');
    EXPECT_EQ(run([&] { setenv("HOME", home496.c_str(), 1); sopen("~/abcd", "w"); }).out, TOO_LONG);
}

TEST_F(Scio, CompressedInputThroughZcatWithoutShell)
{
    auto gz = [&](const std::string &name, const std::string &text) {
        spit(path("plain"), text);
        ASSERT_EQ(std::system(("gzip -c " + path("plain") + " > '" + path(name) + "'").c_str()), 0);
    };
    auto through = [&](const std::string &name) {
        FILE *fp = sopen(name.c_str(), "r");
        std::string s = read_all(fp);
        sclose(fp);
        return s;
    };
    gz("a.gz", "alpha\n");
    gz("b.Z", "beta\n");
    gz("c.Z", "gamma\n");
    gz("d.gz", "delta\n");
    gz("e f;touch pwned.gz", "shell\n");
    gz("-n.gz", "dash\n");
    EXPECT_EQ(through(path("a.gz")), "alpha\n");
    EXPECT_EQ(through(path("b.Z")), "beta\n");
    EXPECT_EQ(through(path("c")), "gamma\n");  // falls back to c.Z
    EXPECT_EQ(through(path("d")), "delta\n");  // falls back to d.gz
    EXPECT_EQ(through(path("e f;touch pwned.gz")), "shell\n");
    EXPECT_FALSE(fs::exists("pwned.gz") || fs::exists(path("pwned.gz")));
    auto dash = [&] { chdir(dir.c_str()); std::fputs(through("-n.gz").c_str(), stdout); };
    EXPECT_EQ(run(dash).out, "dash\n");
}

TEST_F(Scio, OutputCommandsAndWriteErrors)
{
    FILE *fp = sopen(("|cat > '" + path("piped") + "'").c_str(), "w");
    std::fputs("through cat\n", fp);
    sclose(fp);
    EXPECT_EQ(slurp(path("piped")), "through cat\n");
    EXPECT_EQ(run([] { sclose(sopen("|exit 3", "w")); }).status, 0);  // its status does not count

    Outcome r = run([] {
        FILE *out = sopen("/dev/full", "w");
        std::fputs("lost", out);
        sclose(out);
    });
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "ERROR: Error while writing in /dev/full\n");
    r = run([] {
        setenv("HOME", "/dev", 1);
        FILE *out = sopen("~/full", "a");
        setbuf(out, nullptr);
        std::fputs("lost", out);
        check_output(stderr);  // never opened by sopen: not checked
        std::puts("still running");
        check_output(out);
    });
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "still running\nERROR: Error while writing in ~/full\n");
}

TEST_F(Scio, PlotFileIsNeverOpenedThroughALink)
{
    std::string target = path("target"), link = path("tr.ps");
    spit(target, "keep");
    fs::create_symlink(target, link);
    EXPECT_EQ(run([&] { sopen_nofollow(link.c_str()); }).out,
              OPEN_ERR + ": cannot open " + link + " as w, 577\n\n");
    EXPECT_EQ(slurp(target), "keep");
    fs::remove(link);
    spit(link, "old contents");
    FILE *fp = sopen_nofollow(link.c_str());
    std::fputs("new", fp);
    sclose(fp);
    EXPECT_EQ(slurp(link), "new");
}

// ---- Alphabets and the FASTA reader --------------------------------------------

TEST(ScioAlphabet, Conversions)
{
    for (int i = 0; i < 22; i++) EXPECT_EQ(aanum(numaa(int8_t(i))), i);
    EXPECT_EQ(aanum('l'), 0);
    EXPECT_EQ(aanum('B'), -1);
    EXPECT_EQ(aanum(int8_t(0xEC)), -1);  // 'l' + 128
    EXPECT_EQ(numaa(22), 0);
    EXPECT_EQ(numpos(6), 'g');
    EXPECT_EQ(numpos(7), 0);
}

struct Record {
    int8_t seq[MAXSEQ];
    char title[NAMELEN], code[NAMELEN];
    Sequence s{0, seq, nullptr, title, code};
    std::string residues() const { return std::string((const char *)seq, size_t(s.seqlen)); }
};
Record rec;

std::string nums(std::initializer_list<int> v) { return std::string(v.begin(), v.end()); }

TEST(ScioFasta, HeadersAndRecords)
{
    EXPECT_EQ(getseq2(input("MKV\nno header\n"), &rec.s), 0);
    FILE *fp = input("junk\n>sp|P1 Some protein  \n>P2\n> Lead blank\r\n>P4\r\nmkv\n");
    ASSERT_EQ(getseq2(fp, &rec.s), 1);
    EXPECT_STREQ(rec.code, "sp|P1");
    EXPECT_STREQ(rec.title, "Some protein  ");
    EXPECT_EQ(rec.s.seqlen, 0);
    ASSERT_EQ(getseq2(fp, &rec.s), 1);
    EXPECT_STREQ(rec.title, "");
    ASSERT_EQ(getseq2(fp, &rec.s), 1);
    EXPECT_STREQ(rec.code, "");
    EXPECT_STREQ(rec.title, "Lead blank\r");
    ASSERT_EQ(getseq2(fp, &rec.s), 1);
    EXPECT_STREQ(rec.code, "P4\r");
    EXPECT_EQ(rec.residues(), nums({3, 8, 2}));
    EXPECT_EQ(getseq2(fp, &rec.s), 0);

    fp = input(">a\nMK*\nAA\n>next\nMXBZU\tL( ),./=\r\nw");
    ASSERT_EQ(getseq2(fp, &rec.s), 1);
    EXPECT_EQ(rec.residues(), nums({3, 8}));
    ASSERT_EQ(getseq2(fp, &rec.s), 1);
    EXPECT_STREQ(rec.code, "next");
    EXPECT_EQ(rec.residues(), nums({3, 20, 20, 20, 20, 0, 18}));
}

TEST(ScioFasta, LongHeadersLinesAndRecords)
{
    std::string word(1500, 'C');
    FILE *fp = input(">" + word + "\nMK\n>id " + std::string(2000, 'W') + "\n" +
                     std::string(3000, 'A') + "\n>s\nM*" + std::string(1021, 'A') + ">b\n>c\n");
    ASSERT_EQ(getseq2(fp, &rec.s), 1);
    EXPECT_EQ(std::string(rec.code), word.substr(0, 1023));
    EXPECT_EQ(rec.residues(), nums({3, 8}));  // nothing of the header is sequence
    ASSERT_EQ(getseq2(fp, &rec.s), 1);
    EXPECT_EQ(std::string(rec.title), std::string(1023, 'W'));
    EXPECT_EQ(rec.s.seqlen, 3000);
    ASSERT_EQ(getseq2(fp, &rec.s), 1);  // '*' drops the rest of its line, ">b" included
    ASSERT_EQ(getseq2(fp, &rec.s), 1);
    EXPECT_STREQ(rec.code, "c");

    std::string body;
    for (int i = 0; i < 20005; i++) body += (i % 60 == 59) ? "L\n" : "L";
    fp = input(">big\n" + body + "\n>full\n" + std::string(20000, 'A') + "\n1*?\n>n\n");
    testing::internal::CaptureStderr();
    ASSERT_EQ(getseq2(fp, &rec.s), 1);
    EXPECT_EQ(rec.s.seqlen, 20000);
    ASSERT_EQ(getseq2(fp, &rec.s), 1);  // exactly full, then nothing that adds a residue
    EXPECT_EQ(rec.s.seqlen, 20000);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Sequence big truncated to 20000 residues\n");
    ASSERT_EQ(getseq2(fp, &rec.s), 1);
    EXPECT_STREQ(rec.code, "n");
}

TEST_F(Scio, FastaParseErrors)
{
    auto parse = [&](const std::string &text) {
        return run([&] {
            FILE *fp = input(">a\n" + text);
            while (getseq2(fp, &rec.s)) {
            }
        });
    };
    Outcome o = parse("MK1\n");
    EXPECT_EQ(o.status, 255);
    EXPECT_EQ(o.out, "Unable to parse input '1', MK1\n.\n");
    EXPECT_EQ(parse("AC-DE\n").out, "Unable to parse input '-', AC-DE\n.\n");
    EXPECT_EQ(parse("MK\xe9L\n").out, "Unable to parse input '\xe9', MK\xe9L\n.\n");
    EXPECT_EQ(parse(std::string("M\0K\n", 4)).out, std::string("Unable to parse input '\0', M.\n", 30));
    std::string tail = std::string(100, 'A') + "J\n";  // a long line shows the piece at fault
    EXPECT_EQ(parse(std::string(1023, 'A') + tail).out, "Unable to parse input 'J', " + tail + ".\n");
}

// ---- Count files -----------------------------------------------------------------

struct GenTables {
    int32_t totals, freqs[NAA], totalp[NREG], freqp[NAA][NAA][NREG];
} gen, gen2;
struct PosTables {
    int32_t totals[NREG], freqs[NAA][NREG], totalp[NREG][NREG], freqp[NAA][NAA][NREG][NREG];
} pos, pos2;

// Distinct values using every byte position, negative ones included.
template <class T>
void fill(T &t)
{
    auto *p = reinterpret_cast<int32_t *>(&t);
    for (size_t i = 0; i < sizeof t / 4; i++) p[i] = int32_t(0x01020304u * uint32_t(i + 1)) - 5000;
}

int32_t be_at(const std::string &bytes, size_t off)
{
    auto b = [&](size_t k) { return uint32_t((unsigned char)bytes[off + k]); };
    return int32_t(b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3));
}

TEST_F(Scio, CountFiles)
{
    fill(gen);
    fill(pos);
    FILE *fp = std::tmpfile();
    ASSERT_EQ(writegenfreq(fp, gen.totals, gen.freqs, gen.totalp, gen.freqp), 0);
    std::rewind(fp);
    std::string g = read_all(fp);
    fp = std::tmpfile();
    ASSERT_EQ(writeposfreq(fp, pos.totals, pos.freqs, pos.totalp, pos.freqp), 0);
    std::rewind(fp);
    std::string p = read_all(fp);
    ASSERT_EQ(g.size(), 11346u);
    ASSERT_EQ(p.size(), 79224u);
    EXPECT_EQ(be_at(g, 182), gen.freqp[0][1][2]);
    EXPECT_EQ(be_at(p, 624), pos.freqs[19][6]);

    readgenfreq(input(g + "trailing bytes"), &gen2.totals, gen2.freqs, gen2.totalp, gen2.freqp, stderr);
    EXPECT_EQ(std::memcmp(&gen, &gen2, sizeof gen), 0);
    readposfreq(input(p), pos2.totals, pos2.freqs, pos2.totalp, pos2.freqp, stderr);
    EXPECT_EQ(std::memcmp(&pos, &pos2, sizeof pos), 0);
    FILE *full = std::fopen("/dev/full", "w");
    EXPECT_EQ(writeposfreq(full, pos.totals, pos.freqs, pos.totalp, pos.freqp), -1);

    auto load_gen = [&](const std::string &bytes) {
        return run([&] {
            readgenfreq(input(bytes), &gen2.totals, gen2.freqs, gen2.totalp, gen2.freqp, stderr);
        });
    };
    const std::string magic = "ERROR: Bad Magic Number of <GenFreq> file\n";
    const std::string cut = "ERROR: Error while reading from <GenFreq> file\n";
    EXPECT_EQ(load_gen(g.substr(0, g.size() - 1)).status, 2);
    EXPECT_EQ(load_gen(g.substr(0, g.size() - 1)).out, cut);
    EXPECT_EQ(load_gen(p).out, magic);
    EXPECT_EQ(load_gen("").out, magic);
    EXPECT_EQ(load_gen("GenFreq 1 + 20 + 7 + 20x20x7 long\r\n" + g.substr(34)).out, magic);
    EXPECT_EQ(load_gen(std::string(5000, 'G') + "\n" + g).out, magic);
    EXPECT_EQ(run([&] { readposfreq(input(p.substr(0, 900)), pos2.totals, pos2.freqs, pos2.totalp,
                                    pos2.freqp, stderr); }).out,
              "ERROR: Error while reading from <PosFreq> file\n");

    int32_t words[2];
    std::memcpy(words, "\x01\x02\x03\x04\xff\xff\xff\xfe", 8);
    ntohla(words, 2);
    EXPECT_EQ(words[0], 0x01020304);
    EXPECT_EQ(words[1], -2);
}

}  // namespace

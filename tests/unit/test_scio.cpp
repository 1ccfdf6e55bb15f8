// Tests of scio: streams, alphabets, the FASTA reader, the count files.
// Paths that end the process run in a child (expect_run).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "scio.h"

namespace fs = std::filesystem;

namespace {

const std::string OPEN = "ERROR: Error while opening file ", WRITE = "ERROR: Error while writing in ";
const std::string TOO_LONG = OPEN + "file name too long for internal buffer\n";

std::string read_all(FILE *fp)
{
    std::string s;
    for (int c; (c = getc(fp)) != EOF;) s += char(c);
    return s;
}

// A stream over `text`, which must outlive it.
FILE *input(const std::string &text) { return fmemopen(const_cast<char *>(text.data()), text.size(), "r"); }

// Runs `fn` in a child (returning from it exits 0): its exit status and stdout + stderr.
void expect_run(int status, const std::function<void()> &fn, const std::string &out)
{
    EXPECT_EXIT({ dup2(2, 1); fn(); std::exit(0); }, testing::ExitedWithCode(status), testing::Eq(out));
}

class Scio : public ::testing::Test {
protected:
    std::string dir = [] { char t[] = "/tmp/test_scio.XXXXXX"; return std::string(mkdtemp(t)); }();
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const std::string &name) const { return dir + "/" + name; }
};

TEST_F(Scio, OpeningForms)
{
    EXPECT_EQ(sopen(nullptr, "r"), nullptr);
    EXPECT_EQ(sopen("-", "r"), stdin);
    EXPECT_EQ(sopen("-", "w"), stdout);
    ASSERT_EQ(std::system(("cd " + dir + " && for n in a.gz b.Z c.Z c.gz d.gz 'e f;touch pwned.gz' -n.gz; do "
                           "printf %s, \"$n\" | gzip > \"./$n\"; done").c_str()), 0);
    std::string n240 = dir + "/" + std::string(239 - dir.size(), 'n'), n241 = n240 + "n";  // refused in "r" only
    expect_run(0, [&] {
        umask(0);
        setenv("HOME", dir.c_str(), 1);
        chdir(dir.c_str());
        auto put = [](FILE *fp, const char *s) { std::fputs(s, fp); sclose(fp); };
        put(sopen("~/f", "a"), "xx");
        put(sopen("~/f", "w"), "w");
        put(sopen("~/f", "a"), "a,");
        put(sopen_nofollow("plot"), "old");
        put(sopen_nofollow("plot"), "p,");
        put(sopen("|cat > piped", "w"), "piped,");
        put(sopen("|exit 3", "w"), "");  // the command's status does not count
        for (const char *name : {"~/f", "~/g", n240.c_str(), n241.c_str()}) sclose(sopen(name, "r+"));
        sclose(sopen("~", "r"));
        for (const char *name :
             {n240.c_str(), "~/f", "plot", "piped", "a.gz", "b.Z", "c", "d", "e f;touch pwned.gz", "-n.gz"}) {
            FILE *fp = sopen(name, "r");
            std::fputs(read_all(fp).c_str(), stdout);
            sclose(fp);
        }
    }, "wa,p,piped,a.gz,b.Z,c.Z,d.gz,e f;touch pwned.gz,-n.gz,");  // "c" falls back to c.Z before c.gz
    EXPECT_FALSE(fs::exists(path("pwned.gz")));
    for (const std::string &name : {path("f"), path("g"), path("plot"), n241})
        EXPECT_EQ(fs::status(name).permissions(), fs::perms::owner_read | fs::perms::owner_write) << name;
}

TEST_F(Scio, FatalErrorsExitTwoWithTheirMessage)
{
    std::string f = path("f"), miss = path("missing"), nodir = path("nodir/f"), link = path("plot");
    std::string n241 = dir + "/" + std::string(240 - dir.size(), 'n'), u50 = "~" + std::string(50, 'u') + "/f";
    std::ofstream(path("target")) << "keep";
    fs::create_symlink(path("target"), link);
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { sopen("-", "a"); }, OPEN + "-\n"},
        {[&] { sopen(f.c_str(), "rw"); }, OPEN + ": invalid file mode rw for " + f + "\n"},
        {[&] { sopen(nodir.c_str(), "w"); }, OPEN + ": cannot open " + nodir + " as w, 577\n\n"},
        {[&] { sopen_nofollow(link.c_str()); }, OPEN + ": cannot open " + link + " as w, 577\n\n"},
        {[&] { sopen(miss.c_str(), "r"); }, OPEN + miss + "\n"},
        {[&] { sopen(n241.c_str(), "r"); }, TOO_LONG},
        {[&] { sopen(u50.c_str(), "r"); }, TOO_LONG},
        {[] { sopen("~no_such_user_vc/f", "r"); }, OPEN + "~no_such_user_vc/f\n"},
        {[] { unsetenv("HOME"); sopen("~/f", "r"); }, OPEN + "~/f\n"},
        {[] { setenv("HOME", std::string(495, 'd').c_str(), 1); sopen("~/abcd", "w"); }, TOO_LONG},
        {[] { FILE *o = sopen("/dev/full", "w"); std::fputs("x", o); sclose(o); }, WRITE + "/dev/full\n"},
        {[] { setenv("HOME", "/dev", 1);  // check_output passes a failed stream sopen did not open
             for (FILE *o : {std::fopen("/dev/full", "w"), sopen("~/full", "a")})
                 setbuf(o, nullptr), std::fputs("x", o), check_output(o), std::puts("on"); },
         "on\n" + WRITE + "~/full\n"},
    };
    for (const auto &[fn, out] : cases) expect_run(2, fn, out);
    EXPECT_EQ(fs::file_size(path("target")), 4u);  // not truncated through the link
}

TEST(ScioAlphabet, Conversions)
{
    for (int i = 0; i < 22; i++) EXPECT_EQ(aanum(numaa(int8_t(i))), i);
    EXPECT_EQ(aanum('l'), 0);
    EXPECT_EQ(numaa(-1), 0);
    EXPECT_EQ(numpos(6), 'g');
    EXPECT_EQ(numpos(-1), 0);
}

// Prints every record of `text` as "code[title]residues;", residues as
// letters (X, B, Z and U read as residue 20, printed '-').
void print_records(const std::string &text)
{
    static int8_t seq[MAXSEQ];
    static char title[NAMELEN], code[NAMELEN];
    Sequence s{0, seq, nullptr, title, code};
    for (FILE *fp = input(text); getseq2(fp, &s); std::putchar(';')) {
        std::printf("%s[%s]", code, title);
        for (int i = 0; i < s.seqlen; i++) std::putchar(numaa(seq[i]));
    }
}

TEST(ScioFasta, RecordsAndParseErrors)
{
    std::string c1500(1500, 'C'), w2000(2000, 'W'), a3000(3000, 'A'), l20k(20000, 'L'), a20k(20000, 'A'), body;
    for (int i = 0; i < 20100; i++) body += (i % 60 == 59) ? "L\n" : "L";  // the cut spans two lines
    const std::string bad = "Unable to parse input ", tail = std::string(100, 'A') + "J\n";
    const std::tuple<std::string, int, std::string> cases[] = {
        {"MKV\nno >header\n", 0, ""},
        {"junk\n>sp|P1 \t Some protein  \n>P2\t\n> Lead blank\r\n>P4\r\nmkv\n", 0,
         "sp|P1[Some protein  ];P2[];[Lead blank\r];P4\r[]MKV;"},
        {">a\nMK*\nAA\n>next\nMXBZU\tL( ),./=\r\nw", 0, "a[]MK;next[]M----LW;"},
        {">" + c1500 + "\nMK\n>id " + w2000 + "\n" + a3000 + "\n", 0,
         c1500.substr(0, 1023) + "[]MK;id[" + w2000.substr(0, 1023) + "]" + a3000 + ";"},
        {">s\nM*" + std::string(1021, 'A') + ">b\n>c\n", 0, "s[]M;c[];"},  // "*" drops its line's next piece
        {">big\n" + body + "\n>full\n" + a20k + "\n1*?\n>n\n", 0,
         "Sequence big truncated to 20000 residues\nbig[]" + l20k + ";full[]" + a20k + ";n[];"},
        {">a\nMK1\n", 255, bad + "'1', MK1\n.\n"},
        {">a\nAC-DE\n", 255, bad + "'-', AC-DE\n.\n"},
        {">a\nMK\xe9L\n", 255, bad + "'\xe9', MK\xe9L\n.\n"},
        {std::string(">a\nM\0K\n", 7), 255, bad + std::string("'\0', M.\n", 8)},
        {">a\n" + std::string(1023, 'A') + tail, 255, bad + "'J', " + tail + ".\n"},  // the piece at fault
    };
    for (const auto &[text, status, out] : cases) expect_run(status, [&] { print_records(text); }, out);
}

struct Tables {
    int32_t gtotals, gfreqs[NAA], gtotalp[NREG], gfreqp[NAA][NAA][NREG];
    int32_t ptotals[NREG], pfreqs[NAA][NREG], ptotalp[NREG][NREG], pfreqp[NAA][NAA][NREG][NREG];
} tab, back;

void load(const std::string &bytes)  // by the file's first letter
{
    if (bytes[0] == 'P') readposfreq(input(bytes), back.ptotals, back.pfreqs, back.ptotalp, back.pfreqp, stderr);
    else readgenfreq(input(bytes), &back.gtotals, back.gfreqs, back.gtotalp, back.gfreqp, stderr);
}

TEST(ScioCounts, LayoutRoundTripAndErrors)
{
    for (size_t i = 0; i < sizeof tab / 4; i++)  // every byte varies, negative values too
        reinterpret_cast<int32_t *>(&tab)[i] = int32_t(0x01020304u * uint32_t(i + 1)) - 5000;
    tab.gfreqp[0][1][2] = 0x0a0b0c0d;
    tab.pfreqs[19][6] = -2;
    FILE *gf = std::tmpfile(), *pf = std::tmpfile(), *full = std::fopen("/dev/full", "w");
    ASSERT_EQ(writegenfreq(gf, tab.gtotals, tab.gfreqs, tab.gtotalp, tab.gfreqp), 0);
    ASSERT_EQ(writeposfreq(pf, tab.ptotals, tab.pfreqs, tab.ptotalp, tab.pfreqp), 0);
    EXPECT_EQ(writeposfreq(full, tab.ptotals, tab.pfreqs, tab.ptotalp, tab.pfreqp), -1);
    std::rewind(gf);
    std::rewind(pf);
    std::string g = read_all(gf), p = read_all(pf);
    ASSERT_EQ(g.size(), 11346u);
    ASSERT_EQ(p.size(), 79224u);
    EXPECT_EQ(g.substr(182, 4), "\x0a\x0b\x0c\x0d");
    EXPECT_EQ(p.substr(624, 4), "\xff\xff\xff\xfe");
    load(g + "trailing bytes");
    load(p);
    EXPECT_EQ(std::memcmp(&tab, &back, sizeof tab), 0);

    const std::string cut = "ERROR: Error while reading from <";
    const std::string magic = "ERROR: Bad Magic Number of <GenFreq> file\n";
    const std::pair<std::string, std::string> cases[] = {
        {g.substr(0, g.size() - 1), cut + "GenFreq> file\n"},
        {p.substr(0, p.size() - 1), cut + "PosFreq> file\n"},
        {"GenFreq 1 + 20 + 7 + 20x20x7 long\r\n" + g.substr(34), magic},
        {"", magic},
    };
    for (const auto &[bytes, out] : cases) expect_run(2, [&] { load(bytes); }, out);
}

}  // namespace

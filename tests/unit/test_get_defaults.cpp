// Configuration file reader: key matching, file keys, the distance list and
// the missing-file paths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "get_defaults.h"

namespace {

// What main hands over, with sentinels after lib so a write past it shows.
struct Settings {
    int mode = 0, libnum = 0, functnum = 3, result = -1;
    double bound = 0.0;
    FILE *f[5] = {};  // fgin, fpin, ftest, fout, flog
    int8_t lib[7] = {};
    int8_t guard[4] = {99, 99, 99, 99};
    std::string out;  // stdout of the call

    ~Settings()
    {
        for (FILE *fl : f)
            if (fl) std::fclose(fl);
    }
    void run()
    {
        testing::internal::CaptureStdout();
        result = get_defaults(&mode, &bound, &f[0], &f[1], &f[2], &f[3], &f[4], lib, &libnum, &functnum);
        out = testing::internal::GetCapturedStdout();
    }
};

class Config : public testing::Test {
protected:
    std::string dir, saved[2];
    bool had[2] = {};
    static constexpr const char *vars[2] = {"VELCORIN_CONFIG", "HOME"};

    void SetUp() override
    {
        char tmpl[] = "/tmp/vc_cfgXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        for (int i = 0; i < 2; i++)
            if (const char *v = std::getenv(vars[i])) had[i] = true, saved[i] = v;
    }
    void TearDown() override
    {
        for (int i = 0; i < 2; i++)
            had[i] ? setenv(vars[i], saved[i].c_str(), 1) : unsetenv(vars[i]);
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string write(const std::string &name, const std::string &text)
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
        return dir + "/" + name;
    }
    void read_config(Settings &s, const std::string &text)
    {
        setenv("VELCORIN_CONFIG", write("config", text).c_str(), 1);
        s.run();
    }
};

TEST(Strchrs, TriesCharactersInTheirOrderNotByPosition)
{
    const char *s = "1\t2 3\n";
    EXPECT_EQ(strchrs(s, " \t\n\r"), s + 3);  // the blank, though the tab comes first
    EXPECT_EQ(strchrs(s, "\t "), s + 1);
    EXPECT_EQ(strchrs("abc", " \t"), nullptr);
    EXPECT_EQ(strchrs("abc", ""), nullptr);
}

TEST_F(Config, DistanceListTakesOnlyNumbersFollowedByADelimiter)
{
    struct Case {
        const char *text;
        std::vector<int> want;
        size_t lib_lines = 1;
    } cases[] = {
        {"lib = 2 3 4\n", {2, 3, 4}},
        {"lib = 1\t2 3\n", {1, 3}},           // the first piece runs to the blank: "1\t2"
        {"lib = 2 3 4", {2, 3}},              // a last value without newline is lost
        {"lib = -3 5\n", {3, 5}},             // signs are skipped
        {"lib=2  ,4\r\n", {2, 4}},            // empty and non-numeric pieces store nothing
        {"library = 5 6\n", {5, 6}},          // matched over "lib" only
        {"lib = 300 200 7x\n", {44, -56, 7}}, // cut to a signed byte; reading stops at x
        {"lib 6 7\n", {}},                    // no "=": nothing stored, still the newline
        {"lib = 1 2 3 4 5\nlib = 6 7 8 9\n", {1, 2, 3, 4, 5, 6, 7}, 2},  // lines add up, to 7
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Settings s;
        read_config(s, c.text);
        ASSERT_EQ(s.libnum, int(c.want.size()));
        EXPECT_EQ(s.functnum, s.libnum);
        for (size_t i = 0; i < c.want.size(); i++) EXPECT_EQ(s.lib[i], c.want[i]) << i;
        for (int8_t g : s.guard) EXPECT_EQ(g, 99);
        EXPECT_EQ(s.out, std::string(c.lib_lines, '\n'));
    }
}

TEST_F(Config, ModeBitsBoundAndFunctnum)
{
    Settings s;
    read_config(s, "verbose\nview\n  pos\nPos\n\nlib = 2 3 4\nfunctnum = 2\nprn = 0.5\n");
    EXPECT_EQ(s.mode, 0x1 | 0x10 | 0x2);  // indented and upper-case keys are no keys
    EXPECT_DOUBLE_EQ(s.bound, 0.5);
    EXPECT_EQ(s.libnum, 3);
    EXPECT_EQ(s.functnum, 2);
    EXPECT_EQ(s.result, 1);

    // Values the pattern cannot read leave everything as it was.
    Settings t;
    read_config(t, "position\nfunctnum=5\nprn = abc\nfunctnum = x\nprn\nprn=1e-2x\n");
    EXPECT_EQ(t.mode, 0x8 | 0x2);
    EXPECT_DOUBLE_EQ(t.bound, 0.01);
    EXPECT_EQ(t.functnum, 5);
    EXPECT_EQ(t.out, "");
}

TEST_F(Config, FileKeysOpenTheirStreams)
{
    std::string in1 = write("gen", "g"), in2 = write("pos", "p"), in3 = write("fa", ">");
    Settings s;
    read_config(s, "genbnk = " + in1 + "\ncctb=" + in2 + "\ntest\t=\t" + in3 + "  trailing\nout = " + dir +
                       "/out\nlog = " + dir + "/log\n");
    for (FILE *fl : s.f) ASSERT_NE(fl, nullptr);
    EXPECT_EQ(std::fgetc(s.f[0]), 'g');
    EXPECT_EQ(std::fgetc(s.f[1]), 'p');
    EXPECT_EQ(std::fgetc(s.f[2]), '>');
    EXPECT_EQ(std::fputc('x', s.f[3]), 'x');
    EXPECT_EQ(std::fputc('x', s.f[4]), 'x');

    Settings t;
    read_config(t, "genbnk\ncctb =\ntest = \nout\n");
    for (FILE *fl : t.f) EXPECT_EQ(fl, nullptr);
}

TEST_F(Config, LongLinesAreReadInPiecesOf499)
{
    Settings s;  // the second piece starts with "pos"
    read_config(s, "#" + std::string(498, 'x') + "pos\n");
    EXPECT_EQ(s.mode, 0x8);

    Settings t;  // the piece ends right after "2", so 2 has no delimiter
    read_config(t, "lib = 1" + std::string(491, ' ') + "23 4\n");
    EXPECT_EQ(t.libnum, 1);
}

TEST_F(Config, PathFromTheEnvironmentOrNone)
{
    unsetenv("VELCORIN_CONFIG");
    write(".velcorin2", "ver\n");
    setenv("HOME", dir.c_str(), 1);
    Settings s;
    s.run();
    EXPECT_EQ(s.mode, 0x1);

    Settings t;  // VELCORIN_CONFIG wins over HOME
    read_config(t, "view\n");
    EXPECT_EQ(t.mode, 0x10);

    auto expect_missing = [] {
        Settings u;
        u.mode = 0x100;
        u.run();
        EXPECT_EQ(u.out, "Couldn't find config file\n");
        EXPECT_EQ(u.result, 0);
        EXPECT_EQ(u.mode, 0x100);
        EXPECT_EQ(u.functnum, 3);
    };
    setenv("VELCORIN_CONFIG", (dir + "/nonexistent").c_str(), 1);
    expect_missing();
    setenv("VELCORIN_CONFIG", std::string(600, 'c').c_str(), 1);  // does not fit 500 bytes
    expect_missing();
    unsetenv("VELCORIN_CONFIG");
    setenv("HOME", ("/" + std::string(490, 'h')).c_str(), 1);
    expect_missing();
    unsetenv("HOME");
    expect_missing();
}

}  // namespace

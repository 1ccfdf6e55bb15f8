// Configuration file reader: the lib line, key matching, value patterns and the file's path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "get_defaults.h"

namespace {

struct TempDir {
    char path[18] = "/tmp/vc_cfgXXXXXX";
    TempDir() { mkdtemp(path); }
    ~TempDir() { std::filesystem::remove_all(path); }
} dir;
std::string write(const std::string &name, const std::string &text)
{
    std::ofstream(dir.path + ("/" + name)) << text;
    return dir.path + ("/" + name);
}

// One call of get_defaults, on `config` if given, with its stdout.
struct Call {
    int mode = 0, libnum = 0, functnum = 3, result;
    double bound = 0;
    FILE *f[5] = {};      // genbnk, cctb, test, out, log
    int8_t lib[11] = {};  // room to show a write past the 7 allowed
    std::string out;
    explicit Call(const std::string &config = "")
    {
        if (!config.empty()) setenv("VELCORIN_CONFIG", write("config", config).c_str(), 1);
        testing::internal::CaptureStdout();
        result = get_defaults(&mode, &bound, &f[0], &f[1], &f[2], &f[3], &f[4], lib, &libnum, &functnum);
        out = testing::internal::GetCapturedStdout();
    }
};

TEST(GetDefaults, LibLinesTakeOnlyNumbersFollowedByADelimiter)
{
    struct { std::string text; std::vector<int> want; std::string out = "\n"; } cases[] = {
        {"lib = 2 3 4\n", {2, 3, 4}},
        {"lib = 1\t2 3\n", {1, 3}},            // the first piece runs to the blank: "1\t2"
        {"lib = 2 3 4", {2, 3}},               // a last value without newline is lost
        {"lib = -3 5\n", {3, 5}},              // signs are skipped
        {"lib=2  ,4\r\n", {2, 4}},             // empty and non-numeric pieces store nothing
        {"library = 5 6\n", {5, 6}},           // matched over "lib" only
        {"lib = 300 200 7x\n", {44, -56, 7}},  // cut to a signed byte; reading stops at x
        {"lib 6 7\n", {}},                     // no "=": nothing stored, still the newline
        {"lib = 1" + std::string(491, ' ') + "23 4\n", {1}},  // pieces of 499: the first ends in "2"
        {"lib = 1 2 3 4 5\nlib = 6 7 8 9\n", {1, 2, 3, 4, 5, 6, 7}, "\n\n"},  // lines add up, to 7
    };
    for (auto &c : cases) {
        Call r(c.text);
        std::vector<int> got(r.lib, r.lib + std::clamp(r.libnum, 0, 11));
        EXPECT_EQ(std::tuple(got, r.functnum, r.out), std::tuple(c.want, int(c.want.size()), c.out)) << c.text;
    }
}

TEST(GetDefaults, KeysInTheFirstColumnOverTheirLengthAndReadableValues)
{
    // No indented or upper-case keys; a long line's next piece is a line of its own; values the
    // pattern cannot read change nothing.
    Call r("verbose\nview\n  pos\nPos\nlib = 2 3 4\n#" + std::string(498, 'x') +
           "functnum=4\nprn = 0.5\nprn = abc\nprn\nfunctnum = x\n");
    EXPECT_EQ(std::tuple(r.mode, r.bound, r.libnum, r.functnum, r.result), std::tuple(0x13, 0.5, 3, 4, 1));
    EXPECT_EQ(Call("position\n").mode, 0x8);

    std::string in[3] = {write("gen", "g"), write("pos", "p"), write("fa", ">")};
    Call f("genbnk = " + in[0] + "\ncctb=" + in[1] + "\ntest\t=\t" + in[2] + "  trailing\nout = " + dir.path +
           "/out\nlog = " + dir.path + "/log\ngenbnk\ncctb =\ntest = \nout\n");
    for (int i = 0; i < 5; i++) {  // the lines without a value left the streams alone
        ASSERT_NE(f.f[i], nullptr) << i;
        EXPECT_EQ(i < 3 ? std::fgetc(f.f[i]) : std::fputc('x', f.f[i]), "gp>xx"[i]) << i;
        std::fclose(f.f[i]);
    }
}

TEST(GetDefaults, PathFromTheEnvironmentOrNone)
{
    write(".velcorin2", "ver\n");
    const std::string none = "Couldn't find config file\n", cfg = write("view", "view\n");
    const std::string h(489, 'h'), l(500, 'l');  // a path has room for 499 bytes: one too many each
    const char *home = dir.path;
    struct { const char *config, *home; std::string out; int mode; } cases[] = {
        {nullptr, home, "", 0x1}, {cfg.c_str(), home, "", 0x10}, {"/nonexistent", home, none, 0},
        {l.c_str(), home, none, 0}, {nullptr, h.c_str(), none, 0}, {nullptr, nullptr, none, 0}};
    for (auto &c : cases) {
        c.config ? setenv("VELCORIN_CONFIG", c.config, 1) : unsetenv("VELCORIN_CONFIG");
        c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
        Call r;
        EXPECT_EQ(std::tuple(r.out, r.result, r.mode, r.functnum), std::tuple(c.out, c.out.empty(), c.mode, 3))
            << (c.config ? c.config : "-") << " " << (c.home ? c.home : "-");
    }
}

}  // namespace

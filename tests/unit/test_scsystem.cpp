// Error routine and timestamps: the wording and exit status of every fatal
// code, the one non-fatal code, and the two-line time stamp.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "scsystem.h"

namespace {

std::string stamp_of(void (*write)(FILE *))
{
    FILE *f = std::tmpfile();
    write(f);
    std::rewind(f);
    char buf[128] = {};
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    return std::string(buf, n);
}

}  // namespace

TEST(Error, TracingPrintsAndReturns)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(error(ERR_TRACING, "ignored"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Tracing\n");
}

TEST(Error, FatalCodesPrintOnStdoutAndExitTwo)
{
    EXPECT_EXIT(error(ERR_SWITCH, "-q"), testing::ExitedWithCode(2), "");
    EXPECT_EXIT(error(ERR_MAGIC, "<GenFreq> file"), testing::ExitedWithCode(2), "");
    EXPECT_EXIT(usage("velcorin2"), testing::ExitedWithCode(255),
                "\nUsage: velcorin2 \\[-win 21\\|28\\] <fasta_file> <output_file>\n");
}

TEST(Error, ExitHookSeesTheStatus)
{
    static int seen = -1;
    struct Stop {};
    set_exit_hook([](int status) {
        seen = status;
        throw Stop{};
    });
    testing::internal::CaptureStdout();
    EXPECT_THROW(error(ERR_OPEN, "x.fa"), Stop);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Error while opening file x.fa\n");
    EXPECT_EQ(seen, 2);
    set_exit_hook(nullptr);
}

TEST(Timestamp, TimeLineThenEmptyLine)
{
    std::string s = stamp_of(timestamp);
    ASSERT_EQ(s.size(), 26u) << s;  // 24 characters of time, its newline, the format's newline
    EXPECT_EQ(s.substr(24), "\n\n");
    EXPECT_EQ(s[13], ':');
    EXPECT_EQ(s[16], ':');
}

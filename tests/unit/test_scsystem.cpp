// Error routine and timestamps: the wording and exit status of every code,
// the exit hook, and the two-line time stamp.
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "scsystem.h"

TEST(Error, EveryCode)
{
    const std::pair<int, std::string> fatal_codes[] = {
        {ERR_SWITCH, "Unrecognized switch:"}, {ERR_OPEN, "Error while opening file"},
        {ERR_WRITE, "Error while writing in"}, {ERR_READ, "Error while reading from"},
        {ERR_MAGIC, "Bad Magic Number of"},    {ERR_MEMORY, "Not Enough Memory"},
    };
    for (const auto &[code, text] : fatal_codes)  // stdout joins stderr, which the death test reads
        EXPECT_EXIT({ dup2(2, 1); error(code, "-q"); }, testing::ExitedWithCode(2),
                    testing::Eq("ERROR: " + text + " -q\n"));
    EXPECT_EXIT(error(ERR_USAGE, "-q"), testing::ExitedWithCode(255), "^\nUsage: velcorin2 ");

    int status = -1;  // a hook that throws keeps the process alive, and sees the status
    set_exit_hook([](int s) { throw s; });
    testing::internal::CaptureStdout();
    EXPECT_EQ(error(ERR_TRACING, "ignored"), 0);  // the one code that returns
    try { fatal(ERR_OPEN, "x.fa"); } catch (int s) { status = s; }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Tracing\nERROR: Error while opening file x.fa\n");
    EXPECT_EQ(status, 2);
    set_exit_hook(nullptr);
}

TEST(Timestamp, TimeLineThenEmptyLine)
{
    testing::internal::CaptureStdout();
    timestamp(stdout);
    std::string s = testing::internal::GetCapturedStdout();  // "Wed Jun  5 21:49:08 1993\n" "\n"
    ASSERT_EQ(s.size(), 26u) << s;
    EXPECT_EQ(std::string({s[3], s[7], s[10], s[13], s[16], s[19], s[24], s[25]}), "   :: \n\n") << s;
}

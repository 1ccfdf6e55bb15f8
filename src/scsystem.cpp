// scsystem: fatal conditions, the usage text, timestamps and the closing line.
// Contents: see scsystem.h.
//
// Every fatal condition of both programs is worded here or passes through
// here, so the exit status and the wording of each failure are decided in
// one place.
#include "scsystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace {

constexpr const char *err_msg[8] = {
    "Tracing",
    "Usage Error",
    "Unrecognized switch:",
    "Error while opening file",
    "Error while writing in",
    "Error while reading from",
    "Bad Magic Number of",
    "Not Enough Memory",
};

}  // namespace

int error(int errcode, const char *msg)
{
    if (errcode == ERR_TRACING) {
        std::printf("%s\n", err_msg[0]);
        return 0;
    }
    fatal(errcode, msg);
}

void fatal(int errcode, const std::string &msg)
{
    if (errcode == ERR_USAGE) usage();
    fail(std::string("ERROR: ") + err_msg[errcode] + " " + msg + "\n", false, STATUS_ERROR);
}

void usage() { fail("\nUsage: velcorin2 [-win 21|28] <fasta_file> <output_file>\n", true, STATUS_USAGE); }

void fail(const std::string &text, bool to_stderr, int status) { throw Failure{text, to_stderr, status}; }

int report(const Failure &f)
{
    FILE *to = f.to_stderr ? stderr : stdout;
    std::fwrite(f.text.data(), 1, f.text.size(), to);
    std::fflush(to);
    return f.status;
}

void guard_standard_streams()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int got = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (got >= 0 && got != fd) {  // the lowest free descriptor is fd itself
            dup2(got, fd);
            close(got);
        }
    }
}

void timestamp(FILE *flog)
{
    std::time_t now = std::time(nullptr);
    std::fprintf(flog, "%s\n", std::ctime(&now));
}

void done() { std::fputs("Done.\n", stderr); }

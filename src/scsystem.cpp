// scsystem: fatal errors, the usage text, timestamps and the closing line.
//
// Every fatal condition of the program ends here, so the exit status and
// the wording of each failure are decided in one place.
#include "scsystem.h"

#include <cstdlib>
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

ExitHook exit_hook = nullptr;

}  // namespace

void set_exit_hook(ExitHook hook) { exit_hook = hook; }

void exit_program(int status)
{
    if (exit_hook) exit_hook(status);
    std::exit(status);
}

int error(int errcode, const char *msg)
{
    if (errcode == ERR_TRACING) {
        std::printf("%s\n", err_msg[0]);
        return 0;
    }
    if (errcode == ERR_USAGE) usage("velcorin2");
    std::printf("ERROR: %s %s\n", err_msg[errcode], msg);
    exit_program(2);
}

void fatal(int errcode, const char *msg)
{
    error(errcode, msg);
    exit_program(2);  // only reached for code 0, which callers never pass
}

void usage(const char * /*progname*/)
{
    std::fprintf(stderr, "\nUsage: velcorin2 [-win 21|28] <fasta_file> <output_file>\n");
    exit_program(-1);
}

void timestamp(FILE *flog)
{
    std::time_t now = std::time(nullptr);
    std::fprintf(flog, "%s\n", std::ctime(&now));
}

void done() { std::fputs("Done.\n", stderr); }

// progress: the updating progress line on a terminal.
#include "progress.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

namespace velcorin2::cli {

namespace {

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

constexpr double REDRAW_EVERY = 0.25;  // seconds

}  // namespace

void progress_start(Progress &p, bool quiet, FILE *input)
{
    struct stat st {};
    p.on = !quiet && isatty(STDERR_FILENO) && input && fstat(fileno(input), &st) == 0 && S_ISREG(st.st_mode);
    if (!p.on) return;
    p.input_size = st.st_size;
    p.start = now();
}

void progress_update(Progress &p, int64_t records, int64_t residues, int64_t offset)
{
    if (!p.on) return;
    p.records += records;
    p.residues += residues;
    const double t = now(), spent = t - p.start;
    if (p.last > 0 && t - p.last < REDRAW_EVERY) return;  // the first batch draws at once
    p.last = t;
    const double share = p.input_size > 0 && offset >= 0 ? double(offset) / double(p.input_size) : 1.0;
    const double rate = spent > 0 ? double(p.residues) / spent : 0.0;
    // "\r" to the line's start, the text, then erase what an earlier, longer line left.
    std::fprintf(stderr, "\rvelcorin2: %3.0f%% of the input, %lld records, %.2f M residues/s", 100 * share,
                 (long long)p.records, rate / 1e6);
    if (share > 0 && share < 1 && spent > 1) {
        const long left = long((spent * (1 - share) / share) + 0.5);
        std::fprintf(stderr, ", %ld:%02ld left", left / 60, left % 60);
    }
    std::fputs("\033[K", stderr);
    std::fflush(stderr);
    p.drawn = true;
}

void progress_clear(Progress &p)
{
    if (!p.drawn) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    p.drawn = false;
}

}  // namespace velcorin2::cli

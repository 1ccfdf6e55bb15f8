// fuzz_wrap: link-time wrappers (ld --wrap) of the program's stream opening.
//
// Contents:
//   safe_name                   where a fuzzed file name may lead
//   __wrap_ sopen, sopen_nofollow, sclose   tracking around the real functions
#include "fuzz_wrap.h"

#include <unistd.h>

#include <cstring>

#include "fuzz_common.h"

// The mangled names of sopen(const char*, const char*), sopen_nofollow(const
// char*) and sclose(FILE*): ld --wrap works on symbol names.
extern "C" {
FILE *__real__Z5sopenPKcS0_(const char *name, const char *ops);
FILE *__real__Z14sopen_nofollowPKc(const char *name);
void __real__Z6scloseP8_IO_FILE(FILE *fl);
FILE *__wrap__Z5sopenPKcS0_(const char *name, const char *ops);
FILE *__wrap__Z14sopen_nofollowPKc(const char *name);
void __wrap__Z6scloseP8_IO_FILE(FILE *fl);
}

namespace {

std::string flatten(const char *s)
{
    std::string out(s);
    for (char &c : out)
        if (c == '/') c = '_';
    return out;
}

bool ends_with(const std::string &s, const char *suffix)
{
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool is_standard(FILE *fl) { return fl == stdin || fl == stdout || fl == stderr; }

}  // namespace

// Starting a process costs a thousand times what the rest of an input does,
// so only the exact name "|cat" (a real pipe to a harmless command, unless
// the harness turned real pipes off) and
// existing compressed files (a real zcat) start one.  Any other command
// becomes a plain file named after it, and a missing "x.gz" or "x.Z" is
// looked up as "x.gz_": missing all the same, without a zcat to say so.
bool fuzz_real_pipes = true;

std::string safe_name(const char *name, const char *ops)
{
    if (name[0] == '\0' || !std::strcmp(name, "-")) return name;
    if (name[0] == '|' && !std::strcmp(ops, "w"))
        return fuzz_real_pipes && !std::strcmp(name, "|cat") ? "|cat >/dev/null" : scratch_path(flatten(name).c_str());
    if (!std::strcmp(name, "~")) return name;
    const bool home = name[0] == '~' && name[1] == '/';
    std::string plain = flatten(home ? name + 2 : name);
    if (!home && plain[0] == '~') plain[0] = '_';
    if ((ends_with(plain, ".gz") || ends_with(plain, ".Z")) &&
        access(scratch_path(plain.c_str()).c_str(), F_OK) != 0)
        plain += '_';
    return home ? "~/" + plain : scratch_path(plain.c_str());
}

FILE *__wrap__Z5sopenPKcS0_(const char *name, const char *ops)
{
    if (!name) return __real__Z5sopenPKcS0_(name, ops);
    std::string safe = safe_name(name, ops);
    FILE *fp = __real__Z5sopenPKcS0_(safe.c_str(), ops);
    track_stream(fp);
    return fp;
}

FILE *__wrap__Z14sopen_nofollowPKc(const char * /*name*/)
{
    FILE *fp = __real__Z14sopen_nofollowPKc(scratch_path("tr.ps").c_str());
    track_stream(fp);
    return fp;
}

void __wrap__Z6scloseP8_IO_FILE(FILE *fl)
{
    untrack_stream(fl);
    if (!fl) return;
    if (is_standard(fl)) {
        std::fflush(fl);
        return;
    }
    __real__Z6scloseP8_IO_FILE(fl);
}

// errors: how the library raises an Error.
#include "errors.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#ifndef VELCORIN2_VERSION
#define VELCORIN2_VERSION "unknown"
#endif

namespace velcorin2 {

namespace {
// The text of each numbered code, as every message of the program reads it.
constexpr const char *numbered_text[8] = {
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

Error numbered_error(ErrorCode code, const std::string &detail, int sys_errno)
{
    return Error(std::string("ERROR: ") + numbered_text[int(code)] + " " + detail + "\n", code, false, STATUS_ERROR,
                 sys_errno);
}

void raise_numbered(ErrorCode code, const std::string &detail, int sys_errno)
{
    throw numbered_error(code, detail, sys_errno);
}

void raise_numberedf(ErrorCode code, const char *fmt, ...)
{
    const int e = errno;
    va_list ap;
    va_start(ap, fmt);
    int len = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string detail(len > 0 ? size_t(len) : 0, '\0');
    va_start(ap, fmt);
    std::vsnprintf(detail.data(), detail.size() + 1, fmt, ap);
    va_end(ap);
    raise_numbered(code, detail, e);
}

void raise_text(const std::string &text, bool to_stderr, int status, ErrorCode code)
{
    throw Error(text, code, to_stderr, status);
}

const char *version() { return VELCORIN2_VERSION; }

}  // namespace velcorin2

// text: printf-style formatting appended to a text, which every writer uses.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "velcorin2/report.h"

namespace velcorin2 {

void appendf(std::string &out, const char *fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int len = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (len < 0) return;
    if (size_t(len) < sizeof buf) {
        out.append(buf, size_t(len));
        return;
    }
    size_t at = out.size();
    out.resize(at + size_t(len) + 1);
    va_start(ap, fmt);
    std::vsnprintf(out.data() + at, size_t(len) + 1, fmt, ap);
    va_end(ap);
    out.resize(at + size_t(len));
}

}  // namespace velcorin2

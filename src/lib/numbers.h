// numbers: a number read from a whole word, for option values and the
// numeric configuration keys.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace velcorin2 {

// whole_int: `w` read as a decimal int the way strtol reads it (leading
// blanks and a sign taken) that fills the word to its end and fits an int.
inline bool whole_int(const char *w, int *v)
{
    char *end = nullptr;
    errno = 0;
    const long r = std::strtol(w, &end, 10);
    if (end == w || *end != '\0' || errno != 0 || r < INT_MIN || r > INT_MAX) return false;
    *v = int(r);
    return true;
}

// whole_double: `w` read the way strtod reads it (so also "inf", "nan",
// hexadecimal) when that fills the word to its end.  Out of range reads as
// strtod gives it (infinity, or a value near 0), as atof did.
inline bool whole_double(const char *w, double *v)
{
    char *end = nullptr;
    const double r = std::strtod(w, &end);
    if (end == w || *end != '\0') return false;
    *v = r;
    return true;
}

}  // namespace velcorin2

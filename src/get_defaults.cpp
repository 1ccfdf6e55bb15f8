// get_defaults: the configuration file read before the command line.
// Contents: see get_defaults.h.
#include "get_defaults.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "velcorin2.h"

#ifndef VELCORIN2_DATA_FROM_BIN
#define VELCORIN2_DATA_FROM_BIN "../share"
#endif

namespace {

constexpr int BUFLEN = 500;  // path, line pieces and file names, NUL included
constexpr int LIBMAX = 7;    // entries of lib

enum Key { GENBNK, CCTB, LIB, TEST, OUT, LOG, POS, VIEW, VER, PRN, FUNCTNUM, CALIB, NKEYS };

// In matching order; a line matches over the key's length only, so
// "library" is a "lib" line and "verbose" a "ver" line.
constexpr const char *keys[NKEYS] = {"genbnk", "cctb", "lib", "test", "out",      "log",
                                     "pos",    "view", "ver", "prn",  "functnum", "calib"};

// config_path: fills `path` and returns true, or false when no path can be
// formed (the result does not fit the buffer, or nothing names a file).
// VELCORIN_CONFIG comes first; else $HOME/.velcorin2 when it exists; else
// the configuration installed beside the program, found from the program's
// own path (a program in the build tree has none there).
bool config_path(char path[BUFLEN])
{
    auto put = [path](const char *a, const char *b) {
        size_t n = std::strlen(a), m = std::strlen(b);
        if (n + m > BUFLEN - 1) return false;
        std::memcpy(path, a, n);
        std::memcpy(path + n, b, m + 1);
        return true;
    };
    if (const char *env = std::getenv("VELCORIN_CONFIG")) return put(env, "");
    const char *home = std::getenv("HOME");
    if (home && put(home, "/.velcorin2") && access(path, F_OK) == 0) return true;
    char exe[BUFLEN];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        if (char *slash = std::strrchr(exe, '/')) {
            slash[1] = '\0';
            if (put(exe, VELCORIN2_DATA_FROM_BIN "/velcorin2/velcorin2.conf") && access(path, F_OK) == 0) return true;
        }
    }
    return home && put(home, "/.velcorin2");  // not there: "Couldn't find config file"
}

// read_distances: `p` is the text after the line's first "=".  Only a number
// followed by a blank, tab, newline or carriage return is taken, and the
// piece ends at the first delimiter strchrs finds in its own order, so a tab
// before a later blank hides the number between them.
void read_distances(const char *p, int8_t *lib, int *libnum)
{
    while (*p && (*p < '0' || *p > '9')) p++;
    for (const char *e; (e = strchrs(p, " \t\n\r")) != nullptr; p = e + 1) {
        const char *d = p;
        while (d < e && (*d < '0' || *d > '9')) d++;
        if (d == e) continue;
        // atoi's reading (strtol cut to int), then cut to a signed byte
        int v = int(std::strtol(d, nullptr, 10));
        if (*libnum >= 0 && *libnum < LIBMAX) {
            lib[*libnum] = int8_t(v);
            (*libnum)++;
        }
    }
}

// take_name: the file-name word of a "<key> = <name>" line; a line whose
// pattern does not yield a word leaves the name as it was.  The file is
// opened with the run's other files once the command line is accepted.
void take_name(const char *line, const char *pattern, FileName &f)
{
    char fname[BUFLEN];
    if (std::sscanf(line, pattern, fname) == 1) f = FileName{true, fname, "configuration"};
}

}  // namespace

const char *strchrs(const char *str, const char *chrs)
{
    for (; *chrs; chrs++) {
        const char *p = std::strchr(str, *chrs);
        if (p) return p;
    }
    return nullptr;
}

int get_defaults(RunSettings &s)
{
    char line[BUFLEN];
    std::unique_ptr<FILE, int (*)(FILE *)> owner(nullptr, std::fclose);
    if (config_path(line)) owner.reset(std::fopen(line, "r"));
    FILE *cf = owner.get();
    if (!cf) {
        s.notes += "Couldn't find config file\n";
        return 0;
    }

    while (std::fgets(line, BUFLEN, cf)) {
        int k = 0;
        while (k < NKEYS && std::strncmp(line, keys[k], std::strlen(keys[k])) != 0) k++;
        switch (k) {
        case GENBNK: take_name(line, "genbnk = %499s", s.genbnk); break;
        case CCTB: take_name(line, "cctb = %499s", s.cctb); break;
        case TEST: take_name(line, "test = %499s", s.test); break;
        case OUT: take_name(line, "out = %499s", s.out); break;
        case LOG: take_name(line, "log = %499s", s.log); break;
        case CALIB: take_name(line, "calib = %499s", s.calib); break;
        case POS: s.mode |= MODE_POS; break;
        case VIEW: s.mode |= MODE_VIEW; break;
        case VER: s.mode |= MODE_VERBOSE; break;
        case PRN: {
            double b;
            if (std::sscanf(line, "prn = %lf", &b) == 1) {
                s.mode |= MODE_PRINT;
                s.bound = b;
            }
            break;
        }
        case FUNCTNUM: {
            int n;
            if (std::sscanf(line, "functnum = %d", &n) == 1) s.functnum = n;
            break;
        }
        case LIB: {
            const char *eq = std::strchr(line, '=');
            if (eq) read_distances(eq + 1, s.lib, &s.libnum);
            s.notes += "\n";
            s.functnum = s.libnum;
            break;
        }
        default: break;  // blank lines and comments
        }
    }
    return 1;
}

// get_defaults: the configuration file read before the command line.
//
// Contents:
//   strchrs         first occurrence of the first of a set of characters that occurs
//   config_path     the file name from VELCORIN_CONFIG or HOME
//   read_distances  the value list of a "lib" line
//   get_defaults    the reader itself
#include "get_defaults.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "scio.h"
#include "velcorin2.h"

namespace {

constexpr int BUFLEN = 500;  // path, line pieces and file names, NUL included
constexpr int LIBMAX = 7;    // entries of lib

enum Key { GENBNK, CCTB, LIB, TEST, OUT, LOG, POS, VIEW, VER, PRN, FUNCTNUM, NKEYS };

// In matching order; a line matches over the key's length only, so
// "library" is a "lib" line and "verbose" a "ver" line.
constexpr const char *keys[NKEYS] = {"genbnk", "cctb", "lib", "test", "out", "log",
                                     "pos",    "view", "ver", "prn",  "functnum"};

// config_path: fills `path` and returns true, or false when no path can be
// formed (no variable set, or the result does not fit the buffer).
bool config_path(char path[BUFLEN])
{
    const char *env = std::getenv("VELCORIN_CONFIG");
    const char *suffix = "";
    if (!env) {
        env = std::getenv("HOME");
        suffix = "/.velcorin2";
        if (!env) return false;
    }
    size_t n = std::strlen(env), m = std::strlen(suffix);
    if (n + m > BUFLEN - 1) return false;
    std::memcpy(path, env, n);
    std::memcpy(path + n, suffix, m + 1);
    return true;
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

// open_named: the file-name word of a "<key> = <name>" line, opened with
// sopen; a line whose pattern does not yield a word leaves `*fl` alone.
void open_named(const char *line, const char *pattern, const char *ops, FILE **fl)
{
    char fname[BUFLEN];
    if (std::sscanf(line, pattern, fname) == 1) *fl = sopen(fname, ops);
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

int get_defaults(int *mode, double *bound, FILE **fgin, FILE **fpin, FILE **ftest, FILE **fout,
                 FILE **flog, int8_t *lib, int *libnum, int *functnum)
{
    char line[BUFLEN];
    // Owned, so that a fatal error inside sopen that unwinds instead of
    // ending the process (a harness's exit hook) still closes the file.
    std::unique_ptr<FILE, int (*)(FILE *)> owner(nullptr, std::fclose);
    if (config_path(line)) owner.reset(std::fopen(line, "r"));
    FILE *cf = owner.get();
    if (!cf) {
        std::printf("Couldn't find config file\n");
        return 0;
    }

    while (std::fgets(line, BUFLEN, cf)) {
        int k = 0;
        while (k < NKEYS && std::strncmp(line, keys[k], std::strlen(keys[k])) != 0) k++;
        switch (k) {
        case GENBNK: open_named(line, "genbnk = %499s", "r", fgin); break;
        case CCTB: open_named(line, "cctb = %499s", "r", fpin); break;
        case TEST: open_named(line, "test = %499s", "r", ftest); break;
        case OUT: open_named(line, "out = %499s", "w", fout); break;
        case LOG: open_named(line, "log = %499s", "w", flog); break;
        case POS: *mode |= MODE_POS; break;
        case VIEW: *mode |= MODE_VIEW; break;
        case VER: *mode |= MODE_VERBOSE; break;
        case PRN: {
            double b;
            if (std::sscanf(line, "prn = %lf", &b) == 1) {
                *mode |= MODE_PRINT;
                *bound = b;
            }
            break;
        }
        case FUNCTNUM: {
            int n;
            if (std::sscanf(line, "functnum = %d", &n) == 1) *functnum = n;
            break;
        }
        case LIB: {
            const char *eq = std::strchr(line, '=');
            if (eq) read_distances(eq + 1, lib, libnum);
            std::printf("\n");
            *functnum = *libnum;
            break;
        }
        default: break;  // blank lines and comments
        }
    }
    return 1;
}

// config: the run settings' defaults and the configuration file read before
// the command line.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "errors.h"
#include "velcorin2/settings.h"

#ifndef VELCORIN2_DATA_FROM_BIN
#define VELCORIN2_DATA_FROM_BIN "../share"
#endif

namespace velcorin2 {

RunSettings default_settings() { return RunSettings{}; }

ModelRecipe model_recipe(const RunSettings &s)
{
    ModelRecipe m;
    m.background_counts = s.background_counts.name;
    m.coil_counts = s.coil_counts.name;
    m.distances.assign(s.distances, s.distances + std::min(s.distance_count, int32_t(NREG)));
    m.prolines_end_segments = (s.mode & MODE_PROLINEFREE) != 0;
    m.shortest_segment = s.shortest_segment;
    if (s.calibration.given) m.calibration = s.calibration.name;
    return m;
}

namespace {

constexpr int BUFLEN = 500;  // path, line pieces and file names, NUL included

enum Key { GENBNK, CCTB, LIB, TEST, OUT, LOG, POS, VIEW, VER, PRN, FUNCTNUM, CALIB, NKEYS };

// In matching order; a line matches over the key's length only, so
// "library" is a "lib" line and "verbose" a "ver" line.
constexpr const char *keys[NKEYS] = {"genbnk", "cctb", "lib", "test", "out",      "log",
                                     "pos",    "view", "ver", "prn",  "functnum", "calib"};

// read_distances: `p` is the text after the line's first "=".  Only a number
// followed by a blank, tab, newline or carriage return is taken, and the
// piece ends at the first delimiter find_first_listed finds in its own
// order, so a tab before a later blank hides the number between them.  A
// number is kept as a signed byte when it fits one; a larger one would
// wrap to another distance, so it is noted in *too_large (the first only).
void read_distances(const char *p, int8_t *distances, int32_t *given, std::string *too_large)
{
    while (*p && (*p < '0' || *p > '9')) p++;
    for (const char *e; (e = find_first_listed(p, " \t\n\r")) != nullptr; p = e + 1) {
        const char *d = p;
        while (d < e && (*d < '0' || *d > '9')) d++;
        if (d == e) continue;
        // atoi's reading (strtol cut to int), then cut to a signed byte
        int v = int(std::strtol(d, nullptr, 10));
        if (v > 127 && too_large->empty()) too_large->assign(d, size_t(e - d));
        if (*given >= 0 && *given < NREG) {
            distances[*given] = int8_t(v);
            (*given)++;
        }
    }
}

// take_name: the file-name word of a "<key> = <name>" line; a line whose
// pattern does not yield a word leaves the name as it was.
void take_name(const char *line, const char *pattern, FileName &f)
{
    char fname[BUFLEN];
    if (std::sscanf(line, pattern, fname) == 1) f = FileName{true, fname, "configuration"};
}

// key_value: the value of a "<key> = <value>" line without the blanks
// around it; false when the line does not have that form (blanks, or none,
// around the "=", as sscanf's "key = " reads them).
bool key_value(const char *line, const char *key, std::string &value)
{
    const char *p = line + std::strlen(key);
    while (std::isspace((unsigned char)*p)) p++;
    if (*p++ != '=') return false;
    while (std::isspace((unsigned char)*p)) p++;
    const char *e = p + std::strlen(p);
    while (e > p && std::isspace((unsigned char)e[-1])) e--;
    value.assign(p, e);
    return true;
}

// bad_value: the note that refuses a run whose configuration holds a
// numeric key's value that is not a number (the first one only).
void bad_value(RunSettings &s, const char *key, const char *what, const std::string &value, const std::string &path)
{
    if (s.configuration_error.empty())
        s.configuration_error =
            std::string(key) + " needs " + what + ", not '" + value + "' (configuration file " + path + ")";
}

}  // namespace

const char *find_first_listed(const char *str, const char *chars)
{
    for (; *chars; chars++) {
        const char *p = std::strchr(str, *chars);
        if (p) return p;
    }
    return nullptr;
}

namespace {

// foreign: why a file or directory someone else could change is not to be
// trusted ("" when only this user or root can change it).  A group- or
// world-writable directory with the sticky bit is trusted: nobody else can
// rename or remove an entry that is ours or root's.
std::string foreign(const std::string &path, const struct stat &st, bool directory)
{
    const char *what = directory ? "the directory " : "";
    if (st.st_uid != geteuid() && st.st_uid != 0)
        return what + path + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(directory && (st.st_mode & S_ISVTX)))
        return what + path + " is writable by group or others";
    return "";
}

// check_found_configuration: a configuration found without being named
// runs commands ("|command" outputs) as whoever runs the program: it is
// refused when another user could have changed it or any directory above
// it (up to `last_dir`, or the root).
void check_found_configuration(const std::string &path, const std::string &last_dir)
{
    char *real = realpath(path.c_str(), nullptr);
    if (!real) return;  // gone: "Couldn't find config file"
    std::string p = real;
    std::free(real);
    char *stop = last_dir.empty() ? nullptr : realpath(last_dir.c_str(), nullptr);
    const std::string top = stop ? stop : "/";
    std::free(stop);
    struct stat st;
    for (bool directory = false;; directory = true) {
        std::string why = stat(p.c_str(), &st) != 0            ? std::string()
                          : !directory && !S_ISREG(st.st_mode) ? "it is not a regular file"
                                                               : foreign(p, st, directory);
        if (!why.empty())
            raise_numbered(ErrorCode::OPEN,
                           path + ": refused, " + why + " (name the configuration with VELCORIN_CONFIG)");
        if (p == top || p == "/") return;
        const size_t slash = p.rfind('/');
        p = slash == 0 ? "/" : p.substr(0, slash);
    }
}

}  // namespace

std::string configuration_path()
{
    auto fits = [](const std::string &p) { return p.size() <= BUFLEN - 1 ? p : std::string(); };
    if (const char *env = std::getenv("VELCORIN_CONFIG")) return fits(env);
    const char *home = std::getenv("HOME");
    const std::string in_home = home ? fits(std::string(home) + "/.velcorin2") : "";
    if (!in_home.empty() && access(in_home.c_str(), F_OK) == 0) {
        check_found_configuration(in_home, home);
        return in_home;
    }
    // The configuration installed beside the program (a program in the build
    // tree has none there).  A program path that does not fit the buffer is
    // not looked beside: a cut path would lead to another directory.
    char exe[BUFLEN];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0 && n < ssize_t(sizeof exe - 1)) {
        exe[n] = '\0';
        if (char *slash = std::strrchr(exe, '/')) {
            slash[1] = '\0';
            const std::string installed = fits(std::string(exe) + VELCORIN2_DATA_FROM_BIN "/velcorin2/velcorin2.conf");
            if (!installed.empty() && access(installed.c_str(), F_OK) == 0) {
                check_found_configuration(installed, "");
                return installed;
            }
        }
    }
    return in_home;  // not there: "Couldn't find config file"
}

bool read_configuration(const std::string &path, RunSettings &s)
{
    std::unique_ptr<FILE, int (*)(FILE *)> owner(nullptr, std::fclose);
    if (!path.empty()) owner.reset(std::fopen(path.c_str(), "r"));
    FILE *cf = owner.get();
    if (!cf) {
        s.notes += "Couldn't find config file\n";
        return false;
    }
    s.configuration = path;
    char line[BUFLEN];
    std::string value;
    while (std::fgets(line, BUFLEN, cf)) {
        int k = 0;
        while (k < NKEYS && std::strncmp(line, keys[k], std::strlen(keys[k])) != 0) k++;
        switch (k) {
        case GENBNK: take_name(line, "genbnk = %499s", s.background_counts); break;
        case CCTB: take_name(line, "cctb = %499s", s.coil_counts); break;
        case TEST: take_name(line, "test = %499s", s.sequences); break;
        case OUT: take_name(line, "out = %499s", s.table); break;
        case LOG: take_name(line, "log = %499s", s.coil_log); break;
        case CALIB: take_name(line, "calib = %499s", s.calibration); break;
        case POS: s.mode |= MODE_POS; break;
        case VIEW: s.mode |= MODE_VIEW; break;
        case VER: s.mode |= MODE_VERBOSE; break;
        case PRN: {
            double b;
            if (!key_value(line, keys[PRN], value)) break;
            if (whole_double(value.c_str(), &b)) {
                s.mode |= MODE_PRINT;
                s.report_pscore = b;
            } else {
                bad_value(s, keys[PRN], "a number", value, path);
            }
            break;
        }
        case FUNCTNUM: {
            if (key_value(line, keys[FUNCTNUM], value) && !whole_int(value.c_str(), &s.distance_count))
                bad_value(s, keys[FUNCTNUM], "a whole number", value, path);
            break;
        }
        case LIB: {
            const char *eq = std::strchr(line, '=');
            std::string too_large;
            if (eq) read_distances(eq + 1, s.distances, &s.distances_given, &too_large);
            if (!too_large.empty()) bad_value(s, "lib", "distances from 0 to 6", too_large, path);
            s.notes += "\n";
            s.distance_count = s.distances_given;
            break;
        }
        default: break;  // blank lines and comments
        }
    }
    return true;
}

}  // namespace velcorin2

// settings.h: the settings of a run of the command line, their defaults,
// the configuration file that fills them and the check before a run.
//
// Contents:
//   ModeBit, FileName, RunSettings   what a run varies by
//   default_settings                 the defaults, set in one place
//   configuration_path               which configuration file a run reads
//   read_configuration               a configuration file into the settings
//   find_first_listed                the delimiter search of the distance list
//   whole_int, whole_double          a number read from a whole word
//   model_recipe                     the model a run's settings name
//
// The configuration file fills the record, the command line adds to it,
// check_settings (in the command line) refuses what cannot run; from then
// on it is passed read-only to whatever reads it.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

// The switches of a run; scorers and writers test single bits.
enum ModeBit : int {
    MODE_VERBOSE = 0x1,        // -v, key "ver": a score line per sequence on the coil log
    MODE_PRINT = 0x2,          // -p, key "prn": coil report on both logs
    MODE_LEAVEOUT = 0x4,       // -1: register files, each left out of the counts
    MODE_POS = 0x8,            // -pos, key "pos": sequences are register files
    MODE_VIEW = 0x10,          // -g, key "view": stock scoring and the PostScript plot
    MODE_MAP = 0x20,           // -d: residue and register map in the coil report
    MODE_MAP_GIVEN = 0x40,     // -d + / -d +-: residues without a known register are no coil
    MODE_MAP_FLAGGED = 0x80,   // -d - / -d +-: map only sequences with a flagged residue
    MODE_PROLINEFREE = 0x100,  // on by default, -P flips: a proline ends a segment
    MODE_W = 0x200,            // -w: accepted, read by nobody
};

// A file the run names, and where it was named.
struct FileName {
    bool given = false;
    std::string name;
    std::string from;  // "configuration" or "command line", for messages
};

struct RunSettings {
    int mode = 0;                             // ModeBit set
    double report_pscore = 0.0;               // -p: p-score threshold of the coil report
    double map_bound = 0.0;                   // -d sign U: second bound of the map (compared with raw scores)
    int8_t distances[NREG] = {};              // distance classes; the first distance_count are used
    int32_t distances_given = 0;              // entries of distances filled (configuration, then command line)
    int32_t distance_count = 3;               // distance classes in use
    int32_t shortest_segment = 28;            // -win: shortest scored sequence and segment, 21 or 28
    int32_t max_length = DEFAULT_MAX_LENGTH;  // residues kept of a record; 0: no limit
    int threads = 1;                          // records scored at once
    // Count files, sequences, table, coil log, per-sequence log, plot regions.
    FileName background_counts, coil_counts, sequences, table, coil_log, sequence_log, plot_regions;
    FileName gff3, regions_tsv;            // --gff3, --regions
    double region_pscore = 0.05;           // --pscore, else -p / prn: p-score threshold of the regions
    bool region_pscore_given = false;      // --pscore was given: -p leaves region_pscore alone
    int32_t region_min_length = 1;         // --min-length: shortest region listed
    bool no_table = false;                 // --no-table: no per-residue table, no output word
    FileName calibration;                  // key calib, --calib; built-in tables without
    FileName summary, html;                // --summary: a line per record; --html: the report of the run
    int64_t html_max = 500;                // --html-max: profiles in the report
    bool quiet = false;                    // --quiet: no time stamps, "Done." or progress
    std::string plot_file = "/tmp/tr.ps";  // --plot: the PostScript comparison plot
    std::string configuration;             // the configuration file read ("" when none)
    std::string configuration_error;       // a numeric value it holds that is not a number: the run is refused
    // What reading the configuration had to say ("Couldn't find config
    // file", an empty line per "lib" line): printed on standard output, or
    // on standard error when standard output is one of the run's outputs.
    std::string notes;
};

// default_settings: three distance classes, shortest segment 28, length
// limit 20000, one thread, regions at p < 0.05, plot /tmp/tr.ps, nothing
// named; the proline rule is set after the configuration.
RunSettings default_settings();

// configuration_path: $VELCORIN_CONFIG, else $HOME/.velcorin2 when it
// exists, else the configuration installed beside the program
// (<prefix>/share/velcorin2/velcorin2.conf) when it exists, else
// $HOME/.velcorin2; "" when no path of at most 499 characters can be formed.
// A file found without $VELCORIN_CONFIG that another user could change (it,
// or a directory above it up to $HOME or the root, belongs to another user
// or is writable by group or others, sticky directories excepted) throws
// ErrorCode::OPEN "<path>: refused, <why>".  No program path of 499
// characters or more is looked beside.
std::string configuration_path();

// read_configuration: reads the configuration file `path` line by line
// (pieces of at most 499 characters) into `s`.  Keys in the first column,
// first match wins, each compared over its own length: genbnk, cctb, lib,
// test, out, log, pos, view, ver, prn, functnum, calib.  File keys name the
// count files, sequences, table, coil log and calibration (a later line
// replaces an earlier one; nothing is opened here); pos, view, ver and prn
// set mode bits, prn also the report threshold.  Each "lib" line appends
// distances (at most 7 in all), adds a newline to the notes and sets
// distance_count to the distances given; "functnum = N" sets it.  A key line
// that does not have the form "<key> = <value>" is ignored; a prn or
// functnum value that is not a number to the end of its line (blanks
// aside) is noted in configuration_error and leaves the settings as they were.  An empty path or a file
// that cannot be opened: "Couldn't find config file\n" in the notes,
// nothing else changed, false.
bool read_configuration(const std::string &path, RunSettings &s);

// find_first_listed: tries the characters of `chars` in their order and
// returns the position in `str` of the first one that occurs at all (not
// the earliest position of any of them); null when none occurs.
const char *find_first_listed(const char *str, const char *chars);

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

// model_recipe: the model a run's settings name (files, distances, proline
// rule, shortest segment, calibration).
ModelRecipe model_recipe(const RunSettings &s);

}  // namespace velcorin2

// sc2seq: the command line and the per-sequence driver.
//
// Contents:
//   velcorin2_main      the whole run: settings, configuration, options, files, scoring
//   default_settings    the settings of a run before the configuration file
//   parse_command_line  options, distance values and file words on top of the configuration
//   check_settings      refuses settings that cannot run (usage)
//   check_outputs       refuses outputs that would destroy an input or each other
//   RunFiles            the open streams of a run
//   calcseq             score and report every record, on one or more threads
//   nondot_advance      next stretch of residues with given registers
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "output.h"
#include "scscore.h"
#include "velcorin2.h"

int velcorin2_main(int argc, char **argv);

// default_settings: functnum 3, window length 28, length limit 20000, one
// thread, nothing named; the proline rule is set after the configuration.
RunSettings default_settings();

// parse_command_line: the option words, then the distance values the
// configuration did not give, then the file words, into `s`.  An unknown
// option throws error 2; a missing option value or a bad --threads or
// --max-length value the usage text.  Opens nothing.
void parse_command_line(int argc, char **argv, RunSettings &s);

// check_settings: the usage text (with a line saying why, where there is
// one) unless every file a run needs is named, no word was left over, and
// functnum and the distances fit the tables.
void check_settings(const RunSettings &s, int words_left);

// check_outputs: error 3 naming the file and the reason for an output that
// is the same file as an input, an existing file that holds sequences,
// registers or counts, or a file two outputs would share (both logs on
// standard error excepted).  Opens nothing for writing.
void check_outputs(const RunSettings &s);

// The streams of a run; the logs may be stderr and "-" names stdin/stdout.
// Whatever is still open when the object dies (a failure on the way) is
// closed without checks; a complete run closes them itself, checked.
struct RunFiles {
    FILE *fgin = nullptr, *fpin = nullptr, *ftest = nullptr, *fout = nullptr, *flog = nullptr, *flog_seq = nullptr,
         *regionfile = nullptr, *ps = nullptr;
    FILE *gff3 = nullptr, *region_tsv = nullptr;  // --gff3, --regions
    std::string ps_scratch;                       // the plot is written here, then renamed over its name
    RunFiles() = default;
    RunFiles(const RunFiles &) = delete;
    RunFiles &operator=(const RunFiles &) = delete;
    ~RunFiles();
};

// calcseq: writes the headers of the region files, then reads every record
// of files.ftest and, for each long enough, scores it and writes its outputs
// (plot page, score line, coil report, table, region files) in input order,
// with s.threads records scored at once.  The bytes
// written do not depend on the thread count.  A failure while reading
// (an unreadable sequence) is thrown after every record before it has been
// written.  Returns 1.
int calcseq(const RunSettings &s, const RunFiles &files, const PairModel &model, const PosFreq &counts,
            const PscoreTables &pscores);

// nondot_advance: with posp, the next maximal run [*st, *en) from *en on of
// amino acids with a given register; without, the whole sequence once.
// Returns 1 when a stretch was placed, 0 when none is left.
int nondot_advance(int *st, int *en, const int8_t *seq, const int8_t *reg, int seqlen, int posp);

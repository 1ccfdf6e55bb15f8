// cli: the command line of velcorin2, a thin face on the library.
//
// Contents:
//   usage, print_help                  the usage text (one place) and the help page
//   answer_help_or_version             --help and --version among the options
//   parse_command_line, check_settings options, distances and file words; the check before a run
//   check_outputs                      refuses outputs that would destroy an input or each other
//   RunFiles                           the open streams of a run
//   process_input                      every record read, scored, reported in input order
//   velcorin2_main                     the whole run
//
// A run: default_settings, the configuration file, the command line,
// check_settings; every input opened, check_outputs; the model built; the
// outputs opened; process_input; every stream closed and checked.
#pragma once

#include <cstdio>
#include <string>

#include "velcorin2/io.h"
#include "velcorin2/settings.h"
#include "velcorin2/velcorin2.h"

namespace velcorin2::cli {

// usage: throws the usage text for standard error, status 255, with a
// first line "velcorin2: <why>" when there is a reason to give.
[[noreturn]] void usage(const std::string &why = "");

// print_help: the help page on standard output, with the live defaults of `d`.
void print_help(const RunSettings &d);

// answer_help_or_version: the help page (with the defaults of `d`) or the
// version on standard output, true, when --help, -h or --version stands
// among the option words (option values passed over); else false.
bool answer_help_or_version(int argc, char **argv, const RunSettings &d);

// parse_command_line: the option words, then the distance values the
// configuration did not give, then the file words, into `s`; then
// check_settings.  An unknown option throws "Unrecognized switch:"; a
// missing or bad option value the usage text.  Opens nothing.
void parse_command_line(int argc, char **argv, RunSettings &s);

// check_settings: the usage text (with a reason where there is one) unless
// every file a run needs is named, no word was left over, and the distance
// count and the distances fit the tables.
void check_settings(const RunSettings &s, int words_left);

// check_outputs: ErrorCode::OPEN naming the file and the reason for an
// output that is the same file as an input, an existing file that holds
// sequences, registers, counts or a calibration, or a file two outputs would
// share (both logs on standard error excepted).  Opens nothing for writing.
void check_outputs(const RunSettings &s);

// The streams of a run; the logs may be stderr and "-" names stdin/stdout.
// Whatever is still open when the object dies (a failure on the way) is
// closed without checks, and the plot's scratch file removed; a complete
// run closes them itself, checked.
struct RunFiles {
    FILE *background_counts = nullptr, *coil_counts = nullptr, *sequences = nullptr, *table = nullptr,
         *coil_log = nullptr, *sequence_log = nullptr, *plot_regions = nullptr, *plot = nullptr;
    FILE *gff3 = nullptr, *regions_tsv = nullptr, *calibration = nullptr;
    ScratchFile plot_file;  // the plot is written beside its name (plot is its stream), then renamed
    RunFiles() = default;
    RunFiles(const RunFiles &) = delete;
    RunFiles &operator=(const RunFiles &) = delete;
    ~RunFiles();
};

// process_input: writes the headers of the region files, then reads every
// record of files.sequences and, for each long enough, scores it with `m`
// (leave-one-out: with its own counts taken out of `coil`) and writes its
// outputs (plot page, score line, coil report, table, region files) in
// input order, with s.threads records scored at once.  The bytes written do
// not depend on the thread count.  A failure while reading is thrown after
// every record before it has been written.
void process_input(const RunSettings &s, const RunFiles &files, const Model &m, const CoilCounts &coil);

int velcorin2_main(int argc, char **argv);

}  // namespace velcorin2::cli

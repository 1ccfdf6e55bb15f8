// cli: the command line of velcorin2, a thin face on the library.
//
// Contents:
//   usage, print_help                  the usage text (one place) and the help page
//   answer_help_or_version             --help and --version among the options
//   parse_command_line, check_settings options, distances and file words; the check before a run
//   check_outputs, open_checked_output refuse outputs that would destroy an input or each other
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
#include <vector>

#include "velcorin2/io.h"
#include "velcorin2/settings.h"
#include "velcorin2/velcorin2.h"

namespace velcorin2::cli {

// raise_numbered: throws the numbered failure of `code` with `detail`.
[[noreturn]] inline void raise_numbered(ErrorCode code, const std::string &detail, int sys_errno = 0)
{
    throw numbered_error(code, detail, sys_errno);
}

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

// The streams of a run; the logs may be stderr and "-" names stdin/stdout.
// Whatever is still open when the object dies (a failure on the way) is
// closed without checks, and the plot's scratch file removed; a complete
// run closes them itself, checked.
struct RunFiles {
    FILE *background_counts = nullptr, *coil_counts = nullptr, *sequences = nullptr, *table = nullptr,
         *coil_log = nullptr, *sequence_log = nullptr, *plot_regions = nullptr, *plot = nullptr;
    FILE *gff3 = nullptr, *regions_tsv = nullptr, *calibration = nullptr;
    FILE *summary = nullptr, *html = nullptr;
    ScratchFile plot_file;  // the plot is written beside its name (plot is its stream), then renamed
    RunFiles() = default;
    RunFiles(const RunFiles &) = delete;
    RunFiles &operator=(const RunFiles &) = delete;
    ~RunFiles();
};

// A file a run reads or writes, as the output checks know it.
struct KnownFile {
    std::string role, name;
    bool standard = false;  // standard output
    bool has_id = false;    // a regular file (or a new name) with its identity in `id`
    FileId id{};
};
// The inputs of a run and the outputs opened so far.
struct OutputGuard {
    std::vector<KnownFile> inputs, outputs;
};

// check_outputs: ErrorCode::OPEN "<name>: refused, <reason>" for an output
// that is the same file as an input (by the files the open input streams
// read, and the configuration file), an existing file that holds sequences,
// registers, counts or a calibration, or a file two outputs would share
// (standard output by any of its names; both logs on standard error
// excepted).  Opens nothing for writing; fills g.inputs.
void check_outputs(const RunSettings &s, const RunFiles &f, OutputGuard &g);

// open_checked_output: opens the output `f` (`otherwise` when not given) and
// refuses it, before it is emptied, by the file it turned out to be: an
// input, an output opened before, or a file holding what check_outputs
// refuses.  The output is then known to `g`.
FILE *open_checked_output(OutputGuard &g, const char *role, const FileName &f, FILE *otherwise);

// check_output_name: the same refusals for an output written by name
// (the plot, renamed over its name), by the file the name leads to now.
void check_output_name(OutputGuard &g, const char *role, const std::string &name);

// outputs_take_standard_output: whether an output of `s` goes to standard
// output, by name or by being the file standard output writes to.
bool outputs_take_standard_output(const RunSettings &s);

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

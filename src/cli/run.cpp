// run: the whole life of one run of velcorin2, and how it ends.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>

#include "../lib/errors.h"
#include "cli.h"
#include "velcorin2/io.h"

namespace velcorin2::cli {

namespace {

// timestamp: ctime() of now with "%s\n": the time line, then an empty line.
void timestamp()
{
    std::time_t now = std::time(nullptr);
    std::fprintf(stderr, "%s\n", std::ctime(&now));
}

// report: an Error's text on its stream; its status.
int report(const Error &e)
{
    FILE *to = e.to_stderr ? stderr : stdout;
    std::fwrite(e.text.data(), 1, e.text.size(), to);
    std::fflush(to);
    return e.status;
}

// Closes each distinct stream once ("-" may stand for several of them) and
// forgets them all.  A close that fails throws once every stream is closed.
void close_streams(FILE **const *streams, int n, bool checked)
{
    std::exception_ptr first;
    for (int i = 0; i < n; i++) {
        FILE *f = *streams[i];
        *streams[i] = nullptr;
        if (!f || f == stderr) continue;
        bool seen = false;
        for (int j = 0; j < i; j++) seen |= *streams[j] == f;
        for (int j = i + 1; j < n; j++)
            if (*streams[j] == f) *streams[j] = nullptr;
        if (seen) continue;
        if (!checked) {
            close_stream_quietly(f);
            continue;
        }
        try {
            close_stream(f);
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    if (first) std::rethrow_exception(first);
}

FILE *open_named(const FileName &f, bool output, FILE *otherwise)
{
    if (!f.given) return otherwise;
    return output ? open_output(f.name.c_str()) : open_input(f.name.c_str());
}

// open_plot: the plot's scratch file beside its name.
void open_plot(const std::string &name, RunFiles &f)
{
    std::string why;
    if (!open_scratch(name, ScratchMode::PRIVATE, f.plot_file, &why)) {
        if (why.rfind("another user's", 0) == 0) why += " (choose another file with --plot)";
        raise_numberedf(ErrorCode::OPEN, ": cannot open %s as w, %d: %s\n", name.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                        why.c_str());
    }
    f.plot = f.plot_file.fp;
}

// commit_plot: the finished plot takes its name.
void commit_plot(RunFiles &f)
{
    f.plot = nullptr;
    std::string why;
    switch (commit_scratch(f.plot_file, true, false, &why)) {
    case Commit::DONE: return;
    case Commit::WRITE_FAILED: raise_numbered(ErrorCode::WRITE, f.plot_file.target);
    default:
        raise_numberedf(ErrorCode::WRITE, "%s: the finished file could not take this name: %s",
                        f.plot_file.target.c_str(), why.c_str());
    }
}

// print_notes: the configuration reader's notes, on standard output unless
// an output of the run goes there (they would end up inside the table or
// the GFF3 file).
void print_notes(RunSettings &s, bool parsed)
{
    bool taken = false;
    for (const FileName *f : {&s.table, &s.coil_log, &s.sequence_log, &s.gff3, &s.regions_tsv})
        taken |= parsed && f->given && f->name == "-";
    std::fputs(s.notes.c_str(), taken ? stderr : stdout);
    s.notes.clear();
}

int run(int argc, char **argv, RunSettings &s)
{
    // --help and --version answer before anything is opened or read.
    if (answer_help_or_version(argc, argv, s)) return 0;

    read_configuration(configuration_path(), s);
    s.mode |= MODE_PROLINEFREE;
    parse_command_line(argc, argv, s);
    print_notes(s, true);

    // Inputs first, so that nothing is created or emptied for a run that
    // cannot start.
    RunFiles f;
    f.background_counts = open_named(s.background_counts, false, nullptr);
    f.coil_counts = open_named(s.coil_counts, false, nullptr);
    f.sequences = open_named(s.sequences, false, nullptr);
    if (s.mode & MODE_VIEW) f.plot_regions = open_named(s.plot_regions, false, nullptr);
    f.calibration = open_named(s.calibration, false, nullptr);
    check_outputs(s);
    timestamp();
    auto bg = std::make_unique<BackgroundCounts>();
    auto coil = std::make_unique<CoilCounts>();
    read_background_counts(f.background_counts, *bg);
    read_coil_counts(f.coil_counts, *coil);
    std::unique_ptr<Calibration> cal;
    if (f.calibration) {
        cal = std::make_unique<Calibration>();
        read_calibration(f.calibration, s.calibration.name, *cal);
        FILE *c = f.calibration;
        f.calibration = nullptr;
        close_stream(c);
    }
    auto model = std::make_unique<Model>();
    build_model(*model, *bg, *coil, s.distances, s.distance_count, (s.mode & MODE_PROLINEFREE) != 0, s.shortest_segment,
                cal.get(), s.calibration.name);

    if (s.mode & MODE_VIEW) open_plot(s.plot_file, f);
    f.table = open_named(s.table, true, nullptr);
    f.gff3 = open_named(s.gff3, true, nullptr);
    f.regions_tsv = open_named(s.regions_tsv, true, nullptr);
    f.coil_log = open_named(s.coil_log, true, stderr);
    f.sequence_log = open_named(s.sequence_log, true, stderr);
    std::setbuf(f.coil_log, nullptr);
    std::setbuf(f.sequence_log, nullptr);

    process_input(s, f, *model, *coil);
    timestamp();

    // Every stream is closed and checked: a damaged compressed input (its
    // zcat failed), a read error, or a write that failed (also one that a
    // network file system reports only at the close) is an error rather than
    // a run ended as done.
    if (f.plot) commit_plot(f);
    FILE **const closing[] = {&f.background_counts, &f.coil_counts, &f.sequences,   &f.table,   &f.sequence_log,
                              &f.plot_regions,      &f.gff3,        &f.regions_tsv, &f.coil_log};
    close_streams(closing, 9, true);
    std::fputs("Done.\n", stderr);
    return 0;
}

}  // namespace

RunFiles::~RunFiles()
{
    FILE **const all[] = {&background_counts, &coil_counts,  &sequences, &table,       &coil_log,
                          &sequence_log,      &plot_regions, &gff3,      &regions_tsv, &calibration};
    close_streams(all, 10, false);
    plot = nullptr;
    discard_scratch(plot_file);
}

int velcorin2_main(int argc, char **argv)
{
    guard_standard_streams();
    RunSettings s = default_settings();
    try {
        return run(argc, argv, s);
    } catch (const Error &e) {
        print_notes(s, false);  // before the message, as they came first
        return report(e);
    }
}

}  // namespace velcorin2::cli

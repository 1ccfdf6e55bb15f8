// run: the whole life of one run of velcorin2, and how it ends.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>

#include "cli.h"
#include "velcorin2/io.h"

namespace velcorin2::cli {

namespace {

// timestamp: ctime() of now with "%s\n": the time line, then an empty line.
void timestamp(const RunSettings &s)
{
    if (s.quiet) return;
    std::time_t now = std::time(nullptr);
    std::fprintf(stderr, "%s\n", std::ctime(&now));
}

// report: an Error's text on its stream; its status.  Messages meant for
// standard output go to standard error when standard output was closed.
int report(const Error &e)
{
    FILE *to = e.to_stderr || standard_stream_closed(STDOUT_FILENO) ? stderr : stdout;
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

FILE *open_named(const FileName &f) { return f.given ? open_input(f.name.c_str()) : nullptr; }

// open_plot: the plot's scratch file beside its name, removed should the
// run be ended by a signal.
void open_plot(const std::string &name, RunFiles &f, OutputGuard &g)
{
    check_output_name(g, "plot", name);
    remove_scratch_files_on_signals();
    std::string why;
    if (!open_scratch(name, ScratchMode::PRIVATE, f.plot_file, &why)) {
        if (why.rfind("another user's", 0) == 0) why += " (choose another file with --plot)";
        raise_numbered(ErrorCode::OPEN, ": cannot open " + name + " as w, " +
                                            std::to_string(O_WRONLY | O_CREAT | O_TRUNC) + ": " + why + "\n");
    }
    f.plot = f.plot_file.fp;
}

// commit_plot: the finished plot takes its name, unless the name has come
// to stand for an input or another output meanwhile.
void commit_plot(RunFiles &f, OutputGuard &g)
{
    f.plot = nullptr;
    check_output_name(g, "plot", f.plot_file.target);
    std::string why;
    switch (commit_scratch(f.plot_file, true, false, &why)) {
    case Commit::DONE: return;
    case Commit::WRITE_FAILED: raise_numbered(ErrorCode::WRITE, f.plot_file.target);
    default:
        raise_numbered(ErrorCode::WRITE, f.plot_file.target + ": the finished file could not take this name: " + why);
    }
}

// print_notes: the configuration reader's notes, on standard output unless
// an output of the run goes there (they would end up inside the table or
// the GFF3 file).
void print_notes(RunSettings &s, bool parsed)
{
    const bool taken = parsed && outputs_take_standard_output(s);
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
    f.background_counts = open_named(s.background_counts);
    f.coil_counts = open_named(s.coil_counts);
    f.sequences = open_named(s.sequences);
    if (s.mode & MODE_VIEW) f.plot_regions = open_named(s.plot_regions);
    f.calibration = open_named(s.calibration);
    OutputGuard g;
    check_outputs(s, f, g);
    timestamp(s);
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

    if (s.mode & MODE_VIEW) open_plot(s.plot_file, f, g);
    f.table = open_checked_output(g, "table", s.table, nullptr);
    f.gff3 = open_checked_output(g, "GFF3 file", s.gff3, nullptr);
    f.regions_tsv = open_checked_output(g, "region table", s.regions_tsv, nullptr);
    f.summary = open_checked_output(g, "summary", s.summary, nullptr);
    f.html = open_checked_output(g, "HTML report", s.html, nullptr);
    f.coil_log = open_checked_output(g, "coil log", s.coil_log, stderr);
    f.sequence_log = open_checked_output(g, "per-sequence log", s.sequence_log, stderr);
    std::setbuf(f.coil_log, nullptr);
    std::setbuf(f.sequence_log, nullptr);

    process_input(s, f, *model, *coil);
    timestamp(s);

    // Every stream is closed and checked: a damaged compressed input (its
    // zcat failed), a read error, or a write that failed (also one that a
    // network file system reports only at the close) is an error rather than
    // a run ended as done.  The plot takes its name last, so that a run
    // that failed anywhere leaves the old plot in place.
    FILE **const closing[] = {&f.background_counts, &f.coil_counts,  &f.sequences, &f.table,
                              &f.sequence_log,      &f.plot_regions, &f.gff3,      &f.regions_tsv,
                              &f.summary,           &f.html,         &f.coil_log};
    close_streams(closing, 11, true);
    if (f.plot) commit_plot(f, g);
    if (!s.quiet) std::fputs("Done.\n", stderr);
    return 0;
}

}  // namespace

RunFiles::~RunFiles()
{
    FILE **const all[] = {&background_counts, &coil_counts, &sequences,   &table,   &coil_log, &sequence_log,
                          &plot_regions,      &gff3,        &regions_tsv, &summary, &html,     &calibration};
    close_streams(all, 12, false);
    plot = nullptr;
    discard_scratch(plot_file);
}

int velcorin2_main(int argc, char **argv)
{
    guard_standard_streams();
    RunSettings s = default_settings();
    try {
        try {
            return run(argc, argv, s);
        } catch (const std::bad_alloc &) {
            raise_numbered(ErrorCode::MEMORY, "to go on (see --max-length and --threads)");
        } catch (const std::length_error &) {
            raise_numbered(ErrorCode::MEMORY, "to go on (see --max-length and --threads)");
        }
    } catch (const Error &e) {
        print_notes(s, false);  // before the message, as they came first
        return report(e);
    }
}

}  // namespace velcorin2::cli

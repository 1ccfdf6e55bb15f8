// records: one record's way through a run, and the batches records travel in.
//
// Contents:
//   Out, Sinks          the outputs of a record and the distinct streams behind them
//   Item, Job           a record in flight; a batch of them with the texts they render to
//   Run                 what every record of a run reads
//   Scratch             one thread's working memory
//   read_record         the next record of the input, with its plot region
//   process_all         a batch scored and rendered into its texts
//   write_out           a batch's texts onto their streams
//   Pipeline            batches scored on worker threads and written in input order
//
// A record is read on the main thread, scored and rendered into texts
// wherever there is a free thread, and its texts are written out in input
// order, so the bytes of every output are the same whatever the number of
// threads.
#pragma once

#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "progress.h"
#include "velcorin2/report.h"

namespace velcorin2::cli {

// The outputs of a record, in the order they are written for it.  The
// report's rows are rendered when the batch is written, in input order
// (write_out), since only then is it known which records come within the
// cap of profiles; the profiles go out with the batch, the rows wait in
// ReportRows until every profile is written.
enum Out { OUT_ERR, OUT_PLOT, OUT_COIL, OUT_SEQLOG, OUT_TABLE, OUT_GFF3, OUT_REGIONS, OUT_SUMMARY, OUT_HTML, NOUT };

// The distinct streams behind the outputs: both logs may be standard error,
// where the progress marks and warnings go too, and "-" may stand for the
// table and a log.  Outputs that share a stream share one text, so their
// bytes interleave as they would on the stream.
struct Sinks {
    FILE *file[NOUT] = {};
    int count = 0;
    int of[NOUT] = {};  // output -> text index
};
Sinks make_sinks(const RunFiles &f);

// One record: read on the main thread, scored and rendered anywhere.
struct Item {
    Sequence rec;
    int number = 0;       // its number in the input, from 1
    bool scored = false;  // long enough to score
    PlotRegion region;
    RecordSummary summary;  // with --summary or --html
    std::string profile;    // with --html: the record's profile, unless it is sure to fall past the cap
};

// A batch of consecutive records in flight and the texts they render to.
// Records travel in batches so that handing over costs little next to
// scoring, also for proteins of a hundred residues, and so that every
// output is written in large blocks.
struct Job {
    std::vector<Item> items;
    size_t used = 0;
    int64_t residues = 0;
    int64_t input_offset = -1;  // where reading stood once the batch was read, for the progress line
    std::string text[NOUT];     // by Sinks index
    std::exception_ptr error;
    Item &next_item()
    {
        if (used == items.size()) items.emplace_back();
        return items[used];
    }
};

// A batch holds about this many residues, or this many records.
inline constexpr int64_t BATCH_RESIDUES = 8192;
inline constexpr size_t BATCH_RECORDS = 256;

// The report's table rows, which follow its profiles: kept in memory up to
// ROWS_IN_MEMORY bytes, the rest in an unnamed scratch file (in $TMPDIR,
// else /tmp) made when needed, so that the report of a proteome with
// regions in every record costs disk, not memory.
inline constexpr size_t ROWS_IN_MEMORY = size_t(4) << 20;
struct ReportRows {
    std::string kept;
    FILE *spill = nullptr;
    ReportRows() = default;
    ReportRows(const ReportRows &) = delete;
    ReportRows &operator=(const ReportRows &) = delete;
    ~ReportRows();
};
// add_rows: more rows, after those added before; `report` names the report
// in a failure (ErrorCode::OPEN or WRITE).
void add_rows(ReportRows &r, const std::string &rows, const std::string &report);
// write_rows: every row, in order, onto `to`.
void write_rows(ReportRows &r, FILE *to, const std::string &report);

// What the writing of the batches keeps from one batch to the next (only
// ever touched by the one thread writing, but for the count the workers read).
struct RunState {
    ReportCounts counts;
    ReportRows rows;
    std::atomic<int64_t> with_region{0};  // records with a region written: past the cap, no profile is rendered
    Progress progress;
    bool progress_marks = true;  // a "." per ten scored records on standard error, as before the progress line
};

struct Run {
    const RunSettings &s;
    const Model &model;
    const CoilCounts &coil;
    const RunFiles &files;
    Sinks sinks;
    bool known_registers;  // register files: sequence scores over the known stretches
    RunState &state;
};

// One thread's working memory, grown to the longest record it scored.
struct Scratch {
    Workspace ws;
    Prediction prediction;
    std::vector<Region> regions;
    int64_t earlier = 0;  // records with a region in the job so far
    // Leave-one-out: this thread's own counts and model, changed per record.
    std::unique_ptr<CoilCounts> coil;
    std::unique_ptr<Model> model;
    explicit Scratch(const Run &run);
};

enum class ReadResult { END, RECORD, LAST };

// read_record: the next record into `it`, with its number, whether it is
// scored and its plot region.  LAST: a record cut short by the end of a
// register file, scored as far as it goes, and the last one.  `line`
// counts the lines of a FASTA input (read_fasta_record).
ReadResult read_record(const Run &run, Item &it, int number, int64_t *line);

// process_all: every record of the job scored and rendered into its texts.
void process_all(const Run &run, Scratch &w, Job &job);

// write_out: the report's rows and profiles of a job, then its texts onto
// their streams, in the order of the sinks (a failure of the job is thrown
// instead); the job is emptied.  Jobs are written one at a time, in input order.
void write_out(const Run &run, Job &j);

// Pipeline: a ring of jobs.  The main thread fills the next free job and
// hands it to the workers; finished jobs are written from the oldest on, so
// output follows input order, by whichever worker finishes the oldest one.
class Pipeline {
public:
    // Starts the workers; ErrorCode::MEMORY when a thread cannot be started.
    Pipeline(const Run &run, int threads);
    ~Pipeline();
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;
    // next: the job to fill, once the ring has room (a failure of an earlier
    // job is thrown here).
    Job &next();
    // submit: the job just filled by next().
    void submit();
    // drain: waits until every job in flight is written (or one failed, which is thrown).
    void drain();

private:
    void stop();  // ends and joins the workers
    struct State;
    std::unique_ptr<State> st_;
};

}  // namespace velcorin2::cli

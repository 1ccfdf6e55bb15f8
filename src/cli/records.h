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

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "velcorin2/report.h"

namespace velcorin2::cli {

// The outputs of a record, in the order they are written for it.
enum Out { OUT_ERR, OUT_PLOT, OUT_COIL, OUT_SEQLOG, OUT_TABLE, OUT_GFF3, OUT_REGIONS, NOUT };

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
};

// A batch of consecutive records in flight and the texts they render to.
// Records travel in batches so that handing over costs little next to
// scoring, also for proteins of a hundred residues, and so that every
// output is written in large blocks.
struct Job {
    std::vector<Item> items;
    size_t used = 0;
    int64_t residues = 0;
    std::string text[NOUT];  // by Sinks index
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

struct Run {
    const RunSettings &s;
    const Model &model;
    const CoilCounts &coil;
    const RunFiles &files;
    Sinks sinks;
    bool known_registers;  // register files: sequence scores over the known stretches
};

// One thread's working memory, grown to the longest record it scored.
struct Scratch {
    Workspace ws;
    Prediction prediction;
    std::vector<Region> regions;
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

// write_out: a job's texts onto their streams, in the order of the sinks
// (a failure of the job is thrown instead); the job is emptied.
void write_out(const Sinks &k, Job &j);

// Pipeline: a ring of jobs.  The main thread fills the next free job and
// hands it to the workers; finished jobs are written from the oldest on, so
// output follows input order, by whichever worker finishes the oldest one.
class Pipeline {
public:
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
    struct State;
    std::unique_ptr<State> st_;
};

}  // namespace velcorin2::cli

// parallel.h: a stream of records scored on several threads and handed
// back in input order, for callers that hold no thread pool of their own
// (the Python module; any program that scores a proteome in memory).
//
// Contents:
//   RecordSource    where the records come from
//   ScoredRecord    a record with its prediction
//   OrderedScorer   records read, scored on worker threads and handed out in input order
//
// Every prediction is the one predict() gives for that record alone: the
// threads change when a record is scored, never its numbers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

// RecordSource: fills `seq` with the next record (as read_fasta_record
// does, capacity kept) and returns true, or returns false once there is no
// further record.  It is called on one thread at a time, never again after
// it returned false or threw.  What it throws is handed to the caller of
// OrderedScorer::next() in input order.
using RecordSource = std::function<bool(Sequence &seq)>;

// A record and its prediction.  `prediction` is what predict() writes: for
// a record shorter than the model's shortest segment only length and
// scored (false) are current.
struct ScoredRecord {
    int64_t number = 0;  // place in the input, from 1
    Sequence sequence;
    Prediction prediction;
};

// Records travel in batches of about this many residues, or this many
// records, so that handing a batch over costs little next to scoring it.
inline constexpr int64_t SCORER_BATCH_RESIDUES = 8192;
inline constexpr size_t SCORER_BATCH_RECORDS = 256;

// OrderedScorer: pulls records from a source, scores them and hands them
// out in input order, a batch at a time.  With one thread, next() reads and
// scores a batch on the calling thread.  With N > 1, a reader thread calls
// the source while N worker threads score; at most 4 N batches are in
// flight (memory is bounded by them, not by the input), so reading, scoring
// and the caller's work on a batch overlap.
class OrderedScorer {
public:
    // `m` must outlive the scorer.  `threads` below 1 counts as 1.
    OrderedScorer(const Model &m, RecordSource source, int threads, PredictOptions opt = {});
    // Stops the reader (a source call in progress is finished first) and
    // the workers, and waits for them.
    ~OrderedScorer();
    OrderedScorer(const OrderedScorer &) = delete;
    OrderedScorer &operator=(const OrderedScorer &) = delete;

    // next: the next batch of consecutive records, scored.  The caller may
    // change or move from them; they stay valid until the next call or the
    // scorer's end.  An empty span: every record was handed out.  A failure
    // of the source (or of scoring) is thrown once every record before it
    // was handed out; after it the input counts as done.
    std::span<ScoredRecord> next();

private:
    struct State;
    std::unique_ptr<State> st_;
};

}  // namespace velcorin2

// ordered_scorer: records from a source scored on worker threads and handed
// out in input order.
//
// A ring of batches: the reader fills the slot after the newest one and
// queues it, a worker scores it, the caller takes the oldest once it is
// scored and gives it back with its next call.  A slot is counted in flight
// from being queued until the caller gives it back, so the reader never
// touches a batch that is being scored or read by the caller.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "velcorin2/parallel.h"

namespace velcorin2 {

namespace {

struct Batch {
    std::vector<ScoredRecord> items;
    size_t used = 0;
    bool last = false;         // nothing follows this batch
    std::exception_ptr error;  // what ended the input early, after `used` records
};

}  // namespace

struct OrderedScorer::State {
    const Model &model;
    RecordSource source;
    PredictOptions opt;
    int64_t number = 0;  // records read; the reader's own
    std::vector<Batch> ring;
    Workspace own;  // scoring on the caller's thread (one thread)

    // Guarded by mu.
    std::mutex mu;
    std::condition_variable read_cv, work_cv, done_cv;
    std::vector<char> scored;
    std::deque<size_t> queue;
    size_t head = 0, in_flight = 0;
    bool held = false;      // the caller holds ring[head]
    bool stopping = false;  // the scorer is being destroyed
    // The caller's side: the input ended; the failure still to be thrown.
    bool finished = false;
    std::exception_ptr pending;

    std::thread reader;
    std::vector<std::thread> workers;

    State(const Model &m, RecordSource s, PredictOptions o, size_t slots)
        : model(m), source(std::move(s)), opt(o), ring(slots), scored(slots, false)
    {
    }

    // fill: reads a batch; a source that ends or throws makes it the last.
    void fill(Batch &b)
    {
        b.used = 0;
        b.last = false;
        b.error = nullptr;
        int64_t residues = 0;
        try {
            while (b.used < SCORER_BATCH_RECORDS && residues < SCORER_BATCH_RESIDUES) {
                if (b.used == b.items.size()) b.items.emplace_back();
                ScoredRecord &r = b.items[b.used];
                if (!source(r.sequence)) {
                    b.last = true;
                    return;
                }
                r.number = ++number;
                residues += r.sequence.length;
                b.used++;
            }
        } catch (...) {
            b.error = std::current_exception();
            b.last = true;
        }
    }

    // score: every record of the batch; a failure cuts the batch before the
    // record that failed and ends the input there.
    void score(Batch &b, Workspace &ws)
    {
        for (size_t i = 0; i < b.used; i++) {
            try {
                predict(model, b.items[i].sequence, opt, ws, b.items[i].prediction);
            } catch (...) {
                b.used = i;
                b.error = std::current_exception();
                b.last = true;
            }
        }
    }

    void read_loop()
    {
        std::unique_lock<std::mutex> lock(mu);
        for (;;) {
            read_cv.wait(lock, [this] { return stopping || in_flight < ring.size(); });
            if (stopping) return;
            const size_t at = (head + in_flight) % ring.size();
            lock.unlock();
            fill(ring[at]);
            lock.lock();
            scored[at] = false;
            queue.push_back(at);
            in_flight++;
            work_cv.notify_one();
            if (ring[at].last) return;
        }
    }

    void work_loop()
    {
        Workspace ws;
        std::unique_lock<std::mutex> lock(mu);
        for (;;) {
            work_cv.wait(lock, [this] { return stopping || !queue.empty(); });
            if (stopping) return;
            const size_t at = queue.front();
            queue.pop_front();
            lock.unlock();
            score(ring[at], ws);
            lock.lock();
            scored[at] = true;
            if (at == head) done_cv.notify_all();
        }
    }

    // take: what the caller gets of batch `b`, which it now holds.
    std::span<ScoredRecord> take(Batch &b)
    {
        if (b.last) {
            finished = true;
            pending = b.error;
        }
        if (b.used > 0) return {b.items.data(), b.used};
        return after_end();
    }

    // after_end: the failure that ended the input, once; then nothing.
    std::span<ScoredRecord> after_end()
    {
        if (pending) std::rethrow_exception(std::exchange(pending, nullptr));
        return {};
    }

    std::span<ScoredRecord> next_threaded()
    {
        std::unique_lock<std::mutex> lock(mu);
        if (held) {  // the batch handed out last time goes back to the reader
            held = false;
            head = (head + 1) % ring.size();
            in_flight--;
            read_cv.notify_one();
        }
        if (finished) return after_end();
        done_cv.wait(lock, [this] { return in_flight > 0 && scored[head]; });
        held = true;
        return take(ring[head]);
    }

    std::span<ScoredRecord> next_inline()
    {
        if (finished) return after_end();
        Batch &b = ring[0];
        fill(b);
        score(b, own);
        return take(b);
    }
};

OrderedScorer::OrderedScorer(const Model &m, RecordSource source, int threads, PredictOptions opt)
{
    if (threads < 1) threads = 1;
    st_ = std::make_unique<State>(m, std::move(source), opt, threads == 1 ? 1 : size_t(4 * threads));
    if (threads == 1) return;
    st_->reader = std::thread([s = st_.get()] { s->read_loop(); });
    for (int t = 0; t < threads; t++) st_->workers.emplace_back([s = st_.get()] { s->work_loop(); });
}

OrderedScorer::~OrderedScorer()
{
    {
        std::lock_guard<std::mutex> lock(st_->mu);
        st_->stopping = true;
    }
    st_->read_cv.notify_all();
    st_->work_cv.notify_all();
    if (st_->reader.joinable()) st_->reader.join();
    for (std::thread &t : st_->workers) t.join();
}

std::span<ScoredRecord> OrderedScorer::next()
{
    return st_->workers.empty() ? st_->next_inline() : st_->next_threaded();
}

}  // namespace velcorin2

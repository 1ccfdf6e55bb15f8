// pipeline: batches of records scored on worker threads and written in
// input order.
//
// The main thread only reads: it fills the next free job of a ring and
// submits it.  A worker scores and renders a job, then writes every finished
// job from the oldest on, unless another worker is at it, so reading,
// scoring and writing overlap and the output follows the input order.  At
// most ring-size batches are in flight, each of a bounded number of records.
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "records.h"

namespace velcorin2::cli {

struct Pipeline::State {
    const Run &run;
    std::vector<std::unique_ptr<Job>> ring;
    // All below guarded by mu.
    std::vector<char> done;
    std::deque<size_t> queue;
    size_t head = 0, in_flight = 0;
    bool writing = false, stopping = false;
    std::exception_ptr error;  // the first job that failed, or its writing
    std::mutex mu;
    std::condition_variable work_cv, free_cv;
    std::vector<std::thread> workers;

    // Two batches per thread and a few more keep every thread busy while
    // the reader fills the next ones; memory grows by two batches a thread.
    State(const Run &r, int threads) : run(r), ring(size_t(2 * threads + 2)), done(ring.size(), false) {}

    // write_ready: with mu held, writes the oldest jobs that are done, in
    // order, unless another thread is at it; the lock is let go while writing.
    void write_ready(std::unique_lock<std::mutex> &lock)
    {
        if (writing) return;
        writing = true;
        while (in_flight > 0 && done[head] && !error) {
            Job &j = *ring[head];
            lock.unlock();
            std::exception_ptr failed;
            try {
                write_out(run, j);
            } catch (...) {
                failed = std::current_exception();
            }
            lock.lock();
            if (failed) {
                error = failed;  // nothing after it is written
                break;
            }
            head = (head + 1) % ring.size();
            in_flight--;
            if (in_flight == ring.size() / 2 || in_flight == 0) free_cv.notify_all();
        }
        writing = false;
        if (error) free_cv.notify_all();
    }

    // work: a worker's life.  A failure outside a job (no memory for the
    // thread's scratch space) ends the run as a failed job would.
    void work()
    {
        try {
            work_on();
        } catch (...) {
            std::lock_guard<std::mutex> lock(mu);
            if (!error) error = std::current_exception();
            free_cv.notify_all();
        }
    }

    void work_on()
    {
        Scratch scratch(run);
        std::unique_lock<std::mutex> lock(mu);
        for (;;) {
            work_cv.wait(lock, [this] { return stopping || !queue.empty(); });
            if (queue.empty()) return;
            const size_t at = queue.front();
            queue.pop_front();
            lock.unlock();
            Job &j = *ring[at];
            try {
                process_all(run, scratch, j);
            } catch (...) {
                j.error = std::current_exception();
            }
            lock.lock();
            done[at] = true;
            write_ready(lock);
        }
    }
};

Pipeline::Pipeline(const Run &run, int threads) : st_(std::make_unique<State>(run, threads))
{
    for (auto &j : st_->ring) j = std::make_unique<Job>();
    for (int t = 0; t < threads; t++) {
        try {
            st_->workers.emplace_back([this] { st_->work(); });
        } catch (const std::system_error &e) {
            stop();  // the threads started are joined before the failure ends the run
            raise_numbered(ErrorCode::MEMORY, "to start thread " + std::to_string(t + 1) + " of " +
                                                  std::to_string(threads) + ": " + std::strerror(e.code().value()) +
                                                  " (run with fewer --threads)");
        }
    }
}

Pipeline::~Pipeline() { stop(); }

void Pipeline::stop()
{
    {
        std::lock_guard<std::mutex> lock(st_->mu);
        st_->stopping = true;
    }
    st_->work_cv.notify_all();
    for (auto &t : st_->workers) t.join();
    st_->workers.clear();
}

Job &Pipeline::next()
{
    State &s = *st_;
    std::unique_lock<std::mutex> lock(s.mu);
    // A full ring is waited for until half of it is free, so that the
    // reader wakes once for several jobs, not for each.
    if (s.in_flight == s.ring.size())
        s.free_cv.wait(lock, [&s] { return s.in_flight <= s.ring.size() / 2 || s.error; });
    if (s.error) std::rethrow_exception(s.error);
    return *s.ring[(s.head + s.in_flight) % s.ring.size()];
}

void Pipeline::submit()
{
    State &s = *st_;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        const size_t at = (s.head + s.in_flight) % s.ring.size();
        s.done[at] = false;
        s.queue.push_back(at);
        s.in_flight++;
    }
    s.work_cv.notify_one();
}

void Pipeline::drain()
{
    State &s = *st_;
    std::unique_lock<std::mutex> lock(s.mu);
    s.free_cv.wait(lock, [&s] { return s.in_flight == 0 || s.error; });
    if (s.error) std::rethrow_exception(s.error);
}

}  // namespace velcorin2::cli

// fuzz_common: what every libFuzzer harness of velcorin2 shares.
//
// Contents:
//   ProgramExit, fuzz_setup     a fatal error ends one input, not the process
//   FUZZ_CHECK                  a broken invariant is a crash libFuzzer reports
//   scratch_dir, scratch_path   the private directory of one fuzzing process
//   close_tracked, reset_run    what one input opened is closed before the next
//   restore_scratch             fixtures back, stray files gone
//   model_genfreq, model_posfreq  the bytes of a small fixed model
//   MemIn, MemOut               input and output streams in memory
//   Buffers                     the driver-sized record buffers, exactly MAXSEQ long
//
// Harnesses that link the stream wrappers (fuzz_wrap.cpp) see every stream
// the program opens through sopen/sopen_nofollow, get every file name kept
// inside the scratch directory, and have the plot file land there too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "velcorin2.h"

// Thrown by the exit hook: the status the program would have ended with.
struct ProgramExit {
    int status;
};

// fuzz_setup: stdin and stdout to /dev/null, the exit hook, the scratch
// directory (HOME and VELCORIN_CONFIG point into it).  Call once, from
// LLVMFuzzerInitialize or the first input.
void fuzz_setup();

[[noreturn]] void fuzz_fail(const char *file, int line, const char *what);
#define FUZZ_CHECK(cond) \
    do { \
        if (!(cond)) fuzz_fail(__FILE__, __LINE__, #cond); \
    } while (0)

const std::string &scratch_dir();
std::string scratch_path(const char *name);

// Streams opened by the program through the wrapped sopen: closed here,
// standard streams only flushed.  Also resets the process-wide settings that
// a run changes (functnum, WINDOW, window_length, prog) to their start values.
void close_tracked();
void reset_run();

// restore_scratch: removes every file of the scratch directory that is not a
// fixture and rewrites fixtures that a run changed.
void add_fixture(const char *name, const std::string &content);
void restore_scratch();

// A complete, consistent model: GenFreq counted from a fixed background,
// PosFreq counted with add_seq2 from fixed register records.
const std::string &model_genfreq();
const std::string &model_posfreq();

// MemIn: a read stream over bytes (fmemopen of a private copy, so a zero
// length input is a valid empty stream).  The Borrow form reads a non-empty
// string that outlives the stream in place: the fixed model is read by every
// input of some harnesses, and copying it each time was a large part of
// their cost.
struct MemIn {
    FILE *fp = nullptr;
    std::string copy;
    MemIn(const uint8_t *data, size_t size);
    explicit MemIn(const std::string &s) : MemIn(reinterpret_cast<const uint8_t *>(s.data()), s.size()) {}
    enum BorrowTag { Borrow };
    MemIn(BorrowTag, const std::string &s);
    ~MemIn();
    MemIn(const MemIn &) = delete;
    MemIn &operator=(const MemIn &) = delete;
};

// MemOut: a write stream into memory; text() flushes and returns what was written.
struct MemOut {
    FILE *fp = nullptr;
    char *buf = nullptr;
    size_t len = 0;
    MemOut();
    ~MemOut();
    std::string text();
    MemOut(const MemOut &) = delete;
    MemOut &operator=(const MemOut &) = delete;
};

// Record buffers of exactly the driver's sizes on the heap, so that any
// write past them is an AddressSanitizer report.
struct Buffers {
    int8_t *seq, *reg;
    char *title, *code;
    Sequence sequence;
    Buffers();
    ~Buffers();
    Buffers(const Buffers &) = delete;
    Buffers &operator=(const Buffers &) = delete;
};

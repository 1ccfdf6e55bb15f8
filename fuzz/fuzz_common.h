// fuzz_common: what the libFuzzer harnesses of velcorin2 share.
//
// Contents:
//   FUZZ_CHECK            a broken invariant is a crash libFuzzer reports
//   fuzz_setup            quiet standard streams, a private scratch directory
//   scratch_path, reset_scratch  files of one input, and their removal
//   model_genfreq/posfreq the bytes of a small, consistent model
//   MemIn, MemOut         input and output streams in memory
//   failed                runs a call and gives the status of the Failure it threw (-1: none)
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "velcorin2/velcorin2.h"

#define FUZZ_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) fuzz_fail(__FILE__, __LINE__, #cond);                                                             \
    } while (0)
[[noreturn]] void fuzz_fail(const char *file, int line, const char *what);

// fuzz_setup: stdin and stdout to /dev/null, the working directory, HOME and
// VELCORIN_CONFIG in a fresh scratch directory (under TMPDIR when set).
void fuzz_setup();
std::string scratch_path(const char *name);
// reset_scratch: removes every file of the scratch directory but the fixtures
// written with add_fixture, and rewrites those.
void add_fixture(const char *name, const std::string &content);
void reset_scratch();

const std::string &model_genfreq();
const std::string &model_posfreq();

struct MemIn {
    FILE *fp;
    std::string copy;
    explicit MemIn(std::string s);
    MemIn(const uint8_t *data, size_t size) : MemIn(std::string(reinterpret_cast<const char *>(data), size)) {}
    ~MemIn() { std::fclose(fp); }
};
struct MemOut {
    FILE *fp;
    char *buf = nullptr;
    size_t len = 0;
    MemOut();
    ~MemOut();
    std::string text();
};

template <class F> int failed(F call)
{
    try {
        call();
    } catch (const velcorin2::Error &f) {
        return f.status;
    }
    return -1;
}

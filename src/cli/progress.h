// progress: the line that tells a person at a terminal how far a run is.
//
// Shown only when standard error is a terminal and the input a regular
// file (so the share read is known), never with --quiet: logs that go to a
// file or a pipe stay byte for byte what they were.  The writer of the
// records updates it after each batch; it is redrawn at most four times a
// second and cleared before anything else is written to standard error,
// and at the end.
#pragma once

#include <cstdint>
#include <cstdio>

namespace velcorin2::cli {

struct Progress {
    bool on = false;
    bool drawn = false;          // a line stands on the terminal now
    int64_t input_size = 0;      // bytes of the input
    double start = 0, last = 0;  // seconds (monotonic clock): run start, last drawing
    int64_t records = 0, residues = 0;
};

// progress_start: turns the line on when `quiet` is off, standard error is
// a terminal and `input` a regular file.
void progress_start(Progress &p, bool quiet, FILE *input);

// progress_update: a batch of `records` with `residues` residues written,
// with the input read up to byte `offset`; redraws when due.
void progress_update(Progress &p, int64_t records, int64_t residues, int64_t offset);

// progress_clear: takes the line off the terminal (before other text, at the end).
void progress_clear(Progress &p);

}  // namespace velcorin2::cli

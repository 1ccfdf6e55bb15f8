// fuzz_wrap: the link-time wrappers of sopen, sopen_nofollow and sclose.
//
// A harness linked with fuzz_wrap.cpp and the options of VC_FUZZ_WRAP_FLAGS
// (fuzz/CMakeLists.txt) records every stream the program opens, so it can
// close what a fatal error left open, and keeps every file inside the
// scratch directory:
//   - a plain name loses its "/" characters and is taken in the scratch dir;
//   - "~/name" stays (HOME is the scratch dir), "~user..." becomes a plain name;
//   - "|cat" for writing becomes a harmless "|cat >/dev/null", any other
//     "|command" a plain file (no process per input);
//   - a compressed name (".gz", ".Z") that names no file is made to name
//     none without a zcat being started;
//   - the plot file goes to <scratch>/tr.ps.
// Standard streams given back for "-" are never really closed.
#pragma once

#include <cstdio>
#include <string>

void track_stream(FILE *fp);
void untrack_stream(FILE *fp);

// Whether "|cat" starts a real pipe (the command-line harness); a harness
// that only passes names on to the stream opener turns it off for speed.
extern bool fuzz_real_pipes;

// safe_name: the name a wrapped sopen really opens for `name` in mode `ops`.
std::string safe_name(const char *name, const char *ops);

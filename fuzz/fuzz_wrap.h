// fuzz_wrap: the link-time wrappers of sopen, sopen_nofollow and sclose.
//
// A harness linked with fuzz_wrap.cpp and the options of VC_FUZZ_WRAP_FLAGS
// (fuzz/CMakeLists.txt) records every stream the program opens, so it can
// close what a fatal error left open, and keeps every file inside the
// scratch directory:
//   - a plain name loses its "/" characters and is taken in the scratch dir;
//   - "~/name" stays (HOME is the scratch dir), "~user..." becomes a plain name;
//   - "|command" for writing becomes a harmless "|cat >/dev/null";
//   - the plot file goes to <scratch>/tr.ps.
// Standard streams given back for "-" are never really closed.
#pragma once

#include <cstdio>
#include <string>

void track_stream(FILE *fp);
void untrack_stream(FILE *fp);

// safe_name: the name a wrapped sopen really opens for `name` in mode `ops`.
std::string safe_name(const char *name, const char *ops);

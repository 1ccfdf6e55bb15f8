// scsystem: fatal errors, the usage text, timestamps and the closing line.
//
// Contents:
//   error        numbered message, then the end of the process (code 0 returns)
//   fatal        error() for the codes that never return
//   usage        the usage text on stderr, status -1
//   exit_program the one place the process ends; a hook lets harnesses intercept it
//   timestamp    the current local time and an empty line
//   done         "Done.\n" on stderr
#pragma once

#include <cstdio>

enum ErrCode : int {
    ERR_TRACING = 0, ERR_USAGE = 1, ERR_SWITCH = 2, ERR_OPEN = 3,
    ERR_WRITE = 4, ERR_READ = 5, ERR_MAGIC = 6, ERR_MEMORY = 7,
};

// error: code 0 prints "Tracing" on stdout and returns 0; code 1 is usage();
// any other code prints "ERROR: <text> <msg>" on stdout and ends with status 2.
int error(int errcode, const char *msg);

// fatal: error() for a code other than 0; never returns.
[[noreturn]] void fatal(int errcode, const char *msg);

// usage: prints the usage text on stderr and ends with status -1 (255).
[[noreturn]] void usage(const char *progname);

// exit_program: ends the process with `status` (stdio flushed by exit()).
// When a hook is set it is called first; a hook that returns is ignored.
// Fuzzing harnesses install a hook that throws, to end one input cleanly.
using ExitHook = void (*)(int status);
void set_exit_hook(ExitHook hook);
[[noreturn]] void exit_program(int status);

// timestamp: writes ctime() of now with "%s\n" (the time line, then an empty line).
void timestamp(FILE *flog);

// done: writes "Done.\n" on stderr.
void done();

// scsystem: fatal conditions, the usage text, timestamps and the closing line.
//
// Contents:
//   Failure        a fatal condition on its way up to main: text, stream, status
//   error, fatal   numbered messages ("ERROR: <text> <msg>"); code 0 only traces
//   usage          the usage text, status 255
//   fail           any other fatal message with its own status
//   report         prints a Failure where it belongs and gives its status
//   guard_standard_streams  descriptors 0-2 never left closed
//   timestamp      the current local time and an empty line
//   done           "Done.\n" on stderr
//
// Nothing here ends the process.  A fatal condition is thrown as a Failure
// and travels up to the two mains, which print it and return its status;
// on the way, owners close what they hold, and the driver first writes the
// records that were complete before the failure.
#pragma once

#include <cstdio>
#include <string>

enum ErrCode : int {
    ERR_TRACING = 0,
    ERR_USAGE = 1,
    ERR_SWITCH = 2,
    ERR_OPEN = 3,
    ERR_WRITE = 4,
    ERR_READ = 5,
    ERR_MAGIC = 6,
    ERR_MEMORY = 7,
};

// Exit statuses of both programs.
inline constexpr int STATUS_ERROR = 2;    // a numbered error
inline constexpr int STATUS_USAGE = 255;  // usage text, unreadable sequence (-1 to the C library)

struct Failure {
    std::string text;        // printed exactly as it stands
    bool to_stderr = false;  // else standard output
    int status = STATUS_ERROR;
};

// error: code 0 prints "Tracing" on stdout and returns 0.  Code 1 is usage();
// any other code throws the line "ERROR: <text of code> <msg>\n" for
// standard output with status 2.
int error(int errcode, const char *msg);

// fatal: error() for a code other than 0; never returns.
[[noreturn]] void fatal(int errcode, const std::string &msg);

// usage: throws the usage text for stderr, status 255.
[[noreturn]] void usage();

// fail: throws `text` for the given stream with `status`.
[[noreturn]] void fail(const std::string &text, bool to_stderr, int status);

// report: writes the failure's text to its stream and returns its status.
int report(const Failure &f);

// guard_standard_streams: opens /dev/null on any of descriptors 0, 1 and 2
// that is closed, so that no file the program opens takes their place (a
// table on descriptor 2 would receive the time stamps).
void guard_standard_streams();

// timestamp: writes ctime() of now with "%s\n" (the time line, then an empty line).
void timestamp(FILE *flog);

// done: writes "Done.\n" on stderr.
void done();

// stream_tracking: what streams.cpp keeps of every stream opened here, for
// the openers of the other stream modules.
#pragma once

#include <sys/types.h>

#include <cstdio>

#include "velcorin2/io.h"

namespace velcorin2 {

// track: records a freshly opened stream under the name the caller gave, so
// that close_stream ends it the right way (zcat and its feeder waited for);
// a stream whose descriptor does not fit the table is closed and refused.
void track(FILE *fp, const char *name, bool writing, bool pipe, const FileId *id = nullptr, pid_t zcat = 0,
           pid_t feeder = 0);

// identity_of: the device and inode of the regular file open on `fd`.
bool identity_of(int fd, FileId *id);

}  // namespace velcorin2

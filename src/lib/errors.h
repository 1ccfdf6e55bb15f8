// errors: how the library raises an Error.
//
// Contents:
//   raise_numbered   "ERROR: <text of the code> <detail>\n" on standard output, status 2
//   raise_numberedf  the same with a printf-formatted detail
//   raise_text       any other text, with its stream, status and code
//
// Every failure of the library and of its faces is worded here or passes
// through here, so the exit status and the wording are decided in one place.
#pragma once

#include <string>

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

[[noreturn]] void raise_numbered(ErrorCode code, const std::string &detail, int sys_errno = 0);
[[noreturn]] __attribute__((format(printf, 2, 3))) void raise_numberedf(ErrorCode code, const char *fmt, ...);
[[noreturn]] void raise_text(const std::string &text, bool to_stderr, int status, ErrorCode code = ErrorCode::NONE);

}  // namespace velcorin2

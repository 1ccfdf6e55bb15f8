// readers: what the sequence readers share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

// warn_truncated: "Sequence <code> truncated to <max_length> residues
// (--max-length 0 scores it whole)\n" in the record's warnings, and the
// record marked truncated.
void warn_truncated(Sequence &seq, int32_t max_length);

// refuse_long_record: ErrorCode::READ for a record of more than INT32_MAX residues.
[[noreturn]] void refuse_long_record(FILE *fl, const Sequence &seq);

// grow_record: room for entry n of a record's array (doubling, at least 256).
void grow_record(std::vector<int8_t> &v, int64_t n);

}  // namespace velcorin2

// readers: what the sequence readers share.
#pragma once

#include <cstdint>
#include <vector>

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

// warn_truncated: "Sequence <code> truncated to <max_length> residues
// (--max-length 0 scores it whole)\n" in the record's warnings, and the
// record marked truncated.
void warn_truncated(Sequence &seq, int32_t max_length);

// grow_record: room for entry n of a record's array (doubling, at least 4096).
void grow_record(std::vector<int8_t> &v, int64_t n);

}  // namespace velcorin2

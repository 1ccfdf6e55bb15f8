// segments.h: what a region of a prediction holds, for callers that take
// regions apart instead of printing them: its register segments and its
// lowest residue p-score.
#pragma once

#include <vector>

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

// A stretch of a region in one register offset.
struct RegisterSegment {
    int32_t from = 0, to = 0;  // 0-based, inclusive
    char reg = 'a';            // register letter of its first residue
};

// register_segments: `r` split where the register offset changes, in
// sequence order, into `out` (cleared first): the segments the region files
// list.  `r` must lie inside the scored prediction `p`.
void register_segments(const Prediction &p, const Region &r, std::vector<RegisterSegment> &out);

// lowest_pscore: the lowest residue p-score inside `r` (1.0 when no residue
// there has one).
double lowest_pscore(const Model &m, const Prediction &p, const Region &r);

}  // namespace velcorin2

// register_segments: a region taken apart into its register segments and
// its lowest p-score.
#include "velcorin2/segments.h"

namespace velcorin2 {

void register_segments(const Prediction &p, const Region &r, std::vector<RegisterSegment> &out)
{
    out.clear();
    int32_t start = r.from;
    for (int32_t i = r.from + 1; i <= r.to + 1; i++) {
        if (i <= r.to && p.offset[size_t(i)] == p.offset[size_t(i - 1)]) continue;
        out.push_back(RegisterSegment{start, i - 1, register_letter(int8_t(register_of(p, start)))});
        start = i;
    }
}

double lowest_pscore(const Model &m, const Prediction &p, const Region &r)
{
    double lowest = 1.0;
    for (int32_t i = r.from; i <= r.to; i++) {
        const double v = residue_pscore(m.pscores, p.score[size_t(i)]);
        if (v < lowest) lowest = v;
    }
    return lowest;
}

}  // namespace velcorin2

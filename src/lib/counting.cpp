// counting: what each record adds to the two count tables of a model.
#include <climits>
#include <cstdint>

#include "velcorin2/counting.h"

namespace velcorin2 {

namespace {

// bump: coil counts are updated modulo 2^32 so that arbitrary loaded counts
// can never overflow into undefined behaviour; -1 then +1 still restores them.
inline void bump(int32_t &count, int32_t weight) { count = int32_t(uint32_t(count) + uint32_t(weight)); }

inline bool is_register(int8_t r) { return r >= 0 && r < NREG; }
inline bool is_amino_acid(int8_t a) { return a >= 0 && a < NAA; }

// count_up: the model files are built by adding up, and a wrapped count
// would turn into a silently wrong model, so an update past the limit fails.
inline bool count_up(int32_t &count)
{
    if (count == INT32_MAX) return false;
    count++;
    return true;
}

}  // namespace

void add_coil_counts(CoilCounts &c, const Sequence &seq, int32_t weight)
{
    const int8_t *res = seq.residues.data(), *reg = seq.registers.data();
    for (int32_t i = 0; i < seq.length; i++) {
        int8_t a = res[i], r = reg[i];
        if (!is_amino_acid(a) || !is_register(r)) continue;
        // The run goes on while the heptad continues; gaps and X inside it
        // are passed over but keep it going.
        for (int32_t j = i + 1; j <= i + 7 && j < seq.length; j++) {
            int8_t q = reg[j];
            if (q != (r + j - i) % NREG) break;
            int8_t b = res[j];
            if (!is_amino_acid(b)) continue;
            bump(c.freqp[a][b][r][q], weight);
            bump(c.totalp[r][q], weight);
        }
        bump(c.freqs[a][r], weight);
        bump(c.totals[r], weight);
    }
}

bool add_background_counts(BackgroundCounts &bg, const Sequence &seq)
{
    const int8_t *res = seq.residues.data();
    for (int32_t i = 0; i < seq.length; i++) {
        int8_t a = res[i];
        if (!is_amino_acid(a)) continue;
        if (!count_up(bg.freqs[a]) || !count_up(bg.totals)) return false;
        for (int32_t d = 0; d < NREG && i + d + 1 < seq.length; d++) {
            int8_t b = res[i + d + 1];
            if (!is_amino_acid(b)) continue;
            if (!count_up(bg.freqp[a][b][d]) || !count_up(bg.totalp[d])) return false;
        }
    }
    return true;
}

}  // namespace velcorin2

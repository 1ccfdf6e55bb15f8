// stock_scoring: the single-residue stock method the pair scoring is
// compared with: every residue contributes the logarithm of its relative
// occurrence in its register, summed over windows of STOCK_WINDOW residues.
#include <array>
#include <cmath>

#include "scoring.h"

namespace velcorin2 {

namespace {
// Relative occurrence of each residue (rows in residue-number order) in the
// registers a..g of known coils.
constexpr double relative_occurrence[NAA][NREG] = {
    {3.167, 0.297, 0.398, 3.902, 0.585, 0.501, 0.483},  // L
    {2.597, 0.098, 0.345, 0.894, 0.514, 0.471, 0.431},  // I
    {1.665, 0.403, 0.386, 0.949, 0.211, 0.342, 0.36},   // V
    {2.24, 0.307, 0.48, 1.409, 0.541, 0.772, 0.663},    // M
    {0.531, 0.076, 0.403, 0.662, 0.189, 0.106, 0.013},  // F
    {1.417, 0.09, 0.122, 1.659, 0.19, 0.13, 0.155},     // Y
    {0.045, 0.275, 0.578, 0.216, 0.211, 0.426, 0.156},  // G
    {1.297, 1.551, 1.084, 2.612, 0.377, 1.248, 0.877},  // A
    {1.375, 2.639, 1.763, 0.191, 1.815, 1.961, 2.795},  // K
    {0.659, 1.163, 1.21, 0.031, 1.358, 1.937, 1.798},   // R
    {0.347, 0.275, 0.679, 0.395, 0.294, 0.579, 0.213},  // H
    {0.262, 3.496, 3.108, 0.998, 5.685, 2.494, 3.048},  // E
    {0.03, 2.352, 2.268, 0.237, 0.663, 1.62, 1.448},    // D
    {0.179, 2.114, 1.778, 0.631, 2.55, 1.578, 2.526},   // Q
    {0.835, 1.475, 1.534, 0.039, 1.722, 2.456, 2.28},   // N
    {0.382, 0.583, 1.052, 0.419, 0.525, 0.916, 0.628},  // S
    {0.169, 0.702, 0.955, 0.654, 0.791, 0.843, 0.647},  // T
    {0.824, 0.022, 0.308, 0.152, 0.18, 0.156, 0.044},   // C
    {0.24, 0, 0, 0.456, 0.019, 0, 0},                   // W
    {0, 0.008, 0, 0.013, 0, 0, 0},                      // P
};

// Their natural logarithms (LOGZERO for 0), worked out once, on first use.
const std::array<std::array<double, NREG>, NAA> &log_table()
{
    static const auto table = [] {
        std::array<std::array<double, NREG>, NAA> t{};
        for (int aa = 0; aa < NAA; aa++)
            for (int r = 0; r < NREG; r++) {
                const double v = relative_occurrence[aa][r];
                t[size_t(aa)][size_t(r)] = v != 0 ? std::log(v) : LOGZERO;
            }
        return t;
    }();
    return table;
}
}  // namespace

double stock_log_occurrence(int aa, int reg) { return log_table()[size_t(aa)][size_t(reg)]; }

void stock_window_sums(double (*win)[LANES], double (*prop)[LANES], const int8_t *seq, int32_t st, int32_t en,
                       int32_t window)
{
    const auto &logs = log_table();
    for (int32_t x = st; x < en; x++) {
        for (int o = 0; o < NREG; o++) prop[x][o] = logs[size_t(seq[x])][size_t(register_at(x, o))];
        prop[x][LANES - 1] = 0;
    }
    window_sums(win, prop, st, en, window);
}

bool score_stock(const Model &m, Workspace &w, const int8_t *seq, int32_t seqlen, double *best, int8_t *offset,
                 double *max)
{
    if (seqlen < STOCK_WINDOW) return false;
    w.reserve(seqlen);
    clear_scores(seqlen, best, offset);
    double gmax = NOT_SCORED;
    int32_t st = 0, en = 0;
    while (next_segment(&st, &en, seq, seqlen, m.prolines_end_segments)) {
        if (en - st < STOCK_WINDOW) continue;
        stock_window_sums(w.win.get(), w.prop.get(), seq, st, en, STOCK_WINDOW);
        take_maxima(w, best, offset, st, en, STOCK_WINDOW, &gmax);
    }
    *max = gmax;
    return true;
}

}  // namespace velcorin2

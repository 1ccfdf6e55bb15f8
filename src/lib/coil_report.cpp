// coil_report: the logs: the score line of -v, the coil report of -p and
// the residue and register map of -d.
#include <cfloat>
#include <cmath>
#include <cstdio>

#include "velcorin2/report.h"

namespace velcorin2 {

void write_score_line(const Sequence &seq, const Prediction &p, int record, std::string &out)
{
    const double score = p.sequence_score;
    double v = score >= -DBL_MAX ? score : -100000.0;
    appendf(out, "%4d %lf %s %s\n", record, v, seq.code, seq.title);
}

namespace {
// coil_entry: one entry "  %1.4f@ %4d-%4d:%c;  " with the p-score of `best`,
// positions from+1 and to+1, and the register of residue `from` under
// register offset `offset`.
void coil_entry(const PscoreTables &t, std::string &out, double best, int from, int to, int offset)
{
    appendf(out, "  %1.4f@ %4d-%4d:%c;  ", residue_pscore(t, best), from + 1, to + 1,
            register_letter(int8_t((offset + from) % NREG)));
}
}  // namespace

void write_coil_report(const PscoreTables &t, const RunSettings &s, const Sequence &seq, const Prediction &p,
                       int record, std::string &coil_log, std::string &sequence_log)
{
    const double bound = score_for_pscore(t, s.report_pscore);
    const double score = p.sequence_score;
    const int32_t n = seq.length;
    const double *sc = p.score.data();
    const int8_t *offsets = p.offset.data();

    int32_t m = 0;
    while (m < n && !(sc[m] == score)) m++;
    // Past the end there is no residue: its letter is that of offset 0.
    int peak_reg = (m < n ? offsets[m] + m : m) % NREG;

    appendf(coil_log, "%d \t%s\n\t%s\n", record, seq.code, seq.title);
    appendf(sequence_log, "%d \t%s\n\t%s\n", record, seq.code, seq.title);
    appendf(sequence_log, "\tP-score = %1.4f\n\tScore = %4.2f\n\n", sequence_pscore(t, score), score);
    appendf(coil_log, "\t  %6.4g @%4d : %c\n", residue_pscore(t, score), m + 1, register_letter(int8_t(peak_reg)));

    if (score < bound) {
        coil_log += "No coiled coils found.\n";
        return;
    }
    if (s.mode & MODE_MAP) write_register_map(s.mode, seq, p, bound, s.map_bound, coil_log);
    coil_log += " [";

    // Entries: runs above the bound, split where the register offset changes.
    int st = -1;
    double mx = -HUGE_VAL;
    for (int32_t i = 0; i < n; i++) {
        if (sc[i] > bound) {
            if (st < 0) {
                st = i;
            } else if (offsets[i] != offsets[i - 1]) {
                coil_entry(t, coil_log, mx, st, i - 1, offsets[st]);
                mx = sc[i];
                st = i;
            }
            if (sc[i] > mx) mx = sc[i];
        } else if (mx != -HUGE_VAL) {
            coil_entry(t, coil_log, mx, st, i - 1, offsets[st]);
            st = -1;
            mx = -HUGE_VAL;
        }
    }
    if (st >= 0 && mx != -HUGE_VAL) coil_entry(t, coil_log, mx, st, n - 1, offsets[st]);

    appendf(coil_log, "End: %d]\n\n", n);
}

// ---- The map ------------------------------------------------------------------------------

namespace {

constexpr int8_t NOCOIL = ',';

// mark_residue: the map entry of residue j (register number or NOCOIL) and
// whether the residue is flagged.
inline void mark_residue(int mode, int j, const int8_t *reg, const double *sc, double bound, double map_bound,
                         const int8_t *offsets, int8_t *pos, bool *flagged)
{
    double s = sc[j];
    int r = (offsets[j] + j) % NREG;
    bool known = (mode & (MODE_LEAVEOUT | MODE_POS)) != 0;
    *flagged = false;
    if (s < bound || ((mode & MODE_MAP_GIVEN) && reg[j] == NOREG)) {
        *pos = NOCOIL;
    } else {
        *pos = int8_t(r);
        if (s < map_bound || (known && r != reg[j])) *flagged = true;
    }
    if (known && reg[j] != NOREG && s < bound) {  // a known coil residue the prediction misses
        if (*pos == NOCOIL) *pos = reg[j];
        *flagged = true;
    }
}

// ruler: "\n\n\t" and the 70 digits 1..9,0 repeated.
void ruler(std::string &out)
{
    char b[80];
    int n = 0;
    b[n++] = '\n';
    b[n++] = '\n';
    b[n++] = '\t';
    for (int k = 0; k < 70; k++) b[n++] = char('0' + (k + 1) % 10);
    out.append(b, size_t(n));
}

}  // namespace

void write_register_map(int mode, const Sequence &seq, const Prediction &p, double bound, double map_bound,
                        std::string &out)
{
    const int32_t n = seq.length;
    const int8_t *reg = seq.registers.data(), *res = seq.residues.data(), *offsets = p.offset.data();
    const double *sc = p.score.data();
    // Each residue's mark is a pure function of its index, so it is worked
    // out again where it is printed instead of being kept in a second record.
    int8_t pos;
    bool flagged;
    bool was_strange = false;
    for (int32_t j = 0; j < n && !was_strange; j++) {
        mark_residue(mode, j, reg, sc, bound, map_bound, offsets, &pos, &flagged);
        was_strange = flagged;
    }
    if ((mode & MODE_MAP_FLAGGED) && !was_strange) return;

    char row[96];
    int32_t rows = n / 70;

    ruler(out);
    out += '\n';
    for (int32_t j = 0; j <= rows; j++) {
        int k = std::snprintf(row, sizeof row, "\n%4d\t", 70 * j + 1);
        for (int32_t i = 70 * j; i < n && i < 70 * j + 70; i++) row[k++] = residue_letter(res[i]);
        row[k++] = '\t';
        out.append(row, size_t(k));
    }

    ruler(out);
    for (int32_t j = 0; j <= rows; j++) {
        int k = std::snprintf(row, sizeof row, "\n%4d\t", 70 * j + 1);
        for (int32_t i = 70 * j; i < n && i < 70 * j + 70; i++) {
            mark_residue(mode, i, reg, sc, bound, map_bound, offsets, &pos, &flagged);
            if (pos == NOCOIL)
                row[k++] = '.';
            else if (flagged)
                row[k++] = char(register_letter(pos) - 32);
            else
                row[k++] = register_letter(pos);
        }
        out.append(row, size_t(k));
    }
    out += "\n\n";
}

}  // namespace velcorin2

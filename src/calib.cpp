// calib: p-scores fitted to the model in use.
// Contents: see calib.h.
//
// The file is text a person can read:
//
//   velcorin2 calibration 1
//   distances 1 2 3
//   prolines end segments                 (or: prolines do not end segments)
//   model 0123456789abcdef                (model_fingerprint of the count files)
//   source background.fa.gz
//   chains 9332 residues 2281547
//   residue 28 scores 1303730 lower -20.21 2.089907 upper 17.98 2.456279 rows 7001
//   -40.00 0.000000078857                 (score, P(best score < score), 7001 rows)
//   sequence 28 scored 8889 rows 813
//   -63.9 0 0.000000                      (score, sequences below it, their fraction)
//   residue 21 ...   sequence 21 ...
//
// Every line has one exact spelling: the reader parses a line, writes it
// again the way the writer does and insists on the same bytes.
#include "calib.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "scsystem.h"

namespace {

// ---- 1. The grids and the model's fingerprint ------------------------------------------

constexpr int WINDOWS[2] = {28, 21};  // the window length of index [0] and [1]
static_assert(CAL_RESIDUE_ROWS == PSCORE_ROWS && CAL_SEQUENCE_ROWS == n_pscores);

// The grid scores are taken from the built-in tables, so that the lookups
// (which assume the built-in grid to the last bit) see the same doubles.
inline double grid(int i) { return builtin_pscores().global_pscore[i][0]; }
inline double seq_grid(int k) { return builtin_pscores().pscores[0][k][0]; }

// A value of c / n as the built-in sequence tables hold it: six decimals.
double six_decimals(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    return std::strtod(buf, nullptr);
}

struct Fnv {
    uint64_t h = 14695981039346656037ull;
    void add(const int32_t *a, size_t n)
    {
        for (size_t i = 0; i < n; i++) {
            const uint32_t v = uint32_t(a[i]);
            for (int shift = 24; shift >= 0; shift -= 8) {
                h ^= (v >> shift) & 0xff;
                h *= 1099511628211ull;
            }
        }
    }
};

}  // namespace

uint64_t model_fingerprint(const GenFreq &g, const PosFreq &p)
{
    Fnv f;
    f.add(&g.totals, 1);
    f.add(g.freqs, NAA);
    f.add(g.totalp, NREG);
    f.add(&g.freqp[0][0][0], NAA * NAA * NREG);
    f.add(p.totals, NREG);
    f.add(&p.freqs[0][0], NAA * NREG);
    f.add(&p.totalp[0][0], NREG * NREG);
    f.add(&p.freqp[0][0][0][0], NAA * NAA * NREG * NREG);
    return f.h;
}

// ---- 2. Fitting ---------------------------------------------------------------------------

namespace {
constexpr int64_t MIN_SCORES = 1000;    // fewer finite residue scores: no fit
constexpr int64_t TAIL_DIVISOR = 1000;  // each tail starts at the 0.1 % most extreme scores ...
constexpr int64_t MIN_TAIL = 100;       // ... and holds at least this many
constexpr double MIN_SCALE = 0.01;      // a tail scale below this comes only from degenerate data
}  // namespace

bool fit_residue_table(const std::vector<double> &x, CalResidueTable &t, std::string *why)
{
    constexpr int R = CAL_RESIDUE_ROWS;
    const int64_t n = int64_t(x.size());
    if (n < MIN_SCORES) {
        *why = std::to_string(n) + " finite residue scores; at least " + std::to_string(MIN_SCORES) + " are needed";
        return false;
    }
    // B[i]: scores below grid i.  A score equal to a grid score reaches that
    // row, as the lookup (last row not above the score) has it.
    std::vector<int64_t> B(R);
    for (int i = 0; i < R; i++) B[i] = std::lower_bound(x.begin(), x.end(), grid(i)) - x.begin();
    const int64_t k = std::max((n + TAIL_DIVISOR - 1) / TAIL_DIVISOR, MIN_TAIL);
    int iu = -1, il = -1;  // the last row reached by k scores, the first with k below it
    for (int i = R - 1; i >= 0 && iu < 0; i--)
        if (n - B[i] >= k) iu = i;
    for (int i = 0; i < R && il < 0; i++)
        if (B[i] >= k) il = i;
    if (iu < 0 || il < 0 || il >= iu) {
        *why = "the scores are too concentrated (or too far outside -40 to 30) to leave " + std::to_string(k) +
               " of them beyond each tail point";
        return false;
    }
    const double u = grid(iu), l = grid(il);
    const int64_t Cu = n - B[iu], L = B[il];
    // Tail scales: the mean excess beyond the point (the exponential's
    // maximum-likelihood scale), summed in ascending order of the scores.
    double su = 0.0, sl = 0.0;
    for (int64_t j = B[iu]; j < n; j++) su += x[size_t(j)] - u;
    for (int64_t j = 0; j < L; j++) sl += l - x[size_t(j)];
    su = su / double(Cu);
    sl = sl / double(L);
    if (su < MIN_SCALE) su = MIN_SCALE;
    if (sl < MIN_SCALE) sl = MIN_SCALE;

    const double nd = double(n), al = double(L) / nd, au = double(Cu) / nd;
    int64_t *q = t.q;
    for (int i = 0; i < R; i++) {
        const double g = grid(i);
        if (i < il)
            q[i] = std::llround(al * std::exp((g - l) / sl) * 1e12);
        else if (i <= iu)
            q[i] = std::llround(double(B[i]) / nd * 1e12);
        else
            q[i] = CAL_UNIT - std::llround(au * std::exp(-((g - u) / su)) * 1e12);
    }
    // A run of empty 0.01 cells in the body would give rows of equal
    // probability: the next rise is spread over the run instead.
    for (int i = il + 1; i <= iu;) {
        if (q[i] != q[i - 1]) {
            i++;
            continue;
        }
        const int a = i - 1;
        int b = i;
        while (b + 1 <= iu && q[b + 1] == q[a]) b++;
        const int64_t d = b + 1 < R ? q[b + 1] - q[a] : 0;
        if (d > 0)
            for (int j = a + 1; j <= b; j++) q[j] = q[a] + d * (j - a) / (b + 1 - a);
        i = b + 1;
    }
    // Inside (0, 1) with room for one unit per row on either side, then
    // strictly rising: every score has a p-score above 0 and below 1, and
    // no two rows share a probability (the reverse lookup needs that).
    for (int i = 0; i < R; i++) q[i] = std::min(std::max(q[i], int64_t(i) + 1), CAL_UNIT - R + i);
    for (int i = 1; i < R; i++)
        if (q[i] <= q[i - 1]) q[i] = q[i - 1] + 1;

    t.scores = n;
    t.lower = l;
    t.lower_scale = sl;
    t.upper = u;
    t.upper_scale = su;
    return true;
}

bool fit_sequence_table(const std::vector<double> &y, CalSequenceTable &t, std::string *why)
{
    if (y.empty() || y.size() > size_t(INT32_MAX)) {
        *why = y.empty() ? "no sequence has a score" : "too many sequences";
        return false;
    }
    t.scored = int32_t(y.size());
    // A score equal to a grid score is above every score that uses its row
    // (the lookup takes the first row above the score), so it is not below it.
    for (int k = 0; k < CAL_SEQUENCE_ROWS; k++)
        t.c[k] = int32_t(std::lower_bound(y.begin(), y.end(), seq_grid(k)) - y.begin());
    return true;
}

// ---- 3. The file ------------------------------------------------------------------------------

namespace {

constexpr size_t MAX_LINE = 4096;

std::string distance_list(int32_t functnum, const int8_t *lib)
{
    std::string s;
    for (int i = 0; i < functnum; i++) s += (i ? " " : "") + std::to_string(lib[i]);
    return s;
}

const char *proline_line(bool prolinefree)
{
    return prolinefree ? "prolines end segments\n" : "prolines do not end segments\n";
}

std::string model_line(uint64_t model)
{
    std::string s;
    appendf(s, "model %016llx\n", (unsigned long long)model);
    return s;
}

std::string chains_line(const Calibration &c)
{
    std::string s;
    appendf(s, "chains %lld residues %lld\n", (long long)c.chains, (long long)c.residues);
    return s;
}

std::string residue_header(int w, const CalResidueTable &t)
{
    std::string s;
    appendf(s, "residue %d scores %lld lower %.2f %.6f upper %.2f %.6f rows %d\n", WINDOWS[w], (long long)t.scores,
            t.lower, t.lower_scale, t.upper, t.upper_scale, CAL_RESIDUE_ROWS);
    return s;
}

std::string sequence_header(int w, const CalSequenceTable &t)
{
    std::string s;
    appendf(s, "sequence %d scored %d rows %d\n", WINDOWS[w], t.scored, CAL_SEQUENCE_ROWS);
    return s;
}

// The row texts up to the probability or count: "%.2f 0." and "%.1f ".
std::string residue_row_start(int i)
{
    std::string s;
    appendf(s, "%.2f 0.", grid(i));
    return s;
}

std::string sequence_row_start(int k)
{
    std::string s;
    appendf(s, "%.1f ", seq_grid(k));
    return s;
}

std::string sequence_row(int k, int32_t c, int32_t scored)
{
    std::string s = sequence_row_start(k);
    appendf(s, "%d %.6f\n", c, double(c) / double(scored));
    return s;
}

// The reading side: lines with their numbers, and the errors that name them.
struct LineReader {
    FILE *fl;
    const std::string &name;
    long line = 0;
    std::string text;  // the current line, its '\n' included (absent at an unterminated end)

    bool next()
    {
        text.clear();
        int c;
        while ((c = std::getc(fl)) != EOF) {
            text += char(c);
            if (c == '\n') break;
            if (text.size() > MAX_LINE) {
                line++;
                bad("a line of more than " + std::to_string(MAX_LINE) + " characters");
            }
        }
        if (std::ferror(fl)) fatal(ERR_READ, "calibration file " + name);
        if (text.empty()) return false;
        line++;
        return true;
    }
    [[noreturn]] void bad(const std::string &what) const
    {
        fatal(ERR_READ, "calibration file " + name + ", line " + std::to_string(line) + ": " + what);
    }
    // The next line, which must be `what`.
    void expect(const std::string &what)
    {
        if (!next()) {
            line++;
            bad("the file ends where " + what + " is expected");
        }
    }
    [[noreturn]] void wrong(const std::string &what) const
    {
        std::string shown = text.substr(0, 60);
        for (char &ch : shown)
            if ((unsigned char)ch < ' ') ch = ' ';
        while (!shown.empty() && shown.back() == ' ') shown.pop_back();
        bad("'" + shown + "' where " + what + " is expected");
    }
};

// digits: the decimal number of exactly `len` digits at `s` (len <= 18).
bool digits(const std::string &s, size_t at, size_t len, int64_t *v)
{
    if (at + len > s.size()) return false;
    int64_t r = 0;
    for (size_t i = at; i < at + len; i++) {
        if (s[i] < '0' || s[i] > '9') return false;
        r = r * 10 + (s[i] - '0');
    }
    *v = r;
    return true;
}

void read_header(LineReader &r, Calibration &c)
{
    r.expect("the distance classes");
    c.functnum = 0;
    const std::string &t = r.text;
    size_t i = std::strlen("distances");
    if (t.compare(0, i, "distances") != 0) r.wrong("'distances' and the distance classes");
    for (; c.functnum < NREG && i + 1 < t.size() && t[i] == ' ' && t[i + 1] >= '0' && t[i + 1] <= '6'; i += 2)
        c.lib[c.functnum++] = int8_t(t[i + 1] - '0');
    if (c.functnum == 0 || t.compare(i, std::string::npos, "\n") != 0)
        r.wrong("'distances' and one to seven classes 0 to 6");

    r.expect("the proline rule");
    c.prolinefree = r.text == proline_line(true);
    if (!c.prolinefree && r.text != proline_line(false))
        r.wrong("'prolines end segments' or 'prolines do not end segments'");

    r.expect("the model");
    c.model = std::strtoull(r.text.c_str() + std::min<size_t>(6, r.text.size()), nullptr, 16);
    if (r.text.compare(0, 6, "model ") != 0 || model_line(c.model) != r.text)
        r.wrong("'model' and 16 hexadecimal digits");

    r.expect("the source");
    if (r.text.compare(0, 7, "source ") != 0 || r.text.size() < 9 || r.text.back() != '\n')
        r.wrong("'source' and the background's name");
    c.source = r.text.substr(7, r.text.size() - 8);

    r.expect("the source's size");
    long long chains = -1, residues = -1;
    std::sscanf(r.text.c_str(), "chains %lld residues %lld", &chains, &residues);
    c.chains = chains;
    c.residues = residues;
    if (chains < 0 || residues < 0 || chains_line(c) != r.text) r.wrong("'chains N residues N'");
}

void read_residue_table(LineReader &r, int w, CalResidueTable &t)
{
    const std::string what = "the window-" + std::to_string(WINDOWS[w]) + " residue table";
    r.expect(what);
    int window = 0, rows = 0;
    long long scores = 0;
    const int got = std::sscanf(r.text.c_str(), "residue %d scores %lld lower %lf %lf upper %lf %lf rows %d", &window,
                                &scores, &t.lower, &t.lower_scale, &t.upper, &t.upper_scale, &rows);
    t.scores = scores;
    if (got != 7 || window != WINDOWS[w] || rows != CAL_RESIDUE_ROWS || scores < 1 || !std::isfinite(t.lower) ||
        !std::isfinite(t.lower_scale) || !std::isfinite(t.upper) || !std::isfinite(t.upper_scale) ||
        residue_header(w, t) != r.text)
        r.wrong("the header of " + what + " ('residue " + std::to_string(WINDOWS[w]) + " scores ... rows 7001')");
    for (int i = 0; i < CAL_RESIDUE_ROWS; i++) {
        const std::string start = residue_row_start(i);
        const std::string row = "row " + start.substr(0, start.size() - 3) + " of " + what;
        r.expect(row);
        int64_t q;
        if (r.text.size() != start.size() + 13 || r.text.compare(0, start.size(), start) != 0 ||
            !digits(r.text, start.size(), 12, &q) || r.text.back() != '\n')
            r.wrong(row + " ('" + start + "' and 12 digits)");
        if (i == 0 && q == 0) r.bad("probability 0 in " + row + "; every probability must be above 0");
        if (i > 0 && q <= t.q[i - 1]) r.bad("the probability of " + row + " is not above the row before");
        t.q[i] = q;
    }
}

void read_sequence_table(LineReader &r, int w, CalSequenceTable &t)
{
    const std::string what = "the window-" + std::to_string(WINDOWS[w]) + " sequence table";
    r.expect(what);
    int window = 0, scored = 0, rows = 0;
    const int got = std::sscanf(r.text.c_str(), "sequence %d scored %d rows %d", &window, &scored, &rows);
    t.scored = scored;
    if (got != 3 || window != WINDOWS[w] || scored < 1 || rows != CAL_SEQUENCE_ROWS || sequence_header(w, t) != r.text)
        r.wrong("the header of " + what + " ('sequence " + std::to_string(WINDOWS[w]) + " scored N rows 813')");
    for (int k = 0; k < CAL_SEQUENCE_ROWS; k++) {
        std::string row;
        appendf(row, "row %.1f of %s", seq_grid(k), what.c_str());
        r.expect(row);
        const std::string start = sequence_row_start(k);
        long long c = -1;
        if (r.text.compare(0, start.size(), start) != 0 ||
            std::sscanf(r.text.c_str() + start.size(), "%lld", &c) != 1 || c < 0 || c > scored ||
            sequence_row(k, int32_t(c), scored) != r.text)
            r.wrong(row + " (score, count, count / " + std::to_string(scored) + " to six decimals)");
        if (k > 0 && c < t.c[k - 1]) r.bad("the count of " + row + " is below the row before");
        t.c[k] = int32_t(c);
    }
}

}  // namespace

int write_calibration(FILE *fl, const Calibration &c)
{
    std::string s = CALIBRATION_MAGIC;
    s += "distances " + distance_list(c.functnum, c.lib) + "\n";
    s += proline_line(c.prolinefree);
    s += model_line(c.model);
    s += "source " + c.source + "\n";
    s += chains_line(c);
    for (int w = 0; w < 2; w++) {
        const CalResidueTable &r = c.residue[w];
        s += residue_header(w, r);
        for (int i = 0; i < CAL_RESIDUE_ROWS; i++) {
            s += residue_row_start(i);
            appendf(s, "%012lld\n", (long long)r.q[i]);
        }
        const CalSequenceTable &q = c.sequence[w];
        s += sequence_header(w, q);
        for (int k = 0; k < CAL_SEQUENCE_ROWS; k++) s += sequence_row(k, q.c[k], q.scored);
    }
    bool ok = std::fwrite(s.data(), 1, s.size(), fl) == s.size();
    if (std::fflush(fl) != 0) ok = false;
    return ok && !std::ferror(fl) ? 0 : -1;
}

void read_calibration(FILE *fl, const std::string &name, Calibration &c)
{
    LineReader r{fl, name, 0, {}};
    if (!r.next() || r.text != CALIBRATION_MAGIC)
        fatal(ERR_MAGIC, "calibration file " + name + " (its first line must be 'velcorin2 calibration 1')");
    read_header(r, c);
    // The layout is the writer's: window 28's two tables, then window 21's.
    for (int w = 0; w < 2; w++) {
        read_residue_table(r, w, c.residue[w]);
        read_sequence_table(r, w, c.sequence[w]);
    }
    if (r.next()) r.bad("text after the last table");
}

// ---- 4. A run -------------------------------------------------------------------------------------

void check_calibration(const Calibration &c, const RunSettings &s, uint64_t model, const std::string &name)
{
    // The order of the classes changes no more than the last bits of a score.
    std::vector<int> made(c.lib, c.lib + c.functnum), run(s.lib, s.lib + s.functnum);
    std::sort(made.begin(), made.end());
    std::sort(run.begin(), run.end());
    const bool prolinefree = (s.mode & MODE_PROLINEFREE) != 0;
    const std::string head = "ERROR: Calibration file " + name + " does not fit this run: ";
    if (made != run || prolinefree != c.prolinefree) {
        auto rule = [](bool p) { return p ? "prolines ending segments" : "prolines not ending segments"; };
        fail(head + "it was made for distance classes " + distance_list(c.functnum, c.lib) + " with " +
                 rule(c.prolinefree) + ", the run uses " + distance_list(s.functnum, s.lib) + " with " +
                 rule(prolinefree) + "; velcorin2-counts calibrate makes one for it\n",
             false, STATUS_ERROR);
    }
    if (model != c.model) {
        std::string m = model_line(c.model), r = model_line(model);
        fail(head + "it was made with other count files (" + m.substr(0, m.size() - 1) + ", this run's " +
                 r.substr(6, r.size() - 7) + "); velcorin2-counts calibrate makes one for it\n",
             false, STATUS_ERROR);
    }
}

void calibrated_pscores(const Calibration &c, int32_t window_length, PscoreTables &t)
{
    const PscoreTables &b = builtin_pscores();
    const CalResidueTable &r = c.residue[window_length == 21 ? 1 : 0];
    for (int i = 0; i < PSCORE_ROWS; i++) {
        t.global_pscore[i][0] = b.global_pscore[i][0];
        // Correctly rounded, as reading "0.<12 digits>" with strtod gives it.
        t.global_pscore[i][1] = double(r.q[i]) / 1e12;
    }
    for (int w = 0; w < 2; w++)
        for (int k = 0; k < n_pscores; k++) {
            t.pscores[w][k][0] = b.pscores[w][k][0];
            t.pscores[w][k][1] = six_decimals(double(c.sequence[w].c[k]) / double(c.sequence[w].scored));
        }
    finish_pscores(t);
}

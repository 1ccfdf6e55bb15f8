// calibration_file: the calibration file, text a person can read:
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
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "errors.h"
#include "pscore_grid.h"
#include "velcorin2/io.h"
#include "velcorin2/report.h"

namespace velcorin2 {

namespace {

constexpr size_t MAX_LINE = 4096;

std::string distance_list(int32_t count, const int8_t *distances)
{
    std::string s;
    for (int i = 0; i < count; i++) s += (i ? " " : "") + std::to_string(distances[i]);
    return s;
}

const char *proline_line(bool prolines_end_segments)
{
    return prolines_end_segments ? "prolines end segments\n" : "prolines do not end segments\n";
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
    appendf(s, "residue %d scores %lld lower %.2f %.6f upper %.2f %.6f rows %d\n", SHORTEST_SEGMENTS[w],
            (long long)t.scores, t.lower, t.lower_scale, t.upper, t.upper_scale, RESIDUE_ROWS);
    return s;
}

std::string sequence_header(int w, const CalSequenceTable &t)
{
    std::string s;
    appendf(s, "sequence %d scored %d rows %d\n", SHORTEST_SEGMENTS[w], t.scored, SEQUENCE_ROWS);
    return s;
}

// The row texts up to the probability or count: "%.2f 0." and "%.1f ".
std::string residue_row_start(int i)
{
    std::string s;
    appendf(s, "%.2f 0.", residue_grid_score(i));
    return s;
}

std::string sequence_row_start(int k)
{
    std::string s;
    appendf(s, "%.1f ", sequence_grid_score(k));
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
        if (std::ferror(fl)) raise_numbered(ErrorCode::READ, "calibration file " + name);
        if (text.empty()) return false;
        line++;
        return true;
    }
    [[noreturn]] void bad(const std::string &what) const
    {
        raise_numbered(ErrorCode::READ, "calibration file " + name + ", line " + std::to_string(line) + ": " + what);
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
    c.distance_count = 0;
    const std::string &t = r.text;
    size_t i = std::strlen("distances");
    if (t.compare(0, i, "distances") != 0) r.wrong("'distances' and the distance classes");
    for (; c.distance_count < NREG && i + 1 < t.size() && t[i] == ' ' && t[i + 1] >= '0' && t[i + 1] <= '6'; i += 2)
        c.distances[c.distance_count++] = int8_t(t[i + 1] - '0');
    if (c.distance_count == 0 || t.compare(i, std::string::npos, "\n") != 0)
        r.wrong("'distances' and one to seven classes 0 to 6");

    r.expect("the proline rule");
    c.prolines_end_segments = r.text == proline_line(true);
    if (!c.prolines_end_segments && r.text != proline_line(false))
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
    const std::string what = "the window-" + std::to_string(SHORTEST_SEGMENTS[w]) + " residue table";
    r.expect(what);
    int window = 0, rows = 0;
    long long scores = 0;
    const int got = std::sscanf(r.text.c_str(), "residue %d scores %lld lower %lf %lf upper %lf %lf rows %d", &window,
                                &scores, &t.lower, &t.lower_scale, &t.upper, &t.upper_scale, &rows);
    t.scores = scores;
    if (got != 7 || window != SHORTEST_SEGMENTS[w] || rows != RESIDUE_ROWS || scores < 1 || !std::isfinite(t.lower) ||
        !std::isfinite(t.lower_scale) || !std::isfinite(t.upper) || !std::isfinite(t.upper_scale) ||
        residue_header(w, t) != r.text)
        r.wrong("the header of " + what + " ('residue " + std::to_string(SHORTEST_SEGMENTS[w]) +
                " scores ... rows 7001')");
    for (int i = 0; i < RESIDUE_ROWS; i++) {
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
    const std::string what = "the window-" + std::to_string(SHORTEST_SEGMENTS[w]) + " sequence table";
    r.expect(what);
    int window = 0, scored = 0, rows = 0;
    const int got = std::sscanf(r.text.c_str(), "sequence %d scored %d rows %d", &window, &scored, &rows);
    t.scored = scored;
    if (got != 3 || window != SHORTEST_SEGMENTS[w] || scored < 1 || rows != SEQUENCE_ROWS ||
        sequence_header(w, t) != r.text)
        r.wrong("the header of " + what + " ('sequence " + std::to_string(SHORTEST_SEGMENTS[w]) +
                " scored N rows 813')");
    for (int k = 0; k < SEQUENCE_ROWS; k++) {
        std::string row;
        appendf(row, "row %.1f of %s", sequence_grid_score(k), what.c_str());
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

bool write_calibration(FILE *fl, const Calibration &c)
{
    std::string s = CALIBRATION_MAGIC;
    s += "distances " + distance_list(c.distance_count, c.distances) + "\n";
    s += proline_line(c.prolines_end_segments);
    s += model_line(c.model);
    s += "source " + c.source + "\n";
    s += chains_line(c);
    for (int w = 0; w < 2; w++) {
        const CalResidueTable &r = c.residue[w];
        s += residue_header(w, r);
        for (int i = 0; i < RESIDUE_ROWS; i++) {
            s += residue_row_start(i);
            appendf(s, "%012lld\n", (long long)r.q[i]);
        }
        const CalSequenceTable &q = c.sequence[w];
        s += sequence_header(w, q);
        for (int k = 0; k < SEQUENCE_ROWS; k++) s += sequence_row(k, q.c[k], q.scored);
    }
    bool ok = std::fwrite(s.data(), 1, s.size(), fl) == s.size();
    if (std::fflush(fl) != 0) ok = false;
    return ok && !std::ferror(fl);
}

void read_calibration(FILE *fl, const std::string &name, Calibration &c)
{
    LineReader r{fl, name, 0, {}};
    if (!r.next() || r.text != CALIBRATION_MAGIC)
        raise_numbered(ErrorCode::MAGIC,
                       "calibration file " + name + " (its first line must be 'velcorin2 calibration 1')");
    read_header(r, c);
    // The layout is the writer's: the two tables of shortest segment 28, then those of 21.
    for (int w = 0; w < 2; w++) {
        read_residue_table(r, w, c.residue[w]);
        read_sequence_table(r, w, c.sequence[w]);
    }
    if (r.next()) r.bad("text after the last table");
}

void check_calibration(const Calibration &c, const int8_t *distances, int32_t distance_count,
                       bool prolines_end_segments, uint64_t fingerprint, const std::string &name)
{
    // The order of the classes changes no more than the last bits of a score.
    std::vector<int> made(c.distances, c.distances + c.distance_count), run(distances, distances + distance_count);
    std::sort(made.begin(), made.end());
    std::sort(run.begin(), run.end());
    const std::string head = "ERROR: Calibration file " + name + " does not fit this run: ";
    if (made != run || prolines_end_segments != c.prolines_end_segments) {
        auto rule = [](bool p) { return p ? "prolines ending segments" : "prolines not ending segments"; };
        raise_text(head + "it was made for distance classes " + distance_list(c.distance_count, c.distances) +
                       " with " + rule(c.prolines_end_segments) + ", the run uses " +
                       distance_list(distance_count, distances) + " with " + rule(prolines_end_segments) +
                       "; velcorin2-counts calibrate makes one for it\n",
                   false, STATUS_ERROR, ErrorCode::MISMATCH);
    }
    if (fingerprint != c.model) {
        std::string m = model_line(c.model), r = model_line(fingerprint);
        raise_text(head + "it was made with other count files (" + m.substr(0, m.size() - 1) + ", this run's " +
                       r.substr(6, r.size() - 7) + "); velcorin2-counts calibrate makes one for it\n",
                   false, STATUS_ERROR, ErrorCode::MISMATCH);
    }
}

}  // namespace velcorin2

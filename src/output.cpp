// output: p-score tables, per-residue table, coil logs, PostScript plot.
// Contents: see output.h.
#include "output.h"

#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "scio.h"

// ---- 1. P-score tables --------------------------------------------------------------

namespace {

// grid_score: the score column of the residue table, the same in every
// table (the calibration reader insists on it): the double nearest to
// (row - 4000) / 100, which the division gives.
inline double grid_score(int row) { return (row - 4000) / 100.0; }

// The residue table: the normal distribution function at each grid score,
// to eight significant digits, the way the values were always tabulated.
void build_global(PscoreTables &t)
{
    for (int i = 0; i < PSCORE_ROWS; i++) {
        double score = grid_score(i);
        double x = (score + 7.688) / 8.421;
        double phi = 0.5 * std::erfc(-x / std::sqrt(2.0));
        char b[40];
        std::snprintf(b, sizeof b, "%.7e", phi);
        t.global_pscore[i][0] = score;
        t.global_pscore[i][1] = std::strtod(b, nullptr);
    }
}

// The sequence tables: the cumulative count c of calibration sequences
// scoring below each grid point -63.9, -63.8, ..., 17.3, out of N.  Only the
// rows that fix the shape are stored; the others are filled by linear
// interpolation between the nearest stored rows (halves rounded up).
struct Anchor {
    int32_t row, c28, c21;
};
constexpr Anchor anchors[] = {
    {0, 0, 0},         {1, 0, 1},         {90, 0, 2},        {91, 1, 3},        {239, 22, 27},     {339, 64, 77},
    {439, 205, 233},   {539, 799, 844},   {589, 1948, 2000}, {616, 3077, 3131}, {617, 3127, 3181}, {639, 4184, 4247},
    {689, 5842, 5925}, {739, 6206, 6295}, {789, 6239, 6328}, {804, 6241, 6330}, {805, 6242, 6331}, {812, 6242, 6331},
};
constexpr int32_t N28 = 6242, N21 = 6331;

// p-score = c / N as a six-decimal number, read back as the nearest double.
double six_decimals(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    return std::strtod(buf, nullptr);
}

void build_sequence_tables(PscoreTables &t)
{
    for (int w = 0; w < 2; w++) {
        const bool for21 = w == 1;
        const int32_t N = for21 ? N21 : N28;
        constexpr int nanchors = sizeof anchors / sizeof anchors[0];
        for (int a = 0; a + 1 < nanchors; a++) {
            const int32_t k0 = anchors[a].row, k1 = anchors[a + 1].row;
            const int32_t c0 = for21 ? anchors[a].c21 : anchors[a].c28;
            const int32_t c1 = for21 ? anchors[a + 1].c21 : anchors[a + 1].c28;
            for (int32_t k = k0; k <= k1; k++) {
                const int32_t c = c0 + ((c1 - c0) * (k - k0) * 2 + (k1 - k0)) / (2 * (k1 - k0));
                // Integer over 10.0 is correctly rounded: the double nearest k/10.
                t.pscores[w][k][0] = (k - 639) / 10.0;
                t.pscores[w][k][1] = six_decimals(static_cast<double>(c) / N);
            }
        }
    }
}

// score_row: the number of leading consulted rows whose score is not greater
// than v: the row where a linear scan from the top would stop.  The count is
// worked out from v and confirmed against the grid on both sides; NaN
// compares with nothing and takes every row, like the scan.
inline int score_row(double v)
{
    if (!(v >= -40.0)) return v != v ? pscore_size : 0;
    const double guess = (v + 40.0) * 100.0;
    int k = guess >= pscore_size ? pscore_size : int(guess) + 1;
    if (k > pscore_size) k = pscore_size;
    while (k < pscore_size && grid_score(k) <= v) k++;
    while (k > 0 && grid_score(k - 1) > v) k--;
    return k;
}

// prob_row: the same count for the probability column, by bisection: the
// column strictly increases, so "row > v" is false up to one row and true
// from there on.  NaN gives pscore_size.
inline int prob_row(const PscoreTables &t, double v)
{
    int lo = 0, hi = pscore_size;
    while (lo < hi) {
        int mid = (lo + hi) >> 1;
        if (t.global_pscore[mid][1] > v)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

}  // namespace

void finish_pscores(PscoreTables &t)
{
    for (int k = 0; k < PSCORE_ROWS; k++) {
        double p = 1.0 - (k == 0 ? 0.0 : t.global_pscore[k - 1][1]);
        t.pstr_len[k] = std::snprintf(t.pstr[k], sizeof t.pstr[k], "%8.5f", p);
    }
}

const PscoreTables &builtin_pscores()
{
    static const PscoreTables *tables = [] {
        static PscoreTables t;
        build_global(t);
        build_sequence_tables(t);
        finish_pscores(t);
        return &t;
    }();
    return *tables;
}

double score2prob(const PscoreTables &t, double score)
{
    int k = score_row(score);
    double p = k == 0 ? 0.0 : t.global_pscore[k - 1][1];
    return 1.0 - p;
}

double prob2score(const PscoreTables &t, double prob)
{
    double q = 1.0 - prob;
    int k = prob_row(t, q);
    return k == 0 ? 40.0 : t.global_pscore[k - 1][0];
}

double seq_scr2pscr(const PscoreTables &t, int32_t window_length, double seq_score)
{
    const double(*rows)[2] = t.pscores[window_length == 21 ? 1 : 0];
    // The grid rises strictly, so the first row above the score is found by
    // bisection; no row lies above a NaN score, which gets 1.0 like the top.
    int lo = 0, hi = n_pscores;
    while (lo < hi) {
        int mid = (lo + hi) >> 1;
        if (rows[mid][0] > seq_score)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo == n_pscores ? 1.0 : rows[lo][1];
}

// ---- 2. Text helpers ------------------------------------------------------------------

void appendf(std::string &out, const char *fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int len = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (len < 0) return;
    if (size_t(len) < sizeof buf) {
        out.append(buf, size_t(len));
        return;
    }
    size_t at = out.size();
    out.resize(at + size_t(len) + 1);
    va_start(ap, fmt);
    std::vsnprintf(out.data() + at, size_t(len) + 1, fmt, ap);
    va_end(ap);
    out.resize(at + size_t(len));
}

namespace {

// put_uint: decimal digits of v at p; returns their number.
inline int put_uint(char *p, uint64_t v)
{
    char tmp[24];
    int n = 0;
    do {
        tmp[n++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    for (int i = 0; i < n; i++) p[i] = tmp[n - 1 - i];
    return n;
}

// put_padded: `len` bytes of `s` right-aligned in `width` columns.
inline int put_padded(char *p, const char *s, int len, int width)
{
    int pad = len < width ? width - len : 0;
    std::memset(p, ' ', pad);
    std::memcpy(p + pad, s, len);
    return pad + len;
}

// format_f72: "%7.2f" of v.  Finite values below 1e15 in magnitude are
// rounded exactly: the double is m * 2^e with integer m, so hundredths are
// m * 100 / 2^-e, rounded half to even on the exact remainder as the C
// library does.  Everything else goes to snprintf.  `p` needs 330 bytes.
// hundredths: |v| in hundredths, rounded as "%.2f" rounds, for a finite v
// below 1e15 in magnitude.  The double is m * 2^e with integer m, so the
// hundredths are m * 100 / 2^-e, rounded half to even on the exact
// remainder as the C library does.
inline uint64_t hundredths(double v, bool *neg)
{
    uint64_t bits = std::bit_cast<uint64_t>(v);
    *neg = bits >> 63;  // also for -0.0 and tiny negatives: "-0.00"
    int bexp = int((bits >> 52) & 0x7ff);
    uint64_t m = bits & ((uint64_t(1) << 52) - 1);
    int e;
    if (bexp == 0) {
        e = -1074;
    } else {
        m |= uint64_t(1) << 52;
        e = bexp - 1075;
    }
    if (e >= 0) return (m << e) * 100;  // |v| < 1e15: no overflow
    if (-e >= 64) return 0;             // |v| < 2^-11: far below half a hundredth
    int s = -e;
    uint64_t t = m * 100;  // < 2^60
    uint64_t q = t >> s;
    uint64_t rem = t & ((uint64_t(1) << s) - 1);
    uint64_t half = uint64_t(1) << (s - 1);
    if (rem > half || (rem == half && (q & 1))) q++;
    return q;
}

// format_f72: "%7.2f" of v; non-finite values and those of 1e15 or more go
// to snprintf.  `p` needs 330 bytes.
int format_f72(char *p, double v)
{
    if (v == -HUGE_VAL) {  // every residue no window covered
        std::memcpy(p, "   -inf", 7);
        return 7;
    }
    if (!std::isfinite(v) || std::fabs(v) >= 1e15) return std::snprintf(p, 330, "%7.2f", v);
    bool neg;
    uint64_t q = hundredths(v, &neg);
    char s[32];
    int n = 0;
    if (neg) s[n++] = '-';
    n += put_uint(s + n, q / 100);
    s[n++] = '.';
    s[n++] = char('0' + q % 100 / 10);
    s[n++] = char('0' + q % 10);
    return put_padded(p, s, n, 7);
}

// Two-digit groups "00" .. "99", for writing numbers two digits at a time.
constexpr std::array<char, 200> make_digit_pairs()
{
    std::array<char, 200> d{};
    for (int i = 0; i < 100; i++) {
        d[2 * i] = char('0' + i / 10);
        d[2 * i + 1] = char('0' + i % 10);
    }
    return d;
}
constexpr std::array<char, 200> digit_pairs = make_digit_pairs();

// The common row: a position of at most 8 digits, a p-score of 8 columns and
// a score of at most 7; the fields are filled into a copy of this row.
// A row is a head (position, residue, register: 36 columns when the
// position has at most 8 digits) and a tail (p-score, score: 22 columns when
// the score takes at most 7).
constexpr int HEAD_LEN = 36;
constexpr int TAIL_LEN = 22;
constexpr char HEAD_TEMPLATE[] = "        "
                                 "       "
                                 "X"
                                 "             "
                                 "x"
                                 "      ";
constexpr char TAIL_TEMPLATE[] = "        "
                                 "    ("
                                 "    .  "
                                 ")\n";
static_assert(sizeof HEAD_TEMPLATE - 1 == HEAD_LEN && sizeof TAIL_TEMPLATE - 1 == TAIL_LEN);

// put_right: decimal digits of v ending just before `end`; returns the first.
inline char *put_right(char *end, uint64_t v)
{
    while (v >= 100) {
        end -= 2;
        std::memcpy(end, &digit_pairs[2 * (v % 100)], 2);
        v /= 100;
    }
    if (v >= 10) {
        end -= 2;
        std::memcpy(end, &digit_pairs[2 * v], 2);
    } else {
        *--end = char('0' + v);
    }
    return end;
}

}  // namespace

// ---- 3. Per-residue table ---------------------------------------------------------------

namespace {

// The letter numaa() gives for each residue number, NUL outside 0..21.
constexpr std::array<char, 256> make_residue_letters()
{
    std::array<char, 256> t{};
    constexpr char letters[] = "LIVMFYGAKRHEDQNSTCWP-X";
    for (int i = 0; i < 22; i++) t[size_t(i)] = letters[i];
    return t;
}
constexpr std::array<char, 256> residue_letter = make_residue_letters();

// step_last_digit: adds one to the number whose "%8d" columns `digits`
// holds (as bytes in memory order) when its last digit is 0..8; false,
// leaving it alone, when the step would carry or the layout is not known.
inline bool step_last_digit(uint64_t &digits)
{
    if constexpr (std::endian::native != std::endian::little) {
        return false;
    } else {
        const uint64_t last = digits >> 56;  // the eighth column
        if (last < '0' || last > '8') return false;
        digits += uint64_t(1) << 56;
        return true;
    }
}

// row_head: "%8d       %c             %c      " of the first three columns.
int row_head(char *p, int32_t pos, char residue, char reg)
{
    char num[16];
    int n = 0;
    int64_t v = pos;
    if (v < 0) {
        num[n++] = '-';
        v = -v;
    }
    n += put_uint(num + n, uint64_t(v));
    int len = put_padded(p, num, n, 8);
    std::memcpy(p + len, HEAD_TEMPLATE + 8, HEAD_LEN - 8);
    p[len + 7] = residue;
    p[len + 21] = reg;
    return len + HEAD_LEN - 8;
}

// row_tail: "%8.5f    (%7.2f)\n" of the p-score and the score.
int row_tail(const PscoreTables &t, char *p, double score)
{
    const int k = score_row(score);
    bool neg = false;
    uint64_t q = 0;
    const bool uncovered = score == -HUGE_VAL;
    if (t.pstr_len[k] == 8 &&
        (uncovered || (std::fabs(score) < 1e15 && (q = hundredths(score, &neg)) < (neg ? 100000u : 1000000u)))) {
        std::memcpy(p, TAIL_TEMPLATE, TAIL_LEN);
        std::memcpy(p, t.pstr[k], 8);
        if (uncovered) {
            std::memcpy(p + 13, "   -inf", 7);
        } else {
            std::memcpy(p + 18, &digit_pairs[2 * (q % 100)], 2);
            char *f = put_right(p + 17, q / 100);
            if (neg) f[-1] = '-';
        }
        return TAIL_LEN;
    }
    // Everything else field by field, widening as formatted printing does.
    int n = t.pstr_len[k];
    std::memcpy(p, t.pstr[k], size_t(n));
    std::memcpy(p + n, "    (", 5);
    n += 5;
    n += format_f72(p + n, score);
    p[n++] = ')';
    p[n++] = '\n';
    return n;
}

}  // namespace

int txt_format_row(const PscoreTables &t, char *buf, int32_t pos, char residue, char reg, double score)
{
    int n = row_head(buf, pos, residue, reg);
    return n + row_tail(t, buf + n, score);
}

void txt_output2(const PscoreTables &t, const char *code, const char *title, const int8_t *seq, int32_t seqlen,
                 std::string &fout, const double scs[][NREG], const int8_t *offsets)
{
    if (code && code[0]) appendf(fout, "# Sequence Code: %s\n", code);
    if (title && title[0])
        appendf(fout, "# Sequence Name: %s\n", title);
    else
        fout += "# Unnamed sequence\n";
    fout += "#\n";
    fout += "# Position  Residue      Register    P-score    ( Score )\n";

    // Rows are formatted straight into the text, which is sized for rows of
    // the common width and grown when a wide one comes.  Neighbouring
    // residues mostly share their best window, hence their score: the tail
    // is formatted again only when the score's bits change, and the position
    // is a decimal counter stepped in place.
    constexpr size_t ROW_LEN = HEAD_LEN + TAIL_LEN;
    size_t at = fout.size();
    fout.resize(at + size_t(seqlen) * ROW_LEN);
    uint64_t digits = 0;  // the 8 columns of the position, as bytes in memory order
    char tail[TXT_ROW_MAX];
    int tail_len = 0;
    uint64_t tail_bits = 0;
    int r = 0;  // register of residue i under offset 0
    for (int32_t i = 0; i < seqlen; i++) {
        int reg = r + offsets[i];
        if (reg >= NREG) reg -= NREG;
        r = r == NREG - 1 ? 0 : r + 1;
        const double sc = scs[i][offsets[i]];
        const uint64_t bits = std::bit_cast<uint64_t>(sc);
        if (i == 0 || bits != tail_bits) {
            tail_len = row_tail(t, tail, sc);
            tail_bits = bits;
        }
        const int32_t pos = i + 1;
        const size_t need = size_t(HEAD_LEN + (pos < 100000000 ? 0 : 4) + tail_len);
        if (fout.size() - at < need) fout.resize(at + need + size_t(seqlen - i) * ROW_LEN);
        char *p = fout.data() + at;
        const char residue = residue_letter[uint8_t(seq[i])], regc = char('a' + reg);
        if (pos < 100000000) {
            // The last digit steps in place unless it carries; the row is
            // written from values in registers, never read back byte by byte.
            if (i > 0 && step_last_digit(digits)) {
            } else {
                char b[8];
                std::memset(b, ' ', 8);
                put_right(b + 8, uint64_t(pos));
                std::memcpy(&digits, b, 8);
            }
            std::memcpy(p, HEAD_TEMPLATE, HEAD_LEN);
            std::memcpy(p, &digits, 8);
            p[15] = residue;
            p[29] = regc;
            p += HEAD_LEN;
        } else {
            p += row_head(p, pos, residue, regc);
        }
        if (tail_len == TAIL_LEN)
            std::memcpy(p, tail, TAIL_LEN);  // a fixed size: a few moves, no call
        else
            std::memcpy(p, tail, size_t(tail_len));
        at = size_t(p + tail_len - fout.data());
    }
    fout.resize(at);
}

// ---- 4. Logs ------------------------------------------------------------------------------

void log_output_ver(double score, int cnt, const char *title, const char *code, std::string &flog)
{
    double v = score >= -DBL_MAX ? score : -100000.0;
    appendf(flog, "%4d %lf %s %s\n", cnt, v, code, title);
}

void log_print_coil(const PscoreTables &t, std::string &flog, double score, int from, int to, int reg)
{
    appendf(flog, "  %1.4f@ %4d-%4d:%c;  ", score2prob(t, score), from + 1, to + 1, numpos(int8_t((reg + from) % 7)));
}

void log_output_prn3(const PscoreTables &t, const RunSettings &s, double score, const double scs[][NREG],
                     const int8_t *offsets, int32_t seqlen, int cnt, const Sequence &sequence, std::string &flog,
                     std::string &flog_seq)
{
    double B = prob2score(t, s.bound);

    int32_t m = 0;
    while (m < seqlen && !(scs[m][offsets[m]] == score)) m++;
    // Past the end there is no residue: its letter is that of offset 0.
    int peak_reg = (m < seqlen ? offsets[m] + m : m) % 7;

    appendf(flog, "%d \t%s\n\t%s\n", cnt, sequence.code, sequence.title);
    appendf(flog_seq, "%d \t%s\n\t%s\n", cnt, sequence.code, sequence.title);
    appendf(flog_seq, "\tP-score = %1.4f\n\tScore = %4.2f\n\n", seq_scr2pscr(t, s.window_length, score), score);
    appendf(flog, "\t  %6.4g @%4d : %c\n", score2prob(t, score), m + 1, numpos(int8_t(peak_reg)));

    if (score < B) {
        flog += "No coiled coils found.\n";
        return;
    }
    if (s.mode & MODE_MAP)
        print_coil3(s.mode, seqlen, sequence.reg.data(), scs, B, s.upper_bound, offsets, sequence.seq.data(), flog);
    flog += " [";

    int st = -1;
    double mx = -HUGE_VAL;
    for (int32_t i = 0; i < seqlen; i++) {
        double sc = scs[i][offsets[i]];
        if (sc > B) {
            if (st < 0) {
                st = i;
            } else if (offsets[i] != offsets[i - 1]) {
                log_print_coil(t, flog, mx, st, i - 1, offsets[st]);
                mx = sc;
                st = i;
            }
            if (sc > mx) mx = sc;
        } else if (mx != -HUGE_VAL) {
            log_print_coil(t, flog, mx, st, i - 1, offsets[st]);
            st = -1;
            mx = -HUGE_VAL;
        }
    }
    if (st >= 0 && mx != -HUGE_VAL) log_print_coil(t, flog, mx, st, seqlen - 1, offsets[st]);

    appendf(flog, "End: %d]\n\n", seqlen);
}

// ---- 5. Map ----------------------------------------------------------------------------

namespace {

constexpr int8_t NOCOIL = ',';

// mark_residue: the map entry of residue j (register number or NOCOIL) and
// whether the residue is flagged.
inline void mark_residue(int mode, int j, const int8_t *reg, const double scs[][NREG], double bound, double upper_bound,
                         const int8_t *offsets, int8_t *pos, bool *flagged)
{
    double s = scs[j][offsets[j]];
    int r = (offsets[j] + j) % 7;
    bool known = (mode & (MODE_LEAVEOUT | MODE_POS)) != 0;
    *flagged = false;
    if (s < bound || ((mode & MODE_MAP_GIVEN) && reg[j] == NOREG)) {
        *pos = NOCOIL;
    } else {
        *pos = int8_t(r);
        if (s < upper_bound || (known && r != reg[j])) *flagged = true;
    }
    if (known && reg[j] != NOREG && s < bound) {  // a known coil residue the prediction misses
        if (*pos == NOCOIL) *pos = reg[j];
        *flagged = true;
    }
}

// print_ruler: "\n\n\t" and the 70 digits 1..9,0 repeated.
void print_ruler(std::string &flog)
{
    char b[80];
    int n = 0;
    b[n++] = '\n';
    b[n++] = '\n';
    b[n++] = '\t';
    for (int k = 0; k < 70; k++) b[n++] = char('0' + (k + 1) % 10);
    flog.append(b, size_t(n));
}

}  // namespace

void print_coil3(int mode, int32_t seqlen, const int8_t *reg, const double scs[][NREG], double bound,
                 double upper_bound, const int8_t *offsets, const int8_t *seq, std::string &flog)
{
    // Each residue's mark is a pure function of its index, so it is worked
    // out again where it is printed instead of being kept in a second record.
    int8_t pos;
    bool flagged;
    bool was_strange = false;
    for (int32_t j = 0; j < seqlen && !was_strange; j++) {
        mark_residue(mode, j, reg, scs, bound, upper_bound, offsets, &pos, &flagged);
        was_strange = flagged;
    }
    if ((mode & MODE_MAP_FLAGGED) && !was_strange) return;

    char row[96];
    int32_t rows = seqlen / 70;

    print_ruler(flog);
    flog += '\n';
    for (int32_t j = 0; j <= rows; j++) {
        int n = std::snprintf(row, sizeof row, "\n%4d\t", 70 * j + 1);
        for (int32_t k = 70 * j; k < seqlen && k < 70 * j + 70; k++) row[n++] = char(numaa(seq[k]));
        row[n++] = '\t';
        flog.append(row, size_t(n));
    }

    print_ruler(flog);
    for (int32_t j = 0; j <= rows; j++) {
        int n = std::snprintf(row, sizeof row, "\n%4d\t", 70 * j + 1);
        for (int32_t k = 70 * j; k < seqlen && k < 70 * j + 70; k++) {
            mark_residue(mode, k, reg, scs, bound, upper_bound, offsets, &pos, &flagged);
            if (pos == NOCOIL)
                row[n++] = '.';
            else if (flagged)
                row[n++] = char(numpos(pos) - 32);
            else
                row[n++] = char(numpos(pos));
        }
        flog.append(row, size_t(n));
    }
    flog += "\n\n";
}

// ---- 6. Plot ---------------------------------------------------------------------------------

namespace {
// ps_text: `s` as the inside of a PostScript string: parentheses and
// backslashes escaped, and every byte outside printable ASCII as \ddd, so that no
// header text can end the string and run as PostScript.
std::string ps_text(const char *s)
{
    std::string out;
    for (; *s; s++) {
        const unsigned char c = static_cast<unsigned char>(*s);
        if (c == '(' || c == ')' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char b[8];
            std::snprintf(b, sizeof b, "\\%03o", c);
            out += b;
        } else {
            out += char(c);
        }
    }
    return out;
}

// print_curve: one curve of the plot; a residue without a score ends a
// stretch and the next scored residue starts a new one with "m".
void print_curve(std::string &ps, const double *sc, int32_t seqlen)
{
    int reset = 1;
    for (int i = 0; i < seqlen; i++) {
        bool unscored = sc[i] < -DBL_MAX;
        if (!unscored) appendf(ps, "%d %lf %s\n", i, sc[i], reset ? "m" : "l");
        reset = unscored ? 1 : 0;
    }
}

}  // namespace

void res_compare(std::string &ps, const double *sc1, const double *sc2, const Sequence &sequence,
                 const PlotRegion &region)
{
    const int32_t seqlen = sequence.seqlen;
    int32_t rstart, rend;
    if (!region.from_file) {
        rstart = 0;
        rend = seqlen;
    } else {
        rstart = region.first;
        rend = region.last;
        // Keep the region inside the sequence so no score beyond it is read;
        // the first residue is clamped before it is made 0-based, so that
        // the smallest int cannot wrap.
        if (rstart < 1) rstart = 1;
        rstart -= 1;
        if (rstart > seqlen) rstart = seqlen;
        if (rend < rstart) rend = rstart;
        if (rend > seqlen) rend = seqlen;
    }

    double max1 = -HUGE_VAL, max2 = -HUGE_VAL, rmax1 = -HUGE_VAL, rmax2 = -HUGE_VAL;
    for (int i = rstart; i < rend; i++) {
        if (sc1[i] > rmax1) rmax1 = sc1[i];
        if (sc2[i] > rmax2) rmax2 = sc2[i];
    }
    for (int i = 0; i < seqlen; i++) {
        if (sc1[i] > max1) max1 = sc1[i];
        if (sc2[i] > max2) max2 = sc2[i];
    }

    ps += "%! \n";
    ps += "90 rotate 50 -200 translate\n";
    ps += "/cshow {dup stringwidth pop -2 div 0 rmoveto show}def\n";
    ps += "/rshow {dup stringwidth pop neg 0 rmoveto show}def\n";
    ps += "/Times-Roman findfont 18 scalefont setfont\n";
    appendf(ps, "50 150 moveto (%s) show 50 100 moveto(%s) show\n", ps_text(sequence.code).c_str(),
            ps_text(sequence.title).c_str());
    ps += " /sy 125 def /ry 100 def /ty 150 def \n";
    ps += " /sx 560 def /ux 650 def /tx 500 def\n";
    ps += "tx sy moveto(sequence) rshow tx ry moveto(region) rshow\n";
    ps += "sx ty moveto(Stock) cshow ux ty moveto(us) cshow\n";
    appendf(ps, "sx sy moveto(%lf) cshow ux sy moveto(%lf) cshow\n", max1, max2);
    appendf(ps, "sx ry moveto(%lf) cshow ux ry moveto(%lf) cshow\n", rmax1, rmax2);
    appendf(ps, "315 sy moveto (region %d-%d) show\n", rstart + 1, rend);
    rend -= 1;
    appendf(ps, "/vx %lf def /vy 5 def\n", 692.0 / seqlen);
    ps += "/adjust {exch vx mul exch vy mul} def\n";
    ps += "/-Inf -150 def\n";
    ps += "/m {adjust moveto vx 0 rlineto} def\n";
    ps += "/l {adjust lineto vx 0 rlineto} def\n";
    ps += "/min {1 index 1 index lt {pop} {exch pop} ifelse} def\n";
    ps += "/bar {exch vx mul 0 moveto 0 exch vy mul rlineto stroke} def\n";
    ps += "/foo {2 index 2 index 2 index      1 index 1 index gt      "
          "{0.3 0.7 1 setrgbcolor pop bar} {0.5 1 0 setrgbcolor exch pop bar} ifelse\n"
          "      min 1 0 0 setrgbcolor bar} def\n";
    ps += "/Times-Roman findfont 10 scalefont setfont\n";
    ps += "1 setlinewidth 0.7 setgray 0 15 adjust moveto 0 -50 adjust lineto stroke \n";
    for (int i = -50; i <= 15; i += 5) {
        appendf(ps, "0 %d adjust moveto -5 0 rmoveto 10 0 rlineto stroke \n", i);
        appendf(ps, "0 %d adjust moveto \n", i);
        appendf(ps, "7 0 rmoveto (%d) show \n", i);
    }
    appendf(ps, "1 setlinewidth 0 setgray %d 15 adjust moveto %d -50 adjust lineto stroke \n", seqlen, seqlen);
    for (int i = -50; i <= 15; i += 5) {
        appendf(ps, "%d %d adjust moveto -5 0 rmoveto 10 0 rlineto stroke \n", seqlen, i);
        appendf(ps, "%d %d adjust moveto \n", seqlen, i);
        appendf(ps, "-7 0 rmoveto (%5.2f) rshow \n", std::exp(double(i) / PAIR_WINDOW));
    }
    ps += "vx 2 div setlinewidth 0.5 setgray\n";
    ps += "2 setlinewidth \n";
    ps += "0 setgray [2] 0 setdash \n";
    print_curve(ps, sc1, seqlen);
    ps += "stroke \n";
    ps += "0.7 setgray [] 0 setdash\n";
    print_curve(ps, sc2, seqlen);
    ps += "stroke \n";
    appendf(ps, "0 setlinewidth 0 setgray 0 0 adjust moveto %d 0 adjust lineto stroke \n", seqlen);
    appendf(ps, "0 setlinewidth 0 setgray 0 10 adjust moveto %d 10 adjust lineto stroke \n", seqlen);
    appendf(ps, "0 setlinewidth 0 setgray 0 -10 adjust moveto %d -10 adjust lineto stroke \n", seqlen);
    for (int i = 49; i < seqlen; i += 50)
        appendf(ps, "%d 0 adjust moveto vx 2 div  -5 rmoveto  0 10  rlineto stroke\n", i);
    appendf(ps, "%d -15 adjust moveto vx 2 div 0 rmoveto 0 30 vy mul rlineto stroke\n", rstart);
    appendf(ps, "%d -15 adjust moveto vx 2 div 0 rmoveto 0 30 vy mul rlineto stroke\n", rend);
    ps += "showpage\n\n";
}

// ---- 7. Coiled-coil regions ------------------------------------------------------------

void find_regions(const double scs[][NREG], const int8_t *offsets, int32_t seqlen, double bound, int32_t min_length,
                  std::vector<CoilRegion> &out)
{
    out.clear();
    int32_t i = 0;
    while (i < seqlen) {
        // The scan of the coil report without its entries: "> bound" alone
        // decides, so a NaN score ends a region as it ends an entry there.
        while (i < seqlen && !(scs[i][offsets[i]] > bound)) i++;
        if (i == seqlen) break;
        CoilRegion r;
        r.from = i;
        r.best = scs[i][offsets[i]];
        for (i++; i < seqlen; i++) {
            const double sc = scs[i][offsets[i]];
            if (!(sc > bound)) break;
            if (sc > r.best) r.best = sc;
        }
        r.to = i - 1;
        if (r.to - r.from + 1 >= min_length) out.push_back(r);
    }
}

namespace {

// Bytes written as themselves: column 1 of GFF3 allows [a-zA-Z0-9.:^*$@!+_?-|]
// unescaped (GFF3 format description 1.26, Sequence Ontology project); in column 9 values
// everything but tab, newline, carriage return, control characters, ";", "=",
// "&", "," and "%" may stand as it is.  Bytes >= 0x80 are escaped in both.
struct EscapeSets {
    bool seqid[256] = {}, value[256] = {};
    constexpr EscapeSets()
    {
        for (int c = 0x20; c < 0x7f; c++) value[c] = true;
        for (unsigned char c : std::string_view(";=&,%")) value[c] = false;
        for (int c = '0'; c <= '9'; c++) seqid[c] = true;
        for (int c = 'a'; c <= 'z'; c++) seqid[c] = seqid[c - 'a' + 'A'] = true;
        for (unsigned char c : std::string_view(".:^*$@!+_?-|")) seqid[c] = true;
    }
};
constexpr EscapeSets escape_sets;

void percent_encode(std::string &out, const char *s, const bool keep[256])
{
    static const char hex[] = "0123456789ABCDEF";
    for (; *s; s++) {
        const unsigned char c = (unsigned char)*s;
        if (keep[c]) {
            out += char(c);
        } else {
            const char e[3] = {'%', hex[c >> 4], hex[c & 15]};
            out.append(e, 3);
        }
    }
}

// register_letter: the register of residue i under its best offset.
inline char register_letter(const int8_t *offsets, int32_t i) { return char('a' + (offsets[i] + i) % NREG); }

// append_segments: "from-to:r" per register segment of `r`, comma-separated.
void append_segments(std::string &out, const CoilRegion &r, const int8_t *offsets)
{
    int32_t st = r.from;
    for (int32_t i = r.from + 1; i <= r.to + 1; i++) {
        if (i <= r.to && offsets[i] == offsets[i - 1]) continue;
        appendf(out, "%s%d-%d:%c", st == r.from ? "" : ",", st + 1, i, register_letter(offsets, st));
        st = i;
    }
}

bool register_changes(const CoilRegion &r, const int8_t *offsets)
{
    for (int32_t i = r.from + 1; i <= r.to; i++)
        if (offsets[i] != offsets[i - 1]) return true;
    return false;
}

}  // namespace

void region_seqid(const char *code, int cnt, std::string &out)
{
    if (code[0])
        percent_encode(out, code, escape_sets.seqid);
    else
        appendf(out, "unnamed_%d", cnt);
}

void gff3_header(std::string &out) { out += "##gff-version 3\n"; }

void gff3_regions(const PscoreTables &t, const Sequence &rec, int cnt, const std::vector<CoilRegion> &regions,
                  const int8_t *offsets, std::string &out)
{
    std::string seqid, name;
    region_seqid(rec.code, cnt, seqid);
    percent_encode(name, rec.title, escape_sets.value);
    appendf(out, "##sequence-region %s 1 %d\n", seqid.c_str(), rec.seqlen);
    for (const CoilRegion &r : regions) {
        appendf(out, "%s\tvelcorin2\tcoiled_coil\t%d\t%d\t%.4g\t.\t.\tID=%s:%d-%d", seqid.c_str(), r.from + 1, r.to + 1,
                score2prob(t, r.best), seqid.c_str(), r.from + 1, r.to + 1);
        if (!name.empty()) out += ";Name=" + name;
        appendf(out, ";best_score=%.2f;register=%c", r.best, register_letter(offsets, r.from));
        if (register_changes(r, offsets)) {
            out += ";register_segments=";
            append_segments(out, r, offsets);
        }
        out += '\n';
    }
}

void regions_tsv_header(std::string &out)
{
    out += "code\tstart\tend\tlength\tlowest_pscore\tbest_score\tregister\tregister_segments\n";
}

void regions_tsv(const PscoreTables &t, const Sequence &rec, int cnt, const std::vector<CoilRegion> &regions,
                 const int8_t *offsets, std::string &out)
{
    if (regions.empty()) return;
    std::string seqid;
    region_seqid(rec.code, cnt, seqid);
    for (const CoilRegion &r : regions) {
        appendf(out, "%s\t%d\t%d\t%d\t%.4g\t%.2f\t%c\t", seqid.c_str(), r.from + 1, r.to + 1, r.to - r.from + 1,
                score2prob(t, r.best), r.best, register_letter(offsets, r.from));
        append_segments(out, r, offsets);
        out += '\n';
    }
}

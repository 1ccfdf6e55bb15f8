// residue_table: the per-residue table, the main output, formatted
// without printf: it is most of the bytes and most of the time of a run, so
// its rows are built from templates with numbers converted exactly as
// printf converts them (the unit tests compare the two on hard values).
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "pscore_grid.h"
#include "velcorin2/report.h"

namespace velcorin2 {

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

namespace {

// The letter residue_letter() gives for each residue number, NUL outside 0..21.
constexpr std::array<char, 256> make_residue_letters()
{
    std::array<char, 256> t{};
    for (int i = 0; i < 22; i++) t[size_t(i)] = RESIDUE_LETTERS[i];
    return t;
}
constexpr std::array<char, 256> letter_of = make_residue_letters();

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
    const int k = residue_row(t, score);
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

int format_table_row(const PscoreTables &t, char *buf, int32_t pos, char residue, char reg, double score)
{
    int n = row_head(buf, pos, residue, reg);
    return n + row_tail(t, buf + n, score);
}

void write_residue_table(const PscoreTables &t, const Sequence &rec, const Prediction &p, std::string &fout)
{
    const char *code = rec.code, *title = rec.title;
    const int8_t *seq = rec.residues.data(), *offsets = p.offset.data();
    const double *score = p.score.data();
    const int32_t seqlen = rec.length;
    if (code[0]) appendf(fout, "# Sequence Code: %s\n", code);
    if (title[0])
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
    char tail[TABLE_ROW_MAX];
    int tail_len = 0;
    uint64_t tail_bits = 0;
    int r = 0;  // register of residue i under offset 0
    for (int32_t i = 0; i < seqlen; i++) {
        int reg = r + offsets[i];
        if (reg >= NREG) reg -= NREG;
        r = r == NREG - 1 ? 0 : r + 1;
        const double sc = score[i];
        const uint64_t bits = std::bit_cast<uint64_t>(sc);
        if (i == 0 || bits != tail_bits) {
            tail_len = row_tail(t, tail, sc);
            tail_bits = bits;
        }
        const int32_t pos = i + 1;
        const size_t need = size_t(HEAD_LEN + (pos < 100000000 ? 0 : 4) + tail_len);
        if (fout.size() - at < need) fout.resize(at + need + size_t(seqlen - i) * ROW_LEN);
        char *p = fout.data() + at;
        const char residue = letter_of[uint8_t(seq[i])], regc = char('a' + reg);
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

}  // namespace velcorin2

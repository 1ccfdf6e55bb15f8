// output: per-residue table, coil logs, PostScript plot, global p-score table.
//
// Contents:
//   build_tables, pscore_row            the global table and its lookup
//   pscore_table, score2prob, prob2score
//   put_uint, format_f72                exact fast formatting for the table rows
//   txt_format_row, txt_output2         the per-residue table
//   log_output_ver                      score line
//   log_print_coil, log_output_prn3     coil report
//   mark_residue, print_ruler, print_coil3   residue and register map
//   read_region, res_compare            PostScript comparison page
#include "output.h"

#include <bit>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "scio.h"
#include "scscore.h"

namespace {

// ---- Global p-score table ---------------------------------------------------------

double g_pscore[PSCORE_ROWS][2];
// "%8.5f" of the p-score that each lookup row gives: index k stands for
// "k rows qualified", so index 0 is 1.0 - 0.0 and index k > 0 is
// 1.0 - probability of row k-1.  The per-residue table copies these.
char g_pstr[PSCORE_ROWS][16];
int g_pstr_len[PSCORE_ROWS];
char g_minf_str[16];  // "%7.2f" of -inf, the score of every uncovered residue
int g_minf_len;
bool g_built = false;

void build_tables()
{
    for (int i = 0; i < PSCORE_ROWS; i++) {
        double score = (i - 4000) / 100.0;
        double x = (score + 7.688) / 8.421;
        double phi = 0.5 * std::erfc(-x / std::sqrt(2.0));
        // Eight significant digits, the way the values were always tabulated.
        char b[40];
        std::snprintf(b, sizeof b, "%.7e", phi);
        g_pscore[i][0] = score;
        g_pscore[i][1] = std::strtod(b, nullptr);
    }
    for (int k = 0; k < PSCORE_ROWS; k++) {
        double p = 1.0 - (k == 0 ? 0.0 : g_pscore[k - 1][1]);
        g_pstr_len[k] = std::snprintf(g_pstr[k], sizeof g_pstr[k], "%8.5f", p);
    }
    g_minf_len = std::snprintf(g_minf_str, sizeof g_minf_str, "%7.2f", -HUGE_VAL);
    g_built = true;
}

inline void ensure_tables()
{
    if (!g_built) build_tables();
}

// pscore_row: the number of leading consulted rows whose column `col` is not
// greater than `v`, i.e. the index where a linear scan would stop.  The
// column strictly increases, so "row > v" is false up to one row and true
// from there on; bisection finds that row.  For NaN every comparison is
// false and the result is pscore_size, exactly like the scan.
inline int pscore_row(int col, double v)
{
    int lo = 0, hi = pscore_size;
    while (lo < hi) {
        int mid = (lo + hi) >> 1;
        if (g_pscore[mid][col] > v)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// ---- Exact fast formatting --------------------------------------------------------------

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
int format_f72(char *p, double v)
{
    if (v == -HUGE_VAL) {
        std::memcpy(p, g_minf_str, g_minf_len);
        return g_minf_len;
    }
    if (!std::isfinite(v) || std::fabs(v) >= 1e15) return std::snprintf(p, 330, "%7.2f", v);

    uint64_t bits = std::bit_cast<uint64_t>(v);
    bool neg = bits >> 63;
    int bexp = int((bits >> 52) & 0x7ff);
    uint64_t m = bits & ((uint64_t(1) << 52) - 1);
    int e;
    if (bexp == 0) {
        e = -1074;
    } else {
        m |= uint64_t(1) << 52;
        e = bexp - 1075;
    }
    uint64_t q;  // |v| in hundredths, rounded
    if (e >= 0) {
        q = (m << e) * 100;  // |v| < 1e15: no overflow
    } else if (-e >= 64) {
        q = 0;  // |v| < 2^-11: far below half a hundredth
    } else {
        int s = -e;
        uint64_t t = m * 100;  // < 2^60
        q = t >> s;
        uint64_t rem = t & ((uint64_t(1) << s) - 1);
        uint64_t half = uint64_t(1) << (s - 1);
        if (rem > half || (rem == half && (q & 1))) q++;
    }
    char s[32];
    int n = 0;
    if (neg) s[n++] = '-';  // also "-0.00" for -0.0 and tiny negatives
    n += put_uint(s + n, q / 100);
    s[n++] = '.';
    s[n++] = char('0' + q % 100 / 10);
    s[n++] = char('0' + q % 10);
    return put_padded(p, s, n, 7);
}

// ---- Coil map helpers ------------------------------------------------------------------

constexpr int8_t NOCOIL = ',';

// mark_residue: the map entry of residue j (register number or NOCOIL) and
// whether the residue is flagged.
inline void mark_residue(int mode, int j, const int8_t *reg, const double scs[][NREG], double bound,
                         double upper_bound, const int8_t *offsets, int8_t *pos, bool *flagged)
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
void print_ruler(FILE *flog)
{
    char b[80];
    int n = 0;
    b[n++] = '\n';
    b[n++] = '\n';
    b[n++] = '\t';
    for (int k = 0; k < 70; k++) b[n++] = char('0' + (k + 1) % 10);
    std::fwrite(b, 1, n, flog);
}

// ---- Region file ---------------------------------------------------------------------

// read_region: the region record of `code`, searched forward from the
// current position of `rf`.  Sets *rstart and *rend to the record's numbers,
// or to 1 and seqlen when the file ends first.  A record whose numbers do not
// both parse never matches.
void read_region(FILE *rf, const char *code, int32_t seqlen, int *rstart, int *rend)
{
    static char codebuff[NAMELEN];
    for (;;) {
        // Held as a signed byte: a 0xFF byte ends the search like the end of the file.
        signed char c;
        do {
            c = static_cast<signed char>(std::getc(rf));
        } while (c != '>' && c != EOF);
        if (c == EOF) {
            *rstart = 1;
            *rend = seqlen;
            return;
        }
        int got = std::fscanf(rf, "%1023s", codebuff);
        if (got != 1) continue;
        if (std::strlen(codebuff) == NAMELEN - 1) {  // drop the rest of an overlong token
            int ch;
            while ((ch = std::getc(rf)) != EOF && !std::isspace(ch)) {
            }
            if (ch != EOF) std::ungetc(ch, rf);
        }
        int a = 0, b = 0;
        if (std::fscanf(rf, "%d %d", &a, &b) != 2) continue;
        if (std::strcmp(codebuff, code ? code : "") == 0) {
            *rstart = a;
            *rend = b;
            return;
        }
    }
}

// print_curve: one curve of the plot; a residue without a score ends a
// stretch and the next scored residue starts a new one with "m".
void print_curve(FILE *ps, const double *sc, int32_t seqlen)
{
    int reset = 1;
    for (int i = 0; i < seqlen; i++) {
        bool unscored = sc[i] < -DBL_MAX;
        if (!unscored) std::fprintf(ps, "%d %lf %s\n", i, sc[i], reset ? "m" : "l");
        reset = unscored ? 1 : 0;
    }
}

}  // namespace

// ---- Global p-score table ------------------------------------------------------------

const double (*pscore_table())[2]
{
    ensure_tables();
    return g_pscore;
}

double score2prob(double score)
{
    ensure_tables();
    int k = pscore_row(0, score);
    double p = k == 0 ? 0.0 : g_pscore[k - 1][1];
    return 1.0 - p;
}

double prob2score(double prob)
{
    ensure_tables();
    double q = 1.0 - prob;
    int k = pscore_row(1, q);
    return k == 0 ? 40.0 : g_pscore[k - 1][0];
}

// ---- Per-residue table ---------------------------------------------------------------

int txt_format_row(char *buf, int32_t pos, char residue, char reg, double score)
{
    ensure_tables();
    char *p = buf;
    char num[16];
    int n = 0;
    int64_t v = pos;
    if (v < 0) {
        num[n++] = '-';
        v = -v;
    }
    n += put_uint(num + n, uint64_t(v));
    p += put_padded(p, num, n, 8);
    std::memcpy(p, "       ", 7);
    p += 7;
    *p++ = residue;
    std::memcpy(p, "             ", 13);
    p += 13;
    *p++ = reg;
    std::memcpy(p, "      ", 6);
    p += 6;
    int k = pscore_row(0, score);
    std::memcpy(p, g_pstr[k], g_pstr_len[k]);
    p += g_pstr_len[k];
    std::memcpy(p, "    (", 5);
    p += 5;
    p += format_f72(p, score);
    *p++ = ')';
    *p++ = '\n';
    return int(p - buf);
}

void txt_output2(const char *code, const char *title, const int8_t *seq, int32_t seqlen, FILE *fout,
                 const double scs[][NREG], const int8_t *offsets)
{
    if (code && code[0]) std::fprintf(fout, "# Sequence Code: %s\n", code);
    if (title && title[0])
        std::fprintf(fout, "# Sequence Name: %s\n", title);
    else
        std::fputs("# Unnamed sequence\n", fout);
    std::fputs("#\n", fout);
    std::fputs("# Position  Residue      Register    P-score    ( Score )\n", fout);

    // Rows are gathered into one block so the stream sees few large writes.
    static char block[1 << 16];
    size_t len = 0;
    for (int32_t i = 0; i < seqlen; i++) {
        if (len > sizeof block - TXT_ROW_MAX) {
            std::fwrite(block, 1, len, fout);
            len = 0;
        }
        char regc = char('a' + (offsets[i] + i) % 7);
        len += txt_format_row(block + len, i + 1, char(numaa(seq[i])), regc, scs[i][offsets[i]]);
    }
    if (len) std::fwrite(block, 1, len, fout);
}

// ---- Logs ------------------------------------------------------------------------------

void log_output_ver(double score, int cnt, const char *title, const char *code, FILE *flog)
{
    double v = score >= -DBL_MAX ? score : -100000.0;
    std::fprintf(flog, "%4d %lf %s %s\n", cnt, v, code, title);
}

void log_print_coil(FILE *flog, double score, int from, int to, int reg)
{
    std::fprintf(flog, "  %1.4f@ %4d-%4d:%c;  ", score2prob(score), from + 1, to + 1,
                 numpos(int8_t((reg + from) % 7)));
}

void log_output_prn3(int mode, double score, const double scs[][NREG], const int8_t *offsets,
                     int32_t seqlen, int cnt, Sequence sequence, double bound, double upper_bound,
                     FILE *flog, FILE *flog_seq)
{
    double B = prob2score(bound);

    int32_t m = 0;
    while (m < seqlen && !(scs[m][offsets[m]] == score)) m++;
    // Past the end there is no residue: its letter is that of offset 0.
    int peak_reg = (m < seqlen ? offsets[m] + m : m) % 7;

    std::fprintf(flog, "%d \t%s\n\t%s\n", cnt, sequence.code, sequence.title);
    std::fprintf(flog_seq, "%d \t%s\n\t%s\n", cnt, sequence.code, sequence.title);
    std::fprintf(flog_seq, "\tP-score = %1.4f\n\tScore = %4.2f\n\n", seq_scr2pscr(score), score);
    std::fprintf(flog, "\t  %6.4g @%4d : %c\n", score2prob(score), m + 1, numpos(int8_t(peak_reg)));

    if (score < B) {
        std::fputs("No coiled coils found.\n", flog);
        return;
    }
    if (mode & MODE_MAP)
        print_coil3(mode, seqlen, sequence.reg, scs, B, upper_bound, offsets, sequence.seq, flog);
    std::fputs(" [", flog);

    int st = -1;
    double mx = -HUGE_VAL;
    for (int32_t i = 0; i < seqlen; i++) {
        double s = scs[i][offsets[i]];
        if (s > B) {
            if (st < 0) {
                st = i;
            } else if (offsets[i] != offsets[i - 1]) {
                log_print_coil(flog, mx, st, i - 1, offsets[st]);
                mx = s;
                st = i;
            }
            if (s > mx) mx = s;
        } else if (mx != -HUGE_VAL) {
            log_print_coil(flog, mx, st, i - 1, offsets[st]);
            st = -1;
            mx = -HUGE_VAL;
        }
    }
    if (st >= 0 && mx != -HUGE_VAL) log_print_coil(flog, mx, st, seqlen - 1, offsets[st]);

    std::fprintf(flog, "End: %d]\n\n", seqlen);
}

void print_coil3(int mode, int32_t seqlen, const int8_t *reg, const double scs[][NREG], double bound,
                 double upper_bound, const int8_t *offsets, const int8_t *seq, FILE *flog)
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

    // Rows go out whole: the log is unbuffered.
    char row[96];
    int32_t rows = seqlen / 70;

    print_ruler(flog);
    std::fputc('\n', flog);
    for (int32_t j = 0; j <= rows; j++) {
        int n = std::snprintf(row, sizeof row, "\n%4d\t", 70 * j + 1);
        for (int32_t k = 70 * j; k < seqlen && k < 70 * j + 70; k++) row[n++] = char(numaa(seq[k]));
        row[n++] = '\t';
        std::fwrite(row, 1, n, flog);
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
        std::fwrite(row, 1, n, flog);
    }
    std::fputs("\n\n", flog);
}

// ---- Plot ---------------------------------------------------------------------------------

void res_compare(FILE *ps, const double *sc1, const double *sc2, const Sequence *sequence,
                 FILE *regionfile)
{
    const int32_t seqlen = sequence->seqlen;
    int rstart, rend;
    if (!regionfile) {
        rstart = 0;
        rend = seqlen;
    } else {
        read_region(regionfile, sequence->code, seqlen, &rstart, &rend);
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

    std::fputs("%! \n", ps);
    std::fputs("90 rotate 50 -200 translate\n", ps);
    std::fputs("/cshow {dup stringwidth pop -2 div 0 rmoveto show}def\n", ps);
    std::fputs("/rshow {dup stringwidth pop neg 0 rmoveto show}def\n", ps);
    std::fputs("/Times-Roman findfont 18 scalefont setfont\n", ps);
    std::fprintf(ps, "50 150 moveto (%s) show 50 100 moveto(%s) show\n", sequence->code, sequence->title);
    std::fputs(" /sy 125 def /ry 100 def /ty 150 def \n", ps);
    std::fputs(" /sx 560 def /ux 650 def /tx 500 def\n", ps);
    std::fputs("tx sy moveto(sequence) rshow tx ry moveto(region) rshow\n", ps);
    std::fputs("sx ty moveto(Stock) cshow ux ty moveto(us) cshow\n", ps);
    std::fprintf(ps, "sx sy moveto(%lf) cshow ux sy moveto(%lf) cshow\n", max1, max2);
    std::fprintf(ps, "sx ry moveto(%lf) cshow ux ry moveto(%lf) cshow\n", rmax1, rmax2);
    std::fprintf(ps, "315 sy moveto (region %d-%d) show\n", rstart + 1, rend);
    rend -= 1;
    std::fprintf(ps, "/vx %lf def /vy 5 def\n", 692.0 / seqlen);
    std::fputs("/adjust {exch vx mul exch vy mul} def\n", ps);
    std::fputs("/-Inf -150 def\n", ps);
    std::fputs("/m {adjust moveto vx 0 rlineto} def\n", ps);
    std::fputs("/l {adjust lineto vx 0 rlineto} def\n", ps);
    std::fputs("/min {1 index 1 index lt {pop} {exch pop} ifelse} def\n", ps);
    std::fputs("/bar {exch vx mul 0 moveto 0 exch vy mul rlineto stroke} def\n", ps);
    std::fputs("/foo {2 index 2 index 2 index      1 index 1 index gt      "
               "{0.3 0.7 1 setrgbcolor pop bar} {0.5 1 0 setrgbcolor exch pop bar} ifelse\n"
               "      min 1 0 0 setrgbcolor bar} def\n",
               ps);
    std::fputs("/Times-Roman findfont 10 scalefont setfont\n", ps);
    std::fputs("1 setlinewidth 0.7 setgray 0 15 adjust moveto 0 -50 adjust lineto stroke \n", ps);
    for (int i = -50; i <= 15; i += 5) {
        std::fprintf(ps, "0 %d adjust moveto -5 0 rmoveto 10 0 rlineto stroke \n", i);
        std::fprintf(ps, "0 %d adjust moveto \n", i);
        std::fprintf(ps, "7 0 rmoveto (%d) show \n", i);
    }
    std::fprintf(ps, "1 setlinewidth 0 setgray %d 15 adjust moveto %d -50 adjust lineto stroke \n", seqlen,
                 seqlen);
    for (int i = -50; i <= 15; i += 5) {
        std::fprintf(ps, "%d %d adjust moveto -5 0 rmoveto 10 0 rlineto stroke \n", seqlen, i);
        std::fprintf(ps, "%d %d adjust moveto \n", seqlen, i);
        std::fprintf(ps, "-7 0 rmoveto (%5.2f) rshow \n", std::exp(double(i) / WINDOW));
    }
    std::fputs("vx 2 div setlinewidth 0.5 setgray\n", ps);
    std::fputs("2 setlinewidth \n", ps);
    std::fputs("0 setgray [2] 0 setdash \n", ps);
    print_curve(ps, sc1, seqlen);
    std::fputs("stroke \n", ps);
    std::fputs("0.7 setgray [] 0 setdash\n", ps);
    print_curve(ps, sc2, seqlen);
    std::fputs("stroke \n", ps);
    std::fprintf(ps, "0 setlinewidth 0 setgray 0 0 adjust moveto %d 0 adjust lineto stroke \n", seqlen);
    std::fprintf(ps, "0 setlinewidth 0 setgray 0 10 adjust moveto %d 10 adjust lineto stroke \n", seqlen);
    std::fprintf(ps, "0 setlinewidth 0 setgray 0 -10 adjust moveto %d -10 adjust lineto stroke \n", seqlen);
    for (int i = 49; i < seqlen; i += 50)
        std::fprintf(ps, "%d 0 adjust moveto vx 2 div  -5 rmoveto  0 10  rlineto stroke\n", i);
    std::fprintf(ps, "%d -15 adjust moveto vx 2 div 0 rmoveto 0 30 vy mul rlineto stroke\n", rstart);
    std::fprintf(ps, "%d -15 adjust moveto vx 2 div 0 rmoveto 0 30 vy mul rlineto stroke\n", rend);
    std::fputs("showpage\n\n", ps);
}

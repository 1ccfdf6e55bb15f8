// Tests of the output module: the global p-score table and its lookups, the
// per-residue table (byte identity with the C library's formatting), the
// score line, the coil report and map, and the PostScript page.
#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "output.h"
#include "scscore.h"

namespace {

const double NEG_INF = -HUGE_VAL;
const char ROW_FMT[] = "%8d       %c             %c      %8.5f    (%7.2f)\n";

// Everything written to a memory stream, as one string.
struct Capture {
    char *buf = nullptr;
    size_t len = 0;
    FILE *f;
    Capture() { f = open_memstream(&buf, &len); }
    ~Capture()
    {
        std::fclose(f);
        std::free(buf);
    }
    std::string str()
    {
        std::fflush(f);
        return std::string(buf, len);
    }
};

std::string fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char *format, ...)
{
    char b[4096];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(b, sizeof b, format, ap);
    va_end(ap);
    return std::string(b, n);
}

// Linear scans over the consulted rows: the lookups must agree with them.
double scan_score2prob(double score)
{
    const double(*t)[2] = pscore_table();
    double p = 0.0;
    for (int i = 0; i < pscore_size; i++) {
        if (t[i][0] > score) break;
        p = t[i][1];
    }
    return 1.0 - p;
}

double scan_prob2score(double prob)
{
    const double(*t)[2] = pscore_table();
    double s = 40.0, q = 1.0 - prob;
    for (int i = 0; i < pscore_size; i++) {
        if (t[i][1] > q) break;
        s = t[i][0];
    }
    return s;
}

// One sequence's scores, sized exactly so the sanitizer catches reads past it.
struct Scored {
    std::vector<std::array<double, NREG>> scs;
    std::vector<int8_t> offsets, seq, reg;
    char code[8] = "C1", title[8] = "T1";
    explicit Scored(int n, double fill = 0.0) : scs(n), offsets(n, 0), seq(n), reg(n, NOREG)
    {
        for (int i = 0; i < n; i++) {
            scs[i].fill(fill);
            seq[i] = int8_t(i % 20);
        }
    }
    void set(int i, double s, int off)
    {
        offsets[i] = int8_t(off);
        scs[i][off] = s;
    }
    int32_t n() const { return int32_t(offsets.size()); }
    const double (*m() const)[NREG] { return reinterpret_cast<const double(*)[NREG]>(scs.data()); }
    Sequence record() { return Sequence{n(), seq.data(), reg.data(), title, code}; }
};

const std::string RULER = "1234567890123456789012345678901234567890123456789012345678901234567890";

}  // namespace

// ---- Global table and lookups ---------------------------------------------------------

TEST(PscoreTable, RowsFollowTheirRule)
{
    const double(*t)[2] = pscore_table();
    struct Row {
        int i;
        double score, prob;
    } rows[] = {{0, -40.00, 6.2254486e-05},   {1, -39.99, 6.2556097e-05}, {3231, -7.69, 0.49990525},
                {3232, -7.68, 0.500379},      {3500, -5.00, 0.62521333},  {4000, 0.00, 0.81936708},
                {4881, 8.81, 0.97495237},     {4882, 8.82, 0.97502181},   {6999, 29.99, 0.99999617},
                {7000, 30.00, 0.99999619}};
    for (const Row &r : rows) {
        EXPECT_EQ(t[r.i][0], r.score) << r.i;
        EXPECT_EQ(t[r.i][1], r.prob) << r.i;
    }
    for (int i = 0; i < PSCORE_ROWS; i++) {
        // Every score is the double nearest to its two-decimal text.
        int v = i - 4000, a = v < 0 ? -v : v;
        std::string text = fmt("%s%d.%02d", v < 0 ? "-" : "", a / 100, a % 100);
        ASSERT_EQ(t[i][0], std::strtod(text.c_str(), nullptr)) << text;
        if (i) {
            ASSERT_GT(t[i][0], t[i - 1][0]);
            ASSERT_GT(t[i][1], t[i - 1][1]);
        }
    }
}

TEST(PscoreTable, Score2probEdges)
{
    EXPECT_EQ(score2prob(-50.0), 1.0);
    EXPECT_EQ(score2prob(NEG_INF), 1.0);
    EXPECT_EQ(score2prob(-40.0), 1.0 - 6.2254486e-05);
    EXPECT_EQ(score2prob(-39.995), 1.0 - 6.2254486e-05);
    EXPECT_EQ(score2prob(0.0), 1.0 - 0.81936708);
    EXPECT_EQ(score2prob(0.005), 1.0 - 0.81936708);
    // Row 7000 is never consulted, so 30 and beyond stop at row 6999; NaN too.
    for (double s : {29.99, 30.0, 100.0, HUGE_VAL, std::nan("")}) EXPECT_EQ(score2prob(s), 1.0 - 0.99999617) << s;
}

TEST(PscoreTable, Prob2scoreEdges)
{
    EXPECT_EQ(prob2score(0.025), 8.81);
    EXPECT_EQ(prob2score(0.05), 6.16);
    EXPECT_EQ(prob2score(0.01), 11.9);
    EXPECT_EQ(prob2score(0.001), 18.33);
    EXPECT_EQ(prob2score(0.5), -7.69);
    EXPECT_EQ(prob2score(0.9), -18.48);
    EXPECT_EQ(prob2score(0.0), 29.99);
    EXPECT_EQ(prob2score(0.99993), -39.76);
    EXPECT_EQ(prob2score(0.99994), 40.0);  // no row qualifies: above every score
    EXPECT_EQ(prob2score(1.0), 40.0);
    EXPECT_EQ(prob2score(std::nan("")), 29.99);
}

TEST(PscoreTable, LookupsAgreeWithLinearScan)
{
    const double(*t)[2] = pscore_table();
    std::vector<double> scores = {NEG_INF, HUGE_VAL, std::nan(""), -std::nan(""), DBL_MAX, -DBL_MAX, 1e300,
                                  -1e300,  0.0,      -0.0,         DBL_MIN,      -40.005, 29.995,   30.005};
    std::vector<double> probs = {NEG_INF, HUGE_VAL, std::nan(""), -1.0, 2.0, 0.0, 1.0, 1e-300, 0.5};
    for (int i = 0; i < PSCORE_ROWS; i++) {
        for (double s : {t[i][0], std::nextafter(t[i][0], -HUGE_VAL), std::nextafter(t[i][0], HUGE_VAL),
                         t[i][0] + 0.005})
            scores.push_back(s);
        // 1 - (1 - p) lands exactly on p for the upper half of the column.
        double p = 1.0 - t[i][1];
        for (double v : {p, std::nextafter(p, -1.0), std::nextafter(p, 2.0)}) probs.push_back(v);
    }
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> wide(-60.0, 60.0), unit(-0.1, 1.1);
    for (int k = 0; k < 20000; k++) {
        scores.push_back(wide(rng));
        probs.push_back(unit(rng));
    }
    for (double s : scores) ASSERT_EQ(score2prob(s), scan_score2prob(s)) << s;
    for (double p : probs) ASSERT_EQ(prob2score(p), scan_prob2score(p)) << p;
}

// ---- Per-residue table --------------------------------------------------------------------

TEST(TxtRow, ByteIdenticalToFormattedOutput)
{
    std::vector<double> vals = {0.0, -0.0, 0.125, 0.375, -0.125, 0.005, -0.005, 0.015, 1.005, 2.675,
                                -0.001, -0.004999, -1e-300, -4.9e-324, 4.9e-324, 0.995, 9.995, 99.995,
                                999.995, 9999.995, 99999.99, 999999.99, 1e15, 1e15 - 0.125, 9.99e14,
                                -9.99e14, 1e20, -1e20, DBL_MAX, -DBL_MAX, HUGE_VAL, NEG_INF,
                                std::nan(""), -std::nan("")};
    for (int k = -4000; k <= 4000; k++) {  // exact halves and quarters of hundredths
        vals.push_back(k / 8.0);
        vals.push_back(k * 0.005);
        vals.push_back(k / 100.0);
    }
    std::mt19937_64 rng(11);
    for (double range : {1.0, 50.0, 1e4, 1e9, 1e14}) {
        std::uniform_real_distribution<double> d(-range, range);
        for (int k = 0; k < 40000; k++) vals.push_back(d(rng));
    }
    for (int k = 0; k < 40000; k++) {  // any bit pattern: subnormals, NaNs, huge values
        uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        vals.push_back(v);
    }
    const int32_t positions[] = {1, 7, 12345678, 99999999, 100000000, 123456789, INT32_MAX, 0, -1, INT32_MIN};
    char got[TXT_ROW_MAX], want[1024];
    size_t idx = 0;
    for (double v : vals) {
        int32_t pos = positions[idx++ % (sizeof positions / sizeof *positions)];
        char res = idx % 13 == 0 ? '\0' : 'W';
        int n = txt_format_row(got, pos, res, 'g', v);
        int w = std::snprintf(want, sizeof want, ROW_FMT, pos, res, 'g', score2prob(v), v);
        ASSERT_EQ(std::string(got, n), std::string(want, w)) << "value " << v << " position " << pos;
    }
}

TEST(TxtOutput, HeaderVariants)
{
    const double scs[1][NREG] = {};
    const int8_t seq[1] = {0}, offsets[1] = {0};
    const std::string head = "#\n# Position  Residue      Register    P-score    ( Score )\n";
    struct Case {
        const char *code, *title;
        std::string want;
    } cases[] = {{"", "", "# Unnamed sequence\n"},
                 {nullptr, nullptr, "# Unnamed sequence\n"},
                 {"P1", "", "# Sequence Code: P1\n# Unnamed sequence\n"},
                 {"P1", "Some protein", "# Sequence Code: P1\n# Sequence Name: Some protein\n"}};
    for (const Case &k : cases) {
        Capture c;
        txt_output2(k.code, k.title, seq, 0, c.f, scs, offsets);
        EXPECT_EQ(c.str(), k.want + head);
    }
}

TEST(TxtOutput, RowsShowRegisterPscoreAndScore)
{
    Scored s(4);
    s.set(0, NEG_INF, 0);  // uncovered residue
    s.set(1, 0.0, 3);
    s.set(2, 30.0, 6);
    s.set(3, 0.005, 5);
    Capture c;
    txt_output2("X", "Y", s.seq.data(), s.n(), c.f, s.m(), s.offsets.data());
    std::string out = c.str();
    std::string rows = out.substr(out.find("( Score )\n") + 10);
    EXPECT_EQ(rows, "       1       L             a       1.00000    (   -inf)\n"
                    "       2       I             e       0.18063    (   0.00)\n"
                    "       3       V             b       0.00000    (  30.00)\n"
                    "       4       M             b       0.18063    (   0.01)\n");
}

TEST(TxtOutput, LongSequenceMatchesRowByRow)
{
    // Long enough to cross the internal block boundary several times.
    const int n = MAXSEQ;
    Scored s(n);
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> d(-45.0, 35.0);
    for (int i = 0; i < n; i++) s.set(i, i % 97 == 0 ? NEG_INF : d(rng), int(rng() % 7));
    Capture c;
    txt_output2("", "t", s.seq.data(), n, c.f, s.m(), s.offsets.data());
    std::string want = "# Sequence Name: t\n#\n# Position  Residue      Register    P-score    ( Score )\n";
    for (int i = 0; i < n; i++) {
        double v = s.scs[i][s.offsets[i]];
        want += fmt(ROW_FMT, i + 1, "LIVMFYGAKRHEDQNSTCWP"[i % 20], 'a' + (s.offsets[i] + i) % 7, score2prob(v), v);
    }
    EXPECT_TRUE(c.str() == want);
}

// ---- Score line and coil report ------------------------------------------------------------

TEST(Logs, ScoreLine)
{
    Capture c;
    log_output_ver(NEG_INF, 1, "T1", "C1", c.f);
    log_output_ver(std::nan(""), 2, "T", "C", c.f);
    log_output_ver(3.5, 12345, "title", "code", c.f);
    EXPECT_EQ(c.str(), "   1 -100000.000000 C1 T1\n   2 -100000.000000 C T\n12345 3.500000 code title\n");
}

TEST(Logs, ScoreBelowBoundFindsNoCoils)
{
    Scored s(30);  // every best score 0.0; bound 0.025 is the raw score 8.81
    Capture log, logseq;
    log_output_prn3(MODE_MAP, 0.0, s.m(), s.offsets.data(), s.n(), 1, s.record(), 0.025, 0.025, log.f, logseq.f);
    EXPECT_EQ(log.str(), "1 \tC1\n\tT1\n\t  0.1806 @   1 : a\nNo coiled coils found.\n");
    EXPECT_EQ(logseq.str(), fmt("1 \tC1\n\tT1\n\tP-score = %1.4f\n\tScore = 0.00\n\n", seq_scr2pscr(0.0)));
}

TEST(Logs, ScoreEqualToBoundListsNothing)
{
    Scored s(30, 8.81);
    Capture log, logseq;
    log_output_prn3(0, 8.81, s.m(), s.offsets.data(), s.n(), 4, s.record(), 0.025, 0.025, log.f, logseq.f);
    EXPECT_EQ(log.str(), fmt("4 \tC1\n\tT1\n\t  %6.4g @   1 : a\n [End: 30]\n\n", score2prob(8.81)));
}

TEST(Logs, RegionScan)
{
    Scored s(20);
    s.set(2, 10.0, 3);  // offset 3 run ...
    s.set(3, 10.0, 3);
    s.set(4, 10.0, 3);
    s.set(5, 11.0, 5);  // ... changes to offset 5: a second entry
    s.set(6, 9.5, 5);
    s.set(9, 9.0, 1);     // a single residue
    s.set(12, 8.81, 2);   // equal to the bound: not above it
    s.set(17, 12.0, 0);   // open at the end of the sequence
    s.set(18, 12.0, 0);
    s.set(19, 11.0, 0);
    Capture log, logseq;
    log_output_prn3(0, 12.0, s.m(), s.offsets.data(), s.n(), 2, s.record(), 0.025, 0.025, log.f, logseq.f);
    auto entry = [](double mx, int a, int b, char c) { return fmt("  %1.4f@ %4d-%4d:%c;  ", score2prob(mx), a, b, c); };
    std::string want = fmt("2 \tC1\n\tT1\n\t  %6.4g @  18 : d\n", score2prob(12.0)) + " [" +
                       entry(10.0, 3, 5, 'f') + entry(11.0, 6, 7, 'd') + entry(9.0, 10, 10, 'd') +
                       entry(12.0, 18, 20, 'd') + "End: 20]\n\n";
    EXPECT_EQ(log.str(), want);
}

TEST(Logs, PeakLineWithoutMatchingResidueStaysInside)
{
    Scored s(20);  // no residue scores 5.0: the peak is past the end
    Capture log, logseq;
    log_output_prn3(0, 5.0, s.m(), s.offsets.data(), s.n(), 1, s.record(), 0.5, 0.5, log.f, logseq.f);
    std::string out = log.str();
    EXPECT_NE(out.find(fmt("\t  %6.4g @  21 : g\n", score2prob(5.0))), std::string::npos) << out;

    Scored u(30, NEG_INF);  // nothing scored: -inf peaks at the first residue
    Capture log2, logseq2;
    log_output_prn3(0, NEG_INF, u.m(), u.offsets.data(), u.n(), 1, u.record(), 0.5, 0.5, log2.f, logseq2.f);
    EXPECT_EQ(log2.str(), "1 \tC1\n\tT1\n\t       1 @   1 : a\nNo coiled coils found.\n");
}

// ---- Residue and register map ------------------------------------------------------------

std::string map_text(int n, const std::string &regs)
{
    std::string out = "\n\n\t" + RULER + "\n";
    for (int j = 0; j <= n / 70; j++) {
        out += fmt("\n%4d\t", 70 * j + 1);
        for (int k = 70 * j; k < n && k < 70 * j + 70; k++) out += "LIVMFYGAKRHEDQNSTCWP"[k % 20];
        out += "\t";
    }
    out += "\n\n\t" + RULER;
    for (int j = 0; j <= n / 70; j++) out += fmt("\n%4d\t", 70 * j + 1) + regs.substr(70 * j, 70);
    return out + "\n\n";
}

TEST(Map, RowsOfSeventy)
{
    for (int n : {70, 71}) {
        Scored s(n, 10.0);
        Capture c;
        print_coil3(MODE_MAP, s.n(), s.reg.data(), s.m(), 0.0, -100.0, s.offsets.data(), s.seq.data(), c.f);
        std::string regs;
        for (int k = 0; k < n; k++) regs += "abcdefg"[k % 7];
        EXPECT_EQ(c.str(), map_text(n, regs)) << n;
    }
}

TEST(Map, FlagsWithoutKnownRegisters)
{
    Scored s(10, 5.0);
    s.set(0, -1.0, 0);  // below bound: no coil
    s.set(1, 0.5, 2);   // between bound and upper bound: flagged
    s.set(2, 2.9, 0);
    s.reg[4] = 3;       // given registers are ignored without -pos/-1 ...
    s.reg[5] = 0;
    s.reg[6] = 0;
    {
        Capture c;
        print_coil3(MODE_MAP, s.n(), s.reg.data(), s.m(), 0.0, 3.0, s.offsets.data(), s.seq.data(), c.f);
        EXPECT_EQ(c.str(), map_text(10, ".DCdefgabc"));
    }
    {   // ... except that "+" hides residues whose register is "."
        Capture c;
        print_coil3(MODE_MAP | MODE_MAP_GIVEN, s.n(), s.reg.data(), s.m(), 0.0, 3.0, s.offsets.data(), s.seq.data(),
                    c.f);
        EXPECT_EQ(c.str(), map_text(10, "....efg..."));
    }
    {   // "-" with nothing flagged writes no map at all
        Capture c;
        print_coil3(MODE_MAP | MODE_MAP_FLAGGED, s.n(), s.reg.data(), s.m(), 0.0, -3.0, s.offsets.data(),
                    s.seq.data(), c.f);
        EXPECT_EQ(c.str(), "");
    }
}

TEST(Map, FlagsAgainstKnownRegisters)
{
    Scored s(8, 5.0);
    const int8_t given[8] = {0, 1, 3, NOREG, NOREG, 5, 6, 0};
    for (int i = 0; i < 8; i++) s.reg[i] = given[i];
    s.set(4, -2.0, 0);  // no coil, none given: "."
    s.set(5, -2.0, 0);  // known coil missed: its given register, flagged
    for (int mode : {MODE_POS, MODE_LEAVEOUT}) {
        Capture c;
        print_coil3(MODE_MAP | mode, s.n(), s.reg.data(), s.m(), 0.0, -100.0, s.offsets.data(), s.seq.data(), c.f);
        EXPECT_EQ(c.str(), map_text(8, "abCD.Fga")) << mode;
    }
}

TEST(Map, ReportKeepsRegionsWhenMapIsLeftOut)
{
    Scored s(30, 10.0);
    Capture log, logseq;
    log_output_prn3(MODE_MAP | MODE_MAP_FLAGGED, 10.0, s.m(), s.offsets.data(), s.n(), 1, s.record(), 0.025, 0.025,
                    log.f, logseq.f);
    std::string out = log.str();
    EXPECT_EQ(out.find(RULER), std::string::npos);
    EXPECT_NE(out.find(fmt(" [  %1.4f@    1-  30:a;  End: 30]\n\n", score2prob(10.0))), std::string::npos) << out;

    // A flag (score under the unconverted upper bound 20) brings the map back.
    Capture log2, logseq2;
    log_output_prn3(MODE_MAP | MODE_MAP_FLAGGED, 10.0, s.m(), s.offsets.data(), s.n(), 1, s.record(), 0.025, 20.0,
                    log2.f, logseq2.f);
    EXPECT_NE(log2.str().find(RULER), std::string::npos);
}

// ---- PostScript page ----------------------------------------------------------------------

namespace {

std::string page(const Scored &s, const std::vector<double> &sc1, const std::vector<double> &sc2, const char *code,
                 FILE *rf)
{
    Sequence seq{s.n(), nullptr, nullptr, const_cast<char *>("title"), const_cast<char *>(code)};
    Capture c;
    res_compare(c.f, sc1.data(), sc2.data(), &seq, rf);
    return c.str();
}

std::string line_with(const std::string &text, const std::string &needle)
{
    size_t at = text.find(needle);
    if (at == std::string::npos) return "";
    size_t b = text.rfind('\n', at) + 1;
    return text.substr(b, text.find('\n', at) - b);
}

FILE *region_file(const std::string &content)
{
    FILE *f = std::tmpfile();
    std::fwrite(content.data(), 1, content.size(), f);
    std::rewind(f);
    return f;
}

}  // namespace

TEST(Plot, WholePageForSmallSequence)
{
    WINDOW = 30;
    Scored s(3);
    std::vector<double> sc1 = {NEG_INF, 1.5, 2.25}, sc2 = {0.5, NEG_INF, -1.0};
    std::string want = "%! \n90 rotate 50 -200 translate\n"
                       "/cshow {dup stringwidth pop -2 div 0 rmoveto show}def\n"
                       "/rshow {dup stringwidth pop neg 0 rmoveto show}def\n"
                       "/Times-Roman findfont 18 scalefont setfont\n"
                       "50 150 moveto (S1) show 50 100 moveto(title) show\n"
                       " /sy 125 def /ry 100 def /ty 150 def \n /sx 560 def /ux 650 def /tx 500 def\n"
                       "tx sy moveto(sequence) rshow tx ry moveto(region) rshow\n"
                       "sx ty moveto(Stock) cshow ux ty moveto(us) cshow\n"
                       "sx sy moveto(2.250000) cshow ux sy moveto(0.500000) cshow\n"
                       "sx ry moveto(2.250000) cshow ux ry moveto(0.500000) cshow\n"
                       "315 sy moveto (region 1-3) show\n"
                       "/vx 230.666667 def /vy 5 def\n"
                       "/adjust {exch vx mul exch vy mul} def\n/-Inf -150 def\n"
                       "/m {adjust moveto vx 0 rlineto} def\n/l {adjust lineto vx 0 rlineto} def\n"
                       "/min {1 index 1 index lt {pop} {exch pop} ifelse} def\n"
                       "/bar {exch vx mul 0 moveto 0 exch vy mul rlineto stroke} def\n"
                       "/foo {2 index 2 index 2 index      1 index 1 index gt      {0.3 0.7 1 setrgbcolor pop bar} "
                       "{0.5 1 0 setrgbcolor exch pop bar} ifelse\n      min 1 0 0 setrgbcolor bar} def\n"
                       "/Times-Roman findfont 10 scalefont setfont\n"
                       "1 setlinewidth 0.7 setgray 0 15 adjust moveto 0 -50 adjust lineto stroke \n";
    for (int i = -50; i <= 15; i += 5)
        want += fmt("0 %d adjust moveto -5 0 rmoveto 10 0 rlineto stroke \n0 %d adjust moveto \n7 0 rmoveto (%d) show \n",
                    i, i, i);
    want += "1 setlinewidth 0 setgray 3 15 adjust moveto 3 -50 adjust lineto stroke \n";
    const char *labels[] = {"0.19", "0.22", "0.26", "0.31", "0.37", "0.43", "0.51",
                            "0.61", "0.72", "0.85", "1.00", "1.18", "1.40", "1.65"};
    for (int k = 0; k < 14; k++)
        want += fmt("3 %d adjust moveto -5 0 rmoveto 10 0 rlineto stroke \n3 %d adjust moveto \n"
                    "-7 0 rmoveto ( %s) rshow \n",
                    -50 + 5 * k, -50 + 5 * k, labels[k]);
    want += "vx 2 div setlinewidth 0.5 setgray\n2 setlinewidth \n0 setgray [2] 0 setdash \n"
            "1 1.500000 m\n2 2.250000 l\nstroke \n"
            "0.7 setgray [] 0 setdash\n"
            "0 0.500000 m\n2 -1.000000 m\nstroke \n"
            "0 setlinewidth 0 setgray 0 0 adjust moveto 3 0 adjust lineto stroke \n"
            "0 setlinewidth 0 setgray 0 10 adjust moveto 3 10 adjust lineto stroke \n"
            "0 setlinewidth 0 setgray 0 -10 adjust moveto 3 -10 adjust lineto stroke \n"
            "0 -15 adjust moveto vx 2 div 0 rmoveto 0 30 vy mul rlineto stroke\n"
            "2 -15 adjust moveto vx 2 div 0 rmoveto 0 30 vy mul rlineto stroke\n"
            "showpage\n\n";
    EXPECT_EQ(page(s, sc1, sc2, "S1", nullptr), want);
}

TEST(Plot, WidthAndTicksFor300Residues)
{
    Scored s(300);
    std::vector<double> sc(300, 1.0);
    std::string out = page(s, sc, sc, "A", nullptr);
    EXPECT_NE(out.find("/vx 2.306667 def /vy 5 def\n"), std::string::npos);
    std::string ticks;
    for (size_t at = 0; (at = out.find(" 0 adjust moveto vx 2 div  -5", at)) != std::string::npos; at++)
        ticks += out.substr(out.rfind('\n', at) + 1, at - out.rfind('\n', at) - 1) + ",";
    EXPECT_EQ(ticks, "49,99,149,199,249,299,");
}

TEST(Plot, RegionFileReadForward)
{
    Scored s(30);
    std::vector<double> sc1(30), sc2(30);
    for (int i = 0; i < 30; i++) {
        sc1[i] = i;
        sc2[i] = 100 - i;
    }
    FILE *rf = region_file("junk\n> B 3 5\n>A 10 20\n>C 2 4\n");
    // A comes first in the file but after B in the input: found only after B.
    std::string b = page(s, sc1, sc2, "B", rf);
    EXPECT_EQ(line_with(b, "(region "), "315 sy moveto (region 3-5) show");
    EXPECT_EQ(line_with(b, "sx ry"), "sx ry moveto(4.000000) cshow ux ry moveto(98.000000) cshow");
    EXPECT_NE(b.find("\n2 -15 adjust moveto"), std::string::npos);
    EXPECT_NE(b.find("\n4 -15 adjust moveto"), std::string::npos);
    std::string c = page(s, sc1, sc2, "C", rf);
    EXPECT_EQ(line_with(c, "(region "), "315 sy moveto (region 2-4) show");
    // A's record was passed over; the file is exhausted from here on.
    for (const char *code : {"A", "Z"}) {
        std::string a = page(s, sc1, sc2, code, rf);
        EXPECT_EQ(line_with(a, "(region "), "315 sy moveto (region 1-30) show") << code;
        EXPECT_EQ(line_with(a, "sx ry"), "sx ry moveto(29.000000) cshow ux ry moveto(100.000000) cshow");
    }
    std::fclose(rf);
}

TEST(Plot, RegionRecordsThatNeedCare)
{
    Scored s(59);
    std::vector<double> sc(59, 2.0);
    sc[3] = NEG_INF;
    sc[4] = NEG_INF;
    std::string longcode(1023, 'Q');
    FILE *rf = region_file(">A 70 80\n>B 0 5\n>C 5 3\n>D x 7\n>D 4 5\n>E 6 9\n\xff>E 7 7\n>" + longcode +
                           "QQQQQ 2 3\n");
    auto region = [&](const char *code) { return line_with(page(s, sc, sc, code, rf), "(region "); };
    auto rmax = [&](const char *code) { return line_with(page(s, sc, sc, code, rf), "sx ry"); };
    EXPECT_EQ(region("A"), "315 sy moveto (region 60-59) show");  // clamped, empty
    EXPECT_EQ(region("B"), "315 sy moveto (region 1-5) show");
    EXPECT_EQ(region("C"), "315 sy moveto (region 5-4) show");
    EXPECT_EQ(rmax("D"), "sx ry moveto(-inf) cshow ux ry moveto(-inf) cshow");  // unparsed record skipped
    // The 0xFF byte ends the next search as the end of the file would ...
    EXPECT_EQ(region("E"), "315 sy moveto (region 6-9) show");
    EXPECT_EQ(region("E"), "315 sy moveto (region 1-59) show");
    // ... and the search after it goes on behind that byte; an overlong code is cut to 1023 characters.
    EXPECT_EQ(region("E"), "315 sy moveto (region 7-7) show");
    EXPECT_EQ(region(longcode.c_str()), "315 sy moveto (region 2-3) show");
    std::fclose(rf);
}

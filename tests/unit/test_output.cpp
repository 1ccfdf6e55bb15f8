// Tests of the output module: p-score table and lookups, per-residue table, coil report and map, PostScript page.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "output.h"
#include "scscore.h"

namespace {

const double INF = HUGE_VAL, NaN = std::nan("");
const std::string RULER = "1234567890123456789012345678901234567890123456789012345678901234567890";
const auto npos = std::string::npos;

template <class F> std::string capture(F write)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    write(f);
    std::fclose(f);
    std::string s(buf, len);
    std::free(buf);
    return s;
}

template <class... A> std::string fmt(const char *format, A... args)
{
    char b[4096];
    return std::string(b, std::snprintf(b, sizeof b, format, args...));
}

// One sequence's scores, sized exactly so the sanitizer catches reads past it.
struct Scored {
    std::vector<double> scs;
    std::vector<int8_t> offsets, seq, reg;
    explicit Scored(int n, double fill = 0.0) : scs(n * NREG, fill), offsets(n, 0), seq(n), reg(n, NOREG)
    {
        for (int i = 0; i < n; i++) seq[i] = int8_t(i % 20);
    }
    void set(int i, double s, int off) { scs[i * NREG + (offsets[i] = int8_t(off))] = s; }
    int32_t n() const { return int32_t(offsets.size()); }
    const double (*m() const)[NREG] { return reinterpret_cast<const double(*)[NREG]>(scs.data()); }
    std::string map(int mode, double b, double u)
    {
        return capture([&](FILE *f) { print_coil3(mode, n(), reg.data(), m(), b, u, offsets.data(), seq.data(), f); });
    }
    std::string report(int mode, double sc, double b, double u, int cnt = 1)  // the coil log; the other is dropped
    {
        static FILE *null = std::fopen("/dev/null", "w");
        Sequence rec{n(), seq.data(), reg.data(), const_cast<char *>("T1"), const_cast<char *>("C1")};
        return capture([&](FILE *f) { log_output_prn3(mode, sc, m(), offsets.data(), n(), cnt, rec, b, u, f, null); });
    }
};

// The map of n residues; registers beyond `regs` run a, b, c, ... from the first residue.
std::string map_text(int n, std::string regs = "")
{
    for (int k = int(regs.size()); k < n; k++) regs += "abcdefg"[k % 7];
    std::string out = "\n\n\t" + RULER + "\n", marks = "\n\n\t" + RULER;
    for (int j = 0; j <= n / 70; j++) {
        out += fmt("\n%4d\t", 70 * j + 1);
        for (int k = 70 * j; k < n && k < 70 * j + 70; k++) out += "LIVMFYGAKRHEDQNSTCWP"[k % 20];
        out += '\t';
        marks += fmt("\n%4d\t", 70 * j + 1) + regs.substr(70 * j, 70);
    }
    return out + marks + "\n\n";
}

std::string page(const std::vector<double> &sc1, const std::vector<double> &sc2, const char *code, FILE *rf)
{
    Sequence seq{int32_t(sc1.size()), nullptr, nullptr, const_cast<char *>("title"), const_cast<char *>(code)};
    return capture([&](FILE *f) { res_compare(f, sc1.data(), sc2.data(), &seq, rf); });
}

}  // namespace

TEST(Pscore, TableAndLookups)
{
    const double(*t)[2] = pscore_table();
    const double rows[][3] = {{0, -40.00, 6.2254486e-05}, {1, -39.99, 6.2556097e-05}, {3232, -7.68, 0.500379},
                              {4881, 8.81, 0.97495237},    {6999, 29.99, 0.99999617},  {7000, 30.00, 0.99999619}};
    for (const auto &r : rows) EXPECT_TRUE(t[int(r[0])][0] == r[1] && t[int(r[0])][1] == r[2]) << r[0];
    const double top = 1.0 - 0.99999617, low = 1.0 - 6.2254486e-05;  // row 7000 is never consulted
    const double s2p[][2] = {{-50.0, 1.0}, {-INF, 1.0},  {-40.0, low}, {-39.995, low}, {0.005, 1.0 - 0.81936708},
                             {29.99, top}, {30.0, top}, {40.0, top},  {INF, top},     {NaN, top}};
    for (const auto &c : s2p) EXPECT_EQ(score2prob(c[0]), c[1]) << c[0];
    const double p2s[][2] = {{0.025, 8.81}, {0.05, 6.16},      {0.001, 18.33},  {0.5, -7.69}, {0.0, 29.99},
                             {0.99993, -39.76}, {0.99994, 40.0}, {1.0, 40.0}, {NaN, 29.99}};
    for (const auto &c : p2s) EXPECT_EQ(prob2score(c[0]), c[1]) << c[0];

    // The bisecting lookups agree with linear scans.
    auto scan = [&](int col, double v, double none, int out) {
        for (int i = 0; i < pscore_size; i++)
            if (t[i][col] > v) return i ? t[i - 1][out] : none;
        return t[pscore_size - 1][out];
    };
    std::vector<double> vs = {-INF, INF, NaN, -NaN, DBL_MAX, -DBL_MAX, 0.0, -0.0, DBL_MIN, 1e-300, -1.0, 2.0};
    for (int i = 0; i < PSCORE_ROWS; i++)
        for (double v : {t[i][0], 1.0 - t[i][1]})
            for (double w : {v, std::nextafter(v, -INF), std::nextafter(v, INF), v + 0.005}) vs.push_back(w);
    for (double v : vs) {
        ASSERT_EQ(score2prob(v), 1.0 - scan(0, v, 0.0, 1)) << v;
        ASSERT_EQ(prob2score(v), scan(1, 1.0 - v, 40.0, 0)) << v;
    }
}

TEST(TxtRow, ByteIdenticalToFormattedOutput)
{
    std::vector<double> vals = {0.0,   -0.0,     0.005,     -0.005, 1.005,        2.675,    -0.004999, -1e-300,
                                0.995, 9999.995, 999999.99, 1e15,   1e15 - 0.125, -9.99e14, -4.9e-324, -DBL_MAX,
                                INF,   -INF,     NaN,       -NaN};
    for (int k = -4000; k <= 4000; k++)  // exact halves and quarters of hundredths
        for (double v : {k / 8.0, k * 0.005, k / 100.0}) vals.push_back(v);
    std::mt19937_64 rng(11);
    for (double range : {1.0, 1e4, 1e9, 1e14})
        for (int k = 0; k < 5000; k++) vals.push_back(std::uniform_real_distribution<double>(-range, range)(rng));
    for (int k = 0; k < 20000; k++) {  // any bit pattern: subnormals, NaNs, huge values
        uint64_t bits = rng();
        std::memcpy(&vals.emplace_back(), &bits, sizeof bits);
    }
    const int32_t positions[] = {1, 12345678, 99999999, 100000000, 123456789, INT32_MAX, 0, -1, INT32_MIN};
    char got[TXT_ROW_MAX], want[1024];
    for (size_t i = 0; i < vals.size(); i++) {
        int32_t pos = positions[i % std::size(positions)];
        char res = i % 13 == 0 ? '\0' : 'W';
        int n = txt_format_row(got, pos, res, 'g', vals[i]);
        int w = std::snprintf(want, sizeof want, "%8d       %c             %c      %8.5f    (%7.2f)\n", pos, res, 'g',
                              score2prob(vals[i]), vals[i]);
        ASSERT_EQ(std::string(got, n), std::string(want, w)) << "value " << vals[i] << " position " << pos;
    }
}

TEST(TxtOutput, NullNamesAndRows)
{
    Scored s(3);
    s.set(0, -INF, 0), s.set(1, 0.005, 3), s.set(2, 30.0, 6);
    EXPECT_EQ(capture([&](FILE *f) { txt_output2(nullptr, nullptr, s.seq.data(), 3, f, s.m(), s.offsets.data()); }),
              "# Unnamed sequence\n#\n# Position  Residue      Register    P-score    ( Score )\n"
              "       1       L             a       1.00000    (   -inf)\n"
              "       2       I             e       0.18063    (   0.01)\n"
              "       3       V             b       0.00000    (  30.00)\n");
}

TEST(Logs, ScoreLineAndCoilReport)
{
    EXPECT_EQ(capture([](FILE *f) { log_output_ver(NaN, 2, "T", "C", f); log_output_ver(-INF, 12345, "T", "C", f); }),
              "   2 -100000.000000 C T\n12345 -100000.000000 C T\n");
    EXPECT_EQ(Scored(30, 8.81).report(0, 8.81, 0.025, 0.025, 4),  // p-score 0.025 is 8.81: equal is not above
              fmt("4 \tC1\n\tT1\n\t  %6.4g @   1 : a\n [End: 30]\n\n", score2prob(8.81)));
    Scored s(20);  // offset change, single residue, score equal to the bound, region open at the end
    const double runs[][3] = {{2, 10.0, 3}, {3, 10.0, 3}, {4, 10.0, 3},  {5, 11.0, 5},  {6, 9.5, 5},
                              {9, 9.0, 1},  {12, 8.81, 2}, {17, 12.0, 0}, {18, 12.0, 0}, {19, 11.0, 0}};
    for (const auto &r : runs) s.set(int(r[0]), r[1], int(r[2]));
    auto entry = [](double mx, int a, int b, char c) { return fmt("  %1.4f@ %4d-%4d:%c;  ", score2prob(mx), a, b, c); };
    std::string want = fmt("2 \tC1\n\tT1\n\t  %6.4g @  18 : d\n [", score2prob(12.0)) + entry(10.0, 3, 5, 'f') +
                       entry(11.0, 6, 7, 'd') + entry(9.0, 10, 10, 'd') + entry(12.0, 18, 20, 'd') + "End: 20]\n\n";
    EXPECT_EQ(s.report(0, 12.0, 0.025, 0.025, 2), want);
    // No residue scores 5.0: the peak is past the end, with the register of offset 0 there.
    EXPECT_NE(Scored(20).report(0, 5.0, 0.5, 0.5).find(fmt("\t  %6.4g @  21 : g\n", score2prob(5.0))), npos);
    EXPECT_EQ(Scored(30, -INF).report(0, -INF, 0.5, 0.5),
              "1 \tC1\n\tT1\n\t       1 @   1 : a\nNo coiled coils found.\n");
}

TEST(Map, RowsAndFlags)
{
    for (int n : {70, 71}) EXPECT_EQ(Scored(n, 10.0).map(MODE_MAP, 0.0, -100.0), map_text(n)) << n;
    Scored s(10, 5.0);
    s.set(0, -1.0, 0), s.set(1, 0.5, 2), s.set(2, 2.9, 0), s.set(3, 3.0, 0), s.set(7, 0.0, 0);
    s.reg[4] = 3;  // given registers count only for "+", which hides residues without one
    s.reg[5] = s.reg[6] = 0;
    EXPECT_EQ(s.map(MODE_MAP, 0.0, 3.0), map_text(10, ".DCdefgAbc"));  // 0.0 is a coil, 3.0 is not flagged
    EXPECT_EQ(s.map(MODE_MAP | MODE_MAP_GIVEN, 0.0, 3.0), map_text(10, "....efg..."));
    EXPECT_EQ(s.map(MODE_MAP | MODE_MAP_FLAGGED, 0.0, -3.0), "");  // "-" with nothing flagged: no map
    Scored k(8, 5.0);  // known registers (-pos, -1)
    k.reg = {0, 1, 3, NOREG, NOREG, 5, 6, 0};
    k.set(4, -2.0, 0), k.set(5, -2.0, 0);  // no coil and none given: "."; a known coil missed: flagged given register
    for (int mode : {MODE_POS, MODE_LEAVEOUT}) EXPECT_EQ(k.map(MODE_MAP | mode, 0.0, -100.0), map_text(8, "abCD.Fga"));
    // In the report the bound is a p-score and the upper bound a raw score: 0.25 is above -7.69 (p-score 0.5),
    // below 0.5 and 8.81 (p-score 0.025) and above 0.025.
    Scored r(30, 0.25);
    std::string head = fmt("1 \tC1\n\tT1\n\t  %6.4g @   1 : a\n", score2prob(0.25));
    std::string regions = fmt(" [  %1.4f@    1-  30:a;  End: 30]\n\n", score2prob(0.25));
    EXPECT_EQ(r.report(MODE_MAP | MODE_MAP_FLAGGED, 0.25, 0.5, 0.025), head + regions);
    EXPECT_EQ(r.report(MODE_MAP, 0.25, 0.5, 0.025), head + map_text(30) + regions);
}

TEST(Plot, WholePageForSmallSequence)
{
    WINDOW = 30;
    std::string want =
        "%! \n90 rotate 50 -200 translate\n/cshow {dup stringwidth pop -2 div 0 rmoveto show}def\n"
        "/rshow {dup stringwidth pop neg 0 rmoveto show}def\n/Times-Roman findfont 18 scalefont setfont\n"
        "50 150 moveto (S1) show 50 100 moveto(title) show\n /sy 125 def /ry 100 def /ty 150 def \n"
        " /sx 560 def /ux 650 def /tx 500 def\ntx sy moveto(sequence) rshow tx ry moveto(region) rshow\n"
        "sx ty moveto(Stock) cshow ux ty moveto(us) cshow\nsx sy moveto(2.250000) cshow ux sy moveto(0.500000) "
        "cshow\nsx ry moveto(2.250000) cshow ux ry moveto(0.500000) cshow\n315 sy moveto (region 1-3) show\n"
        "/vx 230.666667 def /vy 5 def\n/adjust {exch vx mul exch vy mul} def\n/-Inf -150 def\n"
        "/m {adjust moveto vx 0 rlineto} def\n/l {adjust lineto vx 0 rlineto} def\n"
        "/min {1 index 1 index lt {pop} {exch pop} ifelse} def\n"
        "/bar {exch vx mul 0 moveto 0 exch vy mul rlineto stroke} def\n"
        "/foo {2 index 2 index 2 index      1 index 1 index gt      {0.3 0.7 1 setrgbcolor pop bar} "
        "{0.5 1 0 setrgbcolor exch pop bar} ifelse\n      min 1 0 0 setrgbcolor bar} def\n"
        "/Times-Roman findfont 10 scalefont setfont\n"
        "1 setlinewidth 0.7 setgray 0 15 adjust moveto 0 -50 adjust lineto stroke \n";
    const char *tick = "%d %d adjust moveto -5 0 rmoveto 10 0 rlineto stroke \n%d %d adjust moveto \n";
    for (int i = -50; i <= 15; i += 5) want += fmt(tick, 0, i, 0, i) + fmt("7 0 rmoveto (%d) show \n", i);
    want += "1 setlinewidth 0 setgray 3 15 adjust moveto 3 -50 adjust lineto stroke \n";
    const std::string labels = " 0.19 0.22 0.26 0.31 0.37 0.43 0.51 0.61 0.72 0.85 1.00 1.18 1.40 1.65";  // exp(i/30)
    for (int i = -50, k = 0; i <= 15; i += 5, k += 5)
        want += fmt(tick, 3, i, 3, i) + "-7 0 rmoveto (" + labels.substr(k, 5) + ") rshow \n";
    want += "vx 2 div setlinewidth 0.5 setgray\n2 setlinewidth \n0 setgray [2] 0 setdash \n1 1.500000 m\n"
            "2 2.250000 l\nstroke \n0.7 setgray [] 0 setdash\n0 0.500000 m\n2 -1.000000 m\nstroke \n"
            "0 setlinewidth 0 setgray 0 0 adjust moveto 3 0 adjust lineto stroke \n";
    for (int y : {10, -10})
        want += fmt("0 setlinewidth 0 setgray 0 %d adjust moveto 3 %d adjust lineto stroke \n", y, y);
    want += "0 -15 adjust moveto vx 2 div 0 rmoveto 0 30 vy mul rlineto stroke\n"
            "2 -15 adjust moveto vx 2 div 0 rmoveto 0 30 vy mul rlineto stroke\nshowpage\n\n";
    EXPECT_EQ(page({-INF, 1.5, 2.25}, {0.5, -INF, -1.0}, "S1", nullptr), want);

    WINDOW = 21;
    std::vector<double> sc(299, 1.0);  // ticks every 50 residues stop before the last one
    std::string out = page(sc, sc, "A", nullptr);
    EXPECT_NE(out.find("299 15 adjust moveto \n-7 0 rmoveto ( 2.04) rshow \n"), npos);  // exp(15 / 21)
    const std::string mark = " 0 adjust moveto vx 2 div  -5 rmoveto  0 10  rlineto stroke\n";
    EXPECT_NE(out.find("\n/vx 2.314381 def /vy 5 def\n"), npos);
    EXPECT_NE(out.find("lineto stroke \n49" + mark + "99" + mark + "149"), npos);
    EXPECT_NE(out.find("\n249" + mark + "0 -15 adjust"), npos);
}

TEST(Plot, RegionFileReadForward)
{
    std::vector<double> sc1(59), sc2(59);
    for (int i = 0; i < 59; i++) sc1[i] = i, sc2[i] = 100 - i;
    std::string longcode(1023, 'Q');
    std::string content = ">A 70 80\n>Y 3 4\njunk\n> B 0 5\n>C 5 3\n>D x 7\n>D 4 5\n>E 6 9\n\xff>E 7 7\n"
                          ">F -2147483648 2147483647\n>" + longcode + "QQQQQ 2 3\n";
    FILE *rf = fmemopen(content.data(), content.size(), "r");
    // The 0xFF byte ends one search as the end of the file would; the next goes on behind it.  Y's record
    // was passed over when B was searched; an overlong code is cut to 1023 characters.
    const struct { std::string code; int a, b; } cases[] = {
        {"A", 60, 59}, {"B", 1, 5},  {"C", 5, 4},      {"D", 4, 5},  {"E", 6, 9}, {"E", 1, 59},
        {"E", 7, 7},   {"F", 1, 59}, {longcode, 2, 3}, {"Y", 1, 59}, {"Z", 1, 59}};
    for (const auto &k : cases) {  // the region's highest scores, then its bounds
        std::string hi = k.b < k.a ? "-inf) cshow ux ry moveto(-inf"
                                   : fmt("%lf) cshow ux ry moveto(%lf", k.b - 1.0, 101.0 - k.a);
        std::string want = fmt("sx ry moveto(%s) cshow\n315 sy moveto (region %d-%d) show\n", hi.c_str(), k.a, k.b);
        EXPECT_NE(page(sc1, sc2, k.code.c_str(), rf).find(want), npos) << k.code;
    }
    std::fclose(rf);
}

// The per-residue table's own formatting against printf, and the p-score
// lookups against the linear scans that define them.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lib/markup.h"
#include "velcorin2/report.h"
#include "velcorin2/velcorin2.h"

using namespace velcorin2;

namespace {

const double INF = HUGE_VAL, NaN = std::nan("");

std::string printf_row(const PscoreTables &t, int32_t pos, char res, char reg, double score)
{
    char b[1024];
    const int n = std::snprintf(b, sizeof b, "%8d       %c             %c      %8.5f    (%7.2f)\n", pos, res, reg,
                                residue_pscore(t, score), score);
    return std::string(b, size_t(n));
}

// Scores a table row can show: exact halves and quarters of hundredths,
// values at the width limits, and random bit patterns (subnormals, NaNs,
// huge values).
std::vector<double> hard_values()
{
    std::vector<double> v = {0.0,       -0.0,     0.005,     -0.005,   1.005,     2.675,        -0.004999, -1e-300,
                             0.995,     9999.995, 999999.99, -999.995, -1000.004, 1e15 - 0.125, 1e15,      -9.99e14,
                             -4.9e-324, -DBL_MAX, INF,       -INF,     NaN,       -NaN};
    for (int k = -4000; k <= 4000; k++)
        for (double x : {k / 8.0, k * 0.005, k / 100.0}) v.push_back(x);
    std::mt19937_64 rng(11);
    for (double range : {1.0, 1e4, 1e9, 1e14})
        for (int k = 0; k < 3000; k++) v.push_back(std::uniform_real_distribution<double>(-range, range)(rng));
    for (int k = 0; k < 20000; k++) {
        const uint64_t bits = rng();
        std::memcpy(&v.emplace_back(), &bits, sizeof bits);
    }
    return v;
}

}  // namespace

TEST(Table, RowsAreByteIdenticalToFormattedOutput)
{
    const PscoreTables &t = builtin_pscores(28);
    const std::vector<double> vals = hard_values();
    const int32_t positions[] = {1, 12345678, 99999999, 100000000, 123456789, INT32_MAX, 0, -1, INT32_MIN};
    char got[TABLE_ROW_MAX];
    for (size_t i = 0; i < vals.size(); i++) {
        const int32_t pos = positions[i % std::size(positions)];
        const char res = i % 13 == 0 ? '\0' : 'W';
        const int n = format_table_row(t, got, pos, res, 'g', vals[i]);
        ASSERT_EQ(std::string(got, size_t(n)), printf_row(t, pos, res, 'g', vals[i])) << vals[i] << " at " << pos;
    }
}

// A whole table: the position stepped in place across every change of
// width, the score field reused while the score repeats.
TEST(Table, WholeTablesAreByteIdenticalToFormattedOutput)
{
    const PscoreTables &t = builtin_pscores(28);
    const std::vector<double> vals = hard_values();
    const int32_t n = 120000;
    Sequence rec;
    std::strcpy(rec.code, "c1");
    rec.length = n;
    rec.residues.resize(size_t(n));
    Prediction p;
    p.scored = true;
    p.length = n;
    p.score.resize(size_t(n));
    p.offset.resize(size_t(n));
    std::string want =
        "# Sequence Code: c1\n# Unnamed sequence\n#\n# Position  Residue      Register    P-score    ( Score )\n";
    for (int32_t i = 0; i < n; i++) {
        p.offset[size_t(i)] = int8_t(i * 5 % NREG);
        rec.residues[size_t(i)] = int8_t(i % 23);            // 22: a residue number no letter stands for
        const double s = vals[size_t(i / 3) % vals.size()];  // runs of three equal scores
        p.score[size_t(i)] = s;
        const char res = "LIVMFYGAKRHEDQNSTCWP-X"[i % 23];  // the NUL at 22 too
        want += printf_row(t, i + 1, res, char('a' + (p.offset[size_t(i)] + i) % NREG), s);
    }
    std::string got;
    write_residue_table(t, rec, p, got);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
}

// The lookups bisect or jump; a linear scan over the consulted rows is what
// they stand for.  Row 7000 is never consulted, and NaN compares with nothing.
TEST(Pscore, LookupsAgreeWithLinearScans)
{
    const PscoreTables &t = builtin_pscores(28);
    auto scan = [&](int col, double v, double none, int out) {
        for (int i = 0; i < RESIDUE_LOOKUP_ROWS; i++)
            if (t.residue[i][col] > v) return i ? t.residue[i - 1][out] : none;
        return t.residue[RESIDUE_LOOKUP_ROWS - 1][out];
    };
    std::vector<double> vs = {-INF, INF, NaN, -NaN, DBL_MAX, -DBL_MAX, 0.0, -0.0, DBL_MIN, 1e-300, -1.0, 2.0};
    for (int i = 0; i < RESIDUE_ROWS; i++)
        for (double v : {t.residue[i][0], 1.0 - t.residue[i][1]})
            for (double w : {v, std::nextafter(v, -INF), std::nextafter(v, INF), v + 0.005}) vs.push_back(w);
    for (double v : vs) {
        ASSERT_EQ(residue_pscore(t, v), 1.0 - scan(0, v, 0.0, 1)) << v;
        ASSERT_EQ(score_for_pscore(t, v), scan(1, 1.0 - v, 40.0, 0)) << v;
    }
    for (int w : {21, 28}) {
        const PscoreTables &tw = builtin_pscores(w);
        const auto &rows = tw.sequence;
        for (int k = 0; k < SEQUENCE_ROWS; k++)
            for (double v : {rows[k][0], std::nextafter(rows[k][0], -INF), -INF, NaN}) {
                double want = 1.0;
                for (int i = 0; i < SEQUENCE_ROWS && want == 1.0; i++)
                    if (rows[i][0] > v) want = rows[i][1];
                ASSERT_EQ(sequence_pscore(tw, v), want) << v;
            }
    }
    // Rows as published with the tables: {row, p-score of 28, of 21}.
    EXPECT_EQ(t.residue[4000][1], 0.81936708);
    EXPECT_EQ(t.residue[3232][1], 0.500379);
    const double published[][3] = {{0, 0, 0},
                                   {1, 0, 0.000158},
                                   {90, 0, 0.000316},
                                   {91, 0.00016, 0.000474},
                                   {239, 0.003525, 0.004265},
                                   {339, 0.010253, 0.012162},
                                   {439, 0.032842, 0.036803},
                                   {539, 0.128004, 0.133312},
                                   {589, 0.312079, 0.315906},
                                   {616, 0.492951, 0.494551},
                                   {617, 0.500961, 0.502448},
                                   {639, 0.670298, 0.670826},
                                   {689, 0.935918, 0.935871},
                                   {739, 0.994233, 0.994314},
                                   {789, 0.999519, 0.999526},
                                   {804, 0.99984, 0.999842},
                                   {805, 1, 1},
                                   {812, 1, 1}};
    for (const auto &r : published)
        EXPECT_TRUE(builtin_pscores(28).sequence[int(r[0])][1] == r[1] &&
                    builtin_pscores(21).sequence[int(r[0])][1] == r[2])
            << "row " << r[0];
}

// Regions by hand: at the threshold that the score 0.00 reaches exactly, a
// region starts at the first residue whose p-score is below it and ends
// before the first that is not (0.00 itself, lower, or NaN); its register
// segments follow each change of offset, one-residue segments at either end
// included, each named by the register of its first residue.
TEST(Regions, BoundsAndRegisterSegments)
{
    constexpr int32_t n = 16;
    const double NaN_ = std::nan("");
    const double best[n] = {-1, 2, 3, 3, 3, 9, 3, 3, 3, 4, 3, 0.0, 5, 6, NaN_, 7};
    const int8_t offsets[n] = {0, 0, 4, 4, 4, 4, 4, 4, 4, 4, 2, 0, 0, 0, 0, 3};
    auto m = std::make_unique<Model>();
    m->pscores = builtin_pscores(28);
    const double at_zero = residue_pscore(m->pscores, 0.0);
    Prediction p;
    p.scored = true;
    p.length = n;
    p.score.assign(best, best + n);
    p.offset.assign(offsets, offsets + n);
    Sequence rec;
    std::strcpy(rec.code, "x");
    rec.length = n;
    std::vector<Region> regions;
    std::string tsv;
    find_regions(*m, p, at_zero, 1, regions);
    write_regions_tsv(m->pscores, rec, p, 1, regions, tsv);
    // code, start, end, length, (p-score), best, register, segments
    std::vector<std::string> rows;
    for (size_t at = 0, nl; (nl = tsv.find('\n', at)) != std::string::npos; at = nl + 1) {
        std::string row = tsv.substr(at, nl - at);
        const size_t p1 = row.find('\t', row.find('\t', row.find('\t', row.find('\t') + 1) + 1) + 1);
        rows.push_back(row.substr(0, p1) + row.substr(row.find('\t', p1 + 1)));
    }
    const std::vector<std::string> want = {"x\t2\t11\t10\t9.00\tb\t2-2:b,3-10:g,11-11:f\tno",
                                           "x\t13\t14\t2\t6.00\tf\t13-14:f\tno", "x\t16\t16\t1\t7.00\te\t16-16:e\tno"};
    EXPECT_EQ(rows, want);

    find_regions(*m, p, at_zero, 10, regions);
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_EQ(regions[0].to, 10);
    find_regions(*m, p, at_zero, 11, regions);
    EXPECT_TRUE(regions.empty());
}

// Titles and codes in the SVG profile and the HTML report: markup, invalid
// UTF-8, controls and direction overrides come out as visible text.
TEST(Markup, AnyBytesBecomeText)
{
    std::string out;
    append_markup_text(out, "<b a='1'>&\"\t\x01\xff\xc0\xaf caf\xc3\xa9 \xe2\x80\xae\xef\xbf\xbf");
    EXPECT_EQ(out,
              "&lt;b a=&#39;1&#39;&gt;&amp;&quot; \\x01\\xFF\\xC0\\xAF caf\xc3\xa9 \\xE2\\x80\\xAE\\xEF\\xBF\\xBF");
    out.clear();
    append_markup_text(out, "abcdef", 3);
    EXPECT_EQ(out, "abc...");
    out.clear();
    append_data_uri(out, "<svg a=\"#\">\n%&</svg>");
    EXPECT_EQ(out, "%3Csvg a='%23'%3E%0A%25%26%3C/svg%3E");
}

// The summary and the report write numbers with std::to_chars: the same
// bytes as the printf formats of the logs and the region files.
TEST(Markup, NumbersAsPrintfWritesThem)
{
    uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 20000; i++) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        const double v =
            i < 10000 ? double(int64_t(x % 2000001) - 1000000) / 1000.0 : std::ldexp(double(x >> 11), -60 - i % 40);
        char want[400];
        std::string got;
        append_fixed(got, v, 2);
        std::snprintf(want, sizeof want, "%.2f", v);
        ASSERT_EQ(got, want);
        got.clear();
        append_general(got, v, 4);
        std::snprintf(want, sizeof want, "%.4g", v);
        ASSERT_EQ(got, want);
    }
}

// The profile of records too short to score, empty or not: the frame and a
// note, never a read past the record; with stock scores, both curves.
TEST(SvgProfile, ShortRecordsAndStock)
{
    ModelRecipe recipe;
    recipe.background_counts = VELCORIN2_SOURCE_DIR "/data/genfreq.dat";
    recipe.coil_counts = VELCORIN2_SOURCE_DIR "/data/posfreq.dat";
    const auto model = load_model(recipe);
    Workspace w;
    Prediction p;
    for (const char *letters : {"", "MKV"}) {
        const Sequence seq = sequence_from_letters("s", "", letters);
        predict(*model, seq, {}, w, p);
        std::string svg;
        write_svg_profile(*model, seq, p, SvgOptions{}, svg);
        EXPECT_NE(svg.find("not scored: shorter than 28 residues"), std::string::npos);
        EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
    }
    const Sequence gcn4 = sequence_from_letters("gcn4", "", "MKQLEDKVEELLSKNYHLENEVARLKKLVGER");
    predict(*model, gcn4, PredictOptions{false, true}, w, p);
    std::string svg;
    SvgOptions o;
    o.stock = true;
    write_svg_profile(*model, gcn4, p, o, svg);
    EXPECT_NE(svg.find("stock scoring: raw score, right axis"), std::string::npos);
    EXPECT_NE(svg.find("1-32:"), std::string::npos);  // the region and its register segment
}

// A residue is in a region exactly when the p-score the table prints for it
// is below the threshold: scores on, just below and between the grid rows,
// at thresholds on and between the rows' p-scores, for the built-in and a
// calibrated table.
TEST(Regions, MembershipIsThePscoreBelowTheThreshold)
{
    auto m = std::make_unique<Model>();
    Prediction p;
    p.scored = true;
    std::vector<double> thresholds = {0.05, 0.01, 0.001, 0.5, 1.0, 0.0};
    for (int r = 0; r < RESIDUE_ROWS; r += 7) {
        const double g = (r - 4000) / 100.0;
        p.score.insert(p.score.end(), {std::nextafter(g, -HUGE_VAL), g, g + 0.005});
    }
    p.score.insert(p.score.end(), {-HUGE_VAL, HUGE_VAL, 1e300});
    p.length = int32_t(p.score.size());
    p.offset.assign(p.score.size(), 0);
    Calibration cal;
    for (int i = 0; i < RESIDUE_ROWS; i++) cal.residue[0].q[i] = (i + 1) * (CAL_UNIT / (RESIDUE_ROWS + 1));
    cal.sequence[0].scored = 1;
    for (int slot = 0; slot < 2; slot++) {
        if (slot == 0)
            m->pscores = builtin_pscores(28);
        else
            calibrated_pscores(cal, 28, m->pscores);
        for (int r = 0; r < RESIDUE_LOOKUP_ROWS; r += 13)
            for (double v : {1.0 - m->pscores.residue[r][1], std::nextafter(1.0 - m->pscores.residue[r][1], 2.0)})
                thresholds.push_back(v);
        std::vector<Region> regions;
        for (double t : thresholds) {
            find_regions(*m, p, t, 1, regions);
            std::vector<bool> in(p.score.size(), false);
            for (const Region &g : regions)
                for (int32_t i = g.from; i <= g.to; i++) in[size_t(i)] = true;
            for (size_t i = 0; i < p.score.size(); i++)
                ASSERT_EQ(in[i], residue_pscore(m->pscores, p.score[i]) < t) << p.score[i] << " at " << t;
        }
    }
}

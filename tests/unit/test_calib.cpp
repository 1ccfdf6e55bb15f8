// The calibration: a background of known law is reproduced, the tables keep
// their invariants on degenerate data, the file reads back exactly and a
// damaged or foreign file is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "velcorin2/counting.h"
#include "velcorin2/io.h"
#include "velcorin2/velcorin2.h"

using namespace velcorin2;

namespace {

double grid(int i) { return (i - 4000) / 100.0; }

// Scores at the midpoint quantiles of a Laplace law (location m, scale b):
// its distribution function is known everywhere and both tails are exactly
// exponential, which is what the fit assumes beyond its tail points.
std::vector<double> laplace(double m, double b, int n)
{
    std::vector<double> x(static_cast<size_t>(n));
    for (int j = 0; j < n; j++) {
        const double p = (j + 0.5) / n;
        x[size_t(j)] = p < 0.5 ? m + b * std::log(2 * p) : m - b * std::log(2 * (1 - p));
    }
    return x;
}
double laplace_below(double m, double b, double s)
{
    return s < m ? 0.5 * std::exp((s - m) / b) : 1 - 0.5 * std::exp(-(s - m) / b);
}

// Invariants every residue table keeps, whatever the data.
void expect_invariants(const CalResidueTable &t)
{
    EXPECT_GE(t.q[0], 1);
    EXPECT_LE(t.q[RESIDUE_ROWS - 1], CAL_UNIT - 1);
    for (int i = 1; i < RESIDUE_ROWS; i++) ASSERT_GT(t.q[i], t.q[i - 1]) << "row " << i;
}

TEST(Calib, KnownLawIsReproduced)
{
    const double m = -5.0, b = 3.0;
    const int n = 200000;
    auto t = std::make_unique<CalResidueTable>();
    std::string why;
    ASSERT_TRUE(fit_residue_table(laplace(m, b, n), *t, &why)) << why;
    expect_invariants(*t);
    // Between the tail points (0.1 % of the scores at each end) the table is
    // the empirical distribution: within one score of the law.  Beyond them
    // the exponential tails follow the law's own to 3 per cent, out to
    // probabilities near 1e-6 at 30.
    EXPECT_NEAR(t->upper_scale, b, 0.01 * b);
    EXPECT_NEAR(t->lower_scale, b, 0.01 * b);
    for (int i = 0; i < RESIDUE_ROWS; i++) {
        const double fit = double(t->q[i]) * 1e-12, law = laplace_below(m, b, grid(i));
        if (grid(i) >= t->lower && grid(i) <= t->upper)
            ASSERT_NEAR(fit, law, 1.0 / n + 1e-12) << grid(i);
        else if (grid(i) < t->lower)
            ASSERT_NEAR(fit / law, 1.0, 0.03) << grid(i);
        else
            ASSERT_NEAR((1 - fit) / (1 - law), 1.0, 0.03) << grid(i);
    }

    // The sequence table counts the same law on its own grid.
    auto s = std::make_unique<CalSequenceTable>();
    std::vector<double> y = laplace(m, b, 5000);
    ASSERT_TRUE(fit_sequence_table(y, *s, &why));
    EXPECT_EQ(s->scored, 5000);
    for (int k = 0; k < SEQUENCE_ROWS; k++)
        ASSERT_NEAR(s->c[k] / 5000.0, laplace_below(m, b, (k - 639) / 10.0), 1.0 / 5000) << k;
}

TEST(Calib, ScoresOnTheGridCountWhereTheLookupsNeedThem)
{
    // A residue score equal to a grid score reaches that row (q counts the
    // scores strictly below); a sequence score equal to a grid score is not
    // below it.
    std::vector<double> x = laplace(0.0, 2.0, 4000);
    x.insert(x.end(), 200, 1.0);  // 200 scores exactly at row 4100
    std::sort(x.begin(), x.end());
    auto t = std::make_unique<CalResidueTable>();
    std::string why;
    ASSERT_TRUE(fit_residue_table(x, *t, &why)) << why;
    for (int i : {4099, 4100, 4101}) {
        const int64_t below = std::lower_bound(x.begin(), x.end(), grid(i)) - x.begin();
        EXPECT_EQ(t->q[i], std::llround(double(below) / 4200 * 1e12)) << i;
    }
    EXPECT_GT(t->q[4101] - t->q[4100], std::llround(200.0 / 4200 * 1e12));

    auto s = std::make_unique<CalSequenceTable>();
    ASSERT_TRUE(fit_sequence_table({-70.0, -63.9, -1.0, -1.0, 0.04, 17.3, 25.0}, *s, &why));
    EXPECT_EQ(std::vector<int>(s->c, s->c + 2), (std::vector<int>{1, 2}));          // -63.9, -63.8
    EXPECT_EQ(std::vector<int>(s->c + 629, s->c + 631), (std::vector<int>{2, 4}));  // -1.0, -0.9
    EXPECT_EQ(std::vector<int>(s->c + 639, s->c + 641), (std::vector<int>{4, 5}));  // 0.0, 0.1
    EXPECT_EQ(s->c[812], 5);                                                        // 17.3
}

TEST(Calib, DegenerateDataKeepTheInvariantsOrAreRefused)
{
    struct Case {
        const char *what;
        std::vector<double> x;
        bool fits;
    };
    std::vector<double> light(1000), far(5000), spread(1000);             // filled below
    for (int j = 0; j < 1000; j++) light[size_t(j)] = -0.5 + j / 1000.0;  // exp underflows in both tails
    for (int j = 0; j < 5000; j++) far[size_t(j)] = 25.0 + j / 100.0;     // most of them beyond 30.00
    for (int j = 0; j < 1000; j++) spread[size_t(j)] = -60.0 + j * 0.11;  // beyond both ends of the grid
    const std::vector<Case> cases = {
        {"999 scores", laplace(0, 3, 999), false},
        {"1000 scores", laplace(0, 3, 1000), true},
        {"one score 1000 times", std::vector<double>(1000, 2.0), false},
        {"two scores",
         [] {
             std::vector<double> v(1000, -1.0);
             std::fill(v.begin() + 500, v.end(), 1.0);
             return v;
         }(),
         true},
        {"light tails", light, true},
        {"mostly above the grid", far, true},
        {"beyond both ends", spread, true},
    };
    for (const Case &c : cases) {
        auto t = std::make_unique<CalResidueTable>();
        std::string why;
        EXPECT_EQ(fit_residue_table(c.x, *t, &why), c.fits) << c.what;
        EXPECT_EQ(why.empty(), c.fits) << c.what;
        if (c.fits) expect_invariants(*t);
    }
    auto s = std::make_unique<CalSequenceTable>();
    std::string why;
    EXPECT_FALSE(fit_sequence_table({}, *s, &why));
}

// ---- The file ------------------------------------------------------------------------

// A complete calibration of two Laplace backgrounds.
std::unique_ptr<Calibration> sample()
{
    auto c = std::make_unique<Calibration>();
    c->distance_count = 3;
    c->distances[0] = 1, c->distances[1] = 2, c->distances[2] = 3;
    c->model = 0x0123456789abcdefull;
    c->source = "a.fa b.fa.gz";
    c->chains = 40, c->residues = 9000;
    std::string why;
    for (int w = 0; w < 2; w++) {
        EXPECT_TRUE(fit_residue_table(laplace(-5.0 - w, 4.0, 5000), c->residue[w], &why));
        EXPECT_TRUE(fit_sequence_table(laplace(-1.0 + w, 5.0, 40), c->sequence[w], &why));
    }
    return c;
}

std::string text_of(const Calibration &c)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    EXPECT_TRUE(write_calibration(f, c));
    std::fclose(f);
    std::string s(buf, len);
    std::free(buf);
    return s;
}

// read: the calibration in `text`, or the failure's text.
std::string read(std::string text, Calibration &c)
{
    FILE *f = fmemopen(text.data(), text.size(), "r");
    try {
        read_calibration(f, "cal.dat", c);
    } catch (const Error &e) {
        std::fclose(f);
        EXPECT_EQ(e.status, STATUS_ERROR);
        return e.text;
    }
    std::fclose(f);
    return "";
}

TEST(Calib, FileReadsBackExactly)
{
    auto c = sample();
    const std::string text = text_of(*c);
    const std::string header = "velcorin2 calibration 1\ndistances 1 2 3\nprolines end segments\n"
                               "model 0123456789abcdef\nsource a.fa b.fa.gz\nchains 40 residues 9000\n";
    EXPECT_EQ(text.substr(0, header.size()), header);
    auto back = std::make_unique<Calibration>();
    ASSERT_EQ(read(text, *back), "");
    EXPECT_EQ(text_of(*back), text);
    EXPECT_EQ(std::vector<int64_t>(back->residue[1].q, back->residue[1].q + RESIDUE_ROWS),
              std::vector<int64_t>(c->residue[1].q, c->residue[1].q + RESIDUE_ROWS));

    // The run's tables: the residue table of its window length, each value
    // the double the row's text reads as, and the sequence values of c / N
    // to six decimals; the grids are the built-in ones.
    auto t = std::make_unique<PscoreTables>();
    calibrated_pscores(*back, 21, *t);
    const PscoreTables &b = builtin_pscores(21);
    for (int i : {0, 1, 2500, 4000, 6999, 7000}) {
        char row[64];
        std::snprintf(row, sizeof row, "0.%012lld", (long long)c->residue[1].q[i]);
        EXPECT_EQ(t->residue[i][1], std::strtod(row, nullptr)) << i;
        EXPECT_EQ(t->residue[i][0], b.residue[i][0]);
    }
    EXPECT_EQ(t->sequence[639][1], std::strtod(std::to_string(c->sequence[1].c[639] / 40.0).c_str(), nullptr));
    EXPECT_EQ(residue_pscore(*t, 0.0), 1.0 - double(c->residue[1].q[4000]) / 1e12);
}

// edit: `text` with the first occurrence of `from` (after `after`) replaced by `to`.
std::string edit(std::string text, const std::string &from, const std::string &to, const std::string &after = "")
{
    size_t at = text.find(from, text.find(after));
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

TEST(Calib, DamagedFilesAreRefused)
{
    auto c = sample();
    const std::string good = text_of(*c);
    const size_t table21 = good.find("residue 21");
    const std::string row5 = good.substr(good.find("\n-39.96 ") + 1, 22);  // "-39.96 0.<12 digits>\n"
    const std::string seqrow = good.substr(good.find("\n0.0 ", good.find("sequence 28")) + 1);
    const std::string seqrow0 = seqrow.substr(0, seqrow.find('\n') + 1);
    const std::string last = good.substr(good.rfind('\n', good.size() - 2) + 1);  // the last row
    const std::string E = "ERROR: Error while reading from calibration file cal.dat, ";
    struct Case {
        const char *what;
        std::string text, error;
    };
    const std::vector<Case> cases = {
        {"another version", edit(good, "calibration 1", "calibration 2"),
         "ERROR: Bad Magic Number of calibration file cal.dat (its first line must be 'velcorin2 calibration 1')\n"},
        {"cut after a row", good.substr(0, table21),
         E + "line 7823: the file ends where the window-21 residue table is expected\n"},
        {"cut inside a row", good.substr(0, good.find("\n-39.96 ") + 12),
         E + "line 12: '-39.96 0.00' where row -39.96 of the window-28 residue table ('-39.96 0.' and 12 digits) "
             "is expected\n"},
        {"row not above the one before", edit(good, row5, row5.substr(0, 7) + "0.000000000001\n"),
         E + "line 12: the probability of row -39.96 of the window-28 residue table is not above the row before\n"},
        {"wrong grid score", edit(good, row5, "-39.97" + row5.substr(6)),
         E + "line 12: '-39.97 " + row5.substr(7, 14) +
             "' where row -39.96 of the window-28 residue table ('-39.96 0.' and 12 digits) is expected\n"},
        {"count falls", edit(good, seqrow0, "0.0 0 0.000000\n"),
         E + "line 7649: the count of row 0.0 of the window-28 sequence table is below the row before\n"},
        {"value is not count / scored", edit(good, seqrow0, seqrow0.substr(0, seqrow0.size() - 2) + "1\n"),
         E + "line 7649: '" + seqrow0.substr(0, seqrow0.size() - 2) +
             "1' where row 0.0 of the window-28 sequence table (score, count, count / 40 to six decimals) is "
             "expected\n"},
        {"tables swapped", edit(good, "residue 28", "residue 21"),
         E + "line 7: '" + good.substr(good.find("residue 28"), 60).replace(8, 2, "21") +
             "' where the header of the window-28 residue table ('residue 28 scores ... rows 7001') is expected\n"},
        {"distances not apart", edit(good, "distances 1 2 3", "distances 1x2 3"),
         E + "line 2: 'distances 1x2 3' where 'distances' and one to seven classes 0 to 6 is expected\n"},
        {"distance class 7", edit(good, "distances 1 2 3", "distances 1 2 7"),
         E + "line 2: 'distances 1 2 7' where 'distances' and one to seven classes 0 to 6 is expected\n"},
        {"carriage returns", edit(good, "prolines end segments\n", "prolines end segments\r\n"),
         E + "line 3: 'prolines end segments' where 'prolines end segments' or 'prolines do not end segments' "
             "is expected\n"},
        {"trailing bytes", good + "\n", E + "line 15639: text after the last table\n"},
        {"probability 0", edit(good, good.substr(good.find("\n-40.00 ") + 1, 22), "-40.00 0.000000000000\n"),
         E + "line 8: probability 0 in row -40.00 of the window-28 residue table; every probability must be above 0\n"},
        {"last newline missing", good.substr(0, good.size() - 1),
         E + "line 15638: '" + last.substr(0, last.size() - 1) +
             "' where row 17.3 of the window-21 sequence table (score, count, count / 40 to six decimals) is "
             "expected\n"},
    };
    for (const Case &k : cases) {
        auto back = std::make_unique<Calibration>();
        EXPECT_EQ(read(k.text, *back), k.error) << k.what;
    }
}

TEST(Calib, OnlyTheModelItWasMadeForMayUseIt)
{
    auto c = sample();
    struct Run {
        std::vector<int8_t> distances;
        bool prolines_end_segments;
    };
    const Run s{{3, 1, 2}, true};  // the order of the classes does not matter
    auto check = [&](const Run &r, uint64_t model) -> std::string {
        try {
            check_calibration(*c, r.distances.data(), int32_t(r.distances.size()), r.prolines_end_segments, model,
                              "cal.dat");
        } catch (const Error &e) {
            EXPECT_EQ(std::pair(e.status, e.to_stderr), std::pair(STATUS_ERROR, false));
            return e.text;
        }
        return "";
    };
    EXPECT_EQ(check(s, c->model), "");
    const std::string head = "ERROR: Calibration file cal.dat does not fit this run: ";
    const std::string tail = "; velcorin2-counts calibrate makes one for it\n";
    Run other = s;
    other.distances[0] = 4;
    EXPECT_EQ(check(other, c->model), head +
                                          "it was made for distance classes 1 2 3 with prolines ending segments, the "
                                          "run uses 4 1 2 with prolines ending segments" +
                                          tail);
    other = s;
    other.prolines_end_segments = false;
    EXPECT_EQ(check(other, c->model), head +
                                          "it was made for distance classes 1 2 3 with prolines ending segments, the "
                                          "run uses 3 1 2 with prolines not ending segments" +
                                          tail);
    EXPECT_EQ(check(s, 0xfedcba9876543210ull),
              head + "it was made with other count files (model 0123456789abcdef, this run's fedcba9876543210)" + tail);
}

}  // namespace

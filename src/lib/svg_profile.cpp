// svg_profile: the profile of one prediction as a self-contained SVG
// picture: -log10(p-score) along the sequence, the region threshold, the
// regions with their register segments, the registers under the axis and,
// with stock scores, the stock curve on an axis of its own.
//
// Only presentation attributes are used (no <style>, no ids, no links), so
// that any number of profiles can stand in one page without one restyling
// another, and the picture shows the same wherever it is opened.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "markup.h"
#include "velcorin2/report.h"

namespace velcorin2 {

namespace {

// Layout in pixels.  The plot area is the box [left, left + pw] x [top, top + ph].
constexpr int WIDTH = SVG_PROFILE_WIDTH, HEIGHT = SVG_PROFILE_HEIGHT;
constexpr double TOP = 74, PLOT_HEIGHT = 220, LEFT = 70;
constexpr double BOTTOM = TOP + PLOT_HEIGHT;
static_assert(HEIGHT == int(BOTTOM) + 72, "room under the plot for letters, ticks and the axis title");
constexpr int32_t LETTERS_UP_TO = 150;  // residue and register letters up to this length, a band beyond
constexpr double PSCORE_FLOOR = 1e-15;  // p-scores of 0 are drawn at this height
constexpr double MIN_Y_RANGE = 2.0;     // the y axis reaches p = 0.01 at least

// Colours: pair curve, stock curve, threshold, regions, and the seven
// register offsets of the band (offset k sets residue i in register (i + k) mod 7).
const char *const PAIR_COLOUR = "#1f5fa8", *const STOCK_COLOUR = "#555555", *const THRESHOLD_COLOUR = "#c0392b",
                  *const REGION_COLOUR = "#f6c28b";
const char *const OFFSET_COLOURS[NREG] = {"#4e79a7", "#f28e2b", "#59a14f", "#e15759", "#76b7b2", "#b07aa1", "#9c755f"};

struct Frame {
    double pw;  // plot width
    int32_t n;  // residues
    double edge(int32_t i) const { return LEFT + pw * i / n; }
    double mid(int32_t i) const { return LEFT + pw * (i + 0.5) / n; }
};

struct Axis {
    double lo, hi, step;
    double y(double v) const { return BOTTOM - PLOT_HEIGHT * (v - lo) / (hi - lo); }
};

bool finite_score(double s) { return s >= -DBL_MAX && s <= DBL_MAX; }

// nice_step: 1, 2 or 5 times a power of ten, at least `raw`.
double nice_step(double raw)
{
    if (!(raw > 0)) return 1;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * p >= raw * (1 - 1e-9)) return m * p;
    return 10 * p;
}

double height_of(const PscoreTables &t, double score)
{
    return -std::log10(std::max(residue_pscore(t, score), PSCORE_FLOOR));
}

// tenths: a coordinate in tenths of a pixel, rounded half away from zero.
inline int64_t tenths(double v) { return int64_t(v * 10 + (v < 0 ? -0.5 : 0.5)); }

// put: `lead`, then `between` (if any), then the coordinate `t` (in
// tenths) as "%.1f" writes it, in one append: printf's floating-point
// formatting would be the dearest part of a profile, and coordinates are many.
void put(std::string &out, char lead, int64_t t, const char *between = nullptr)
{
    char b[128];
    int n = 0;
    b[n++] = lead;
    if (between)
        for (const char *c = between; *c && n < 96; c++) b[n++] = *c;
    if (t < 0) {
        b[n++] = '-';
        t = -t;
    }
    char digits[24];
    int d = 0;
    int64_t whole = t / 10;
    do digits[d++] = char('0' + whole % 10);
    while ((whole /= 10) > 0);
    while (d > 0) b[n++] = digits[--d];
    b[n++] = '.';
    b[n++] = char('0' + t % 10);
    out.append(b, size_t(n));
}

// letter_after_x: the rest of a one-letter <text> after its x: y, fill
// (when given) and the letter.
void letter_after_x(std::string &out, double y, const char *fill, char letter)
{
    put(out, '"', tenths(y), " y=\"");
    if (fill) {
        out += "\" fill=\"";
        out += fill;
    }
    out += "\">";
    out += letter;
    out += "</text>";
}

// curve: a path through the residue centres, broken where `value` has no
// point; a lone point is drawn one residue wide.  Level stretches (window
// maxima make many) are one horizontal line each.  Steps are relative
// ("l dx dy", "h dx"): the differences of the rounded positions, so the
// points are exactly where absolute ones would be, in fewer bytes.
template <class Value> void curve(std::string &out, const Frame &f, const Axis &a, Value value, const char *attrs)
{
    out += "<path fill=\"none\" ";
    out += attrs;
    out += " d=\"";
    for (int32_t i = 0; i < f.n;) {
        double v;
        if (!value(i, v)) {
            i++;
            continue;
        }
        int64_t x = tenths(f.mid(i)), y = tenths(a.y(v)), level_to = -1;
        put(out, 'M', x);
        put(out, ' ', y);
        int32_t j = i;
        for (double w; j + 1 < f.n && value(j + 1, w);) {
            const int64_t xj = tenths(f.mid(++j)), yj = tenths(a.y(w));
            if (yj == y) {
                level_to = xj;
                continue;
            }
            if (level_to >= 0) put(out, 'h', level_to - x), x = level_to;
            level_to = -1;
            put(out, 'l', xj - x);
            put(out, ' ', yj - y);
            x = xj;
            y = yj;
        }
        if (level_to >= 0) put(out, 'h', level_to - x);
        if (j == i) {
            put(out, 'M', tenths(f.edge(i)));
            put(out, ' ', y);
            put(out, 'H', tenths(f.edge(i + 1)));
        }
        i = j + 1;
    }
    out += "\"/>\n";
}

void heading(std::string &out, const Sequence &seq)
{
    out += "<title>";
    append_markup_text(out, seq.code);
    out += ' ';
    append_markup_text(out, seq.title);
    out += "</title>\n<text x=\"12\" y=\"22\" font-size=\"15\" font-weight=\"bold\">";
    append_markup_text(out, seq.code[0] ? seq.code : "(no code)", 80);
    out += "</text>\n<text x=\"12\" y=\"40\" fill=\"#444444\">";
    append_markup_text(out, seq.title, 140);
    out += "</text>\n";
}

void legend(std::string &out, bool stock, double threshold)
{
    double x = 12;
    const double y = 60;
    auto item = [&](const char *mark, const char *label) {
        appendf(out, "<g transform=\"translate(%.0f %.0f)\">%s<text x=\"28\" y=\"4\">%s</text></g>\n", x, y, mark,
                label);
        x += 40 + 6.4 * double(std::string(label).size());
    };
    item(("<path d=\"M0 0H22\" stroke=\"" + std::string(PAIR_COLOUR) + "\" stroke-width=\"2\"/>").c_str(),
         "pair scoring: -log10(p-score), left axis");
    if (stock)
        item(("<path d=\"M0 0H22\" stroke=\"" + std::string(STOCK_COLOUR) +
              "\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\"/>")
                 .c_str(),
             "stock scoring: raw score, right axis");
    item(("<rect x=\"0\" y=\"-6\" width=\"22\" height=\"10\" fill=\"" + std::string(REGION_COLOUR) + "\"/>").c_str(),
         "region (register segments)");
    if (threshold > 0 && threshold <= 1) {
        std::string label;
        appendf(label, "threshold p = %g", threshold);
        item(
            ("<path d=\"M0 0H22\" stroke=\"" + std::string(THRESHOLD_COLOUR) + "\" stroke-dasharray=\"2 2\"/>").c_str(),
            label.c_str());
    }
}

void regions_layer(std::string &out, const Frame &f, const Prediction &p, const std::vector<Region> &regions)
{
    for (const Region &r : regions) {
        const double x0 = f.edge(r.from), x1 = f.edge(r.to + 1);
        appendf(out, "<rect x=\"%.1f\" y=\"%.0f\" width=\"%.1f\" height=\"%.0f\" fill=\"%s\" fill-opacity=\"0.55\"/>\n",
                x0, TOP, std::max(x1 - x0, 0.5), PLOT_HEIGHT, REGION_COLOUR);
        std::string label;
        append_register_segments(label, r, p.offset.data());
        // A label wider than its region shortens to its first segment.
        if (6.0 * double(label.size()) > x1 - x0 + 40) {
            const size_t comma = label.find(',');
            if (comma != std::string::npos) label = label.substr(0, comma) + ",...";
        }
        appendf(out, "<text x=\"%.1f\" y=\"%.0f\" font-size=\"10\" fill=\"#7a4a12\">%s</text>\n", x0 + 2, TOP + 11,
                label.c_str());
    }
}

// in_region: for each residue, whether a region holds it.
std::vector<char> region_mask(int32_t n, const std::vector<Region> &regions)
{
    std::vector<char> in(size_t(n), 0);
    for (const Region &r : regions)
        for (int32_t i = std::max(r.from, 0); i <= r.to && i < n; i++) in[size_t(i)] = 1;
    return in;
}

// letters: the residue letters and, where scored, the register letters,
// one under each residue; register letters inside regions are dark.
void letters(std::string &out, const Frame &f, const Sequence &seq, const Prediction &p, bool scored,
             const std::vector<char> &in)
{
    const double size = std::clamp(1.5 * f.pw / f.n, 6.0, 12.0);
    appendf(out, "<g font-family=\"monospace\" font-size=\"%.1f\" text-anchor=\"middle\">\n", size);
    // Each row is a group moved to its height, so that a letter needs only its x.
    auto letter = [&](int32_t i, char c) {
        put(out, '<', tenths(f.mid(i)), "text x=\"");
        out += "\">";
        out += c;
        out += "</text>";
    };
    appendf(out, "<g transform=\"translate(0 %.0f)\">", BOTTOM + 14);
    for (int32_t i = 0; i < seq.length; i++) {
        const char c = residue_letter(seq.residues[size_t(i)]);
        letter(i, c ? c : '?');
    }
    out += "</g>\n";
    for (const char region : {0, 1}) {
        appendf(out, "<g transform=\"translate(0 %.0f)\" fill=\"%s\">", BOTTOM + 27, region ? "#7a4a12" : "#aaaaaa");
        for (int32_t i = 0; scored && i < seq.length; i++)
            if (in[size_t(i)] == region && finite_score(p.score[size_t(i)]))
                letter(i, register_letter(int8_t(register_of(p, i))));
        out += "</g>\n";
    }
    out += "</g>\n";
}

// band: one bar per run of scored residues in one register offset, coloured
// by the offset (a change of colour is a change of heptad frame), faint
// outside regions, with the register of its first residue where it fits.
void band(std::string &out, const Frame &f, const Prediction &p, const std::vector<char> &in)
{
    for (int32_t i = 0; i < f.n;) {
        if (!finite_score(p.score[size_t(i)])) {
            i++;
            continue;
        }
        int32_t j = i + 1;
        while (j < f.n && finite_score(p.score[size_t(j)]) && p.offset[size_t(j)] == p.offset[size_t(i)] &&
               in[size_t(j)] == in[size_t(i)])
            j++;
        const double x0 = f.edge(i), w = f.edge(j) - x0;
        put(out, '<', tenths(x0), "rect x=\"");
        put(out, '"', tenths(w), " width=\"");
        put(out, '"', tenths(BOTTOM + 8), " y=\"");
        out += "\" height=\"12\" fill=\"";
        out += OFFSET_COLOURS[p.offset[size_t(i)] % NREG];
        out += in[size_t(i)] ? "\"/>\n" : "\" fill-opacity=\"0.3\"/>\n";
        if (w >= 10) {
            put(out, '<', tenths(x0 + 2), "text x=\"");
            letter_after_x(out, BOTTOM + 17, "#ffffff\" font-size=\"9", register_letter(int8_t(register_of(p, i))));
        }
        i = j;
    }
}

void x_axis(std::string &out, const Frame &f, bool short_protein)
{
    const double step = std::max(1.0, nice_step(f.n / 10.0));  // whole residues, also for the shortest records
    out += "<g font-size=\"11\" text-anchor=\"middle\">\n";
    std::vector<int64_t> ticks = {1};
    for (int64_t k = int64_t(step); k <= f.n; k += int64_t(step))
        if (k > 1) ticks.push_back(k);
    for (int64_t k : ticks) {
        const int64_t x = tenths(f.mid(int32_t(k - 1)));
        put(out, '<', x, "path d=\"M");
        put(out, ' ', tenths(BOTTOM));
        put(out, 'V', tenths(BOTTOM + 4));
        put(out, '"', x, " stroke=\"#000000\"/><text x=\"");
        put(out, '"', tenths(BOTTOM + 44), " y=\"");
        appendf(out, "\">%lld</text>\n", (long long)k);
    }
    appendf(out, "<text x=\"%.1f\" y=\"%.0f\">residue position%s</text>\n</g>\n", LEFT + f.pw / 2, BOTTOM + 62,
            short_protein ? " (residue and register letters under the axis)" : " (band: register segments)");
}

void y_axis(std::string &out, const Axis &a, double x, bool right, const char *title, bool grid, double pw)
{
    appendf(out, "<g font-size=\"11\" text-anchor=\"%s\">\n", right ? "start" : "end");
    appendf(out, "<path d=\"M%.1f %.0fV%.0f\" stroke=\"#000000\"/>\n", x, TOP, BOTTOM);
    const int steps = int(std::lround((a.hi - a.lo) / a.step));
    for (int k = 0; k <= steps; k++) {
        const double v = a.lo + k * a.step, y = a.y(v);
        if (grid) {
            put(out, '<', tenths(LEFT), "path d=\"M");
            put(out, ' ', tenths(y));
            put(out, 'H', tenths(LEFT + pw));
            out += "\" stroke=\"#e4e4e4\"/>\n";
        }
        put(out, '<', tenths(x), "path d=\"M");
        put(out, ' ', tenths(y));
        put(out, 'H', tenths(right ? x + 4 : x - 4));
        put(out, '"', tenths(right ? x + 7 : x - 7), " stroke=\"#000000\"/><text x=\"");
        put(out, '"', tenths(y + 4), " y=\"");
        out += "\">";
        append_general(out, std::fabs(v) < 1e-12 ? 0.0 : v, 6);
        out += "</text>\n";
    }
    const double tx = right ? x + 52 : x - 44, ty = TOP + PLOT_HEIGHT / 2;
    appendf(out,
            "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" transform=\"rotate(%d %.1f %.1f)\">%s</text>\n</g>\n",
            tx, ty, right ? 90 : -90, tx, ty, title);
}

}  // namespace

void write_svg_profile(const Model &m, const Sequence &seq, const Prediction &p, const SvgOptions &opt,
                       std::string &out)
{
    const PscoreTables &t = m.pscores;
    const bool scored = p.scored && p.length == seq.length && seq.length > 0;
    const bool stock = scored && opt.stock && p.stock_score.size() >= size_t(seq.length);
    std::vector<Region> found;
    const std::vector<Region> *regions = opt.regions;
    if (!regions) {
        if (scored) find_regions(m, p, opt.pscore, opt.min_length, found);
        regions = &found;
    }
    const Frame f{WIDTH - LEFT - (stock ? 70.0 : 30.0), std::max<int32_t>(seq.length, 1)};

    // The y axis reaches the highest point, the threshold and at least p = 0.01.
    const bool has_threshold = opt.pscore > 0 && opt.pscore <= 1;
    double top = MIN_Y_RANGE;
    if (has_threshold) top = std::max(top, -std::log10(opt.pscore) + 0.5);
    std::vector<double> height(scored ? size_t(seq.length) : 0, NOT_SCORED);  // NOT_SCORED: a gap
    double last_score = NOT_SCORED, last_height = 0;  // window maxima repeat: a repeated score is looked up once
    for (size_t i = 0; i < height.size(); i++) {
        const double s = p.score[i];
        if (!finite_score(s)) continue;
        if (s != last_score) last_score = s, last_height = height_of(t, s);
        top = std::max(top, height[i] = last_height);
    }
    Axis ya{0, 0, top <= 6 ? 1.0 : nice_step(top / 6)};
    ya.hi = std::ceil(top / ya.step - 1e-9) * ya.step;

    appendf(out,
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
            "font-family=\"sans-serif\" font-size=\"12\">\n",
            WIDTH, HEIGHT, WIDTH, HEIGHT);
    appendf(out, "<rect width=\"%d\" height=\"%d\" fill=\"#ffffff\"/>\n", WIDTH, HEIGHT);
    heading(out, seq);
    legend(out, stock, opt.pscore);
    if (scored) regions_layer(out, f, p, *regions);
    y_axis(out, ya, LEFT, false, "-log10(p-score)", true, f.pw);
    if (has_threshold) {
        const double y = ya.y(-std::log10(opt.pscore));
        appendf(out, "<path d=\"M%.1f %.1fH%.1f\" stroke=\"%s\" stroke-dasharray=\"2 2\"/>\n", LEFT, y, LEFT + f.pw,
                THRESHOLD_COLOUR);
        appendf(out, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" text-anchor=\"end\" fill=\"%s\">p = %g</text>\n",
                LEFT + f.pw - 2, y - 3, THRESHOLD_COLOUR, opt.pscore);
    }
    if (stock) {
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        for (int32_t i = 0; i < seq.length; i++)
            if (const double s = p.stock_score[size_t(i)]; finite_score(s)) lo = std::min(lo, s), hi = std::max(hi, s);
        if (lo <= hi) {
            Axis sa{0, 0, nice_step((hi - lo) / 5)};
            sa.lo = std::floor(lo / sa.step) * sa.step;
            sa.hi = std::max(std::ceil(hi / sa.step) * sa.step, sa.lo + sa.step);
            y_axis(out, sa, LEFT + f.pw, true, "stock raw score", false, f.pw);
            curve(
                out, f, sa, [&](int32_t i, double &v) { return finite_score(v = p.stock_score[size_t(i)]); },
                ("stroke=\"" + std::string(STOCK_COLOUR) + "\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\"").c_str());
        }
    }
    if (scored) {
        curve(
            out, f, ya, [&](int32_t i, double &v) { return finite_score(v = height[size_t(i)]); },
            ("stroke=\"" + std::string(PAIR_COLOUR) + "\" stroke-width=\"2\" stroke-linejoin=\"round\"").c_str());
    } else {
        appendf(out,
                "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"#888888\">not scored: shorter than %d "
                "residues</text>\n",
                LEFT + f.pw / 2, TOP + PLOT_HEIGHT / 2, m.shortest_segment);
    }
    appendf(out, "<path d=\"M%.0f %.0fH%.1f\" stroke=\"#000000\"/>\n", LEFT, BOTTOM, LEFT + f.pw);
    const bool short_protein = seq.length <= LETTERS_UP_TO;
    const std::vector<char> in = region_mask(seq.length, *regions);
    if (short_protein)
        letters(out, f, seq, p, scored, in);
    else if (scored)
        band(out, f, p, in);
    x_axis(out, f, short_protein);
    out += "</svg>\n";
}

}  // namespace velcorin2

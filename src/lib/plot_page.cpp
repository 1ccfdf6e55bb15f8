// plot_page: the PostScript comparison plot, one page per record: the
// stock curve against the pair curve, with their best scores over the
// record and over a region read from the region file.
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "velcorin2/io.h"
#include "velcorin2/report.h"

namespace velcorin2 {

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

void write_plot_page(const Sequence &sequence, const Prediction &p, const PlotRegion &region, std::string &ps)
{
    const int32_t seqlen = sequence.length;
    const double *sc1 = p.stock_score.data(), *sc2 = p.score.data();
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

// ---- The region file ---------------------------------------------------------------------

bool read_plot_region(FILE *rf, const char *code, int32_t *rstart, int32_t *rend)
{
    char codebuff[NAMELEN];
    for (;;) {
        // Held as a signed byte: a 0xFF byte ends the search like the end of the file.
        signed char c;
        do {
            c = static_cast<signed char>(std::getc(rf));
        } while (c != '>' && c != EOF);
        if (c == EOF) return false;
        int got = std::fscanf(rf, "%1023s", codebuff);
        if (got != 1) continue;
        if (std::strlen(codebuff) == NAMELEN - 1) {  // drop the rest of an overlong token
            int ch;
            while ((ch = std::getc(rf)) != EOF && !std::isspace(ch)) {}
            if (ch != EOF) std::ungetc(ch, rf);
        }
        int a = 0, b = 0;
        if (std::fscanf(rf, "%d %d", &a, &b) != 2) continue;
        if (std::strcmp(codebuff, code) == 0) {
            *rstart = a;
            *rend = b;
            return true;
        }
    }
}

}  // namespace velcorin2

// html_report: one self-contained HTML page of a run: what was run, the
// counts, a sortable and filterable table of the records with a region,
// and their profiles as pictures.
//
// The page is written in pieces as the run goes, so it never needs the
// whole input in memory: the profiles, the bulk of it, go out as the
// records are written; the table's rows (small, one per record with a
// region) and then the counts follow them, and the style sheet shows the
// counts, then the table, then the profiles.  Only elements of plain HTML are used and every
// profile is an <img> of an SVG data: URI: a picture shown as an image
// runs no script, and the page reads as valid HTML to strict parsers too.
#include <cstdio>
#include <string>

#include "markup.h"
#include "velcorin2/report.h"

namespace velcorin2 {

namespace {

const char STYLE[] = "body{font-family:sans-serif;margin:1.5em;color:#222;display:flex;flex-direction:column}\n"
                     "#head{order:-4}#counts{order:-3}#run{order:-2}#list{order:-1}\n"
                     "h1{font-size:1.5em;margin:0}h2{font-size:1.2em;margin:1.2em 0 .4em}\n"
                     "table{border-collapse:collapse}td,th{padding:2px 10px;text-align:left;vertical-align:top}\n"
                     ".facts th{font-weight:normal;color:#555}\n"
                     "#records th{cursor:pointer;background:#e8e8e8;position:sticky;top:0;white-space:nowrap}\n"
                     "#records th:after{content:' \\2195';color:#999}\n"
                     "#records td.n{text-align:right;font-variant-numeric:tabular-nums}\n"
                     "#records tbody tr:nth-child(even){background:#f6f6f6}\n"
                     ".profile{margin:1em 0}.profile img{max-width:100%;height:auto;border:1px solid #ddd}\n"
                     ".note{color:#555}.time{color:#777;margin:.2em 0}\n";

// The sorting (click a column heading; again to reverse), the filter, and
// the links that save a profile: a few lines, kept free of "</".
const char SCRIPT[] =
    "(function () {\n"
    "  var table = document.getElementById('records'), body = table.tBodies[0];\n"
    "  var filter = document.getElementById('filter');\n"
    "  filter.addEventListener('input', function () {\n"
    "    var q = filter.value.toLowerCase();\n"
    "    for (var r of body.rows) r.style.display = r.textContent.toLowerCase().indexOf(q) < 0 ? 'none' : '';\n"
    "  });\n"
    "  table.tHead.querySelectorAll('th').forEach(function (th, col) {\n"
    "    th.addEventListener('click', function () {\n"
    "      var dir = th.dataset.dir === 'up' ? -1 : 1, num = th.classList.contains('n');\n"
    "      th.dataset.dir = dir > 0 ? 'up' : 'down';\n"
    "      var rows = Array.from(body.rows);\n"
    "      rows.sort(function (a, b) {\n"
    "        var x = a.cells[col].textContent, y = b.cells[col].textContent;\n"
    "        return dir * (num ? parseFloat(x) - parseFloat(y) : x.localeCompare(y));\n"
    "      });\n"
    "      rows.forEach(function (r) { body.appendChild(r); });\n"
    "    });\n"
    "  });\n"
    "  document.querySelectorAll('a.save').forEach(function (a) {\n"
    "    a.addEventListener('click', function () { a.href = a.parentNode.parentNode.querySelector('img').src; });\n"
    "  });\n"
    "})();\n";

void fact(std::string &out, const char *name, const std::string &value)
{
    out += "<tr><th>";
    out += name;
    out += "</th><td>";
    append_markup_text(out, value);
    out += "</td></tr>\n";
}

}  // namespace

void write_html_head(const RunSettings &s, const Model &m, const std::string &started, std::string &out)
{
    out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>velcorin2 report: ";
    append_markup_text(out, s.sequences.name, 80);
    out += "</title>\n<style>\n";
    out += STYLE;
    out += "</style>\n</head>\n<body>\n<div id=\"head\">\n<h1>velcorin2 report</h1>\n<p class=\"time\">Run of ";
    append_markup_text(out, started);
    out += "</p>\n</div>\n<div id=\"run\">\n<h2>The run</h2>\n<table class=\"facts\">\n";
    const bool registers = (s.mode & (MODE_POS | MODE_LEAVEOUT)) != 0;
    fact(out, "Sequences",
         s.sequences.name + (registers ? (s.mode & MODE_LEAVEOUT) ? " (register files, each left out of the counts)"
                                                                  : " (register files)"
                                       : " (FASTA)"));
    fact(out, "Count files", s.background_counts.name + " (background), " + s.coil_counts.name + " (coils)");
    std::string model, apart;
    for (int i = 0; i < m.distance_count; i++) {
        appendf(model, "%s%d", i ? ", " : "", m.distances[i]);
        appendf(apart, "%s%d", i ? ", " : "", m.distances[i] + 1);
    }
    appendf(model, " (residue pairs %s apart); %s; shortest scored segment %d; model fingerprint %016llx",
            apart.c_str(), m.prolines_end_segments ? "prolines end a segment" : "prolines do not end a segment",
            m.shortest_segment, (unsigned long long)m.fingerprint);
    fact(out, "Distance classes", model);
    fact(out, "Calibration",
         s.calibration.given ? s.calibration.name : std::string("built-in p-score tables (no calibration named)"));
    std::string limits, regions;
    if (s.max_length > 0)
        appendf(limits, "the first %d residues of a record are scored", s.max_length);
    else
        limits = "none";
    fact(out, "Length limit", limits);
    appendf(regions, "p-score threshold %g; regions of at least %d residue%s", s.region_pscore, s.region_min_length,
            s.region_min_length == 1 ? "" : "s");
    if (s.mode & MODE_PRINT) appendf(regions, "; coil report threshold %g", s.report_pscore);
    fact(out, "Regions", regions);
    fact(out, "Program",
         std::string("velcorin2 ") + version() + ((s.mode & MODE_VIEW) ? ", with stock scoring (-g)" : ""));
    out += "</table>\n</div>\n<div id=\"profiles\">\n<h2>Profiles</h2>\n";
}

void write_html_row(const Sequence &seq, const RecordSummary &r, int record, bool linked, std::string &out)
{
    out += "<tr><td>";
    if (linked) appendf(out, "<a href=\"#p%d\">", record);
    if (seq.code[0])
        append_markup_text(out, seq.code);
    else
        appendf(out, "unnamed_%d", record);
    if (linked) out += "</a>";
    out += "</td><td>";
    append_markup_text(out, seq.title);
    appendf(out, "</td><td class=\"n\">%lld</td><td class=\"n\">%d</td><td class=\"n\">", (long long)r.full_length,
            r.regions);
    append_general(out, r.lowest_pscore, 4);  // as the region files give it
    out += "</td><td class=\"n\">";
    append_fixed(out, r.sequence_pscore, 4);  // as the per-sequence log gives it
    out += "</td></tr>\n";
}

void write_html_profiles_end(const ReportCounts &c, std::string &out)
{
    if (c.with_region == 0) out += "<p class=\"note\">No record has a region.</p>\n";
    if (c.left_out > 0)
        appendf(out,
                "<p class=\"note\">Profiles of the first %lld records with a region are shown; %lld more were left "
                "out (--html-max %lld).  The table lists every record with a region, the --summary table "
                "every record.</p>\n",
                (long long)c.profiles, (long long)c.left_out, (long long)c.cap);
    out += "</div>\n<div id=\"list\">\n<h2>Records with a coiled-coil region</h2>\n"
           "<p class=\"note\"><input type=\"search\" id=\"filter\" placeholder=\"filter by code or title\" "
           "aria-label=\"filter the records\"> Click a column heading to sort; a code leads to its profile.</p>\n"
           "<table id=\"records\">\n<thead><tr><th>Code</th><th>Title</th><th class=\"n\">Length</th>"
           "<th class=\"n\">Regions</th><th class=\"n\">Lowest p-score</th><th class=\"n\">Sequence P-score</th>"
           "</tr></thead>\n<tbody>\n";
}

void write_html_profile(const Model &m, const Sequence &seq, const Prediction &p, int record, const SvgOptions &opt,
                        std::string &out)
{
    std::string svg;
    write_svg_profile(m, seq, p, opt, svg);
    appendf(out, "<div class=\"profile\" id=\"p%d\">\n<img width=\"%d\" height=\"%d\" alt=\"profile of ", record,
            SVG_PROFILE_WIDTH, SVG_PROFILE_HEIGHT);
    append_markup_text(out, seq.code);
    out += "\" src=\"data:image/svg+xml,";
    append_data_uri(out, svg);
    out += "\">\n<p class=\"note\"><a href=\"#records\">back to the table</a> &middot; <a class=\"save\" href=\"#\" "
           "download=\"";
    region_seqid(seq.code, record, out);
    out += ".svg\">save as SVG</a></p>\n</div>\n";
}

void write_html_tail(const ReportCounts &c, std::string &out)
{
    out += "</tbody>\n</table>\n</div>\n<div id=\"counts\">\n<h2>Counts</h2>\n<table class=\"facts\">\n";
    appendf(out, "<tr><th>Records</th><td>%lld</td></tr>\n", (long long)c.records);
    appendf(out, "<tr><th>Scored</th><td>%lld (%lld residues)</td></tr>\n", (long long)c.scored, (long long)c.residues);
    appendf(out, "<tr><th>With a region</th><td>%lld (%lld regions)</td></tr>\n", (long long)c.with_region,
            (long long)c.regions);
    appendf(out, "<tr><th>Residues in regions</th><td>%lld</td></tr>\n", (long long)c.region_residues);
    out += "</table>\n</div>\n<script>\n";
    out += SCRIPT;
    out += "</script>\n</body>\n</html>\n";
}

}  // namespace velcorin2

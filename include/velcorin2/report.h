// report.h: the outputs of velcorin2, each rendered from a record and its
// Prediction into a text.
//
// Contents:
//   appendf                   printf-style formatting appended to a text
//   write_residue_table       the per-residue table of one record
//   format_table_row          one row of it
//   write_score_line          the score line of -v
//   write_coil_report         the coil report of -p (with the map of -d)
//   write_register_map        the residue and register map
//   PlotRegion, write_plot_page  one page of the PostScript comparison plot
//   region_seqid              the name a record has in the region files
//   write_gff3_header, write_gff3_regions        the regions as GFF3
//   write_regions_tsv_header, write_regions_tsv  the regions as a table
//   append_register_segments  the register segments of a region as text
//   RecordSummary, summarize_record, write_summary_header, write_summary_row
//                             one line of facts per record (--summary)
//   SvgOptions, write_svg_profile  the profile of a prediction as SVG
//   ReportCounts, write_html_*     the HTML report of a run (--html)
//
// Every writer appends to a std::string instead of writing to a stream: a
// record's outputs are rendered wherever it is scored and written out in
// input order.  A text may stand for several outputs (both logs on standard
// error): the bytes then interleave exactly as on one stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velcorin2/settings.h"
#include "velcorin2/velcorin2.h"

namespace velcorin2 {

// appendf: printf-style formatting appended to `out`.
void appendf(std::string &out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// ---- The per-residue table -----------------------------------------------------------
// write_residue_table: "# Sequence Code: <code>" (when there is one),
// "# Sequence Name: <title>" or "# Unnamed sequence", "#", the column
// header, then one row per residue.
void write_residue_table(const PscoreTables &t, const Sequence &seq, const Prediction &p, std::string &out);

// format_table_row: writes into `buf` exactly the bytes that
// "%8d       %c             %c      %8.5f    (%7.2f)\n" gives for pos,
// residue, reg, residue_pscore(score), score (no terminating NUL; a NUL
// letter is written as a NUL byte, as "%c" does).  `buf` holds
// TABLE_ROW_MAX bytes.  Returns the number of bytes written.
inline constexpr int TABLE_ROW_MAX = 512;
int format_table_row(const PscoreTables &t, char *buf, int32_t pos, char residue, char reg, double score);

// ---- Logs ----------------------------------------------------------------------------------
// write_score_line: "%4d %lf %s %s\n" with the record number, the sequence
// score (-100000.0 when not finite), code and title.
void write_score_line(const Sequence &seq, const Prediction &p, int record, std::string &out);

// write_coil_report: header lines on both logs, the sequence p-score line
// on the per-sequence log, the peak line on the coil log, then either "No
// coiled coils found." or the map (with MODE_MAP) and the entries above
// s.report_pscore.  When no residue's score equals the sequence score, the
// peak line names position length + 1.
void write_coil_report(const PscoreTables &t, const RunSettings &s, const Sequence &seq, const Prediction &p,
                       int record, std::string &coil_log, std::string &sequence_log);

// write_register_map: the residue and register map in rows of 70.  `bound`
// is a raw score; `map_bound` is compared with raw scores as given.  Known
// registers are read when s.mode has MODE_MAP_GIVEN, MODE_LEAVEOUT or MODE_POS.
void write_register_map(int mode, const Sequence &seq, const Prediction &p, double bound, double map_bound,
                        std::string &out);

// ---- The PostScript comparison plot ------------------------------------------------------
// The region of a page: the whole sequence, or first..last (from 1,
// inclusive, as the region file gives them; clamped to the sequence).
struct PlotRegion {
    bool from_file = false;
    int32_t first = 0, last = 0;
};

// write_plot_page: one page comparing the stock curve (p.stock_score) with
// the pair curve (p.score) over the sequence and over `region`.
void write_plot_page(const Sequence &seq, const Prediction &p, const PlotRegion &region, std::string &ps);

// ---- Region files ------------------------------------------------------------------------------
// region_seqid: appends the name a record has in both region files: its code
// with every byte outside [a-zA-Z0-9.:^*$@!+_?|-] written as %XX (bytes of
// 0x80 and above too, so the files are ASCII), or "unnamed%20record_<record>"
// for an empty code (decoded "unnamed record_<record>": a code never holds a
// blank, so no code is written so).
void region_seqid(const char *code, int record, std::string &out);

// write_gff3_header: "##gff-version 3", once at the start of the file.
void write_gff3_header(std::string &out);

// write_gff3_regions: for a record cut to the length limit a comment line
// "# <seqid>: only the first <length> residues were scored (...)"; then
// "##sequence-region <seqid> 1 <length>" (the residues scored) and one
// coiled_coil feature per region: the score column the region's lowest
// p-score ("%.4g"), attributes ID (<seqid>:<start>-<end>), Name (the title,
// percent-encoded; left out when empty), best_score ("%.2f"), register (of
// the first residue) and, when the register changes inside the region,
// register_segments ("24-56:a,57-90:c").
void write_gff3_regions(const PscoreTables &t, const Sequence &seq, const Prediction &p, int record,
                        const std::vector<Region> &regions, std::string &out);

// write_regions_tsv_header: the column names, once at the start of the file.
void write_regions_tsv_header(std::string &out);

// write_regions_tsv: one row per region: seqid, start, end, length, lowest
// p-score, best score, register, register segments (always), truncated
// ("true" when the record was cut to the length limit, else "false").
void write_regions_tsv(const PscoreTables &t, const Sequence &seq, const Prediction &p, int record,
                       const std::vector<Region> &regions, std::string &out);

// append_register_segments: "from-to:r" per register segment of `r`
// (positions from 1, the register of the segment's first residue under the
// offsets `offsets` of its prediction), comma-separated.
void append_register_segments(std::string &out, const Region &r, const int8_t *offsets);

// ---- The record summary ----------------------------------------------------------------------
// The facts of one record that the summary table and the report list.
struct RecordSummary {
    int64_t full_length = 0;         // residues the record held
    int32_t scored_length = 0;       // residues scored (after the length limit); 0 when not scored
    bool truncated = false;          // cut to the length limit
    bool scored = false;             // long enough to score
    int32_t regions = 0;             // regions, as the region files list them
    int64_t region_residues = 0;     // residues in them
    double best_score = NOT_SCORED;  // highest residue score
    double lowest_pscore = 1.0;      // its p-score: the lowest of the record
    double sequence_score = NOT_SCORED, sequence_pscore = 1.0;  // as the per-sequence log gives them
};

// summarize_record: the facts of `seq`, its prediction `p` (p.scored false:
// a record too short to score) and the regions found for it (find_regions).
RecordSummary summarize_record(const PscoreTables &t, const Sequence &seq, const Prediction &p,
                               const std::vector<Region> &regions);

// write_summary_header: the column names, once at the start of the table.
void write_summary_header(std::string &out);

// write_summary_row: code (as region_seqid names it), length, scored_length,
// truncated (yes/no), regions, region_residues, best_score ("%.2f"),
// lowest_pscore ("%.4g", as the region files), sequence_score ("%.2f") and
// sequence_pscore ("%.4f", as the per-sequence log); NA for a score that a
// record does not have.
void write_summary_row(const Sequence &seq, const RecordSummary &r, int record, std::string &out);

// ---- The SVG profile -------------------------------------------------------------------------------
inline constexpr int SVG_PROFILE_WIDTH = 960, SVG_PROFILE_HEIGHT = 366;  // pixels of every profile

struct SvgOptions {
    double pscore = 0.05;    // threshold line; the regions' threshold when `regions` is null
    int32_t min_length = 1;  // shortest region, when `regions` is null
    bool stock = false;      // also the stock curve (a prediction made with PredictOptions::stock)
    // The regions already found for this prediction (find_regions at
    // `pscore` and `min_length`), so that the picture shows the same list as
    // the region files; null: found here with find_regions.
    const std::vector<Region> *regions = nullptr;
};

// write_svg_profile: one self-contained SVG document (no XML declaration, no
// external reference, no script, no ids) of prediction `p` of `seq` under
// model `m`: the code and title as the heading; x the residue position with
// numbered ticks; y -log10 of the residue p-scores (m.pscores), from 0 to
// at least 2 and to the highest point, residues without a score left as
// gaps; a dashed line labelled at the p-score threshold; the regions shaded
// and labelled with their register segments; up to 150 residues the residue
// and register letters under the axis, beyond that a band of register
// segments; with `stock`, the stock curve on a right-hand axis and a legend
// saying which curve is which.  Codes and titles are escaped
// (append_markup_text), so the document is well-formed XML whatever bytes
// they hold.  A prediction not scored gives the frame and a note.  Pure: the
// same arguments give the same bytes.
void write_svg_profile(const Model &m, const Sequence &seq, const Prediction &p, const SvgOptions &opt,
                       std::string &out);

// ---- The HTML report --------------------------------------------------------------------------------
// One self-contained page (no external script, style, font or picture) of a
// run, written as the records go by so that a proteome is never held in
// memory: write_html_head; per record within the cap write_html_profile;
// write_html_profiles_end; per record with a region write_html_row (rows
// are small: a caller keeps them aside until the profiles are written);
// write_html_tail.  The page's style sheet shows the counts, then the run,
// the table and the profiles, whatever their order in the file.
struct ReportCounts {
    int64_t records = 0, scored = 0, with_region = 0, regions = 0, residues = 0, region_residues = 0;
    int64_t profiles = 0, left_out = 0;  // profiles shown and left out by the cap
    int64_t cap = 500;                   // --html-max
};

// write_html_head: the page up to the profiles: the run's time (`started`,
// one line, e.g. ctime() without its newline), the sequences, count files,
// distance classes, proline rule, shortest segment, length limit,
// calibration and thresholds of `s` under model `m`.
void write_html_head(const RunSettings &s, const Model &m, const std::string &started, std::string &out);

// write_html_row: the table row of a record with a region: code (a link to
// its profile "#p<record>" when `linked`), title, length, regions, lowest
// p-score, sequence P-score.
void write_html_row(const Sequence &seq, const RecordSummary &r, int record, bool linked, std::string &out);

// write_html_profiles_end: after the profiles: how many were left out (and
// that --summary lists every record), then the head of the table (id "records").
void write_html_profiles_end(const ReportCounts &c, std::string &out);

// write_html_profile: the profile of a record (write_svg_profile as an
// image, id "p<record>") with a link that saves it as an SVG file.
void write_html_profile(const Model &m, const Sequence &seq, const Prediction &p, int record, const SvgOptions &opt,
                        std::string &out);

// write_html_tail: after the rows: the end of the table, the counts, the
// sorting and filtering script, the end of the page.
void write_html_tail(const ReportCounts &c, std::string &out);

}  // namespace velcorin2

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

}  // namespace velcorin2

// output: p-score tables, per-residue table, coil logs, PostScript plot.
//
// Contents:
//   PscoreTables, builtin_pscores, finish_pscores   both p-score conversions
//   score2prob, prob2score, seq_scr2pscr            their lookups
//   appendf                                         printf into a text
//   txt_output2, txt_format_row                     the per-residue table and one of its rows
//   log_output_ver                                  score line
//   log_output_prn3, log_print_coil, print_coil3    coil report and map
//   PlotRegion, res_compare                         one page of the comparison plot
//   CoilRegion, find_regions, region_seqid          coiled-coil regions of a record
//   gff3_header, gff3_regions                       the regions as GFF3
//   regions_tsv_header, regions_tsv                 the regions as a tab-separated table
//
// Every writer appends to a text (std::string) instead of writing a stream:
// the driver renders a record's outputs wherever it is scored and writes
// them out in input order.  A text may stand for several outputs (both logs
// on standard error): the bytes then interleave exactly as on one stream.
// Contract shared by all writers: the best score of residue i is
// scs[i][offsets[i]] and its register number (offsets[i] + i) mod 7, with
// offsets[i] in 0..6.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "velcorin2.h"

// ---- P-score tables -------------------------------------------------------------
inline constexpr int PSCORE_ROWS = 7001;      // residue table: scores -40.00 .. 30.00
inline constexpr int32_t pscore_size = 7000;  // rows the residue lookups consult
inline constexpr int32_t n_pscores = 813;     // sequence tables: scores -63.9 .. 17.3

// Both conversions of a run.  global_pscore maps a residue's best score to
// the probability of reaching at least it (low is coil-like); pscores maps a
// sequence score to a value that rises with it, one table per window length.
struct PscoreTables {
    double global_pscore[PSCORE_ROWS][2];  // {score, cumulative probability}
    double pscores[2][n_pscores][2];       // [0] window length 28, [1] 21: {score, p-score}
    // Derived by finish_pscores: "%8.5f" of the p-score of each possible
    // lookup result k (k rows qualified), for the per-residue table.
    char pstr[PSCORE_ROWS][16];
    int pstr_len[PSCORE_ROWS];
};

// builtin_pscores: the built-in tables.  The residue table is the normal
// distribution function (mean -7.688, deviation 8.421) at (i - 4000) / 100,
// rounded to 8 significant digits; the sequence tables hold cumulative
// counts of 6242 (28) and 6331 (21) calibration sequences.  Built once.
const PscoreTables &builtin_pscores();

// finish_pscores: fills the derived part from global_pscore.
void finish_pscores(PscoreTables &t);

// score2prob: 1 minus the probability of the last consulted row whose score
// is not above `score`; 1.0 when no row qualifies (scores below -40.00,
// -inf).  NaN compares with nothing, so it takes the last consulted row.
double score2prob(const PscoreTables &t, double score);

// prob2score: the score of the last consulted row whose probability is not
// above 1 - `prob`; 40.0 (above every row) when no row qualifies.
double prob2score(const PscoreTables &t, double prob);

// seq_scr2pscr: p-score (rising with the score) of the first row of the
// window length's sequence table whose score is strictly above seq_score;
// 1.0 when there is none.
double seq_scr2pscr(const PscoreTables &t, int32_t window_length, double seq_score);

// appendf: printf-style formatting appended to `out`.
void appendf(std::string &out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// ---- Per-residue table --------------------------------------------------------
// txt_output2: appends the header lines ("# Sequence Code", "# Sequence Name"
// or "# Unnamed sequence", "#", the column header) and one row per residue.
void txt_output2(const PscoreTables &t, const char *code, const char *title, const int8_t *seq, int32_t seqlen,
                 std::string &fout, const double scs[][NREG], const int8_t *offsets);

// txt_format_row: writes into `buf` exactly the bytes that
// "%8d       %c             %c      %8.5f    (%7.2f)\n" gives for
// pos, residue, reg, score2prob(score), score (no terminating NUL; a NUL
// residue or register letter is written as a NUL byte, as "%c" does).
// `buf` must hold TXT_ROW_MAX bytes.  Returns the number of bytes written.
inline constexpr int TXT_ROW_MAX = 512;
int txt_format_row(const PscoreTables &t, char *buf, int32_t pos, char residue, char reg, double score);

// ---- Logs ---------------------------------------------------------------------
// log_output_ver: "%4d %lf %s %s\n" with cnt, the score (-100000.0 for -inf
// or NaN), code, title.
void log_output_ver(double score, int cnt, const char *title, const char *code, std::string &flog);

// log_output_prn3: the coil report of one sequence: header lines on both
// logs, the sequence p-score line on flog_seq, the peak line on flog, then
// either "No coiled coils found." or the optional map and the region list.
// `bound` is a p-score threshold, converted here with prob2score.  When no
// residue's best score equals `score`, the peak line names position
// seqlen + 1 and the register letter of offset 0 at that index.
void log_output_prn3(const PscoreTables &t, const RunSettings &s, double score, const double scs[][NREG],
                     const int8_t *offsets, int32_t seqlen, int cnt, const Sequence &sequence, std::string &flog,
                     std::string &flog_seq);

// log_print_coil: one region entry "  %1.4f@ %4d-%4d:%c;  " with the p-score
// of `score`, positions from+1 and to+1, and the register letter of residue
// `from` under register offset `reg`.
void log_print_coil(const PscoreTables &t, std::string &flog, double score, int from, int to, int reg);

// print_coil3: the residue and register map of one sequence in rows of 70.
// `bound` is a raw score, `upper_bound` is compared with raw scores as given.
// `reg` is read (indices below seqlen only) when mode has 0x40, 0x04 or 0x08.
void print_coil3(int mode, int32_t seqlen, const int8_t *reg, const double scs[][NREG], double bound,
                 double upper_bound, const int8_t *offsets, const int8_t *seq, std::string &flog);

// ---- Plot -------------------------------------------------------------------------
// The region of a page: the whole sequence, or first..last (from 1,
// inclusive, as the region file gives them; clamped to the sequence).
struct PlotRegion {
    bool from_file = false;
    int32_t first = 0, last = 0;
};

// res_compare: one PostScript page comparing the stock curve `sc1` with the
// pair curve `sc2` over the sequence and over `region`; the right axis is
// labelled for the pair window.
void res_compare(std::string &ps, const double *sc1, const double *sc2, const Sequence &sequence,
                 const PlotRegion &region);

// ---- Coiled-coil regions ------------------------------------------------------------
// A region is a maximal run of residues whose best score is strictly above
// a raw-score bound, across register changes: the coil report's entries of
// the same bound, adjacent ones joined.  Its register segments are those
// entries: split where offsets[i] changes, each labelled with the register
// letter of its first residue.
struct CoilRegion {
    int32_t from = 0, to = 0;  // 0-based, inclusive
    double best = 0.0;         // highest best score in the region
};

// find_regions: the regions of a record under `bound` (a raw score) that are
// at least min_length residues long, in sequence order, into `out` (which is
// cleared first; its capacity is kept for the next record).
void find_regions(const double scs[][NREG], const int8_t *offsets, int32_t seqlen, double bound, int32_t min_length,
                  std::vector<CoilRegion> &out);

// region_seqid: appends the name a record has in both region files: its
// code with every byte outside [a-zA-Z0-9.:^*$@!+_?|-] written as %XX (the
// GFF3 rule for column 1, applied to bytes >= 0x80 too, so the files are
// ASCII whatever the headers hold), or "unnamed_<cnt>" for an empty code.
void region_seqid(const char *code, int cnt, std::string &out);

// gff3_header: "##gff-version 3", once at the start of the file.
void gff3_header(std::string &out);

// gff3_regions: for a scored record, "##sequence-region <seqid> 1 <seqlen>"
// and one coiled_coil feature per region: 1-based bounds, the score column
// the region's lowest p-score ("%.4g" of score2prob(best)), attributes ID
// (<seqid>:<start>-<end>), Name (the title, percent-encoded; left out when
// empty), best_score ("%.2f"), register (of the first residue) and, when the
// register changes inside the region, register_segments ("24-56:a,57-90:c").
void gff3_regions(const PscoreTables &t, const Sequence &rec, int cnt, const std::vector<CoilRegion> &regions,
                  const int8_t *offsets, std::string &out);

// regions_tsv_header: the column names, once at the start of the file.
void regions_tsv_header(std::string &out);

// regions_tsv: one row per region with the values of gff3_regions: seqid,
// start, end, length, lowest p-score, best score, register, and the
// register segments (always, a single one included).
void regions_tsv(const PscoreTables &t, const Sequence &rec, int cnt, const std::vector<CoilRegion> &regions,
                 const int8_t *offsets, std::string &out);

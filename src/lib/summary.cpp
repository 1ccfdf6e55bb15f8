// summary: one line of facts per record, for the --summary table and the
// rows of the HTML report, from the record, its prediction and its regions.
#include <charconv>
#include <cmath>

#include "markup.h"
#include "velcorin2/report.h"

namespace velcorin2 {

RecordSummary summarize_record(const PscoreTables &t, const Sequence &seq, const Prediction &p,
                               const std::vector<Region> &regions)
{
    RecordSummary r;
    r.full_length = seq.full_length > seq.length ? seq.full_length : seq.length;
    r.truncated = seq.truncated;
    r.scored = p.scored && p.length == seq.length;
    if (!r.scored) return r;
    r.scored_length = seq.length;
    r.regions = int32_t(regions.size());
    for (const Region &g : regions) r.region_residues += g.to - g.from + 1;
    r.best_score = p.best_score;
    r.lowest_pscore = residue_pscore(t, r.best_score);
    r.sequence_score = p.sequence_score;
    r.sequence_pscore = sequence_pscore(t, p.sequence_score);
    return r;
}

void write_summary_header(std::string &out)
{
    out += "code\tlength\tscored_length\ttruncated\tregions\tregion_residues\tbest_score\tlowest_pscore\t"
           "sequence_score\tsequence_pscore\n";
}

namespace {
// append_count: a tab and a whole number.
void append_count(std::string &out, int64_t v)
{
    char b[24];
    out += '\t';
    out.append(b, size_t(std::to_chars(b, b + sizeof b, v).ptr - b));
}

// score_field: "%.2f", or NA for a record without a finite score.
void score_field(std::string &out, double v)
{
    out += '\t';
    if (std::isfinite(v))
        append_fixed(out, v, 2);
    else
        out += "NA";
}
}  // namespace

void write_summary_row(const Sequence &seq, const RecordSummary &r, int record, std::string &out)
{
    region_seqid(seq.code, record, out);
    append_count(out, r.full_length);
    append_count(out, r.scored_length);
    out += r.truncated ? "\tyes" : "\tno";
    if (!r.scored) {
        out += "\t0\t0\tNA\tNA\tNA\tNA\n";
        return;
    }
    append_count(out, r.regions);
    append_count(out, r.region_residues);
    score_field(out, r.best_score);
    out += '\t';
    append_general(out, r.lowest_pscore, 4);
    score_field(out, r.sequence_score);
    out += '\t';
    append_fixed(out, r.sequence_pscore, 4);
    out += '\n';
}

}  // namespace velcorin2

// summary: one line of facts per record, for the --summary table and the
// rows of the HTML report, from the record, its prediction and its regions.
#include <cmath>

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
    for (int32_t i = 0; i < p.length; i++)
        if (p.score[size_t(i)] > r.best_score) r.best_score = p.score[size_t(i)];
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
// score_field: "%.2f", or NA for a record without a finite score.
void score_field(std::string &out, double v)
{
    if (std::isfinite(v))
        appendf(out, "\t%.2f", v);
    else
        out += "\tNA";
}
}  // namespace

void write_summary_row(const Sequence &seq, const RecordSummary &r, int record, std::string &out)
{
    region_seqid(seq.code, record, out);
    appendf(out, "\t%lld\t%d\t%s", (long long)r.full_length, r.scored_length, r.truncated ? "yes" : "no");
    if (!r.scored) {
        out += "\t0\t0\tNA\tNA\tNA\tNA\n";
        return;
    }
    appendf(out, "\t%d\t%lld", r.regions, (long long)r.region_residues);
    score_field(out, r.best_score);
    appendf(out, "\t%.4g", r.lowest_pscore);
    score_field(out, r.sequence_score);
    appendf(out, "\t%.4f\n", r.sequence_pscore);
}

}  // namespace velcorin2

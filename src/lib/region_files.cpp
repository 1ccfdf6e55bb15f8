// region_files: the coiled-coil regions of each record as GFF3 and as a
// tab-separated table, for pipelines and browsers.
#include <string>
#include <string_view>
#include <vector>

#include "velcorin2/report.h"

namespace velcorin2 {

namespace {

// Bytes written as themselves: column 1 of GFF3 allows [a-zA-Z0-9.:^*$@!+_?-|]
// unescaped (GFF3 format description 1.26, Sequence Ontology project); in column 9 values
// everything but tab, newline, carriage return, control characters, ";", "=",
// "&", "," and "%" may stand as it is.  Bytes >= 0x80 are escaped in both.
struct EscapeSets {
    bool seqid[256] = {}, value[256] = {};
    constexpr EscapeSets()
    {
        for (int c = 0x20; c < 0x7f; c++) value[c] = true;
        for (unsigned char c : std::string_view(";=&,%")) value[c] = false;
        for (int c = '0'; c <= '9'; c++) seqid[c] = true;
        for (int c = 'a'; c <= 'z'; c++) seqid[c] = seqid[c - 'a' + 'A'] = true;
        for (unsigned char c : std::string_view(".:^*$@!+_?-|")) seqid[c] = true;
    }
};
constexpr EscapeSets escape_sets;

void percent_encode(std::string &out, const char *s, const bool keep[256])
{
    static const char hex[] = "0123456789ABCDEF";
    for (; *s; s++) {
        const unsigned char c = (unsigned char)*s;
        if (keep[c]) {
            out += char(c);
        } else {
            const char e[3] = {'%', hex[c >> 4], hex[c & 15]};
            out.append(e, 3);
        }
    }
}

// register_letter: the register of residue i under its best offset.
inline char region_register(const int8_t *offsets, int32_t i) { return char('a' + (offsets[i] + i) % NREG); }

bool register_changes(const Region &r, const int8_t *offsets)
{
    for (int32_t i = r.from + 1; i <= r.to; i++)
        if (offsets[i] != offsets[i - 1]) return true;
    return false;
}

}  // namespace

void append_register_segments(std::string &out, const Region &r, const int8_t *offsets)
{
    int32_t st = r.from;
    for (int32_t i = r.from + 1; i <= r.to + 1; i++) {
        if (i <= r.to && offsets[i] == offsets[i - 1]) continue;
        appendf(out, "%s%d-%d:%c", st == r.from ? "" : ",", st + 1, i, region_register(offsets, st));
        st = i;
    }
}

void region_seqid(const char *code, int record, std::string &out)
{
    if (code[0])
        percent_encode(out, code, escape_sets.seqid);
    else  // a code never holds a blank, so no code is written as this
        appendf(out, "unnamed%%20record_%d", record);
}

void write_gff3_header(std::string &out) { out += "##gff-version 3\n"; }

void write_gff3_regions(const PscoreTables &t, const Sequence &rec, const Prediction &p, int record,
                        const std::vector<Region> &regions, std::string &out)
{
    const int8_t *offsets = p.offset.data();
    std::string seqid, name;
    region_seqid(rec.code, record, seqid);
    percent_encode(name, rec.title, escape_sets.value);
    // The residues scored: a record cut to the length limit says so, as the
    // regions past the cut are missing.
    if (rec.truncated)
        appendf(out, "# %s: only the first %d residues were scored (--max-length 0 scores the whole record)\n",
                seqid.c_str(), rec.length);
    appendf(out, "##sequence-region %s 1 %d\n", seqid.c_str(), rec.length);
    for (const Region &r : regions) {
        appendf(out, "%s\tvelcorin2\tcoiled_coil\t%d\t%d\t%.4g\t.\t.\tID=%s:%d-%d", seqid.c_str(), r.from + 1, r.to + 1,
                residue_pscore(t, r.best), seqid.c_str(), r.from + 1, r.to + 1);
        if (!name.empty()) out += ";Name=" + name;
        appendf(out, ";best_score=%.2f;register=%c", r.best, region_register(offsets, r.from));
        if (register_changes(r, offsets)) {
            out += ";register_segments=";
            append_register_segments(out, r, offsets);
        }
        out += '\n';
    }
}

void write_regions_tsv_header(std::string &out)
{
    out += "code\tstart\tend\tlength\tlowest_pscore\tbest_score\tregister\tregister_segments\ttruncated\n";
}

void write_regions_tsv(const PscoreTables &t, const Sequence &rec, const Prediction &p, int record,
                       const std::vector<Region> &regions, std::string &out)
{
    const int8_t *offsets = p.offset.data();
    if (regions.empty()) return;
    std::string seqid;
    region_seqid(rec.code, record, seqid);
    for (const Region &r : regions) {
        appendf(out, "%s\t%d\t%d\t%d\t%.4g\t%.2f\t%c\t", seqid.c_str(), r.from + 1, r.to + 1, r.to - r.from + 1,
                residue_pscore(t, r.best), r.best, region_register(offsets, r.from));
        append_register_segments(out, r, offsets);
        // A column rather than a comment line, which naive readers would take for a row.
        out += rec.truncated ? "\tyes\n" : "\tno\n";
    }
}

}  // namespace velcorin2

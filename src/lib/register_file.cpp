// register_file: the reader of register files, sequences with their known
// heptad registers.
//
//   >code
//   title
//   residues ... *
//   one register letter a..g or "." per residue ... *
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "readers.h"
#include "velcorin2/io.h"

namespace velcorin2 {

namespace {

// read_line: the rest of the current line into `buf`, newline (and a
// carriage return before it) dropped; a line longer than the buffer keeps
// its first NAMELEN-1 characters and the rest is consumed.  False when the
// input ends before the newline.
bool read_line(FILE *fl, char *buf)
{
    int n = 0, c;
    bool cut = false;
    while ((c = getc_unlocked(fl)) != EOF && c != '\n') {
        if (n < NAMELEN - 1)
            buf[n++] = char(c);
        else
            cut = c != '\r';
    }
    if (!cut && n > 0 && buf[n - 1] == '\r') n--;  // a CR-LF line end
    buf[n] = '\0';
    return c != EOF;
}

}  // namespace

RecordRead read_register_record(FILE *fl, Sequence &seq, int32_t max_length)
{
    seq.warnings.clear();
    seq.truncated = false;
    int c;
    while ((c = getc_unlocked(fl)) != EOF && c != '>') {}
    if (c == EOF) return RecordRead::END;
    seq.length = 0;
    seq.full_length = 0;
    seq.title[0] = '\0';
    if (!read_line(fl, seq.code) || !read_line(fl, seq.title)) {
        seq.warnings += "erroneous .pos file!\n";
        return RecordRead::INCOMPLETE;
    }

    // Counts run on past the limit so that the mismatch check below compares
    // the parts as written, not as stored.
    const int64_t limit = max_length > 0 ? max_length : INT64_MAX;
    int64_t nres = 0;
    while ((c = getc_unlocked(fl)) != EOF && c != '*') {
        if (c >= 128) continue;  // no residue letter lies there
        int8_t n = residue_number(char(c));
        if (n < 0) continue;
        if (nres < limit) {
            if (nres == INT32_MAX) refuse_long_record(fl, seq);
            grow_record(seq.residues, nres);
            seq.residues[size_t(nres)] = n;
        }
        nres++;
    }
    seq.length = int32_t(std::min(nres, limit));
    seq.full_length = nres;
    if (nres > limit) warn_truncated(seq, max_length);  // as the FASTA reader does

    int64_t nreg = 0;
    bool bad_letter = false;
    if (c != EOF) {
        while ((c = getc_unlocked(fl)) != EOF && c != '*') {
            int8_t r;
            if (c >= 'a' && c <= 'z') {
                r = int8_t(c - 'a');
                // h..z would index past every register table
                if (r >= NREG) {
                    r = NOREG;
                    bad_letter = true;
                }
            } else if (c == '.') {
                r = NOREG;
            } else {
                continue;
            }
            if (nreg < limit) {
                grow_record(seq.registers, nreg);
                seq.registers[size_t(nreg)] = r;
            }
            nreg++;
        }
    }
    // Residues without a register entry are outside any coil, rather than
    // keeping whatever an earlier record left there.
    grow_record(seq.registers, seq.length);
    for (int64_t k = nreg; k < seq.length; k++) seq.registers[size_t(k)] = NOREG;

    // A record cut short by the end of the input is malformed too, even when
    // its parts happen to have as many entries.
    if (bad_letter || nreg != nres || c != '*') seq.warnings += "erroneous .pos file!\n";
    return c == '*' ? RecordRead::RECORD : RecordRead::INCOMPLETE;
}

}  // namespace velcorin2

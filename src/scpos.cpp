// scpos: register files (".pos") and the counting of both count files.
// Contents: see scpos.h.
#include "scpos.h"

#include <algorithm>
#include <cstdint>

#include "scio.h"

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

// grow: room for entry n of a record array.
void grow(std::vector<int8_t> &v, int64_t n)
{
    if (size_t(n) >= v.size()) v.resize(std::max<size_t>(4096, 2 * size_t(n)));
}

// bump: counts are updated modulo 2^32 so that arbitrary loaded counts can
// never overflow into undefined behaviour; -1 then +1 still restores them.
inline void bump(int32_t &count, int32_t bias) { count = int32_t(uint32_t(count) + uint32_t(bias)); }

inline bool is_register(int8_t r) { return r >= 0 && r < NREG; }
inline bool is_amino_acid(int8_t a) { return a >= 0 && a < NAA; }

// count_up: the model files are built by adding up, and a wrapped count
// would turn into a silently wrong model, so an update past the limit fails.
inline bool count_up(int32_t &count)
{
    if (count == INT32_MAX) return false;
    count++;
    return true;
}

}  // namespace

int32_t getpos(FILE *fl, Sequence &sequence, int32_t max_length)
{
    sequence.warnings.clear();
    int c;
    while ((c = getc_unlocked(fl)) != EOF && c != '>') {}
    if (c == EOF) return POS_END;
    sequence.seqlen = 0;
    sequence.title[0] = '\0';
    if (!read_line(fl, sequence.code) || !read_line(fl, sequence.title)) {
        sequence.warnings += "erroneous .pos file!\n";
        return POS_INCOMPLETE;
    }

    // Counts run on past the limit so that the mismatch check below compares
    // the parts as written, not as stored.
    const int64_t limit = max_length > 0 ? max_length : INT64_MAX;
    int64_t nres = 0;
    while ((c = getc_unlocked(fl)) != EOF && c != '*') {
        if (c >= 128) continue;  // no residue letter lies there
        int8_t n = aanum(int8_t(c));
        if (n < 0) continue;
        if (nres < limit) {
            grow(sequence.seq, nres);
            sequence.seq[size_t(nres)] = n;
        }
        nres++;
    }
    sequence.seqlen = int32_t(std::min(nres, limit));
    if (nres > limit) warn_truncated(sequence, max_length);  // as the FASTA reader does

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
                grow(sequence.reg, nreg);
                sequence.reg[size_t(nreg)] = r;
            }
            nreg++;
        }
    }
    // Residues without a register entry are outside any coil, rather than
    // keeping whatever an earlier record left there.
    grow(sequence.reg, sequence.seqlen);
    for (int64_t k = nreg; k < sequence.seqlen; k++) sequence.reg[size_t(k)] = NOREG;

    // A record cut short by the end of the input is malformed too, even when
    // its parts happen to have as many entries.
    if (bad_letter || nreg != nres || c != '*') sequence.warnings += "erroneous .pos file!\n";
    return c == '*' ? POS_RECORD : POS_INCOMPLETE;
}

void add_seq2(PosFreq &p, const int8_t *reg, const int8_t *seq, int32_t seqlen, int32_t bias)
{
    for (int32_t i = 0; i < seqlen; i++) {
        int8_t a = seq[i], r = reg[i];
        if (!is_amino_acid(a) || !is_register(r)) continue;
        // The run goes on while the heptad continues; gaps and X inside it
        // are passed over but keep it going.
        for (int32_t j = i + 1; j <= i + 7 && j < seqlen; j++) {
            int8_t q = reg[j];
            if (q != (r + j - i) % NREG) break;
            int8_t b = seq[j];
            if (!is_amino_acid(b)) continue;
            bump(p.freqp[a][b][r][q], bias);
            bump(p.totalp[r][q], bias);
        }
        bump(p.freqs[a][r], bias);
        bump(p.totals[r], bias);
    }
}

int32_t add_genseq(GenFreq &g, const int8_t *seq, int32_t seqlen)
{
    for (int32_t i = 0; i < seqlen; i++) {
        int8_t a = seq[i];
        if (!is_amino_acid(a)) continue;
        if (!count_up(g.freqs[a]) || !count_up(g.totals)) return 0;
        for (int32_t d = 0; d < NREG && i + d + 1 < seqlen; d++) {
            int8_t b = seq[i + d + 1];
            if (!is_amino_acid(b)) continue;
            if (!count_up(g.freqp[a][b][d]) || !count_up(g.totalp[d])) return 0;
        }
    }
    return 1;
}

// scpos: register files (".pos") and the register-pair counting.
//
// Contents:
//   read_line  the rest of a header line, cut to a name buffer
//   getpos     one record: code, title, residues "*", registers "*"
//   bump       wrapping count update
//   add_seq2   add (bias +1) or take out (bias -1) one record's PosFreq counts
//   count_up   checked count update
//   add_genseq add one record's GenFreq (background) counts
#include "scpos.h"

#include <cstdint>

#include "scio.h"

namespace {

// read_line: the rest of the current line into `buf`, newline dropped; a
// line longer than the buffer keeps its first NAMELEN-1 characters and the
// rest is consumed.  False when the input ends before the newline.
bool read_line(FILE *fl, char *buf)
{
    int n = 0, c;
    while ((c = std::getc(fl)) != EOF && c != '\n')
        if (n < NAMELEN - 1) buf[n++] = char(c);
    buf[n] = '\0';
    return c != EOF;
}

// bump: counts are updated modulo 2^32 so that arbitrary loaded counts can
// never overflow into undefined behaviour; -1 then +1 still restores them.
inline void bump(int32_t &count, int32_t bias)
{
    count = int32_t(uint32_t(count) + uint32_t(bias));
}

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

int32_t getpos(FILE *fl, Sequence *sequence)
{
    int c;
    while ((c = std::getc(fl)) != EOF && c != '>') {
    }
    if (c == EOF) return 0;
    if (!read_line(fl, sequence->code) || !read_line(fl, sequence->title)) return 0;

    // Counts run on past MAXSEQ so that the mismatch check below compares
    // the parts as written, not as stored.
    int32_t nres = 0;
    while ((c = std::getc(fl)) != EOF && c != '*') {
        if (c >= 128) continue;  // no residue letter lies there
        int8_t n = aanum(int8_t(c));
        if (n < 0) continue;
        if (nres < MAXSEQ) sequence->seq[nres] = n;
        nres++;
    }
    sequence->seqlen = nres < MAXSEQ ? nres : MAXSEQ;
    if (nres > MAXSEQ) warn_truncated(sequence->code);  // as the FASTA reader does

    int32_t nreg = 0;
    bool bad_letter = false;
    if (c != EOF) {
        while ((c = std::getc(fl)) != EOF && c != '*') {
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
            if (nreg < MAXSEQ) sequence->reg[nreg] = r;
            nreg++;
        }
    }
    // Residues without a register entry are outside any coil, rather than
    // keeping whatever an earlier record left there.
    for (int32_t k = nreg; k < sequence->seqlen; k++) sequence->reg[k] = NOREG;

    if (bad_letter || nreg != nres) std::fprintf(stderr, "erroneous .pos file!\n");
    return c == '*' ? 1 : 0;
}

void add_seq2(int32_t pfreqs[NAA][NREG], int32_t ptotals[NREG], int32_t pfreqp[NAA][NAA][NREG][NREG],
              int32_t ptotalp[NREG][NREG], const int8_t *reg, const int8_t *seq, int32_t seqlen,
              int32_t bias)
{
    for (int32_t i = 0; i < seqlen; i++) {
        int8_t a = seq[i], p = reg[i];
        if (!is_amino_acid(a) || !is_register(p)) continue;
        // The run goes on while the heptad continues; gaps and X inside it
        // are passed over but keep it going.
        for (int32_t j = i + 1; j <= i + 7 && j < seqlen; j++) {
            int8_t q = reg[j];
            if (q != (p + j - i) % NREG) break;
            int8_t b = seq[j];
            if (!is_amino_acid(b)) continue;
            bump(pfreqp[a][b][p][q], bias);
            bump(ptotalp[p][q], bias);
        }
        bump(pfreqs[a][p], bias);
        bump(ptotals[p], bias);
    }
}

int32_t add_genseq(int32_t *gtotals, int32_t gfreqs[NAA], int32_t gtotalp[NREG],
                   int32_t gfreqp[NAA][NAA][NREG], const int8_t *seq, int32_t seqlen)
{
    for (int32_t i = 0; i < seqlen; i++) {
        int8_t a = seq[i];
        if (!is_amino_acid(a)) continue;
        if (!count_up(gfreqs[a]) || !count_up(*gtotals)) return 0;
        for (int32_t d = 0; d < NREG && i + d + 1 < seqlen; d++) {
            int8_t b = seq[i + d + 1];
            if (!is_amino_acid(b)) continue;
            if (!count_up(gfreqp[a][b][d]) || !count_up(gtotalp[d])) return 0;
        }
    }
    return 1;
}

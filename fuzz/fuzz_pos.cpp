// fuzz_pos: the register-file reader getpos and the register-pair counting.
//
// Every record fits the buffers and holds residue numbers 0..21 and
// registers 0..6 or "." for each residue.  add_seq2 on empty tables gives
// totals that are the sums of their counts; add_seq2 -1 then +1 on the
// loaded model gives the model back exactly.
#include <cstring>

#include "fuzz_common.h"
#include "scio.h"
#include "scpos.h"

namespace {

struct Counts {
    int32_t totals[NREG], freqs[NAA][NREG], totalp[NREG][NREG], freqp[NAA][NAA][NREG][NREG];
};

void check_sums(const Counts &c)
{
    for (int p = 0; p < NREG; p++) {
        int64_t s = 0;
        for (int x = 0; x < NAA; x++) s += c.freqs[x][p];
        FUZZ_CHECK(s == c.totals[p]);
        for (int q = 0; q < NREG; q++) {
            int64_t t = 0;
            for (int x = 0; x < NAA; x++)
                for (int y = 0; y < NAA; y++) t += c.freqp[x][y][p][q];
            FUZZ_CHECK(t == c.totalp[p][q]);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Buffers b;
    static Counts model, work, fresh;
    static bool loaded = false;
    if (!loaded) {
        MemIn m(MemIn::Borrow, model_posfreq());
        readposfreq(m.fp, model.totals, model.freqs, model.totalp, model.freqp, stderr);
        loaded = true;
    }
    MemIn in(data, size);
    size_t headers = 0;
    for (size_t i = 0; i < size; i++) headers += data[i] == '>';
    size_t records = 0;
    std::memset(&fresh, 0, sizeof fresh);
    while (getpos(in.fp, &b.sequence)) {
        records++;
        FUZZ_CHECK(records <= headers);
        const Sequence &s = b.sequence;
        FUZZ_CHECK(s.seqlen >= 0 && s.seqlen <= MAXSEQ);
        FUZZ_CHECK(strnlen(s.code, NAMELEN) < NAMELEN && strnlen(s.title, NAMELEN) < NAMELEN);
        for (int32_t i = 0; i < s.seqlen; i++) {
            FUZZ_CHECK(s.seq[i] >= 0 && s.seq[i] <= 21);
            FUZZ_CHECK((s.reg[i] >= 0 && s.reg[i] < NREG) || s.reg[i] == NOREG);
        }
        add_seq2(fresh.freqs, fresh.totals, fresh.freqp, fresh.totalp, s.reg, s.seq, s.seqlen, 1);
        std::memcpy(&work, &model, sizeof work);
        add_seq2(work.freqs, work.totals, work.freqp, work.totalp, s.reg, s.seq, s.seqlen, -1);
        add_seq2(work.freqs, work.totals, work.freqp, work.totalp, s.reg, s.seq, s.seqlen, 1);
        FUZZ_CHECK(std::memcmp(&work, &model, sizeof work) == 0);
    }
    if (records) check_sums(fresh);
    return 0;
}

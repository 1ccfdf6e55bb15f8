// fuzz_pos: the register-file reader getpos and the register-pair counting.
// Every record holds residue numbers 0..21 and registers 0..6 or "." for
// each residue; counted on empty tables the counts pass the reader's own
// checks; taken out of the model and put back, the model is unchanged.
#include <cstring>
#include <memory>

#include "fuzz_common.h"
#include "scio.h"
#include "scpos.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemIn in(data, size);
    static PosFreq model, counted, copy;
    static bool loaded = false;
    if (!loaded) {
        MemIn pin(model_posfreq());
        readposfreq(pin.fp, model);
        loaded = true;
    }
    std::memset(&counted, 0, sizeof counted);
    copy = model;
    Sequence rec;
    for (int32_t r; (r = getpos(in.fp, rec, 300)) != POS_END;) {
        FUZZ_CHECK(rec.seqlen <= 300);
        for (int32_t i = 0; i < rec.seqlen; i++) {
            const int8_t a = rec.seq[size_t(i)], g = rec.reg[size_t(i)];
            FUZZ_CHECK(a >= 0 && a <= 21 && ((g >= 0 && g < NREG) || g == NOREG));
        }
        add_seq2(counted, rec.reg.data(), rec.seq.data(), rec.seqlen, 1);
        add_seq2(copy, rec.reg.data(), rec.seq.data(), rec.seqlen, -1);
        add_seq2(copy, rec.reg.data(), rec.seq.data(), rec.seqlen, 1);
        if (r == POS_INCOMPLETE) break;
    }
    FUZZ_CHECK(std::memcmp(&copy, &model, sizeof model) == 0);
    MemOut out;
    writeposfreq(out.fp, counted);
    MemIn back(out.text());
    FUZZ_CHECK(failed([&] { readposfreq(back.fp, copy); }) == -1);  // consistent counts read back
    return 0;
}

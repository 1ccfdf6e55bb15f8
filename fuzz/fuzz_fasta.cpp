// fuzz_fasta: the FASTA reader getseq2 over arbitrary bytes.
//
// Every record it returns must fit the driver's buffers and hold only what
// the reader may store: residue numbers 0..20, a code without blanks, a
// title without a line break.  Each record consumes input, so the number of
// records never exceeds the number of ">" bytes.  A parse error ends the
// input with status -1, never anything else.
#include <cstring>

#include "fuzz_common.h"
#include "scio.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Buffers b;
    MemIn in(data, size);
    size_t headers = 0;
    for (size_t i = 0; i < size; i++) headers += data[i] == '>';
    size_t records = 0;
    try {
        while (getseq2(in.fp, &b.sequence)) {
            records++;
            FUZZ_CHECK(records <= headers);
            const Sequence &s = b.sequence;
            FUZZ_CHECK(s.seqlen >= 0 && s.seqlen <= MAXSEQ);
            for (int32_t i = 0; i < s.seqlen; i++) FUZZ_CHECK(s.seq[i] >= 0 && s.seq[i] <= 20);
            size_t cl = strnlen(s.code, NAMELEN), tl = strnlen(s.title, NAMELEN);
            FUZZ_CHECK(cl < NAMELEN && tl < NAMELEN);
            FUZZ_CHECK(!std::strpbrk(s.code, " \t\n"));
            FUZZ_CHECK(!std::strchr(s.title, '\n'));
        }
    } catch (const ProgramExit &e) {
        FUZZ_CHECK(e.status == -1);
    }
    return 0;
}

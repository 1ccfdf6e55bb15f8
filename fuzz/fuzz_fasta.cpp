// fuzz_fasta: the FASTA reader read_fasta_record over arbitrary bytes, with the first
// byte choosing the length limit.  Every record holds at most the limit of
// residue numbers 0..20, a code without blanks and a title without a line
// break; each record consumes a ">", and a failure is the parse error (255).
#include <cstring>

#include "fuzz_common.h"
#include "velcorin2/counting.h"
#include "velcorin2/io.h"
#include "velcorin2/report.h"
#include "velcorin2/settings.h"
#include "velcorin2/velcorin2.h"

using namespace velcorin2;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const int32_t limit = data[0] % 4 == 0 ? 0 : data[0];  // 0: no limit
    MemIn in(data + 1, size - 1);
    size_t headers = 0;
    for (size_t i = 1; i < size; i++) headers += data[i] == '>';
    Sequence rec;
    size_t records = 0;
    int status = failed([&] {
        while (read_fasta_record(in.fp, rec, limit)) {
            FUZZ_CHECK(++records <= headers);
            FUZZ_CHECK(limit == 0 || rec.length <= limit);
            for (int32_t i = 0; i < rec.length; i++)
                FUZZ_CHECK(rec.residues[size_t(i)] >= 0 && rec.residues[size_t(i)] <= 20);
            FUZZ_CHECK(!std::strpbrk(rec.code, " \t\n") && !std::strchr(rec.title, '\n'));
        }
    });
    FUZZ_CHECK(status == -1 || status == STATUS_USAGE);
    return 0;
}

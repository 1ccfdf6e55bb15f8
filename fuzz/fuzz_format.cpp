// fuzz_format: the per-residue table's own row formatting against printf.
//
// txt_format_row writes a row without printf, rounding scores to hundredths
// itself; for any position, letters and score (every bit pattern of a
// double: subnormals, huge values, NaN, infinities, halves) its bytes must
// be exactly what "%8d       %c             %c      %8.5f    (%7.2f)\n"
// gives with the p-score of score2prob.
#include <cstring>

#include "fuzz_common.h"
#include "output.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 14) return 0;
    double score;
    int32_t pos;
    std::memcpy(&score, data, 8);
    std::memcpy(&pos, data + 8, 4);
    const char residue = char(data[12]), reg = char(data[13]);
    static char mine[TXT_ROW_MAX], ref[TXT_ROW_MAX];
    int n = txt_format_row(mine, pos, residue, reg, score);
    int m = std::snprintf(ref, sizeof ref, "%8d       %c             %c      %8.5f    (%7.2f)\n", pos, residue,
                          reg, score2prob(score), score);
    FUZZ_CHECK(n == m && std::memcmp(mine, ref, size_t(n)) == 0);
    return 0;
}

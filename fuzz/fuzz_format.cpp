// fuzz_format: the per-residue table's own formatting against printf.
// Input: records of 8 bytes of a double score and a byte of register offset.
// write_residue_table writes the rows of these residues without printf, stepping the
// position and reusing the formatted score of the previous residue; each row
// must be exactly what "%8d       %c             %c      %8.5f    (%7.2f)\n"
// gives (every bit pattern of a double: subnormals, huge values, NaN,
// infinities, halves).  txt_format_row must give the same single rows.
#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "velcorin2/counting.h"
#include "velcorin2/io.h"
#include "velcorin2/report.h"
#include "velcorin2/settings.h"
#include "velcorin2/velcorin2.h"

using namespace velcorin2;

#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const PscoreTables &t = builtin_pscores(28);
    const size_t n = size / 9;
    Sequence rec;
    Prediction p;
    rec.length = p.length = int32_t(n);
    rec.residues.resize(n);
    p.score.resize(n);
    p.offset.resize(n);
    p.scored = true;
    std::vector<int8_t> &offsets = p.offset, &seq = rec.residues;
    std::string want = "# Unnamed sequence\n#\n# Position  Residue      Register    P-score    ( Score )\n";
    char ref[TABLE_ROW_MAX], mine[TABLE_ROW_MAX];
    for (size_t i = 0; i < n; i++) {
        double score;
        std::memcpy(&score, data + 9 * i, 8);
        offsets[i] = int8_t(data[9 * i + 8] % NREG);
        seq[i] = int8_t(data[9 * i + 8] % 23);  // 22: a byte no letter stands for
        p.score[i] = score;
        const char res = residue_letter(seq[i]), reg = char('a' + (offsets[i] + i) % NREG);
        const int m = std::snprintf(ref, sizeof ref, "%8d       %c             %c      %8.5f    (%7.2f)\n", int(i + 1),
                                    res, reg, residue_pscore(t, score), score);
        want.append(ref, size_t(m));
        FUZZ_CHECK(format_table_row(t, mine, int32_t(i + 1), res, reg, score) == m &&
                   !std::memcmp(mine, ref, size_t(m)));
    }
    std::string got;
    write_residue_table(t, rec, p, got);
    FUZZ_CHECK(got == want);
    return 0;
}

// fuzz_counts: the two count-file readers and the probability tables.
//
// Input: one flags byte, then either the raw bytes of a GenFreq file
// followed by a PosFreq file (flag bit 0 clear), or patches to the fixed
// model's two files (bit 0 set): records of a 4-byte offset into the
// concatenated files, a length byte and that many replacement bytes; a final
// offset past the end cuts the files there.  The readers either stop with
// error 5 or 6 (status 2) or load the tables, which are then turned into
// probabilities with and without ProlineFreeWin (flag bit 1).  When the
// loaded counts are consistent (none negative, every total the sum of its
// counts) the tables must be finite and each register's probabilities must
// sum to 1.
#include <cmath>
#include <cstring>

#include "fuzz_common.h"
#include "scio.h"
#include "scscore.h"

namespace {

int32_t gtotals, gfreqs[NAA], gtotalp[NREG], gfreqp[NAA][NAA][NREG];
int32_t ptotals[NREG], pfreqs[NAA][NREG], ptotalp[NREG][NREG], pfreqp[NAA][NAA][NREG][NREG];

std::string patched(const uint8_t *data, size_t size)
{
    std::string img = model_genfreq() + model_posfreq();
    size_t i = 0;
    while (i + 5 <= size) {
        uint32_t off = uint32_t(data[i]) << 24 | uint32_t(data[i + 1]) << 16 | uint32_t(data[i + 2]) << 8 |
                       data[i + 3];
        size_t len = data[i + 4];
        i += 5;
        if (off >= img.size()) {
            img.resize(off % (img.size() + 1));
            break;
        }
        for (size_t k = 0; k < len && i < size; k++, i++)
            if (off + k < img.size()) img[off + k] = char(data[i]);
    }
    return img;
}

bool consistent_gen()
{
    int64_t s = 0;
    for (int x = 0; x < NAA; x++) {
        if (gfreqs[x] < 0) return false;
        s += gfreqs[x];
    }
    if (s != gtotals) return false;
    for (int d = 0; d < NREG; d++) {
        int64_t t = 0;
        for (int x = 0; x < NAA; x++)
            for (int y = 0; y < NAA; y++) {
                if (gfreqp[x][y][d] < 0) return false;
                t += gfreqp[x][y][d];
            }
        if (t != gtotalp[d]) return false;
    }
    return true;
}

bool consistent_pos()
{
    for (int p = 0; p < NREG; p++) {
        int64_t s = 0;
        for (int x = 0; x < NAA; x++) {
            if (pfreqs[x][p] < 0) return false;
            s += pfreqs[x][p];
        }
        if (s != ptotals[p]) return false;
        for (int q = 0; q < NREG; q++) {
            int64_t t = 0;
            for (int x = 0; x < NAA; x++)
                for (int y = 0; y < NAA; y++) {
                    if (pfreqp[x][y][p][q] < 0) return false;
                    t += pfreqp[x][y][p][q];
                }
            if (t != ptotalp[p][q]) return false;
        }
    }
    return true;
}

// Probabilities of the residues (pairs) that take part sum to 1.
void check_pos_tables(int plf)
{
    const int last = plf ? PROLINE : NAA;
    for (int r = 0; r < NREG; r++) {
        double mass = 0;
        for (int x = 0; x < last; x++) {
            FUZZ_CHECK(std::isfinite(pprobs[x][r]));
            mass += std::exp(pprobs[x][r]);
        }
        FUZZ_CHECK(std::fabs(mass - 1.0) < 1e-9);
        if (plf) FUZZ_CHECK(pprobs[PROLINE][r] == LOGZERO);
    }
    for (int p = 0; p < NREG; p++)
        for (int q = 0; q < NREG; q++) {
            double mass = 0;
            for (int x = 0; x < last; x++)
                for (int y = 0; y < last; y++) {
                    FUZZ_CHECK(std::isfinite(pprobp[x][y][p][q]));
                    mass += std::exp(pprobp[x][y][p][q]);
                }
            FUZZ_CHECK(std::fabs(mass - 1.0) < 1e-9);
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
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    std::string img = (flags & 1) ? patched(data + 1, size - 1)
                                  : std::string(reinterpret_cast<const char *>(data + 1), size - 1);
    MemIn in(img);
    try {
        readgenfreq(in.fp, &gtotals, gfreqs, gtotalp, gfreqp, stderr);
        readposfreq(in.fp, ptotals, pfreqs, ptotalp, pfreqp, stderr);
    } catch (const ProgramExit &e) {
        FUZZ_CHECK(e.status == 2);
        return 0;
    }
    const int plf = (flags & 2) ? MODE_PROLINEFREE : 0;
    calcgprobs(gfreqs, gtotals, gprobs);
    calcgprobp(gfreqp, gtotalp, gprobp);
    calcpprobs(pfreqs, ptotals, pprobs, plf);
    calcpprobp(pfreqp, ptotalp, pprobs, pprobp, plf);
    if (consistent_gen() && gtotals > 0)
        for (int x = 0; x < NAA; x++) FUZZ_CHECK(std::isfinite(gprobs[x]));
    if (consistent_pos()) check_pos_tables(plf);
    return 0;
}

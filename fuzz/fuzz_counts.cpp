// fuzz_counts: the two count-file readers and the probability tables.
//
// Input: one flags byte, then either the raw bytes of a GenFreq file and a
// PosFreq file, split where the model's GenFreq file ends (flag bit 0
// clear), or patches to the fixed model's two files (bit 0 set): records of
// a 4-byte offset into the concatenated files, a length byte and that many
// replacement bytes; an offset past the end cuts the files there.  The
// readers either fail with error 5 or 6 (status 2) or load counts that are
// consistent (none negative, every total the sum of its counts, checked
// here independently); the tables built from them, with and without the
// proline rule (bit 1), are finite where counts exist and each register's
// probabilities sum to 1.
#include <cmath>
#include <memory>

#include "fuzz_common.h"
#include "velcorin2/counting.h"
#include "velcorin2/io.h"
#include "velcorin2/report.h"
#include "velcorin2/settings.h"
#include "velcorin2/velcorin2.h"

using namespace velcorin2;

namespace {

std::string patched(const uint8_t *data, size_t size)
{
    std::string img = model_genfreq() + model_posfreq();
    for (size_t i = 0; i + 5 <= size;) {
        const uint32_t off =
            uint32_t(data[i]) << 24 | uint32_t(data[i + 1]) << 16 | uint32_t(data[i + 2]) << 8 | data[i + 3];
        const size_t len = data[i + 4];
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

// Sum of n counts from `a` on, stride `step`; false when one is negative.
bool sum(const int32_t *a, int n, int step, int64_t *total)
{
    *total = 0;
    for (int i = 0; i < n; i++) {
        if (a[i * step] < 0) return false;
        *total += a[i * step];
    }
    return true;
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
    const std::string img =
        (data[0] & 1) ? patched(data + 1, size - 1) : std::string(reinterpret_cast<const char *>(data + 1), size - 1);
    const size_t cut = std::min(img.size(), model_genfreq().size());
    MemIn gin(img.substr(0, cut)), pin(img.substr(cut));
    static BackgroundCounts g;
    static CoilCounts p;
    const int status = failed([&] {
        read_background_counts(gin.fp, g);
        read_coil_counts(pin.fp, p);
    });
    if (status != -1) {
        FUZZ_CHECK(status == STATUS_ERROR);
        return 0;
    }
    int64_t t;
    FUZZ_CHECK(sum(g.freqs, NAA, 1, &t) && t == g.totals);
    for (int d = 0; d < NREG; d++) FUZZ_CHECK(sum(&g.freqp[0][0][d], NAA * NAA, NREG, &t) && t == g.totalp[d]);
    for (int r = 0; r < NREG; r++) {
        FUZZ_CHECK(sum(&p.freqs[0][r], NAA, NREG, &t) && t == p.totals[r]);
        for (int q = 0; q < NREG; q++)
            FUZZ_CHECK(sum(&p.freqp[0][0][r][q], NAA * NAA, NREG * NREG, &t) && t == p.totalp[r][q]);
    }
    const bool prolines_end_segments = (data[0] & 2) != 0;
    const int8_t distance = 0;
    static Model m;
    build_model(m, g, p, &distance, 1, prolines_end_segments, 28, nullptr);
    const ProbTables &pr = m.probs;
    if (g.totals > 0)
        for (int x = 0; x < NAA; x++) FUZZ_CHECK(std::isfinite(pr.bg_residue[x]));
    const int last = prolines_end_segments ? PROLINE : NAA;
    for (int r = 0; r < NREG; r++) {
        double mass = 0;
        for (int x = 0; x < last; x++) mass += std::exp(pr.coil_residue[x][r]);
        FUZZ_CHECK(std::fabs(mass - 1.0) < 1e-9);
        for (int q = 0; q < NREG; q++) {
            double pairs = 0;
            for (int x = 0; x < last; x++)
                for (int y = 0; y < last; y++) pairs += std::exp(pr.coil_pair[x][y][r][q]);
            FUZZ_CHECK(std::fabs(pairs - 1.0) < 1e-9);
        }
    }
    return 0;
}

// fuzz_region: the region file of the comparison plot (res_compare).
//
// Input: one byte for the sequence length, then the region file.  Three
// sequences with the codes s1, s2 and s3 are drawn in turn from fixed score
// curves (with unscored stretches), reading the region file forward.  Each
// page names a region inside its sequence and ends with "showpage".
#include <cmath>
#include <cstring>
#include <limits>

#include "fuzz_common.h"
#include "output.h"

namespace {

void check_page(const std::string &page, int32_t seqlen)
{
    FUZZ_CHECK(page.size() >= 10 && page.compare(page.size() - 10, 10, "showpage\n\n") == 0);
    size_t at = page.find("315 sy moveto (region ");
    FUZZ_CHECK(at != std::string::npos);
    int a = 0, b = 0;
    FUZZ_CHECK(std::sscanf(page.c_str() + at, "315 sy moveto (region %d-%d)", &a, &b) == 2);
    FUZZ_CHECK(a >= 1 && a <= seqlen + 1 && b >= a - 1 && b <= seqlen);
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
    static Buffers b;
    static double sc1[MAXSEQ], sc2[MAXSEQ];
    const double ninf = -std::numeric_limits<double>::infinity();
    const int32_t seqlen = 1 + data[0];
    for (int32_t i = 0; i < seqlen; i++) {
        sc1[i] = (i % 37) < 5 ? ninf : std::sin(i * 0.1) * 10;
        sc2[i] = (i % 41) < 3 ? ninf : std::cos(i * 0.07) * 12 - 2;
    }
    for (int32_t i = 0; i < seqlen; i++) b.seq[i] = int8_t(i % 21);
    b.sequence.seqlen = seqlen;
    std::strcpy(b.title, "region test");
    MemIn region(data + 1, size - 1);
    for (const char *code : {"s1", "s2", "s3"}) {
        std::strcpy(b.code, code);
        MemOut ps;
        res_compare(ps.fp, sc1, sc2, &b.sequence, region.fp);
        check_page(ps.text(), seqlen);
    }
    return 0;
}

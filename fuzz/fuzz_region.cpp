// fuzz_region: the region file of the comparison plot, read forward record
// by record (read_region) and drawn (res_compare).  Input: one byte for the
// sequence length, then the region file.  Three sequences s1, s2, s3 are
// drawn in turn from fixed score curves with unscored stretches; each page
// names a region inside its sequence and ends with "showpage".
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

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
    if (size == 0) return 0;
    const int32_t seqlen = 1 + data[0];
    Prediction p;
    p.scored = true;
    p.length = seqlen;
    p.stock_score.resize(size_t(seqlen));
    p.score.resize(size_t(seqlen));
    std::vector<double> &sc1 = p.stock_score, &sc2 = p.score;
    for (int32_t i = 0; i < seqlen; i++) {
        sc1[size_t(i)] = (i % 37) < 5 ? -std::numeric_limits<double>::infinity() : std::sin(i * 0.1) * 10;
        sc2[size_t(i)] = (i % 41) < 3 ? -std::numeric_limits<double>::infinity() : std::cos(i * 0.07) * 12 - 2;
    }
    Sequence rec;
    rec.length = seqlen;
    std::strcpy(rec.title, "region (test) \\ \x01");
    MemIn region(data + 1, size - 1);
    for (const char *code : {"s1", "s2", "s3"}) {
        std::strcpy(rec.code, code);
        PlotRegion r{true, 1, seqlen};
        read_plot_region(region.fp, code, &r.first, &r.last);  // not found: the whole sequence
        std::string page;
        write_plot_page(rec, p, r, page);
        FUZZ_CHECK(page.size() >= 10 && page.compare(page.size() - 10, 10, "showpage\n\n") == 0);
        FUZZ_CHECK(page.find("(region \\(test\\) \\\\ \\001)") != std::string::npos);
        const size_t at = page.find("315 sy moveto (region ");
        int a = 0, b = 0;
        FUZZ_CHECK(at != std::string::npos &&
                   std::sscanf(page.c_str() + at, "315 sy moveto (region %d-%d)", &a, &b) == 2);
        FUZZ_CHECK(a >= 1 && a <= seqlen + 1 && b >= a - 1 && b <= seqlen);
    }
    return 0;
}

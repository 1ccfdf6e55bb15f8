// fuzz_driver: the record driver process_input on fuzzed sequences.
//
// Input: a flags byte (bit 0 register files, bit 1 leave-one-out, bit 2
// proline rule off, bit 3 window length 21, bits 4 and 5 the map's "+" and
// "-", bit 6 a region file, bit 7 three threads), a byte for functnum, seven
// distance bytes, a byte choosing the two bounds, then the sequence input;
// with bit 6 the region file comes first, ended by a line "@@".  Every
// output is on: score line, coil report with map, plot and table.  The run
// ends normally or with a FASTA parse error (255); with the consistent
// fixed model and no leave-one-out no row holds NaN.
#include <memory>
#include <string>

#include "cli/cli.h"
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
    constexpr size_t HEAD = 10;
    if (size < HEAD) return 0;
    static const double bounds[8] = {0.0, 0.001, 0.025, 0.05, 0.5, 0.9, 1.0, 0.99994};
    const uint8_t flags = data[0];
    RunSettings s = default_settings();
    s.mode = MODE_VERBOSE | MODE_PRINT | MODE_VIEW | MODE_MAP | MODE_PROLINEFREE;
    if (flags & 1) s.mode |= MODE_POS;
    if (flags & 2) s.mode |= MODE_LEAVEOUT;
    if (flags & 4) s.mode ^= MODE_PROLINEFREE;
    if (flags & 16) s.mode |= MODE_MAP_GIVEN;
    if (flags & 32) s.mode |= MODE_MAP_FLAGGED;
    if (flags & 8) s.shortest_segment = 21;
    if (flags & 128) s.threads = 3;
    s.distance_count = 1 + data[1] % NREG;
    for (int i = 0; i < NREG; i++) s.distances[i] = int8_t(data[2 + i] % NREG);
    s.report_pscore = bounds[data[9] & 7];
    s.map_bound = (s.mode & (MODE_MAP_GIVEN | MODE_MAP_FLAGGED)) ? bounds[(data[9] >> 3) & 7] : s.report_pscore;

    std::string body(reinterpret_cast<const char *>(data + HEAD), size - HEAD), region;
    if (flags & 64) {
        size_t cut = body.find("\n@@\n");
        if (cut != std::string::npos) {
            region = body.substr(0, cut + 1);
            body.erase(0, cut + 4);
        }
    }
    static BackgroundCounts g;
    static CoilCounts p;
    static Model m;
    static std::string built;  // the settings the model was last built for
    if (built.empty()) {
        MemIn gin(model_genfreq()), pin(model_posfreq());
        read_background_counts(gin.fp, g);
        read_coil_counts(pin.fp, p);
    }
    const std::string key = std::string(reinterpret_cast<const char *>(s.distances), size_t(s.distance_count)) +
                            char(s.mode & MODE_PROLINEFREE ? 1 : 0) + char(s.shortest_segment);
    if (key != built) {
        build_model(m, g, p, s.distances, s.distance_count, (s.mode & MODE_PROLINEFREE) != 0, s.shortest_segment,
                    nullptr);
        built = key;
    }

    MemIn test(body), reg(region);
    MemOut fout, flog, flog_seq, ps;
    {
        cli::RunFiles f;
        f.sequences = test.fp;
        f.table = fout.fp;
        f.coil_log = flog.fp;
        f.sequence_log = flog_seq.fp;
        f.plot = ps.fp;
        f.plot_regions = (flags & 64) ? reg.fp : nullptr;
        const int status = failed([&] { cli::process_input(s, f, m, p); });
        FUZZ_CHECK(status == -1 || (status == STATUS_USAGE && !(s.mode & (MODE_POS | MODE_LEAVEOUT))));
        f.sequences = f.table = f.coil_log = f.sequence_log = f.plot = f.plot_regions =
            nullptr;  // closed by their owners
    }
    if (!(s.mode & MODE_LEAVEOUT)) {
        // Header lines ("# ...") carry the record's own text; rows carry numbers only.
        const std::string table = fout.text();
        for (size_t at = 0, nl; at < table.size(); at = nl + 1) {
            nl = table.find('\n', at);
            if (nl == std::string::npos) nl = table.size();
            if (table[at] != '#') FUZZ_CHECK(table.substr(at, nl - at).find("nan") == std::string::npos);
        }
    }
    return 0;
}

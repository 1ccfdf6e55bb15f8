// fuzz_driver: the whole per-sequence driver calcseq on fuzzed sequences.
//
// Input: a flags byte (bit 0 register files, bit 1 leave-one-out, bit 2
// proline-free off, bit 3 window length 21, bits 4 and 5 the map's "+" and
// "-", bit 6 a region file), a byte for functnum, seven distance bytes, a
// byte choosing the two bounds, then the sequence input; with bit 6 the
// region file comes first, ended by a line "@@".  Every output is on: score
// line, coil report with map, plot (in the scratch directory) and table.
// The run ends normally or with a FASTA parse error (status -1); with the
// consistent fixed model and no leave-one-out the table holds no NaN.
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "sc2seq.h"

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
    int mode = MODE_VERBOSE | MODE_PRINT | MODE_VIEW | MODE_MAP | MODE_PROLINEFREE;
    if (flags & 1) mode |= MODE_POS;
    if (flags & 2) mode |= MODE_LEAVEOUT;
    if (flags & 4) mode ^= MODE_PROLINEFREE;
    if (flags & 16) mode |= MODE_MAP_GIVEN;
    if (flags & 32) mode |= MODE_MAP_FLAGGED;
    reset_run();
    if (flags & 8) window_length = 21;
    functnum = 1 + data[1] % NREG;
    int8_t lib[NREG];
    for (int i = 0; i < NREG; i++) lib[i] = int8_t(data[2 + i] % NREG);
    const double bound = bounds[data[9] & 7], upper = bounds[(data[9] >> 3) & 7];

    std::string body(reinterpret_cast<const char *>(data + HEAD), size - HEAD), region;
    const bool with_region = flags & 64;
    if (with_region) {
        size_t cut = body.find("\n@@\n");
        if (cut != std::string::npos) {
            region = body.substr(0, cut + 1);
            body.erase(0, cut + 4);
        }
    }

    MemIn gen(MemIn::Borrow, model_genfreq()), pos(MemIn::Borrow, model_posfreq()), test(body), reg(region);
    MemOut fout, flog, flog_seq;
    bool finished = false;
    try {
        calcseq(gen.fp, pos.fp, test.fp, fout.fp, flog.fp, flog_seq.fp, with_region ? reg.fp : nullptr,
                mode, bound, (mode & (MODE_MAP_GIVEN | MODE_MAP_FLAGGED)) ? upper : bound, lib);
        finished = true;
    } catch (const ProgramExit &e) {
        FUZZ_CHECK(e.status == -1 && !(mode & MODE_POS) && !(mode & MODE_LEAVEOUT));
    }
    if (finished && !(mode & MODE_LEAVEOUT)) {
        // Header lines ("# ...") carry the record's own text; rows carry numbers only.
        const std::string table = fout.text();
        for (size_t at = 0, nl; at < table.size(); at = nl + 1) {
            nl = table.find('\n', at);
            if (nl == std::string::npos) nl = table.size();
            if (table[at] != '#') FUZZ_CHECK(table.substr(at, nl - at).find("nan") == std::string::npos);
        }
    }
    close_tracked();
    reset_run();
    return 0;
}

// fuzz_calib: the calibration file reader.  Input: patches to the shipped
// calibration (records of a 3-byte offset, a length byte and that many
// replacement bytes; an offset past the end cuts the file there).  The
// reader either fails with status 2 or returns tables that rise strictly
// inside (0, 1), counts that never fall and stay within the sequences
// scored, and the same bytes when written again.
#include <memory>

#include "velcorin2/counting.h"
#include "velcorin2/io.h"
#include "velcorin2/report.h"
#include "velcorin2/settings.h"
#include "velcorin2/velcorin2.h"

using namespace velcorin2;
#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static std::string shipped;
    if (shipped.empty()) {
        FILE *f = std::fopen(VELCORIN2_SOURCE_DIR "/data/calibration.dat", "rb");
        if (!f) std::abort();
        for (int c; (c = std::fgetc(f)) != EOF;) shipped += char(c);
        std::fclose(f);
    }
    std::string text = shipped;
    for (size_t i = 0; i + 4 <= size;) {
        const size_t off = size_t(data[i]) << 16 | size_t(data[i + 1]) << 8 | data[i + 2], len = data[i + 3];
        i += 4;
        if (off >= text.size()) {
            text.resize(off % (text.size() + 1));
            break;
        }
        for (size_t k = 0; k < len && i < size; k++, i++)
            if (off + k < text.size()) text[off + k] = char(data[i]);
    }
    MemIn in(text);
    static Calibration c;
    const int status = failed([&] { read_calibration(in.fp, "c", c); });
    if (status != -1) {
        FUZZ_CHECK(status == STATUS_ERROR);
        return 0;
    }
    for (const CalResidueTable &t : c.residue)
        for (int i = 0; i < RESIDUE_ROWS; i++) FUZZ_CHECK(t.q[i] > (i ? t.q[i - 1] : 0) && t.q[i] < CAL_UNIT);
    for (const CalSequenceTable &t : c.sequence)
        for (int k = 0; k < SEQUENCE_ROWS; k++) FUZZ_CHECK(t.c[k] >= (k ? t.c[k - 1] : 0) && t.c[k] <= t.scored);
    MemOut out;
    FUZZ_CHECK(write_calibration(out.fp, c) && out.text() == text);
    return 0;
}

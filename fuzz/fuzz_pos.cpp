// fuzz_pos: the register-file reader getpos and the register-pair counting.
// Every record holds residue numbers 0..21 and registers 0..6 or "." for
// each residue; counted on empty tables the counts pass the reader's own
// checks; taken out of the model and put back, the model is unchanged.
#include <cstring>
#include <memory>

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
    MemIn in(data, size);
    static CoilCounts model, counted, copy;
    static bool loaded = false;
    if (!loaded) {
        MemIn pin(model_posfreq());
        read_coil_counts(pin.fp, model);
        loaded = true;
    }
    std::memset(&counted, 0, sizeof counted);
    copy = model;
    Sequence rec;
    for (RecordRead r; (r = read_register_record(in.fp, rec, 300)) != RecordRead::END;) {
        FUZZ_CHECK(rec.length <= 300);
        for (int32_t i = 0; i < rec.length; i++) {
            const int8_t a = rec.residues[size_t(i)], g = rec.registers[size_t(i)];
            FUZZ_CHECK(a >= 0 && a <= 21 && ((g >= 0 && g < NREG) || g == NOREG));
        }
        add_coil_counts(counted, rec, 1);
        add_coil_counts(copy, rec, -1);
        add_coil_counts(copy, rec, 1);
        if (r == RecordRead::INCOMPLETE) break;
    }
    FUZZ_CHECK(std::memcmp(&copy, &model, sizeof model) == 0);
    MemOut out;
    write_coil_counts(out.fp, counted);
    MemIn back(out.text());
    FUZZ_CHECK(failed([&] { read_coil_counts(back.fp, copy); }) == -1);  // consistent counts read back
    return 0;
}

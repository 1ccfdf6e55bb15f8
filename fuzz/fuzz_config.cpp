// fuzz_config: the configuration file reader get_defaults.
//
// The input is written to a file that VELCORIN_CONFIG names.  File names in
// it are kept inside the scratch directory by the stream wrappers, where a
// few fixtures exist to be opened.  Whatever the file holds, libnum stays
// within the seven entries of lib, lib is written nowhere else, and every
// stream the reader opened is closed again before the next input.
#include <cstring>

#include "fuzz_common.h"
#include "fuzz_wrap.h"
#include "get_defaults.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_setup();
    fuzz_real_pipes = false;  // the pipe itself is the command-line harness's
    add_fixture("gen.dat", model_genfreq());
    add_fixture("pos.dat", model_posfreq());
    add_fixture("seqs.fa", ">s1 a test\nMKLVELLKKNEELEKKVAELEKENAELKKKL\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = scratch_path("config");
    {
        FILE *f = std::fopen(path.c_str(), "wb");
        if (!f) std::abort();
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    setenv("VELCORIN_CONFIG", path.c_str(), 1);

    int mode = 0, libnum = 0, fnum = 3;
    double bound = 0.0;
    FILE *fgin = nullptr, *fpin = nullptr, *ftest = nullptr, *fout = nullptr, *flog = nullptr;
    int8_t lib[NREG + 2];
    std::memset(lib, 0x55, sizeof lib);
    try {
        int r = get_defaults(&mode, &bound, &fgin, &fpin, &ftest, &fout, &flog, lib, &libnum, &fnum);
        FUZZ_CHECK(r == 1);
        FUZZ_CHECK(libnum >= 0 && libnum <= NREG);
        FUZZ_CHECK(lib[NREG] == 0x55 && lib[NREG + 1] == 0x55);
        FUZZ_CHECK((mode & ~(MODE_VERBOSE | MODE_PRINT | MODE_POS | MODE_VIEW)) == 0);
    } catch (const ProgramExit &e) {
        FUZZ_CHECK(e.status == 2);  // only a file that cannot be opened ends the run
    }
    close_tracked();
    restore_scratch();
    return 0;
}

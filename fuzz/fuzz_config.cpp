// fuzz_config: the configuration file reader get_defaults, then the command
// line check.  The input is the file VELCORIN_CONFIG names.  Nothing is
// opened; whatever the file holds, libnum stays within the seven entries of
// lib, named files come with their names, and a run is refused by the usage
// text (255) or accepted, never otherwise.
#include "fuzz_common.h"
#include "get_defaults.h"
#include "sc2seq.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_setup();
    setenv("VELCORIN_CONFIG", scratch_path("conf").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(scratch_path("conf").c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    RunSettings s = default_settings();
    FUZZ_CHECK(get_defaults(s) == 1);
    FUZZ_CHECK(s.libnum >= 0 && s.libnum <= NREG);
    for (const FileName *n : {&s.genbnk, &s.cctb, &s.test, &s.out, &s.log})
        FUZZ_CHECK(n->given == !n->name.empty() && n->name.size() < 500);
    char prog[] = "velcorin2";
    char *argv[] = {prog, nullptr};
    const int status = failed([&] { parse_command_line(1, argv, s); });
    FUZZ_CHECK(status == -1 || status == STATUS_USAGE);
    return 0;
}

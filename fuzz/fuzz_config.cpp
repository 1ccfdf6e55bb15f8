// fuzz_config: the configuration file reader, then the command
// line check.  The input is the file VELCORIN_CONFIG names.  Nothing is
// opened; whatever the file holds, the distances given stay within the seven
// entries, named files come with their names, and a run is refused by the usage
// text (255), refused because a "~user" name names nobody (the open error of
// that name, 2), or accepted, never otherwise.
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
    setenv("VELCORIN_CONFIG", scratch_path("conf").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(scratch_path("conf").c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    RunSettings s = default_settings();
    FUZZ_CHECK(read_configuration(configuration_path(), s));
    FUZZ_CHECK(s.distances_given >= 0 && s.distances_given <= NREG);
    for (const FileName *n : {&s.background_counts, &s.coil_counts, &s.sequences, &s.table, &s.coil_log})
        FUZZ_CHECK(n->given == !n->name.empty() && n->name.size() < 500);
    char prog[] = "velcorin2";
    char *argv[] = {prog, nullptr};
    try {
        cli::parse_command_line(1, argv, s);
    } catch (const Error &e) {
        FUZZ_CHECK(e.status == STATUS_USAGE || (e.code == ErrorCode::OPEN && e.status == STATUS_ERROR));
    }
    return 0;
}

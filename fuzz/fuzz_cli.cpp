// fuzz_cli: the whole command line, velcorin2_main, in the scratch directory.
//
// Input: one argument word per line.  The scratch directory holds a small
// model ("g", "p"), a FASTA file ("s"), a register file ("r") and a region
// file ("q").  Words are kept to names inside the scratch directory (no "/",
// no leading "~" or "|"), --threads to 2, and the plot goes to "tr.ps"
// there.  A run ends with status 0, 2 (error line) or 255 (usage, parse
// error), never otherwise, and leaves no stream open.
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/cli.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_setup();
    add_fixture("g", model_genfreq());
    add_fixture("p", model_posfreq());
    add_fixture("s", ">coil1 first test protein\nMSKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAELEQKNKELEKKLAEL\n"
                     ">short too short\nMKLVE\n>glob2\nMTPYDGSWRNHCFPQGTPDWYNMCHSGRTPDGNWYQCPHMSTGDNRWY\n");
    add_fixture("r", ">P1\nA coil with flanks\nMSKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAEL*\n"
                     "...abcdefgabcdefgabcdefgabcdefgabcdefga..*\n>P2\nshort\nMKLV*\nabcd*\n");
    add_fixture("q", "> coil1 3 30\n> glob2 1 48\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> words{"velcorin2", "--plot", "tr.ps"};
    std::string cur;
    for (size_t i = 0; i <= size && words.size() < 40; i++) {
        if (i < size && data[i] != '\n') {
            const char c = char(data[i]);
            cur += c == '/' || (cur.empty() && (c == '~' || c == '|')) ? '_' : c;
            continue;
        }
        if (words.back() == "--threads") cur = "2";
        words.push_back(cur);
        cur.clear();
    }
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const int open_before = dup(0);
    close(open_before);
    const int status = velcorin2::cli::velcorin2_main(int(words.size()), argv.data());
    FUZZ_CHECK(status == 0 || status == 2 || status == 255);
    const int open_after = dup(0);  // the lowest free descriptor: nothing left open
    close(open_after);
    FUZZ_CHECK(open_after == open_before);
    reset_scratch();
    return 0;
}

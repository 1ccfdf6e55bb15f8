// fuzz_cli: the whole command line, velcorin2_main, in a scratch directory.
//
// Input: one argument word per line.  When the first line is "@config", the
// lines up to "@end" become the configuration file.  The scratch directory
// holds a small model ("g", "p"), a FASTA file ("s", and "s.gz" with
// VELCORIN_FUZZ_PROCESSES set), a register file ("r") and a region file
// ("q"); every name the program opens is kept inside it (fuzz_wrap), the
// plot included, and "|command" outputs become plain files (a harmless real
// pipe for "|cat" with VELCORIN_FUZZ_PROCESSES set).  A run ends with status 0,
// 2 (error line) or -1 (usage, parse error), never otherwise, and leaves no
// stream open and no setting changed for the next input.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "fuzz_wrap.h"
#include "sc2seq.h"

namespace {

const char *kFasta =
    ">coil1 first test protein\n"
    "MSKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAELEQKNKELEKKLAEL\n"
    ">short too short\nMKLVE\n"
    ">glob2\nMTPYDGSWRNHCFPQGTPDWYNMCHSGRTPDGNWYQCPHMSTGDNRWY\n";
const char *kPos =
    ">P1\nA coil with flanks\n"
    "MSKLEELLKKNEELEKKVAELEKENAELKKKLEELEKKLAEL*\n"
    "...abcdefgabcdefgabcdefgabcdefgabcdefga..*\n"
    ">P2\nshort\nMKLV*\nabcd*\n";
const char *kRegion = "> coil1 3 30\n> glob2 1 48\n";

std::string gzip(const std::string &text)
{
    std::string tmp = scratch_path("gz.tmp");
    FILE *f = std::fopen(tmp.c_str(), "wb");
    if (!f) return "";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    std::string out;
    if (FILE *p = popen(("gzip -c -n " + tmp + " 2>/dev/null").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        if (pclose(p) != 0) out.clear();
    }
    std::remove(tmp.c_str());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_setup();
    add_fixture("g", model_genfreq());
    add_fixture("p", model_posfreq());
    add_fixture("s", kFasta);
    add_fixture("r", kPos);
    add_fixture("q", kRegion);
    // A started process (the "|cat" pipe, zcat on "s.gz") costs a thousand
    // plain inputs, and once the corpus holds such inputs a long run slows
    // tenfold; they are on only when VELCORIN_FUZZ_PROCESSES is set.  The
    // end-to-end tests and the stress script cover pipes and zcat.
    fuzz_real_pipes = std::getenv("VELCORIN_FUZZ_PROCESSES") != nullptr;
    if (fuzz_real_pipes) {
        std::string z = gzip(kFasta);
        if (!z.empty()) add_fixture("s.gz", z);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr size_t MAXWORDS = 40;
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < size; i++) {
        if (data[i] == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(char(data[i]));
        }
    }
    if (!cur.empty()) lines.push_back(cur);

    size_t first = 0;
    std::string config = scratch_path("no-such-config");
    if (!lines.empty() && lines[0] == "@config") {
        std::string text;
        for (first = 1; first < lines.size() && lines[first] != "@end"; first++) text += lines[first] + "\n";
        if (first < lines.size()) first++;
        config = scratch_path("config");
        FILE *f = std::fopen(config.c_str(), "wb");
        if (!f) std::abort();
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    setenv("VELCORIN_CONFIG", config.c_str(), 1);

    std::vector<std::string> words{"velcorin2"};
    for (size_t i = first; i < lines.size() && words.size() <= MAXWORDS; i++) words.push_back(lines[i]);
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    try {
        int r = velcorin2_main(int(words.size()), argv.data());
        FUZZ_CHECK(r == 0);  // only --help and --version return
    } catch (const ProgramExit &e) {
        FUZZ_CHECK(e.status == 0 || e.status == 2 || e.status == -1);
    }
    close_tracked();
    reset_run();
    restore_scratch();
    return 0;
}

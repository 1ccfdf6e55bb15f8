// output_checks: nothing is created or emptied before the run has checked
// that no output is an input, a file the program reads, or another output.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cli.h"
#include "velcorin2/io.h"

namespace velcorin2::cli {

void check_outputs(const RunSettings &s)
{
    struct Named {
        const char *role;
        const FileName *file;
    };
    const Named inputs[] = {{"GenFreq file", &s.background_counts},
                            {"PosFreq file", &s.coil_counts},
                            {"sequence input", &s.sequences},
                            {"region file", (s.mode & MODE_VIEW) ? &s.plot_regions : nullptr},
                            {"calibration file", &s.calibration}};
    const FileName plot{true, s.plot_file, ""};
    const Named outputs[] = {{"table", s.no_table ? nullptr : &s.table},
                             {"coil log", &s.coil_log},
                             {"per-sequence log", &s.sequence_log},
                             {"plot", (s.mode & MODE_VIEW) ? &plot : nullptr},
                             {"GFF3 file", &s.gff3},
                             {"region table", &s.regions_tsv},
                             {"summary", &s.summary},
                             {"HTML report", &s.html}};
    const std::string std_out = "-";
    auto refuse = [](const std::string &name, const std::string &why) {
        raise_numbered(ErrorCode::OPEN, name + ": refused, " + why);
    };
    std::vector<std::pair<const Named *, FileId>> seen;  // outputs checked so far
    for (const Named &o : outputs) {
        if (!o.file || !o.file->given) continue;
        const char *name = o.file->name.c_str();
        FileId id{};
        if (o.file->name == std_out) {
            id.name = std_out;  // standard output, shared by nothing else
        } else if (!file_identity(name, &id)) {
            continue;
        }
        for (const Named &i : inputs) {
            FileId in{};
            if (i.file && i.file->given && id.name.empty() && file_identity(i.file->name.c_str(), &in) && in == id)
                refuse(name, std::string("it is the same file as the ") + i.role + " " + i.file->name);
        }
        for (const auto &[other, other_id] : seen)
            if (other_id == id)
                refuse(name, std::string("the ") + other->role + " and the " + o.role + " would both be written there");
        seen.emplace_back(&o, id);
        if (!id.name.empty()) continue;
        // An existing file that a run of the program never writes: a lost
        // model or sequence file is worse than a refused run.
        char head[64] = {};
        if (FILE *peek = std::fopen(name, "rb")) {
            size_t n = std::fread(head, 1, sizeof head - 1, peek);
            std::fclose(peek);
            head[n] = '\0';
        }
        if (head[0] == '>') refuse(name, "it holds sequences or registers (it starts with '>')");
        if (is_count_file_header(head)) refuse(name, std::string("it is a ") + std::string(head, 7) + " count file");
        if (!std::strncmp(head, CALIBRATION_MAGIC, std::strlen(CALIBRATION_MAGIC)))
            refuse(name, "it is a calibration file");
    }
}

}  // namespace velcorin2::cli

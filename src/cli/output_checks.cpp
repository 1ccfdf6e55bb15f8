// output_checks: nothing is created or emptied before the run has checked
// that no output is an input, a file the program reads, or another output.
//
// Files are known by what is open, not by their names: an input by the file
// its stream reads (standard input and a fallback ".gz" name included), an
// output by the file its descriptor holds before it is emptied.  The names
// are checked first, before the model is read, so that a refused run is
// refused early; every output is checked again once it is open, so that a
// name changed in between (a symlink to an input) is still refused.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "velcorin2/io.h"

namespace velcorin2::cli {

namespace {

[[noreturn]] void refuse(const std::string &name, const std::string &why)
{
    raise_numbered(ErrorCode::OPEN, name + ": refused, " + why);
}

// same_place: whether two files would receive each other's bytes.
bool same_place(const KnownFile &a, const KnownFile &b)
{
    return (a.standard && b.standard) || (a.has_id && b.has_id && a.id == b.id);
}

// check_against: refuses `o` when it is an input or another output already known.
void check_against(const OutputGuard &g, const KnownFile &o)
{
    for (const KnownFile &i : g.inputs)
        if (o.has_id && i.has_id && o.id == i.id) refuse(o.name, "it is the same file as the " + i.role + " " + i.name);
    for (const KnownFile &other : g.outputs)
        if (other.role != o.role && same_place(other, o))
            refuse(o.name, "the " + other.role + " and the " + o.role + " would both be written there");
}

// check_contents: an existing file that a run of the program never writes:
// a lost model or sequence file is worse than a refused run.
void check_contents(const std::string &name, const std::string &head)
{
    if (!head.empty() && head[0] == '>') refuse(name, "it holds sequences or registers (it starts with '>')");
    if (is_count_file_header(head.c_str())) refuse(name, "it is a " + head.substr(0, 7) + " count file");
    if (head.compare(0, std::strlen(CALIBRATION_MAGIC), CALIBRATION_MAGIC) == 0)
        refuse(name, "it is a calibration file");
}

// standard_output: standard output as a known file (its file when regular).
KnownFile standard_output(const char *role, const std::string &name)
{
    KnownFile k{role, name, true, false, {}};
    struct stat st;
    if (fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode)) {
        k.has_id = true;
        k.id = FileId{st.st_dev, st.st_ino, ""};
    }
    return k;
}

struct Named {
    const char *role;
    const FileName *file;
};

}  // namespace

bool outputs_take_standard_output(const RunSettings &s)
{
    const KnownFile out = standard_output("", "");
    for (const FileName *f : {&s.table, &s.coil_log, &s.sequence_log, &s.gff3, &s.regions_tsv, &s.summary, &s.html}) {
        if (!f->given) continue;
        FileId id{};
        if (names_standard_output(f->name.c_str())) return true;
        try {
            if (out.has_id && file_identity(f->name.c_str(), &id) && id == out.id) return true;
        } catch (const Error &) {
            // A name that cannot be expanded is reported when it is opened.
        }
    }
    return false;
}

void check_outputs(const RunSettings &s, const RunFiles &f, OutputGuard &g)
{
    g = OutputGuard{};
    const std::pair<const char *, FILE *> inputs[] = {{"GenFreq file", f.background_counts},
                                                      {"PosFreq file", f.coil_counts},
                                                      {"sequence input", f.sequences},
                                                      {"region file", f.plot_regions},
                                                      {"calibration file", f.calibration}};
    for (const auto &[role, fl] : inputs) {
        FileId id{};
        if (fl && stream_file(fl, &id)) g.inputs.push_back(KnownFile{role, stream_name(fl), false, true, id});
    }
    struct stat st;
    if (!s.configuration.empty() && stat(s.configuration.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        g.inputs.push_back(KnownFile{"configuration file", s.configuration, false, true, {st.st_dev, st.st_ino, ""}});

    const FileName plot{true, s.plot_file, ""};
    const Named outputs[] = {{"table", s.no_table ? nullptr : &s.table},
                             {"coil log", &s.coil_log},
                             {"per-sequence log", &s.sequence_log},
                             {"plot", (s.mode & MODE_VIEW) ? &plot : nullptr},
                             {"GFF3 file", &s.gff3},
                             {"region table", &s.regions_tsv},
                             {"summary", &s.summary},
                             {"HTML report", &s.html}};
    for (const Named &o : outputs) {
        if (!o.file || !o.file->given) continue;
        const char *name = o.file->name.c_str();
        KnownFile k{o.role, name, false, false, {}};
        if (names_standard_output(name))
            k = standard_output(o.role, name);
        else if (file_identity(name, &k.id))
            k.has_id = true;
        else
            continue;
        check_against(g, k);
        g.outputs.push_back(k);
        if (k.standard || !k.id.name.empty()) continue;
        char head[64] = {};
        if (FILE *peek = std::fopen(name, "rb")) {
            head[std::fread(head, 1, sizeof head - 1, peek)] = '\0';
            std::fclose(peek);
        }
        check_contents(name, head);
    }
    g.outputs.clear();  // from here on: the outputs as they are opened
}

FILE *open_checked_output(OutputGuard &g, const char *role, const FileName &f, FILE *otherwise)
{
    if (!f.given) return otherwise;
    KnownFile k{role, f.name, false, false, {}};
    FILE *fl = open_output(f.name.c_str(), [&](const OutputTarget &t) {
        k.standard = t.standard;
        k.has_id = t.regular;
        k.id = t.id;
        check_against(g, k);
        if (!t.standard) check_contents(f.name, t.head);
    });
    g.outputs.push_back(k);
    return fl;
}

void check_output_name(OutputGuard &g, const char *role, const std::string &name)
{
    KnownFile k{role, name, false, false, {}};
    k.has_id = file_identity(name.c_str(), &k.id) && k.id.name.empty();
    check_against(g, k);
    bool known = false;
    for (const KnownFile &o : g.outputs) known |= o.role == k.role;
    if (k.has_id && !known) g.outputs.push_back(k);
}

}  // namespace velcorin2::cli

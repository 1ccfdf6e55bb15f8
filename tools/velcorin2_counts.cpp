// velcorin2-counts: builds the two count files of the velcorin2 model and
// the p-score calibration that goes with them: a thin face on the library,
// whose readers, counting, scoring and file writers velcorin2 uses too, so a
// file written here reads back in velcorin2 exactly as made, and a
// calibration is fitted to the very scores velcorin2 prints.
//
// Contents:
//   print_help        the help page, with the live defaults
//   bad_usage, die    a command-line mistake (status 1); any other failure of the tool (status 2)
//   count_background, count_coils   every record of one input into the count tables
//   parse_distances   the value of --distances
//   make_calibration  the calibration of a model from its background
//   Output, open_output, commit_output   the output, written beside its name and renamed when complete,
//                     never over a file the run read
//   counts_main       the command line and the run
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "velcorin2/counting.h"
#include "velcorin2/io.h"
#include "velcorin2/velcorin2.h"

using namespace velcorin2;

namespace {

constexpr const char *PROG = "velcorin2-counts";
constexpr const char *DEFAULT_INPUT = "-";
constexpr const char *DEFAULT_GENFREQ = "genfreq.dat";
constexpr const char *DEFAULT_POSFREQ = "posfreq.dat";
constexpr const char *DEFAULT_CALIBRATION = "calibration.dat";

// Exit statuses, also listed on the help page and in the manual.
constexpr int ST_OK = 0, ST_USAGE = 1, ST_ERROR = 2;

void print_help()
{
    std::printf("%s %s: count files for velcorin2\n"
                "\n"
                "Usage: %s [options] genfreq [FASTA...]\n"
                "       %s [options] posfreq [REGISTER_FILE...]\n"
                "       %s [options] --distances LIST [-P] calibrate GENFREQ POSFREQ [FASTA...]\n"
                "\n"
                "  genfreq   counts residues and residue pairs 1..%d apart in FASTA records and\n"
                "            writes a GenFreq file (velcorin2 key genbnk)\n"
                "  posfreq   counts residues by heptad register and residue pairs by register pair\n"
                "            in register files (.pos) and writes a PosFreq file (velcorin2 key cctb)\n"
                "  calibrate scores background FASTA records with the model (the two count files,\n"
                "            the distance classes, the proline rule) at window lengths 28 and 21 and\n"
                "            writes the p-score calibration of that model (velcorin2 key calib)\n"
                "\n"
                "Options:\n"
                "  -o FILE       output file (default %s for genfreq, %s for posfreq,\n"
                "                %s for calibrate; '-' writes to standard output)\n"
                "  -f, --force   replace an existing output file (default: refuse)\n"
                "  --distances LIST  calibrate: the model's distance classes 0..6, as velcorin2 is\n"
                "                given them (e.g. 1,2,3 or \"1 2 3\")\n"
                "  -P            calibrate: prolines do not end a scoring segment (velcorin2 -P)\n"
                "  -h, --help    this text\n"
                "  --version     the version\n"
                "\n"
                "Inputs default to '%s' (standard input); names ending in .gz or .Z are read\n"
                "through zcat, '~' names a home directory.  Records longer than %d residues are\n"
                "counted (scored) up to that length, with a warning.  Several inputs add up into\n"
                "one file.\n"
                "\n"
                "Exit status: %d written; %d command-line mistake; %d error (unreadable or bad input,\n"
                "output exists, a count past %d, too few scores to calibrate, write failure);\n"
                "255 a FASTA character that cannot be parsed.\n",
                PROG, version(), PROG, PROG, PROG, NREG, DEFAULT_GENFREQ, DEFAULT_POSFREQ, DEFAULT_CALIBRATION,
                DEFAULT_INPUT, DEFAULT_MAX_LENGTH, ST_OK, ST_USAGE, ST_ERROR, INT32_MAX);
}

[[noreturn]] void bad_usage(const std::string &what)
{
    throw Error(std::string(PROG) + ": " + what + "\nTry '" + PROG + " --help'.\n", ErrorCode::USAGE, true, ST_USAGE);
}

[[noreturn]] void die(const std::string &what)
{
    throw Error(std::string(PROG) + ": " + what + "\n", ErrorCode::NONE, true, ST_ERROR);
}

// ---- Counting -----------------------------------------------------------------

// The files the inputs read (standard input's and a fallback ".gz" name's
// included), so that the output never replaces one of them.
struct ReadFile {
    std::string name;
    FileId id;
};
struct ReadFiles {
    std::string output;  // the output's name
    std::vector<ReadFile> files;
};

// refuse_inputs: an output that would replace (or, on standard output,
// write into) a file the run reads is refused.
void refuse_inputs(const ReadFiles &read)
{
    const std::string &name = read.output;
    struct stat st;
    const bool there = name == "-" ? fstat(STDOUT_FILENO, &st) == 0 : lstat(name.c_str(), &st) == 0;
    if (!there || !S_ISREG(st.st_mode)) return;
    for (const ReadFile &r : read.files)
        if (r.id.dev == st.st_dev && r.id.ino == st.st_ino)
            die(name + ": refused, it is the same file as the input " + r.name);
}

// Input: an input stream that is closed when it goes out of scope, also
// when a failure unwinds through the counting.  An input that is the
// output is refused before it is read.
struct Input {
    FILE *fl;
    Input(const char *name, ReadFiles &read) : fl(open_input(name))
    {
        FileId id{};
        if (!stream_file(fl, &id)) return;
        read.files.push_back(ReadFile{name, id});
        refuse_inputs(read);
    }
    ~Input() { close_stream_quietly(fl); }
    void close()  // the checked close of a complete read
    {
        FILE *f = fl;
        fl = nullptr;
        close_stream(f);
    }
};

void print_warnings(const std::string &w) { std::fputs(w.c_str(), stderr); }

[[noreturn]] void die_overflow(const char *input, const char *code)
{
    die(std::string(input) + ": record " + code + ": a count would exceed " + std::to_string(INT32_MAX) +
        "; split the input and count the parts separately");
}

// add_coil_record: add_coil_counts with weight +1, false if a count passed
// INT32_MAX.  add_coil_counts wraps modulo 2^32.  Tables counted from zero
// keep every count at or below its total, and one record raises a total by
// at most its length, so an overflow shows as a total that went down.
bool add_coil_record(CoilCounts &t, const Sequence &s)
{
    int32_t totals[NREG], totalp[NREG][NREG];
    std::memcpy(totals, t.totals, sizeof totals);
    std::memcpy(totalp, t.totalp, sizeof totalp);
    add_coil_counts(t, s, 1);
    for (int p = 0; p < NREG; p++) {
        if (t.totals[p] < totals[p]) return false;
        for (int q = 0; q < NREG; q++)
            if (t.totalp[p][q] < totalp[p][q]) return false;
    }
    return true;
}

// count_background: every FASTA record of `input` into `t`; the records read.
long count_background(const char *input, BackgroundCounts &t, ReadFiles &read)
{
    Input in(input, read);
    Sequence s;
    long n = 0;
    int64_t line = 1;
    while (read_fasta_record(in.fl, s, DEFAULT_MAX_LENGTH, &line)) {
        print_warnings(s.warnings);
        if (!add_background_counts(t, s)) die_overflow(input, s.code);
        n++;
    }
    in.close();
    return n;
}

// count_coils: every register-file record of `input` into `t`; the records
// read.  A record cut short by the end of the input is an error, not a
// silently lost record.
long count_coils(const char *input, CoilCounts &t, ReadFiles &read)
{
    Input in(input, read);
    Sequence s;
    long n = 0;
    for (RecordRead r; (r = read_register_record(in.fl, s, DEFAULT_MAX_LENGTH)) != RecordRead::END;) {
        if (r == RecordRead::INCOMPLETE)
            die(std::string(input) + ": record " + std::to_string(n + 1) +
                " is incomplete (the input ends before the '*' that closes its register part)");
        print_warnings(s.warnings);
        if (!add_coil_record(t, s)) die_overflow(input, s.code);
        n++;
    }
    in.close();
    return n;
}

// ---- Calibration ----------------------------------------------------------------

struct ModelChoice {
    std::vector<int> distances;
    bool prolines_end_segments = true;
};

// parse_distances: "1,2,3" or "1 2 3": one to seven classes 0..6.
void parse_distances(const std::string &list, ModelChoice &m)
{
    m.distances.clear();
    for (size_t i = 0; i < list.size();) {
        if (list[i] == ',' || list[i] == ' ') {
            i++;
            continue;
        }
        const bool one_digit =
            list[i] >= '0' && list[i] <= '6' && (i + 1 == list.size() || list[i + 1] == ',' || list[i + 1] == ' ');
        if (!one_digit || m.distances.size() == size_t(NREG))
            bad_usage("--distances takes one to seven distance classes 0 to 6, such as 1,2,3");
        m.distances.push_back(list[i] - '0');
        i++;
    }
    if (m.distances.empty()) bad_usage("--distances takes one to seven distance classes 0 to 6, such as 1,2,3");
}

// source_name: an input as the calibration names it: its file name, never
// its directories, so the same data give the same file wherever they lie.
std::string source_name(const char *in)
{
    const char *base = std::strcmp(in, "-") == 0 ? "(standard input)" : std::strrchr(in, '/');
    std::string name = base && *base == '/' ? base + 1 : base ? base : in;
    if (name.empty()) name = in;
    for (char &ch : name)
        if ((unsigned char)ch < ' ') ch = '?';  // the name is one line of the file
    return name;
}

// summarise: the background's names as the one line the calibration file
// gives them: all of them, or the first ones and how many more, so that
// the line stays far below the 4096 characters its reader takes.
std::string summarise(const std::vector<std::string> &names)
{
    constexpr size_t ROOM = 1000;
    std::string line;
    for (size_t i = 0; i < names.size(); i++) {
        const size_t rest = i + 1 < names.size() ? 32 : 0;  // " and N more"
        if (i > 0 && line.size() + 1 + names[i].size() + rest > ROOM)
            return line + " and " + std::to_string(names.size() - i) + " more";
        line += (i > 0 ? " " : "") + names[i];
    }
    return line;
}

// make_calibration: the calibration of the model (the count files `gen` and
// `pos`, the distances and proline rule of `choice`) fitted to the FASTA `inputs`.
std::unique_ptr<Calibration> make_calibration(const ModelChoice &choice, const char *gen, const char *pos,
                                              const std::vector<const char *> &inputs, ReadFiles &read)
{
    for (const char *count_file : {gen, pos}) Input(count_file, read);  // only noted: the model reads them
    ModelRecipe recipe;
    recipe.background_counts = gen;
    recipe.coil_counts = pos;
    recipe.distances = choice.distances;
    recipe.prolines_end_segments = choice.prolines_end_segments;
    std::unique_ptr<Model> m = load_model(recipe);

    auto bg = std::make_unique<BackgroundScores>();
    std::vector<std::string> sources;
    for (const char *name : inputs) {
        Input in(name, read);
        if (score_background(in.fl, *m, DEFAULT_MAX_LENGTH, *bg, print_warnings) == 0)
            std::fprintf(stderr, "%s: warning: no records in %s\n", PROG, name);
        in.close();
        sources.push_back(source_name(name));
    }
    if (bg->chains == 0) die("no records read; nothing written");
    auto c = std::make_unique<Calibration>();
    std::string why;
    if (!calibrate(*m, *bg, summarise(sources), *c, &why)) die(why + "; nothing written");
    return c;
}

// ---- Output -------------------------------------------------------------------

// The output goes to a scratch file in its directory and only a complete
// file takes its name, so an error midway never leaves a truncated model
// behind (or destroys the old one).  Only a regular file or a new name is
// ever replaced: a device or FIFO named by -o must not become a plain file.
struct Output {
    std::string name;  // as given
    ScratchFile file;  // unused for standard output
    FILE *fl = nullptr;
    ~Output() { discard_scratch(file); }
};

void open_output(const std::string &name, Output &o, const ReadFiles &read)
{
    refuse_inputs(read);  // again: the name may have changed meanwhile
    o.name = name;
    if (name == "-") {
        o.fl = stdout;
        return;
    }
    std::string why;
    if (!open_scratch(name, ScratchMode::SHARED, o.file, &why)) {
        if (why == "not a regular file") die(name + " is not a regular file; refused");
        die(name + ": cannot create a file there: " + why);
    }
    remove_scratch_files_on_signals();
    o.fl = o.file.fp;
}

// commit_output: the scratch file takes the output's name.  Without --force,
// link() refuses atomically if the name appeared meanwhile.
void commit_output(Output &o, bool force, bool written)
{
    if (o.name == "-") {
        if (!written || std::fflush(stdout) != 0 || std::ferror(stdout)) die("cannot write to standard output");
        return;
    }
    if (!written) die("cannot write " + o.name + ": " + std::strerror(errno));
    std::string why;
    switch (commit_scratch(o.file, force, true, &why)) {
    case Commit::DONE: return;
    case Commit::NAME_EXISTS: die(o.name + " exists; use --force to replace it");
    case Commit::WRITE_FAILED: die("cannot write " + o.name + ": " + why);
    case Commit::RENAME_FAILED: die(o.name + ": " + why);
    }
}

int counts_run(int argc, char **argv)
{
    bool force = false, model_options = false;
    std::string out;
    ModelChoice choice;  // calibrate: the model's distances and proline rule
    int k = 1;
    for (; k < argc && argv[k][0] == '-' && argv[k][1] != '\0'; k++) {
        std::string a = argv[k];
        if (a == "--") {
            k++;
            break;
        } else if (a == "-h" || a == "--help") {
            print_help();
            return ST_OK;
        } else if (a == "--version") {
            std::printf("%s %s\n", PROG, version());
            return ST_OK;
        } else if (a == "-f" || a == "--force") {
            force = true;
        } else if (a == "-o") {
            if (++k >= argc) bad_usage("option -o needs a file name");
            out = argv[k];
        } else if (a.rfind("--output=", 0) == 0) {
            out = a.substr(9);
        } else if (a == "--distances") {
            if (++k >= argc) bad_usage("option --distances needs the distance classes");
            parse_distances(argv[k], choice);
            model_options = true;
        } else if (a.rfind("--distances=", 0) == 0) {
            parse_distances(a.substr(12), choice);
            model_options = true;
        } else if (a == "-P") {
            choice.prolines_end_segments = !choice.prolines_end_segments;
            model_options = true;
        } else {
            bad_usage("unknown option " + a);
        }
    }
    if (k >= argc) bad_usage("say genfreq, posfreq or calibrate");
    std::string what = argv[k++];
    bool gen = what == "genfreq", calib = what == "calibrate";
    if (!gen && !calib && what != "posfreq")
        bad_usage("unknown table kind '" + what + "' (genfreq, posfreq or calibrate)");
    if (out.empty()) out = gen ? DEFAULT_GENFREQ : calib ? DEFAULT_CALIBRATION : DEFAULT_POSFREQ;
    // Options after the kind are a common slip; they would otherwise be read as files.
    for (int i = k; i < argc; i++)
        if (argv[i][0] == '-' && argv[i][1] != '\0') bad_usage(std::string("options go before ") + what);
    if (model_options && !calib) bad_usage("--distances and -P belong to calibrate");
    if (calib && choice.distances.empty())
        bad_usage("calibrate needs the model's distance classes: --distances LIST (e.g. 1,2,3)");
    if (calib && argc - k < 2) bad_usage("calibrate needs the GenFreq and PosFreq files, then the background");
    const char *genfile = calib ? argv[k++] : nullptr;
    const char *posfile = calib ? argv[k++] : nullptr;

    const std::vector<const char *> inputs =
        k < argc ? std::vector<const char *>(argv + k, argv + argc) : std::vector<const char *>{DEFAULT_INPUT};

    // Refused before the counting starts, and again atomically at the end.
    struct stat st;
    if (!force && out != "-" && lstat(out.c_str(), &st) == 0) die(out + " exists; use --force to replace it");
    Output o;
    ReadFiles read{out, {}};
    if (calib) {
        std::unique_ptr<Calibration> c = make_calibration(choice, genfile, posfile, inputs, read);
        open_output(out, o, read);
        commit_output(o, force, write_calibration(o.fl, *c));
        return ST_OK;
    }
    auto g = std::make_unique<BackgroundCounts>();
    auto p = std::make_unique<CoilCounts>();
    long records = 0;
    for (const char *in : inputs) {
        long n = gen ? count_background(in, *g, read) : count_coils(in, *p, read);
        if (n == 0) std::fprintf(stderr, "%s: warning: no records in %s\n", PROG, in);
        records += n;
    }
    if (records == 0) die("no records read; nothing written");
    open_output(out, o, read);
    commit_output(o, force, gen ? write_background_counts(o.fl, *g) : write_coil_counts(o.fl, *p));
    return ST_OK;
}

}  // namespace

int counts_main(int argc, char **argv)
{
    guard_standard_streams();
    try {
        return counts_run(argc, argv);
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%s: not enough memory\n", PROG);
        return ST_ERROR;
    } catch (const Error &e) {
        FILE *to = e.to_stderr ? stderr : stdout;
        std::fwrite(e.text.data(), 1, e.text.size(), to);
        std::fflush(to);
        return e.status;
    }
}

#ifndef VELCORIN2_COUNTS_NO_MAIN
int main(int argc, char **argv) { return counts_main(argc, argv); }
#endif

// velcorin2-counts: builds the two count files of the velcorin2 model and
// the p-score calibration that goes with them.
//
// Contents:
//   print_help        the help page, with the live defaults
//   bad_usage         a command-line mistake: short hint, status 1
//   die               the tool's own fatal messages, status 2
//   add_posrecord     add_seq2 with weight +1, refusing a count past INT32_MAX
//   count_genfreq     every FASTA record of one input into the GenFreq tables
//   count_posfreq     every register-file record of one input into the PosFreq tables
//   parse_distances   the value of --distances
//   score_background  every FASTA record of one input scored at window lengths 28 and 21
//   calibrate         the calibration of a model from its background scores
//   open_output       a scratch file next to the output, so a failed run leaves nothing
//   commit_output     the scratch file becomes the output (refusing to replace one unless forced)
//   counts_main       the command line and the run
//
// The counting, the scoring and the file layouts are the main program's own
// (add_genseq and add_seq2 of scpos, getseq2/getpos, writegenfreq/
// writeposfreq of scio, build_pair_model/scseqadj of scscore, calib), so a
// file written here reads back in velcorin2 exactly as made, and a
// calibration is fitted to the very scores velcorin2 prints.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "calib.h"
#include "scio.h"
#include "scpos.h"
#include "scscore.h"
#include "scsystem.h"
#include "velcorin2.h"

#ifndef VELCORIN2_VERSION
#define VELCORIN2_VERSION "unknown"
#endif

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
                PROG, VELCORIN2_VERSION, PROG, PROG, PROG, NREG, DEFAULT_GENFREQ, DEFAULT_POSFREQ, DEFAULT_CALIBRATION,
                DEFAULT_INPUT, MAXSEQ, ST_OK, ST_USAGE, ST_ERROR, INT32_MAX);
}

[[noreturn]] void bad_usage(const std::string &what)
{
    fail(std::string(PROG) + ": " + what + "\nTry '" + PROG + " --help'.\n", true, ST_USAGE);
}

[[noreturn]] void die(const std::string &what) { fail(std::string(PROG) + ": " + what + "\n", true, ST_ERROR); }

// ---- Counting -----------------------------------------------------------------

// add_posrecord: add_seq2 with weight +1, false if a count passed INT32_MAX.
// add_seq2 wraps modulo 2^32.  Tables counted from zero by add_seq2 keep
// every count at or below its total, and one record raises a total by at
// most MAXSEQ, so an overflow shows as a total that went down.
bool add_posrecord(PosFreq &t, const Sequence &s)
{
    int32_t totals[NREG], totalp[NREG][NREG];
    std::memcpy(totals, t.totals, sizeof totals);
    std::memcpy(totalp, t.totalp, sizeof totalp);
    add_seq2(t, s.reg.data(), s.seq.data(), s.seqlen, 1);
    for (int p = 0; p < NREG; p++) {
        if (t.totals[p] < totals[p]) return false;
        for (int q = 0; q < NREG; q++)
            if (t.totalp[p][q] < totalp[p][q]) return false;
    }
    return true;
}

[[noreturn]] void die_overflow(const char *input, const char *code)
{
    die(std::string(input) + ": record " + code + ": a count would exceed " + std::to_string(INT32_MAX) +
        "; split the input and count the parts separately");
}

// count_genfreq: every FASTA record of `input` into `t`; returns the records read.
// Input: an input stream that is closed when it goes out of scope, also
// when a failure unwinds through the counting.
struct Input {
    FILE *fl;
    explicit Input(const char *name) : fl(sopen(name, "r")) {}
    ~Input() { sclose_quiet(fl); }
    void close()  // the checked close of a complete read
    {
        FILE *f = fl;
        fl = nullptr;
        sclose(f);
    }
};

void print_warnings(const Sequence &s) { std::fputs(s.warnings.c_str(), stderr); }

long count_genfreq(const char *input, GenFreq &t)
{
    Input in(input);
    Sequence s;
    long n = 0;
    while (getseq2(in.fl, s, MAXSEQ)) {
        print_warnings(s);
        if (!add_genseq(t, s.seq.data(), s.seqlen)) die_overflow(input, s.code);
        n++;
    }
    in.close();
    return n;
}

// count_posfreq: every register-file record of `input` into `t`; returns the
// records read.  A record cut short by the end of the input is an error,
// not a silently lost record.
long count_posfreq(const char *input, PosFreq &t)
{
    Input in(input);
    Sequence s;
    long n = 0;
    for (int32_t r; (r = getpos(in.fl, s, MAXSEQ)) != POS_END;) {
        if (r == POS_INCOMPLETE)
            die(std::string(input) + ": record " + std::to_string(n + 1) +
                " is incomplete (the input ends before the '*' that closes its register part)");
        print_warnings(s);
        if (!add_posrecord(t, s)) die_overflow(input, s.code);
        n++;
    }
    in.close();
    return n;
}

// ---- Calibration ----------------------------------------------------------------

// parse_distances: "1,2,3" or "1 2 3" into the settings: one to seven classes 0..6.
void parse_distances(const std::string &list, RunSettings &s)
{
    s.functnum = 0;
    for (size_t i = 0; i < list.size();) {
        if (list[i] == ',' || list[i] == ' ') {
            i++;
            continue;
        }
        const bool one_digit =
            list[i] >= '0' && list[i] <= '6' && (i + 1 == list.size() || list[i + 1] == ',' || list[i + 1] == ' ');
        if (!one_digit || s.functnum == NREG)
            bad_usage("--distances takes one to seven distance classes 0 to 6, such as 1,2,3");
        s.lib[s.functnum++] = int8_t(list[i] - '0');
        i++;
    }
    if (s.functnum == 0) bad_usage("--distances takes one to seven distance classes 0 to 6, such as 1,2,3");
    s.libnum = s.functnum;
}

// What the calibration is fitted to, per window length ([0] 28, [1] 21):
// the finite best score of every residue and the best score of every
// sequence that has one (residues no window covers, and sequences without
// any window, have no score to rank and are left out).
struct BackgroundScores {
    std::vector<double> residues[2], sequences[2];
    int64_t chains = 0, length = 0;
};

// score_background: every FASTA record of `input`, scored as velcorin2
// scores it under settings[0] (window length 28) and settings[1] (21).
void score_background(const char *input, const PairModel &m, const RunSettings settings[2], BackgroundScores &bg)
{
    Input in(input);
    Sequence rec;
    Workspace ws;
    auto scs = std::make_unique<double[][NREG]>(MAXSEQ);
    auto offsets = std::make_unique<int8_t[]>(MAXSEQ);
    long n = 0;
    while (getseq2(in.fl, rec, MAXSEQ)) {
        print_warnings(rec);
        n++;
        bg.chains++;
        bg.length += rec.seqlen;
        for (int w = 0; w < 2; w++) {
            double best;
            if (!scseqadj(m, settings[w], ws, rec.seq.data(), rec.seqlen, scs.get(), offsets.get(), &best)) continue;
            for (int32_t i = 0; i < rec.seqlen; i++) {
                const double v = scs[i][offsets[i]];
                if (std::isfinite(v)) bg.residues[w].push_back(v);
            }
            if (std::isfinite(best)) bg.sequences[w].push_back(best);
        }
    }
    in.close();
    if (n == 0) std::fprintf(stderr, "%s: warning: no records in %s\n", PROG, input);
}

// calibrate: the calibration of the model in `s` (distances, proline rule)
// with the count files `gen` and `pos`, fitted to the FASTA `inputs`.
std::unique_ptr<Calibration> calibrate(const RunSettings &s, const char *gen, const char *pos,
                                       const std::vector<const char *> &inputs)
{
    auto g = std::make_unique<GenFreq>();
    auto p = std::make_unique<PosFreq>();
    {
        Input gin(gen), pin(pos);
        readgenfreq(gin.fl, *g);
        readposfreq(pin.fl, *p);
        gin.close();
        pin.close();
    }
    auto m = std::make_unique<PairModel>();
    build_pair_model(*m, *g, p.get(), s);
    RunSettings settings[2] = {s, s};
    settings[0].window_length = 28;
    settings[1].window_length = 21;

    auto bg = std::make_unique<BackgroundScores>();
    auto c = std::make_unique<Calibration>();
    for (const char *in : inputs) {
        score_background(in, *m, settings, *bg);
        // The source is named by its file names, never its directories, so
        // the same data give the same file wherever they lie.
        const char *base = std::strcmp(in, "-") == 0 ? "(standard input)" : std::strrchr(in, '/');
        std::string name = base && *base == '/' ? base + 1 : base ? base : in;
        if (name.empty()) name = in;
        for (char &ch : name)
            if ((unsigned char)ch < ' ') ch = '?';  // the name is one line of the file
        c->source += (c->source.empty() ? "" : " ") + name;
    }
    if (bg->chains == 0) die("no records read; nothing written");
    c->functnum = s.functnum;
    std::copy(s.lib, s.lib + NREG, c->lib);
    c->prolinefree = (s.mode & MODE_PROLINEFREE) != 0;
    c->model = model_fingerprint(*g, *p);
    c->chains = bg->chains;
    c->residues = bg->length;
    for (int w = 0; w < 2; w++) {
        const std::string at = "window length " + std::to_string(settings[w].window_length) + ": ";
        std::string why;
        std::vector<double> &x = bg->residues[w], &y = bg->sequences[w];
        std::sort(x.begin(), x.end());
        std::sort(y.begin(), y.end());
        if (!fit_residue_table(x, c->residue[w], &why) || !fit_sequence_table(y, c->sequence[w], &why))
            die(at + why + "; nothing written");
    }
    return c;
}

// ---- Output -------------------------------------------------------------------

struct Output {
    std::string name;     // as given
    std::string scratch;  // scratch file beside it; empty for standard output
    FILE *fl = nullptr;
};

bool exists(const std::string &name)
{
    struct stat st;
    return lstat(name.c_str(), &st) == 0;
}

// The scratch file of a run, removed when SIGINT or SIGTERM ends it.
char interrupted_scratch[4096];

void remove_scratch_and_die(int sig)
{
    if (interrupted_scratch[0]) unlink(interrupted_scratch);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// open_output: the counts go to a scratch file in the output's directory and
// only a complete file takes the output's name, so an error midway never
// leaves a truncated model behind (or destroys the old one).  Only a
// regular file or a new name is ever replaced: a device or FIFO named by -o
// must not become a plain file.
Output open_output(const std::string &name)
{
    Output o;
    o.name = name;
    if (name == "-") {
        o.fl = stdout;
        return o;
    }
    struct stat st;
    if (lstat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) die(name + " is not a regular file; refused");
    o.scratch = name + ".XXXXXX";
    if (o.scratch.size() >= sizeof interrupted_scratch) die(name + ": file name too long");
    int fd = mkstemp(o.scratch.data());
    if (fd < 0) die(name + ": cannot create a file there: " + std::strerror(errno));
    std::memcpy(interrupted_scratch, o.scratch.c_str(), o.scratch.size() + 1);
    std::signal(SIGINT, remove_scratch_and_die);
    std::signal(SIGTERM, remove_scratch_and_die);
    // mkstemp makes 0600; a model file is for everyone the umask allows.
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0 || !(o.fl = fdopen(fd, "wb"))) {
        int e = errno;
        close(fd);
        unlink(o.scratch.c_str());
        die(name + ": " + std::strerror(e));
    }
    return o;
}

// commit_output: closes the scratch file and gives it the output's name.
// Without --force, link() refuses atomically if the name appeared meanwhile.
void commit_output(Output &o, bool force, int write_status)
{
    if (o.scratch.empty()) {
        if (write_status != 0 || std::fflush(stdout) != 0 || std::ferror(stdout)) fatal(ERR_WRITE, "-");
        return;
    }
    bool ok = write_status == 0 && std::fflush(o.fl) == 0 && fsync(fileno(o.fl)) == 0;
    ok = std::fclose(o.fl) == 0 && ok;
    if (!ok) {
        unlink(o.scratch.c_str());
        interrupted_scratch[0] = '\0';
        fatal(ERR_WRITE, o.name.c_str());
    }
    int rc;
    if (force) {
        rc = std::rename(o.scratch.c_str(), o.name.c_str());
    } else {
        rc = link(o.scratch.c_str(), o.name.c_str());
        if (rc == 0) unlink(o.scratch.c_str());
    }
    interrupted_scratch[0] = '\0';  // renamed, or removed just below
    if (rc != 0) {
        int e = errno;
        unlink(o.scratch.c_str());
        if (e == EEXIST) die(o.name + " exists; use --force to replace it");
        die(o.name + ": " + std::strerror(e));
    }
}

}  // namespace

namespace {

int counts_run(int argc, char **argv)
{
    bool force = false, model_options = false;
    std::string out;
    RunSettings model;  // calibrate: the model's distances and proline rule
    model.mode = MODE_PROLINEFREE;
    model.functnum = 0;
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
            std::printf("%s %s\n", PROG, VELCORIN2_VERSION);
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
            parse_distances(argv[k], model);
            model_options = true;
        } else if (a.rfind("--distances=", 0) == 0) {
            parse_distances(a.substr(12), model);
            model_options = true;
        } else if (a == "-P") {
            model.mode ^= MODE_PROLINEFREE;
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
    if (calib && model.functnum == 0)
        bad_usage("calibrate needs the model's distance classes: --distances LIST (e.g. 1,2,3)");
    if (calib && argc - k < 2) bad_usage("calibrate needs the GenFreq and PosFreq files, then the background");
    const char *genfile = calib ? argv[k++] : nullptr;
    const char *posfile = calib ? argv[k++] : nullptr;

    std::vector<const char *> inputs(argv + k, argv + argc);
    if (inputs.empty()) inputs.push_back(DEFAULT_INPUT);

    // Refused before the counting starts, and again atomically at the end.
    if (!force && out != "-" && exists(out)) die(out + " exists; use --force to replace it");
    if (calib) {
        std::unique_ptr<Calibration> c = calibrate(model, genfile, posfile, inputs);
        Output o = open_output(out);
        commit_output(o, force, write_calibration(o.fl, *c));
        return ST_OK;
    }
    auto g = std::make_unique<GenFreq>();
    auto p = std::make_unique<PosFreq>();
    long records = 0;
    for (const char *in : inputs) {
        long n = gen ? count_genfreq(in, *g) : count_posfreq(in, *p);
        if (n == 0) std::fprintf(stderr, "%s: warning: no records in %s\n", PROG, in);
        records += n;
    }
    if (records == 0) die("no records read; nothing written");
    // Opened only now: every fatal path above ends the process, which would
    // leave a scratch file behind.
    Output o = open_output(out);
    int ws = gen ? writegenfreq(o.fl, *g) : writeposfreq(o.fl, *p);
    commit_output(o, force, ws);
    return ST_OK;
}

}  // namespace

int counts_main(int argc, char **argv)
{
    guard_standard_streams();
    try {
        return counts_run(argc, argv);
    } catch (const Failure &e) {
        return report(e);
    }
}

#ifndef VELCORIN2_COUNTS_NO_MAIN
int main(int argc, char **argv) { return counts_main(argc, argv); }
#endif

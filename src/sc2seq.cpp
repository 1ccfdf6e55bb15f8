// sc2seq: the command line and the per-sequence driver.
// Contents: see sc2seq.h.
//
// A run is one pass.  Every record is read on the main thread, scored and
// rendered into texts (on a worker thread when there are several), and its
// texts are written out on the main thread in input order, so the bytes of
// every output are the same whatever the number of threads.
#include "sc2seq.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "calib.h"
#include "get_defaults.h"
#include "scio.h"
#include "scpos.h"
#include "scsystem.h"

#ifndef VELCORIN2_VERSION
#define VELCORIN2_VERSION "unknown"
#endif

namespace {

constexpr double NEG_INF = -std::numeric_limits<double>::infinity();
constexpr int MAX_THREADS = 256;

// ---- 1. Settings -----------------------------------------------------------------------

// The help page; the defaults it shows are the live start-up values.
void print_help(const RunSettings &d)
{
    std::printf("velcorin2 %s: coiled-coil prediction from pair correlations across heptad registers\n"
                "\n"
                "Usage: velcorin2 [options] [distances] [genfreq posfreq] [sequences] [output] [coil_log] [seq_log]\n"
                "\n"
                "Options (they come first; the first word not starting with '-', or a lone '-', ends them):\n"
                "  -f N        use N distance classes (default %d)\n"
                "  -P          flip the proline-free segments (default on: prolines end a segment)\n"
                "  -v          a score line per sequence on the coil log\n"
                "  -p P        coil report with p-score bound P on both logs\n"
                "  -d [+|-|+- U]  residue and register map in the coil report; + treats residues without\n"
                "              a known register as no coil, - maps only sequences with a flagged residue,\n"
                "              U is the second bound of the map\n"
                "  -pos        the sequences are register files (known registers)\n"
                "  -1          register files, each record left out of the counts while it is scored\n"
                "  -g [FILE]   stock scoring too, and a PostScript comparison plot (see --plot);\n"
                "              FILE names a region per sequence (>code first last)\n"
                "  --plot FILE the plot file of -g (default %s)\n"
                "  -win 21|28  shortest scored sequence and segment (default %d)\n"
                "  -w          accepted, no effect\n"
                "  --threads N score N records at once (default %d); every output is the same as with one\n"
                "  --max-length N  score the first N residues of longer records (default %d; 0: no limit)\n"
                "  --gff3 FILE     coiled-coil regions as GFF3, one coiled_coil feature per region\n"
                "  --regions FILE  the same regions as a tab-separated table with a header line\n"
                "  --pscore P      p-score threshold of the regions (default: that of -p, else 0.05); a region\n"
                "                  is the coil report's entries at that threshold, adjacent ones joined\n"
                "  --min-length L  leave out regions shorter than L residues (default %d)\n"
                "  --no-table      no per-residue table: the output word is left out, key out is ignored\n"
                "  --calib FILE p-scores from FILE, a calibration made for the model with\n"
                "              velcorin2-counts calibrate (key calib; default: the built-in tables)\n"
                "  -h, --help  this text;  --version  the version\n"
                "\n"
                "Distances: unless the configuration file gave them, the words after the options are the\n"
                "distance classes 0..6 (class d pairs residues d+1 apart), as many as -f asks (default %d).\n"
                "\n"
                "Files, each taken from the next word unless the configuration file named it:\n"
                "  genfreq (key genbnk), posfreq (key cctb), sequences (key test; FASTA, or register files\n"
                "  with -pos/-1), output table (key out), coil log (key log; default stderr), per-sequence\n"
                "  log (default stderr).  '-' is stdin/stdout, '~' a home directory, names ending in .Z or\n"
                "  .gz are read through zcat, and an output name '|command' writes into a shell command.\n"
                "\n"
                "Configuration: the file named by $VELCORIN_CONFIG, else $HOME/.velcorin2, lines 'key = value'\n"
                "with keys genbnk cctb lib test out log pos view ver prn functnum calib.\n"
                "\n"
                "Exit status: 0 done, 2 error (message on stdout), 255 usage or unreadable sequence.\n",
                VELCORIN2_VERSION, d.functnum, d.plot.c_str(), d.window_length, d.threads, d.max_length, d.min_length,
                d.functnum);
}

// Value word of an option: a missing value is a usage error, never a read past argv.
const char *option_value(int argc, char **argv, int at)
{
    if (at >= argc) usage();
    return argv[at];
}

// A count option's value: a whole decimal number in [lo, hi], else a usage
// error that says so.
int count_value(int argc, char **argv, int at, int lo, int hi)
{
    const char *w = option_value(argc, argv, at);
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(w, &end, 10);
    if (end == w || *end != '\0' || errno != 0 || v < lo || v > hi)
        fail("velcorin2: " + std::string(argv[at - 1]) + " needs a whole number from " + std::to_string(lo) + " to " +
                 std::to_string(hi) + "\n\nUsage: velcorin2 [-win 21|28] <fasta_file> <output_file>\n",
             true, STATUS_USAGE);
    return int(v);
}

// A p-score option's value: a number from 0 to 1, else a usage
// error that says so.
double pscore_value(int argc, char **argv, int at)
{
    const char *w = option_value(argc, argv, at);
    char *end = nullptr;
    double v = std::strtod(w, &end);
    if (end == w || *end != '\0' || !(v >= 0.0 && v <= 1.0))
        fail("velcorin2: " + std::string(argv[at - 1]) +
                 " needs a p-score from 0 to 1\n"
                 "\nUsage: velcorin2 [-win 21|28] <fasta_file> <output_file>\n",
             true, STATUS_USAGE);
    return v;
}

void name_file(FileName &f, const char *word) { f = FileName{true, word, "command line"}; }

}  // namespace

RunSettings default_settings() { return RunSettings{}; }

namespace {
// The options that only set a mode bit.
struct FlagOption {
    const char *word;
    int bit;
};
constexpr FlagOption flag_options[] = {{"-v", MODE_VERBOSE}, {"-1", MODE_LEAVEOUT}, {"-w", MODE_W}, {"-pos", MODE_POS}};
}  // namespace

void parse_command_line(int argc, char **argv, RunSettings &s)
{
    int acnt = 1;
    // A lone "-" is a file name (standard input or output) and ends the options.
    while (acnt < argc && argv[acnt][0] == '-' && std::strcmp(argv[acnt], "-") != 0) {
        const char *w = argv[acnt];
        const FlagOption *flag = std::find_if(std::begin(flag_options), std::end(flag_options),
                                              [w](const FlagOption &o) { return !std::strcmp(o.word, w); });
        if (flag != std::end(flag_options)) {
            s.mode |= flag->bit;
            acnt++;
        } else if (!std::strcmp(w, "-f")) {
            s.functnum = std::atoi(option_value(argc, argv, acnt + 1));
            acnt += 2;
        } else if (!std::strcmp(w, "-P")) {
            s.mode ^= MODE_PROLINEFREE;
            acnt++;
        } else if (!std::strcmp(w, "-p")) {
            s.mode |= MODE_PRINT;
            s.bound = std::atof(option_value(argc, argv, acnt + 1));
            acnt += 2;
        } else if (!std::strcmp(w, "-win")) {
            s.window_length = std::atoi(option_value(argc, argv, acnt + 1));
            if (s.window_length != 21 && s.window_length != 28) usage();
            acnt += 2;
        } else if (!std::strcmp(w, "-g")) {
            s.mode |= MODE_VIEW;
            acnt++;
            if (acnt < argc && argv[acnt][0] != '-' && !std::isdigit((unsigned char)argv[acnt][0]))
                name_file(s.regionfile, argv[acnt++]);
        } else if (!std::strcmp(w, "-d")) {
            s.mode |= MODE_MAP;
            acnt++;
            if (acnt < argc) {
                const char *sign = argv[acnt];
                int bits = !std::strcmp(sign, "+")    ? MODE_MAP_GIVEN
                           : !std::strcmp(sign, "+-") ? MODE_MAP_GIVEN | MODE_MAP_FLAGGED
                           : !std::strcmp(sign, "-")  ? MODE_MAP_FLAGGED
                                                      : 0;
                if (bits) {
                    s.mode |= bits;
                    s.upper_bound = std::atof(option_value(argc, argv, acnt + 1));
                    acnt += 2;
                }
            }
        } else if (!std::strcmp(w, "--threads")) {
            s.threads = count_value(argc, argv, acnt + 1, 1, MAX_THREADS);
            acnt += 2;
        } else if (!std::strcmp(w, "--plot")) {
            s.plot = option_value(argc, argv, acnt + 1);
            acnt += 2;
        } else if (!std::strcmp(w, "--calib")) {
            name_file(s.calib, option_value(argc, argv, acnt + 1));  // over the configuration's
            acnt += 2;
        } else if (!std::strcmp(w, "--max-length")) {
            s.max_length = count_value(argc, argv, acnt + 1, 0, INT_MAX);
            acnt += 2;
        } else if (!std::strcmp(w, "--gff3")) {
            name_file(s.gff3, option_value(argc, argv, acnt + 1));
            acnt += 2;
        } else if (!std::strcmp(w, "--regions")) {
            name_file(s.region_tsv, option_value(argc, argv, acnt + 1));
            acnt += 2;
        } else if (!std::strcmp(w, "--pscore")) {
            s.region_bound = pscore_value(argc, argv, acnt + 1);
            s.region_bound_given = true;
            acnt += 2;
        } else if (!std::strcmp(w, "--min-length")) {
            s.min_length = count_value(argc, argv, acnt + 1, 1, INT_MAX);
            acnt += 2;
        } else if (!std::strcmp(w, "--no-table")) {
            s.no_table = true;
            acnt++;
        } else {
            fatal(ERR_SWITCH, w);
        }
    }
    if (!(s.mode & (MODE_MAP_GIVEN | MODE_MAP_FLAGGED))) s.upper_bound = s.bound;
    // The region files list what the coil report lists unless --pscore says otherwise.
    if (!s.region_bound_given && (s.mode & MODE_PRINT)) s.region_bound = s.bound;
    // Without a table a configured "out" is neither opened nor emptied, and no word names one.
    if (s.no_table) s.out = FileName{};

    // Distance values the configuration did not give.  Words are consumed up
    // to functnum, but nothing is stored past the seven entries of lib.
    int given = 0;
    if (s.libnum != s.functnum) {
        for (int i = s.libnum; i < s.functnum && acnt < argc; i++, given++) {
            if (!std::strcmp(argv[acnt], "-"))
                fail("velcorin2: a distance is expected where '-' stands\n"
                     "\nUsage: velcorin2 [-win 21|28] <fasta_file> <output_file>\n",
                     true, STATUS_USAGE);
            int8_t d = int8_t(std::atoi(argv[acnt++]));
            if (i < NREG) s.lib[i] = d;
        }
    }
    s.libnum += given;  // from here on: the distances given in all

    if (!s.genbnk.given && acnt < argc) name_file(s.genbnk, argv[acnt++]);
    if (!s.cctb.given && acnt < argc) name_file(s.cctb, argv[acnt++]);
    if (!s.test.given && acnt < argc) name_file(s.test, argv[acnt++]);
    if (!s.no_table && !s.out.given && acnt < argc) name_file(s.out, argv[acnt++]);
    if (!s.log.given && acnt < argc) name_file(s.log, argv[acnt++]);  // else stderr
    if (acnt < argc) name_file(s.log_seq, argv[acnt++]);              // else stderr
    check_settings(s, argc - acnt);
}

void check_settings(const RunSettings &s, int words_left)
{
    if (!s.genbnk.given || !s.cctb.given || !s.test.given || (!s.out.given && !s.no_table)) usage();
    if (words_left > 0) usage();
    const std::string text = "\nUsage: velcorin2 [-win 21|28] <fasta_file> <output_file>\n";
    // A run that would write nothing but time stamps is a mistake, most likely a missing --regions.
    if (s.no_table && !s.gff3.given && !s.region_tsv.given && !(s.mode & (MODE_PRINT | MODE_VERBOSE | MODE_VIEW)))
        fail("velcorin2: --no-table leaves nothing to write; add --gff3, --regions, -p, -v or -g\n" + text, true,
             STATUS_USAGE);
    // The scorers index the tables by these distances: refuse what lies outside them.
    if (s.functnum < 1 || s.functnum > NREG) fail("velcorin2: functnum must be 1 to 7\n" + text, true, STATUS_USAGE);
    if (s.libnum < s.functnum)
        fail("velcorin2: functnum is " + std::to_string(s.functnum) + " but only " + std::to_string(s.libnum) +
                 " distances were given\n" + text,
             true, STATUS_USAGE);
    for (int i = 0; i < s.functnum; i++)
        if (s.lib[i] < 0 || s.lib[i] > 6)
            fail("velcorin2: distance " + std::to_string(s.lib[i]) + " is outside 0 to 6\n" + text, true, STATUS_USAGE);
}

// ---- 2. One record -----------------------------------------------------------------------

namespace {

// The outputs of a record, in the order they are written for it.
enum Out { OUT_ERR, OUT_PLOT, OUT_COIL, OUT_SEQLOG, OUT_TABLE, OUT_GFF3, OUT_REGIONS, NOUT };

// The distinct streams behind the outputs: both logs may be standard error,
// where the progress marks and warnings go too, and "-" may stand for the
// table and a log.  Outputs that share a stream share one text, so their
// bytes interleave as they would on the stream.
struct Sinks {
    FILE *file[NOUT] = {};
    int count = 0;
    int of[NOUT] = {};  // output -> text index
};

Sinks make_sinks(const RunFiles &f)
{
    Sinks k;
    FILE *const by_out[NOUT] = {stderr, f.ps, f.flog, f.flog_seq, f.fout, f.gff3, f.region_tsv};
    for (int o = 0; o < NOUT; o++) {
        int i = 0;
        while (i < k.count && k.file[i] != by_out[o]) i++;
        if (i == k.count) k.file[k.count++] = by_out[o];
        k.of[o] = i;
    }
    return k;
}

// One record: read on the main thread, scored and rendered anywhere.
struct Item {
    Sequence rec;
    int cnt = 0;
    bool scored = false;  // long enough to score
    PlotRegion region;
};

// A batch of consecutive records in flight and the texts they render to.
// Records are handed to the workers in batches so that handing over costs
// little next to scoring, also for proteins of a hundred residues.
struct Job {
    std::vector<Item> items;
    size_t used = 0;
    std::string text[NOUT];  // by Sinks index
    std::exception_ptr error;
    Item &next_item()
    {
        if (used == items.size()) items.emplace_back();
        return items[used];
    }
};

// What every record of a run reads.
struct Run {
    const RunSettings &s;
    const PairModel &model;
    const PosFreq &counts;
    const PscoreTables &pscores;
    const RunFiles &files;
    Sinks sinks;
    bool posp;
    double region_score;  // raw-score bound of the regions
};

// One thread's working memory, grown to the longest record it scored.
struct Scratch {
    Workspace ws;
    int32_t capacity = 0;
    std::unique_ptr<double[][NREG]> scs;
    std::unique_ptr<int8_t[]> offsets;
    std::unique_ptr<double[]> sc1, sc2;
    std::vector<CoilRegion> regions;
    // Leave-one-out: this thread's own counts and tables, changed per record.
    std::unique_ptr<PosFreq> counts;
    std::unique_ptr<PairModel> model;

    explicit Scratch(const Run &run)
    {
        if (run.s.mode & MODE_LEAVEOUT) {
            counts = std::make_unique<PosFreq>(run.counts);
            model = std::make_unique<PairModel>(run.model);
        }
    }
    void reserve(int32_t n)
    {
        if (n <= capacity) return;
        capacity = std::max(n, capacity + capacity / 2);
        scs.reset(new double[size_t(capacity)][NREG]);
        offsets.reset(new int8_t[size_t(capacity)]);
        sc1.reset(new double[size_t(capacity)]);
        sc2.reset(new double[size_t(capacity)]);
    }
};

// Largest score over the stretches of given registers at least window_length long.
double stretch_maximum(const double *sc, const Sequence &rec, int32_t window_length)
{
    int start = 0, end = 0;
    double score = NEG_INF;
    while (nondot_advance(&start, &end, rec.seq.data(), rec.reg.data(), rec.seqlen, 1)) {
        if (end - start < window_length) continue;
        for (int i = start; i < end; i++)
            if (sc[i] > score) score = sc[i];
    }
    return score;
}

enum ReadResult { READ_END, READ_RECORD, READ_LAST };

// read_record: the next record into `it`, with its number, whether it is
// scored and its plot region.  READ_LAST: a record cut short by the end of
// a register file, scored as far as it goes, and the last one.
ReadResult read_record(const Run &run, Item &it, int cnt)
{
    const RunSettings &s = run.s;
    Sequence &rec = it.rec;
    int32_t r = run.posp ? getpos(run.files.ftest, rec, s.max_length) : getseq2(run.files.ftest, rec, s.max_length);
    check_input(run.files.ftest);  // a read error is not the end of the input
    it.cnt = cnt;
    it.scored = false;
    if (r == POS_END) return READ_END;
    it.scored = rec.seqlen >= s.window_length;
    it.region = PlotRegion{};
    // The region file is read forward, record by record, so it is read here in input order.
    if (it.scored && (s.mode & MODE_VIEW) && run.files.regionfile) {
        it.region.from_file = true;
        if (!read_region(run.files.regionfile, rec.code, &it.region.first, &it.region.last)) {
            it.region.first = 1;
            it.region.last = rec.seqlen;
        }
    }
    return r == POS_INCOMPLETE ? READ_LAST : READ_RECORD;
}

// process: the reader's warnings of a record, and for a record long
// enough its scores and outputs, appended to the job's texts.
void process(const Run &run, Scratch &w, Job &job, Item &j)
{
    const RunSettings &s = run.s;
    Sequence &rec = j.rec;
    const int32_t n = rec.seqlen;
    const int prolinefree = s.mode & MODE_PROLINEFREE;
    std::string *text[NOUT];
    for (int o = 0; o < NOUT; o++) text[o] = &job.text[run.sinks.of[o]];

    *text[OUT_ERR] += rec.warnings;
    if (!j.scored) return;
    if (j.cnt % 10 == 0) *text[OUT_ERR] += '.';  // a progress mark
    // FASTA gives no registers: every residue stands outside any known coil.
    if (!run.posp) {
        if (rec.reg.size() < size_t(n)) rec.reg.resize(size_t(n));
        std::memset(rec.reg.data(), NOREG, size_t(n));
    }
    w.reserve(n);
    double(*scs)[NREG] = w.scs.get();
    int8_t *offsets = w.offsets.get();
    const PairModel *m = &run.model;
    if (s.mode & MODE_LEAVEOUT) {
        add_seq2(*w.counts, rec.reg.data(), rec.seq.data(), n, -1);
        build_pos_probs(*w.model, *w.counts, prolinefree);
        m = w.model.get();
    }
    double score = NEG_INF;
    if (s.mode & MODE_VIEW) {
        if (scorestock(s, w.ws, rec.seq.data(), n, scs, offsets, &score)) {
            for (int i = 0; i < n; i++) w.sc1[i] = scs[i][offsets[i]];
        } else {
            // Too short for the stock windows: no stock curve, never an earlier record's.
            for (int i = 0; i < n; i++) w.sc1[i] = NEG_INF;
            score = NEG_INF;
        }
        if (run.posp) score = stretch_maximum(w.sc1.get(), rec, s.window_length);
    }
    scseqadj(*m, s, w.ws, rec.seq.data(), n, scs, offsets, &score);
    for (int i = 0; i < n; i++) w.sc2[i] = scs[i][offsets[i]];
    if (run.posp) score = stretch_maximum(w.sc2.get(), rec, s.window_length);
    if (s.mode & MODE_LEAVEOUT) add_seq2(*w.counts, rec.reg.data(), rec.seq.data(), n, +1);

    if (s.mode & MODE_VIEW) res_compare(*text[OUT_PLOT], w.sc1.get(), w.sc2.get(), rec, j.region);
    if (s.mode & MODE_VERBOSE) log_output_ver(score, j.cnt, rec.title, rec.code, *text[OUT_COIL]);
    if (s.mode & MODE_PRINT)
        log_output_prn3(run.pscores, s, score, scs, offsets, n, j.cnt, rec, *text[OUT_COIL], *text[OUT_SEQLOG]);
    if (!s.no_table) txt_output2(run.pscores, rec.code, rec.title, rec.seq.data(), n, *text[OUT_TABLE], scs, offsets);
    if (run.files.gff3 || run.files.region_tsv) {
        find_regions(scs, offsets, n, run.region_score, s.min_length, w.regions);
        if (run.files.gff3) gff3_regions(run.pscores, rec, j.cnt, w.regions, offsets, *text[OUT_GFF3]);
        if (run.files.region_tsv) regions_tsv(run.pscores, rec, j.cnt, w.regions, offsets, *text[OUT_REGIONS]);
    }
}

void process_all(const Run &run, Scratch &w, Job &job)
{
    // Room for the whole table of the job at once: a text that grows record
    // by record is copied again at every step.
    if (!run.s.no_table) {
        size_t rows = 0;
        for (size_t i = 0; i < job.used; i++) rows += size_t(job.items[i].rec.seqlen);
        std::string &table = job.text[run.sinks.of[OUT_TABLE]];
        table.reserve(table.size() + rows * 58 + job.used * 2 * NAMELEN);
    }
    for (size_t i = 0; i < job.used; i++) process(run, w, job, job.items[i]);
}

// write_out: a job's texts onto their streams, in the order of the sinks.
void write_out(const Sinks &k, Job &j)
{
    if (j.error) std::rethrow_exception(j.error);
    for (int i = 0; i < k.count; i++) {
        std::string &t = j.text[i];
        if (!t.empty() && k.file[i]) std::fwrite(t.data(), 1, t.size(), k.file[i]);
        t.clear();
    }
    j.used = 0;
}

// ---- 3. Many records at once ---------------------------------------------------------------

// A ring of jobs: the main thread fills the next free job and hands it to
// the workers.  Finished jobs are written from the oldest on, so output
// follows input order, by whichever worker finishes the oldest one; the
// main thread only reads, so reading, scoring and writing overlap.  At most
// `ring.size()` batches are in flight, each of a bounded number of records.
class Pipeline {
public:
    Pipeline(const Run &run, int threads) : run_(run), ring_(size_t(4 * threads)), done_(ring_.size(), false)
    {
        for (auto &j : ring_) j = std::make_unique<Job>();
        for (int t = 0; t < threads; t++) workers_.emplace_back([this] { work(); });
    }
    ~Pipeline()
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            stopping_ = true;
        }
        work_cv_.notify_all();
        for (auto &t : workers_) t.join();
    }
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;

    // next: the job to fill, once the ring has room (a failure of an earlier
    // job is thrown here).  A full ring is waited for until half of it is
    // free, so that the reader wakes once for several jobs, not for each.
    Job &next()
    {
        std::unique_lock<std::mutex> lock(mu_);
        if (in_flight_ == ring_.size())
            free_cv_.wait(lock, [this] { return in_flight_ <= ring_.size() / 2 || error_; });
        if (error_) std::rethrow_exception(error_);
        return *ring_[(head_ + in_flight_) % ring_.size()];
    }
    // submit: the job just filled by next().
    void submit()
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            const size_t at = (head_ + in_flight_) % ring_.size();
            done_[at] = false;
            queue_.push_back(at);
            in_flight_++;
        }
        work_cv_.notify_one();
    }
    // drain: waits until every job in flight is written (or one failed,
    // which is thrown).
    void drain()
    {
        std::unique_lock<std::mutex> lock(mu_);
        free_cv_.wait(lock, [this] { return in_flight_ == 0 || error_; });
        if (error_) std::rethrow_exception(error_);
    }

private:
    // write_ready: with mu_ held, writes the oldest jobs that are done, in
    // order, unless another thread is at it; the lock is let go while writing.
    void write_ready(std::unique_lock<std::mutex> &lock)
    {
        if (writing_) return;
        writing_ = true;
        while (in_flight_ > 0 && done_[head_] && !error_) {
            Job &j = *ring_[head_];
            lock.unlock();
            std::exception_ptr failed;
            try {
                write_out(run_.sinks, j);
            } catch (...) {
                failed = std::current_exception();
            }
            lock.lock();
            if (failed) {
                error_ = failed;  // nothing after it is written
                break;
            }
            head_ = (head_ + 1) % ring_.size();
            in_flight_--;
            if (in_flight_ == ring_.size() / 2 || in_flight_ == 0) free_cv_.notify_all();
        }
        writing_ = false;
        if (error_) free_cv_.notify_all();
    }
    void work()
    {
        Scratch scratch(run_);
        std::unique_lock<std::mutex> lock(mu_);
        for (;;) {
            work_cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            const size_t at = queue_.front();
            queue_.pop_front();
            lock.unlock();
            Job &j = *ring_[at];
            try {
                process_all(run_, scratch, j);
            } catch (...) {
                j.error = std::current_exception();
            }
            lock.lock();
            done_[at] = true;
            write_ready(lock);
        }
    }

    const Run &run_;
    std::vector<std::unique_ptr<Job>> ring_;
    // All below guarded by mu_.
    std::vector<char> done_;
    std::deque<size_t> queue_;
    size_t head_ = 0, in_flight_ = 0;
    bool writing_ = false, stopping_ = false;
    std::exception_ptr error_;  // the first job that failed, or its writing
    std::mutex mu_;
    std::condition_variable work_cv_, free_cv_;
    std::vector<std::thread> workers_;
};

}  // namespace

// ---- 4. calcseq, nondot_advance ----------------------------------------------------------------

int nondot_advance(int *st, int *en, const int8_t *seq, const int8_t *reg, int seqlen, int posp)
{
    if (!posp) {
        if (*en != 0) return 0;
        *st = 0;
        *en = seqlen;
        return 1;
    }
    int start = *en;
    while (start < seqlen && (reg[start] == NOREG || seq[start] > 19)) start++;
    int end = start;
    while (end < seqlen && reg[end] != NOREG && seq[end] <= 19) end++;
    if (start >= seqlen) return 0;
    *st = start;
    *en = end;
    return 1;
}

int calcseq(const RunSettings &s, const RunFiles &files, const PairModel &model, const PosFreq &counts,
            const PscoreTables &pscores)
{
    const Run run{s,
                  model,
                  counts,
                  pscores,
                  files,
                  make_sinks(files),
                  (s.mode & (MODE_LEAVEOUT | MODE_POS)) != 0,
                  prob2score(pscores, s.region_bound)};
    // The headers come before any record, so an empty input gives valid files.
    std::string header[2];
    gff3_header(header[0]);
    regions_tsv_header(header[1]);
    FILE *const header_file[2] = {files.gff3, files.region_tsv};
    for (int h = 0; h < 2; h++)
        if (header_file[h]) std::fwrite(header[h].data(), 1, header[h].size(), header_file[h]);
    const int first = getc_unlocked(files.ftest);  // whether the input holds anything at all
    if (first != EOF) ungetc(first, files.ftest);
    int records = 0;
    if (s.threads <= 1) {
        Scratch scratch(run);
        Job j;
        for (int cnt = 1;; cnt++) {
            ReadResult r = read_record(run, j.next_item(), cnt);
            if (r == READ_END) break;
            records++;
            j.used = 1;
            process_all(run, scratch, j);
            write_out(run.sinks, j);
            if (r == READ_LAST) break;
        }
    } else {
        // Batches of about BATCH_RESIDUES residues or BATCH_RECORDS records.
        constexpr int64_t BATCH_RESIDUES = 8192;
        constexpr size_t BATCH_RECORDS = 256;
        Pipeline pipeline(run, s.threads);
        bool end = false;
        for (int cnt = 1; !end;) {
            Job &j = pipeline.next();
            int64_t residues = 0;
            while (!end && j.used < BATCH_RECORDS && residues < BATCH_RESIDUES) {
                Item &it = j.next_item();
                ReadResult r;
                try {
                    r = read_record(run, it, cnt);
                } catch (...) {
                    // The records before the failure are written first.
                    if (j.used > 0) pipeline.submit();
                    pipeline.drain();
                    throw;
                }
                if (r == READ_END) {
                    end = true;
                    break;
                }
                j.used++;
                cnt++;
                records++;
                residues += it.rec.seqlen;
                end = r == READ_LAST;
            }
            if (j.used > 0) pipeline.submit();
        }
        pipeline.drain();
    }
    std::fputc('\n', stderr);
    if (records == 0 && first != EOF)
        std::fprintf(stderr, "velcorin2: warning: no records found in %s\n", stream_name(files.ftest));
    return 1;
}

// ---- 5. velcorin2_main -----------------------------------------------------------------------

namespace {

// Closes each distinct stream once ("-" may stand for several of them) and
// forgets them all.  A close that fails throws once every stream is closed.
void close_streams(FILE **const *streams, int n, bool checked)
{
    std::exception_ptr first;
    for (int i = 0; i < n; i++) {
        FILE *f = *streams[i];
        *streams[i] = nullptr;
        if (!f || f == stderr) continue;
        bool seen = false;
        for (int j = 0; j < i; j++) seen |= *streams[j] == f;
        for (int j = i + 1; j < n; j++)
            if (*streams[j] == f) *streams[j] = nullptr;
        if (seen) continue;
        if (!checked) {
            sclose_quiet(f);
            continue;
        }
        try {
            sclose(f);
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    if (first) std::rethrow_exception(first);
}

}  // namespace

RunFiles::~RunFiles()
{
    FILE **const all[] = {&ps, &fgin, &fpin, &ftest, &fout, &flog, &flog_seq, &regionfile, &gff3, &region_tsv};
    close_streams(all, 10, false);
    if (!ps_scratch.empty()) unlink(ps_scratch.c_str());
}

void check_outputs(const RunSettings &s)
{
    struct Named {
        const char *role;
        const FileName *file;
    };
    const Named inputs[] = {{"GenFreq file", &s.genbnk},
                            {"PosFreq file", &s.cctb},
                            {"sequence input", &s.test},
                            {"region file", (s.mode & MODE_VIEW) ? &s.regionfile : nullptr},
                            {"calibration file", &s.calib}};
    const FileName plot{true, s.plot, ""};
    const Named outputs[] = {
        {"table", s.no_table ? nullptr : &s.out},         {"coil log", &s.log},   {"per-sequence log", &s.log_seq},
        {"plot", (s.mode & MODE_VIEW) ? &plot : nullptr}, {"GFF3 file", &s.gff3}, {"region table", &s.region_tsv}};
    const std::string std_out = "-";
    auto refuse = [](const std::string &name, const std::string &why) { fatal(ERR_OPEN, name + ": refused, " + why); };
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
        if (!std::strncmp(head, "GenFreq ", 8) || !std::strncmp(head, "PosFreq ", 8))
            refuse(name, std::string("it is a ") + std::string(head, 7) + " count file");
        if (!std::strncmp(head, CALIBRATION_MAGIC, std::strlen(CALIBRATION_MAGIC)))
            refuse(name, "it is a calibration file");
    }
}

namespace {

FILE *open_named(const FileName &f, const char *ops, FILE *otherwise)
{
    return f.given ? sopen(f.name.c_str(), ops) : otherwise;
}

// print_notes: the configuration reader's notes, on standard output unless
// an output of the run goes there (they would end up inside the table or
// the GFF3 file).
void print_notes(RunSettings &s, bool parsed)
{
    bool taken = false;
    for (const FileName *f : {&s.out, &s.log, &s.log_seq, &s.gff3, &s.region_tsv})
        taken |= parsed && f->given && f->name == "-";
    std::fputs(s.notes.c_str(), taken ? stderr : stdout);
    s.notes.clear();
}

int run(int argc, char **argv, RunSettings &s)
{
    // --help and --version answer before anything is opened or read.
    for (int i = 1; i < argc && argv[i][0] == '-'; i++) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            print_help(s);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("velcorin2 %s\n", VELCORIN2_VERSION);
            return 0;
        }
    }

    initialize_relative();
    get_defaults(s);
    s.mode |= MODE_PROLINEFREE;
    parse_command_line(argc, argv, s);
    print_notes(s, true);

    // Inputs first, so that nothing is created or emptied for a run that
    // cannot start.
    RunFiles f;
    f.fgin = open_named(s.genbnk, "r", nullptr);
    f.fpin = open_named(s.cctb, "r", nullptr);
    f.ftest = open_named(s.test, "r", nullptr);
    if (s.mode & MODE_VIEW) f.regionfile = open_named(s.regionfile, "r", nullptr);
    std::unique_ptr<FILE, void (*)(FILE *)> fcalib(open_named(s.calib, "r", nullptr), sclose_quiet);
    check_outputs(s);
    timestamp(stderr);
    auto counts_g = std::make_unique<GenFreq>();
    auto counts_p = std::make_unique<PosFreq>();
    readgenfreq(f.fgin, *counts_g);
    readposfreq(f.fpin, *counts_p);
    auto model = std::make_unique<PairModel>();
    build_pair_model(*model, *counts_g, (s.mode & MODE_LEAVEOUT) ? nullptr : counts_p.get(), s);

    // Every p-score of the run comes from the calibration when one is named;
    // it must have been made for this model, or its p-scores mean nothing.
    const PscoreTables *pscores = &builtin_pscores();
    std::unique_ptr<PscoreTables> calibrated;
    if (fcalib) {
        auto c = std::make_unique<Calibration>();
        read_calibration(fcalib.get(), s.calib.name, *c);
        sclose(fcalib.release());
        check_calibration(*c, s, model_fingerprint(*counts_g, *counts_p), s.calib.name);
        calibrated = std::make_unique<PscoreTables>();
        calibrated_pscores(*c, s.window_length, *calibrated);
        pscores = calibrated.get();
    }

    if (s.mode & MODE_VIEW) f.ps = sopen_replacing(s.plot.c_str(), f.ps_scratch);
    f.fout = open_named(s.out, "w", nullptr);
    f.gff3 = open_named(s.gff3, "w", nullptr);
    f.region_tsv = open_named(s.region_tsv, "w", nullptr);
    f.flog = open_named(s.log, "w", stderr);
    f.flog_seq = open_named(s.log_seq, "w", stderr);
    std::setbuf(f.flog, nullptr);
    std::setbuf(f.flog_seq, nullptr);

    calcseq(s, f, *model, *counts_p, *pscores);
    timestamp(stderr);

    // Every stream is closed and checked: a damaged compressed input (its
    // zcat failed), a read error, or a write that failed (also one that a
    // network file system reports only at the close) is an error rather than
    // a run ended as done.
    if (f.ps) {
        FILE *ps = f.ps;
        f.ps = nullptr;
        sreplace(ps, f.ps_scratch, s.plot.c_str());
    }
    FILE **const closing[] = {&f.fgin,       &f.fpin, &f.ftest,      &f.fout, &f.flog_seq,
                              &f.regionfile, &f.gff3, &f.region_tsv, &f.flog};
    close_streams(closing, 9, true);
    done();
    return 0;
}

}  // namespace

int velcorin2_main(int argc, char **argv)
{
    guard_standard_streams();
    RunSettings s = default_settings();
    try {
        return run(argc, argv, s);
    } catch (const Failure &e) {
        print_notes(s, false);  // before the message, as they came first
        return report(e);
    }
}

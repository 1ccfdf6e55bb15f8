// sc2seq: the command line and the per-sequence driver.
//
// Contents:
//   velcorin2_main   settings, configuration file, options, distances, files, run, shut-down
//   calcseq          load both count files, build the model, score and report every record
//   nondot_advance   next stretch of residues with given registers (register-file runs)
//
// The run is one pass: everything the scorers and outputs vary by is settled
// here before calcseq starts, and calcseq owns every per-sequence buffer, so
// nothing is allocated while records stream through.
#include "sc2seq.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "get_defaults.h"
#include "output.h"
#include "scio.h"
#include "scpos.h"
#include "scscore.h"
#include "scsystem.h"
#include "velcorin2.h"

#ifndef VELCORIN2_VERSION
#define VELCORIN2_VERSION "unknown"
#endif

namespace {

constexpr double NEG_INF = -std::numeric_limits<double>::infinity();
constexpr const char *PLOT_FILE = "/tmp/tr.ps";

// The help page; the defaults it shows are the live start-up values.
void print_help()
{
    std::printf(
        "velcorin2 %s: coiled-coil prediction from pair correlations across heptad registers\n"
        "\n"
        "Usage: velcorin2 [options] [distances] [genfreq posfreq] [sequences] [output] [coil_log] [seq_log]\n"
        "\n"
        "Options (they come first; the first word not starting with '-' ends them):\n"
        "  -f N        use N distance classes (default %d)\n"
        "  -P          flip the proline-free segments (default on: prolines end a segment)\n"
        "  -v          a score line per sequence on the coil log\n"
        "  -p P        coil report with p-score bound P on both logs\n"
        "  -d [+|-|+- U]  residue and register map in the coil report; + treats residues without\n"
        "              a known register as no coil, - maps only sequences with a flagged residue,\n"
        "              U is the second bound of the map\n"
        "  -pos        the sequences are register files (known registers)\n"
        "  -1          register files, each record left out of the counts while it is scored\n"
        "  -g [FILE]   stock scoring too, and a PostScript comparison plot in %s;\n"
        "              FILE names a region per sequence (>code first last)\n"
        "  -win 21|28  shortest scored sequence and segment (default %d)\n"
        "  -w          accepted, no effect\n"
        "  --help      this text;  --version  the version\n"
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
        "with keys genbnk cctb lib test out log pos view ver prn functnum.\n"
        "\n"
        "Exit status: 0 done, 2 error (message on stdout), 255 usage or unreadable sequence.\n",
        VELCORIN2_VERSION, functnum, PLOT_FILE, window_length, functnum);
}

// Value word of an option: a missing value is a usage error, never a read past argv.
const char *option_value(int argc, char **argv, int at)
{
    if (at >= argc) usage(argv[0]);
    return argv[at];
}

// Closes each distinct stream once: "-" may stand for several of them.
void close_streams(FILE *const *streams, int n)
{
    for (int i = 0; i < n; i++) {
        FILE *f = streams[i];
        if (!f || f == stderr) continue;
        bool seen = false;
        for (int j = 0; j < i; j++) seen |= streams[j] == f;
        if (!seen) sclose(f);
    }
}

// Largest score over the stretches of given registers at least window_length long.
double stretch_maximum(const double *sc, const int8_t *seq, const int8_t *reg, int seqlen)
{
    int start = 0, end = 0;
    double score = NEG_INF;
    while (nondot_advance(&start, &end, seq, reg, seqlen, 1)) {
        if (end - start < window_length) continue;
        for (int i = start; i < end; i++)
            if (sc[i] > score) score = sc[i];
    }
    return score;
}

}  // namespace

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

int calcseq(FILE *fgin, FILE *fpin, FILE *ftest, FILE *fout, FILE *flog, FILE *flog_seq,
            FILE *regionfile, int mode, double bound, double upper_bound, const int8_t *lib)
{
    static int32_t gtotals, gfreqs[NAA], gtotalp[NREG], gfreqp[NAA][NAA][NREG];
    static int32_t ptotals[NREG], pfreqs[NAA][NREG], ptotalp[NREG][NREG], pfreqp[NAA][NAA][NREG][NREG];
    static int8_t seq[MAXSEQ], reg[MAXSEQ], offsets[MAXSEQ];
    static char title[NAMELEN], code[NAMELEN];
    static double scs[MAXSEQ][NREG], sc1[MAXSEQ], sc2[MAXSEQ];

    const int posp = (mode & (MODE_LEAVEOUT | MODE_POS)) ? 1 : 0;
    const int prolinefree = mode & MODE_PROLINEFREE;
    Sequence sequence{0, seq, reg, title, code};

    readgenfreq(fgin, &gtotals, gfreqs, gtotalp, gfreqp, stderr);
    readposfreq(fpin, ptotals, pfreqs, ptotalp, pfreqp, stderr);
    FILE *ps = (mode & MODE_VIEW) ? sopen_nofollow(PLOT_FILE) : nullptr;
    calcgprobs(gfreqs, gtotals, gprobs);
    calcgprobp(gfreqp, gtotalp, gprobp);
    if (!(mode & MODE_LEAVEOUT)) {
        calcpprobs(pfreqs, ptotals, pprobs, prolinefree);
        calcpprobp(pfreqp, ptotalp, pprobs, pprobp, prolinefree);
    }

    for (int cnt = 1;; cnt++) {
        if (!(posp ? getpos(ftest, &sequence) : getseq2(ftest, &sequence))) break;
        const int seqlen = sequence.seqlen;
        if (seqlen < window_length) continue;
        // FASTA gives no registers: every residue stands outside any known coil.
        if (!posp) std::memset(reg, NOREG, size_t(seqlen));
        if (cnt % 10 == 0) {
            std::fputc('.', stderr);
            std::fflush(stderr);
        }
        if (mode & MODE_LEAVEOUT) {
            add_seq2(pfreqs, ptotals, pfreqp, ptotalp, reg, seq, seqlen, -1);
            calcpprobs(pfreqs, ptotals, pprobs, prolinefree);
            calcpprobp(pfreqp, ptotalp, pprobs, pprobp, prolinefree);
        }
        double score = NEG_INF;
        if ((prog & 0x2) || (mode & MODE_VIEW)) {
            WINDOW = 28;
            if (scorestock(seq, seqlen, scs, offsets, &score, prolinefree)) {
                for (int i = 0; i < seqlen; i++) sc1[i] = scs[i][offsets[i]];
            } else {
                // Too short for the stock windows: no stock curve, never an earlier record's.
                for (int i = 0; i < seqlen; i++) sc1[i] = NEG_INF;
                score = NEG_INF;
            }
            if (posp) score = stretch_maximum(sc1, seq, reg, seqlen);
        }
        if ((prog & 0x1) || (mode & MODE_VIEW)) {
            WINDOW = 30;
            scseqadj(lib, seq, seqlen, scs, offsets, &score, prolinefree);
            for (int i = 0; i < seqlen; i++) sc2[i] = scs[i][offsets[i]];
            if (posp) score = stretch_maximum(sc2, seq, reg, seqlen);
        }
        if (mode & MODE_LEAVEOUT) add_seq2(pfreqs, ptotals, pfreqp, ptotalp, reg, seq, seqlen, +1);
        if (mode & MODE_VIEW) res_compare(ps, sc1, sc2, &sequence, regionfile);
        if (mode & MODE_VERBOSE) log_output_ver(score, cnt, title, code, flog);
        if (mode & MODE_PRINT)
            log_output_prn3(mode, score, scs, offsets, seqlen, cnt, sequence, bound, upper_bound, flog,
                            flog_seq);
        txt_output2(code, title, seq, seqlen, fout, scs, offsets);
    }
    std::fputc('\n', stderr);
    if (mode & MODE_VIEW) sclose(ps);
    return 1;
}

int velcorin2_main(int argc, char **argv)
{
    FILE *fgin = nullptr, *fpin = nullptr, *ftest = nullptr, *fout = nullptr, *flog = nullptr,
         *flog_seq = nullptr, *regionfile = nullptr;
    int velcorin = 1, libnum = 0, acnt = 1, mode = 0;
    double bound = 0.0, upper_bound = 0.0;
    int8_t lib[NREG] = {};

    // --help and --version answer before anything is opened or read.
    for (int i = 1; i < argc && argv[i][0] == '-'; i++) {
        if (!std::strcmp(argv[i], "--help")) {
            print_help();
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("velcorin2 %s\n", VELCORIN2_VERSION);
            return 0;
        }
    }

    prog = 1;
    initialize_relative();
    window_length = 28;
    if (velcorin) get_defaults(&mode, &bound, &fgin, &fpin, &ftest, &fout, &flog, lib, &libnum, &functnum);
    mode |= MODE_PROLINEFREE;

    // A lone "-" is a file name (standard input or output) and ends the options.
    while (acnt < argc && argv[acnt][0] == '-' && std::strcmp(argv[acnt], "-") != 0) {
        const char *w = argv[acnt];
        if (!std::strcmp(w, "-f")) {
            functnum = std::atoi(option_value(argc, argv, acnt + 1));
            acnt += 2;
        } else if (!std::strcmp(w, "-P")) {
            mode ^= MODE_PROLINEFREE;
            acnt++;
        } else if (!std::strcmp(w, "-v")) {
            mode |= MODE_VERBOSE;
            acnt++;
        } else if (!std::strcmp(w, "-1")) {
            mode |= MODE_LEAVEOUT;
            acnt++;
        } else if (!std::strcmp(w, "-w")) {
            mode |= MODE_W;
            acnt++;
        } else if (!std::strcmp(w, "-p")) {
            mode |= MODE_PRINT;
            bound = std::atof(option_value(argc, argv, acnt + 1));
            acnt += 2;
        } else if (!std::strcmp(w, "-win")) {
            window_length = std::atoi(option_value(argc, argv, acnt + 1));
            if (window_length != 21 && window_length != 28) usage(argv[0]);
            acnt += 2;
        } else if (!std::strcmp(w, "-g")) {
            mode |= MODE_VIEW;
            acnt++;
            if (acnt < argc && argv[acnt][0] != '-' && !std::isdigit((unsigned char)argv[acnt][0]))
                regionfile = sopen(argv[acnt++], "r");
        } else if (!std::strcmp(w, "-pos")) {
            mode |= MODE_POS;
            acnt++;
        } else if (!std::strcmp(w, "-d")) {
            mode |= MODE_MAP;
            acnt++;
            if (acnt < argc) {
                const char *sign = argv[acnt];
                int bits = !std::strcmp(sign, "+")    ? MODE_MAP_GIVEN
                           : !std::strcmp(sign, "+-") ? MODE_MAP_GIVEN | MODE_MAP_FLAGGED
                           : !std::strcmp(sign, "-")  ? MODE_MAP_FLAGGED
                                                      : 0;
                if (bits) {
                    mode |= bits;
                    upper_bound = std::atof(option_value(argc, argv, acnt + 1));
                    acnt += 2;
                }
            }
        } else {
            fatal(ERR_SWITCH, w);
        }
    }
    if (!(mode & (MODE_MAP_GIVEN | MODE_MAP_FLAGGED))) upper_bound = bound;

    // Distance values the configuration did not give.  Words are consumed up
    // to functnum, but nothing is stored past the seven entries of lib.
    int given = 0;
    if ((prog & 0x1) && libnum != functnum) {
        for (int i = libnum; i < functnum && acnt < argc; i++, given++) {
            if (!std::strcmp(argv[acnt], "-")) {
                std::fprintf(stderr, "velcorin2: a distance is expected where '-' stands\n");
                usage(argv[0]);
            }
            int8_t d = int8_t(std::atoi(argv[acnt++]));
            if (i < NREG) lib[i] = d;
        }
    }

    if (!fgin && acnt < argc) fgin = sopen(argv[acnt++], "r");
    if (!fpin && acnt < argc) fpin = sopen(argv[acnt++], "r");
    if (!ftest && acnt < argc) ftest = sopen(argv[acnt++], "r");
    if (!fout && acnt < argc) fout = sopen(argv[acnt++], "w");
    if (!flog) flog = acnt < argc ? sopen(argv[acnt++], "w") : stderr;
    if (!flog_seq) flog_seq = acnt < argc ? sopen(argv[acnt++], "w") : stderr;
    if (!fgin || !fpin || !ftest || !fout || !flog || !flog_seq) usage(argv[0]);
    if (acnt < argc) usage(argv[0]);

    // The scorers index the tables by these distances: refuse what lies outside them.
    if (functnum < 1 || functnum > NREG) {
        std::fprintf(stderr, "velcorin2: functnum must be 1 to 7\n");
        usage(argv[0]);
    }
    if (libnum + given < functnum) {
        std::fprintf(stderr, "velcorin2: functnum is %d but only %d distances were given\n", functnum,
                     libnum + given);
        usage(argv[0]);
    }
    for (int i = 0; i < functnum; i++) {
        if (lib[i] < 0 || lib[i] > 6) {
            std::fprintf(stderr, "velcorin2: distance %d is outside 0 to 6\n", lib[i]);
            usage(argv[0]);
        }
    }

    std::setbuf(flog, nullptr);
    std::setbuf(flog_seq, nullptr);
    timestamp(stderr);
    calcseq(fgin, fpin, ftest, fout, flog, flog_seq, regionfile, mode, bound, upper_bound, lib);
    timestamp(stderr);

    // The sequence input is closed too, so that a damaged compressed input
    // (its zcat failed) is an error rather than a short run ended as done.
    FILE *const closing[] = {fgin, fpin, ftest, fout, flog_seq,
                             (mode & MODE_VIEW) ? regionfile : nullptr};
    close_streams(closing, 6);
    // The coil log is never closed; a write that failed must still not pass as done.
    if (flog != fout && flog != flog_seq) check_output(flog);
    done();
    exit_program(0);
}

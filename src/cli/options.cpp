// options: the help page, the usage text and the command line.
//
// Options come first; the first word that does not start with "-", or a
// lone "-", ends them.  Then come the distance classes the configuration
// did not give, then the files it did not name.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../lib/errors.h"
#include "cli.h"

namespace velcorin2::cli {

void usage(const std::string &why)
{
    std::string text = why.empty() ? "" : "velcorin2: " + why + "\n";
    text += "\nUsage: velcorin2 [-win 21|28] <fasta_file> <output_file>\n";
    raise_text(text, true, STATUS_USAGE, ErrorCode::USAGE);
}

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
                "                  is a run of residues whose table p-score is below P\n"
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
                version(), d.distance_count, d.plot_file.c_str(), d.shortest_segment, d.threads, d.max_length,
                d.region_min_length, d.distance_count);
}

namespace {

constexpr int MAX_THREADS = 256;

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
        usage(std::string(argv[at - 1]) + " needs a whole number from " + std::to_string(lo) + " to " +
              std::to_string(hi));
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
        usage(std::string(argv[at - 1]) + " needs a p-score from 0 to 1");
    return v;
}

void name_file(FileName &f, const char *word) { f = FileName{true, word, "command line"}; }

}  // namespace

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
            s.distance_count = std::atoi(option_value(argc, argv, acnt + 1));
            acnt += 2;
        } else if (!std::strcmp(w, "-P")) {
            s.mode ^= MODE_PROLINEFREE;
            acnt++;
        } else if (!std::strcmp(w, "-p")) {
            s.mode |= MODE_PRINT;
            s.report_pscore = std::atof(option_value(argc, argv, acnt + 1));
            acnt += 2;
        } else if (!std::strcmp(w, "-win")) {
            s.shortest_segment = std::atoi(option_value(argc, argv, acnt + 1));
            if (s.shortest_segment != 21 && s.shortest_segment != 28) usage();
            acnt += 2;
        } else if (!std::strcmp(w, "-g")) {
            s.mode |= MODE_VIEW;
            acnt++;
            if (acnt < argc && argv[acnt][0] != '-' && !std::isdigit((unsigned char)argv[acnt][0]))
                name_file(s.plot_regions, argv[acnt++]);
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
                    s.map_bound = std::atof(option_value(argc, argv, acnt + 1));
                    acnt += 2;
                }
            }
        } else if (!std::strcmp(w, "--threads")) {
            s.threads = count_value(argc, argv, acnt + 1, 1, MAX_THREADS);
            acnt += 2;
        } else if (!std::strcmp(w, "--plot")) {
            s.plot_file = option_value(argc, argv, acnt + 1);
            acnt += 2;
        } else if (!std::strcmp(w, "--calib")) {
            name_file(s.calibration, option_value(argc, argv, acnt + 1));  // over the configuration's
            acnt += 2;
        } else if (!std::strcmp(w, "--max-length")) {
            s.max_length = count_value(argc, argv, acnt + 1, 0, INT_MAX);
            acnt += 2;
        } else if (!std::strcmp(w, "--gff3")) {
            name_file(s.gff3, option_value(argc, argv, acnt + 1));
            acnt += 2;
        } else if (!std::strcmp(w, "--regions")) {
            name_file(s.regions_tsv, option_value(argc, argv, acnt + 1));
            acnt += 2;
        } else if (!std::strcmp(w, "--pscore")) {
            s.region_pscore = pscore_value(argc, argv, acnt + 1);
            s.region_pscore_given = true;
            acnt += 2;
        } else if (!std::strcmp(w, "--min-length")) {
            s.region_min_length = count_value(argc, argv, acnt + 1, 1, INT_MAX);
            acnt += 2;
        } else if (!std::strcmp(w, "--no-table")) {
            s.no_table = true;
            acnt++;
        } else {
            raise_numbered(ErrorCode::SWITCH, w);
        }
    }
    if (!(s.mode & (MODE_MAP_GIVEN | MODE_MAP_FLAGGED))) s.map_bound = s.report_pscore;
    // The region files list what the coil report lists unless --pscore says otherwise.
    if (!s.region_pscore_given && (s.mode & MODE_PRINT)) s.region_pscore = s.report_pscore;
    // Without a table a configured "out" is neither opened nor emptied, and no word names one.
    if (s.no_table) s.table = FileName{};

    // Distance values the configuration did not give.  Words are consumed up
    // to functnum, but nothing is stored past the seven entries of lib.
    int given = 0;
    if (s.distances_given != s.distance_count) {
        for (int i = s.distances_given; i < s.distance_count && acnt < argc; i++, given++) {
            if (!std::strcmp(argv[acnt], "-")) usage("a distance is expected where '-' stands");
            int8_t d = int8_t(std::atoi(argv[acnt++]));
            if (i < NREG) s.distances[i] = d;
        }
    }
    s.distances_given += given;  // from here on: the distances given in all

    if (!s.background_counts.given && acnt < argc) name_file(s.background_counts, argv[acnt++]);
    if (!s.coil_counts.given && acnt < argc) name_file(s.coil_counts, argv[acnt++]);
    if (!s.sequences.given && acnt < argc) name_file(s.sequences, argv[acnt++]);
    if (!s.no_table && !s.table.given && acnt < argc) name_file(s.table, argv[acnt++]);
    if (!s.coil_log.given && acnt < argc) name_file(s.coil_log, argv[acnt++]);  // else stderr
    if (acnt < argc) name_file(s.sequence_log, argv[acnt++]);                   // else stderr
    check_settings(s, argc - acnt);
}

void check_settings(const RunSettings &s, int words_left)
{
    if (!s.background_counts.given || !s.coil_counts.given || !s.sequences.given || (!s.table.given && !s.no_table))
        usage();
    if (words_left > 0) usage();
    // A run that would write nothing but time stamps is a mistake, most likely a missing --regions.
    if (s.no_table && !s.gff3.given && !s.regions_tsv.given && !(s.mode & (MODE_PRINT | MODE_VERBOSE | MODE_VIEW)))
        usage("--no-table leaves nothing to write; add --gff3, --regions, -p, -v or -g");
    // The scorers index the tables by these distances: refuse what lies outside them.
    if (s.distance_count < 1 || s.distance_count > NREG) usage("functnum must be 1 to 7");
    if (s.distances_given < s.distance_count)
        usage("functnum is " + std::to_string(s.distance_count) + " but only " + std::to_string(s.distances_given) +
              " distances were given");
    for (int i = 0; i < s.distance_count; i++)
        if (s.distances[i] < 0 || s.distances[i] > 6)
            usage("distance " + std::to_string(s.distances[i]) + " is outside 0 to 6");
}

}  // namespace velcorin2::cli

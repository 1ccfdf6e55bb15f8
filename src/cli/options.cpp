// options: the help page, the usage text and the command line.
//
// Options come first; the first word that does not start with "-", or a
// lone "-", ends them.  Then come the distance classes the configuration
// did not give, then the files it did not name.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.h"

namespace velcorin2::cli {

void usage(const std::string &why)
{
    std::string text = why.empty() ? "" : "velcorin2: " + why + "\n";
    text += "\nUsage: velcorin2 [-win 21|28] <fasta_file> <output_file>\n";
    text += "velcorin2 --help lists everything.\n";
    throw Error(text, ErrorCode::USAGE, true, STATUS_USAGE);
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
                "  --summary FILE  a tab-separated line per record, scored or not: length, regions, best\n"
                "                  score, lowest p-score, sequence score and P-score\n"
                "  --html FILE     one self-contained HTML report of the run: settings, counts, a sortable\n"
                "                  table of the records with a region, and their profiles (SVG pictures)\n"
                "  --html-max N    profiles in the report: the first N records with a region (default %lld)\n"
                "  --quiet         no time stamps, no \"Done.\", no progress on standard error\n"
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
                "Configuration: the file named by $VELCORIN_CONFIG, else $HOME/.velcorin2, else the one installed\n"
                "beside the program (<prefix>/share/velcorin2/velcorin2.conf, found by itself); lines 'key = value'\n"
                "with keys genbnk cctb lib test out log pos view ver prn functnum calib.\n"
                "\n"
                "Exit status: 0 done, 2 error (message on stdout), 255 usage or unreadable sequence.\n",
                version(), d.distance_count, d.plot_file.c_str(), d.shortest_segment, d.threads, d.max_length,
                d.region_min_length, (long long)d.html_max, d.distance_count);
}

namespace {

constexpr int MAX_THREADS = 256;

// An option word: "-" and something after it (a lone "-" is a file name).
bool is_option_word(const char *w) { return w[0] == '-' && w[1] != '\0'; }

std::string quoted(const char *w) { return std::string("'") + w + "'"; }

// The bits of the sign word after -d: "+", "+-" or "-"; 0 for any other word.
int map_sign_bits(const char *w)
{
    return !std::strcmp(w, "+")    ? MODE_MAP_GIVEN
           : !std::strcmp(w, "+-") ? MODE_MAP_GIVEN | MODE_MAP_FLAGGED
           : !std::strcmp(w, "-")  ? MODE_MAP_FLAGGED
                                   : 0;
}

// The options that take one value word.
constexpr const char *value_options[] = {"-f",           "-p",           "-win",   "--threads", "--plot",
                                         "--calib",      "--max-length", "--gff3", "--regions", "--pscore",
                                         "--min-length", "--summary",    "--html", "--html-max"};

// option_span: the words the option at argv[at] takes, itself included.
// The option loop advances by it and the help search walks by it, so both
// read the same words as values.
int option_span(int argc, char **argv, int at)
{
    const char *w = argv[at];
    for (const char *o : value_options)
        if (!std::strcmp(w, o)) return 2;
    const char *next = at + 1 < argc ? argv[at + 1] : nullptr;
    // -g takes a region file if one follows: a word that starts with neither "-" nor a digit.
    if (!std::strcmp(w, "-g")) return next && next[0] != '-' && !std::isdigit((unsigned char)next[0]) ? 2 : 1;
    // -d takes a sign word and a bound, or nothing.
    if (!std::strcmp(w, "-d")) return next && map_sign_bits(next) ? 3 : 1;
    return 1;
}

// Value word of an option: a missing value is a usage error, never a read past argv.
const char *option_value(int argc, char **argv, int at, const std::string &option)
{
    if (at >= argc) usage(option + " needs a value after it");
    return argv[at];
}

// An integer option's value: a whole decimal number in [lo, hi], else a
// usage error naming the option and the word.
int count_value(int argc, char **argv, int at, int lo, int hi)
{
    const char *w = option_value(argc, argv, at, argv[at - 1]);
    int v;
    if (!whole_int(w, &v) || v < lo || v > hi)
        usage(std::string(argv[at - 1]) + " needs a whole number from " + std::to_string(lo) + " to " +
              std::to_string(hi) + ", not " + quoted(w));
    return v;
}

// A real option's value, read whole (the option named by `option`).
double number_value(int argc, char **argv, int at, const std::string &option)
{
    const char *w = option_value(argc, argv, at, option);
    double v;
    if (!whole_double(w, &v)) usage(option + " needs a number, not " + quoted(w));
    return v;
}

// A p-score option's value: a number from 0 to 1, else a usage error that says so.
double pscore_value(int argc, char **argv, int at)
{
    const double v = number_value(argc, argv, at, argv[at - 1]);
    if (!(v >= 0.0 && v <= 1.0))
        usage(std::string(argv[at - 1]) + " needs a p-score from 0 to 1, not " + quoted(argv[at]));
    return v;
}

void name_file(FileName &f, const char *word) { f = FileName{true, word, "command line"}; }

// configuration_note: why no configuration file was read ("" when one was).
std::string configuration_note(const RunSettings &s)
{
    if (!s.configuration.empty()) return "";
    const char *env = std::getenv("VELCORIN_CONFIG");
    if (!env) {
        const std::string home = configuration_path();
        return "no configuration file was found (VELCORIN_CONFIG is not set" +
               (home.empty() ? std::string(")") : ", and " + home + " does not exist)");
    }
    if (!*env) return "VELCORIN_CONFIG is empty";
    struct stat st;
    const std::string named = std::string("VELCORIN_CONFIG names ") + env;
    if (stat(env, &st) != 0)
        return named + (errno == ENOENT ? ", which does not exist" : ": " + std::string(std::strerror(errno)));
    if (configuration_path().empty()) return named + ", a name longer than 499 characters";
    return named + ", which cannot be read";
}

// without_configuration: "; <why no configuration file was read>, so the
// words after the options are distances and then files", or "" when one was.
std::string without_configuration(const RunSettings &s)
{
    const std::string note = configuration_note(s);
    return note.empty() ? "" : "; " + note + ", so the words after the options are distances and then files";
}

// An option word where distances or files are read: an option put after them.
[[noreturn]] void option_after_files(const char *w)
{
    usage("options come before the distances and files; " + quoted(w) + " stands after the file names");
}

// A word that is not a distance where one is read.
[[noreturn]] void bad_distance(const RunSettings &s, const char *w)
{
    if (is_option_word(w) && std::strspn(w + 1, "0123456789") != std::strlen(w + 1)) option_after_files(w);
    const std::string why = without_configuration(s);
    usage((why.empty() ? "" : why.substr(2) + ": ") + quoted(w) + " is not a distance (a whole number from 0 to 6)");
}

// An output or log word that starts like an option is an option put after
// the files, not a file to create.
void name_output(FileName &f, const char *w)
{
    if (is_option_word(w)) option_after_files(w);
    name_file(f, w);
}

// missing_files: what the first missing file is and where it goes.
std::string missing_files(const RunSettings &s)
{
    const std::string tail = without_configuration(s);
    if (!s.background_counts.given)
        return "the GenFreq count file is not named (key genbnk, or a word after the distances)" + tail;
    if (!s.coil_counts.given)
        return "the PosFreq count file is not named (key cctb, or a word after " + s.background_counts.name + ")" +
               tail;
    if (!s.sequences.given)
        return "the sequence file is not named (a word after " +
               (s.coil_counts.from == "command line" ? s.coil_counts.name : std::string("the options")) + ")";
    return "the output file is not named (a word after " +
           (s.sequences.from == "command line" ? "the sequence file " + s.sequences.name : std::string("the options")) +
           "), nor is --no-table given";
}

// expand_names: "~" forms replaced by the home directory at once, so that
// every message names the file as it is opened.
void expand_names(RunSettings &s)
{
    for (FileName *f : {&s.background_counts, &s.coil_counts, &s.sequences, &s.table, &s.coil_log, &s.sequence_log,
                        &s.plot_regions, &s.gff3, &s.regions_tsv, &s.summary, &s.html, &s.calibration})
        if (f->given && f->name[0] == '~') f->name = expand_home(f->name.c_str());
}

// The options that only set a mode bit.
struct FlagOption {
    const char *word;
    int bit;
};
constexpr FlagOption flag_options[] = {{"-v", MODE_VERBOSE}, {"-1", MODE_LEAVEOUT}, {"-w", MODE_W}, {"-pos", MODE_POS}};

}  // namespace

bool answer_help_or_version(int argc, char **argv, const RunSettings &d)
{
    for (int at = 1; at < argc && is_option_word(argv[at]); at += option_span(argc, argv, at)) {
        if (!std::strcmp(argv[at], "--help") || !std::strcmp(argv[at], "-h")) {
            print_help(d);
            return true;
        }
        if (!std::strcmp(argv[at], "--version")) {
            std::printf("velcorin2 %s\n", version());
            return true;
        }
    }
    return false;
}

void parse_command_line(int argc, char **argv, RunSettings &s)
{
    // The configuration comes before the command line, and so do its mistakes.
    if (!s.configuration_error.empty()) usage(s.configuration_error);
    int acnt = 1;
    while (acnt < argc && is_option_word(argv[acnt])) {
        const char *w = argv[acnt];
        const int span = option_span(argc, argv, acnt);
        const FlagOption *flag = std::find_if(std::begin(flag_options), std::end(flag_options),
                                              [w](const FlagOption &o) { return !std::strcmp(o.word, w); });
        if (flag != std::end(flag_options)) {
            s.mode |= flag->bit;
        } else if (!std::strcmp(w, "-f")) {
            s.distance_count = count_value(argc, argv, acnt + 1, 1, NREG);
        } else if (!std::strcmp(w, "-P")) {
            s.mode ^= MODE_PROLINEFREE;
        } else if (!std::strcmp(w, "-p")) {
            s.mode |= MODE_PRINT;
            s.report_pscore = number_value(argc, argv, acnt + 1, w);
        } else if (!std::strcmp(w, "-win")) {
            const char *v = option_value(argc, argv, acnt + 1, w);
            if (!whole_int(v, &s.shortest_segment) || (s.shortest_segment != 21 && s.shortest_segment != 28))
                usage("-win needs 21 or 28, not " + quoted(v));
        } else if (!std::strcmp(w, "-g")) {
            s.mode |= MODE_VIEW;
            if (span == 2) name_file(s.plot_regions, argv[acnt + 1]);
        } else if (!std::strcmp(w, "-d")) {
            s.mode |= MODE_MAP;
            if (span == 3) {
                s.mode |= map_sign_bits(argv[acnt + 1]);
                s.map_bound = number_value(argc, argv, acnt + 2, std::string("-d ") + argv[acnt + 1]);
            }
        } else if (!std::strcmp(w, "--threads")) {
            s.threads = count_value(argc, argv, acnt + 1, 1, MAX_THREADS);
        } else if (!std::strcmp(w, "--plot")) {
            s.plot_file = option_value(argc, argv, acnt + 1, w);
        } else if (!std::strcmp(w, "--calib")) {
            name_file(s.calibration, option_value(argc, argv, acnt + 1, w));  // over the configuration's
        } else if (!std::strcmp(w, "--max-length")) {
            s.max_length = count_value(argc, argv, acnt + 1, 0, INT_MAX);
        } else if (!std::strcmp(w, "--gff3")) {
            name_file(s.gff3, option_value(argc, argv, acnt + 1, w));
        } else if (!std::strcmp(w, "--regions")) {
            name_file(s.regions_tsv, option_value(argc, argv, acnt + 1, w));
        } else if (!std::strcmp(w, "--pscore")) {
            s.region_pscore = pscore_value(argc, argv, acnt + 1);
            s.region_pscore_given = true;
        } else if (!std::strcmp(w, "--min-length")) {
            s.region_min_length = count_value(argc, argv, acnt + 1, 1, INT_MAX);
        } else if (!std::strcmp(w, "--summary")) {
            name_file(s.summary, option_value(argc, argv, acnt + 1, w));
        } else if (!std::strcmp(w, "--html")) {
            name_file(s.html, option_value(argc, argv, acnt + 1, w));
        } else if (!std::strcmp(w, "--html-max")) {
            s.html_max = count_value(argc, argv, acnt + 1, 0, INT_MAX);
        } else if (!std::strcmp(w, "--quiet")) {
            s.quiet = true;
        } else if (!std::strcmp(w, "--no-table")) {
            s.no_table = true;
        } else {
            raise_numbered(ErrorCode::SWITCH, w);
        }
        acnt += span;
    }
    if (!(s.mode & (MODE_MAP_GIVEN | MODE_MAP_FLAGGED))) s.map_bound = s.report_pscore;
    // The region files list what the coil report lists unless --pscore says otherwise.
    if (!s.region_pscore_given && (s.mode & MODE_PRINT)) s.region_pscore = s.report_pscore;
    // Without a table a configured "out" is neither opened nor emptied, and no word names one.
    if (s.no_table) s.table = FileName{};

    // Distance values the configuration did not give, each a whole number.
    // Words are consumed up to functnum, but nothing is stored past the
    // seven entries of lib.
    int given = 0;
    if (s.distances_given != s.distance_count) {
        for (int i = s.distances_given; i < s.distance_count && acnt < argc; i++, given++) {
            int d;
            if (!whole_int(argv[acnt], &d)) bad_distance(s, argv[acnt]);
            acnt++;
            // A byte would wrap a larger number to a distance nobody asked for.
            if (d < -128 || d > 127) usage("distance " + std::string(argv[acnt - 1]) + " is outside 0 to 6");
            if (i < NREG) s.distances[i] = int8_t(d);
        }
    }
    s.distances_given += given;  // from here on: the distances given in all

    if (!s.background_counts.given && acnt < argc) name_file(s.background_counts, argv[acnt++]);
    if (!s.coil_counts.given && acnt < argc) name_file(s.coil_counts, argv[acnt++]);
    if (!s.sequences.given && acnt < argc) name_file(s.sequences, argv[acnt++]);
    if (!s.no_table && !s.table.given && acnt < argc) name_output(s.table, argv[acnt++]);
    if (!s.coil_log.given && acnt < argc) name_output(s.coil_log, argv[acnt++]);  // else stderr
    if (acnt < argc) name_output(s.sequence_log, argv[acnt++]);                   // else stderr
    if (acnt < argc) {
        if (is_option_word(argv[acnt])) option_after_files(argv[acnt]);
        usage(quoted(argv[acnt]) + " is left over after the last file, the per-sequence log " + s.sequence_log.name);
    }
    expand_names(s);
    check_settings(s, 0);
}

void check_settings(const RunSettings &s, int words_left)
{
    if (!s.background_counts.given || !s.coil_counts.given || !s.sequences.given || (!s.table.given && !s.no_table))
        usage(missing_files(s));
    if (words_left > 0) usage("words are left over after the files");
    // A run that would write nothing but time stamps is a mistake, most likely a missing --regions.
    if (s.no_table && !s.gff3.given && !s.regions_tsv.given && !s.summary.given && !s.html.given &&
        !(s.mode & (MODE_PRINT | MODE_VERBOSE | MODE_VIEW)))
        usage("--no-table leaves nothing to write; add --gff3, --regions, --summary, --html, -p, -v or -g");
    // The scorers index the tables by these distances: refuse what lies outside them.
    if (s.distance_count < 1 || s.distance_count > NREG) usage("functnum must be 1 to 7");
    if (s.distances_given < s.distance_count)
        usage("functnum is " + std::to_string(s.distance_count) + " but only " + std::to_string(s.distances_given) +
              " distances were given" + without_configuration(s));
    for (int i = 0; i < s.distance_count; i++)
        if (s.distances[i] < 0 || s.distances[i] > 6)
            usage("distance " + std::to_string(s.distances[i]) + " is outside 0 to 6");
}

}  // namespace velcorin2::cli

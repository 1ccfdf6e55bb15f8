// velcorin2.h: coiled-coil prediction from pair correlations across heptad
// registers.  The core of the library: everything a program needs to score
// sequences held in memory and read the results.
//
// Contents:
//   1. Limits and constants
//   2. Sequence: one protein record
//   3. Count tables and probability tables
//   4. P-score tables and calibrations
//   5. Model: everything scoring reads, immutable once built
//   6. Prediction: the result of scoring one sequence
//   7. Regions of a prediction
//   8. Error: the one exception type of the library
//
// A typical caller:
//
//   velcorin2::ModelRecipe recipe;  // count files, distances, calibration
//   recipe.background_counts = "data/genfreq.dat"; ...
//   auto model = velcorin2::load_model(recipe);
//   velcorin2::Sequence seq = velcorin2::sequence_from_letters("gcn4", "", "MKQLEDKVEELLSKNYHLENEVARLKKLVGER");
//   velcorin2::Workspace ws;
//   velcorin2::Prediction p;
//   velcorin2::predict(*model, seq, {}, ws, p);
//   std::vector<velcorin2::Region> regions;
//   velcorin2::find_regions(*model, p, 0.05, 1, regions);
//
// A Model is shared read-only by any number of threads; each thread brings
// its own Workspace and Prediction.  Nothing here keeps global state or does
// I/O; the readers and writers are in io.h and report.h.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velcorin2 {

// ---- 1. Limits and constants -------------------------------------------------
inline constexpr int DEFAULT_MAX_LENGTH = 20000;  // residues scored of a record unless told otherwise
inline constexpr int NAMELEN = 1024;              // title and code buffers, NUL included
inline constexpr int NAA = 20;                    // amino acids that index the tables
inline constexpr int NREG = 7;                    // heptad registers a..g, distance classes 0..6
inline constexpr int PROLINE = 19;                // residue number of proline
inline constexpr int8_t NOREG = '.';              // register entry of a residue outside any known coil
inline constexpr double LOGZERO = -2800.0;        // stands for log(0) in every table
inline constexpr int32_t PAIR_WINDOW = 30;        // residues summed by a window of the pair scoring
inline constexpr int32_t STOCK_WINDOW = 28;       // residues summed by a window of the stock scoring
inline constexpr double NOT_SCORED = -HUGE_VAL;   // the score of a residue no window covers

// Residue numbers are indexes into RESIDUE_LETTERS: 0..19 are the amino
// acids (19 is proline) and index every table; 20 and above are gaps and
// unknown residues, never scored.  Register numbers 0..6 stand for a..g.
inline constexpr char RESIDUE_LETTERS[] = "LIVMFYGAKRHEDQNSTCWP-X";
inline constexpr char REGISTER_LETTERS[] = "abcdefg";

// residue_number: the number of a letter (either case), -1 when it has none.
int8_t residue_number(char letter);
// residue_letter: the letter of a residue number, NUL outside 0..21.
char residue_letter(int8_t number);
// register_letter: 'a'..'g' for 0..6, NUL otherwise.
char register_letter(int8_t number);

// The shortest scored sequence and segment is 28 residues, or 21 (-win 21).
// Each has its own p-score tables; slot_of_shortest() gives their index in
// every pair of tables (a calibration holds both).
inline constexpr int32_t SHORTEST_SEGMENTS[2] = {28, 21};
inline constexpr int slot_of_shortest(int32_t shortest_segment) { return shortest_segment == 21 ? 1 : 0; }

// ---- 2. Sequence ------------------------------------------------------------------
// One input record.  The readers grow `residues` and `registers` as a record
// needs and keep their capacity for the next record.
struct Sequence {
    int32_t length = 0;             // residues in `residues`
    std::vector<int8_t> residues;   // residue numbers (at least `length` entries)
    std::vector<int8_t> registers;  // known registers 0..6, or NOREG; register files only
    char title[NAMELEN] = {};       // description, NUL-terminated
    char code[NAMELEN] = {};        // identifier (first word of the header), NUL-terminated
    std::string warnings;           // what the reader had to say about this record, for stderr
    bool truncated = false;         // the record held more residues than the reader kept
    int64_t full_length = 0;        // residues the record held, those past the length limit included
};

// sequence_from_letters: a record from residue letters as a FASTA reader
// takes them (X, B, U, Z, O, J are unknown residues; blanks, digits-free
// punctuation "(),./=" and line ends are skipped).  An unreadable character
// throws Error (ErrorCode::PARSE) naming the code and the position from 1.
Sequence sequence_from_letters(std::string_view code, std::string_view title, std::string_view letters);

// ---- 3. Count tables and probability tables --------------------------------------
// Background counts (the GenFreq file): residues and residue pairs by
// distance class (class d pairs residues d + 1 apart).
struct BackgroundCounts {
    int32_t totals;                 // residues counted
    int32_t freqs[NAA];             // per residue
    int32_t totalp[NREG];           // pairs per distance class
    int32_t freqp[NAA][NAA][NREG];  // first, second residue, distance class
};

// Coil counts (the PosFreq file): residues by register and residue pairs by
// register pair, from coiled coils with known registers.
struct CoilCounts {
    int32_t totals[NREG];                 // residues per register
    int32_t freqs[NAA][NREG];             // residue, register
    int32_t totalp[NREG][NREG];           // pairs per register pair
    int32_t freqp[NAA][NAA][NREG][NREG];  // first, second residue, their registers
};

// The natural-log probabilities the pair scoring reads (LOGZERO for log 0).
struct ProbTables {
    double bg_residue[NAA];                  // residue, background
    double bg_pair[NAA][NAA][NREG];          // pair by distance class, background
    double coil_residue[NAA][NREG];          // residue by register, coils
    double coil_pair[NAA][NAA][NREG][NREG];  // pair by register pair, coils
};

// ---- 4. P-score tables and calibrations --------------------------------------------
inline constexpr int RESIDUE_ROWS = 7001;             // residue table: scores -40.00 .. 30.00 by 0.01
inline constexpr int32_t RESIDUE_LOOKUP_ROWS = 7000;  // rows the residue lookups consult
inline constexpr int SEQUENCE_ROWS = 813;             // sequence table: scores -63.9 .. 17.3 by 0.1

// The two conversions of a model, for its shortest segment.  The residue
// table maps a residue's best score to the probability that a background
// residue scores at least as high (low is coil-like); the sequence table
// maps a sequence score to a value that rises with it.
struct PscoreTables {
    double residue[RESIDUE_ROWS][2];    // {score, cumulative probability}
    double sequence[SEQUENCE_ROWS][2];  // {score, p-score}
    // "%8.5f" of the p-score of each possible lookup result k (k rows qualified).
    char pstr[RESIDUE_ROWS][16];
    int pstr_len[RESIDUE_ROWS];
};

// A calibration: both pairs of tables fitted to the scores a model gives a
// background, and what identifies that model.  Index with slot_of_shortest().
inline constexpr int64_t CAL_UNIT = 1000000000000;  // probabilities in units of 1e-12
struct CalResidueTable {
    int64_t scores = 0;                     // finite best residue scores fitted
    double lower = 0.0, lower_scale = 0.0;  // exponential lower tail below `lower`
    double upper = 0.0, upper_scale = 0.0;  // exponential upper tail above `upper`
    int64_t q[RESIDUE_ROWS] = {};           // P(score < row's score) in CAL_UNITs, strictly rising
};
struct CalSequenceTable {
    int32_t scored = 0;             // sequences with a score
    int32_t c[SEQUENCE_ROWS] = {};  // of them scoring below the row's score
};
struct Calibration {
    int32_t distance_count = 0;  // distance classes of the model
    int8_t distances[NREG] = {};
    bool prolines_end_segments = true;
    uint64_t model = 0;                // model_fingerprint() of the count files
    std::string source;                // the background's file names
    int64_t chains = 0, residues = 0;  // records read and their residues
    CalResidueTable residue[2];
    CalSequenceTable sequence[2];
};

// builtin_pscores: the built-in tables for a shortest segment of 28 or 21
// (a normal law for residues; counts of 6242 and 6331 sequences).
const PscoreTables &builtin_pscores(int32_t shortest_segment);
// calibrated_pscores: the tables of `c` for the shortest segment.
void calibrated_pscores(const Calibration &c, int32_t shortest_segment, PscoreTables &t);

// residue_pscore: 1 minus the probability of the last consulted row whose
// score is not above `score`; 1.0 when none is (below -40.00, NOT_SCORED);
// NaN takes the last consulted row.
double residue_pscore(const PscoreTables &t, double score);
// score_for_pscore: the score of the last consulted row whose probability
// is not above 1 - `pscore`; 40.0 (above every row) when none is.  A residue
// whose score is above it is in the coil report at that threshold.
double score_for_pscore(const PscoreTables &t, double pscore);
// sequence_pscore: the p-score (rising with the score) of the first row
// whose score is strictly above `score`; 1.0 when there is none.
double sequence_pscore(const PscoreTables &t, double score);

// ---- 5. Model ---------------------------------------------------------------------
// How to build a model: the two count files, the distance classes, the
// proline rule, the shortest segment and an optional calibration.
struct ModelRecipe {
    std::string background_counts;  // GenFreq file
    std::string coil_counts;        // PosFreq file
    std::vector<int> distances = {1, 2, 3};
    bool prolines_end_segments = true;  // a proline ends a scoring segment
    int32_t shortest_segment = 28;      // 28 or 21
    std::string calibration;            // empty: the built-in p-score tables
};

// Everything the scorers and the p-score lookups read.
struct Model {
    int32_t distance_count = 0;
    int8_t distances[NREG] = {};
    int32_t farthest = 0;  // largest distance class in use, at least 0
    bool prolines_end_segments = true;
    int32_t shortest_segment = 28;
    ProbTables probs;
    // Pair terms of the distance classes in use, for the left residue in
    // register k mod 7 (k to 15, so eight lanes read from any register on):
    // terms[((f * NAA + a) * NAA + b) * 16 + k], divided by distance_count
    // in `terms`, undivided in `raw_terms`.
    std::vector<double> terms, raw_terms;
    PscoreTables pscores;
    uint64_t fingerprint = 0;  // model_fingerprint() of the counts
};

// load_model: reads the count files (and the calibration) named by `recipe`
// and builds the model.  Throws Error for a file that cannot be read, a
// damaged file, distances outside 0..6 or more than 7 of them, a shortest
// segment other than 28 or 21, or a calibration made for another model.
std::unique_ptr<Model> load_model(const ModelRecipe &recipe);

// build_model: the model of counts already in memory.  `calibration` null:
// the built-in p-score tables; otherwise it must fit (check_calibration),
// or Error is thrown naming `calibration_name`.
void build_model(Model &m, const BackgroundCounts &bg, const CoilCounts &coil, const int8_t *distances,
                 int32_t distance_count, bool prolines_end_segments, int32_t shortest_segment,
                 const Calibration *calibration, const std::string &calibration_name = "");

// rebuild_coil_tables: the coil tables and pair terms of `m` from `coil`
// (leave-one-out scores each record with its own counts taken out).
void rebuild_coil_tables(Model &m, const CoilCounts &coil);

// model_fingerprint: 64-bit FNV-1a over the big-endian bytes of every count
// of both tables, in file order.
uint64_t model_fingerprint(const BackgroundCounts &bg, const CoilCounts &coil);

// check_calibration: Error (status 2) naming `name` and both sides unless
// `c` was made for these distance classes (in any order), proline rule and
// count files (`fingerprint`).
void check_calibration(const Calibration &c, const int8_t *distances, int32_t distance_count,
                       bool prolines_end_segments, uint64_t fingerprint, const std::string &name);

// ---- 6. Prediction ------------------------------------------------------------------
// One thread's working memory for scoring, grown to the longest record.
struct Workspace {
    int32_t capacity = 0;
    // Rows of 8 lanes (7 register offsets, a pad) per residue: the
    // propensities (then the maxima over the windows), the window sums, the
    // suffix maxima; and one window's prefix maxima.
    std::unique_ptr<double[][8]> prop, win, prev, block;
    std::vector<int8_t> stock_offset;  // register offsets of the stock scores
    void reserve(int32_t n);
};

struct PredictOptions {
    bool known_registers = false;  // the sequence score is taken over its known-register stretches
    bool stock = false;            // also the single-residue stock scores
};

// The result of scoring one sequence.  Residue i has its best window score
// score[i] in register offset offset[i]: it sits in register
// (i + offset[i]) mod 7.  Vectors keep their capacity between records and
// may be longer than `length`.
struct Prediction {
    int32_t length = 0;
    bool scored = false;                 // long enough to score (length >= shortest segment)
    std::vector<double> score;           // best score per residue, NOT_SCORED where no window covers it
    std::vector<int8_t> offset;          // register offset of that score (0 where not scored)
    double sequence_score = NOT_SCORED;  // best residue score (over the known stretches when asked)
    double best_score = NOT_SCORED;      // best residue score over the whole sequence
    std::vector<double> stock_score;     // best stock score per residue, when asked
};

// register_of: the register number (0..6) of residue i.
inline int register_of(const Prediction &p, int32_t i) { return (i + p.offset[size_t(i)]) % NREG; }

// predict: scores `seq` with `m`.  A sequence shorter than the model's
// shortest segment is not scored (p.scored false, nothing else written).
// Otherwise every residue gets its best window score and register offset
// (the lowest offset on ties), and the sequence its best residue score.
// Pure: no I/O, no global state.
void predict(const Model &m, const Sequence &seq, const PredictOptions &opt, Workspace &w, Prediction &p);

// next_known_stretch: the next maximal run [*st, *en), from *en on, of amino
// acids with a known register (set *en to 0 first).  False when none is left.
bool next_known_stretch(int32_t *st, int32_t *en, const Sequence &seq);

// residue_pscores: the p-score of every residue (1.0 where not scored).
void residue_pscores(const Model &m, const Prediction &p, std::vector<double> &out);

// ---- 7. Regions ------------------------------------------------------------------------
// A region at a p-score threshold is a maximal run of residues whose
// p-score, residue_pscore(m.pscores, score), the value the per-residue table
// prints, is below the threshold; across register changes, which split it
// into register segments where the register offset changes.  Every residue
// of a region is below the threshold, so its lowest p-score is too.  The
// coil report of -p keeps its own rule (a score above score_for_pscore):
// its entries can take in residues up to one grid row (0.01) lower, whose
// p-score is at or above the threshold.
struct Region {
    int32_t from = 0, to = 0;  // 0-based, inclusive
    double best = 0.0;         // highest score in the region
};

// find_regions: the regions of `p` at the threshold `pscore` that are at
// least `min_length` long, in sequence order, into `out` (cleared first,
// capacity kept).  Nothing for a prediction that was not scored; a NaN
// score, which no model gives, belongs to no region.  Every face (the
// command line's region files and summaries) calls this one definition.
void find_regions(const Model &m, const Prediction &p, double pscore, int32_t min_length, std::vector<Region> &out);

// ---- 8. Error ------------------------------------------------------------------------------
// Numbered errors print "ERROR: <text of the code> <detail>"; the others
// print their own text.
enum class ErrorCode : int {
    NONE = 0,
    USAGE = 1,     // a command-line mistake (the usage text)
    SWITCH = 2,    // "Unrecognized switch:"
    OPEN = 3,      // "Error while opening file"
    WRITE = 4,     // "Error while writing in"
    READ = 5,      // "Error while reading from" (also a damaged file)
    MAGIC = 6,     // "Bad Magic Number of"
    MEMORY = 7,    // "Not Enough Memory"
    PARSE = 8,     // an unreadable sequence character
    MISMATCH = 9,  // a calibration made for another model
};

inline constexpr int STATUS_ERROR = 2;    // a numbered error
inline constexpr int STATUS_USAGE = 255;  // usage text, unreadable sequence

// Error: a failure on its way up to whoever reports it: the text exactly as
// the command line prints it, where it goes and the exit status.
struct Error : std::exception {
    std::string text;  // exactly as printed (it may hold any byte of the input, NUL included)
    ErrorCode code;
    bool to_stderr;
    int status;
    int sys_errno;  // the system's reason where there is one, else 0
    Error(std::string t, ErrorCode c, bool err, int st, int e = 0)
        : text(std::move(t)), code(c), to_stderr(err), status(st), sys_errno(e)
    {
    }
    const char *what() const noexcept override { return text.c_str(); }
};

// numbered_error: the Error of a numbered failure: "ERROR: <text of the code>
// <detail>\n" for standard output, status 2.
Error numbered_error(ErrorCode code, const std::string &detail, int sys_errno = 0);

// version: the library's version, the same as every face reports.
const char *version();

}  // namespace velcorin2

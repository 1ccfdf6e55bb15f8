// velcorin2.h: declarations shared by every module of velcorin2.
//
// Contents:
//   1. Capacities, window widths and the log-of-zero stand-in
//   2. The Sequence record
//   3. Residue and register alphabets
//   4. The mode bits of a run
//   5. Count tables, probability tables and the calibration
//   6. RunSettings: everything a run varies by, filled once and then read-only
//
// Residues travel through the program as small numbers: the index of the
// letter in aaname.  0..19 are the amino acids (19 is proline) and index
// every table; 20 and above are gaps and ambiguity codes, never scored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ---- 1. Capacities ---------------------------------------------------------
inline constexpr int MAXSEQ = 20000;  // default longest sequence (--max-length)
inline constexpr int NAMELEN = 1024;  // title and code buffers, NUL included
inline constexpr int NAA = 20;        // amino acids that index the tables
inline constexpr int NREG = 7;        // heptad registers a..g, distance classes 0..6
inline constexpr int PROLINE = 19;
inline constexpr int8_t NOREG = '.';         // register entry of a residue outside any coil
inline constexpr double LOGZERO = -2800.0;   // stands for log(0) everywhere
inline constexpr int32_t PAIR_WINDOW = 30;   // window of the pair scoring
inline constexpr int32_t STOCK_WINDOW = 28;  // window of the stock scoring

// ---- 2. The Sequence record -------------------------------------------------
// One input record.  The readers grow seq and reg as a record needs (never
// past the run's length limit) and keep their capacity for the next record,
// so a run holds buffers of its longest record, not of its input.
struct Sequence {
    int32_t seqlen = 0;        // residues in seq
    std::vector<int8_t> seq;   // residue numbers (at least seqlen entries)
    std::vector<int8_t> reg;   // known registers 0..6, or NOREG; register files only
    char title[NAMELEN] = {};  // description, NUL-terminated
    char code[NAMELEN] = {};   // identifier (first word of the header), NUL-terminated
    std::string warnings;      // what the reader had to say about this record, for stderr
};

// ---- 3. Alphabets (writable, NUL-terminated; defined in scio) ---------------
extern char aaname[];   // "LIVMFYGAKRHEDQNSTCWP-X"
extern char posname[];  // "abcdefg"

// ---- 4. Mode bits -------------------------------------------------------------
// The option bit set a run is configured with; scorers and outputs test single bits.
enum ModeBit : int {
    MODE_VERBOSE = 0x1,        // -v, key "ver": score line per sequence on flog
    MODE_PRINT = 0x2,          // -p, key "prn": coil report on flog and flog_seq
    MODE_LEAVEOUT = 0x4,       // -1: register files, each left out of the counts
    MODE_POS = 0x8,            // -pos, key "pos": sequences are register files
    MODE_VIEW = 0x10,          // -g, key "view": stock scoring and PostScript plot
    MODE_MAP = 0x20,           // -d: residue and register map in the coil log
    MODE_MAP_GIVEN = 0x40,     // -d + / -d +-: residues without a given register are no coil
    MODE_MAP_FLAGGED = 0x80,   // -d - / -d +-: map only sequences with a flagged residue
    MODE_PROLINEFREE = 0x100,  // on by default, -P flips: proline ends a segment
    MODE_W = 0x200,            // -w: accepted, read by nobody
};

// ---- 5. Count tables and probability tables --------------------------------
// GenFreq counts: residues and residue pairs by distance class, background.
struct GenFreq {
    int32_t totals;                 // residues counted
    int32_t freqs[NAA];             // per residue
    int32_t totalp[NREG];           // pairs per distance class
    int32_t freqp[NAA][NAA][NREG];  // first, second residue, distance class
};

// PosFreq counts: residues by register, residue pairs by register pair, coils.
struct PosFreq {
    int32_t totals[NREG];                 // residues per register
    int32_t freqs[NAA][NREG];             // residue, register
    int32_t totalp[NREG][NREG];           // pairs per register pair
    int32_t freqp[NAA][NAA][NREG][NREG];  // first, second residue, their registers
};

// The four natural-log probability tables the scoring reads (LOGZERO for log 0).
struct ProbTables {
    double gprobs[NAA];                   // residue, background
    double gprobp[NAA][NAA][NREG];        // pair by distance class, background
    double pprobs[NAA][NREG];             // residue by register, coils
    double pprobp[NAA][NAA][NREG][NREG];  // pair by register pair, coils
};

// A calibration: the p-score tables fitted to the scores a model gives a
// background, and what identifies that model (written by velcorin2-counts
// calibrate, read with the calib key).  Index [0] is window length 28, [1] 21.
inline constexpr int CAL_RESIDUE_ROWS = 7001;       // scores -40.00 .. 30.00 by 0.01
inline constexpr int CAL_SEQUENCE_ROWS = 813;       // scores -63.9 .. 17.3 by 0.1
inline constexpr int64_t CAL_UNIT = 1000000000000;  // probabilities in units of 1e-12
struct CalResidueTable {
    int64_t scores = 0;                     // finite best residue scores fitted
    double lower = 0.0, lower_scale = 0.0;  // exponential lower tail below `lower`
    double upper = 0.0, upper_scale = 0.0;  // exponential upper tail above `upper`
    int64_t q[CAL_RESIDUE_ROWS] = {};       // P(score < row's score) in CAL_UNITs, strictly rising
};
struct CalSequenceTable {
    int32_t scored = 0;                 // sequences with a score
    int32_t c[CAL_SEQUENCE_ROWS] = {};  // of them scoring below the row's score
};
struct Calibration {
    int32_t functnum = 0;  // distance classes of the model
    int8_t lib[NREG] = {};
    bool prolinefree = true;           // prolines end scoring segments
    uint64_t model = 0;                // model_fingerprint of the count files
    std::string source;                // the background's file names
    int64_t chains = 0, residues = 0;  // records read and their residues
    CalResidueTable residue[2];
    CalSequenceTable sequence[2];
};

// ---- 6. Run settings ----------------------------------------------------------
// A file the run names, from the configuration file or the command line.
struct FileName {
    bool given = false;
    std::string name;
    std::string from;  // "configuration" or "command line", for messages
};

// Filled by default_settings(), then the configuration file, then the
// command line; check_settings() refuses what cannot run.  From then on it
// is passed read-only to whatever needs it.
struct RunSettings {
    int mode = 0;                 // ModeBit set
    double bound = 0.0;           // -p: p-score threshold of the coil report
    double upper_bound = 0.0;     // -d sign U: second bound of the map
    int8_t lib[NREG] = {};        // distance classes; the first functnum are used
    int32_t libnum = 0;           // entries of lib the configuration filled
    int32_t functnum = 3;         // distance classes in use
    int32_t window_length = 28;   // 21 or 28: shortest scored sequence and segment
    int32_t max_length = MAXSEQ;  // residues kept of a record; 0: no limit
    int threads = 1;              // records scored at once
    // Files: count files, sequences, table, coil log, per-sequence log, regions.
    FileName genbnk, cctb, test, out, log, log_seq, regionfile;
    // Coiled-coil region files (--gff3, --regions) and what they list.
    FileName gff3, region_tsv;
    double region_bound = 0.05;       // --pscore, else -p / prn when given: p-score threshold of the regions
    bool region_bound_given = false;  // --pscore was given: -p leaves region_bound alone
    int32_t min_length = 1;           // --min-length: shortest region listed
    bool no_table = false;            // --no-table: no per-residue table, no output word
    FileName calib;                   // p-score calibration (key calib, --calib); built-in tables without
    std::string plot = "/tmp/tr.ps";  // the PostScript comparison plot (--plot)
    // What reading the configuration had to say ("Couldn't find config file",
    // an empty line per "lib" line): printed on standard output, or on
    // standard error when standard output is one of the run's outputs.
    std::string notes;
};

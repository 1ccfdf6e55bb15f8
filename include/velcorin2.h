// velcorin2.h: declarations shared by every module of velcorin2.
//
// Contents:
//   1. Capacities and the log-of-zero stand-in
//   2. The Sequence record
//   3. Residue and register alphabets
//   4. The mode bits of a run
//   5. Process-wide settings and probability tables
//
// Residues travel through the program as small numbers: the index of the
// letter in aaname.  0..19 are the amino acids (19 is proline) and index
// every table; 20 and above are gaps and ambiguity codes, never scored.
#pragma once

#include <cstdint>

// ---- 1. Capacities ---------------------------------------------------------
inline constexpr int MAXSEQ = 20000;   // longest sequence handled
inline constexpr int NAMELEN = 1024;   // title and code buffers, NUL included
inline constexpr int NAA = 20;         // amino acids that index the tables
inline constexpr int NREG = 7;         // heptad registers a..g, distance classes 0..6
inline constexpr int PROLINE = 19;
inline constexpr int8_t NOREG = '.';   // register entry of a residue outside any coil
inline constexpr double LOGZERO = -2800.0;  // stands for log(0) everywhere

// ---- 2. The Sequence record -------------------------------------------------
// One input record.  The record only points at buffers owned by the driver
// (MAXSEQ residues, NAMELEN characters of title and code).
struct Sequence {
    int32_t seqlen;   // residues in seq
    int8_t *seq;      // residue numbers
    int8_t *reg;      // known registers 0..6, or NOREG; register files only
    char *title;      // description, NUL-terminated
    char *code;       // identifier (first word of the header), NUL-terminated
};

// ---- 3. Alphabets (writable, NUL-terminated; defined in scio) ---------------
extern char aaname[];   // "LIVMFYGAKRHEDQNSTCWP-X"
extern char posname[];  // "abcdefg"

// ---- 4. Mode bits -------------------------------------------------------------
// The option bit set handed from main through calcseq to scorers and outputs.
enum ModeBit : int {
    MODE_VERBOSE = 0x1,     // -v, key "ver": score line per sequence on flog
    MODE_PRINT = 0x2,       // -p, key "prn": coil report on flog and flog_seq
    MODE_LEAVEOUT = 0x4,    // -1: register files, each left out of the counts
    MODE_POS = 0x8,         // -pos, key "pos": sequences are register files
    MODE_VIEW = 0x10,       // -g, key "view": stock scoring and PostScript plot
    MODE_MAP = 0x20,        // -d: residue and register map in the coil log
    MODE_MAP_GIVEN = 0x40,  // -d + / -d +-: residues without a given register are no coil
    MODE_MAP_FLAGGED = 0x80,// -d - / -d +-: map only sequences with a flagged residue
    MODE_PROLINEFREE = 0x100, // on by default, -P flips: proline ends a segment
    MODE_W = 0x200,         // -w: accepted, read by nobody
};

// ---- 5. Process-wide settings and tables (defined in scscore) ---------------
extern int32_t window_length;  // 21 or 28: shortest scored sequence/segment
extern int32_t WINDOW;         // window width of the scorings, 30 at start
extern int32_t functnum;       // distance classes in use (first entries of lib)
extern int32_t prog;           // 0x1 pair scoring, 0x2 stock scoring

extern double gprobs[NAA];                    // log P(residue), background
extern double gprobp[NAA][NAA][NREG];         // log P(pair | distance class)
extern double pprobs[NAA][NREG];              // log P(residue | register), coils
extern double pprobp[NAA][NAA][NREG][NREG];   // log P(pair | register pair), coils

// io.h: files of velcorin2: opening and closing streams, the readers of
// sequences, register files, count files, calibrations, plot regions and
// the configuration, and the writers of count files and calibrations.
//
// Contents:
//   1. Streams: open_input, open_output, names_standard_output, close_stream,
//      close_stream_quietly, check_read_error, stream_name, stream_file,
//      file_identity, guard_standard_streams, standard_stream_closed, expand_home
//   2. Files that take their name only when complete: ScratchFile
//   3. Sequences: read_fasta_record, read_register_record
//   4. Count files: read/write_background_counts, read/write_coil_counts
//   5. Calibration files: read_calibration, write_calibration
//   6. Plot regions: read_plot_region
//   7. Run settings and the configuration file: settings.h
//
// Every failure throws velcorin2::Error with the message the command line
// prints; nothing here ends the process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "velcorin2/velcorin2.h"

namespace velcorin2 {

// ---- 1. Streams --------------------------------------------------------------------
// FileId: device and inode of an existing regular file, or those of the
// directory a new file would be made in and its name there.
struct FileId {
    dev_t dev;
    ino_t ino;
    std::string name;
    bool operator==(const FileId &) const = default;
};

// open_input: "-" is standard input; "~/path", "~" and "~user/path" name
// home directories; a name ending in ".Z" or ".gz", and any input whose
// first bytes are gzip or compress data (also one that can be read only
// once: a pipe, a FIFO), is read through zcat (started without a shell);
// a missing plain file falls back to its ".Z", then ".gz" form.  Every
// failure throws ErrorCode::OPEN (READ for a directory or a ".Z"/".gz" file
// that holds no compressed data), with the system's reason; "-" when
// standard input was closed at start is refused.
FILE *open_input(const char *name);

// What open_output found at a name, before anything was emptied or written.
struct OutputTarget {
    bool standard = false;  // standard output (names_standard_output)
    bool regular = false;   // a regular file; then `id` is set
    FileId id{};
    std::string head;  // the first bytes (at most 63) of an existing regular file
};
// OutputCheck: throws to refuse an output; nothing has been changed then.
using OutputCheck = std::function<void(const OutputTarget &)>;

// open_output: a name of standard output (names_standard_output) is
// standard output itself, never reopened or emptied, and refused when
// descriptor 1 was closed at start; "|command" writes into a shell command
// (not checked); "~" forms as for inputs; anything else is opened (created
// with permissions 0600 when new), shown to `check`, and only then emptied
// when it is a regular file.  Failures throw ErrorCode::OPEN.
FILE *open_output(const char *name, const OutputCheck &check = nullptr);

// names_standard_output: "-", "/dev/stdout", "/proc/self/fd/1" or "/dev/fd/1".
bool names_standard_output(const char *name);

// close_stream: closes a stream from open_input/open_output (pipes waited
// for; standard streams flushed, not closed).  An output with a write error,
// a failed close, or a command that exited non-zero or was killed (but for
// SIGPIPE) throws ErrorCode::WRITE with its name; an input with a read error,
// or a compressed input read to its end whose zcat failed, ErrorCode::READ.
// A null stream is ignored.
void close_stream(FILE *fl);

// close_stream_quietly: closes on a path that is already failing: nothing
// checked or reported; a zcat behind it is stopped and waited for.
void close_stream_quietly(FILE *fl);

// check_read_error: ErrorCode::READ with the stream's name if reading it failed.
void check_read_error(FILE *fl);

// stream_name: the name a stream was opened under ("" if none).
const char *stream_name(FILE *fl);

// stream_file: the regular file an input from open_input reads (the
// compressed file behind its zcat, the file standard input is); false when
// it reads no regular file.
bool stream_file(FILE *fl, FileId *id);

// file_identity: the FileId of a name as open_input reads it or open_output
// writes it ("~" expanded, a dangling symlink as the file it would make);
// false for standard output names, "|command" and anything but a regular file.
bool file_identity(const char *name, FileId *id);

// guard_standard_streams: opens /dev/null on any of descriptors 0, 1 and 2
// that is closed, so that no file a program opens takes their place (a
// table on descriptor 2 would receive the time stamps), and remembers it.
void guard_standard_streams();

// standard_stream_closed: whether descriptor fd (0..2) was closed when
// guard_standard_streams ran.
bool standard_stream_closed(int fd);

// expand_home: `name` with a leading "~" form replaced by the home
// directory (unchanged when it has none, or HOME is unset for "~/").
std::string expand_home(const char *name);

// ---- 2. ScratchFile ----------------------------------------------------------------------
// A file written beside its name and renamed over it only when complete, so
// that a failed run leaves the old file, and nothing that stands at the name
// (a FIFO, a device, another user's file, a hard link) is ever written into.
struct ScratchFile {
    std::string target;  // the name the file takes when complete
    std::string path;    // the scratch file; empty once committed or discarded
    FILE *fp = nullptr;
};

enum class ScratchMode {
    PRIVATE,  // 0600; a symlink or anything but a regular file at the target is refused,
              // and so is another user's file in a sticky directory
    SHARED,   // the permissions the umask allows; anything but a regular file is refused
};

// open_scratch: a new file (created exclusively) beside `target`, registered
// so that SIGINT, SIGTERM, SIGHUP and SIGPIPE remove it (remove_scratch_files_on_signals).
// False, with the reason in *why and nothing created, when it is refused or
// cannot be made.
bool open_scratch(const std::string &target, ScratchMode mode, ScratchFile &f, std::string *why);

enum class Commit { DONE, WRITE_FAILED, NAME_EXISTS, RENAME_FAILED };
// commit_scratch: closes the file (checked; synced first when `sync`) and
// gives it the target's name; with `replace` false an existing name is
// refused atomically (link()).  On any failure the scratch file is removed
// and *why holds the system's reason.
Commit commit_scratch(ScratchFile &f, bool replace, bool sync, std::string *why);

// discard_scratch: closes and removes the scratch file; nothing reported.
void discard_scratch(ScratchFile &f);

// remove_scratch_files_on_signals: from now on SIGINT, SIGTERM, SIGHUP and
// SIGPIPE (unless ignored) remove every open scratch file before the process ends
// as the signal says.
void remove_scratch_files_on_signals();

// ---- 3. Sequences ---------------------------------------------------------------------------
// read_fasta_record: the next FASTA record into `seq` (length, residues,
// code, title, warnings, truncated; registers untouched).  Returns false
// when no further header line exists.  Header lines of any length are read
// whole (code and title keep NAMELEN-1 characters).  A record longer than
// max_length (0: no limit) keeps its first max_length residues with a
// warning; the rest is skipped unchecked.  `line_number`, when given, is
// the number of the line the stream stands at (1 for a stream read from its
// start) and is moved on past the lines read.  An unknown character throws
// "Unable to parse input '<c>', line <n>, column <m> of <stream name>,
// record <code>: <the line read so far>\n" for stdout, status 255 (without
// "line <n>, " when lines are not counted); seq.code and seq.length then
// name the record and the residues before the character.
bool read_fasta_record(FILE *fl, Sequence &seq, int32_t max_length, int64_t *line_number = nullptr);

// The results of read_register_record.
enum class RecordRead { END, RECORD, INCOMPLETE };

// read_register_record: the next register-file record: ">code" line, title
// line, residues up to "*" (every letter residue_number knows), registers
// up to "*" (a..g as 0..6, "." as NOREG; h..z as NOREG with a warning).
// Residues and registers past max_length are read but not stored.  Residues
// without a register entry get NOREG.  Differing entry counts, h..z, or a
// record cut short add "erroneous .pos file!\n" to the warnings once.
// INCOMPLETE when the input ends inside the code or title line or before
// the register part's "*" (the record is filled as far as it was read).
RecordRead read_register_record(FILE *fl, Sequence &seq, int32_t max_length);

// ---- 4. Count files ----------------------------------------------------------------------------
// A wrong header line is ErrorCode::MAGIC, a table cut short ErrorCode::READ
// ("<GenFreq> file" / "<PosFreq> file"); so is a negative count, a total
// that is not the sum of its counts, or anything after the last table.
void read_background_counts(FILE *fl, BackgroundCounts &bg);
void read_coil_counts(FILE *fl, CoilCounts &coil);
// The same layouts written; false on a write error.
bool write_background_counts(FILE *fl, const BackgroundCounts &bg);
bool write_coil_counts(FILE *fl, const CoilCounts &coil);
// The first bytes of each kind of file, for refusing to write over one.
bool is_count_file_header(const char *head);

// ---- 5. Calibration files -------------------------------------------------------------------------
inline constexpr char CALIBRATION_MAGIC[] = "velcorin2 calibration 1\n";

// read_calibration: reads and checks a whole calibration file.  A wrong
// first line is ErrorCode::MAGIC, anything else ErrorCode::READ, both naming
// `name` (and the line).
void read_calibration(FILE *fl, const std::string &name, Calibration &c);
// write_calibration: the file text of `c`; false on a write error.
bool write_calibration(FILE *fl, const Calibration &c);

// ---- 6. Plot regions ---------------------------------------------------------------------------------
// read_plot_region: the next record ">code first last" of `code`, searched
// forward from the current position (records before it are passed over for
// good).  True with *first and *last as written; false when the file ends
// first.  A record whose numbers do not both parse never matches.
bool read_plot_region(FILE *rf, const char *code, int32_t *first, int32_t *last);

}  // namespace velcorin2

// fasta: the FASTA reader.
//
// A record is a header line (">code title") and the sequence lines up to the
// next line that begins with ">".  Reading is byte by byte on the locked
// stream; a record is one call.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "errors.h"
#include "fasta_chars.h"
#include "readers.h"
#include "velcorin2/io.h"

namespace velcorin2 {

namespace {

// fgets() that also reports how many bytes it stored (NUL bytes included).
int read_piece(FILE *fl, char *buf, int cap)
{
    int n = 0;
    while (n < cap - 1) {
        int c = getc_unlocked(fl);
        if (c == EOF) break;
        buf[n++] = char(c);
        if (c == '\n') break;
    }
    buf[n] = '\0';
    return n;
}

// skip_line: the rest of the line; whether it ended with a newline.
bool skip_line(FILE *fl)
{
    int c;
    while ((c = getc_unlocked(fl)) != EOF && c != '\n') {}
    return c == '\n';
}

// The header after its ">", read to the end of its line whatever its length:
// the first word is the code, the rest after blanks the title.  Whether the
// line ended with a newline.
bool read_header(FILE *fl, Sequence &seq)
{
    int c;
    int n = 0;
    while ((c = getc_unlocked(fl)) != EOF && c != ' ' && c != '\t' && c != '\n')
        if (n < NAMELEN - 1) seq.code[n++] = char(c);
    // A carriage return before the line end is part of a CR-LF line end.
    if (c != ' ' && c != '\t' && n > 0 && seq.code[n - 1] == '\r') n--;
    seq.code[n] = '\0';
    if (c == EOF || c == '\n') return c == '\n';
    do c = getc_unlocked(fl);
    while (c == ' ' || c == '\t');
    n = 0;
    bool cut = false;
    for (; c != EOF && c != '\n'; c = getc_unlocked(fl)) {
        if (n < NAMELEN - 1)
            seq.title[n++] = char(c);
        else
            cut = c != '\r';
    }
    if (!cut && n > 0 && seq.title[n - 1] == '\r') n--;
    seq.title[n] = '\0';
    return c == '\n';
}

// parse_error: the message of an unreadable character: the character, where
// it stands (line and column from 1 when lines are counted, the stream's
// name, the record's code) and the piece of the line read so far.
[[noreturn]] void parse_error(FILE *fl, const Sequence &seq, char bad, const int64_t *line, int64_t column,
                              const char *piece)
{
    std::string msg = "Unable to parse input '";
    msg += bad;
    msg += "', ";
    if (line) msg += "line " + std::to_string(*line) + ", ";
    msg += "column " + std::to_string(column);
    const char *name = stream_name(fl);
    if (!std::strcmp(name, "-"))
        msg += " of standard input";
    else if (*name)
        msg = msg + " of " + name;
    msg += seq.code[0] ? std::string(", record ") + seq.code : std::string(", a record without a code");
    msg += ": ";
    msg += piece;  // up to its NUL, as "%s" prints it
    if (msg.back() != '\n') msg += '\n';
    raise_text(msg, false, STATUS_USAGE, ErrorCode::PARSE);
}

// StreamLock: holds the stream's lock for one record, so that the per-line
// ungetc below (which locks the stream itself) only counts up a lock this
// thread already holds.
struct StreamLock {
    FILE *fl;
    explicit StreamLock(FILE *f) : fl(f) { flockfile(fl); }
    ~StreamLock() { funlockfile(fl); }
    StreamLock(const StreamLock &) = delete;
    StreamLock &operator=(const StreamLock &) = delete;
};

}  // namespace

// warn_truncated: the reader's notice of a record cut to the length limit,
// with the way to score it whole.
void warn_truncated(Sequence &seq, int32_t max_length)
{
    char line[NAMELEN + 96];
    std::snprintf(line, sizeof line, "Sequence %s truncated to %d residues (--max-length 0 scores it whole)\n",
                  seq.code, max_length);
    seq.warnings += line;
    seq.truncated = true;
}

// refuse_long_record: a record longer than a length can count is an error,
// never a length that wraps around.
[[noreturn]] void refuse_long_record(FILE *fl, const Sequence &seq)
{
    raise_numberedf(ErrorCode::READ, "%s: record %s has more than %d residues (--max-length limits it)",
                    stream_name(fl), seq.code, INT32_MAX);
}

// grow_record: room for entry n of a record's array.
void grow_record(std::vector<int8_t> &v, int64_t n)
{
    if (size_t(n) >= v.size()) v.resize(std::max<size_t>(256, 2 * size_t(n)));
}

bool read_fasta_record(FILE *fl, Sequence &seq, int32_t max_length, int64_t *line_number)
{
    const StreamLock lock(fl);
    char line[1024];
    seq.title[0] = '\0';
    seq.warnings.clear();
    seq.truncated = false;
    int64_t lines_done = 0;  // newlines read by this call
    auto done = [&](bool r) {
        if (line_number) *line_number += lines_done;
        return r;
    };

    int c;
    while ((c = getc_unlocked(fl)) != '>') {
        if (c == EOF) return done(false);
        if (c == '\n' || skip_line(fl)) lines_done++;
    }
    lines_done += read_header(fl, seq);

    int32_t n = 0;
    int64_t past_limit = 0;  // residue letters after the limit, for the record's full length
    // Each pass is one line; a line is only ever begun here, so a ">" that
    // is not at the start of a line is never taken for a header.
    while ((c = getc_unlocked(fl)) != EOF) {
        ungetc(c, fl);
        if (c == '>') break;
        bool eol = false;
        int len;
        int64_t column = 0;  // of the piece's first byte, from 0
        for (; !eol && (len = read_piece(fl, line, sizeof line)) > 0; column += len) {
            eol = line[len - 1] == '\n';
            int i = 0;
            // The common piece: below every limit, room made once, no check
            // per letter; anything else (the end of the record, a bad
            // letter, a limit) goes on in the general loop below.
            const int64_t after = int64_t(n) + len;
            if ((max_length <= 0 || after <= max_length) && after < INT32_MAX) {
                if (size_t(after) >= seq.residues.size()) grow_record(seq.residues, after);
                int8_t *out = seq.residues.data();
                for (; i < len; i++) {
                    const int8_t k = fasta_class[(unsigned char)line[i]];
                    if (k >= 0)
                        out[n++] = k;
                    else if (k != CH_SKIP)
                        break;
                }
            }
            for (; i < len; i++) {
                int8_t k = fasta_class[(unsigned char)line[i]];
                if (max_length > 0 && n >= max_length) {  // past the limit nothing is checked
                    if (k >= 0) {
                        if (!seq.truncated) warn_truncated(seq, max_length);
                        past_limit++;
                    }
                    continue;
                }
                if (k >= 0) {
                    if (n == INT32_MAX) refuse_long_record(fl, seq);
                    if (size_t(n) >= seq.residues.size()) grow_record(seq.residues, n);
                    seq.residues[size_t(n++)] = k;
                } else if (k == CH_END) {
                    if (eol || skip_line(fl)) lines_done++;
                    seq.length = n;
                    seq.full_length = n;
                    return done(true);
                } else if (k == CH_BAD) {
                    seq.length = n;  // the residues before it: callers name the position from it
                    const int64_t at = line_number ? *line_number + lines_done : 0;
                    parse_error(fl, seq, line[i], line_number ? &at : nullptr, column + i + 1, line);
                }
            }
        }
        lines_done += eol;
    }
    seq.length = n;
    seq.full_length = n + past_limit;
    return done(true);
}

}  // namespace velcorin2

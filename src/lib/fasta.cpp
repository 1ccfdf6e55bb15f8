// fasta: the FASTA reader.
//
// A record is a header line (">code title") and the sequence lines up to the
// next line that begins with ">".  Reading is byte by byte on the locked
// stream; a record is one call.
#include <algorithm>
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

void skip_line(FILE *fl)
{
    int c;
    while ((c = getc_unlocked(fl)) != EOF && c != '\n') {}
}

// The header after its ">", read to the end of its line whatever its length:
// the first word is the code, the rest after blanks the title.
void read_header(FILE *fl, Sequence &seq)
{
    int c;
    int n = 0;
    while ((c = getc_unlocked(fl)) != EOF && c != ' ' && c != '\t' && c != '\n')
        if (n < NAMELEN - 1) seq.code[n++] = char(c);
    // A carriage return before the line end is part of a CR-LF line end.
    if (c != ' ' && c != '\t' && n > 0 && seq.code[n - 1] == '\r') n--;
    seq.code[n] = '\0';
    if (c == EOF || c == '\n') return;
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

// warn_truncated: the reader's notice of a record cut to the length limit.
void warn_truncated(Sequence &seq, int32_t max_length)
{
    char line[NAMELEN + 64];
    std::snprintf(line, sizeof line, "Sequence %s truncated to %d residues\n", seq.code, max_length);
    seq.warnings += line;
    seq.truncated = true;
}

// grow_record: room for entry n of a record's array.
void grow_record(std::vector<int8_t> &v, int64_t n)
{
    if (size_t(n) >= v.size()) v.resize(std::max<size_t>(4096, 2 * size_t(n)));
}

bool read_fasta_record(FILE *fl, Sequence &seq, int32_t max_length)
{
    const StreamLock lock(fl);
    char line[1024];
    seq.title[0] = '\0';
    seq.warnings.clear();
    seq.truncated = false;

    int c;
    while ((c = getc_unlocked(fl)) != '>') {
        if (c == EOF) return false;
        if (c != '\n') skip_line(fl);
    }
    read_header(fl, seq);

    int32_t n = 0;
    // Each pass is one line; a line is only ever begun here, so a ">" that
    // is not at the start of a line is never taken for a header.
    while ((c = getc_unlocked(fl)) != EOF) {
        ungetc(c, fl);
        if (c == '>') break;
        bool eol = false;
        int len;
        while (!eol && (len = read_piece(fl, line, sizeof line)) > 0) {
            eol = line[len - 1] == '\n';
            for (int i = 0; i < len; i++) {
                int8_t k = fasta_class[(unsigned char)line[i]];
                if (max_length > 0 && n >= max_length) {  // past the limit nothing is checked
                    if (k >= 0 && !seq.truncated) warn_truncated(seq, max_length);
                    continue;
                }
                if (k >= 0) {
                    if (size_t(n) >= seq.residues.size()) grow_record(seq.residues, n);
                    seq.residues[size_t(n++)] = k;
                } else if (k == CH_END) {
                    if (!eol) skip_line(fl);
                    seq.length = n;
                    return true;
                } else if (k == CH_BAD) {
                    seq.length = n;  // the residues before it: callers name the position from it
                    std::string msg = "Unable to parse input '";
                    msg += line[i];
                    msg += "', ";
                    msg += line;  // up to its NUL, as "%s" prints it
                    msg += ".\n";
                    raise_text(msg, false, STATUS_USAGE, ErrorCode::PARSE);
                }
            }
        }
    }
    seq.length = n;
    return true;
}

}  // namespace velcorin2

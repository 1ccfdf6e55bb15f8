// scio: streams, alphabets, the FASTA reader and the count files.
//
// Contents:
//   1. Stream bookkeeping    popened_files, zcat children, names of output streams
//   2. Opening               sopen, sopen_nofollow (home expansion, zcat, "|cmd")
//   3. Closing               sclose, check_output
//   4. Alphabets             aaname, posname, aanum, numaa, numpos
//   5. FASTA reader          getseq2, warn_truncated
//   6. Count files           readgenfreq, readposfreq, ntohla, writegenfreq, writeposfreq
//   7. Region file           read_region
#include "scio.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <bitset>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scsystem.h"

extern char **environ;

// Residue letters in residue-number order; aaname is a writable copy.
#define VC_AA_LETTERS "LIVMFYGAKRHEDQNSTCWP-X"
char aaname[] = VC_AA_LETTERS;
char posname[] = "abcdefg";

namespace {

// ---- 1. Stream bookkeeping ----------------------------------------------------
// Everything is indexed by descriptor; 1024 slots cover every stream the
// program holds.  A stream whose descriptor does not fit is refused when it
// is opened, so no pipe or output stream ever goes untracked.
constexpr int MAXFD = 1024;
constexpr const char *TOO_LONG = "file name too long for internal buffer";

std::bitset<MAXFD> popened_files;      // streams that are pipes
std::array<pid_t, MAXFD> zcat_child{};  // pid of the zcat behind a read pipe (0: a popen stream)
std::array<std::string, MAXFD> zcat_name;  // the name a zcat stream was opened under

// Output streams are checked at close under the name the caller gave; fp
// guards against a slot left over from a stream closed behind our back.
struct OutputSlot {
    FILE *fp = nullptr;
    std::string name;
};
std::array<OutputSlot, MAXFD> outputs;

// fatalf: fatal() with a printf-formatted message.
[[noreturn]] __attribute__((format(printf, 2, 3))) void fatalf(int code, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int len = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string msg(len > 0 ? size_t(len) : 0, '\0');
    va_start(ap, fmt);
    std::vsnprintf(msg.data(), msg.size() + 1, fmt, ap);
    va_end(ap);
    fatal(code, msg);
}

// wait_child: the child's wait status (0 when it cannot be had).
int wait_child(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 0;
    }
    return status;
}

// Records a freshly opened stream: `outname` non-null for a stream opened
// for writing, `pipe` for a pipe, `pid` for a zcat child.
void track(FILE *fp, const char *outname, bool pipe, pid_t pid, const char *errname)
{
    int fd = fileno(fp);
    if (fd < 0 || fd >= MAXFD) {
        if (pid > 0) {
            std::fclose(fp);
            wait_child(pid);
        } else if (pipe) {
            pclose(fp);
        } else {
            std::fclose(fp);
        }
        fatal(ERR_OPEN, errname);
    }
    popened_files.set(fd, pipe);
    zcat_child[fd] = pid;
    zcat_name[fd] = pid > 0 ? errname : "";
    outputs[fd].fp = outname ? fp : nullptr;
    outputs[fd].name = outname ? outname : "";
}

// ---- 2. Opening -----------------------------------------------------------------

// "~/path" and "~" take HOME (the name stays as it is when HOME is unset);
// "~user[/path]" takes the user's home directory.
const char *expand_home(const char *name)
{
    static char expanded[500];
    static char user[50];
    const char *home;
    const char *rest;
    if (name[1] == '/' || name[1] == '\0') {
        home = std::getenv("HOME");
        if (!home) return name;
        rest = name + 1;
    } else {
        const char *slash = std::strchr(name, '/');
        size_t ulen = slash ? size_t(slash - (name + 1)) : std::strlen(name + 1);
        if (ulen >= sizeof user) fatal(ERR_OPEN, TOO_LONG);
        std::memcpy(user, name + 1, ulen);
        user[ulen] = '\0';
        const passwd *pw = getpwnam(user);
        if (!pw || !pw->pw_dir) fatal(ERR_OPEN, name);
        home = pw->pw_dir;
        rest = slash ? slash : "";
    }
    size_t hlen = std::strlen(home), rlen = std::strlen(rest);
    if (hlen + rlen >= sizeof expanded) fatal(ERR_OPEN, TOO_LONG);
    std::memcpy(expanded, home, hlen);
    std::memcpy(expanded + hlen, rest, rlen + 1);
    return expanded;
}

bool ends_with(const char *s, const char *suffix)
{
    size_t n = std::strlen(s), k = std::strlen(suffix);
    return n >= k && std::strcmp(s + n - k, suffix) == 0;
}

// Starts zcat on `file` without a shell, so no character of a name has any
// meaning beyond the name itself; its stdout becomes the returned stream.
FILE *open_zcat(const char *file, const char *errname)
{
    // "zcat " + name + ".gz" fits: read-mode names are at most 240 characters.
    char arg[256];
    const char *prefix = file[0] == '-' ? "./" : "";  // not an option to zcat
    if (std::snprintf(arg, sizeof arg, "%s%s", prefix, file) >= int(sizeof arg))
        fatal(ERR_OPEN, TOO_LONG);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) fatal(ERR_OPEN, errname);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    char zcat[] = "zcat";
    char *argv[] = {zcat, arg, nullptr};
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, zcat, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        fatal(ERR_OPEN, errname);
    }
    FILE *fp = fdopen(fds[0], "r");
    if (!fp) {
        close(fds[0]);
        wait_child(pid);
        fatal(ERR_OPEN, errname);
    }
    track(fp, nullptr, true, pid, errname);
    return fp;
}

FILE *open_command(const char *given)
{
    // "e": the pipe is not inherited by later children (zcat, other commands).
    FILE *fp = popen(given + 1, "we");
    if (!fp) fatal(ERR_OPEN, given);
    track(fp, given, true, 0, given);
    return fp;
}

FILE *open_for_reading(const char *name)
{
    if (std::strlen(name) > 240) fatal(ERR_OPEN, TOO_LONG);
    if (ends_with(name, ".Z") || ends_with(name, ".gz")) return open_zcat(name, name);
    if (access(name, F_OK) == 0) {
        int fd = open(name, O_RDONLY | O_CLOEXEC);
        if (fd < 0) fatalf(ERR_OPEN, "cannot open %s\n", name);
        FILE *fp = fdopen(fd, "r");
        if (!fp) {
            close(fd);
            fatal(ERR_OPEN, name);
        }
        track(fp, nullptr, false, 0, name);
        return fp;
    }
    for (const char *suffix : {".Z", ".gz"}) {
        char packed[256];
        std::snprintf(packed, sizeof packed, "%s%s", name, suffix);
        if (access(packed, F_OK) == 0) return open_zcat(packed, name);
    }
    fatal(ERR_OPEN, name);
}

// `flags` is what a failure reports; `extra` adds flags that do not change
// what the mode means.
FILE *open_for_writing(const char *given, const char *name, const char *ops, int flags, int extra)
{
    int fd = open(name, flags | extra | O_CLOEXEC, 0600);
    if (fd < 0) fatalf(ERR_OPEN, ": cannot open %s as %s, %d\n", name, ops, flags);
    FILE *fp = fdopen(fd, ops);
    if (!fp) {
        close(fd);
        fatal(ERR_OPEN, name);
    }
    track(fp, given, false, 0, name);
    return fp;
}

}  // namespace

FILE *sopen(const char *name, const char *ops)
{
    if (!name) return nullptr;
    const char *given = name;
    if (std::strcmp(name, "-") == 0) {
        if (std::strcmp(ops, "r") == 0) {
            track(stdin, nullptr, false, 0, name);
            return stdin;
        }
        if (std::strcmp(ops, "w") == 0) {
            track(stdout, name, false, 0, name);
            return stdout;
        }
        fatal(ERR_OPEN, name);
    }
    if (std::strcmp(ops, "w") == 0 && name[0] == '|') return open_command(given);
    if (name[0] == '~') name = expand_home(name);

    int flags;
    if (std::strcmp(ops, "r") == 0)
        flags = O_RDONLY;
    else if (std::strcmp(ops, "w") == 0)
        flags = O_WRONLY | O_CREAT | O_TRUNC;
    else if (std::strcmp(ops, "r+") == 0)
        flags = O_RDWR | O_CREAT;
    else if (std::strcmp(ops, "a") == 0)
        flags = O_WRONLY | O_APPEND | O_CREAT;
    else
        fatalf(ERR_OPEN, ": invalid file mode %s for %s", ops, name);

    if (flags == O_RDONLY) return open_for_reading(name);
    return open_for_writing(given, name, ops, flags, 0);
}

FILE *sopen_nofollow(const char *name)
{
    return open_for_writing(name, name, "w", O_WRONLY | O_CREAT | O_TRUNC, O_NOFOLLOW);
}

// ---- 3. Closing -------------------------------------------------------------------

void sclose(FILE *fl)
{
    if (!fl) return;
    int fd = fileno(fl);
    bool known = fd >= 0 && fd < MAXFD;
    std::string name;
    bool checked = known && outputs[fd].fp == fl;
    if (checked) {
        name = std::move(outputs[fd].name);
        outputs[fd] = OutputSlot{};
    }
    bool failed = checked && (std::fflush(fl) != 0 || std::ferror(fl));
    if (known && popened_files.test(fd)) {
        popened_files.reset(fd);
        pid_t pid = zcat_child[fd];
        zcat_child[fd] = 0;
        if (pid > 0) {
            // An input read to its end must have been decompressed whole: a
            // zcat that failed (a damaged file) left it short, not complete.
            // One that was stopped early by the close is no failure.
            bool at_end = std::feof(fl) != 0;
            std::string zname = std::move(zcat_name[fd]);
            std::fclose(fl);
            int status = wait_child(pid);
            if (at_end && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) fatal(ERR_READ, zname.c_str());
        } else if (pclose(fl) == -1) {
            failed = true;  // the command's own exit status does not count
        }
    } else if (std::fclose(fl) != 0) {
        failed = true;
    }
    if (checked && failed) fatal(ERR_WRITE, name.c_str());
}

void sclose_quiet(FILE *fl)
{
    if (!fl) return;
    int fd = fileno(fl);
    if (fd >= 0 && fd < MAXFD) {
        outputs[fd] = OutputSlot{};
        zcat_name[fd].clear();
        if (popened_files.test(fd)) {
            popened_files.reset(fd);
            pid_t pid = zcat_child[fd];
            zcat_child[fd] = 0;
            if (pid > 0) {
                std::fclose(fl);
                kill(pid, SIGTERM);
                wait_child(pid);
            } else {
                pclose(fl);
            }
            return;
        }
    }
    if (fl != stdin && fl != stdout && fl != stderr) std::fclose(fl);
}

void check_output(FILE *fl)
{
    if (!fl) return;
    std::fflush(fl);
    int fd = fileno(fl);
    if (fd < 0 || fd >= MAXFD || outputs[fd].fp != fl) return;
    if (std::ferror(fl)) fatal(ERR_WRITE, outputs[fd].name.c_str());
}

// ---- 4. Alphabets -----------------------------------------------------------------

int8_t aanum(int8_t ch)
{
    int c = (unsigned char)ch;
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    for (int i = 0; aaname[i]; i++)
        if ((unsigned char)aaname[i] == c) return int8_t(i);
    return -1;
}

int8_t numaa(int8_t ch) { return (ch >= 0 && ch < 22) ? int8_t(aaname[(int)ch]) : 0; }

int8_t numpos(int8_t ch) { return (ch >= 0 && ch < 7) ? int8_t(posname[(int)ch]) : 0; }

// ---- 5. FASTA reader --------------------------------------------------------------

namespace {

// What the FASTA reader does with each byte: a residue number, or one of these.
constexpr int8_t CH_SKIP = -1, CH_END = -2, CH_BAD = -3;

constexpr std::array<int8_t, 256> make_fasta_class()
{
    std::array<int8_t, 256> t{};
    for (auto &k : t) k = CH_BAD;
    constexpr char letters[] = VC_AA_LETTERS;
    for (int i = 0; i < NAA; i++) {
        t[(unsigned char)letters[i]] = int8_t(i);
        t[(unsigned char)letters[i] + ('a' - 'A')] = int8_t(i);
    }
    for (char c : {'X', 'B', 'U', 'Z'}) t[(unsigned char)c] = t[(unsigned char)c + ('a' - 'A')] = 20;
    for (char c : {'\t', '\n', '\r', ' ', '(', ')', ',', '.', '/', '='}) t[(unsigned char)c] = CH_SKIP;
    t['*'] = CH_END;
    return t;
}
constexpr std::array<int8_t, 256> fasta_class = make_fasta_class();

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
    while ((c = getc_unlocked(fl)) != EOF && c != '\n') {
    }
}

// The header after its ">", read to the end of its line whatever its length:
// the first word is the code, the rest after blanks the title.
void read_header(FILE *fl, Sequence &sequence)
{
    int c;
    int n = 0;
    while ((c = getc_unlocked(fl)) != EOF && c != ' ' && c != '\t' && c != '\n')
        if (n < NAMELEN - 1) sequence.code[n++] = char(c);
    sequence.code[n] = '\0';
    if (c == EOF || c == '\n') return;
    do c = getc_unlocked(fl);
    while (c == ' ' || c == '\t');
    n = 0;
    for (; c != EOF && c != '\n'; c = getc_unlocked(fl))
        if (n < NAMELEN - 1) sequence.title[n++] = char(c);
    sequence.title[n] = '\0';
}

}  // namespace

void warn_truncated(Sequence &sequence, int32_t max_length)
{
    char line[NAMELEN + 64];
    std::snprintf(line, sizeof line, "Sequence %s truncated to %d residues\n", sequence.code, max_length);
    sequence.warnings += line;
}

// grow_residues: room for residue n.
void grow_residues(Sequence &sequence, int32_t n)
{
    if (size_t(n) >= sequence.seq.size()) sequence.seq.resize(std::max<size_t>(4096, 2 * size_t(n)));
}

int32_t getseq2(FILE *fl, Sequence &sequence, int32_t max_length)
{
    char line[1024];
    sequence.title[0] = '\0';
    sequence.warnings.clear();

    int c;
    while ((c = getc_unlocked(fl)) != '>') {
        if (c == EOF) return 0;
        if (c != '\n') skip_line(fl);
    }
    read_header(fl, sequence);

    int32_t n = 0;
    bool warned = false;
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
                    if (k >= 0 && !warned) {
                        warn_truncated(sequence, max_length);
                        warned = true;
                    }
                    continue;
                }
                if (k >= 0) {
                    grow_residues(sequence, n);
                    sequence.seq[n++] = k;
                } else if (k == CH_END) {
                    if (!eol) skip_line(fl);
                    sequence.seqlen = n;
                    return 1;
                } else if (k == CH_BAD) {
                    std::string msg = "Unable to parse input '";
                    msg += line[i];
                    msg += "', ";
                    msg += line;  // up to its NUL, as "%s" prints it
                    msg += ".\n";
                    fail(msg, false, STATUS_USAGE);
                }
            }
        }
    }
    sequence.seqlen = n;
    return 1;
}

// ---- 6. Count files ---------------------------------------------------------------

namespace {

constexpr char GENFREQ_MAGIC[] = "GenFreq 1 + 20 + 7 + 20x20x7 long\n";
constexpr char POSFREQ_MAGIC[] = "PosFreq 7 + 20x7 + 7x7 + 20x20x7x7 long\n";
constexpr const char *GENFREQ_FILE = "<GenFreq> file";
constexpr const char *POSFREQ_FILE = "<PosFreq> file";
static_assert(sizeof GENFREQ_MAGIC - 1 == 34 && sizeof POSFREQ_MAGIC - 1 == 40);

void read_magic(FILE *fl, const char *magic, const char *what)
{
    char buf[1024];
    int len = read_piece(fl, buf, sizeof buf);
    if (size_t(len) != std::strlen(magic) || std::memcmp(buf, magic, size_t(len)) != 0)
        fatal(ERR_MAGIC, what);
}

void read_table(FILE *fl, int32_t *arr, int size, const char *what)
{
    if (std::fread(arr, sizeof *arr, size_t(size), fl) != size_t(size)) fatal(ERR_READ, what);
    ntohla(arr, size);
}

bool write_table(FILE *fl, const int32_t *arr, int size)
{
    unsigned char buf[4 * 256];
    for (int i = 0; i < size;) {
        int k = size - i < 256 ? size - i : 256;
        for (int j = 0; j < k; j++) {
            uint32_t v = uint32_t(arr[i + j]);
            buf[4 * j] = (unsigned char)(v >> 24);
            buf[4 * j + 1] = (unsigned char)(v >> 16);
            buf[4 * j + 2] = (unsigned char)(v >> 8);
            buf[4 * j + 3] = (unsigned char)v;
        }
        if (std::fwrite(buf, 4, size_t(k), fl) != size_t(k)) return false;
        i += k;
    }
    return true;
}

int finish_write(FILE *fl, bool ok)
{
    if (std::fflush(fl) != 0) ok = false;
    return ok && !std::ferror(fl) ? 0 : -1;
}

}  // namespace

void ntohla(int32_t *arr, int size)
{
    for (int i = 0; i < size; i++) {
        unsigned char b[4];
        std::memcpy(b, &arr[i], 4);
        arr[i] = int32_t(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]);
    }
}

void readgenfreq(FILE *fl, GenFreq &g)
{
    read_magic(fl, GENFREQ_MAGIC, GENFREQ_FILE);
    read_table(fl, &g.totals, 1, GENFREQ_FILE);
    read_table(fl, g.freqs, NAA, GENFREQ_FILE);
    read_table(fl, g.totalp, NREG, GENFREQ_FILE);
    read_table(fl, &g.freqp[0][0][0], NAA * NAA * NREG, GENFREQ_FILE);
}

void readposfreq(FILE *fl, PosFreq &p)
{
    read_magic(fl, POSFREQ_MAGIC, POSFREQ_FILE);
    read_table(fl, p.totals, NREG, POSFREQ_FILE);
    read_table(fl, &p.freqs[0][0], NAA * NREG, POSFREQ_FILE);
    read_table(fl, &p.totalp[0][0], NREG * NREG, POSFREQ_FILE);
    read_table(fl, &p.freqp[0][0][0][0], NAA * NAA * NREG * NREG, POSFREQ_FILE);
}

int writegenfreq(FILE *fl, const GenFreq &g)
{
    bool ok = std::fputs(GENFREQ_MAGIC, fl) != EOF && write_table(fl, &g.totals, 1) &&
              write_table(fl, g.freqs, NAA) && write_table(fl, g.totalp, NREG) &&
              write_table(fl, &g.freqp[0][0][0], NAA * NAA * NREG);
    return finish_write(fl, ok);
}

int writeposfreq(FILE *fl, const PosFreq &p)
{
    bool ok = std::fputs(POSFREQ_MAGIC, fl) != EOF && write_table(fl, p.totals, NREG) &&
              write_table(fl, &p.freqs[0][0], NAA * NREG) &&
              write_table(fl, &p.totalp[0][0], NREG * NREG) &&
              write_table(fl, &p.freqp[0][0][0][0], NAA * NAA * NREG * NREG);
    return finish_write(fl, ok);
}

// ---- 7. Region file -------------------------------------------------------------------

int read_region(FILE *rf, const char *code, int32_t *rstart, int32_t *rend)
{
    char codebuff[NAMELEN];
    for (;;) {
        // Held as a signed byte: a 0xFF byte ends the search like the end of the file.
        signed char c;
        do {
            c = static_cast<signed char>(std::getc(rf));
        } while (c != '>' && c != EOF);
        if (c == EOF) return 0;
        int got = std::fscanf(rf, "%1023s", codebuff);
        if (got != 1) continue;
        if (std::strlen(codebuff) == NAMELEN - 1) {  // drop the rest of an overlong token
            int ch;
            while ((ch = std::getc(rf)) != EOF && !std::isspace(ch)) {
            }
            if (ch != EOF) std::ungetc(ch, rf);
        }
        int a = 0, b = 0;
        if (std::fscanf(rf, "%d %d", &a, &b) != 2) continue;
        if (std::strcmp(codebuff, code) == 0) {
            *rstart = a;
            *rend = b;
            return 1;
        }
    }
}

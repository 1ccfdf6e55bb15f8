// scio: streams, alphabets, the FASTA reader and the count files.
// Contents: see scio.h.
#include "scio.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bitset>
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
// is opened, so no stream ever goes untracked.
constexpr int MAXFD = 1024;
constexpr const char *TOO_LONG = "file name too long for internal buffer";

std::bitset<MAXFD> popened_files;  // streams that are pipes

// What sclose needs to know of a stream: fp guards against a slot left over
// from a stream closed behind our back.
struct Slot {
    FILE *fp = nullptr;
    bool writing = false;
    pid_t pids[2] = {0, 0};  // zcat (and the cat feeding it compressed standard input)
    std::string name;        // as the caller gave it, for messages
};
std::array<Slot, MAXFD> slots;

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

// Records a freshly opened stream under the name the caller gave.
void track(FILE *fp, const char *name, bool writing, bool pipe, pid_t zcat = 0, pid_t feeder = 0)
{
    int fd = fileno(fp);
    if (fd < 0 || fd >= MAXFD) {
        if (pipe && !zcat) {
            pclose(fp);
        } else {
            std::fclose(fp);
            for (pid_t p : {zcat, feeder})
                if (p > 0) wait_child(p);
        }
        fatal(ERR_OPEN, name);
    }
    popened_files.set(size_t(fd), pipe);
    slots[size_t(fd)] = Slot{fp, writing, {zcat, feeder}, name};
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

// Whether two bytes start gzip or compress data.
bool compressed_magic(const unsigned char *b, ssize_t n)
{
    return n == 2 && b[0] == 0x1f && (b[1] == 0x8b || b[1] == 0x9d);
}

// spawn: starts `argv` without a shell (so no character of a name has any
// meaning beyond the name itself) with `in` as its stdin (-1: inherited) and
// `out` as its stdout; 0 when it cannot be started.
pid_t spawn(char *const argv[], int in, int out)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : 0;
}

// open_zcat: a stream of the decompressed contents of `file` (null: of
// standard input, whose first two bytes, `magic`, were already read) through
// zcat; the stream is tracked under `name`.
FILE *open_zcat(const char *file, const char *name, const unsigned char *magic = nullptr)
{
    // "zcat " + name + ".gz" fits: read-mode names are at most 240 characters.
    char arg[256];
    const char *prefix = file && file[0] == '-' ? "./" : "";  // not an option to zcat
    if (file && std::snprintf(arg, sizeof arg, "%s%s", prefix, file) >= int(sizeof arg)) fatal(ERR_OPEN, TOO_LONG);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) fatal(ERR_OPEN, name);
    int in = -1;
    pid_t feeder = 0;
    if (!file) {
        // The two bytes already read go first into zcat's input, then cat
        // passes on the rest of standard input.
        int feed[2];
        if (pipe2(feed, O_CLOEXEC) != 0 || write(feed[1], magic, 2) != 2) fatal(ERR_OPEN, name);
        char cat[] = "cat";
        char *cargv[] = {cat, nullptr};
        feeder = spawn(cargv, -1, feed[1]);
        close(feed[1]);
        if (!feeder) {
            close(feed[0]);
            fatal(ERR_OPEN, name);
        }
        in = feed[0];
    }
    char zcat[] = "zcat";
    char *argv[] = {zcat, file ? arg : nullptr, nullptr};
    pid_t pid = spawn(argv, in, out[1]);
    close(out[1]);
    if (in >= 0) close(in);
    FILE *fp = pid ? fdopen(out[0], "r") : nullptr;
    if (!fp) {
        close(out[0]);
        for (pid_t p : {pid, feeder})
            if (p > 0) wait_child(p);
        fatal(ERR_OPEN, name);
    }
    track(fp, name, false, true, pid, feeder);
    return fp;
}

FILE *open_command(const char *given)
{
    // "e": the pipe is not inherited by later children (zcat, other commands).
    FILE *fp = popen(given + 1, "we");
    if (!fp) fatal(ERR_OPEN, given);
    track(fp, given, true, true);
    return fp;
}

// open_stdin: standard input; compressed data (by its first two bytes) is
// read through zcat, anything else as it stands.
FILE *open_stdin(const char *name)
{
    unsigned char b[2];
    ssize_t n = 0;
    for (ssize_t r; n < 2 && (r = read(STDIN_FILENO, b + n, size_t(2 - n))) != 0; n += r > 0 ? r : 0)
        if (r < 0 && errno != EINTR) break;
    if (compressed_magic(b, n)) return open_zcat(nullptr, name, b);
    // Not compressed: the bytes go back in front of the stream.
    for (ssize_t i = n; i-- > 0;) ungetc(b[i], stdin);
    track(stdin, name, false, false);
    return stdin;
}

FILE *open_for_reading(const char *name, const char *given)
{
    if (std::strlen(name) > 240) fatal(ERR_OPEN, TOO_LONG);
    if (ends_with(name, ".Z") || ends_with(name, ".gz")) {
        // A missing file, or a regular file that holds no compressed data,
        // is an error now, not a zcat that fails once outputs are written.
        if (access(name, F_OK) != 0) fatal(ERR_OPEN, given);
        const int fd = open(name, O_RDONLY | O_CLOEXEC);
        struct stat st;
        unsigned char b[2];
        const bool plain =
            fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && !compressed_magic(b, pread(fd, b, 2, 0));
        if (fd >= 0) close(fd);
        if (plain) fatal(ERR_READ, given);
        return open_zcat(name, given);
    }
    if (access(name, F_OK) == 0) {
        int fd = open(name, O_RDONLY | O_CLOEXEC);
        if (fd < 0) fatalf(ERR_OPEN, "cannot open %s: %s\n", name, std::strerror(errno));
        unsigned char b[2];
        struct stat st;
        // A directory opens, but every read fails: say so before any output is touched.
        if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            close(fd);
            fatal(ERR_READ, given);
        }
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && compressed_magic(b, pread(fd, b, 2, 0))) {
            close(fd);
            return open_zcat(name, given);
        }
        FILE *fp = fdopen(fd, "r");
        if (!fp) {
            close(fd);
            fatal(ERR_OPEN, given);
        }
        track(fp, given, false, false);
        return fp;
    }
    for (const char *suffix : {".Z", ".gz"}) {
        char packed[256];
        std::snprintf(packed, sizeof packed, "%s%s", name, suffix);
        if (access(packed, F_OK) == 0) return open_zcat(packed, given);
    }
    fatal(ERR_OPEN, given);
}

// `flags` is what a failure reports; `extra` adds flags that do not change
// what the mode means.
FILE *open_for_writing(const char *given, const char *name, const char *ops, int flags, int extra)
{
    int fd = open(name, flags | extra | O_CLOEXEC, 0600);
    if (fd < 0) fatalf(ERR_OPEN, ": cannot open %s as %s, %d: %s\n", name, ops, flags, std::strerror(errno));
    FILE *fp = fdopen(fd, ops);
    if (!fp) {
        close(fd);
        fatal(ERR_OPEN, name);
    }
    track(fp, given, true, false);
    return fp;
}

}  // namespace

FILE *sopen(const char *name, const char *ops)
{
    if (!name) return nullptr;
    const char *given = name;
    if (std::strcmp(name, "-") == 0) {
        if (std::strcmp(ops, "r") == 0) return open_stdin(name);
        if (std::strcmp(ops, "w") == 0) {
            track(stdout, name, true, false);
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

    if (flags == O_RDONLY) return open_for_reading(name, given);
    return open_for_writing(given, name, ops, flags, 0);
}

FILE *sopen_replacing(const char *name, std::string &scratch)
{
    // The beginning of the message is the one of any output that cannot be opened.
    auto refuse = [name](const char *why) {
        fatalf(ERR_OPEN, ": cannot open %s as w, %d: %s\n", name, O_WRONLY | O_CREAT | O_TRUNC, why);
    };
    struct stat st;
    if (lstat(name, &st) == 0) {
        if (S_ISLNK(st.st_mode)) refuse(std::strerror(ELOOP));
        if (!S_ISREG(st.st_mode)) refuse("not a regular file");
        // In a sticky directory (/tmp) another user's file cannot be replaced:
        // say so now, before any output is touched, not when the plot is done.
        const char *slash = std::strrchr(name, '/');
        const std::string dir = !slash ? std::string(".") : std::string(name, slash == name ? 1 : size_t(slash - name));
        struct stat ds;
        if (st.st_uid != geteuid() && geteuid() != 0 && stat(dir.c_str(), &ds) == 0 && (ds.st_mode & S_ISVTX) &&
            ds.st_uid != geteuid())
            refuse("another user's file in a shared directory (choose another file with --plot)");
    }
    scratch = std::string(name) + ".XXXXXX";
    int fd = mkostemp(scratch.data(), O_CLOEXEC);
    if (fd < 0) {
        scratch.clear();
        refuse(std::strerror(errno));
    }
    FILE *fp = fdopen(fd, "w");
    if (!fp) {
        close(fd);
        unlink(scratch.c_str());
        scratch.clear();
        fatal(ERR_OPEN, name);
    }
    track(fp, name, true, false);
    return fp;
}

void sreplace(FILE *fl, std::string &scratch, const char *name)
{
    std::string from = std::move(scratch);
    scratch.clear();
    try {
        sclose(fl);
    } catch (...) {
        unlink(from.c_str());
        throw;
    }
    if (std::rename(from.c_str(), name) != 0) {
        int e = errno;
        unlink(from.c_str());
        fatalf(ERR_WRITE, "%s: the finished file could not take this name: %s", name, std::strerror(e));
    }
}

bool file_identity(const char *name, FileId *id)
{
    if (std::strcmp(name, "-") == 0 || name[0] == '|') return false;
    if (name[0] == '~') name = expand_home(name);
    struct stat st;
    if (stat(name, &st) == 0) {
        if (!S_ISREG(st.st_mode)) return false;
        *id = FileId{st.st_dev, st.st_ino, ""};
        return true;
    }
    // Not there yet: the directory it would be made in, and its name there.
    const char *slash = std::strrchr(name, '/');
    const std::string dir = !slash ? std::string(".") : std::string(name, slash == name ? 1 : size_t(slash - name));
    if (stat(dir.c_str(), &st) != 0) return false;
    *id = FileId{st.st_dev, st.st_ino, slash ? slash + 1 : name};
    return true;
}

// ---- 3. Closing -------------------------------------------------------------------

const char *stream_name(FILE *fl)
{
    int fd = fl ? fileno(fl) : -1;
    return fd >= 0 && fd < MAXFD && slots[size_t(fd)].fp == fl ? slots[size_t(fd)].name.c_str() : "";
}

void check_input(FILE *fl)
{
    if (fl && std::ferror(fl)) fatal(ERR_READ, stream_name(fl));
}

namespace {
// untrack: what was recorded of `fl` (nothing for a stream sopen did not
// open), forgotten from here on; *pipe tells whether it is a pipe.
Slot untrack(FILE *fl, bool *pipe)
{
    const int fd = fileno(fl);
    Slot slot;
    *pipe = false;
    if (fd < 0 || fd >= MAXFD) return slot;
    if (slots[size_t(fd)].fp == fl) {
        slot = std::move(slots[size_t(fd)]);
        slots[size_t(fd)] = Slot{};
    }
    *pipe = popened_files.test(size_t(fd));
    popened_files.reset(size_t(fd));
    return slot;
}
}  // namespace

void sclose(FILE *fl)
{
    if (!fl) return;
    bool pipe;
    Slot slot = untrack(fl, &pipe);
    const bool standard = fl == stdin || fl == stdout || fl == stderr;

    if (slot.writing) {
        bool failed = std::fflush(fl) != 0 || std::ferror(fl);
        if (pipe) {
            // A command that failed (gzip on a full disk) or was killed lost
            // the output; one ended by SIGPIPE stopped reading early on purpose.
            int status = pclose(fl);
            failed |= status == -1 || (WIFEXITED(status) && WEXITSTATUS(status) != 0) ||
                      (WIFSIGNALED(status) && WTERMSIG(status) != SIGPIPE);
        } else if (!standard) {
            failed |= std::fclose(fl) != 0;
        }
        if (failed) fatal(ERR_WRITE, slot.name);
        return;
    }
    // An input: a read error is never the end of the input.  An input read to
    // its end must have been decompressed whole: a zcat that failed (a
    // damaged file) left it short, not complete.  One that was stopped early
    // by the close is no failure.
    const bool at_end = std::feof(fl) != 0, read_error = std::ferror(fl) != 0;
    if (!standard) std::fclose(fl);
    int status = 0;
    if (slot.pids[0] > 0) status = wait_child(slot.pids[0]);
    if (slot.pids[1] > 0) wait_child(slot.pids[1]);
    if (read_error || (slot.pids[0] > 0 && at_end && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)))
        fatal(ERR_READ, slot.name);
}

void sclose_quiet(FILE *fl)
{
    if (!fl) return;
    bool pipe;
    Slot slot = untrack(fl, &pipe);
    if (pipe && !slot.pids[0]) {
        pclose(fl);
        return;
    }
    if (fl == stdin || fl == stdout || fl == stderr)
        std::fflush(fl);
    else
        std::fclose(fl);
    for (pid_t p : slot.pids) {
        if (p <= 0) continue;
        kill(p, SIGTERM);
        wait_child(p);
    }
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
    // Unknown residues; O (pyrrolysine) and J (leucine or isoleucine) are
    // letters UniProt uses, read like X rather than ending the run.
    for (char c : {'X', 'B', 'U', 'Z', 'O', 'J'}) t[(unsigned char)c] = t[(unsigned char)c + ('a' - 'A')] = 20;
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
    while ((c = getc_unlocked(fl)) != EOF && c != '\n') {}
}

// The header after its ">", read to the end of its line whatever its length:
// the first word is the code, the rest after blanks the title.
void read_header(FILE *fl, Sequence &sequence)
{
    int c;
    int n = 0;
    while ((c = getc_unlocked(fl)) != EOF && c != ' ' && c != '\t' && c != '\n')
        if (n < NAMELEN - 1) sequence.code[n++] = char(c);
    // A carriage return before the line end is part of a CR-LF line end.
    if (c != ' ' && c != '\t' && n > 0 && sequence.code[n - 1] == '\r') n--;
    sequence.code[n] = '\0';
    if (c == EOF || c == '\n') return;
    do c = getc_unlocked(fl);
    while (c == ' ' || c == '\t');
    n = 0;
    bool cut = false;
    for (; c != EOF && c != '\n'; c = getc_unlocked(fl)) {
        if (n < NAMELEN - 1)
            sequence.title[n++] = char(c);
        else
            cut = c != '\r';
    }
    if (!cut && n > 0 && sequence.title[n - 1] == '\r') n--;
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

namespace {
// StreamLock: holds the stream's lock for one record, so that the per-line
// ungetc below (which locks the stream itself) only counts up a lock this
// thread already holds once the program runs several threads.
struct StreamLock {
    FILE *fl;
    explicit StreamLock(FILE *f) : fl(f) { flockfile(fl); }
    ~StreamLock() { funlockfile(fl); }
    StreamLock(const StreamLock &) = delete;
    StreamLock &operator=(const StreamLock &) = delete;
};
}  // namespace

int32_t getseq2(FILE *fl, Sequence &sequence, int32_t max_length)
{
    const StreamLock lock(fl);
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
                    if (size_t(n) >= sequence.seq.size()) grow_residues(sequence, n);
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
    if (size_t(len) != std::strlen(magic) || std::memcmp(buf, magic, size_t(len)) != 0) fatal(ERR_MAGIC, what);
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

namespace {

// check_counts: every count file velcorin2-counts writes holds no negative
// count, totals that are the sums of the counts they total, and nothing
// after its tables.  A file that breaks any of these is damaged (a flipped
// bit, a wrong file appended) and would give scores that look valid.
void check_counts(FILE *fl, const char *what, bool negative, bool sums_differ)
{
    const char *why = negative                   ? ": a negative count"
                      : sums_differ              ? ": a total is not the sum of its counts"
                      : getc_unlocked(fl) != EOF ? ": bytes after the last table"
                                                 : nullptr;
    if (!why && std::ferror(fl)) why = "";
    if (why) fatal(ERR_READ, std::string(what) + why);
}

}  // namespace

void readgenfreq(FILE *fl, GenFreq &g)
{
    read_magic(fl, GENFREQ_MAGIC, GENFREQ_FILE);
    read_table(fl, &g.totals, 1, GENFREQ_FILE);
    read_table(fl, g.freqs, NAA, GENFREQ_FILE);
    read_table(fl, g.totalp, NREG, GENFREQ_FILE);
    read_table(fl, &g.freqp[0][0][0], NAA * NAA * NREG, GENFREQ_FILE);
    bool negative = g.totals < 0, differ = false;
    int64_t sum = 0;
    for (int x = 0; x < NAA; x++) {
        negative |= g.freqs[x] < 0;
        sum += g.freqs[x];
    }
    differ |= sum != g.totals;
    for (int d = 0; d < NREG; d++) {
        int64_t pairs = 0;
        for (int x = 0; x < NAA; x++)
            for (int y = 0; y < NAA; y++) {
                negative |= g.freqp[x][y][d] < 0;
                pairs += g.freqp[x][y][d];
            }
        negative |= g.totalp[d] < 0;
        differ |= pairs != g.totalp[d];
    }
    check_counts(fl, GENFREQ_FILE, negative, differ);
}

void readposfreq(FILE *fl, PosFreq &p)
{
    read_magic(fl, POSFREQ_MAGIC, POSFREQ_FILE);
    read_table(fl, p.totals, NREG, POSFREQ_FILE);
    read_table(fl, &p.freqs[0][0], NAA * NREG, POSFREQ_FILE);
    read_table(fl, &p.totalp[0][0], NREG * NREG, POSFREQ_FILE);
    read_table(fl, &p.freqp[0][0][0][0], NAA * NAA * NREG * NREG, POSFREQ_FILE);
    bool negative = false, differ = false;
    for (int r = 0; r < NREG; r++) {
        int64_t sum = 0;
        for (int x = 0; x < NAA; x++) {
            negative |= p.freqs[x][r] < 0;
            sum += p.freqs[x][r];
        }
        negative |= p.totals[r] < 0;
        differ |= sum != p.totals[r];
        for (int q = 0; q < NREG; q++) {
            int64_t pairs = 0;
            for (int x = 0; x < NAA; x++)
                for (int y = 0; y < NAA; y++) {
                    negative |= p.freqp[x][y][r][q] < 0;
                    pairs += p.freqp[x][y][r][q];
                }
            negative |= p.totalp[r][q] < 0;
            differ |= pairs != p.totalp[r][q];
        }
    }
    check_counts(fl, POSFREQ_FILE, negative, differ);
}

int writegenfreq(FILE *fl, const GenFreq &g)
{
    bool ok = std::fputs(GENFREQ_MAGIC, fl) != EOF && write_table(fl, &g.totals, 1) && write_table(fl, g.freqs, NAA) &&
              write_table(fl, g.totalp, NREG) && write_table(fl, &g.freqp[0][0][0], NAA * NAA * NREG);
    return finish_write(fl, ok);
}

int writeposfreq(FILE *fl, const PosFreq &p)
{
    bool ok = std::fputs(POSFREQ_MAGIC, fl) != EOF && write_table(fl, p.totals, NREG) &&
              write_table(fl, &p.freqs[0][0], NAA * NREG) && write_table(fl, &p.totalp[0][0], NREG * NREG) &&
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
            while ((ch = std::getc(rf)) != EOF && !std::isspace(ch)) {}
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

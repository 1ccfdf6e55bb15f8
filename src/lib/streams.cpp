// streams: opening and closing every file of a run by name.
//
// Contents:
//   1. Bookkeeping: what close_stream must know of each stream
//   2. Names: home directories, compressed data
//   3. Opening inputs (zcat for compressed data) and outputs (commands, files)
//   4. Closing, checked or quiet
//
// Streams come from files, standard streams, zcat started without a shell,
// and output commands started through the shell; close_stream ends each the
// right way and reports what went wrong, so that no failure passes as success.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <bitset>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "errors.h"
#include "velcorin2/io.h"

extern char **environ;

namespace velcorin2 {

namespace {

// ---- 1. Bookkeeping ---------------------------------------------------------------
// Everything is indexed by descriptor; 1024 slots cover every stream the
// program holds.  A stream whose descriptor does not fit is refused when it
// is opened, so no stream ever goes untracked.
constexpr int MAXFD = 1024;
constexpr const char *TOO_LONG = "file name too long for internal buffer";

std::bitset<MAXFD> popened_files;  // streams that are pipes

// What close_stream needs to know of a stream: fp guards against a slot left
// over from a stream closed behind our back.
struct Slot {
    FILE *fp = nullptr;
    bool writing = false;
    pid_t pids[2] = {0, 0};  // zcat (and the cat feeding it compressed standard input)
    std::string name;        // as the caller gave it, for messages
};
std::array<Slot, MAXFD> slots;

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
        raise_numbered(ErrorCode::OPEN, name);
    }
    popened_files.set(size_t(fd), pipe);
    slots[size_t(fd)] = Slot{fp, writing, {zcat, feeder}, name};
}

// ---- 2. Names -----------------------------------------------------------------------

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

}  // namespace

std::string expand_home(const char *name)
{
    if (name[0] != '~') return name;
    // The buffers the names were always built in: longer ones are refused.
    constexpr size_t EXPANDED = 500, USER = 50;
    std::string home;
    const char *rest;
    if (name[1] == '/' || name[1] == '\0') {
        const char *h = std::getenv("HOME");
        if (!h) return name;
        home = h;
        rest = name + 1;
    } else {
        const char *slash = std::strchr(name, '/');
        size_t ulen = slash ? size_t(slash - (name + 1)) : std::strlen(name + 1);
        if (ulen >= USER) raise_numbered(ErrorCode::OPEN, TOO_LONG);
        const std::string user(name + 1, ulen);
        const passwd *pw = getpwnam(user.c_str());
        if (!pw || !pw->pw_dir) raise_numbered(ErrorCode::OPEN, name);
        home = pw->pw_dir;
        rest = slash ? slash : "";
    }
    if (home.size() + std::strlen(rest) >= EXPANDED) raise_numbered(ErrorCode::OPEN, TOO_LONG);
    return home + rest;
}

namespace {

// ---- 3. Opening ----------------------------------------------------------------------

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
    // "zcat " + name + ".gz" fits: input names are at most 240 characters.
    char arg[256];
    const char *prefix = file && file[0] == '-' ? "./" : "";  // not an option to zcat
    if (file && std::snprintf(arg, sizeof arg, "%s%s", prefix, file) >= int(sizeof arg))
        raise_numbered(ErrorCode::OPEN, TOO_LONG);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) raise_numbered(ErrorCode::OPEN, name);
    int in = -1;
    pid_t feeder = 0;
    if (!file) {
        // The two bytes already read go first into zcat's input, then cat
        // passes on the rest of standard input.
        int feed[2];
        if (pipe2(feed, O_CLOEXEC) != 0 || write(feed[1], magic, 2) != 2) raise_numbered(ErrorCode::OPEN, name);
        char cat[] = "cat";
        char *cargv[] = {cat, nullptr};
        feeder = spawn(cargv, -1, feed[1]);
        close(feed[1]);
        if (!feeder) {
            close(feed[0]);
            raise_numbered(ErrorCode::OPEN, name);
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
        raise_numbered(ErrorCode::OPEN, name);
    }
    track(fp, name, false, true, pid, feeder);
    return fp;
}

FILE *open_command(const char *given)
{
    // "e": the pipe is not inherited by later children (zcat, other commands).
    FILE *fp = popen(given + 1, "we");
    if (!fp) raise_numbered(ErrorCode::OPEN, given);
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

FILE *open_file_for_reading(const char *name, const char *given)
{
    if (std::strlen(name) > 240) raise_numbered(ErrorCode::OPEN, TOO_LONG);
    if (ends_with(name, ".Z") || ends_with(name, ".gz")) {
        // A missing file, or a regular file that holds no compressed data,
        // is an error now, not a zcat that fails once outputs are written.
        if (access(name, F_OK) != 0) raise_numberedf(ErrorCode::OPEN, "%s: %s", given, std::strerror(errno));
        const int fd = open(name, O_RDONLY | O_CLOEXEC);
        struct stat st;
        unsigned char b[2];
        const bool plain =
            fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && !compressed_magic(b, pread(fd, b, 2, 0));
        if (fd >= 0) close(fd);
        if (plain) raise_numbered(ErrorCode::READ, given);
        return open_zcat(name, given);
    }
    if (access(name, F_OK) == 0) {
        int fd = open(name, O_RDONLY | O_CLOEXEC);
        if (fd < 0) raise_numberedf(ErrorCode::OPEN, "cannot open %s: %s\n", name, std::strerror(errno));
        unsigned char b[2];
        struct stat st;
        // A directory opens, but every read fails: say so before any output is touched.
        if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            close(fd);
            raise_numbered(ErrorCode::READ, given);
        }
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && compressed_magic(b, pread(fd, b, 2, 0))) {
            close(fd);
            return open_zcat(name, given);
        }
        FILE *fp = fdopen(fd, "r");
        if (!fp) {
            close(fd);
            raise_numbered(ErrorCode::OPEN, given);
        }
        track(fp, given, false, false);
        return fp;
    }
    for (const char *suffix : {".Z", ".gz"}) {
        char packed[256];
        std::snprintf(packed, sizeof packed, "%s%s", name, suffix);
        if (access(packed, F_OK) == 0) return open_zcat(packed, given);
    }
    raise_numbered(ErrorCode::OPEN, std::string(given) + ": " + std::strerror(ENOENT), ENOENT);
}

}  // namespace

FILE *open_input(const char *name)
{
    if (std::strcmp(name, "-") == 0) return open_stdin(name);
    const std::string path = expand_home(name);
    return open_file_for_reading(path.c_str(), name);
}

FILE *open_output(const char *name)
{
    if (std::strcmp(name, "-") == 0) {
        track(stdout, name, true, false);
        return stdout;
    }
    if (name[0] == '|') return open_command(name);
    const std::string path = expand_home(name);
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    int fd = open(path.c_str(), flags | O_CLOEXEC, 0600);
    if (fd < 0)
        raise_numberedf(ErrorCode::OPEN, ": cannot open %s as w, %d: %s\n", path.c_str(), flags, std::strerror(errno));
    FILE *fp = fdopen(fd, "w");
    if (!fp) {
        close(fd);
        raise_numbered(ErrorCode::OPEN, path);
    }
    track(fp, name, true, false);
    return fp;
}

bool file_identity(const char *name, FileId *id)
{
    if (std::strcmp(name, "-") == 0 || name[0] == '|') return false;
    const std::string path = expand_home(name);
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return false;
        *id = FileId{st.st_dev, st.st_ino, ""};
        return true;
    }
    // Not there yet: the directory it would be made in, and its name there.
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    if (stat(dir.c_str(), &st) != 0) return false;
    *id = FileId{st.st_dev, st.st_ino, slash == std::string::npos ? path : path.substr(slash + 1)};
    return true;
}

void guard_standard_streams()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int got = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (got >= 0 && got != fd) {  // the lowest free descriptor is fd itself
            dup2(got, fd);
            close(got);
        }
    }
}

// ---- 4. Closing ---------------------------------------------------------------------------

const char *stream_name(FILE *fl)
{
    int fd = fl ? fileno(fl) : -1;
    return fd >= 0 && fd < MAXFD && slots[size_t(fd)].fp == fl ? slots[size_t(fd)].name.c_str() : "";
}

void check_read_error(FILE *fl)
{
    if (fl && std::ferror(fl)) raise_numbered(ErrorCode::READ, stream_name(fl));
}

namespace {
// untrack: what was recorded of `fl` (nothing for a stream not opened here),
// forgotten from here on; *pipe tells whether it is a pipe.
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

void close_stream(FILE *fl)
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
        if (failed) raise_numbered(ErrorCode::WRITE, slot.name);
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
        raise_numbered(ErrorCode::READ, slot.name);
}

void close_stream_quietly(FILE *fl)
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

}  // namespace velcorin2

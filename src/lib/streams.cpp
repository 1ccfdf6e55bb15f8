// streams: opening the inputs of a run by name, and closing every stream.
//
// Contents:
//   1. Bookkeeping: what close_stream must know of each stream
//   2. Names: home directories, compressed data
//   3. Opening inputs (zcat for compressed data); outputs: output_streams.cpp
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

#include <algorithm>
#include <array>
#include <bitset>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "errors.h"
#include "stream_tracking.h"
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
std::bitset<3> closed_at_start;    // standard descriptors guard_standard_streams found closed

// What close_stream needs to know of a stream: fp guards against a slot left
// over from a stream closed behind our back.
struct Slot {
    FILE *fp = nullptr;
    bool writing = false;
    pid_t pids[2] = {0, 0};  // zcat (and the cat feeding it what was read of its input)
    std::string name;        // as the caller gave it, for messages
    bool has_id = false;     // an input read from a regular file: that file
    FileId id{};
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

}  // namespace

void track(FILE *fp, const char *name, bool writing, bool pipe, const FileId *id, pid_t zcat, pid_t feeder)
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
    slots[size_t(fd)] = Slot{fp, writing, {zcat, feeder}, name, id != nullptr, id ? *id : FileId{}};
}

bool identity_of(int fd, FileId *id)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *id = FileId{st.st_dev, st.st_ino, ""};
    return true;
}

// ---- 2. Names -----------------------------------------------------------------------

namespace {

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
// meaning beyond the name itself) with `in` as its stdin and `out` as its
// stdout; 0 when it cannot be started.
pid_t spawn(char *const argv[], int in, int out)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : 0;
}

// open_zcat: a stream of the decompressed contents of the open descriptor
// `fd` through zcat (which reads it as its standard input, so it reads the
// very file that was checked).  `peeked` bytes already read from a stream
// that cannot be read again go first, then cat passes on the rest.  `fd` is
// closed unless it is standard input.
FILE *open_zcat(int fd, const char *name, const FileId *id, const unsigned char *peeked = nullptr, ssize_t n = 0)
{
    auto fail = [&](pid_t a, pid_t b) {
        for (pid_t p : {a, b})
            if (p > 0) wait_child(p);
        raise_numbered(ErrorCode::OPEN, name);
    };
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) raise_numbered(ErrorCode::OPEN, name);
    int in = fd;
    pid_t feeder = 0;
    if (peeked) {
        int feed[2];
        if (pipe2(feed, O_CLOEXEC) != 0) raise_numbered(ErrorCode::OPEN, name);
        const bool fed = write(feed[1], peeked, size_t(n)) == n;
        char cat[] = "cat";
        char *cargv[] = {cat, nullptr};
        feeder = fed ? spawn(cargv, fd, feed[1]) : 0;
        close(feed[1]);
        in = feed[0];
        if (!feeder) {
            close(in);
            close(out[0]);
            close(out[1]);
            fail(0, 0);
        }
    }
    char zcat[] = "zcat";
    char *argv[] = {zcat, nullptr};
    pid_t pid = spawn(argv, in, out[1]);
    close(out[1]);
    if (in != fd) close(in);
    if (fd != STDIN_FILENO) close(fd);
    FILE *fp = pid ? fdopen(out[0], "r") : nullptr;
    if (!fp) {
        close(out[0]);
        fail(pid, feeder);
    }
    track(fp, name, false, true, id, pid, feeder);
    return fp;
}

// peek: up to two bytes of a stream that cannot be read again (standard
// input, a pipe, a FIFO, a device), for its compression magic.
ssize_t peek(int fd, unsigned char *b)
{
    ssize_t n = 0;
    for (ssize_t r; n < 2 && (r = read(fd, b + n, size_t(2 - n))) != 0; n += r > 0 ? r : 0)
        if (r < 0 && errno != EINTR) break;
    return n;
}

// open_stdin: standard input; compressed data (by its first two bytes) is
// read through zcat, anything else as it stands.
FILE *open_stdin(const char *name)
{
    if (closed_at_start.test(STDIN_FILENO)) raise_numbered(ErrorCode::OPEN, "-: refused, standard input is closed");
    FileId id{}, *idp = identity_of(STDIN_FILENO, &id) ? &id : nullptr;
    unsigned char b[2];
    const ssize_t n = peek(STDIN_FILENO, b);
    if (compressed_magic(b, n)) return open_zcat(STDIN_FILENO, name, idp, b, n);
    // Not compressed: the bytes go back in front of the stream.
    for (ssize_t i = n; i-- > 0;) ungetc(b[i], stdin);
    track(stdin, name, false, false, idp);
    return stdin;
}

// open_descriptor: the file `path` (found under the name `given`), read as
// it stands or through zcat when its first bytes are compressed data; a
// `packed` name (".Z", ".gz") must hold compressed data.
FILE *open_descriptor(const char *path, const char *given, bool packed)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) raise_numberedf(ErrorCode::OPEN, "cannot open %s: %s\n", path, std::strerror(errno));
    struct stat st;
    // A directory opens, but every read fails: say so before any output is touched.
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        raise_numbered(ErrorCode::READ, given);
    }
    FileId id{}, *idp = identity_of(fd, &id) ? &id : nullptr;
    unsigned char b[2];
    // A regular file is looked at in place; anything else (a pipe, a FIFO)
    // can be read once only, so its first bytes are read and put back.
    const bool regular = S_ISREG(st.st_mode);
    const ssize_t n = regular ? pread(fd, b, 2, 0) : peek(fd, b);
    // A file named as compressed that holds no compressed data is an error
    // now, not a zcat that fails once outputs are written.
    if (compressed_magic(b, n)) return open_zcat(fd, given, idp, regular ? nullptr : b, n);
    if (packed) {
        close(fd);
        raise_numbered(ErrorCode::READ, given);
    }
    FILE *fp = fdopen(fd, "r");
    if (!fp) {
        close(fd);
        raise_numbered(ErrorCode::OPEN, given);
    }
    if (!regular)
        for (ssize_t i = n; i-- > 0;) ungetc(b[i], fp);
    track(fp, given, false, false, idp);
    return fp;
}

FILE *open_file_for_reading(const char *name, const char *given)
{
    if (std::strlen(name) > 240) raise_numbered(ErrorCode::OPEN, TOO_LONG);
    const bool packed = ends_with(name, ".Z") || ends_with(name, ".gz");
    if (access(name, F_OK) == 0) return open_descriptor(name, given, packed);
    if (packed) raise_numbered(ErrorCode::OPEN, std::string(given) + ": " + std::strerror(ENOENT), ENOENT);
    for (const char *suffix : {".Z", ".gz"}) {
        const std::string other = std::string(name) + suffix;
        if (access(other.c_str(), F_OK) == 0) return open_descriptor(other.c_str(), given, true);
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

bool stream_file(FILE *fl, FileId *id)
{
    const int fd = fl ? fileno(fl) : -1;
    if (fd < 0 || fd >= MAXFD || slots[size_t(fd)].fp != fl || !slots[size_t(fd)].has_id) return false;
    *id = slots[size_t(fd)].id;
    return true;
}

bool standard_stream_closed(int fd) { return fd >= 0 && fd <= 2 && closed_at_start.test(size_t(fd)); }

void guard_standard_streams()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        closed_at_start.set(size_t(fd));
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

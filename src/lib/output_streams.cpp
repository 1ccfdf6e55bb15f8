// output_streams: opening the outputs of a run by name, and knowing files
// by what they are rather than by their names.
//
// An output is opened as it stands and emptied only once its caller has seen
// what it is, so that a name that changed since it was checked (a symlink
// to an input) is still refused; standard output under any of its names is
// standard output itself.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "errors.h"
#include "stream_tracking.h"
#include "velcorin2/io.h"

namespace velcorin2 {

namespace {

FILE *open_command(const char *given)
{
    // "e": the pipe is not inherited by later children (zcat, other commands).
    FILE *fp = popen(given + 1, "we");
    if (!fp) raise_numbered(ErrorCode::OPEN, given);
    track(fp, given, true, true);
    return fp;
}

// The first bytes of an existing regular file, read through a descriptor of
// its own; false when the name no longer leads to the file `st` describes.
bool read_head(const char *path, const struct stat &st, std::string *head)
{
    const int rfd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (rfd < 0) return true;  // unreadable (write-only): nothing the program reads
    struct stat rs;
    bool same = fstat(rfd, &rs) == 0 && rs.st_dev == st.st_dev && rs.st_ino == st.st_ino;
    char buf[64];
    const ssize_t n = same ? pread(rfd, buf, sizeof buf - 1, 0) : 0;
    close(rfd);
    head->assign(buf, size_t(std::max<ssize_t>(n, 0)));
    return same;
}

}  // namespace

bool names_standard_output(const char *name)
{
    for (const char *alias : {"-", "/dev/stdout", "/proc/self/fd/1", "/dev/fd/1"})
        if (std::strcmp(name, alias) == 0) return true;
    return false;
}

FILE *open_output(const char *name, const OutputCheck &check)
{
    OutputTarget t;
    if (names_standard_output(name)) {
        if (standard_stream_closed(STDOUT_FILENO))
            raise_numbered(ErrorCode::OPEN, std::string(name) + ": refused, standard output is closed");
        t.standard = true;
        t.regular = identity_of(STDOUT_FILENO, &t.id);
        if (check) check(t);
        track(stdout, name, true, false);
        return stdout;
    }
    if (name[0] == '|') return open_command(name);
    const std::string path = expand_home(name);
    // Opened as it stands, emptied only once it is known what it is: the
    // name may have changed (a symlink to an input) since it was checked.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0)
        raise_numberedf(ErrorCode::OPEN, ": cannot open %s as w, %d: %s\n", path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                        std::strerror(errno));
    try {
        struct stat st;
        t.regular = identity_of(fd, &t.id) && fstat(fd, &st) == 0;
        if (t.regular && st.st_size > 0 && !read_head(path.c_str(), st, &t.head))
            raise_numbered(ErrorCode::OPEN, std::string(name) + ": refused, it changed while it was opened");
        if (check) check(t);
        if (t.regular && ftruncate(fd, 0) != 0)
            raise_numberedf(ErrorCode::OPEN, ": cannot open %s as w, %d: %s\n", path.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC, std::strerror(errno));
    } catch (...) {
        close(fd);
        throw;
    }
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
    if (names_standard_output(name) || name[0] == '|') return false;
    std::string path = expand_home(name);
    struct stat st;
    // A dangling symlink makes its target: that is the file it names.
    for (int hops = 0; hops < 40 && stat(path.c_str(), &st) != 0; hops++) {
        char to[4096];
        const ssize_t n =
            lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? readlink(path.c_str(), to, sizeof to) : -1;
        if (n <= 0 || n == ssize_t(sizeof to)) break;
        const std::string target(to, size_t(n));
        const size_t slash = path.rfind('/');
        path = target[0] == '/' || slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
    }
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

}  // namespace velcorin2

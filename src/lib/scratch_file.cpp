// scratch_file: files that take their name only when complete.
//
// Contents:
//   open_scratch, commit_scratch, discard_scratch   the life of one file
//   remove_scratch_files_on_signals                 no scratch file outlives an interrupt
//
// The plot and the counting tool's outputs are written into a new file
// beside their name and renamed over it at the end: a failed or interrupted
// run leaves the old file as it was, and nothing that stands at the name is
// ever opened.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "velcorin2/io.h"

namespace velcorin2 {

namespace {

// The scratch files open now, for the signal handler: fixed storage, read
// without locks (a slot is published by its flag after its path is written).
constexpr int MAX_OPEN = 8;
struct OpenSlot {
    std::atomic<bool> used{false};
    char path[4096];
};
OpenSlot open_slots[MAX_OPEN];
std::mutex slots_mutex;

int remember(const std::string &path)
{
    std::lock_guard<std::mutex> lock(slots_mutex);
    if (path.size() >= sizeof open_slots[0].path) return -1;
    for (int i = 0; i < MAX_OPEN; i++) {
        if (open_slots[i].used.load()) continue;
        std::memcpy(open_slots[i].path, path.c_str(), path.size() + 1);
        open_slots[i].used.store(true);
        return i;
    }
    return -1;
}

void forget(const std::string &path)
{
    std::lock_guard<std::mutex> lock(slots_mutex);
    for (OpenSlot &s : open_slots)
        if (s.used.load() && path == s.path) s.used.store(false);
}

void remove_and_reraise(int sig)
{
    for (OpenSlot &s : open_slots)
        if (s.used.load()) unlink(s.path);
    signal(sig, SIG_DFL);
    raise(sig);
}

std::string directory_of(const std::string &name)
{
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? "." : name.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

void remove_scratch_files_on_signals()
{
    // A signal the program was started with ignored (nohup, a background
    // job without job control) stays ignored.  SIGPIPE: an output command
    // that ended early.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        signal(sig, remove_and_reraise);
    }
}

bool open_scratch(const std::string &target, ScratchMode mode, ScratchFile &f, std::string *why)
{
    struct stat st;
    if (lstat(target.c_str(), &st) == 0) {
        if (mode == ScratchMode::PRIVATE && S_ISLNK(st.st_mode)) {
            *why = std::strerror(ELOOP);
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            *why = "not a regular file";
            return false;
        }
        // In a sticky directory (/tmp) another user's file cannot be replaced:
        // say so now, before any output is touched, not when the file is done.
        struct stat ds;
        if (mode == ScratchMode::PRIVATE && st.st_uid != geteuid() && geteuid() != 0 &&
            stat(directory_of(target).c_str(), &ds) == 0 && (ds.st_mode & S_ISVTX) && ds.st_uid != geteuid()) {
            *why = "another user's file in a shared directory";
            return false;
        }
    }
    std::string path = target + ".XXXXXX";
    int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    if (mode == ScratchMode::SHARED) {
        // mkostemp makes 0600; a shared file gets what the umask allows.
        mode_t mask = umask(0);
        umask(mask);
        if (fchmod(fd, 0666 & ~mask) != 0) {
            *why = std::strerror(errno);
            close(fd);
            unlink(path.c_str());
            return false;
        }
    }
    FILE *fp = fdopen(fd, "w");
    if (!fp) {
        *why = std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return false;
    }
    remember(path);
    f = ScratchFile{target, path, fp};
    return true;
}

Commit commit_scratch(ScratchFile &f, bool replace, bool sync, std::string *why)
{
    const std::string path = std::move(f.path);
    f.path.clear();
    FILE *fp = f.fp;
    f.fp = nullptr;
    bool ok = std::fflush(fp) == 0 && !std::ferror(fp);
    if (!ok) *why = std::strerror(errno);
    if (ok && sync && fsync(fileno(fp)) != 0) {
        ok = false;
        *why = std::strerror(errno);
    }
    if (std::fclose(fp) != 0 && ok) {
        ok = false;
        *why = std::strerror(errno);
    }
    Commit result = Commit::DONE;
    if (!ok) {
        result = Commit::WRITE_FAILED;
    } else if (replace ? std::rename(path.c_str(), f.target.c_str()) != 0 : link(path.c_str(), f.target.c_str()) != 0) {
        *why = std::strerror(errno);
        result = errno == EEXIST && !replace ? Commit::NAME_EXISTS : Commit::RENAME_FAILED;
    }
    if (result != Commit::DONE || !replace) unlink(path.c_str());
    forget(path);
    return result;
}

void discard_scratch(ScratchFile &f)
{
    if (f.fp) std::fclose(f.fp);
    f.fp = nullptr;
    if (f.path.empty()) return;
    unlink(f.path.c_str());
    forget(f.path);
    f.path.clear();
}

}  // namespace velcorin2

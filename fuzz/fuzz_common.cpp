// fuzz_common: exit hook, scratch directory, stream tracking, fixed model,
// memory streams and record buffers shared by the harnesses.
//
// Contents:
//   1. Set-up and failures     fuzz_setup, fuzz_fail
//   2. Scratch directory       scratch_dir, scratch_path, add_fixture, restore_scratch
//   3. Streams of one run      track_stream, untrack_stream, close_tracked, reset_run
//   4. The fixed model         model_genfreq, model_posfreq
//   5. Memory streams, buffers MemIn, MemOut, Buffers
#include "fuzz_common.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <vector>

#include "fuzz_wrap.h"
#include "scio.h"
#include "scpos.h"
#include "scsystem.h"

// ---- 1. Set-up and failures ------------------------------------------------------

namespace {

std::string g_scratch;

void remove_scratch()
{
    if (g_scratch.empty()) return;
    if (DIR *d = opendir(g_scratch.c_str())) {
        while (dirent *e = readdir(d)) {
            if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
            unlink((g_scratch + "/" + e->d_name).c_str());
        }
        closedir(d);
    }
    rmdir(g_scratch.c_str());
}

}  // namespace

void fuzz_setup()
{
    static bool ready = false;
    if (ready) return;
    ready = true;
    // Quiet and never waiting for a terminal: "-" as an input reads an empty stream.
    if (!std::freopen("/dev/null", "r", stdin) || !std::freopen("/dev/null", "w", stdout)) std::abort();
    set_exit_hook([](int status) { throw ProgramExit{status}; });

    // Under TMPDIR when it is set: a memory file system (/dev/shm) spares the
    // disk the few files every input writes.
    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/vc2fuzz.XXXXXX";
    if (!mkdtemp(tmpl.data())) std::abort();
    g_scratch = tmpl;
    std::atexit(remove_scratch);
    setenv("HOME", g_scratch.c_str(), 1);
    setenv("VELCORIN_CONFIG", scratch_path("no-such-config").c_str(), 1);
}

void fuzz_fail(const char *file, int line, const char *what)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}

// ---- 2. Scratch directory --------------------------------------------------------

namespace {

struct Fixture {
    std::string content;
    struct timespec mtime {};
    bool written = false;
};
std::map<std::string, Fixture> g_fixtures;

void write_fixture(const std::string &name, Fixture &f)
{
    std::string path = scratch_path(name.c_str());
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (!fp || std::fwrite(f.content.data(), 1, f.content.size(), fp) != f.content.size()) std::abort();
    std::fclose(fp);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) std::abort();
    f.mtime = st.st_mtim;
    f.written = true;
}

}  // namespace

const std::string &scratch_dir() { return g_scratch; }

std::string scratch_path(const char *name) { return g_scratch + "/" + name; }

void add_fixture(const char *name, const std::string &content)
{
    Fixture &f = g_fixtures[name];
    f.content = content;
    write_fixture(name, f);
}

void restore_scratch()
{
    if (DIR *d = opendir(g_scratch.c_str())) {
        std::vector<std::string> stray;
        while (dirent *e = readdir(d)) {
            if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
            auto it = g_fixtures.find(e->d_name);
            struct stat st;
            std::string path = g_scratch + "/" + e->d_name;
            bool same = it != g_fixtures.end() && stat(path.c_str(), &st) == 0 &&
                        size_t(st.st_size) == it->second.content.size() &&
                        st.st_mtim.tv_sec == it->second.mtime.tv_sec &&
                        st.st_mtim.tv_nsec == it->second.mtime.tv_nsec;
            if (!same) stray.push_back(path);
            if (!same && it != g_fixtures.end()) it->second.written = false;
        }
        closedir(d);
        for (auto &p : stray) unlink(p.c_str());
    }
    for (auto &[name, f] : g_fixtures)
        if (!f.written || access(scratch_path(name.c_str()).c_str(), F_OK) != 0) write_fixture(name, f);
}

// ---- 3. Streams of one run ---------------------------------------------------------

namespace {
std::vector<FILE *> g_tracked;
}

void track_stream(FILE *fp)
{
    if (fp) g_tracked.push_back(fp);
}

void untrack_stream(FILE *fp)
{
    for (size_t i = g_tracked.size(); i-- > 0;)
        if (g_tracked[i] == fp) {
            g_tracked.erase(g_tracked.begin() + long(i));
            return;
        }
}

void close_tracked()
{
    while (!g_tracked.empty()) {
        FILE *fp = g_tracked.back();
        // The same stream can stand for several names ("-"): close it once.
        for (size_t i = g_tracked.size(); i-- > 0;)
            if (g_tracked[i] == fp) g_tracked.erase(g_tracked.begin() + long(i));
        track_stream(fp);
        try {
            sclose(fp);  // the wrapper untracks it and spares the standard streams
        } catch (const ProgramExit &) {
            // a failed write reported at close: the stream is closed all the same
        }
        untrack_stream(fp);
    }
    std::clearerr(stdin);
    std::fflush(stdout);
    std::clearerr(stdout);
}

void reset_run()
{
    functnum = 3;
    WINDOW = 30;
    window_length = 28;
    prog = 1;
}

// ---- 4. The fixed model ------------------------------------------------------------

namespace {

struct Lcg {
    uint32_t s;
    uint32_t next() { return s = s * 1664525u + 1013904223u; }
    int below(int n) { return int((next() >> 8) % uint32_t(n)); }
};

std::string write_to_string(int (*writer)(FILE *))
{
    MemOut out;
    if (writer(out.fp) != 0) std::abort();
    return out.text();
}

int32_t g_gtotals, g_gfreqs[NAA], g_gtotalp[NREG], g_gfreqp[NAA][NAA][NREG];
int32_t g_ptotals[NREG], g_pfreqs[NAA][NREG], g_ptotalp[NREG][NREG], g_pfreqp[NAA][NAA][NREG][NREG];

void count_model()
{
    static bool done = false;
    if (done) return;
    done = true;
    Lcg rng{2024};
    // Background: random residues, pairs counted at every distance class.
    static int8_t bg[3000];
    for (auto &r : bg) r = int8_t(rng.below(NAA));
    for (int i = 0; i < 3000; i++) {
        g_gfreqs[bg[i]]++;
        g_gtotals++;
        for (int d = 0; d < NREG && i + d + 1 < 3000; d++) {
            g_gfreqp[bg[i]][bg[i + d + 1]][d]++;
            g_gtotalp[d]++;
        }
    }
    // Coils: hydrophobic a and d, charged elsewhere, counted by the program's own rule.
    static const int8_t core[] = {0, 1, 2, 7}, surface[] = {8, 9, 11, 12, 13, 15};
    static int8_t seq[80], reg[80];
    for (int rec = 0; rec < 30; rec++) {
        int start = rng.below(NREG), len = 20 + rng.below(60);
        for (int i = 0; i < len; i++) {
            int p = (start + i) % NREG;
            seq[i] = (p == 0 || p == 3) ? core[rng.below(4)] : surface[rng.below(6)];
            reg[i] = int8_t(p);
        }
        add_seq2(g_pfreqs, g_ptotals, g_pfreqp, g_ptotalp, reg, seq, len, 1);
    }
}

}  // namespace

const std::string &model_genfreq()
{
    static const std::string s = [] {
        count_model();
        return write_to_string(
            [](FILE *fp) { return writegenfreq(fp, g_gtotals, g_gfreqs, g_gtotalp, g_gfreqp); });
    }();
    return s;
}

const std::string &model_posfreq()
{
    static const std::string s = [] {
        count_model();
        return write_to_string(
            [](FILE *fp) { return writeposfreq(fp, g_ptotals, g_pfreqs, g_ptotalp, g_pfreqp); });
    }();
    return s;
}

// ---- 5. Memory streams, buffers ------------------------------------------------------

MemIn::MemIn(const uint8_t *data, size_t size) : copy(reinterpret_cast<const char *>(data), size)
{
    // fmemopen may refuse a zero-sized buffer: an empty input gets one
    // padding byte that is consumed at once, leaving the stream at its end.
    if (size == 0) copy.push_back('\0');
    fp = fmemopen(copy.data(), copy.size(), "r");
    if (!fp) std::abort();
    if (size == 0) (void)std::fgetc(fp);
}

MemIn::MemIn(BorrowTag, const std::string &s)
{
    // A stream opened for reading never writes to its buffer.
    fp = s.empty() ? nullptr : fmemopen(const_cast<char *>(s.data()), s.size(), "r");
    if (!fp) std::abort();
}

MemIn::~MemIn()
{
    if (fp) std::fclose(fp);
}

MemOut::MemOut()
{
    fp = open_memstream(&buf, &len);
    if (!fp) std::abort();
}

MemOut::~MemOut()
{
    if (fp) std::fclose(fp);
    std::free(buf);
}

std::string MemOut::text()
{
    std::fflush(fp);
    return std::string(buf ? buf : "", len);
}

Buffers::Buffers()
    : seq(new int8_t[MAXSEQ]), reg(new int8_t[MAXSEQ]), title(new char[NAMELEN]), code(new char[NAMELEN]),
      sequence{0, seq, reg, title, code}
{
    std::memset(seq, 0x7f, MAXSEQ);
    std::memset(reg, 0x7f, MAXSEQ);
    std::memset(title, 'T', NAMELEN);
    std::memset(code, 'C', NAMELEN);
}

Buffers::~Buffers()
{
    delete[] seq;
    delete[] reg;
    delete[] title;
    delete[] code;
}

#include "harness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <cctype>
#include <sstream>
#include <stdexcept>

#include "scio.h"

TempDir::TempDir()
{
    char tmpl[] = "/tmp/vc2test.XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string &name, const std::string &content) const
{
    std::string p = file(name);
    std::ofstream f(p, std::ios::binary);
    f << content;
    return p;
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string TempDir::read(const std::string &name) const { return read_file(file(name)); }

bool TempDir::exists(const std::string &name) const { return std::filesystem::exists(file(name)); }

RunResult run_program(const std::string &exe, const std::vector<std::string> &args,
                      const std::string &cwd, const Env &env, const std::string &stdin_data)
{
    std::string base = cwd + "/.run";
    std::string in_path = base + ".in", out_path = base + ".out", err_path = base + ".err";
    {
        std::ofstream f(in_path, std::ios::binary);
        f << stdin_data;
    }
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(120);
        int in = open(in_path.c_str(), O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) _exit(121);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<std::string> envs;
        if (const char *p = std::getenv("PATH")) envs.push_back(std::string("PATH=") + p);
        // Sanitizer settings of the test build reach the child unchanged.
        for (const char *k : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TZ"})
            if (const char *v = std::getenv(k)) envs.push_back(std::string(k) + "=" + v);
        bool has_config = false, has_home = false;
        for (auto &[k, v] : env) {
            envs.push_back(k + "=" + v);
            has_config |= k == "VELCORIN_CONFIG";
            has_home |= k == "HOME";
        }
        if (!has_config) envs.push_back("VELCORIN_CONFIG=" + cwd + "/no-such-config");
        if (!has_home) envs.push_back("HOME=" + cwd);
        std::vector<char *> envp, argv;
        for (auto &e : envs)
            if (e.find("=\x01") == std::string::npos) envp.push_back(e.data());  // "\x01" value: unset
        envp.push_back(nullptr);
        std::string exe_copy = exe;
        argv.push_back(exe_copy.data());
        std::vector<std::string> args_copy = args;
        for (auto &a : args_copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execve(exe.c_str(), argv.data(), envp.data());
        _exit(122);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    RunResult r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = read_file(out_path);
    r.err = mask_timestamps(read_file(err_path));
    std::remove(in_path.c_str());
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return r;
}

RunResult run_velcorin2(const std::vector<std::string> &args, const std::string &cwd, const Env &env,
                        const std::string &stdin_data)
{
    return run_program(VELCORIN2_BIN, args, cwd, env, stdin_data);
}

// A ctime() line: "Www Mmm dd hh:mm:ss yyyy".
static bool is_time_line(const std::string &l)
{
    return l.size() == 24 && l[3] == ' ' && l[7] == ' ' && l[10] == ' ' && l[13] == ':' && l[16] == ':' &&
           l[19] == ' ' && std::isdigit((unsigned char)l[23]);
}

std::string mask_timestamps(const std::string &text)
{
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        size_t end = nl == std::string::npos ? text.size() : nl;
        std::string line = text.substr(at, end - at);
        out += is_time_line(line) ? "<time>" : line;
        if (nl == std::string::npos) break;
        out += '\n';
        at = nl + 1;
    }
    return out;
}

namespace {

// A fixed pseudo-random generator, so the model is the same on every host.
struct Lcg {
    uint32_t s;
    uint32_t next() { return s = s * 1664525u + 1013904223u; }
    int below(int n) { return int((next() >> 8) % uint32_t(n)); }
};

}  // namespace

void write_test_model(const TempDir &dir)
{
    static int32_t gtotals, gfreqs[NAA], gtotalp[NREG], gfreqp[NAA][NAA][NREG];
    static int32_t ptotals[NREG], pfreqs[NAA][NREG], ptotalp[NREG][NREG], pfreqp[NAA][NAA][NREG][NREG];
    gtotals = 0;
    std::memset(gfreqs, 0, sizeof gfreqs);
    std::memset(gtotalp, 0, sizeof gtotalp);
    std::memset(gfreqp, 0, sizeof gfreqp);
    std::memset(ptotals, 0, sizeof ptotals);
    std::memset(pfreqs, 0, sizeof pfreqs);
    std::memset(ptotalp, 0, sizeof ptotalp);
    std::memset(pfreqp, 0, sizeof pfreqp);

    // Background: uniform random residues.
    Lcg rng{12345};
    static int8_t bg[4000];
    for (auto &r : bg) r = int8_t(rng.below(NAA));
    for (int i = 0; i < 4000; i++) {
        gfreqs[bg[i]]++;
        gtotals++;
        for (int d = 0; d < NREG && i + d + 1 < 4000; d++) {
            gfreqp[bg[i]][bg[i + d + 1]][d]++;
            gtotalp[d]++;
        }
    }
    // Coils: hydrophobic residues (L, I, V, A) at a and d, charged ones elsewhere.
    static const int8_t core[] = {0, 1, 2, 7}, surface[] = {8, 9, 11, 12, 13, 15};
    for (int rec = 0; rec < 40; rec++) {
        int start = rng.below(NREG);
        int len = 21 + rng.below(30);
        for (int i = 0; i < len; i++) {
            int p = (start + i) % NREG;
            int8_t x = (p == 0 || p == 3) ? core[rng.below(4)] : surface[rng.below(6)];
            pfreqs[x][p]++;
            ptotals[p]++;
        }
        for (int i = 0; i + 7 < len; i++)
            for (int j = i + 1; j <= i + 7; j++) {
                int p = (start + i) % NREG, q = (start + j) % NREG;
                int8_t x = (p == 0 || p == 3) ? core[(i * 7 + rec) % 4] : surface[(i * 5 + rec) % 6];
                int8_t y = (q == 0 || q == 3) ? core[(j * 3 + rec) % 4] : surface[(j * 11 + rec) % 6];
                pfreqp[x][y][p][q]++;
                ptotalp[p][q]++;
            }
    }
    FILE *g = std::fopen(dir.file("gen.dat").c_str(), "wb");
    FILE *p = std::fopen(dir.file("pos.dat").c_str(), "wb");
    if (!g || !p) throw std::runtime_error("cannot write model");
    writegenfreq(g, gtotals, gfreqs, gtotalp, gfreqp);
    writeposfreq(p, ptotals, pfreqs, ptotalp, pfreqp);
    std::fclose(g);
    std::fclose(p);
}

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
#include <memory>
#include <cctype>
#include <sstream>
#include <stdexcept>

#include "scio.h"
#include "scpos.h"

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

void write_test_model(const TempDir &dir)
{
    auto g = std::make_unique<GenFreq>();
    auto pf = std::make_unique<PosFreq>();
    std::vector<int8_t> seq(4000), reg(4000);
    uint32_t state = 12345;  // a fixed generator: the same model on every host
    auto below = [&state](int n) { return int(((state = state * 1664525u + 1013904223u) >> 8) % uint32_t(n)); };

    // Background: uniform random residues.
    for (auto &r : seq) r = int8_t(below(NAA));
    add_genseq(*g, seq.data(), 4000);
    // Coils: L, I, V or A at a and d, charged and polar residues elsewhere.
    static const int8_t core[] = {0, 1, 2, 7}, surface[] = {8, 9, 11, 12, 13, 15};
    for (int rec = 0; rec < 40; rec++) {
        int start = below(NREG), len = 21 + below(30);
        for (int i = 0; i < len; i++) {
            reg[i] = int8_t((start + i) % NREG);
            seq[i] = (reg[i] == 0 || reg[i] == 3) ? core[below(4)] : surface[below(6)];
        }
        add_seq2(*pf, reg.data(), seq.data(), len, 1);
    }
    FILE *gf = std::fopen(dir.file("gen.dat").c_str(), "wb");
    FILE *pp = std::fopen(dir.file("pos.dat").c_str(), "wb");
    if (!gf || !pp) throw std::runtime_error("cannot write model");
    writegenfreq(gf, *g);
    writeposfreq(pp, *pf);
    std::fclose(gf);
    std::fclose(pp);
}

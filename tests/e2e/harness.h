// Helpers for end-to-end tests: run the real velcorin2 binary in a scratch
// directory and compare what it prints and writes.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct RunResult {
    int status = -1;   // exit status as the shell sees it (0..255), or 128+signal
    std::string out;   // standard output
    std::string err;   // standard error, timestamps replaced by "<time>"
};

// A scratch directory, removed with its contents when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    std::string write(const std::string &name, const std::string &content) const;  // returns full path
    std::string read(const std::string &name) const;
    bool exists(const std::string &name) const;

private:
    std::string path_;
};

using Env = std::vector<std::pair<std::string, std::string>>;

// Runs the binary with `args` in directory `cwd`.  The environment is
// cleared except PATH; VELCORIN_CONFIG points to a missing file unless
// `env` sets it, and HOME is `cwd` unless `env` sets it.
RunResult run_velcorin2(const std::vector<std::string> &args, const std::string &cwd,
                        const Env &env = {}, const std::string &stdin_data = "");
RunResult run_program(const std::string &exe, const std::vector<std::string> &args,
                      const std::string &cwd, const Env &env = {},
                      const std::string &stdin_data = "");

// Replaces every line that looks like ctime() output with "<time>".
std::string mask_timestamps(const std::string &text);

// Writes a small but complete model into `dir`: "gen.dat" (GenFreq) and
// "pos.dat" (PosFreq), counted from a fixed synthetic sequence set so that
// every run of the tests sees the same numbers.
void write_test_model(const TempDir &dir);

std::string read_file(const std::string &path);

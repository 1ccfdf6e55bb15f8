// fuzz_common: set-up, scratch directory, the fixed model and memory streams.
#include "fuzz_common.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "velcorin2/counting.h"
#include "velcorin2/io.h"
#include "velcorin2/report.h"
#include "velcorin2/velcorin2.h"

using namespace velcorin2;

namespace {
std::string g_scratch;
std::map<std::string, std::string> g_fixtures;

void remove_all(bool keep_fixtures)
{
    DIR *d = opendir(g_scratch.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent *e = readdir(d))
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
    closedir(d);
    for (auto &n : names)
        if (!keep_fixtures || !g_fixtures.count(n)) unlink(scratch_path(n.c_str()).c_str());
}
}  // namespace

void fuzz_fail(const char *file, int line, const char *what)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}

void fuzz_setup()
{
    if (!g_scratch.empty()) return;
    if (!std::freopen("/dev/null", "r", stdin) || !std::freopen("/dev/null", "w", stdout)) std::abort();
    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/vc2fuzz.XXXXXX";
    if (!mkdtemp(tmpl.data()) || chdir(tmpl.c_str()) != 0) std::abort();
    g_scratch = tmpl;
    std::atexit([] {
        remove_all(false);
        rmdir(g_scratch.c_str());
    });
    setenv("HOME", g_scratch.c_str(), 1);
    setenv("VELCORIN_CONFIG", scratch_path("no-such-config").c_str(), 1);
}

std::string scratch_path(const char *name) { return g_scratch + "/" + name; }

void add_fixture(const char *name, const std::string &content)
{
    g_fixtures[name] = content;
    FILE *f = std::fopen(scratch_path(name).c_str(), "wb");
    if (!f || std::fwrite(content.data(), 1, content.size(), f) != content.size()) std::abort();
    std::fclose(f);
}

void reset_scratch()
{
    remove_all(true);
    for (auto &[name, content] : g_fixtures) add_fixture(name.c_str(), content);
}

namespace {
// A small consistent model, counted the program's own way from fixed
// sequences: a background of every residue pair, and heptads with L and I at
// a and d.
struct Model {
    std::string gen, pos;
    Model()
    {
        auto g = std::make_unique<BackgroundCounts>();
        auto p = std::make_unique<CoilCounts>();
        Sequence bg, coil;
        for (int a = 0; a < NAA; a++)
            for (int b = 0; b < NAA; b++) bg.residues.insert(bg.residues.end(), {int8_t(a), int8_t(b)});
        bg.length = int32_t(bg.residues.size());
        add_background_counts(*g, bg);
        for (int i = 0; i < 700; i++) {
            coil.registers.push_back(int8_t(i % NREG));
            coil.residues.push_back(int8_t(i % NREG == 0 ? 0 : i % NREG == 3 ? 1 : (i * 7) % NAA));
        }
        coil.length = int32_t(coil.residues.size());
        add_coil_counts(*p, coil, 1);
        MemOut a, b;
        write_background_counts(a.fp, *g);
        write_coil_counts(b.fp, *p);
        gen = a.text();
        pos = b.text();
    }
};
const Model &model()
{
    static const Model m;
    return m;
}
}  // namespace

const std::string &model_genfreq() { return model().gen; }
const std::string &model_posfreq() { return model().pos; }

MemIn::MemIn(std::string s) : copy(std::move(s))
{
    // An empty input is an empty stream; fmemopen needs at least one byte.
    fp = copy.empty() ? std::fopen("/dev/null", "r") : fmemopen(copy.data(), copy.size(), "r");
    if (!fp) std::abort();
}

MemOut::MemOut() : fp(open_memstream(&buf, &len))
{
    if (!fp) std::abort();
}
MemOut::~MemOut()
{
    std::fclose(fp);
    std::free(buf);
}
std::string MemOut::text()
{
    std::fflush(fp);
    return std::string(buf, len);
}

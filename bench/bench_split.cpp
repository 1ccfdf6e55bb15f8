// Splits the run time of velcorin2 into reading, scoring and formatting the
// table, over the same FASTA input and model the program would use.
//   bench_split <genfreq> <posfreq> <fasta> d1 d2 d3
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "velcorin2/io.h"
#include "velcorin2/report.h"
#include "velcorin2/velcorin2.h"

using namespace velcorin2;

int main(int argc, char **argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: bench_split genfreq posfreq fasta d1 d2 d3\n");
        return 1;
    }
    ModelRecipe recipe;
    recipe.background_counts = argv[1];
    recipe.coil_counts = argv[2];
    recipe.distances = {std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6])};
    std::unique_ptr<Model> model = load_model(recipe);
    FILE *in = open_input(argv[3]);
    Sequence rec;
    Workspace w;
    Prediction p;
    std::string table;
    using clk = std::chrono::steady_clock;
    double t_read = 0, t_score = 0, t_format = 0;
    long residues = 0;
    for (;;) {
        auto t0 = clk::now();
        if (!read_fasta_record(in, rec, DEFAULT_MAX_LENGTH)) break;
        auto t1 = clk::now();
        predict(*model, rec, {}, w, p);
        auto t2 = clk::now();
        table.clear();
        if (p.scored) write_residue_table(model->pscores, rec, p, table);
        auto t3 = clk::now();
        t_read += std::chrono::duration<double>(t1 - t0).count();
        t_score += std::chrono::duration<double>(t2 - t1).count();
        t_format += std::chrono::duration<double>(t3 - t2).count();
        if (p.scored) residues += rec.length;
    }
    std::printf("residues scored     %ld\n", residues);
    std::printf("reading FASTA       %.3f s\n", t_read);
    std::printf("scoring             %.3f s  (%.0f residues/s)\n", t_score, residues / t_score);
    std::printf("formatting the table %.3f s  (%.0f residues/s)\n", t_format, residues / t_format);
    return 0;
}

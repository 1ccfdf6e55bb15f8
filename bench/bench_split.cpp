// Splits the run time of velcorin2 into reading, scoring and formatting the
// table, over the same FASTA input and model the program would use.
//   bench_split <genfreq> <posfreq> <fasta> d1 d2 d3
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "output.h"
#include "scio.h"
#include "scscore.h"
#include "velcorin2.h"

int main(int argc, char **argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: bench_split genfreq posfreq fasta d1 d2 d3\n");
        return 1;
    }
    RunSettings s;
    s.mode = MODE_PROLINEFREE;
    for (int f = 0; f < 3; f++) s.lib[f] = int8_t(std::atoi(argv[4 + f]));
    auto g = std::make_unique<GenFreq>();
    auto p = std::make_unique<PosFreq>();
    readgenfreq(sopen(argv[1], "r"), *g);
    readposfreq(sopen(argv[2], "r"), *p);
    auto model = std::make_unique<PairModel>();
    build_pair_model(*model, *g, p.get(), s);
    FILE *in = sopen(argv[3], "r");
    Sequence rec;
    Workspace w;
    std::unique_ptr<double[][NREG]> scs;
    std::unique_ptr<int8_t[]> offsets;
    int32_t capacity = 0;
    std::string table;
    using clk = std::chrono::steady_clock;
    double t_read = 0, t_score = 0, t_format = 0;
    long residues = 0;
    for (;;) {
        auto t0 = clk::now();
        if (!getseq2(in, rec, s.max_length)) break;
        auto t1 = clk::now();
        double score;
        bool scored = rec.seqlen >= s.window_length;
        if (rec.seqlen > capacity) {
            capacity = rec.seqlen;
            scs.reset(new double[size_t(capacity)][NREG]);
            offsets.reset(new int8_t[size_t(capacity)]);
        }
        if (scored) scseqadj(*model, s, w, rec.seq.data(), rec.seqlen, scs.get(), offsets.get(), &score);
        auto t2 = clk::now();
        table.clear();
        if (scored)
            txt_output2(builtin_pscores(), rec.code, rec.title, rec.seq.data(), rec.seqlen, table, scs.get(),
                        offsets.get());
        auto t3 = clk::now();
        t_read += std::chrono::duration<double>(t1 - t0).count();
        t_score += std::chrono::duration<double>(t2 - t1).count();
        t_format += std::chrono::duration<double>(t3 - t2).count();
        if (scored) residues += rec.seqlen;
    }
    std::printf("residues scored     %ld\n", residues);
    std::printf("reading FASTA       %.3f s\n", t_read);
    std::printf("scoring             %.3f s  (%.0f residues/s)\n", t_score, residues / t_score);
    std::printf("formatting the table %.3f s  (%.0f residues/s)\n", t_format, residues / t_format);
    return 0;
}

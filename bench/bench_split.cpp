// Splits the run time of velcorin2 into reading, scoring and table writing,
// over the same FASTA input and model the program would use.
//   bench_split <genfreq> <posfreq> <fasta> d1 d2 d3
#include <chrono>
#include <cstdio>
#include <cstdlib>

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
    static int32_t gtotals, gfreqs[NAA], gtotalp[NREG], gfreqp[NAA][NAA][NREG];
    static int32_t ptotals[NREG], pfreqs[NAA][NREG], ptotalp[NREG][NREG], pfreqp[NAA][NAA][NREG][NREG];
    static int8_t seq[MAXSEQ], reg[MAXSEQ], offsets[MAXSEQ];
    static char title[NAMELEN], code[NAMELEN];
    static double scs[MAXSEQ][NREG];
    int8_t lib[NREG] = {int8_t(std::atoi(argv[4])), int8_t(std::atoi(argv[5])), int8_t(std::atoi(argv[6]))};
    readgenfreq(sopen(argv[1], "r"), &gtotals, gfreqs, gtotalp, gfreqp, stderr);
    readposfreq(sopen(argv[2], "r"), ptotals, pfreqs, ptotalp, pfreqp, stderr);
    calcgprobs(gfreqs, gtotals, gprobs);
    calcgprobp(gfreqp, gtotalp, gprobp);
    calcpprobs(pfreqs, ptotals, pprobs, MODE_PROLINEFREE);
    calcpprobp(pfreqp, ptotalp, pprobs, pprobp, MODE_PROLINEFREE);
    FILE *in = sopen(argv[3], "r");
    FILE *null = std::fopen("/dev/null", "w");
    Sequence s{0, seq, reg, title, code};
    using clk = std::chrono::steady_clock;
    double t_read = 0, t_score = 0, t_write = 0;
    long residues = 0;
    for (;;) {
        auto t0 = clk::now();
        if (!getseq2(in, &s)) break;
        auto t1 = clk::now();
        double score;
        bool scored = s.seqlen >= window_length;
        if (scored) {
            WINDOW = 30;
            scseqadj(lib, seq, s.seqlen, scs, offsets, &score, MODE_PROLINEFREE);
        }
        auto t2 = clk::now();
        if (scored) txt_output2(code, title, seq, s.seqlen, null, scs, offsets);
        auto t3 = clk::now();
        t_read += std::chrono::duration<double>(t1 - t0).count();
        t_score += std::chrono::duration<double>(t2 - t1).count();
        t_write += std::chrono::duration<double>(t3 - t2).count();
        if (scored) residues += s.seqlen;
    }
    std::printf("residues scored   %ld\n", residues);
    std::printf("reading FASTA     %.3f s\n", t_read);
    std::printf("scoring           %.3f s  (%.0f residues/s)\n", t_score, residues / t_score);
    std::printf("writing the table %.3f s  (%.0f residues/s)\n", t_write, residues / t_write);
    return 0;
}

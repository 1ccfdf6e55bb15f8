// sc2seq: the command line and the per-sequence driver.
//
// Contents:
//   velcorin2_main  the whole run: settings, configuration, options, files
//   calcseq         load the model, then score and report every record
//   nondot_advance  next stretch of residues with given registers
#pragma once

#include <cstdint>
#include <cstdio>

int velcorin2_main(int argc, char **argv);

int calcseq(FILE *fgin, FILE *fpin, FILE *ftest, FILE *fout, FILE *flog, FILE *flog_seq,
            FILE *regionfile, int mode, double bound, double upper_bound, const int8_t *lib);

int nondot_advance(int *st, int *en, const int8_t *seq, const int8_t *reg, int seqlen, int posp);

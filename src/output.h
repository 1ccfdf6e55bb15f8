// output: per-residue table, coil logs, PostScript plot, global p-score table.
//
// Contents:
//   score2prob, prob2score        the global score <-> p-score table
//   txt_output2                   the per-residue table
//   log_output_ver                score line
//   log_output_prn3, log_print_coil, print_coil3   coil report and map
//   res_compare                   one page of the comparison plot
#pragma once

#include <cstdint>
#include <cstdio>

#include "velcorin2.h"

double score2prob(double score);
double prob2score(double prob);

void txt_output2(const char *code, const char *title, const int8_t *seq, int32_t seqlen, FILE *fout,
                 const double scs[][NREG], const int8_t *offsets);

void log_output_ver(double score, int cnt, const char *title, const char *code, FILE *flog);
void log_output_prn3(int mode, double score, const double scs[][NREG], const int8_t *offsets,
                     int32_t seqlen, int cnt, Sequence sequence, double bound, double upper_bound,
                     FILE *flog, FILE *flog_seq);
void log_print_coil(FILE *flog, double score, int from, int to, int reg);
void print_coil3(int mode, int32_t seqlen, const int8_t *reg, const double scs[][NREG], double bound,
                 double upper_bound, const int8_t *offsets, const int8_t *seq, FILE *flog);

void res_compare(FILE *ps, const double *sc1, const double *sc2, const Sequence *sequence,
                 FILE *regionfile);

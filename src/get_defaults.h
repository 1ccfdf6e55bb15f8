// get_defaults: the configuration file.
//
// Contents:
//   get_defaults  read VELCORIN_CONFIG (or $HOME/.velcorin2) before the command line
//   strchrs       first occurrence of the first of a set of characters that occurs
#pragma once

#include <cstdint>
#include <cstdio>

int get_defaults(int *mode, double *bound, FILE **fgin, FILE **fpin, FILE **ftest, FILE **fout,
                 FILE **flog, int8_t *lib, int *libnum, int *functnum);

const char *strchrs(const char *str, const char *chrs);

#include "scscore.h"
int32_t window_length = 28;
int32_t WINDOW = 30;
int32_t functnum = 3;
int32_t prog = 1;
double gprobs[NAA];
double gprobp[NAA][NAA][NREG];
double pprobs[NAA][NREG];
double pprobp[NAA][NAA][NREG][NREG];
double seq_scr2pscr(double) { return 0.0; }  // placeholder

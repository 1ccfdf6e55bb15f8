// velcorin2: coiled-coil prediction from pair correlations across heptad registers.
#include "sc2seq.h"

int main(int argc, char **argv) { return velcorin2_main(argc, argv); }

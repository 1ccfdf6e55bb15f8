// velcorin2: coiled-coil prediction from pair correlations across heptad registers.
#include "cli.h"

int main(int argc, char **argv) { return velcorin2::cli::velcorin2_main(argc, argv); }

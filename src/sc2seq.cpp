#include "sc2seq.h"
int velcorin2_main(int, char **) { return 0; }

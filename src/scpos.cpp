#include "scpos.h"

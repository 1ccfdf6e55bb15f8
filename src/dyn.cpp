#include "dyn.h"

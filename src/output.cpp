#include "output.h"

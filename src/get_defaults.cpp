#include "get_defaults.h"

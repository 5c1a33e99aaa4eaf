#include "generator/strobe.h"

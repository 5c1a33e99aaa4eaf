#include "generator/generator_state.h"

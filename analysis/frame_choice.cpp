#include "analysis/frame_choice.h"

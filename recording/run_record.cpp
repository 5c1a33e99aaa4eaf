#include "recording/run_record.h"

#include "platform/gst/stored_controls.h"

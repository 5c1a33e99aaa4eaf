#include "platform/gdiplus/encoders.h"

namespace gdiplus {

bool EncoderInstalled(const char*) {
  return true;
}

}  // namespace gdiplus

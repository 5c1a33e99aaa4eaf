#include "tests/imaging/missing_encoders.h"

#include "platform/gdiplus/encoders.h"

namespace testing_support {

std::set<std::string>& MissingEncoders() {
  static std::set<std::string> missing;
  return missing;
}

}  // namespace testing_support

namespace gdiplus {

bool EncoderInstalled(const char* encoderText) {
  return testing_support::MissingEncoders().count(encoderText) == 0;
}

}  // namespace gdiplus

// libFuzzer target: any bytes, read as the 32-bit elements of a packed bitmap, go through the
// picture conversion. It must answer with a picture, a report or error 9, and nothing else.

#include <QLoggingCategory>
#include <cstdint>
#include <cstring>

#include "imaging/direct_show_dib.h"
#include "platform/forms/runtime_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Each failed conversion leaves a log line: with millions of inputs, only noise here.
  static const bool quiet = [] {
    QLoggingCategory::setFilterRules(QStringLiteral("strobolux.imaging.warning=false"));
    return true;
  }();
  static_cast<void>(quiet);
  forms::LongArray array;
  array.Elements.resize((size + 3) / 4);
  if (size > 0) std::memcpy(array.Elements.data(), data, size);
  static imaging::DirectShowDIB dib;
  try {
    const auto picture = dib.CreatePicture(array);
    if (picture) {
      const QImage image = picture->Image();
      if (image.isNull()) __builtin_trap();
    } else if (dib.LastDescription.isEmpty()) {
      __builtin_trap();  // a failure must say why
    }
  } catch (const forms::RuntimeError& error) {
    if (error.Number() != forms::kSubscriptOutOfRange) __builtin_trap();
  }
  return 0;
}

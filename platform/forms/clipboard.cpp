#include "platform/forms/clipboard.h"

namespace forms {
namespace {

QImage& Content() {
  static QImage content;
  return content;
}

}  // namespace

void Clipboard::SetData(const QImage& image) {
  Content() = image.copy();
}

QImage Clipboard::GetData() {
  return Content();
}

void Clipboard::Clear() {
  Content() = QImage();
}

}  // namespace forms

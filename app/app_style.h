#pragma once

class QApplication;

namespace app {

// The look every window is laid out for: one style and a font with Cyrillic glyphs whose
// metrics the fixed control rectangles were sized against.
void ApplyApplicationStyle(QApplication& application);

}  // namespace app

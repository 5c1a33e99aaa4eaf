#pragma once
// The clipboard the capture window copies a frame into and the recording reads it back from.
// It stands in for the system clipboard of the original, but belongs to this process alone:
// the desktop's clipboard is the operator's (a line copied into a lab notebook during a run
// must stay there), and under Wayland a client without a recent input event may not set it.

#include <QImage>

namespace forms {

class Clipboard {
 public:
  // Replaces the content with a bitmap (an image of its own, never a view of a camera buffer).
  static void SetData(const QImage& image);
  // The bitmap last placed, or a null image when there is none.
  static QImage GetData();
  static void Clear();
};

}  // namespace forms

#include "platform/graph/video_window.h"

#include "platform/graph/graph.h"

namespace graph {

VideoWindow::VideoWindow() {
  SetStretch(true);
  SetInterval(0);
  setWindowTitle(QStringLiteral("ActiveMovie Window"));
}

void VideoWindow::ApplyStyle(std::int32_t style) {
  style_ = style;
  if (parentWidget()) return;  // a child window has no frame of its own
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
  // The menu and the buttons live in the caption: without one they go too (Qt would put a
  // title bar back for any of them).
  if ((style & WS_CAPTION) == WS_CAPTION) {
    flags |= Qt::WindowTitleHint;
    if (style & WS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (style & WS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
    if (style & WS_MAXIMIZEBOX) flags |= Qt::WindowMaximizeButtonHint;
  }
  if (!(style & (WS_CAPTION | WS_THICKFRAME))) flags |= Qt::FramelessWindowHint;
  const bool shown = isVisible();
  setWindowFlags(flags);
  if (shown) show();
}

}  // namespace graph

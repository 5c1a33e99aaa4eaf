#pragma once
// The video renderer's window: the camera's frames stretched over it. On its own it is a
// top-level window whose caption, sizing frame and system menu follow the style bits; given
// an owner it becomes a child of the owner's client area.

#include <cstdint>

#include "platform/gst/camera_preview.h"

namespace graph {

class VideoWindow : public gst::CameraPreview {
  Q_OBJECT

 public:
  VideoWindow();

  void ApplyStyle(std::int32_t style);
  std::int32_t Style() const { return style_; }

 private:
  std::int32_t style_ = 0;
};

}  // namespace graph

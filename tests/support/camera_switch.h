#pragma once
// Switching the camera on as the operator does, with either back end: for the main window
// and for the recording window alike, which have the same camera buttons.

#include <gtest/gtest.h>

#include <QString>
#include <QTest>
#include <cstdint>

#include "platform/capture/capture.h"
#include "platform/capture/capture_window.h"
#include "tests/support/camera_support.h"
#include "tests/support/test_support.h"

namespace testing_support {

// How long the first frames of a camera just switched on may take.
constexpr int kFirstFramesMs = 5000;

// The Camera button with the capture window chosen: the camera is on in its window, which
// has shown `frames` frames (0: not waited for).
template <typename Window>
void CaptureWindowOn(Window& form, std::uint64_t frames = 2) {
  QTest::mouseClick(form.Command11, Qt::LeftButton);
  ASSERT_EQ(form.CameraOn(), 1);
  auto* window =
      static_cast<capture::CaptureWindow*>(capture::WindowOf(form.CameraState().CaptureWindow));
  ASSERT_TRUE(window);
  if (frames > 0) {
    ASSERT_TRUE(WaitFor([&] { return window->ShownCount() >= frames; }, kFirstFramesMs));
  }
}

namespace detail {

// The filter graph chosen and the Camera button pressed: the graph's list of cameras is up.
template <typename Window>
void OpenGraphCameras(Window& form) {
  form.Option8->click();
  QTest::mouseClick(form.Command11, Qt::LeftButton);
}

// The camera on `row` of that list chosen: it is on, and the graph has passed `frames`
// frames (0: not waited for).
template <typename Window>
void ChooseGraphCamera(Window& form, int row, std::uint64_t frames) {
  ClickListRow(form.Combo2, row);
  ASSERT_EQ(form.CameraOn(), 1);
  if (frames > 0) {
    ASSERT_TRUE(
        WaitFor([&] { return form.CameraState().FilterGraph->Camera()->FrameCount() >= frames; },
                kFirstFramesMs));
  }
}

}  // namespace detail

// The filter graph chosen, then the Camera button and the camera on `row` of the list it
// opens: the camera is on, and the graph has passed `frames` frames (0: not waited for).
template <typename Window>
void FilterGraphOn(Window& form, int row, std::uint64_t frames = 2) {
  detail::OpenGraphCameras(form);
  detail::ChooseGraphCamera(form, row, frames);
}

// The same with the camera of this name.
template <typename Window>
void FilterGraphOn(Window& form, const QString& camera, std::uint64_t frames = 2) {
  detail::OpenGraphCameras(form);
  const int row = form.Combo2->findText(camera);
  ASSERT_GE(row, 0);
  detail::ChooseGraphCamera(form, row, frames);
}

}  // namespace testing_support

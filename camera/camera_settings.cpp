// The camera settings commands: format, properties, frame rate and compression.

#include "camera/camera_control.h"
#include "platform/forms/conversions.h"
#include "platform/forms/runtime_error.h"
#include "platform/graph/video_dialogs.h"

namespace camera {

void CameraControl::Command12_Click() {
  if (controls_.Option7->isChecked())
    state_.LastCapResult = static_cast<std::int32_t>(
        capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_DLG_VIDEOFORMAT, 0, 0));
  if (controls_.Option8->isChecked()) {
    // Nothing chosen yet: there is no pin to set a format for.
    if (!state_.FilterGraph || !state_.CapturePin || !state_.VideoWindow) return;
    controls_.Shape1->setVisible(true);
    directshow_.StopAndHide();
    state_.CapturePin->Disconnect();
    {
      graph::PinFormatDialog dialog;
      dialog.AttachPin(state_.CapturePin);
      dialog.ShowDialog(controls_.MainWindow);
    }
    directshow_.RenderAndPreview();
  }
}

void CameraControl::Command15_Click() {
  if (controls_.Option7->isChecked())
    state_.LastCapResult = static_cast<std::int32_t>(
        capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_DLG_VIDEOSOURCE, 0, 0));
  if (controls_.Option8->isChecked()) {
    if (!state_.CaptureFilter) return;
    graph::FilterPropertiesDialog dialog;
    dialog.AttachFilter(state_.CaptureFilter);
    dialog.ShowDialog(controls_.MainWindow);
  }
}

void CameraControl::Command22_Click() {
  // A rate of 0 or a text that is no number would end in a division by zero or a failed
  // conversion: the operator is told, the preview interval stays.
  std::int32_t rate = 0;
  try {
    rate = forms::CLng(controls_.Text40->text());
    if (rate == 0) forms::Raise(forms::kDivisionByZero);
  } catch (const forms::RuntimeError& error) {
    ReportCameraFailure("the frame rate", error);
    return;
  }
  state_.LastCapResult = rate;
  capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_SET_PREVIEWRATE,
                        static_cast<capture::WPARAM>(static_cast<std::intptr_t>(1000 / rate)), 0);
}

void CameraControl::Command2_Click() {
  capture::SendMessageA(state_.CaptureWindow, capture::WM_CAP_DLG_VIDEOCOMPRESSION, 0, 0);
}

}  // namespace camera

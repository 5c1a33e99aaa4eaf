#include "camera/directshow_capture.h"

#include <QElapsedTimer>
#include <algorithm>

#include "camera/camera_control.h"
#include "camera/logging.h"
#include "platform/forms/runtime_error.h"

namespace camera {
namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kCapPin = QStringLiteral("CapPin=   ");
constexpr std::int32_t kStyleWithoutFrame = static_cast<std::int32_t>(0xFFB3FFFF);
constexpr std::int64_t kPauseLimitMs = 2000;

}  // namespace

void DirectShowCapture::ListCameras() {
  controls_.Combo2->clear();
  {
    graph::VideoDeviceEnumerator enumerator;
    state_.VideoDevices = enumerator.Devices(QString::fromLatin1(graph::kVideoInputDeviceCategory));
  }
  const graph::DeviceCollection& devices = *state_.VideoDevices;
  if (devices.DeviceCount() < 1) {
    qCWarning(lcCameraControl) << "the filter graph's camera list: no camera found";
    controls_.Status->Say(QStringLiteral(" No cameras found!"));
    return;
  }
  for (std::int32_t i = 0; i < devices.DeviceCount(); ++i)
    controls_.Combo2->addItem(devices.DeviceItem(i)->DeviceName());
  controls_.Status->Say(QStringLiteral(" Ready for camera selection"));
  controls_.Combo2->setEditText(QStringLiteral("выберете вэбкамеру из списка"));
}

void DirectShowCapture::Combo2_Click() {
  BuildCameraGraph(static_cast<std::int16_t>(controls_.Combo2->currentIndex()));
}

void DirectShowCapture::BuildCameraGraph(std::int16_t row) {
  // The previous graph holds the camera: it goes before a new one opens it.
  ReleaseGraph();
  try {
    state_.FilterGraph = std::make_shared<graph::FilgraphManager>();
    graph::FilgraphManager& filterGraph = *state_.FilterGraph;
    filterGraph.SetErrorHandler([this](const QString& reason) { ShowFailure(reason); });
    filterGraph.SetResumeHandler([this] { ClearFailureText(*controls_.Status, true, false); });
    if (!state_.VideoDevices) forms::Raise(forms::kObjectVariableNotSet);
    const std::shared_ptr<graph::CaptureDevice> device = state_.VideoDevices->DeviceItem(row);
    state_.CameraInfo = device->DeviceName() + kCrLf;
    state_.CaptureFilter = device->AddToGraph(filterGraph);
    state_.CapturePin.reset();
    for (const std::shared_ptr<graph::IPinInfo>& pin : state_.CaptureFilter->Pins()) {
      state_.CapturePin = pin;
      if (pin->Direction() != graph::PINDIR_OUTPUT) continue;
      state_.CameraInfo += kCapPin + QString::number(pin->Direction()) + kCrLf;
      state_.CameraInfo += kCapPin + pin->Name() + kCrLf;
      emit owner_.CameraInfoShown(state_.CameraInfo);
      AddDecompressorRenderAndPreview();
      return;
    }
    state_.CapturePin.reset();
    qCWarning(lcCameraControl) << "the camera's graph:" << state_.CameraInfo.trimmed()
                               << "has no output pin";
    controls_.Status->Say(QStringLiteral(" Couldn't find capture pin!"));
  } catch (const forms::RuntimeError& error) {
    forms::LogFailure(lcCameraControl(), "the camera's graph", error);
    ReleaseGraph();
    ShowFailure(error.Description());
  }
}

void DirectShowCapture::AddDecompressorRenderAndPreview() {
  for (const auto& registered : state_.FilterGraph->RegFilterCollection()) {
    if (registered->Name() == QLatin1String(graph::kAviDecompressor)) {
      registered->Filter();
      break;
    }
  }
  state_.CapturePin->Render();
  StartPreview();
}

void DirectShowCapture::RenderAndPreview() {
  try {
    AddDecompressorRenderAndPreview();
  } catch (const forms::RuntimeError& error) {
    forms::LogFailure(lcCameraControl(), "the camera's graph", error);
    ReleaseGraph();
    ShowFailure(error.Description());
  }
}

void DirectShowCapture::StartPreview() {
  graph::FilgraphManager& filterGraph = *state_.FilterGraph;
  state_.VideoWindow = std::shared_ptr<graph::IVideoWindow>(state_.FilterGraph, &filterGraph);
  graph::IVideoWindow& window = *state_.VideoWindow;
  window.SetFullScreenMode(graph::OAFALSE);
  window.SetWindowStyle(window.WindowStyle() & kStyleWithoutFrame);
  window.SetLeft(8);
  window.SetTop(0);
  window.SetOwner(controls_.MainWindow);
  window.SetAutoShow(graph::OATRUE);
  window.SetVisible(graph::OATRUE);
  filterGraph.Run();
  state_.BasicVideo = std::shared_ptr<graph::IBasicVideo>(state_.FilterGraph, &filterGraph);
  window.SetWidth(640);
  window.SetHeight(480);
  const gst::CameraPipeline* camera = filterGraph.Camera();
  controls_.Status->Say(QStringLiteral(" Previewing camera") +
                        ControlsNoticeText(camera ? camera->ControlsNotice() : QString()));
  state_.CameraOn = 1;
  previewing_ = true;
}

void DirectShowCapture::StopAndHide() {
  state_.FilterGraph->Stop();
  graph::IVideoWindow& window = *state_.VideoWindow;
  window.SetAutoShow(graph::OAFALSE);
  window.SetVisible(graph::OAFALSE);
  window.SetOwner(nullptr);
}

void DirectShowCapture::SwitchOff() {
  if (!state_.FilterGraph || !state_.VideoWindow) return;  // nothing chosen, or already off
  StopAndHide();
  if (state_.CapturePin) state_.CapturePin->Disconnect();
  state_.FilterGraph.reset();
  previewing_ = false;
}

void DirectShowCapture::ShutdownAtExit() {
  if (!state_.VideoWindow || !state_.FilterGraph) return;
  StopAndHide();
}

void DirectShowCapture::ReleaseGraph() {
  if (state_.FilterGraph) {
    state_.FilterGraph->Stop();
    if (state_.VideoWindow) {
      state_.VideoWindow->SetVisible(graph::OAFALSE);
      state_.VideoWindow->SetOwner(nullptr);
    }
    if (state_.CapturePin) state_.CapturePin->Disconnect();
  }
  // Every view of the graph lets go of it, so that it and its camera are released.
  state_.VideoWindow.reset();
  state_.BasicVideo.reset();
  state_.FilterGraph.reset();
  // Only a graph that previewed had set the flag; a capture-window camera left on keeps it.
  if (previewing_) state_.CameraOn = 0;
  previewing_ = false;
}

void DirectShowCapture::ShowFailure(const QString& reason) {
  controls_.Status->Say(CameraErrorText(reason));
}

forms::LongArray DirectShowCapture::CurrentImage() {
  if (!state_.FilterGraph || !state_.BasicVideo) forms::Raise(forms::kObjectVariableNotSet);
  graph::FilgraphManager& filterGraph = *state_.FilterGraph;
  filterGraph.Pause();
  // Whatever happens below, the preview does not stay frozen.
  struct RunAgain {
    graph::FilgraphManager& g;
    ~RunAgain() {
      try {
        g.Run();
      } catch (const forms::RuntimeError& error) {
        // The frame's own failure, if any, is the one reported; this one is only traced.
        forms::LogFailure(lcCameraControl(), "the preview after a frame", error);
      }
    }
  } run_again{filterGraph};
  std::int32_t state = graph::State_Running;
  QElapsedTimer waited;
  waited.start();
  do {
    filterGraph.GetState(64, &state);
    if (waited.elapsed() > kPauseLimitMs)
      graph::Fail(graph::VFW_E_WRONG_STATE, QStringLiteral("граф не встаёт на паузу"));
  } while (state != graph::State_Stopped && state != graph::State_Paused);
  std::int32_t size = 0;
  graph::HRESULT result = state_.BasicVideo->GetCurrentImage(&size, nullptr);
  if (result != graph::S_OK) graph::Fail(result, QStringLiteral("нет текущего кадра"));
  forms::LongArray image;
  image.Elements.resize(static_cast<std::size_t>(std::max(size / 4, 0)));
  // The buffer's own size goes with it, so that nothing is written past its end.
  std::int32_t capacity = static_cast<std::int32_t>(image.Elements.size() * 4);
  result = state_.BasicVideo->GetCurrentImage(&capacity, image.Elements.data());
  if (result != graph::S_OK) graph::Fail(result, QStringLiteral("нет текущего кадра"));
  return image;
}

}  // namespace camera

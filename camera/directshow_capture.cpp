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
    *controls_.VideoDevices =
        enumerator.Devices(QString::fromLatin1(graph::kVideoInputDeviceCategory));
  }
  const graph::DeviceCollection& devices = **controls_.VideoDevices;
  if (devices.DeviceCount() < 1) {
    controls_.Label1->setText(QStringLiteral(" No cameras found!"));
    return;
  }
  for (std::int32_t i = 0; i < devices.DeviceCount(); ++i)
    controls_.Combo2->addItem(devices.DeviceItem(i)->DeviceName());
  controls_.Label1->setText(QStringLiteral(" Ready for camera selection"));
  controls_.Combo2->setEditText(QStringLiteral("выберете вэбкамеру из списка"));
}

void DirectShowCapture::Combo2_Click() {
  BuildCameraGraph(static_cast<std::int16_t>(controls_.Combo2->currentIndex()));
}

void DirectShowCapture::BuildCameraGraph(std::int16_t row) {
  // The previous graph holds the camera: it goes before a new one opens it.
  ReleaseGraph();
  try {
    *controls_.FilterGraph = std::make_shared<graph::FilgraphManager>();
    graph::FilgraphManager& filterGraph = **controls_.FilterGraph;
    filterGraph.SetErrorHandler([this](const QString& reason) { ShowFailure(reason); });
    if (!*controls_.VideoDevices) forms::Raise(forms::kObjectVariableNotSet);
    const std::shared_ptr<graph::CaptureDevice> device = (*controls_.VideoDevices)->DeviceItem(row);
    *controls_.CameraInfo = device->DeviceName() + kCrLf;
    *controls_.CaptureFilter = device->AddToGraph(filterGraph);
    controls_.CapturePin->reset();
    for (const std::shared_ptr<graph::IPinInfo>& pin : (*controls_.CaptureFilter)->Pins()) {
      *controls_.CapturePin = pin;
      if (pin->Direction() != graph::PINDIR_OUTPUT) continue;
      *controls_.CameraInfo += kCapPin + QString::number(pin->Direction()) + kCrLf;
      *controls_.CameraInfo += kCapPin + pin->Name() + kCrLf;
      controls_.Picture2->Print(*controls_.CameraInfo);
      AddDecompressorRenderAndPreview();
      return;
    }
    controls_.CapturePin->reset();
    controls_.Label1->setText(QStringLiteral(" Couldn't find capture pin!"));
  } catch (const forms::RuntimeError& error) {
    forms::LogFailure(lcCameraControl(), "the camera's graph", error);
    ReleaseGraph();
    ShowFailure(error.Description());
  }
}

void DirectShowCapture::AddDecompressorRenderAndPreview() {
  for (const auto& registered : (*controls_.FilterGraph)->RegFilterCollection()) {
    if (registered->Name() == QLatin1String(graph::kAviDecompressor)) {
      registered->Filter();
      break;
    }
  }
  (*controls_.CapturePin)->Render();
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
  graph::FilgraphManager& filterGraph = **controls_.FilterGraph;
  *controls_.VideoWindow =
      std::shared_ptr<graph::IVideoWindow>(*controls_.FilterGraph, &filterGraph);
  graph::IVideoWindow& window = **controls_.VideoWindow;
  window.SetFullScreenMode(graph::OAFALSE);
  window.SetWindowStyle(window.WindowStyle() & kStyleWithoutFrame);
  window.SetLeft(8);
  window.SetTop(0);
  window.SetOwner(controls_.MainWindow);
  window.SetAutoShow(graph::OATRUE);
  window.SetVisible(graph::OATRUE);
  filterGraph.Run();
  *controls_.BasicVideo = std::shared_ptr<graph::IBasicVideo>(*controls_.FilterGraph, &filterGraph);
  window.SetWidth(640);
  window.SetHeight(480);
  controls_.Label1->setText(QStringLiteral(" Previewing camera"));
  *controls_.CameraOn = 1;
  previewing_ = true;
}

void DirectShowCapture::StopAndHide() {
  (*controls_.FilterGraph)->Stop();
  graph::IVideoWindow& window = **controls_.VideoWindow;
  window.SetAutoShow(graph::OAFALSE);
  window.SetVisible(graph::OAFALSE);
  window.SetOwner(nullptr);
}

void DirectShowCapture::SwitchOff() {
  if (!*controls_.FilterGraph || !*controls_.VideoWindow) return;  // nothing chosen, or already off
  StopAndHide();
  if (*controls_.CapturePin) (*controls_.CapturePin)->Disconnect();
  controls_.FilterGraph->reset();
  previewing_ = false;
}

void DirectShowCapture::ShutdownAtExit() {
  if (!*controls_.VideoWindow || !*controls_.FilterGraph) return;
  StopAndHide();
}

void DirectShowCapture::ReleaseGraph() {
  if (*controls_.FilterGraph) {
    (*controls_.FilterGraph)->Stop();
    if (*controls_.VideoWindow) {
      (*controls_.VideoWindow)->SetVisible(graph::OAFALSE);
      (*controls_.VideoWindow)->SetOwner(nullptr);
    }
    if (*controls_.CapturePin) (*controls_.CapturePin)->Disconnect();
  }
  // Every view of the graph lets go of it, so that it and its camera are released.
  controls_.VideoWindow->reset();
  controls_.BasicVideo->reset();
  controls_.FilterGraph->reset();
  // Only a graph that previewed had set the flag; a capture-window camera left on keeps it.
  if (previewing_) *controls_.CameraOn = 0;
  previewing_ = false;
}

void DirectShowCapture::ShowFailure(const QString& reason) {
  controls_.Label1->setText(CameraErrorText(reason));
}

forms::LongArray DirectShowCapture::CurrentImage() {
  if (!*controls_.FilterGraph || !*controls_.BasicVideo) forms::Raise(forms::kObjectVariableNotSet);
  graph::FilgraphManager& filterGraph = **controls_.FilterGraph;
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
  graph::HRESULT result = (*controls_.BasicVideo)->GetCurrentImage(&size, nullptr);
  if (result != graph::S_OK) graph::Fail(result, QStringLiteral("нет текущего кадра"));
  forms::LongArray image;
  image.Elements.resize(static_cast<std::size_t>(std::max(size / 4, 0)));
  // The buffer's own size goes with it, so that nothing is written past its end.
  std::int32_t capacity = static_cast<std::int32_t>(image.Elements.size() * 4);
  result = (*controls_.BasicVideo)->GetCurrentImage(&capacity, image.Elements.data());
  if (result != graph::S_OK) graph::Fail(result, QStringLiteral("нет текущего кадра"));
  return image;
}

}  // namespace camera

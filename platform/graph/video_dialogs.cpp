#include "platform/graph/video_dialogs.h"

#include <QTabWidget>
#include <QVBoxLayout>

#include "platform/forms/dialog.h"
#include "platform/gst/camera_controls.h"
#include "platform/gst/controls_page.h"
#include "platform/gst/delay_page.h"
#include "platform/gst/format_choice.h"
#include "platform/gst/format_dialog.h"

namespace graph {

void PinFormatDialog::ShowDialog(QWidget* owner) {
  if (!pin_ || pin_->Formats().empty()) return;
  gst::FormatDialog dialog(QStringLiteral("Свойства: %1").arg(pin_->Name()), pin_->Formats(),
                           pin_->Format(), &pin_->Rate(), owner);
  if (forms::ShowDialog(dialog) != QDialog::Accepted || !dialog.Chosen()) return;
  pin_->SetFormat(*dialog.Chosen(), *dialog.ChosenRate());
  // The camera opens in it at its next switch-on too.
  const std::shared_ptr<IFilterInfo> filter = pin_->Filter();
  if (const gst::CameraDevice* camera = filter ? filter->Camera() : nullptr)
    gst::RememberFormat(*camera, *dialog.Chosen(), *dialog.ChosenRate());
}

void FilterPropertiesDialog::ShowDialog(QWidget* owner) {
  if (!filter_) return;
  std::unique_ptr<gst::CameraControls> controls;
  const std::shared_ptr<FilgraphManager> graph = filter_->Graph();
  const gst::CameraDevice* camera = filter_->Camera();
  const bool cameraOn = graph && graph->Camera() && graph->Camera()->IsOpen();
  if (cameraOn) {
    controls = gst::ControlsOf(*graph->Camera());
    camera = &graph->Camera()->Camera();
  } else if (camera && !camera->path.isEmpty()) {
    controls = gst::V4l2Controls::Open(camera->path);
  }
  QDialog dialog(owner);
  dialog.setWindowTitle(QStringLiteral("Свойства: %1").arg(filter_->Name()));
  auto* layout = new QVBoxLayout(&dialog);
  auto* pages = new QTabWidget(&dialog);
  pages->addTab(new gst::ControlsPage(std::move(controls), camera, cameraOn, pages),
                QStringLiteral("Изображение"));
  pages->addTab(new gst::DelayPage(cameraOn ? graph->Camera() : nullptr, pages),
                QStringLiteral("Задержка камеры"));
  layout->addWidget(pages);
  gst::AddDialogButtons(dialog, *layout);
  forms::ShowDialog(dialog);
}

}  // namespace graph

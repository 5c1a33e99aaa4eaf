#include "platform/gst/delay_page.h"

#include <QDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "platform/gst/camera_delay.h"
#include "platform/gst/camera_pipeline.h"

namespace gst {

CalibrationRequests& CalibrationRequests::Instance() {
  static CalibrationRequests requests;
  return requests;
}

DelayPage::DelayPage(const CameraPipeline* camera, QWidget* parent)
    : QWidget(parent), camera_(camera && camera->IsOpen() ? camera : nullptr) {
  auto* layout = new QVBoxLayout(this);
  stored_ = new QLabel(this);
  stored_->setObjectName(QStringLiteral("StoredDelay"));
  stored_->setWordWrap(true);
  layout->addWidget(stored_);
  auto* how = new QLabel(
      QStringLiteral("Камера помечает кадр временем его прихода, а изображение в нём снято "
                     "раньше \u2014 на величину задержки камеры. Для измерения направьте камеру "
                     "на светодиод, подключённый к выходу звуковой карты, или на источник света "
                     "в опыте, яркость которого меняется с тоном: тон будет звучать поочерёдно "
                     "на двух частотах, половину времени на каждой."),
      this);
  how->setWordWrap(true);
  layout->addWidget(how);
  auto* form = new QFormLayout();
  auto* seconds = new QSpinBox(this);
  seconds->setObjectName(QStringLiteral("CalibrationSeconds"));
  seconds->setRange(6, 3600);
  seconds->setValue(20);
  seconds->setSuffix(QStringLiteral(" с"));
  form->addRow(QStringLiteral("Время измерения"), seconds);
  layout->addLayout(form);
  auto* measure = new QPushButton(QStringLiteral("Измерить задержку"), this);
  measure->setObjectName(QStringLiteral("MeasureDelay"));
  auto* forget = new QPushButton(QStringLiteral("Забыть задержку"), this);
  forget->setObjectName(QStringLiteral("ForgetDelay"));
  layout->addWidget(measure);
  layout->addWidget(forget);
  layout->addStretch(1);
  measure->setEnabled(camera_ != nullptr);
  forget->setEnabled(camera_ != nullptr);
  connect(measure, &QPushButton::clicked, this, [this, seconds] {
    // The tone and the window's controls are needed: the dialog closes first, and the window
    // runs the calibration after it.
    const int value = seconds->value();
    if (auto* dialog = qobject_cast<QDialog*>(window())) dialog->reject();
    QMetaObject::invokeMethod(
        &CalibrationRequests::Instance(),
        [value] { emit CalibrationRequests::Instance().Requested(value); }, Qt::QueuedConnection);
  });
  connect(forget, &QPushButton::clicked, this, [this] {
    if (camera_) ForgetDelay(SetupOf(*camera_));
    ShowStored();
  });
  ShowStored();
}

void DelayPage::ShowStored() {
  if (!camera_) {
    stored_->setText(QStringLiteral("Камера отключена. Включите её, чтобы измерить задержку."));
    return;
  }
  const CameraSetup setup = SetupOf(*camera_);
  const std::optional<CameraDelay> delay = StoredDelay(setup);
  const QLocale locale;
  const QString where =
      setup.shown + QStringLiteral(", экспозиция ") +
      (setup.exposureMs ? locale.toString(*setup.exposureMs, 'f', 1) + QStringLiteral(" мс")
                        : QStringLiteral("автоматическая"));
  stored_->setText(
      delay ? QStringLiteral("Задержка камеры: %1 \u00B1 %2 мс (измерена %3) для %4")
                  .arg(locale.toString(delay->delayMs, 'f', 1),
                       locale.toString(delay->uncertaintyMs, 'f', 1),
                       locale.toString(delay->measured.toLocalTime(), QLocale::ShortFormat), where)
            : QStringLiteral("Задержка не измерена для %1: фаза картинки считается по времени "
                             "прихода кадра.")
                  .arg(where));
}

}  // namespace gst

#include "platform/gst/controls_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "platform/gst/camera_identity.h"
#include "platform/gst/exposure_lock.h"
#include "platform/gst/stored_controls.h"

namespace gst {

ControlsPage::ControlsPage(std::unique_ptr<CameraControls> controls, const CameraDevice* device,
                           bool cameraOn, QWidget* parent)
    : QWidget(parent),
      controls_(std::move(controls)),
      identity_(device ? CameraIdentity(*device) : QString()) {
  store_timer_.setSingleShot(true);
  store_timer_.setInterval(300);
  connect(&store_timer_, &QTimer::timeout, this, [this] { StorePending(); });
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout();
  layout->addLayout(form);
  if (!controls_) {
    AddNoControlsNote(*layout, device, cameraOn);
  } else {
    for (const ControlInfo& info : controls_->List()) AddControl(*form, info);
    AddDefaultsButton(*layout);
  }
  AddExposureLock(*layout);
}

void ControlsPage::AddNoControlsNote(QVBoxLayout& layout, const CameraDevice* device,
                                     bool cameraOn) {
  // A camera the PipeWire server serves has no V4L2 device of its own to steer here.
  // A camera without a device of its own to open has its controls only while it streams.
  const char* why = device && device->viaPipeWire
                        ? "Эта камера работает через сервер PipeWire: её настройки "
                          "изображения здесь недоступны."
                    : !cameraOn ? "Камера отключена. Включите её, чтобы изменить настройки "
                                  "изображения."
                                : "У этой камеры нет настроек изображения.";
  auto* label = new QLabel(QString::fromUtf8(why), this);
  label->setObjectName(QStringLiteral("NoControls"));
  label->setWordWrap(true);
  layout.addWidget(label);
}

void ControlsPage::AddControl(QFormLayout& form, const ControlInfo& info) {
  const int current = controls_->Get(info.id).value_or(info.defaultValue);
  switch (info.type) {
    case ControlInfo::Integer:
      AddSlider(form, info, current);
      break;
    case ControlInfo::Boolean:
      AddCheckBox(form, info, current);
      break;
    case ControlInfo::Menu:
      AddMenu(form, info, current);
      break;
    case ControlInfo::Button: {
      auto* button = new QPushButton(info.name, this);
      button->setObjectName(info.name);
      connect(button, &QPushButton::clicked, this,
              [camera = controls_.get(), id = info.id] { camera->Set(id, 1); });
      form.addRow(QString(), button);
      break;
    }
  }
}

void ControlsPage::AddSlider(QFormLayout& form, const ControlInfo& info, int current) {
  auto* row = new QWidget(this);
  auto* line = new QHBoxLayout(row);
  line->setContentsMargins(0, 0, 0, 0);
  auto* slider = new QSlider(Qt::Horizontal, row);
  auto* number = new QSpinBox(row);
  slider->setRange(info.minimum, info.maximum);
  slider->setSingleStep(info.step);
  slider->setValue(current);
  number->setRange(info.minimum, info.maximum);
  number->setSingleStep(info.step);
  number->setValue(current);
  slider->setObjectName(info.name);
  line->addWidget(slider, 1);
  line->addWidget(number);
  connect(slider, &QSlider::valueChanged, number, &QSpinBox::setValue);
  connect(number, &QSpinBox::valueChanged, slider, &QSlider::setValue);
  connect(slider, &QSlider::valueChanged, this,
          [this, camera = controls_.get(), id = info.id, name = info.name](int v) {
            if (camera->Set(id, v)) Remember(name, v);
          });
  reset_.push_back([slider, value = info.defaultValue] { slider->setValue(value); });
  form.addRow(info.name, row);
}

void ControlsPage::AddCheckBox(QFormLayout& form, const ControlInfo& info, int current) {
  auto* box = new QCheckBox(this);
  box->setObjectName(info.name);
  box->setChecked(current != 0);
  connect(box, &QCheckBox::toggled, this,
          [this, camera = controls_.get(), id = info.id, name = info.name](bool on) {
            if (camera->Set(id, on)) Remember(name, on);
          });
  reset_.push_back([box, value = info.defaultValue] { box->setChecked(value != 0); });
  form.addRow(info.name, box);
}

void ControlsPage::AddMenu(QFormLayout& form, const ControlInfo& info, int current) {
  auto* list = new QComboBox(this);
  list->setObjectName(info.name);
  for (const auto& [value, name] : info.menu) list->addItem(name, value);
  list->setCurrentIndex(std::max(0, list->findData(current)));
  CameraControls* camera = controls_.get();
  connect(list, &QComboBox::activated, this,
          [this, camera, id = info.id, list, name = info.name](int row) {
            const int value = list->itemData(row).toInt();
            if (camera->Set(id, value)) Remember(name, value);
          });
  reset_.push_back([camera, id = info.id, list, value = info.defaultValue] {
    list->setCurrentIndex(std::max(0, list->findData(value)));
    camera->Set(id, value);
  });
  form.addRow(info.name, list);
}

void ControlsPage::AddDefaultsButton(QVBoxLayout& layout) {
  auto* defaults = new QPushButton(QStringLiteral("По умолчанию"), this);
  defaults->setObjectName(QStringLiteral("Default"));
  connect(defaults, &QPushButton::clicked, this, [this] {
    for (const auto& reset : reset_) reset();
    // The camera's own defaults from now on, at every opening too.
    pending_.clear();
    store_timer_.stop();
    ForgetControls(identity_);
  });
  layout.addWidget(defaults, 0, Qt::AlignRight);
}

ControlsPage::~ControlsPage() {
  StorePending();
}

void ControlsPage::Remember(const QString& name, int value) {
  if (identity_.isEmpty()) return;
  pending_[ControlKey(name)] = value;
  store_timer_.start();
}

void ControlsPage::StorePending() {
  store_timer_.stop();
  for (const auto& [key, value] : pending_) StoreControl(identity_, key, value);
  pending_.clear();
}

void ControlsPage::AddExposureLock(QLayout& layout) {
  auto* lock = new QCheckBox(
      QStringLiteral("Держать экспозицию, усиление и баланс белого во время записи"), this);
  lock->setObjectName(QStringLiteral("LockExposure"));
  lock->setChecked(ExposureLockChosen());
  connect(lock, &QCheckBox::toggled, this, [](bool on) { ChooseExposureLock(on); });
  layout.addWidget(lock);
  if (!controls_) return;
  const QStringList unlockable = UnlockableParts(*controls_);
  if (unlockable.isEmpty()) return;
  auto* note = new QLabel(QStringLiteral("Эта камера не может удержать: ") +
                              unlockable.join(QStringLiteral("; ")) + QLatin1Char('.'),
                          this);
  note->setObjectName(QStringLiteral("Unlockable"));
  note->setWordWrap(true);
  layout.addWidget(note);
}

}  // namespace gst

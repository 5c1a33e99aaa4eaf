#pragma once
// A page of a camera's controls: a slider and a number for each integer control, a check
// box for a boolean, a list for a menu, a button for a button control, and "Default" to put
// every control back. Each change takes effect at once and is remembered for the camera
// (stored_controls.h); "Default" forgets what was remembered. Below, the choice to hold the
// exposure through a run (exposure_lock.h) and what this camera cannot hold.

#include <QLayout>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/gst/camera_controls.h"
#include "platform/gst/camera_devices.h"

class QFormLayout;
class QVBoxLayout;

namespace gst {

class ControlsPage : public QWidget {
  Q_OBJECT

 public:
  // `camera` is the camera the controls belong to, `cameraOn` whether it streams now: without
  // controls the page says why.
  ControlsPage(std::unique_ptr<CameraControls> controls, const CameraDevice* camera, bool cameraOn,
               QWidget* parent = nullptr);
  // What is still to be remembered is written as the page goes.
  ~ControlsPage() override;
  CameraControls* Controls() const { return controls_.get(); }

 private:
  // Remembers a value the camera took: written a moment after the last change, so that a
  // slider's drag writes the settings file once.
  void Remember(const QString& name, int value);
  void StorePending();
  // The steps of the page's making: a note where there are no controls, else a row for each
  // control and "Default"; the exposure lock below either.
  void AddNoControlsNote(QVBoxLayout& layout, const CameraDevice* device, bool cameraOn);
  void AddControl(QFormLayout& form, const ControlInfo& info);
  void AddSlider(QFormLayout& form, const ControlInfo& info, int current);
  void AddCheckBox(QFormLayout& form, const ControlInfo& info, int current);
  void AddMenu(QFormLayout& form, const ControlInfo& info, int current);
  void AddDefaultsButton(QVBoxLayout& layout);
  void AddExposureLock(QLayout& layout);

  std::unique_ptr<CameraControls> controls_;
  QString identity_;  // the camera's, for its remembered controls; empty: none remembered
  std::vector<std::function<void()>> reset_;  // puts one control back to its default
  std::map<QString, int> pending_;            // by key, not yet written
  QTimer store_timer_;
};

}  // namespace gst

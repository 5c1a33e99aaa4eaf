#pragma once
// The page of a camera's properties that tells the camera's delay stored for its set-up and
// asks for a calibration. The calibration needs the tone, which the window plays: the page
// closes its dialog and asks through CalibrationRequests, and the window runs it.

#include <QObject>
#include <QWidget>

class QLabel;

namespace gst {

class CameraPipeline;

// Where the properties dialogs ask for a calibration; one for the program's life.
class CalibrationRequests : public QObject {
  Q_OBJECT

 public:
  static CalibrationRequests& Instance();

 signals:
  // A calibration of `seconds` of the camera that is on, asked for from its properties.
  void Requested(int seconds);
};

class DelayPage : public QWidget {
  Q_OBJECT

 public:
  // `camera`: the open camera the dialog is of; null when none streams.
  explicit DelayPage(const CameraPipeline* camera, QWidget* parent = nullptr);

 private:
  void ShowStored();

  const CameraPipeline* camera_;
  QLabel* stored_;
};

}  // namespace gst

#pragma once
// Snapshots and periodic pictures: the snapshot button, the filter-graph frame grab, and the
// recording of one instant — the stamp on the picture window's text panel, the frame on its
// picture panel, the stamp copied onto the frame, the file saved under the run's next name.

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <functional>
#include <memory>

#include "camera/camera_control.h"
#include "generator/generator_state.h"
#include "platform/forms/clock.h"
#include "platform/gdi/gdi.h"
#include "recording/output_files.h"
#include "recording/picture_window.h"
#include "recording/run_log.h"

namespace gstutil {
class CameraPipeline;
}

namespace recording {

// The main-window controls and fields the recording reads and writes.
struct RecordingControls {
  QAbstractButton* Check3 = nullptr;  // show the picture window
  QRadioButton* Option7 = nullptr;    // VideoForWindows
  QRadioButton* Option8 = nullptr;    // DirectShow
  QRadioButton* Option9 = nullptr;    // bmp
  QRadioButton* Option10 = nullptr;   // jpg
  QLabel* Label1 = nullptr;
  QLineEdit* Text1 = nullptr;   // picture number
  QLineEdit* Text2 = nullptr;   // date
  QLineEdit* Text3 = nullptr;   // time
  QLineEdit* Text10 = nullptr;  // T - T0
  NamingState Names;
  QString* CameraInfo = nullptr;
  capture::HWND* CaptureWindow = nullptr;
  const generator::GeneratorState* Gen = nullptr;
  camera::DirectShowCapture* DirectShow = nullptr;
  std::function<recording::Form6&()>
      PictureWindow;  // the picture window, loaded again if it is gone
  // The open camera of the chosen back end (null: none), so that a picture takes the frame
  // nearest its instant.
  std::function<gstutil::CameraPipeline*()> Camera;
  // A moment of the time source on the run's time base, with the tone's phase then.
  std::function<generator::RunMoment(std::int64_t)> MomentAt;
};

class PictureRecorder {
 public:
  explicit PictureRecorder(RecordingControls controls) : controls_(std::move(controls)) {}

  void Command19_Click();
  // The frame of the filter graph as a picture, painted over the picture panel; null when
  // the conversion failed (Label1 then says why). Graph failures raise.
  std::shared_ptr<gdi::Picture> SnapDirectShowFrame(const QString& StatusText);
  // The recording of one instant; failures raise to the caller. Either way the run's log gets
  // its row.
  void RecordPicture();
  void CreatePictureFolder();
  // Renews the date and time and names the next video (OutputFileName, without ".avi").
  QString NameVideo();
  // The run has ended: its folder gets the phase plot.
  void FinishRun();
  // The run log's last row (the last picture's phase and lateness); none before the first.
  const std::optional<PictureLogRow>& LastRow() const { return log_.LastRow(); }
  std::int64_t LoggedRows() const { return log_.Rows(); }

  // Tests fix "now" with simulated time; the source must outlive the recorder.
  void SetTimeSource(forms::TimeSource& time) { time_ = &time; }

 private:
  void CopyStamp(Form6& form6);
  void RecordFrame(PictureLogRow& row);
  // Chooses the frame nearest the instant and notes it in the row; the grabs read it while
  // the returned pipeline holds it.
  gstutil::CameraPipeline* ChooseFrame(PictureLogRow& row);

  RecordingControls controls_;
  forms::TimeSource* time_ = &forms::SystemTime();
  RunLog log_;
  std::int64_t unlogged_rows_ = 0;  // this run's pictures whose log row could not be written
};

// The success text both the snapshot and the periodic recording pass.
inline const QString kSnappedAndSaved = QStringLiteral("Snapped and saved.  Previewing camera");

}  // namespace recording

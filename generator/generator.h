#pragma once
// The tone generator: the audio device list and format check, the start and stop of a run,
// the signal drawing, and the streaming of the two sample buffers to the wave output.

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <exception>

#include "generator/generator_state.h"
#include "generator/instant.h"
#include "generator/strobe.h"
#include "generator/synthesis.h"
#include "generator/tone_clock.h"
#include "platform/forms/clock.h"
#include "platform/forms/controls.h"
#include "platform/forms/picture_box.h"
#include "platform/forms/status_line.h"

class QEvent;

namespace generator {

// The main-window controls the generator reads and writes; it connects its handlers to them.
struct GeneratorControls {
  forms::ComboBox* Combo1 = nullptr;
  QLineEdit* Text15 = nullptr;          // sample rate
  QLineEdit* Text4 = nullptr;           // frequency numerator
  QLineEdit* Text27 = nullptr;          // frequency denominator
  QLineEdit* Text5 = nullptr;           // amplitude, %
  QLineEdit* Text7 = nullptr;           // NC0
  QLineEdit* Text22 = nullptr;          // drawing time scale
  QLineEdit* Text20 = nullptr;          // Timer 1 period, s
  QLineEdit* Text1 = nullptr;           // picture number
  QLineEdit* Text8 = nullptr;           // T0
  QLineEdit* Text10 = nullptr;          // T - T0, s
  QLineEdit* Text2 = nullptr;           // date
  QLineEdit* Text3 = nullptr;           // time
  QRadioButton* Option1 = nullptr;      // sine
  QRadioButton* Option2 = nullptr;      // triangle
  QRadioButton* Option3 = nullptr;      // phase 0
  QRadioButton* Option4 = nullptr;      // phase 270
  QRadioButton* Option5 = nullptr;      // clock mode
  QRadioButton* Option6 = nullptr;      // Timer 1 mode
  QAbstractButton* Check2 = nullptr;    // periodic recording
  QAbstractButton* Check3 = nullptr;    // show the picture window
  QAbstractButton* Check5 = nullptr;    // draw the signal
  QPushButton* Command20 = nullptr;     // start
  QPushButton* Command4 = nullptr;      // stop
  QPushButton* Command3 = nullptr;      // apply Text20 to Timer1
  forms::StatusLine* Status = nullptr;  // the window's status line, for the format check
  QLabel* Label12 = nullptr;
  QLabel* Label15 = nullptr;
  forms::PictureBox* Picture2 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;
};

// The view of a window that holds these controls under the main window's names.
template <class Window>
GeneratorControls GeneratorControlsOf(Window& w) {
  return {.Combo1 = w.Combo1,
          .Text15 = w.Text15,
          .Text4 = w.Text4,
          .Text27 = w.Text27,
          .Text5 = w.Text5,
          .Text7 = w.Text7,
          .Text22 = w.Text22,
          .Text20 = w.Text20,
          .Text1 = w.Text1,
          .Text8 = w.Text8,
          .Text10 = w.Text10,
          .Text2 = w.Text2,
          .Text3 = w.Text3,
          .Option1 = w.Option1,
          .Option2 = w.Option2,
          .Option3 = w.Option3,
          .Option4 = w.Option4,
          .Option5 = w.Option5,
          .Option6 = w.Option6,
          .Check2 = w.Check2,
          .Check3 = w.Check3,
          .Check5 = w.Check5,
          .Command20 = w.Command20,
          .Command4 = w.Command4,
          .Command3 = w.Command3,
          .Status = w.Status,
          .Label12 = w.Label12,
          .Label15 = w.Label15,
          .Picture2 = w.Picture2,
          .Timer1 = w.Timer1,
          .Timer2 = w.Timer2};
}

// The generator owns its state and its handlers; what it tells the rest of the program goes out as
// signals: a run begins, a picture is due (one value with all the instant's facts), the run ended.
// A receiver whose part of a start or an instant failed says so in the signal's Outcome: the
// start or the clock then ends with the general message, as when a step of its own failed; in
// the Timer 1 mode the timer stops.
class Generator : public QObject {
  Q_OBJECT

 public:
  explicit Generator(const GeneratorControls& controls);
  ~Generator() override;  // releases a device still open

  const GeneratorState& State() const { return state_; }
  // Why the run that is ending failed, while RunEnded is emitted: its sound device failed, or
  // its start failed after RunStarting; empty otherwise.
  const QString& EndFailure() const { return end_failure_; }
  // A started run that has not been stopped yet.
  bool RunActive() const { return run_active_; }
  // The generator's part of the window's loading: its timers (Timer 1 stopped, the date and
  // time display running), the device list, the window its notices go to, Command3 off.
  void Load(QWidget* callbackWindow);

  // Device list and format check.
  void FillDeviceList();
  void SetWaveFormat();
  void Combo1_Click(int row);
  // The strobe channel of the runs started from now on: off, the stream is the tone alone in
  // one channel; on, a second channel carries the pulses and the format asks for two.
  void SetStrobe(const StrobeSettings& settings);
  const StrobeSettings& Strobe() const { return strobe_; }
  // The running (or last) run's pulses; off without a strobe.
  const StrobePlan& StrobeOfRun() const { return strobe_plan_; }

  // Start and stop.
  // The text of the first message box the start would answer the window's settings with,
  // those it meets only once it has begun included (the buffer's size, the Timer 1 interval,
  // the synthesis); empty when it would take them. Nothing is changed and nothing is shown.
  QString SettingsRefusal() const;
  void Command20_Click();
  void Command4_Click();
  // The exit: the tone stops unless a stop came first, a running clock ends at its next
  // pass, and a start still waiting for the clock to end is dropped.
  void Unload();
  // Ends a running period clock at its next pass (the video stop does this too).
  void RequestStop() { state_.StopRequested = 1; }
  // A picture of the run failed after its instant (its file could not be written): the run's
  // recording ends as for a failure at the instant. A running clock raises it at its next
  // pass, which ends the start with the general message; the Timer 1 mode stops its timer and
  // shows it; after the stop it is shown alone. The tone plays on.
  void FailRecording(const std::exception_ptr& failure);
  void DrawGrid();
  // The signal panel (Picture2) is the generator's: others' texts for it come here.
  void PrintOnSignalPanel(const QString& text);
  void DrawSignalBuffer(const std::vector<std::int16_t>& buffer, int kind);

  // Streaming.
  void InstallCallbackWindow(QWidget* window);
  bool WaveWindowProc(QObject* window, QEvent* event);
  void OpenStream();
  void StopStream();

  // Recording clock.
  void RunClock();
  void Timer1_Timer();
  void Timer2_Timer();
  // The date and time boxes: the display's each second, a picture's stamp at its instant.
  void ShowDateTime(const QString& date, const QString& time);
  // A video recording: its start pauses the date and time display; its stop ends a running
  // period clock and Timer 1's pictures first, and the display runs again once it stopped.
  void PauseDateDisplay();
  void EndClockForVideo();
  void ResumeDateDisplay();
  void Option5_Click();
  void Option6_Click();
  void Command3_Click();
  // Whether the start enters the Timer 1 mode; and that mode's interval in milliseconds from
  // the seconds in Text20, raising when the timer would not take it.
  bool TimerMode() const;
  int Timer1Interval() const;
  // Tests drive the clock with simulated time; the source must outlive the generator. A
  // simulated time has no sound device on it: the tone's clock is then none until set.
  void SetTimeSource(forms::TimeSource& time) {
    time_ = &time;
    tone_clock_ = nullptr;
  }
  // The clock the tone plays on (null: none); it must outlive the generator.
  void SetToneClock(ToneClock* clock) { tone_clock_ = clock; }
  // The current or last run's time base and the tone as they stand now: the tone's phase at
  // any moment near now (a calibration reads frames against it).
  ToneTimeline Timeline() const;
  // Whether the clock counts on the tone's clock when there is one (the default) or always on
  // the tick count.
  void SetPreferredTimeBase(TimeBase base) { preferred_base_ = base; }

 signals:
  // RunStarting and PictureDue are synchronous calls dressed as signals: each receiver is
  // connected directly, runs on the window's thread while the generator waits, and answers
  // through `outcome.Run` (a failure included) before the signal returns. A receiver that did
  // not answer is a fault of its connection, logged as such.
  // A start that passed its checks, before the device opens.
  void RunStarting(const generator::RunStart& start, generator::Outcome& outcome);
  // A picture is due: in the clock mode at an instant with Check2 ticked, at each Timer 1 tick.
  void PictureDue(const generator::Instant& instant, generator::Outcome& outcome);
  // A run that had started has been stopped by the stop button or by its failing device (the
  // exit stops the tone without it). Its receivers do not fail.
  void RunEnded();

 private:
  friend struct GeneratorTestAccess;  // defined by the tests only

  // The failure a receiver of `signal` (as SIGNAL() names it) reported, raised again here;
  // a receiver that did not answer is logged as a fault of its connection.
  void Raise(const Outcome& outcome, const char* signal) const;
  Instant MakeInstant(TimeBase base, double dueMs, double actualMs, std::int64_t dueLocalNs) const;
  // The trace of a failure caught in `where`, then the one message of a failed operation:
  // "Ошибка в работе программы", title "Strobolux".
  static void ReportFailure(const char* where, const std::exception& error);
  // The settings the start checks before it opens the device.
  QString StartRefusal() const;
  // Why the strobe cannot play with this tone on the chosen device; empty when it can or is off.
  QString StrobeRefusal(double numerator, std::int32_t denominator, std::int32_t nc0) const;
  static wave::WAVEFORMATEX WaveFormatFor(std::int32_t rate, std::uint16_t channels);
  // Queues buffer 1 or 2 (its header); with the strobe its pulse channel is written first for
  // the stream position it will play at.
  void QueueBuffer(int which);
  // The length of each buffer for the state's rate and denominator; raises when too long.
  static std::int32_t BufferLengthFor(const GeneratorState& state);
  void StartSequence();
  void EnterRecordingMode();
  void WaitForNextPass(std::int64_t elapsedMs);
  // Chooses the run's time base and fixes T0 on it.
  void BeginTimeBase();
  // Nanoseconds since T0 on the run's time base; `localNs` gets the time source's reading.
  std::int64_t ElapsedNs(std::int64_t* localNs);
  // The time source's moment of a time since T0.
  std::int64_t LocalAt(std::int64_t sinceT0Ns) const;
  WaveShape CurrentShape() const;
  int ChosenDevice() const;

  GeneratorState state_;
  GeneratorControls controls_;
  bool run_active_ = false;
  QString end_failure_;         // EndFailure's, while RunEnded is emitted
  QString sound_error_;         // why the device of the run failed, until its close is shown
  bool clock_running_ = false;  // RunClock is on the stack
  std::exception_ptr recording_failure_;  // for the running clock to raise at its next pass
  bool start_waiting_ = false;            // a start clicked while it was
  forms::TimeSource* time_ = &forms::SystemTime();
  DeviceToneClock device_clock_;
  ToneClock* tone_clock_ = &device_clock_;
  TimeBase preferred_base_ = TimeBase::Tone;
  StrobeSettings strobe_;
  StrobePlan strobe_plan_;  // the run's; off without a strobe
  // With the strobe the headers play these (tone left, pulses right); the tone buffers stay
  // one channel, as drawn.
  std::vector<std::int16_t> stereo_[2];
  std::vector<std::int16_t> pulses_;  // one buffer's pulse channel, rewritten at each queueing
  bool queued_[2] = {false, false};
  std::int64_t next_sample_ = 0;  // the stream position the next queued buffer plays from
  // The run's time base: T0 on the time source, and on the tone's clock when counted there,
  // with the latest reading of that clock (carried on when the device stops answering).
  TimeBase base_ = TimeBase::TickCount;
  std::int64_t t0_local_ns_ = 0;
  std::int64_t t0_tone_ns_ = 0;
  ToneReading last_reading_;
};

}  // namespace generator

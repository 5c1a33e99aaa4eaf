// Start and stop of the generator, and the drawing of the synthesized signal.

#include <QColor>
#include <cmath>
#include <new>

#include "generator/generator.h"
#include "generator/logging.h"
#include "generator/synthesis.h"
#include "platform/forms/controls.h"
#include "platform/forms/conversions.h"
#include "platform/forms/events.h"
#include "platform/forms/message_box.h"
#include "platform/forms/runtime_error.h"

namespace generator {

Q_LOGGING_CATEGORY(lcGenerator, "strobolux.generator")

namespace {

const QString kTitle = QStringLiteral("Strobolux");
const QString kFailureText = QString::fromUtf8("Ошибка в работе программы");

// The start's own checks: the text of the box it refuses the value with, or empty.
QString FrequencyRefusal(double numerator, std::int32_t denominator) {
  if (numerator < 2) return QString::fromUtf8("Частота не может быть задана меньше 2 Гц");
  if (denominator < 2 || denominator % 2 != 0)
    return QString::fromUtf8("Знаменатель у частоты не может быть меньше 2 и должен быть кратен 2");
  return QString();
}

QString Nc0Refusal(std::int32_t nc0) {
  // Below 1 the clock would never reach an instant again and could not be stopped.
  return nc0 < 1 ? QString::fromUtf8("NC0 не может быть меньше 1") : QString();
}

}  // namespace

Generator::Generator(const GeneratorControls& controls) : controls_(controls) {
  const GeneratorControls& c = controls_;
  connect(c.Combo1, &forms::ComboBox::Click, this, &Generator::Combo1_Click);
  connect(c.Command20, &QPushButton::clicked, this, &Generator::Command20_Click);
  connect(c.Command4, &QPushButton::clicked, this, &Generator::Command4_Click);
  connect(c.Command3, &QPushButton::clicked, this, &Generator::Command3_Click);
  connect(c.Option5, &QRadioButton::toggled, this, [this](bool on) {
    if (on) Option5_Click();
  });
  connect(c.Option6, &QRadioButton::toggled, this, [this](bool on) {
    if (on) Option6_Click();
  });
  connect(c.Timer1, &QTimer::timeout, this, &Generator::Timer1_Timer);
  connect(c.Timer2, &QTimer::timeout, this, &Generator::Timer2_Timer);
}

Generator::~Generator() {
  if (state_.WaveOutHandle != 0) StopStream();
  // The window outlives the generator: give it back the procedure it had.
  if (state_.CallbackWindow)
    forms::SetWindowProc(state_.CallbackWindow, std::move(state_.PrevWndProc));
}

void Generator::Load(QWidget* callbackWindow) {
  controls_.Timer1->stop();
  controls_.Timer2->start();
  state_.PictureNumber = 0;
  FillDeviceList();
  InstallCallbackWindow(callbackWindow);
  controls_.Command3->setEnabled(false);
}

void Generator::Unload() {
  if (state_.StopRequested == 0) StopStream();
  state_.StopRequested = 1;
  start_waiting_ = false;
}

void Generator::Raise(const Outcome& outcome, const char* signal) const {
  // A receiver that has not answered when the signal returns was not called directly: its
  // part of the start or the instant is missing, and a failure of it would come too late.
  if (const int connected = receivers(signal); outcome.answers < connected) {
    qCCritical(lcGenerator).noquote()
        << "signal" << (signal + 1) << ":" << connected - outcome.answers
        << "receiver(s) did not answer: they must be connected "
           "directly and answer through the outcome";
  }
  if (outcome.failure) std::rethrow_exception(outcome.failure);
}

WaveShape Generator::CurrentShape() const {
  return {controls_.Option1->isChecked(), controls_.Option2->isChecked(),
          controls_.Option3->isChecked(), controls_.Option4->isChecked()};
}

void Generator::ReportFailure(const char* where, const std::exception& error) {
  forms::LogFailure(lcGenerator(), where, error);
  forms::MsgBox(kFailureText, kTitle);
}

QString Generator::SettingsRefusal() const {
  if (QString refusal = StartRefusal(); !refusal.isEmpty()) return refusal;
  // What the start meets only once it has begun: a buffer too long to make, a Timer 1 interval
  // the timer does not take, and a tone the synthesis cannot make (it shows its box and the
  // tone plays what it has). The buffer is made here on a state of its own, as the start would.
  GeneratorState trial;
  std::vector<std::int16_t> buffer;
  try {
    if (TimerMode()) Timer1Interval();
    trial.SampleRate = state_.SampleRate;
    trial.WaveFormat = state_.WaveFormat;
    trial.FreqNumerator = forms::CDbl(controls_.Text4->text());
    trial.Omega = trial.FreqNumerator * kTwoPi;
    trial.FreqDenominator = forms::CLng(controls_.Text27->text());
    trial.Amplitude = forms::CDbl(controls_.Text5->text()) / 100 * 32767;
    trial.Phase = controls_.Option4->isChecked()   ? kPhase270
                  : controls_.Option3->isChecked() ? 0
                                                   : state_.Phase;
    trial.BufferLength = BufferLengthFor(trial);
    buffer.assign(static_cast<size_t>(trial.BufferLength), 0);
  } catch (const std::exception& error) {
    forms::LogFailure(lcGenerator(), "the check of the settings", error);
    return kFailureText;
  }
  QString shown;
  const forms::MessageBoxFunction previous =
      forms::SetMessageBoxFunction([&shown](const QString& text, const QString&) {
        if (shown.isEmpty()) shown = text;
      });
  FillBuffer(trial, buffer, CurrentShape());
  forms::SetMessageBoxFunction(previous);
  return shown;
}

QString Generator::StartRefusal() const {
  try {
    const double numerator = forms::CDbl(controls_.Text4->text());
    forms::Divide(1, numerator);
    if (QString refusal = FrequencyRefusal(numerator, forms::CLng(controls_.Text27->text()));
        !refusal.isEmpty())
      return refusal;
    forms::CDbl(controls_.Text5->text());
    forms::CDbl(controls_.Text22->text());
    const std::int32_t nc0 = forms::CLng(controls_.Text7->text());
    if (QString refusal = Nc0Refusal(nc0); !refusal.isEmpty()) return refusal;
    return StrobeRefusal(numerator, forms::CLng(controls_.Text27->text()), nc0);
  } catch (const std::exception& error) {
    // A text that is no number, or a number out of range.
    forms::LogFailure(lcGenerator(), "the check of the settings", error);
    return kFailureText;
  }
}

QString Generator::StrobeRefusal(double numerator, std::int32_t denominator,
                                 std::int32_t nc0) const {
  // Without a chosen format the start fails at the device, as it does without a strobe.
  if (strobe_.mode == StrobeMode::Off || state_.SampleRate <= 0) return {};
  // Timer 1's pictures keep no time with the tone's samples: no pulse would light them.
  if (strobe_.mode == StrobeMode::Instants && TimerMode())
    return QString::fromUtf8(
        "Вспышки в моменты снимков невозможны в режиме таймера 1: выберите вспышку в каждом "
        "периоде");
  if (!PlanStrobe(strobe_, state_.SampleRate, numerator, denominator, nc0).on)
    return QString::fromUtf8(
        "Стробоскоп: импульс должен быть короче промежутка между импульсами, уровень от 0 до "
        "100 %");
  wave::WAVEFORMATEX format;
  try {
    format = WaveFormatFor(state_.SampleRate, 2);
  } catch (const forms::RuntimeError& error) {
    forms::LogFailure(lcGenerator(), "the strobe's format", error);
    return kFailureText;
  }
  if (wave::waveOutOpen(nullptr, ChosenDevice(), &format, nullptr, 0, wave::WAVE_FORMAT_QUERY) !=
      wave::MMSYSERR_NOERROR)
    return QString::fromUtf8(
        "Звуковое устройство не принимает два канала: стробоскопу нужен второй канал");
  return {};
}

void Generator::Command20_Click() {
  // A start clicked at an instant of a running clock (after a stop at the same instant) must
  // not run inside it: that clock would go on afterwards with the new run's numbers. It waits
  // until the clock has ended and runs here, in the start that ran the clock.
  if (clock_running_) {
    start_waiting_ = true;
    return;
  }
  do {
    start_waiting_ = false;
    try {
      StartSequence();
    } catch (const std::exception& error) {
      // The program's own errors, and any other failure of a step (an allocation, a library
      // error while saving a picture), end the start or the clock the same way.
      ReportFailure("the generator's start", error);
    }
  } while (start_waiting_);
}

void Generator::StartSequence() {
  state_.FreqNumerator = forms::CDbl(controls_.Text4->text());
  state_.Omega = state_.FreqNumerator * kTwoPi;
  state_.ClockPeriod = forms::Divide(1, state_.FreqNumerator);
  state_.FreqDenominator = forms::CLng(controls_.Text27->text());
  if (const QString refusal = FrequencyRefusal(state_.FreqNumerator, state_.FreqDenominator);
      !refusal.isEmpty()) {
    forms::MsgBox(refusal, kTitle);
    return;
  }
  state_.AmplitudeFraction = forms::CDbl(controls_.Text5->text()) / 100;
  state_.Amplitude = state_.AmplitudeFraction * 32767;
  if (controls_.Option3->isChecked()) state_.Phase = 0;
  if (controls_.Option4->isChecked()) state_.Phase = kPhase270;
  state_.StopRequested = 0;
  state_.DrawScale = forms::CDbl(controls_.Text22->text());
  state_.PeriodsInGroup = 0;
  state_.NC0 = forms::CLng(controls_.Text7->text());
  if (const QString refusal = Nc0Refusal(state_.NC0); !refusal.isEmpty()) {
    forms::MsgBox(refusal, kTitle);
    return;
  }
  if (const QString refusal =
          StrobeRefusal(state_.FreqNumerator, state_.FreqDenominator, state_.NC0);
      !refusal.isEmpty()) {
    forms::MsgBox(refusal, kTitle);
    return;
  }
  strobe_plan_ = PlanStrobe(strobe_, state_.SampleRate, state_.FreqNumerator,
                            state_.FreqDenominator, state_.NC0);
  if (strobe_plan_.on) state_.WaveFormat = WaveFormatFor(state_.SampleRate, 2);
  state_.PictureNumber = 0;
  state_.TickNow = 0;
  state_.TickLast = 0;
  const bool drawing = controls_.Check5->isChecked();
  if (drawing) DrawGrid();
  // The picture window and the run's folder come before the device opens: a run that cannot
  // record does not start.
  Outcome started;
  RunSettings settings{.numerator = state_.FreqNumerator,
                       .denominator = state_.FreqDenominator,
                       .amplitudePercent = state_.AmplitudeFraction * 100,
                       .triangle = controls_.Option2->isChecked(),
                       .phaseDeg = controls_.Option4->isChecked() ? 270 : 0,
                       .sampleRate = state_.SampleRate,
                       .timerMode = controls_.Option6->isChecked(),
                       .every = state_.NC0,
                       .timerSeconds = 0,
                       .soundDevice = controls_.Combo1->currentText(),
                       .strobe = strobe_};
  // The interval Timer 1 takes once the device is open; the start fails there if it cannot.
  if (settings.timerMode) {
    try {
      settings.timerSeconds = Timer1Interval() / 1000.0;
    } catch (const std::exception&) {
      settings.timerSeconds = 0;
    }
  }
  emit RunStarting({.recordPictures = controls_.Check2->isChecked(),
                    .toneHz = state_.FreqNumerator / state_.FreqDenominator,
                    .settings = std::move(settings),
                    .strobe = strobe_plan_},
                   started);
  // From here the receivers hold a run (its folder and record, the camera's lock): a start
  // that fails before the run is active ends it for them, with its failure, and then fails.
  try {
    Raise(started, SIGNAL(RunStarting(generator::RunStart, generator::Outcome&)));
    OpenStream();
    FillBuffer(state_, state_.Buffer1, CurrentShape());
    if (drawing) DrawSignalBuffer(state_.Buffer1, 1);
    FillBuffer(state_, state_.Buffer2, CurrentShape());
    if (drawing) DrawSignalBuffer(state_.Buffer2, 2);
    QueueBuffer(0);
    QueueBuffer(1);
  } catch (const std::exception& error) {
    const auto* runtime = dynamic_cast<const forms::RuntimeError*>(&error);
    end_failure_ = runtime && !runtime->Description().isEmpty()
                       ? runtime->Description()
                       : QString::fromLocal8Bit(error.what());
    emit RunEnded();
    end_failure_.clear();
    throw;
  }
  controls_.Command20->setEnabled(false);
  controls_.Command4->setEnabled(true);
  run_active_ = true;
  EnterRecordingMode();
}

void Generator::Command4_Click() {
  start_waiting_ = false;  // stopped before it could begin
  const bool wasActive = run_active_;
  StopStream();
  controls_.Command20->setEnabled(true);
  controls_.Command4->setEnabled(false);
  run_active_ = false;
  state_.StopRequested = 1;
  controls_.Timer1->stop();
  controls_.Timer2->start();
  if (wasActive) emit RunEnded();
}

void Generator::DrawGrid() {
  forms::PictureBox& box = *controls_.Picture2;
  box.Cls();
  box.Scale(0, 4, 4, -4);
  const QColor grey(200, 200, 200);
  for (int x = 0; x <= 4; ++x) {
    for (int y = -4; y <= 4; ++y) {
      box.Line(0, y, 4, y, grey);
      box.Line(x, -4, x, 4, grey);
    }
  }
  const QColor axis = QColor::fromRgb(1, 0, 0);  // colour value 1
  box.Line(0, 4, 0, -4, axis);
  box.Line(0, 0, 4, 0, axis);
}

void Generator::PrintOnSignalPanel(const QString& text) {
  controls_.Picture2->Print(text);
}

void Generator::DrawSignalBuffer(const std::vector<std::int16_t>& buffer, int kind) {
  forms::PictureBox& box = *controls_.Picture2;
  const QColor color = kind == 1 ? QColor(255, 0, 0) : QColor(0, 0, 255);
  const double offset = (state_.TickNow - state_.TickLast) / 1000;
  // A buffer that was never allocated (the device did not open) cannot be drawn.
  if (buffer.empty()) forms::Raise(forms::kSubscriptOutOfRange);
  for (std::int32_t i = 0; i < state_.BufferLength; ++i) {
    if (static_cast<size_t>(i) >= buffer.size()) forms::Raise(forms::kSubscriptOutOfRange);
    const auto y = static_cast<float>(buffer[static_cast<size_t>(i)] / 10000.0);
    auto x = static_cast<float>(
        forms::Divide(offset + forms::Divide(i, state_.SampleRate), state_.DrawScale));
    if (kind == 2) x = static_cast<float>(x + 0.1);
    box.PSet(x, y, color);
  }
}

}  // namespace generator

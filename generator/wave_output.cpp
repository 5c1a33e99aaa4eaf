// Streaming of the two sample buffers: open, re-queue on every "played" notice, stop.

#include <QEvent>
#include <QWidget>
#include <algorithm>
#include <new>

#include "generator/generator.h"
#include "platform/forms/application.h"
#include "platform/forms/conversions.h"
#include "platform/forms/runtime_error.h"

namespace generator {
namespace {

// The longest buffer a tone needs, in samples (about 23 minutes at 48 kHz). Sizing a longer
// one would hold the window for seconds before failing.
constexpr std::int32_t kMaxBufferLength = std::int32_t{1} << 26;

QString SoundErrorText(const QString& reason) {
  return QStringLiteral(" Sound error: ") + reason;
}

}  // namespace

void Generator::InstallCallbackWindow(QWidget* window) {
  state_.CallbackWindow = window;
  state_.PrevWndProc = forms::SetWindowProc(
      window, [this](QObject* target, QEvent* event) { return WaveWindowProc(target, event); });
}

bool Generator::WaveWindowProc(QObject* window, QEvent* event) {
  if (event->type() == wave::WaveOutEvent::kType) {
    forms::AssertWindowThread("Generator::WaveWindowProc");  // the device's notices only
    switch (static_cast<wave::WaveOutEvent*>(event)->Message()) {
      case wave::MM_WOM_OPEN:
        controls_.Label12->setText(QString::fromUtf8("устройство открыто"));
        break;
      case wave::MM_WOM_CLOSE:
        // After a failure the reason stays readable rather than the plain "closed".
        controls_.Label12->setText(sound_error_.isEmpty() ? QString::fromUtf8("устройство закрыто")
                                                          : SoundErrorText(sound_error_));
        sound_error_.clear();
        break;
      case wave::kDeviceFailed: {
        const auto* failure = static_cast<wave::WaveOutEvent*>(event);
        // Only the device of the run still playing; a failure of one already closed is old.
        if (state_.WaveOutHandle == 0 || failure->Device() != state_.WaveOutHandle) break;
        sound_error_ = failure->Reason();
        end_failure_ = QStringLiteral("sound device: ") + sound_error_;
        Command4_Click();  // the run stops as the stop button stops it
        end_failure_.clear();
        controls_.Label12->setText(SoundErrorText(sound_error_));
        break;
      }
      case wave::MM_WOM_DONE: {
        // The buffer just played goes back behind the one playing; the other one is still
        // queued and its write is refused.
        const auto* done = static_cast<wave::WaveOutEvent*>(event);
        if (done->Device() == state_.WaveOutHandle) {
          if (done->Header() == &state_.Header1) queued_[0] = false;
          if (done->Header() == &state_.Header2) queued_[1] = false;
        }
        QueueBuffer(0);
        QueueBuffer(1);
        break;
      }
      default:
        break;
    }
  }
  return forms::CallWindowProc(state_.PrevWndProc, window, event);
}

std::int32_t Generator::BufferLengthFor(const GeneratorState& state) {
  // The tone's samples: one channel's, also when the strobe adds a second one beside it.
  const int channels = std::max<int>(1, state.WaveFormat.nChannels);
  const std::int32_t bytesPerSecond =
      forms::ToLong(std::int64_t{state.WaveFormat.nBlockAlign / channels} * state.SampleRate);
  const std::int32_t length = forms::CLng(bytesPerSecond * 0.5 * state.FreqDenominator);
  if (std::int64_t{length} * channels > kMaxBufferLength) forms::Raise(forms::kOutOfMemory);
  return length;
}

void Generator::QueueBuffer(int which) {
  wave::WAVEHDR& header = which == 0 ? state_.Header1 : state_.Header2;
  if (!strobe_plan_.on) {
    wave::waveOutWrite(state_.WaveOutHandle, &header, wave::kWaveHdrSize);
    return;
  }
  // A buffer still queued is being read: it keeps its samples, and its write is refused.
  if (queued_[which]) return;
  std::vector<std::int16_t>& stereo = stereo_[which];
  const std::vector<std::int16_t>& tone = which == 0 ? state_.Buffer1 : state_.Buffer2;
  FillStrobe(pulses_, next_sample_, strobe_plan_);
  Interleave(tone, pulses_, stereo);
  if (wave::waveOutWrite(state_.WaveOutHandle, &header, wave::kWaveHdrSize) ==
      wave::MMSYSERR_NOERROR) {
    queued_[which] = true;
    next_sample_ += state_.BufferLength;
  }
}

void Generator::OpenStream() {
  // A device left open by a start that failed half-way is released first.
  if (state_.WaveOutHandle != 0) StopStream();
  // The size is settled before anything is opened or allocated, so a refused one leaves
  // nothing behind.
  const std::int32_t length = BufferLengthFor(state_);
  // Without a device the start would run its clock in silence: it ends here, reported.
  const int device = ChosenDevice();
  if (wave::waveOutOpen(&state_.WaveOutHandle, device, &state_.WaveFormat, state_.CallbackWindow,
                        -1, wave::CALLBACK_WINDOW) != wave::MMSYSERR_NOERROR) {
    forms::Raise(forms::kDeviceUnavailable);
  }
  controls_.Label15->setText(QString::fromUtf8("звуковой поток запущен"));
  state_.BufferLength = length;
  const auto samples = static_cast<size_t>(state_.BufferLength);
  try {
    state_.Buffer1.assign(samples, 0);
    state_.Buffer2.assign(samples, 0);
    if (strobe_plan_.on) {
      stereo_[0].assign(2 * samples, 0);
      stereo_[1].assign(2 * samples, 0);
      pulses_.assign(samples, 0);
    } else {
      for (auto& stereo : stereo_) std::vector<std::int16_t>().swap(stereo);
      std::vector<std::int16_t>().swap(pulses_);
    }
  } catch (const std::bad_alloc&) {
    StopStream();
    throw;
  }
  queued_[0] = queued_[1] = false;
  next_sample_ = 0;
  // Each header covers the whole buffer: BufferLength samples of two bytes (two of them a
  // frame with the strobe), which hold FreqNumerator whole periods, so the tone runs on
  // without a phase jump.
  const auto bytes =
      static_cast<std::uint32_t>(state_.BufferLength) * 2u * (strobe_plan_.on ? 2u : 1u);
  std::int16_t* first = strobe_plan_.on ? stereo_[0].data() : state_.Buffer1.data();
  std::int16_t* second = strobe_plan_.on ? stereo_[1].data() : state_.Buffer2.data();
  state_.Header1 = {reinterpret_cast<char*>(first), bytes, 0};
  state_.Header2 = {reinterpret_cast<char*>(second), bytes, 0};
  wave::waveOutPrepareHeader(state_.WaveOutHandle, &state_.Header1, wave::kWaveHdrSize);
  wave::waveOutPrepareHeader(state_.WaveOutHandle, &state_.Header2, wave::kWaveHdrSize);
}

void Generator::StopStream() {
  wave::waveOutReset(state_.WaveOutHandle);
  wave::waveOutUnprepareHeader(state_.WaveOutHandle, &state_.Header1, wave::kWaveHdrSize);
  wave::waveOutUnprepareHeader(state_.WaveOutHandle, &state_.Header2, wave::kWaveHdrSize);
  // Released, so that the next start can open the same device again.
  if (wave::waveOutClose(state_.WaveOutHandle) == wave::MMSYSERR_NOERROR) state_.WaveOutHandle = 0;
}

}  // namespace generator

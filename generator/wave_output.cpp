// Streaming of the two sample buffers: open, re-queue on every "played" notice, stop.

#include <QEvent>
#include <QWidget>

#include "generator/generator.h"
#include "platform/forms/conversions.h"
#include "platform/forms/runtime_error.h"

namespace generator {

void Generator::InstallCallbackWindow(QWidget* window) {
  s_.CallbackWindow = window;
  s_.PrevWndProc = forms::SetWindowProc(
      window, [this](QObject* target, QEvent* event) { return WaveWindowProc(target, event); });
}

bool Generator::WaveWindowProc(QObject* window, QEvent* event) {
  if (event->type() == wave::WaveOutEvent::kType) {
    switch (static_cast<wave::WaveOutEvent*>(event)->Message()) {
      case wave::MM_WOM_OPEN:
        c_.Label12->setText(QString::fromUtf8("устройство открыто"));
        break;
      case wave::MM_WOM_CLOSE:
        c_.Label12->setText(QString::fromUtf8("устройство закрыто"));
        break;
      case wave::MM_WOM_DONE:
        // The buffer just played goes back behind the one playing; the other one is still
        // queued and its write is refused.
        wave::waveOutWrite(s_.WaveOutHandle, &s_.Header1, wave::kWaveHdrSize);
        wave::waveOutWrite(s_.WaveOutHandle, &s_.Header2, wave::kWaveHdrSize);
        break;
      default:
        break;
    }
  }
  return forms::CallWindowProc(s_.PrevWndProc, window, event);
}

void Generator::OpenStream() {
  // A device left open by a start that failed half-way is released first.
  if (s_.WaveOutHandle != 0) StopStream();
  const int device = ChosenDevice();
  if (wave::waveOutOpen(&s_.WaveOutHandle, device, &s_.WaveFormat, s_.CallbackWindow, -1,
                        wave::CALLBACK_WINDOW) != wave::MMSYSERR_NOERROR) {
    return;
  }
  c_.Label15->setText(QString::fromUtf8("звуковой поток запущен"));
  const std::int32_t bytesPerSecond =
      forms::ToLong(std::int64_t{s_.WaveFormat.nBlockAlign} * s_.SampleRate);
  s_.BufferLength = forms::CLng(bytesPerSecond * 0.5 * s_.FreqDenominator);
  s_.Buffer1.assign(static_cast<size_t>(s_.BufferLength), 0);
  s_.Buffer2.assign(static_cast<size_t>(s_.BufferLength), 0);
  // Each header covers the whole buffer: BufferLength samples of two bytes, which hold
  // FreqNumerator whole periods, so the tone runs on without a phase jump.
  const auto bytes = static_cast<std::uint32_t>(s_.BufferLength) * 2u;
  s_.Header1 = {reinterpret_cast<char*>(s_.Buffer1.data()), bytes, 0};
  s_.Header2 = {reinterpret_cast<char*>(s_.Buffer2.data()), bytes, 0};
  wave::waveOutPrepareHeader(s_.WaveOutHandle, &s_.Header1, wave::kWaveHdrSize);
  wave::waveOutPrepareHeader(s_.WaveOutHandle, &s_.Header2, wave::kWaveHdrSize);
}

void Generator::StopStream() {
  wave::waveOutReset(s_.WaveOutHandle);
  wave::waveOutUnprepareHeader(s_.WaveOutHandle, &s_.Header1, wave::kWaveHdrSize);
  wave::waveOutUnprepareHeader(s_.WaveOutHandle, &s_.Header2, wave::kWaveHdrSize);
  // Released, so that the next start can open the same device again.
  if (wave::waveOutClose(s_.WaveOutHandle) == wave::MMSYSERR_NOERROR) s_.WaveOutHandle = 0;
}

}  // namespace generator

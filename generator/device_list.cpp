// The audio device list and the format check of a row click.

#include <cmath>

#include "generator/generator.h"
#include "generator/logging.h"
#include "platform/forms/conversions.h"
#include "platform/forms/runtime_error.h"

namespace generator {

void Generator::FillDeviceList() {
  const QString prompt = controls_.Combo1->currentText();
  const auto count = static_cast<std::int16_t>(wave::waveOutGetNumDevs());
  for (int device = wave::WAVE_MAPPER; device < count; ++device) {
    wave::WAVEOUTCAPS caps;
    if (wave::waveOutGetDevCaps(device, &caps) != wave::MMSYSERR_NOERROR) continue;
    // The row keeps its device number, so a device left out does not shift the others.
    controls_.Combo1->addItem(caps.szPname, device);
  }
  // Filling an editable list makes its first row current; the operator has chosen none yet.
  controls_.Combo1->setCurrentIndex(-1);
  controls_.Combo1->setEditText(prompt);
}

void Generator::SetWaveFormat() {
  // Everything is checked before anything is stored: a bad rate leaves the old format.
  const double typed = forms::CDbl(controls_.Text15->text());
  if (typed != std::floor(typed) || typed <= 0) forms::Raise(forms::kInvalidProcedureCall);
  const std::int32_t rate = forms::CLng(typed);
  const wave::WAVEFORMATEX format = WaveFormatFor(rate, strobe_.mode != StrobeMode::Off ? 2 : 1);
  state_.SampleRate = rate;
  state_.WaveFormat = format;
}

wave::WAVEFORMATEX Generator::WaveFormatFor(std::int32_t rate, std::uint16_t channels) {
  const std::int32_t bits = forms::ToLong(std::int64_t{rate} * 16 * channels);
  wave::WAVEFORMATEX format;
  format.wBitsPerSample = 16;
  format.wFormatTag = wave::WAVE_FORMAT_PCM;
  format.nChannels = channels;
  format.nSamplesPerSec = static_cast<std::uint32_t>(rate);
  format.nAvgBytesPerSec = static_cast<std::uint32_t>(forms::CLng(bits / 8.0));
  format.nBlockAlign = static_cast<std::uint16_t>(forms::CLng(16 * channels / 8.0));
  format.cbSize = 18;
  return format;
}

void Generator::Combo1_Click(int row) {
  try {
    SetWaveFormat();
  } catch (const forms::RuntimeError& error) {
    ReportFailure("the sample rate", error);
    return;
  }
  const QVariant device = controls_.Combo1->itemData(row);
  const wave::MMRESULT answer = device.isValid()
                                    ? wave::waveOutOpen(nullptr, device.toInt(), &state_.WaveFormat,
                                                        nullptr, 0, wave::WAVE_FORMAT_QUERY)
                                    : wave::MMSYSERR_BADDEVICEID;
  QString said = answer == wave::MMSYSERR_NOERROR
                     ? QString::fromUtf8("формат этим устройством поддерживается")
                     : QString::fromUtf8("формат этим устройством не поддерживается");
  // With the strobe the format has two channels: a refusal may be the second one's alone.
  if (answer != wave::MMSYSERR_NOERROR && state_.WaveFormat.nChannels == 2)
    said += QString::fromUtf8(" (два канала: тон и стробоскоп)");
  if (answer != wave::MMSYSERR_NOERROR)
    qCWarning(lcGenerator).noquote()
        << "the format check:" << controls_.Combo1->itemText(row) << "refused"
        << state_.WaveFormat.nSamplesPerSec << "Hz," << state_.WaveFormat.nChannels
        << "channel(s), answer" << answer;
  controls_.Status->Say(said);
  // A second start during a run would re-size the buffers the device is playing.
  if (!run_active_) controls_.Command20->setEnabled(true);
}

void Generator::SetStrobe(const StrobeSettings& settings) {
  strobe_ = settings;
  // A format already chosen follows at once, so that the next start asks for what it plays.
  if (state_.SampleRate <= 0) return;
  try {
    state_.WaveFormat = WaveFormatFor(state_.SampleRate, strobe_.mode != StrobeMode::Off ? 2 : 1);
  } catch (const forms::RuntimeError& error) {
    // A rate whose two channels overflow the byte count: the start refuses it.
    forms::LogFailure(lcGenerator(), "the strobe's format", error);
  }
}

int Generator::ChosenDevice() const {
  const QVariant device = controls_.Combo1->itemData(controls_.Combo1->currentIndex());
  return device.isValid() ? device.toInt() : wave::WAVE_MAPPER - 1;
}

}  // namespace generator

#include "recording/frame_files.h"

#include "platform/gst/user_settings.h"

namespace recording {

namespace {

std::optional<FrameFiles> forced;
const QString kKey = QStringLiteral("recording/frames");

}  // namespace

FrameFiles FrameFilesChosen() {
  if (forced) return *forced;
  const QString text = gst::UserSettings().value(kKey).toString();
  if (text == QLatin1String("rgb")) return FrameFiles::Rgb;
  if (text == QLatin1String("grey")) return FrameFiles::Grey;
  return FrameFiles::None;
}

void ChooseFrameFiles(FrameFiles files) {
  gst::UserSettings().setValue(kKey, files == FrameFiles::Rgb    ? QStringLiteral("rgb")
                                     : files == FrameFiles::Grey ? QStringLiteral("grey")
                                                                 : QStringLiteral("none"));
}

void ForceFrameFiles(FrameFiles files) {
  forced = files;
}

}  // namespace recording

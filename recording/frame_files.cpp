#include "recording/frame_files.h"

#include "platform/gst/user_settings.h"

namespace recording {

namespace {

std::optional<FrameFiles> forced;
const QString kKey = QStringLiteral("recording/frames");

}  // namespace

QString FrameFilesName(FrameFiles files) {
  switch (files) {
    case FrameFiles::Rgb:
      return QStringLiteral("rgb");
    case FrameFiles::Grey:
      return QStringLiteral("grey");
    case FrameFiles::None:
      break;
  }
  return QStringLiteral("none");
}

FrameFiles FrameFilesChosen() {
  if (forced) return *forced;
  const QString text = gst::UserSettings().value(kKey).toString();
  for (const FrameFiles files : {FrameFiles::Rgb, FrameFiles::Grey})
    if (text == FrameFilesName(files)) return files;
  return FrameFiles::None;
}

void ChooseFrameFiles(FrameFiles files) {
  gst::UserSettings().setValue(kKey, FrameFilesName(files));
}

void ForceFrameFiles(FrameFiles files) {
  forced = files;
}

}  // namespace recording

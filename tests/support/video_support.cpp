#include "tests/support/video_support.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "tests/support/camera_support.h"

namespace testing_support {

StalledFile::StalledFile(GstElement* recording) {
  const gst::ElementPtr file(recording ? gst_bin_get_by_name(GST_BIN(recording), "rec_file")
                                       : nullptr);
  if (file) pad_.reset(gst_element_get_static_pad(file.get(), "sink"));
  if (pad_)
    probe_ = gst_pad_add_probe(
        pad_.get(), GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM,
        [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }, nullptr, nullptr);
}

void StalledFile::Release() {
  if (probe_) gst_pad_remove_probe(pad_.get(), probe_);
  probe_ = 0;
}

bool BreakOpenFile(const QString& path) {
  const QString target = QFileInfo(path).canonicalFilePath();
  QFile readOnly(path);
  if (target.isEmpty() || !readOnly.open(QIODevice::ReadOnly)) return false;
  bool found = false;
  const QDir descriptors(QStringLiteral("/proc/self/fd"));
  for (const QString& name :
       descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
    const int fd = name.toInt();
    if (fd == readOnly.handle()) continue;
    if (QFileInfo(descriptors.filePath(name)).symLinkTarget() != target) continue;
    found = ::dup2(readOnly.handle(), fd) == fd || found;
  }
  return found;
}

bool WaitForFinishedFiles(const gst::VideoRecorder& recorder, int timeoutMs) {
  return WaitFor([&] { return !recorder.Finishing(); }, timeoutMs);
}

}  // namespace testing_support

#include "platform/gst/camera_preview.h"

#include <QPainter>
#include <algorithm>

namespace gst {

CameraPreview::CameraPreview(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  pending_.setSingleShot(true);
  connect(&pending_, &QTimer::timeout, this, [this] { ShowLatest(); });
}

void CameraPreview::SetSource(CameraPipeline* pipeline) {
  for (auto& connection : connections_) disconnect(connection);
  if (CameraPipeline* before = source_.data(); before && before != pipeline)
    before->SetPreviewEvery(-1);
  source_ = pipeline;
  TellSource();
  if (!pipeline) return;
  connections_[0] = connect(pipeline, &CameraPipeline::FrameArrived, this, &CameraPreview::OnFrame);
  connections_[1] = connect(pipeline, &CameraPipeline::Closed, this, [this] {
    // Keep the frame on screen, but nothing of the released pipeline.
    if (!shown_) return;
    const FramePtr latest = source_ ? source_->LatestFrame() : nullptr;
    shown_ = latest && latest->Number() == shown_->Number() ? latest : shown_->Detached();
  });
}

void CameraPreview::SetInterval(int ms) {
  interval_ms_ = ms;
  TellSource();
}

void CameraPreview::SetLive(bool live) {
  live_ = live;
  pending_.stop();
  TellSource();
  // Freezing takes the newest frame there is, so a grab right after sees a fresh picture.
  if (!live) ShowLatest(true);
}

void CameraPreview::TellSource() {
  if (CameraPipeline* source = source_.data())
    source->SetPreviewEvery(live_ ? std::int64_t{std::max(interval_ms_, 0)} * 1'000'000 : -1);
}

void CameraPreview::Clear() {
  pending_.stop();
  shown_.reset();
  update();
}

void CameraPreview::OnFrame() {
  if (!live_ || pending_.isActive()) return;
  const qint64 wait = since_shown_.isValid() ? interval_ms_ - since_shown_.elapsed() : 0;
  if (wait > 0)
    pending_.start(static_cast<int>(wait));
  else
    ShowLatest();
}

void CameraPreview::ShowLatest(bool newest) {
  if (!source_) return;
  FramePtr latest = newest ? source_->LatestFrame() : source_->LatestPreparedFrame();
  if (!latest || latest == shown_) return;
  shown_ = std::move(latest);
  ++shown_count_;
  since_shown_.start();
  update();
}

void CameraPreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QImage image = shown_ ? shown_->Image() : QImage();
  if (image.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  if (stretch_) {
    painter.drawImage(rect(), image);
    return;
  }
  painter.drawImage(0, 0, image);
  // What the frame does not cover stays the window's background.
  const QRegion rest = QRegion(rect()) - QRegion(0, 0, image.width(), image.height());
  for (const QRect& r : rest) painter.fillRect(r, Qt::black);
}

}  // namespace gst

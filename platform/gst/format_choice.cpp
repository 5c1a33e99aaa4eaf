#include "platform/gst/format_choice.h"

#include <gst/video/video.h>

#include <QRegularExpression>
#include <cmath>

#include "platform/gst/camera_identity.h"
#include "platform/gst/camera_pipeline.h"
#include "platform/gst/gst_util.h"
#include "platform/gst/logging.h"
#include "platform/gst/user_settings.h"

namespace gst {

namespace {

std::optional<FormatChoice>& Forced() {
  static std::optional<FormatChoice> forced;
  return forced;
}

// A raw pixel format as GStreamer spells it ("bgrx" -> "BGRx"); empty when there is none.
QString RawFormatName(const QString& name) {
  EnsureInitialized();  // the list is read from a caps string
  guint count = 0;
  const GstVideoFormat* formats = gst_video_formats_raw(&count);
  for (guint i = 0; i < count; ++i) {
    QString known = QString::fromLatin1(gst_video_format_to_string(formats[i]));
    if (known.compare(name, Qt::CaseInsensitive) == 0) return known;
  }
  return {};
}

QString SettingsKey(const CameraDevice& camera) {
  return QStringLiteral("camera-formats/") + SettingsKeyPart(CameraIdentity(camera));
}

// The choice's rate among the rates of a format, as the camera writes it.
const FrameRate* MatchingRate(const CameraFormat& format, double fps) {
  for (const FrameRate& rate : format.rates)
    if (std::abs(rate.PerSecond() - fps) < 0.01) return &rate;
  return nullptr;
}

}  // namespace

QString FormatChoice::Text() const {
  return QStringLiteral("%1x%2@%3/%4")
      .arg(width)
      .arg(height)
      .arg(QString::number(fps, 'g', 10), jpeg ? QStringLiteral("mjpeg") : format);
}

std::optional<FormatChoice> ParseFormatChoice(const QString& text, QString* error) {
  static const QRegularExpression pattern(QStringLiteral(
      R"(^([1-9][0-9]{0,4})[xX]([1-9][0-9]{0,4})@([0-9]{1,4}(?:\.[0-9]+)?)/([A-Za-z0-9_]+)$)"));
  const QRegularExpressionMatch match = pattern.match(text.trimmed());
  const QString usage = QStringLiteral(
      "--camera-format is WxH@FPS/COMPRESSION, e.g. 1280x720@30/mjpeg or "
      "640x480@15/yuy2");
  if (!match.hasMatch()) {
    *error = usage;
    return std::nullopt;
  }
  FormatChoice choice;
  choice.width = match.captured(1).toInt();
  choice.height = match.captured(2).toInt();
  choice.fps = match.captured(3).toDouble();  // digits and a point: the C locale's reading
  const QString compression = match.captured(4);
  if (!(choice.fps > 0)) {
    *error = usage;
    return std::nullopt;
  }
  if (compression.compare(QLatin1String("mjpeg"), Qt::CaseInsensitive) == 0) {
    choice.jpeg = true;
  } else {
    choice.format = RawFormatName(compression);
    if (choice.format.isEmpty()) {
      *error = QStringLiteral(
                   "--camera-format: \"%1\" is neither mjpeg nor a raw pixel format (yuy2, nv12, "
                   "i420, ...)")
                   .arg(compression);
      return std::nullopt;
    }
  }
  return choice;
}

std::optional<CameraFormat> FindFormat(const CameraDevice& camera, const FormatChoice& choice) {
  for (const CameraFormat& format : camera.formats) {
    if (format.width != choice.width || format.height != choice.height) continue;
    if (choice.jpeg
            ? !format.IsJpeg()
            : !format.IsRaw() || format.format.compare(choice.format, Qt::CaseInsensitive) != 0)
      continue;
    const FrameRate* rate = MatchingRate(format, choice.fps);
    if (!rate) continue;
    CameraFormat found = format;
    found.rates = {*rate};
    for (const FrameRate& other : format.rates)
      if (!(other == *rate)) found.rates.push_back(other);
    return found;
  }
  return std::nullopt;
}

void RememberFormat(const CameraDevice& camera, const CameraFormat& format, const FrameRate& rate) {
  FormatChoice choice;
  choice.jpeg = format.IsJpeg();
  choice.format = choice.jpeg ? QString() : format.format;
  choice.width = format.width;
  choice.height = format.height;
  choice.fps = rate.PerSecond();
  QSettings settings = UserSettings();
  settings.setValue(SettingsKey(camera), choice.Text());
  settings.sync();
  if (settings.status() != QSettings::NoError)
    qCWarning(lcGst).noquote() << "the camera's format cannot be written into"
                               << settings.fileName();
}

std::optional<FormatChoice> RememberedFormat(const CameraDevice& camera) {
  const QSettings settings = UserSettings();
  const QString key = SettingsKey(camera);
  if (!settings.contains(key)) return std::nullopt;
  const QString text = settings.value(key).toString();
  QString why;
  std::optional<FormatChoice> choice = ParseFormatChoice(text, &why);
  // A hand-edited or damaged entry leaves the camera its default format.
  if (!choice)
    qCWarning(lcGst).noquote() << "the remembered format" << text << "of" << camera.name
                               << "is no WxH@FPS/COMPRESSION; it is not used";
  return choice;
}

void ForceFormat(const std::optional<FormatChoice>& choice) {
  Forced() = choice;
}

std::optional<CameraFormat> PreferredFormat(const CameraDevice& camera) {
  if (Forced())
    if (std::optional<CameraFormat> format = FindFormat(camera, *Forced())) return format;
  if (const std::optional<FormatChoice> remembered = RememberedFormat(camera)) {
    if (std::optional<CameraFormat> format = FindFormat(camera, *remembered)) return format;
    qCInfo(lcGst).noquote() << camera.name << "no longer offers its remembered format"
                            << remembered->Text();
  }
  return std::nullopt;
}

std::optional<CameraFormat> DeliveredFormat(const CameraPipeline& camera) {
  if (!camera.Source()) return std::nullopt;
  const PadPtr pad(gst_element_get_static_pad(camera.Source(), "src"));
  if (!pad) return std::nullopt;
  const CapsPtr caps(gst_pad_get_current_caps(pad.get()));
  const std::vector<CameraFormat> formats = FormatsOf(caps.get());
  if (formats.size() != 1) return std::nullopt;
  return formats.front();
}

QString DescribeWithRates(const CameraFormat& format) {
  QStringList rates;
  for (const FrameRate& rate : format.rates) rates << QString::number(rate.PerSecond(), 'g', 4);
  if (rates.isEmpty()) return format.Describe();
  return QStringLiteral("%1 @ %2 fps").arg(format.Describe(), rates.join(QStringLiteral(", ")));
}

}  // namespace gst

#include "recording/run_record.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <cmath>

namespace recording {

namespace {

// Times with their offset from UTC, to the millisecond: a reader needs no zone database.
QJsonValue Time(const std::optional<QDateTime>& time) {
  if (!time || !time->isValid()) return QJsonValue::Null;
  const QDateTime withOffset = time->toOffsetFromUtc(time->offsetFromUtc());
  return withOffset.toString(Qt::ISODateWithMs);
}

QJsonValue Number(const std::optional<double>& value) {
  if (!value || !std::isfinite(*value)) return QJsonValue::Null;
  return *value;
}

QJsonObject Controls(const ControlList& controls) {
  QJsonObject object;
  for (const auto& [key, value] : controls) object.insert(key, value);
  return object;
}

}  // namespace

QByteArray RunRecord::ToJson() const {
  const generator::RunSettings& s = settings;
  QJsonObject window{
      {QStringLiteral("numerator"), s.numerator},
      {QStringLiteral("denominator"), s.denominator},
      {QStringLiteral("tone_hz"), toneHz},
      {QStringLiteral("mode"), s.timerMode ? QStringLiteral("timer") : QStringLiteral("periods")},
      {QStringLiteral("every_periods"), s.timerMode ? QJsonValue::Null : QJsonValue(s.every)},
      {QStringLiteral("timer_s"), s.timerMode ? QJsonValue(s.timerSeconds) : QJsonValue::Null},
      {QStringLiteral("amplitude_percent"), s.amplitudePercent},
      {QStringLiteral("shape"), s.triangle ? QStringLiteral("triangle") : QStringLiteral("sine")},
      {QStringLiteral("phase_deg"), s.phaseDeg},
      {QStringLiteral("sample_rate_hz"), s.sampleRate},
      {QStringLiteral("back_end"),
       filterGraph ? QStringLiteral("graph") : QStringLiteral("capture")},
      {QStringLiteral("picture_format"), jpeg ? QStringLiteral("jpg") : QStringLiteral("bmp")},
      {QStringLiteral("frames"), FrameFilesName(frames)},
      {QStringLiteral("frame_choice"), FrameChoiceName(frameChoice)},
      {QStringLiteral("strobe"),
       s.strobe.mode == generator::StrobeMode::Off
           ? QJsonValue(QStringLiteral("off"))
           : QJsonValue(QJsonObject{{QStringLiteral("mode"), StrobeModeName(s.strobe.mode)},
                                    {QStringLiteral("width_ms"), s.strobe.widthMs},
                                    {QStringLiteral("level"), s.strobe.level}})},
      {QStringLiteral("phase_bins"), allFrames.phaseBins},
      {QStringLiteral("phase_bins_fps"), allFrames.binsFps},
      {QStringLiteral("lock_in"), allFrames.lockIn}};

  QJsonValue cameraValue = QJsonValue::Null;
  if (camera) {
    QJsonObject format{{QStringLiteral("media"), camera->media},
                       {QStringLiteral("pixel_format"), camera->pixelFormat},
                       {QStringLiteral("width"), camera->width},
                       {QStringLiteral("height"), camera->height},
                       {QStringLiteral("fps"), camera->fps}};
    cameraValue = QJsonObject{
        {QStringLiteral("name"), camera->name},
        {QStringLiteral("identity"), camera->identity},
        {QStringLiteral("format"), format},
        {QStringLiteral("controls_start"), Controls(camera->controlsStart)},
        {QStringLiteral("controls_end"),
         camera->controlsEnd ? QJsonValue(Controls(*camera->controlsEnd)) : QJsonValue::Null},
        {QStringLiteral("locked"), camera->locked},
        {QStringLiteral("not_locked"), QJsonArray::fromStringList(camera->notLocked)}};
  }

  QJsonValue endValue = QJsonValue::Null;
  if (end)
    endValue = QJsonObject{{QStringLiteral("how"), end->how},
                           {QStringLiteral("failure"),
                            end->failure.isEmpty() ? QJsonValue::Null : QJsonValue(end->failure)},
                           {QStringLiteral("at"), Time(end->at)}};

  QJsonValue allFramesValue = QJsonValue::Null;
  if (allFramesResult) {
    const FrameAnalysisResult& r = *allFramesResult;
    QJsonValue bins = QJsonValue::Null;
    if (r.binFrames) {
      QJsonArray counts;
      for (const std::int64_t n : *r.binFrames) counts.append(static_cast<qint64>(n));
      bins = QJsonObject{{QStringLiteral("frames"), counts},
                         {QStringLiteral("empty"), r.emptyBins},
                         {QStringLiteral("written"), r.binsWritten}};
    }
    QJsonValue lockIn = QJsonValue::Null;
    if (r.distinctPhases)
      lockIn = QJsonObject{{QStringLiteral("distinct_phases"), *r.distinctPhases},
                           {QStringLiteral("written"), r.mapsWritten}};
    allFramesValue = QJsonObject{
        {QStringLiteral("frames"), static_cast<qint64>(r.frames)},
        {QStringLiteral("dropped"), static_cast<qint64>(r.dropped)},
        {QStringLiteral("before_first_instant"), static_cast<qint64>(r.beforeFirstInstant)},
        {QStringLiteral("outside_tone"), static_cast<qint64>(r.outside)},
        {QStringLiteral("exposure_unknown"), r.exposureUnknown},
        {QStringLiteral("phase_bins"), bins},
        {QStringLiteral("lock_in"), lockIn},
        {QStringLiteral("files"), QJsonArray::fromStringList(r.files)},
        {QStringLiteral("note"), r.line.isEmpty() ? QJsonValue::Null : QJsonValue(r.line)}};
  } else if (!allFramesRefused.isEmpty()) {
    allFramesValue = QJsonObject{{QStringLiteral("refused"), allFramesRefused}};
  }

  const QJsonObject root{
      {QStringLiteral("program"), QStringLiteral("Strobolux")},
      {QStringLiteral("version"), QStringLiteral(STROBOLUX_VERSION)},
      {QStringLiteral("run"), static_cast<qint64>(run)},
      {QStringLiteral("t0"), Time(t0)},
      {QStringLiteral("time_zone"), QString::fromUtf8(QTimeZone::systemTimeZoneId())},
      {QStringLiteral("settings"), window},
      {QStringLiteral("sound_device"), s.soundDevice},
      {QStringLiteral("camera"), cameraValue},
      {QStringLiteral("camera_delay"),
       QJsonObject{{QStringLiteral("ms"), Number(delayMs)},
                   {QStringLiteral("uncertainty_ms"), Number(delayUncertaintyMs)},
                   {QStringLiteral("source"),
                    delayMs ? QStringLiteral("calibrated") : QStringLiteral("none")}}},
      {QStringLiteral("end"), endValue},
      {QStringLiteral("all_frames"), allFramesValue},
      {QStringLiteral("pictures"),
       QJsonObject{{QStringLiteral("written"), static_cast<qint64>(written)},
                   {QStringLiteral("not_written"), static_cast<qint64>(notWritten)}}}};
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

}  // namespace recording

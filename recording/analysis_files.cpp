#include "recording/analysis_files.h"

#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>

#include "analysis/lock_in.h"
#include "recording/durable_files.h"
#include "recording/logging.h"

namespace recording {

namespace {

constexpr int kMargin = 10;
constexpr int kTitleBand = 34;    // the title line above the map
constexpr int kCaptionBand = 28;  // the line under the map
constexpr int kMinMapSide = 256;  // a smaller map is enlarged by a whole factor
constexpr int kSideGap = 16;      // between the map and its legend
constexpr int kTextPixels = 12;
constexpr double kAmplitudePercentile = 0.995;
constexpr float kNoiseSigmas = 3.0F;
const QColor kMasked(64, 64, 64);

QFont TextFont(int pixels, bool bold = false) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QString Degrees(int degrees) {
  return QLocale().toString(degrees) + QChar(0x00B0);
}

// Enough decimals to tell the scale's numbers apart, no more.
QString ScaleNumber(double value, double top) {
  const int decimals = top >= 100 ? 0 : top >= 10 ? 1 : top >= 1 ? 2 : 3;
  return QLocale().toString(value, 'f', decimals);
}

// Viridis at nine even steps: dark to light in even perceived steps, readable in grey too.
QRgb Viridis(double t) {
  static constexpr std::array<std::array<int, 3>, 9> kStops = {{{68, 1, 84},
                                                                {71, 44, 122},
                                                                {59, 81, 139},
                                                                {44, 113, 142},
                                                                {33, 144, 141},
                                                                {39, 173, 129},
                                                                {92, 200, 99},
                                                                {170, 220, 50},
                                                                {253, 231, 37}}};
  const double position = std::clamp(t, 0.0, 1.0) * (kStops.size() - 1);
  const auto low = std::min<std::size_t>(static_cast<std::size_t>(position), kStops.size() - 2);
  const double f = position - static_cast<double>(low);
  auto mix = [&](int channel) {
    return static_cast<int>(
        std::lround(kStops[low][channel] * (1 - f) + kStops[low + 1][channel] * f));
  };
  return qRgb(mix(0), mix(1), mix(2));
}

// Hues by tenths of a degree: a map of millions of pixels converts each by a look-up.
const std::vector<QRgb>& HueTable() {
  static const std::vector<QRgb> table = [] {
    std::vector<QRgb> hues(3600);
    for (std::size_t i = 0; i < hues.size(); ++i)
      hues[i] = QColor::fromHsvF(static_cast<float>(i) / 3600.0F, 1.0F, 1.0F).rgb();
    return hues;
  }();
  return table;
}

QRgb PhaseColour(double degrees) {
  double wrapped = std::fmod(degrees, 360.0);
  if (wrapped < 0) wrapped += 360.0;
  const auto index = static_cast<std::size_t>(std::lround(wrapped * 10)) % 3600;
  return HueTable()[index];
}

bool Empty(const analysis::LockInMaps& maps) {
  const auto pixels = static_cast<std::size_t>(std::max(maps.width, 0)) *
                      static_cast<std::size_t>(std::max(maps.height, 0));
  return pixels == 0 || maps.amplitude.size() != pixels;
}

// The robust top of the amplitude scale: its 99.5th percentile over the pixels that have one.
double ScaleTop(const std::vector<float>& amplitude) {
  std::vector<float> finite;
  finite.reserve(amplitude.size());
  for (const float value : amplitude)
    if (std::isfinite(value)) finite.push_back(value);
  if (finite.empty()) return 1;
  const auto rank = static_cast<std::size_t>(
      std::floor(kAmplitudePercentile * static_cast<double>(finite.size() - 1)));
  std::nth_element(finite.begin(), finite.begin() + static_cast<std::ptrdiff_t>(rank),
                   finite.end());
  const double top = finite[rank];
  return top > 0 ? top : 1;  // a flat map: all at the bottom colour
}

// The title at the top, in a smaller font (or cut short) rather than past the edge.
void DrawTitle(QPainter& painter, int canvasWidth, const QString& title) {
  QFont font = TextFont(16, true);
  const int room = canvasWidth - 2 * kMargin;
  while (font.pixelSize() > 9 && QFontMetrics(font).horizontalAdvance(title) > room)
    font.setPixelSize(font.pixelSize() - 1);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRect(kMargin, 0, room, kTitleBand), Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(font).elidedText(title, Qt::ElideRight, room));
}

// A canvas wide enough for the map, its legend and the caption line, white.
QImage Canvas(const QRect& area, int sideWidth, int sideHeight, int captionWidth) {
  const int width = std::max(area.right() + 1 + sideWidth + kMargin, 2 * kMargin + captionWidth);
  const int height = kTitleBand + std::max(area.height(), sideHeight) + kCaptionBand;
  QImage canvas(width, height, QImage::Format_RGB32);
  canvas.fill(Qt::white);
  return canvas;
}

}  // namespace

bool WriteNpy(const QString& path, const std::vector<float>& values, int width, int height,
              QString* error) {
  auto fail = [&](const QString& why) {
    const QString text =
        QStringLiteral("не удаётся записать %1: %2").arg(QDir::toNativeSeparators(path), why);
    qCWarning(lcRecording) << text;
    if (error) *error = text;
    return false;
  };
  if (width < 0 || height < 0 ||
      values.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
    return fail(
        QStringLiteral("%1 значений вместо %2 × %3").arg(values.size()).arg(height).arg(width));
  QByteArray header = "{'descr': '<f4', 'fortran_order': False, 'shape': (" +
                      QByteArray::number(height) + ", " + QByteArray::number(width) + "), }";
  // Magic, version and length take 10 bytes; the line ends in '\n' and the data starts on a
  // 64-byte boundary, so that the array can be mapped straight from the file.
  constexpr int kPrelude = 10;
  const qsizetype unpadded = kPrelude + header.size() + 1;
  header.append((64 - unpadded % 64) % 64, ' ');
  header.append('\n');
  QByteArray bytes("\x93NUMPY\x01\x00", 8);
  const auto length = qToLittleEndian<quint16>(static_cast<quint16>(header.size()));
  bytes.append(reinterpret_cast<const char*>(&length), 2);
  bytes.append(header);
  const qsizetype dataBytes =
      static_cast<qsizetype>(values.size()) * static_cast<qsizetype>(sizeof(float));
  bytes.reserve(bytes.size() + dataBytes);
  if constexpr (std::endian::native == std::endian::little) {
    bytes.append(reinterpret_cast<const char*>(values.data()), dataBytes);
  } else {
    for (const float value : values) {
      const auto little = qToLittleEndian<quint32>(std::bit_cast<quint32>(value));
      bytes.append(reinterpret_cast<const char*>(&little), 4);
    }
  }
  QString why;
  if (!DurableFiles::WriteNow(path, bytes, &why)) return fail(why);
  return true;
}

QRect MapArea(int width, int height) {
  int scale = 1;
  if (width > 0 && height > 0)
    scale = std::max(1, std::min(kMinMapSide / width, kMinMapSide / height));
  return {kMargin, kTitleBand, std::max(width, 0) * scale, std::max(height, 0) * scale};
}

QImage AmplitudeMapImage(const analysis::LockInMaps& maps, const QString& title) {
  if (Empty(maps)) return {};
  const double top = ScaleTop(maps.amplitude);
  QImage map(maps.width, maps.height, QImage::Format_RGB32);
  for (int y = 0; y < maps.height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(map.scanLine(y));
    for (int x = 0; x < maps.width; ++x) {
      const float value =
          maps.amplitude[static_cast<std::size_t>(y) * static_cast<std::size_t>(maps.width) +
                         static_cast<std::size_t>(x)];
      row[x] = std::isfinite(value) ? Viridis(value / top) : kMasked.rgb();
    }
  }

  const QFont font = TextFont(kTextPixels);
  const QFontMetrics metrics(font);
  const std::array<double, 3> ticks = {0, top / 2, top};
  int numberWidth = 0;
  for (const double tick : ticks)
    numberWidth = std::max(numberWidth, metrics.horizontalAdvance(ScaleNumber(tick, top)));
  constexpr int kBarWidth = 18;
  constexpr int kMinBar = 160;
  const QRect area = MapArea(maps.width, maps.height);
  const QString caption = QStringLiteral("Амплитуда, уровни серого; верх шкалы: %1-й процентиль")
                              .arg(QLocale().toString(kAmplitudePercentile * 100, 'f', 1));
  const int barHeight = std::max(area.height(), kMinBar);
  const int sideWidth = kSideGap + kBarWidth + 6 + numberWidth;
  QImage canvas =
      Canvas(area, sideWidth, barHeight + metrics.height() / 2, metrics.horizontalAdvance(caption));

  QPainter painter(&canvas);
  painter.drawImage(area, map);
  DrawTitle(painter, canvas.width(), title);
  // The bar: the top colour at the top, each row the colour of its level.
  const QRect bar(area.right() + 1 + kSideGap, area.top(), kBarWidth, barHeight);
  for (int y = 0; y < bar.height(); ++y) {
    const double level = 1.0 - static_cast<double>(y) / std::max(bar.height() - 1, 1);
    painter.setPen(QColor(Viridis(level)));
    painter.drawLine(bar.left(), bar.top() + y, bar.right(), bar.top() + y);
  }
  painter.setPen(Qt::black);
  painter.setFont(font);
  painter.drawRect(bar.adjusted(0, 0, -1, -1));
  for (const double tick : ticks) {
    const int y = bar.bottom() - static_cast<int>(std::lround(tick / top * (bar.height() - 1)));
    painter.drawLine(bar.right() + 1, y, bar.right() + 4, y);
    painter.drawText(
        QRect(bar.right() + 6, y - metrics.height() / 2, numberWidth + 2, metrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter, ScaleNumber(tick, top));
  }
  painter.drawText(
      QRect(kMargin, canvas.height() - kCaptionBand, canvas.width() - 2 * kMargin, kCaptionBand),
      Qt::AlignLeft | Qt::AlignVCenter, caption);
  return canvas;
}

QImage PhaseMapImage(const analysis::LockInMaps& maps, const QString& title) {
  if (Empty(maps) || maps.phaseDeg.size() != maps.amplitude.size()) return {};
  const bool sigmas = maps.amplitudeSigma.size() == maps.amplitude.size();
  // Whole grey levels round each frame by up to half a level (a standard deviation of 1/√12);
  // over N frames the fitted amplitude keeps √(2/N) of that.
  const float floor =
      maps.frames > 0
          ? static_cast<float>(std::sqrt(2.0 / static_cast<double>(maps.frames)) / std::sqrt(12.0))
          : 0.0F;
  QImage map(maps.width, maps.height, QImage::Format_RGB32);
  for (int y = 0; y < maps.height; ++y) {
    auto* row = reinterpret_cast<QRgb*>(map.scanLine(y));
    for (int x = 0; x < maps.width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(maps.width) +
                            static_cast<std::size_t>(x);
      const float phase = maps.phaseDeg[i];
      const float sigma = sigmas ? maps.amplitudeSigma[i] : std::numeric_limits<float>::quiet_NaN();
      // A pixel that never changed has no scatter at all, yet its phase is the rounding's: the
      // noise is never below that floor. An amplitude that is not a number fails too: masked.
      const float noiseSigma = std::isfinite(sigma) ? std::max(sigma, floor) : floor;
      const bool noise = !(maps.amplitude[i] > kNoiseSigmas * noiseSigma);
      row[x] = noise || !std::isfinite(phase) ? kMasked.rgb() : PhaseColour(phase);
    }
  }

  const QFont font = TextFont(kTextPixels);
  const QFontMetrics metrics(font);
  constexpr int kOuter = 48;
  constexpr int kInner = 30;
  const int labelWidth = metrics.horizontalAdvance(Degrees(270));
  const int labelHeight = metrics.height();
  const QRect area = MapArea(maps.width, maps.height);
  const QString note = QStringLiteral("серый: амплитуда ниже шума (< 3σ)");
  constexpr int kSwatch = 12;
  const int sideWidth = kSideGap + 2 * (labelWidth + 4 + kOuter);
  const int sideHeight = 2 * (labelHeight + 4 + kOuter);
  QImage canvas =
      Canvas(area, sideWidth, sideHeight, kSwatch + 6 + metrics.horizontalAdvance(note));

  // The ring, pixel by pixel: each the hue of its angle, counted counter-clockwise from the
  // right as on a phasor diagram.
  const int cx = area.right() + 1 + kSideGap + labelWidth + 4 + kOuter;
  const int cy = area.top() + labelHeight + 4 + kOuter;
  for (int dy = -kOuter; dy <= kOuter; ++dy) {
    auto* row = reinterpret_cast<QRgb*>(canvas.scanLine(cy + dy));
    for (int dx = -kOuter; dx <= kOuter; ++dx) {
      const int r2 = dx * dx + dy * dy;
      if (r2 > kOuter * kOuter || r2 < kInner * kInner) continue;
      const double angle = std::atan2(-dy, dx) * 180.0 / std::numbers::pi;
      row[cx + dx] = PhaseColour(angle);
    }
  }

  QPainter painter(&canvas);
  painter.drawImage(area, map);
  DrawTitle(painter, canvas.width(), title);
  painter.setFont(font);
  painter.setPen(Qt::black);
  const int gap = 4;
  painter.drawText(QRect(cx + kOuter + gap, cy - labelHeight / 2, labelWidth, labelHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, Degrees(0));
  painter.drawText(
      QRect(cx - labelWidth, cy - kOuter - gap - labelHeight, 2 * labelWidth, labelHeight),
      Qt::AlignHCenter | Qt::AlignBottom, Degrees(90));
  painter.drawText(
      QRect(cx - kOuter - gap - labelWidth, cy - labelHeight / 2, labelWidth, labelHeight),
      Qt::AlignRight | Qt::AlignVCenter, Degrees(180));
  painter.drawText(QRect(cx - labelWidth, cy + kOuter + gap, 2 * labelWidth, labelHeight),
                   Qt::AlignHCenter | Qt::AlignTop, Degrees(270));
  const int noteTop = canvas.height() - kCaptionBand;
  painter.fillRect(QRect(kMargin, noteTop + (kCaptionBand - kSwatch) / 2, kSwatch, kSwatch),
                   kMasked);
  painter.drawText(
      QRect(kMargin + kSwatch + 6, noteTop, canvas.width() - 2 * kMargin - kSwatch, kCaptionBand),
      Qt::AlignLeft | Qt::AlignVCenter, note);
  return canvas;
}

QString BinStampText(double phaseDeg, std::int64_t frames) {
  QString phase = QStringLiteral("—");
  if (std::isfinite(phaseDeg)) {
    double wrapped = std::fmod(phaseDeg, 360.0);
    if (wrapped < 0) wrapped += 360.0;
    // Rounded first, so that 359.96° reads 0,0° rather than 360,0°; +0.0 turns -0 into 0.
    double tenths = std::round(wrapped * 10) / 10 + 0.0;
    if (tenths >= 360.0) tenths -= 360.0;
    phase = QLocale().toString(tenths, 'f', 1) + QChar(0x00B0);
  }
  return QStringLiteral("Фаза %1\nКадров: %2")
      .arg(phase, QLocale().toString(static_cast<qlonglong>(frames)));
}

QImage StampBinPicture(const QImage& mean, double phaseDeg, std::int64_t frames) {
  if (mean.isNull()) return {};
  QImage picture = mean.convertToFormat(QImage::Format_RGB32);
  const QStringList lines = BinStampText(phaseDeg, frames).split(QLatin1Char('\n'));
  const QFont font = TextFont(14);
  const QFontMetrics metrics(font);
  constexpr int kPadding = 4;
  int textWidth = 0;
  for (const QString& line : lines)
    textWidth = std::max(textWidth, metrics.horizontalAdvance(line));
  const QRect box(0, 0, textWidth + 2 * kPadding,
                  static_cast<int>(lines.size()) * metrics.height() + 2 * kPadding);
  QPainter painter(&picture);
  painter.fillRect(box, Qt::white);
  painter.setFont(font);
  painter.setPen(Qt::black);
  for (int i = 0; i < lines.size(); ++i)
    painter.drawText(QRect(kPadding, kPadding + i * metrics.height(), textWidth, metrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
  return picture;
}

}  // namespace recording

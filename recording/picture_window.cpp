#include "recording/picture_window.h"

#include <QCloseEvent>
#include <QFontMetricsF>
#include <algorithm>

#include "recording/frame_files.h"

namespace recording {
namespace {

// The original measured this window in twips; 15 twips make one pixel at 96 pixels per inch.
constexpr int Px(int twips) {
  return twips / 15;
}

// Room kept free between a stamp line's last glyph and the stamp's right edge.
constexpr double kStampMargin = 3;
// Below this a line would no longer be legible; it is printed at this size and cut.
constexpr int kSmallestPixelSize = 8;

}  // namespace

Form6::Form6(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Strobolux   Form6"));
  resize(Px(4485), Px(3060));

  Picture1 = new forms::PictureBox(this);
  Picture1->setObjectName(QStringLiteral("Picture1"));
  // The panel's image is exactly the stamp: smaller, the stamp would copy black beside and
  // under the text onto the picture.
  const int frame = Picture1->frameWidth();
  Picture1->setGeometry(0, 0, kStampRegion.width() + 2 * frame, kStampRegion.height() + 2 * frame);
  // The designed face's widths: a wider face cut the seconds off the first line.
  QFont font(QStringLiteral("Liberation Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(16);  // 12 point at 96 pixels per inch
  Picture1->setFont(font);

  Picture2 = new forms::PictureBox(this);
  Picture2->setObjectName(QStringLiteral("Picture2"));
  Picture2->setGeometry(0, Px(840), Px(4455), Px(2175));

  SaveFrames = new QAction(QStringLiteral("Сохранять кадры камеры (PNG, без надписи)"), this);
  SaveFrames->setObjectName(QStringLiteral("SaveFrames"));
  SaveFrames->setCheckable(true);
  GreyFrames = new QAction(QStringLiteral("Кадры в оттенках серого"), this);
  GreyFrames->setObjectName(QStringLiteral("GreyFrames"));
  GreyFrames->setCheckable(true);
  const FrameFiles chosen = FrameFilesChosen();
  SaveFrames->setChecked(chosen != FrameFiles::None);
  GreyFrames->setChecked(chosen == FrameFiles::Grey);
  GreyFrames->setEnabled(SaveFrames->isChecked());
  const auto choose = [this] {
    GreyFrames->setEnabled(SaveFrames->isChecked());
    ChooseFrameFiles(!SaveFrames->isChecked()  ? FrameFiles::None
                     : GreyFrames->isChecked() ? FrameFiles::Grey
                                               : FrameFiles::Rgb);
  };
  connect(SaveFrames, &QAction::toggled, this, choose);
  connect(GreyFrames, &QAction::toggled, this, choose);
  addAction(SaveFrames);
  addAction(GreyFrames);
  StrobeAndFrame = new QAction(QString::fromUtf8("Стробоскоп и выбор кадра…"), this);
  StrobeAndFrame->setObjectName(QStringLiteral("StrobeAndFrame"));
  addAction(StrobeAndFrame);
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

void Form6::closeEvent(QCloseEvent* event) {
  hide();
  event->ignore();
}

void PrintStampLine(forms::PictureBox& panel, double x, double y, const QString& line) {
  const double room = kStampRegion.width() - panel.ToPixels(x, y).x() - kStampMargin;
  QFont font = panel.font();
  // The ink may reach past the advance (a glyph's right bearing), so both are measured.
  auto width = [&line](const QFont& candidate) {
    const QFontMetricsF metrics(candidate);
    return std::max(metrics.horizontalAdvance(line), metrics.boundingRect(line).right());
  };
  while (font.pixelSize() > kSmallestPixelSize && width(font) > room)
    font.setPixelSize(font.pixelSize() - 1);
  panel.SetCurrentX(x);
  panel.SetCurrentY(y);
  panel.Print(line, font);
}

}  // namespace recording

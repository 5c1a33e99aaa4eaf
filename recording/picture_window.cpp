#include "recording/picture_window.h"

#include <QCloseEvent>

namespace recording {
namespace {

// The original measured this window in twips; 15 twips make one pixel at 96 pixels per inch.
constexpr int Px(int twips) {
  return twips / 15;
}

}  // namespace

Form6::Form6(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Strobolux   Form6"));
  resize(Px(4485), Px(3060));

  Picture1 = new forms::PictureBox(this);
  Picture1->setObjectName(QStringLiteral("Picture1"));
  Picture1->setGeometry(0, 0, Px(2655), Px(735));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(16);  // 12 point at 96 pixels per inch
  Picture1->setFont(font);

  Picture2 = new forms::PictureBox(this);
  Picture2->setObjectName(QStringLiteral("Picture2"));
  Picture2->setGeometry(0, Px(840), Px(4455), Px(2175));
}

void Form6::closeEvent(QCloseEvent* event) {
  hide();
  event->ignore();
}

}  // namespace recording

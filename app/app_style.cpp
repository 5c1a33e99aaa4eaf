#include "app/app_style.h"

#include <QApplication>
#include <QFont>
#include <QStyleFactory>

namespace app {

void ApplyApplicationStyle(QApplication& application) {
  application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(10);
  application.setFont(font);
}

}  // namespace app

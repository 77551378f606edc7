#include "gui/app/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace remoteccm::gui {
namespace {

// A blue card holding three record lines and a green arrow: records collected into a file.
QPixmap Draw(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  QLinearGradient fill(0, 0, 0, 64);
  fill.setColorAt(0, QColor(0x2f, 0x6f, 0xb8));
  fill.setColorAt(1, QColor(0x17, 0x3f, 0x73));
  p.setPen(QPen(QColor(0x10, 0x2c, 0x52), 2));
  p.setBrush(fill);
  p.drawRoundedRect(QRectF(3, 3, 58, 58), 10, 10);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  for (int row = 0; row < 3; ++row) p.drawRoundedRect(QRectF(12, 13 + row * 12, 26, 6), 3, 3);
  QPainterPath arrow;
  arrow.moveTo(44, 12);
  arrow.lineTo(52, 12);
  arrow.lineTo(52, 34);
  arrow.lineTo(58, 34);
  arrow.lineTo(48, 48);
  arrow.lineTo(38, 34);
  arrow.lineTo(44, 34);
  arrow.closeSubpath();
  p.setBrush(QColor(0x5c, 0xc8, 0x4b));
  p.drawPath(arrow);
  p.setBrush(QColor(0xff, 0xff, 0xff, 0xc0));
  p.drawRoundedRect(QRectF(12, 50, 40, 4), 2, 2);
  return pixmap;
}

}  // namespace

QIcon AppIcon() {
  static const QIcon icon = [] {
    QIcon made;
    for (int size : {16, 22, 24, 32, 48, 64, 128}) made.addPixmap(Draw(size));
    return made;
  }();
  return icon;
}

}  // namespace remoteccm::gui

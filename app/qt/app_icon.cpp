#include "app/qt/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace fg::app {

QIcon LoadAppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 128}) {
    icon.addFile(QStringLiteral(":/icons/flintgate-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

// The artwork: a blue tile, a chip with pins at the bottom and an amber arrow going down into it
// (firmware going into the instrument). Laid out on a 32-unit grid; the 16-pixel image uses fewer
// pins and a heavier arrow so that it stays legible.
QImage DrawAppIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(size / 32.0, size / 32.0);
  const bool small = size <= 16;

  QLinearGradient tile(0, 0, 0, 32);
  tile.setColorAt(0.0, QColor(0x2f, 0x6f, 0xa3));
  tile.setColorAt(1.0, QColor(0x16, 0x37, 0x5c));
  p.setPen(QPen(QColor(0x0e, 0x24, 0x3d), small ? 1.6 : 1.0));
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);

  // The chip.
  const QRectF chip(8, 18, 16, 10);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xc8, 0xd2, 0xdc));
  const int pins = small ? 3 : 5;
  const double pinStep = chip.width() / pins;
  for (int i = 0; i < pins; ++i) {
    const double x = chip.left() + pinStep * (i + 0.5) - (small ? 1.2 : 0.9);
    p.drawRect(QRectF(x, chip.top() - 2.0, small ? 2.4 : 1.8, 2.0));
    p.drawRect(QRectF(x, chip.bottom(), small ? 2.4 : 1.8, 2.0));
  }
  p.setBrush(QColor(0x26, 0x2b, 0x31));
  p.setPen(QPen(QColor(0xc8, 0xd2, 0xdc), small ? 1.4 : 1.0));
  p.drawRoundedRect(chip, 1.5, 1.5);
  if (!small) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x7a, 0xd0, 0x6b));
    p.drawEllipse(QPointF(chip.left() + 3.0, chip.top() + 3.0), 1.3, 1.3);
  }

  // The arrow, from the top of the tile into the chip.
  QPainterPath arrow;
  const double shaft = small ? 3.2 : 2.4;
  const double head = small ? 6.5 : 5.5;
  arrow.moveTo(16 - shaft, 4);
  arrow.lineTo(16 + shaft, 4);
  arrow.lineTo(16 + shaft, 12);
  arrow.lineTo(16 + head + 1, 12);
  arrow.lineTo(16, 20.5);
  arrow.lineTo(16 - head - 1, 12);
  arrow.lineTo(16 - shaft, 12);
  arrow.closeSubpath();
  p.setPen(QPen(QColor(0x7a, 0x3d, 0x00), small ? 1.2 : 0.9));
  p.setBrush(QColor(0xf5, 0xa6, 0x23));
  p.drawPath(arrow);
  p.end();
  return image;
}

}  // namespace fg::app

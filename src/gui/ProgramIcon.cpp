#include "gui/ProgramIcon.hpp"

#include <QPainter>

namespace gui {

namespace {

// A small table: a coloured header row over white cells, grid lines.
void DrawTable(QPainter& p, const QRectF& r, const QColor& header) {
  p.setPen(QPen(QColor(60, 60, 60), r.width() / 40));
  p.setBrush(Qt::white);
  p.drawRect(r);
  const double rowHeight = r.height() / 4;
  p.fillRect(QRectF(r.left(), r.top(), r.width(), rowHeight), header);
  for (int i = 1; i < 4; ++i)
    p.drawLine(QPointF(r.left(), r.top() + i * rowHeight),
               QPointF(r.right(), r.top() + i * rowHeight));
  p.drawLine(QPointF(r.center().x(), r.top()), QPointF(r.center().x(), r.bottom()));
  p.setBrush(Qt::NoBrush);
  p.drawRect(r);
}

}  // namespace

QPixmap ProgramPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size / 32.0;
  DrawTable(p, QRectF(1.5 * s, 6.5 * s, 16 * s, 20 * s), QColor(46, 125, 50));
  DrawTable(p, QRectF(19.5 * s, 2.5 * s, 11 * s, 14 * s), QColor(25, 118, 210));
  // The arrow from the add table into the main one.
  p.setPen(QPen(QColor(230, 81, 0), 2.2 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(QPointF(25 * s, 19 * s), QPointF(25 * s, 27 * s));
  p.drawLine(QPointF(25 * s, 27 * s), QPointF(14 * s, 27 * s));
  p.setBrush(QColor(230, 81, 0));
  p.drawPolygon(
      QPolygonF({QPointF(11 * s, 27 * s), QPointF(15.5 * s, 24 * s), QPointF(15.5 * s, 30 * s)}));
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128}) icon.addPixmap(ProgramPixmap(size));
  return icon;
}

}  // namespace gui

#include "gui/CellPainter.hpp"

#include <QColor>
#include <QPainter>
#include <QRect>

#include "store/UClc.hpp"

namespace gui {

QColor WindowsColor(store::Color color) {
  const auto c = static_cast<std::uint32_t>(color);
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

QString HeaderText(int col, int row, const QString& label) {
  if (!label.isEmpty()) return label;
  return col == 0 ? QString::number(row) : QString::fromStdString(store::clc::ColumnName(col - 1));
}

void PaintCell(QPainter& painter, const QRect& rect, int col, int row,
               const store::cell_value& cell, unsigned marks, const QString& label) {
  // Right and bottom as exclusive edges, as the cell rectangle gives them.
  const int left = rect.left(), top = rect.top();
  const int right = rect.left() + rect.width(), bottom = rect.top() + rect.height();
  painter.save();
  if (marks & CornerDot) {
    painter.setPen(Qt::blue);
    painter.setBrush(Qt::blue);
    painter.drawEllipse(QRect(left + 3, top + 3, 6, 6));
  }
  if ((col == 0) != (row == 0)) {  // a header cell, not the corner
    if (marks & CopyMarked) painter.fillRect(rect, QColor(0xC8, 0xE6, 0xC9));
    QFont bold = painter.font();
    bold.setBold(true);
    painter.setFont(bold);
    const QString text = HeaderText(col, row, label);
    const int width = painter.fontMetrics().horizontalAdvance(text);
    painter.setPen(Qt::black);
    painter.drawText(
        QRect(left + (right - left) / 2 - width / 2, top + 2, width + 1, rect.height() - 2),
        Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  } else if (col > 0 && row > 0) {
    painter.setPen(QColor(0xC0, 0xC0, 0xC0));
    painter.drawLine(right, top, right, bottom);
    painter.fillRect(rect, WindowsColor(cell.Background));
    painter.setPen(Qt::black);
    painter.drawText(QRect(left + 2, top + 2, rect.width() - 2, rect.height() - 2),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     label.isEmpty() ? QString::fromStdString(cell.Text) : label);
  }
  if (marks & RowHighlight) {
    painter.setPen(Qt::blue);
    painter.drawLine(left, bottom - 1, right, bottom - 1);
    painter.drawLine(left, top, right, top);
  }
  if (marks & ColumnHighlight) {
    painter.setPen(Qt::blue);
    painter.drawLine(left, bottom, left, top - 1);
    painter.drawLine(right - 1, bottom, right - 1, top - 1);
  }
  if (marks & UsedAreaEdge) {
    painter.setPen(Qt::black);
    painter.drawLine(right, top, right, bottom);
  }
  painter.restore();
}

}  // namespace gui

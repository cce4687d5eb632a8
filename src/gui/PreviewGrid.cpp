#include "gui/PreviewGrid.hpp"

#include <QToolTip>

#include <QHelpEvent>

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace gui {

namespace {

constexpr int kEdgeReach = 3;  // pixels either side of a header edge that grab it
constexpr int kMinSize = 4;
constexpr int kTextPadding = 6;  // the painter's 2 pixels left of a text, and 4 right of it

}  // namespace

PreviewGrid::PreviewGrid(QWidget* parent) : QAbstractScrollArea(parent) {
  colWidths_.assign(257, kDefaultColWidth);
  viewport()->setMouseTracking(true);
  viewport()->setCursor(Qt::CrossCursor);
  viewport()->setAutoFillBackground(false);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  horizontalScrollBar()->setSingleStep(1);
  verticalScrollBar()->setSingleStep(1);
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { Repaint(); });
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { Repaint(); });
  UpdateScrollBars();
}

void PreviewGrid::SetColCount(int count) {
  colWidths_.resize(static_cast<std::size_t>(std::max(count, 2)), kDefaultColWidth);
  UpdateScrollBars();
  Repaint();
}

void PreviewGrid::SetRowCount(int count) {
  rowCount_ = std::max(count, 2);
  rowHeights_.erase(rowHeights_.lower_bound(rowCount_), rowHeights_.end());
  UpdateScrollBars();
  Repaint();
}

int PreviewGrid::ColWidth(int col) const {
  return col >= 0 && col < ColCount() ? colWidths_[static_cast<std::size_t>(col)]
                                      : kDefaultColWidth;
}

int PreviewGrid::RowHeight(int row) const {
  const auto it = rowHeights_.find(row);
  return it == rowHeights_.end() ? kDefaultRowHeight : it->second;
}

void PreviewGrid::SetColWidth(int col, int width) {
  if (col < 0 || col >= ColCount()) return;
  colWidths_[static_cast<std::size_t>(col)] = std::max(width, kMinSize);
  UpdateScrollBars();
  Repaint();
}

void PreviewGrid::SetRowHeight(int row, int height) {
  if (row < 0 || row >= rowCount_) return;
  height = std::max(height, kMinSize);
  if (height == kDefaultRowHeight)
    rowHeights_.erase(row);
  else
    rowHeights_[row] = height;
  UpdateScrollBars();
  Repaint();
}

int PreviewGrid::FitWidth(const QString& text, bool header) const {
  QFont font = viewport()->font();
  font.setBold(header);
  return QFontMetrics(font).horizontalAdvance(text) + kTextPadding;
}

void PreviewGrid::FitColumn(int col) {
  if (col < 0 || col >= ColCount() || !CellText || Frozen()) return;
  int width = FitWidth(CellText(col, 0), true);
  const int top = TopRow(), shown = VisibleScrollingRows(top);
  for (int r = top; r < top + shown; ++r)
    width = std::max(width, FitWidth(CellText(col, r), col == 0));
  SetColWidth(col, width);
}

void PreviewGrid::ResetColWidths() {
  std::fill(colWidths_.begin() + 1, colWidths_.end(), kDefaultColWidth);
  UpdateScrollBars();
  Repaint();
}

void PreviewGrid::Freeze(bool frozen) {
  frozen_ = frozen ? viewport()->grab() : QPixmap();
  Repaint();
}

int PreviewGrid::TopRow() const {
  return verticalScrollBar()->value() + 1;
}
int PreviewGrid::LeftCol() const {
  return horizontalScrollBar()->value() + 1;
}
void PreviewGrid::SetTopRow(int row) {
  verticalScrollBar()->setValue(row - 1);
}
void PreviewGrid::SetLeftCol(int col) {
  horizontalScrollBar()->setValue(col - 1);
}

int PreviewGrid::VisibleScrollingRows(int fromRow) const {
  int y = RowHeight(0) + kGridLineWidth, n = 0;
  for (int r = fromRow; r < rowCount_ && y < viewport()->height(); ++r, ++n)
    y += RowHeight(r) + kGridLineWidth;
  return n;
}

int PreviewGrid::VisibleScrollingCols(int fromCol) const {
  int x = ColWidth(0) + kGridLineWidth, n = 0;
  for (int c = fromCol; c < ColCount() && x < viewport()->width(); ++c, ++n)
    x += ColWidth(c) + kGridLineWidth;
  return n;
}

void PreviewGrid::UpdateScrollBars() {
  // Scrolled to the end, the last row or column is fully visible.
  int lastRows = 0, y = RowHeight(0) + kGridLineWidth;
  for (int r = rowCount_ - 1; r >= 1; --r) {
    y += RowHeight(r) + kGridLineWidth;
    if (y > viewport()->height() && lastRows > 0) break;
    ++lastRows;
  }
  int lastCols = 0, x = ColWidth(0) + kGridLineWidth;
  for (int c = ColCount() - 1; c >= 1; --c) {
    x += ColWidth(c) + kGridLineWidth;
    if (x > viewport()->width() && lastCols > 0) break;
    ++lastCols;
  }
  verticalScrollBar()->setRange(0, std::max(0, rowCount_ - 1 - lastRows));
  verticalScrollBar()->setPageStep(std::max(1, VisibleScrollingRows(TopRow())));
  horizontalScrollBar()->setRange(0, std::max(0, ColCount() - 1 - lastCols));
  horizontalScrollBar()->setPageStep(std::max(1, VisibleScrollingCols(LeftCol())));
}

QRect PreviewGrid::CellRect(int col, int row) const {
  auto left = [&](int c) {
    if (c == 0) return 0;
    if (c < LeftCol()) return -1;
    int x = ColWidth(0) + kGridLineWidth;
    for (int i = LeftCol(); i < c; ++i) x += ColWidth(i) + kGridLineWidth;
    return x;
  };
  auto top = [&](int r) {
    if (r == 0) return 0;
    if (r < TopRow()) return -1;
    int y = RowHeight(0) + kGridLineWidth;
    for (int i = TopRow(); i < r; ++i) y += RowHeight(i) + kGridLineWidth;
    return y;
  };
  const int x = left(col), y = top(row);
  if (x < 0 || y < 0) return {};
  return QRect(x, y, ColWidth(col), RowHeight(row));
}

std::pair<int, int> PreviewGrid::CellAt(const QPoint& point) const {
  int x = ColWidth(0) + kGridLineWidth;
  int col = LeftCol();
  for (; col < ColCount() && x + ColWidth(col) < point.x(); ++col)
    x += ColWidth(col) + kGridLineWidth;
  int y = RowHeight(0) + kGridLineWidth;
  int row = TopRow();
  for (; row < RowCount() && y + RowHeight(row) < point.y(); ++row)
    y += RowHeight(row) + kGridLineWidth;
  if (point.x() < ColWidth(0) || point.y() < RowHeight(0) || col >= ColCount() || row >= RowCount())
    return {-1, -1};
  return {col, row};
}

bool PreviewGrid::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip || !CellText || Frozen())
    return QAbstractScrollArea::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const auto [col, row] = CellAt(help->pos());
  const QString text = col < 0 ? QString() : CellText(col, row);
  // Only a text the cell cuts: the painter leaves two pixels on the left.
  if (text.isEmpty() ||
      viewport()->fontMetrics().horizontalAdvance(text) + 2 <= CellRect(col, row).width()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), text, viewport(), CellRect(col, row));
  }
  return true;
}

void PreviewGrid::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QColor face = palette().color(QPalette::Button);
  const int w = viewport()->width(), h = viewport()->height();
  painter.fillRect(0, 0, w, h, palette().color(QPalette::Base));
  if (Frozen()) {
    painter.drawPixmap(0, 0, frozen_);
    return;
  }

  // Rows and columns on screen: the header and the scrolled part that fits.
  std::vector<int> cols = {0}, rows = {0};
  for (int c = LeftCol(), x = ColWidth(0) + kGridLineWidth; c < ColCount() && x < w; ++c) {
    cols.push_back(c);
    x += ColWidth(c) + kGridLineWidth;
  }
  for (int r = TopRow(), y = RowHeight(0) + kGridLineWidth; r < rowCount_ && y < h; ++r) {
    rows.push_back(r);
    y += RowHeight(r) + kGridLineWidth;
  }
  int y = 0;
  for (const int r : rows) {
    int x = 0;
    for (const int c : cols) {
      const QRect rect(x, y, ColWidth(c), RowHeight(r));
      // The 1-pixel grid lines right of and below the cell; a cell may draw over them.
      painter.fillRect(x + rect.width(), y, kGridLineWidth, rect.height() + kGridLineWidth,
                       Qt::gray);
      painter.fillRect(x, y + rect.height(), rect.width(), kGridLineWidth, Qt::gray);
      painter.save();
      painter.setClipRect(rect.adjusted(0, 0, kGridLineWidth, kGridLineWidth));
      painter.fillRect(rect, r == 0 || c == 0 ? face : Qt::white);
      if (DrawCell) DrawCell(painter, rect, c, r);
      painter.restore();
      x += rect.width() + kGridLineWidth;
    }
    y += RowHeight(r) + kGridLineWidth;
  }
}

void PreviewGrid::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

int PreviewGrid::ColumnEdgeAt(int x, int y) const {
  if (y > RowHeight(0)) return -1;
  if (std::abs(x - ColWidth(0)) <= kEdgeReach) return 0;
  for (int c = LeftCol(), edge = ColWidth(0) + kGridLineWidth; c < ColCount(); ++c) {
    edge += ColWidth(c);
    if (std::abs(x - edge) <= kEdgeReach) return c;
    if (edge > x + kEdgeReach) break;
    edge += kGridLineWidth;
  }
  return -1;
}

int PreviewGrid::RowEdgeAt(int x, int y) const {
  if (x > ColWidth(0)) return -1;
  if (std::abs(y - RowHeight(0)) <= kEdgeReach) return 0;
  for (int r = TopRow(), edge = RowHeight(0) + kGridLineWidth; r < rowCount_; ++r) {
    edge += RowHeight(r);
    if (std::abs(y - edge) <= kEdgeReach) return r;
    if (edge > y + kEdgeReach) break;
    edge += kGridLineWidth;
  }
  return -1;
}

void PreviewGrid::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  resizingCol_ = ColumnEdgeAt(p.x(), p.y());
  resizingRow_ = resizingCol_ < 0 ? RowEdgeAt(p.x(), p.y()) : -1;
  if (resizingCol_ >= 0) {
    resizeOrigin_ = p.x();
    resizeStart_ = ColWidth(resizingCol_);
  } else if (resizingRow_ >= 0) {
    resizeOrigin_ = p.y();
    resizeStart_ = RowHeight(resizingRow_);
  }
  // A press that takes an edge resizes; it is no click on a cell.
  if (resizingCol_ < 0 && resizingRow_ < 0 && MouseDown) MouseDown(event->button(), p.x(), p.y());
}

void PreviewGrid::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (resizingCol_ >= 0) {
    SetColWidth(resizingCol_, resizeStart_ + p.x() - resizeOrigin_);
    return;
  }
  if (resizingRow_ >= 0) {
    SetRowHeight(resizingRow_, resizeStart_ + p.y() - resizeOrigin_);
    return;
  }
  const bool onEdge = ColumnEdgeAt(p.x(), p.y()) >= 0 || RowEdgeAt(p.x(), p.y()) >= 0;
  viewport()->setCursor(
      onEdge ? (ColumnEdgeAt(p.x(), p.y()) >= 0 ? Qt::SplitHCursor : Qt::SplitVCursor)
             : Qt::CrossCursor);
  if (MouseMove) MouseMove(p.x(), p.y());
}

void PreviewGrid::mouseReleaseEvent(QMouseEvent*) {
  resizingCol_ = resizingRow_ = -1;
}

void PreviewGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  const int col = event->button() == Qt::LeftButton ? ColumnEdgeAt(p.x(), p.y()) : -1;
  if (col < 0) {
    mousePressEvent(event);  // a second press, as a double click always was
    return;
  }
  resizingCol_ = resizingRow_ = -1;
  FitColumn(col);
}

}  // namespace gui

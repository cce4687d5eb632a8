// An owner-drawn grid in the manner of a spreadsheet: one fixed header row and column, rows
// and columns the user can resize (a double click on a column's header edge fits it to its
// texts), scrolling by whole rows and columns, a draw callback per cell and mouse events in
// pixels. It paints only the visible cells, so 65,536 rows scroll as smoothly as 20.
#pragma once

#include <QAbstractScrollArea>
#include <QPixmap>
#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace gui {

class PreviewGrid : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr int kDefaultColWidth = 74;
  static constexpr int kDefaultRowHeight = 20;
  static constexpr int kGridLineWidth = 1;

  explicit PreviewGrid(QWidget* parent = nullptr);

  // Called for every visible cell after its standard background is filled; `rect` excludes
  // the grid lines (right and bottom exclusive).
  std::function<void(QPainter& painter, const QRect& rect, int col, int row)> DrawCell;
  // Any mouse button; positions in pixels of the grid's drawing area.
  std::function<void(Qt::MouseButton button, int x, int y)> MouseDown;
  std::function<void(int x, int y)> MouseMove;
  // A cell's whole text, in row and column 0 the header's: shown as a tooltip where the cell
  // cuts it, and what a column is fitted to.
  std::function<QString(int col, int row)> CellText;

  int ColCount() const { return static_cast<int>(colWidths_.size()); }
  int RowCount() const { return rowCount_; }
  void SetColCount(int count);
  void SetRowCount(int count);
  int ColWidth(int col) const;
  int RowHeight(int row) const;
  void SetColWidth(int col, int width);
  void SetRowHeight(int row, int height);
  // The first visible scrolling row and column (1 when scrolled to the start).
  int TopRow() const;
  int LeftCol() const;
  void SetTopRow(int row);
  void SetLeftCol(int col);
  // The rectangle of a cell in viewport pixels (empty when not visible).
  QRect CellRect(int col, int row) const;
  // The visible scrolling cell under a viewport point; (-1, -1) when none.
  std::pair<int, int> CellAt(const QPoint& point) const;
  void Repaint() { viewport()->update(); }

  // The width a cell needs for `text`: in the grid's font, bold in the headers as they are
  // painted, with room either side.
  int FitWidth(const QString& text, bool header) const;
  // Fits a column to the widest text of its header and of the rows shown.
  void FitColumn(int col);
  // The scrolling columns back to the default width; the header column keeps its own.
  void ResetColWidths();
  // Frozen, the grid shows the picture it had and asks its callbacks nothing: what they read
  // is busy elsewhere.
  void Freeze(bool frozen);
  bool Frozen() const { return !frozen_.isNull(); }

 protected:
  bool viewportEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void UpdateScrollBars();
  int VisibleScrollingRows(int fromRow) const;
  int VisibleScrollingCols(int fromCol) const;
  // The column (or row) whose right (or bottom) edge is within reach of the pointer in the
  // header row (or column); -1 when none.
  int ColumnEdgeAt(int x, int y) const;
  int RowEdgeAt(int x, int y) const;

  std::vector<int> colWidths_;
  std::map<int, int> rowHeights_;  // rows not of the default height
  int rowCount_ = 2;
  int resizingCol_ = -1, resizingRow_ = -1;
  int resizeOrigin_ = 0, resizeStart_ = 0;
  QPixmap frozen_;
};

}  // namespace gui

// The setup window's preview grids: what each cell shows beside the sheet (marks, header
// labels), and what a click or a hover in a grid means in the current click mode.
#include "gui/UFiles.hpp"

#include <QPainter>
#include <algorithm>

#include "gui/CellPainter.hpp"
#include "gui/PreviewGrid.hpp"
#include "gui/UFilesParts.hpp"
#include "gui/UMain.hpp"

namespace gui {

using namespace setup_window;

QString TFFiles::GridCellText(bool mainTable, int c, int r) {
  if (opening_) return QString();  // the store is busy
  if (c == 0 && r == 0) return QString();
  if (c == 0 || r == 0) return HeaderText(c, r, Decorate(mainTable, c, r).label);
  const merge::Parameters& p = main_.Params;
  const std::int32_t book = mainTable ? p.MainBook : p.AddBook;
  if (book < 0) return QString();
  try {
    return QString::fromStdString(
        main_.Store->CachedCell(book, mainTable ? ShownSheet1 : ShownSheet2, c, r).Text);
  } catch (const automation::Refused&) {
    return QString();
  } catch (const automation::ConnectionLost&) {
    return QString();
  }
}

int TFFiles::ShownColCount(bool mainTable) const {
  const merge::Parameters& p = main_.Params;
  const int book = mainTable ? p.MainBook : p.AddBook;
  const int sheet = mainTable ? ShownSheet1 : ShownSheet2;
  if (book < 0) return 0;
  const auto& list = main_.Store->Books[static_cast<std::size_t>(book)].SheetList;
  return sheet >= 0 && sheet < static_cast<int>(list.size())
             ? list[static_cast<std::size_t>(sheet)].ColCount
             : 0;
}

QPoint TFFiles::HitTest(const PreviewGrid& grid, int x, int y) {
  constexpr int line = PreviewGrid::kGridLineWidth;
  auto find = [line](int at, int firstScrolling, int count, auto size) {
    if (at <= 0) return -1;
    int index = 0, bottom = size(0) + line;
    if (at > bottom) {
      index = firstScrolling - 1;
      while (at > bottom && index < count - 1) {
        ++index;
        bottom += size(index) + line;
      }
    }
    return index;
  };
  const int row = find(y, grid.TopRow(), grid.RowCount(), [&](int r) { return grid.RowHeight(r); });
  const int col = find(x, grid.LeftCol(), grid.ColCount(), [&](int c) { return grid.ColWidth(c); });
  return {col, row};
}

void TFFiles::Grid1MouseMove(int x, int y) {
  const QPoint previous(HotCol1, HotRow1);
  const QPoint hot = HitTest(*Grid1, x, y);
  HotCol1 = hot.x();
  HotRow1 = hot.y();
  if (!ClickMode.isEmpty() && hot != previous) Grid1->Repaint();
}

void TFFiles::Grid2MouseMove(int x, int y) {
  const QPoint previous(HotCol2, HotRow2);
  const QPoint hot = HitTest(*Grid2, x, y);
  HotCol2 = hot.x();
  HotRow2 = hot.y();
  if (!ClickMode.isEmpty() && hot != previous) Grid2->Repaint();
}

void TFFiles::Grid1MouseDown(int x, int y) {
  const QPoint hot = HitTest(*Grid1, x, y);
  HotCol1 = hot.x();
  HotRow1 = hot.y();
  const int c = HotCol1, r = HotRow1;
  merge::Parameters& p = main_.Params;
  if (ClickMode == "Sheet1") {
    ConfirmSheet(true);
  } else if (ClickMode == "TitleRow1" || ClickMode == "FirstRow1") {
    (ClickMode == "TitleRow1" ? p.MainTitleRow : p.MainFirstRow) = r - 1;
    ClickMode.clear();
    RefreshPanels();
  } else if (ClickMode == "IdxCol1") {
    if (c - 1 > ShownColCount(true)) return;  // right of the first free column: ignored
    if (c >= 1) {
      PendingMainCol = c - 1;
      ClickMode = "IdxCol2";
    } else {
      ClearPendingLink();
      MinusButton->setEnabled(true);
      ClickMode.clear();
    }
    RefreshPanels();
  } else {
    return;
  }
  Grid1->Repaint();
}

void TFFiles::Grid2MouseDown(int x, int y) {
  const QPoint hot = HitTest(*Grid2, x, y);
  HotCol2 = hot.x();
  HotRow2 = hot.y();
  const int c = HotCol2, r = HotRow2;
  merge::Parameters& p = main_.Params;
  if (ClickMode == "Sheet2") {
    ConfirmSheet(false);
    Grid2->Repaint();
  } else if (ClickMode == "TitleRow2") {
    p.AddTitleRow = r - 1;
    ClickMode.clear();
    RefreshPanels();
    Grid2->Repaint();
  } else if (ClickMode == "Copy") {
    // An add column's header marks it, or unmarks it; the order of marking is the order of
    // the copies.
    if (r != 0 || c < 1 || c > ShownColCount(false)) return;
    std::vector<std::int32_t>& marked = p.CopyColumns;
    const auto at = std::find(marked.begin(), marked.end(), c - 1);
    if (at == marked.end())
      marked.push_back(c - 1);
    else
      marked.erase(at);
    RefreshPanels();
    Grid2->Repaint();
  } else if (ClickMode == "IdxCol2") {
    if (c - 1 > ShownColCount(false)) return;
    if (c >= 1) {
      PendingAddCol = c - 1;
      AppendPendingLink();
    } else {
      ClearPendingLink();
    }
    ClickMode.clear();
    MinusButton->setEnabled(true);
    RefreshPanels();
    Grid1->Repaint();
    Grid2->Repaint();
  }
}

TFFiles::Decoration TFFiles::Decorate(bool mainTable, int c, int r) const {
  const merge::Parameters& p = main_.Params;
  const int book = mainTable ? p.MainBook : p.AddBook;
  const int colCount = ShownColCount(mainTable);
  Decoration d;
  if (c == 0 && r == 0 && (mainTable ? p.MainSheet : p.AddSheet) >= 0) d.marks |= CornerDot;
  const bool choosingRow =
      mainTable ? (ClickMode == "TitleRow1" || ClickMode == "FirstRow1") : ClickMode == "TitleRow2";
  if (choosingRow && r == (mainTable ? HotRow1 : HotRow2)) d.marks |= RowHighlight;
  const int hotCol = mainTable ? HotCol1 : HotCol2;
  if (ClickMode == (mainTable ? "IdxCol1" : "IdxCol2") && c == hotCol && hotCol - 1 <= colCount)
    d.marks |= ColumnHighlight;
  if (book >= 0 && c == colCount) d.marks |= UsedAreaEdge;
  if (!mainTable && c > 0 && r == 0) {
    const auto at = std::find(p.CopyColumns.begin(), p.CopyColumns.end(), c - 1);
    if (at != p.CopyColumns.end()) {
      d.marks |= CopyMarked;
      d.label = "Copy " + QString::number(at - p.CopyColumns.begin() + 1);
    }
  }
  if (c > 0 && r == 0) {
    for (std::size_t i = 0; i < p.Links.size(); ++i) {
      const merge::TLink& link = p.Links[i];
      if (!link.Deleted && c == (mainTable ? link.MainCol : link.AddCol) + 1)
        d.label = "Link " + QString::number(i + 1);
    }
    if (LinkPending && c == (mainTable ? PendingMainCol : PendingAddCol) + 1) d.label = "Link ?";
    // A marked header still names its column.
    if (!d.label.isEmpty())
      d.label = QString::fromStdString(store::clc::ColumnName(c - 1)) + " · " + d.label;
  }
  if (c == 0 && r > 0) {
    if (mainTable && r == p.MainFirstRow + 1) d.label = kDataBegin;
    if (r == (mainTable ? p.MainTitleRow : p.AddTitleRow) + 1) d.label = "Title";
  }
  return d;
}

void TFFiles::DrawGridCell(bool mainTable, QPainter& painter, const QRect& rect, int c, int r) {
  const merge::Parameters& p = main_.Params;
  const Decoration d = Decorate(mainTable, c, r);
  if (c == 0 && !d.label.isEmpty()) {
    // The header column grows back to its label when it was narrowed below it.
    PreviewGrid* grid = mainTable ? Grid1 : Grid2;
    const int width = grid->FitWidth(d.label, true);
    if (width > grid->ColWidth(0)) grid->SetColWidth(0, width);
  }
  store::cell_value cell;
  try {
    if (!opening_)  // the store is busy meanwhile; the table that opens has no cells yet
      cell = main_.Store->CachedCell(mainTable ? p.MainBook : p.AddBook,
                                     mainTable ? ShownSheet1 : ShownSheet2, c, r);
  } catch (const automation::Refused&) {
    // The office refuses the cell: it paints empty, the window lives.
  } catch (const automation::ConnectionLost&) {
    // The office is gone: the same.
  }
  PaintCell(painter, rect, c, r, cell, d.marks, d.label);
}

}  // namespace gui

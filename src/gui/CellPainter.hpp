// How one preview cell looks: header texts bold and centred, sheet cells on their background
// with a silver right line, and the marks that show what the merge parameters point at.
#pragma once

#include <QColor>
#include <QString>

#include "store/Ucommonxlsclc.hpp"

class QPainter;
class QRect;

namespace gui {

enum CellMark : unsigned {
  CornerDot = 1,        // the table's sheet is confirmed
  RowHighlight = 2,     // the row under the mouse while a row is being chosen
  ColumnHighlight = 4,  // the column under the mouse while a link column is being chosen
  UsedAreaEdge = 16,    // the sheet's last used column
  CopyMarked = 32,      // an add column chosen to be copied
};

// Paints grid cell (col, row): row 0 and column 0 are the headers. `label` replaces a header's
// number or letters (and a sheet cell's text when given).
void PaintCell(QPainter& painter, const QRect& rect, int col, int row,
               const store::cell_value& cell, unsigned marks, const QString& label);

// What a header cell shows: its label, else its row number or column letters.
QString HeaderText(int col, int row, const QString& label);

// A colour in Windows form (0x00BBGGRR) as Qt's.
QColor WindowsColor(store::Color color);

}  // namespace gui

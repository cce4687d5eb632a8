// The setup window's tables: a file opened off the window's thread, its sheets on the tab
// strip, and the sheet confirmed.
#include "gui/UFiles.hpp"

#include <QTabBar>
#include <algorithm>
#include <exception>
#include <memory>

#include "gui/Dialogs.hpp"
#include "gui/PreviewGrid.hpp"
#include "gui/UFilesParts.hpp"
#include "gui/UMain.hpp"

namespace gui {

using namespace setup_window;

void TFFiles::FillTabs(QTabBar* tabs, int book) {
  const QSignalBlocker block(tabs);
  while (tabs->count() > 0) tabs->removeTab(0);
  if (book < 0) return;
  for (const store::sheet& s : main_.Store->Books[static_cast<std::size_t>(book)].SheetList)
    tabs->addTab(QString::fromStdString(s.Name));
  (tabs == TabSet1 ? previousTab1_ : previousTab2_) = -1;
}

void TFFiles::ChangeTab(QTabBar* tabs, int n) {
  if (n < 0) return;
  int& previous = tabs == TabSet1 ? previousTab1_ : previousTab2_;
  if (tabs == TabSet1 ? TabSet1Change(n) : TabSet2Change(n)) {
    previous = n;
  } else {  // refused: the previous tab stays selected
    const QSignalBlocker block(tabs);
    tabs->setCurrentIndex(previous);
  }
}

void TFFiles::SelectTab(QTabBar* tabs, int index) {
  const int previous = tabs == TabSet1 ? previousTab1_ : previousTab2_;
  if (tabs->currentIndex() != index) {
    tabs->setCurrentIndex(index);
  } else if (previous < 0) {
    // Freshly filled, no tab counts as selected yet (Qt marks the first one): the first
    // selection still reaches the handler.
    ChangeTab(tabs, index);
  }
}

void TFFiles::OpenTable(bool mainTable) {
  const std::optional<QString> chosen = main_.dialogs().OpenFile(
      this, QString(), "ods|*.ods|Spreadsheets|*.ods *.fods *.xlsx *.xls *.csv *.tsv|All files|*");
  if (!chosen) return;
  merge::Parameters& p = main_.Params;
  if (mainTable) {
    p.MainFirstRow = p.MainTitleRow = p.AddThereColumn = p.MainSheet = -1;
    p.LinkCount = 0;
    p.Links.clear();
  } else {
    p.AddTitleRow = p.AddSheet = -1;
    p.CopyColumns.clear();  // they were columns of the table that goes
  }
  // The table that goes is gone at once; the new one is there when it has opened.
  (mainTable ? p.MainFile : p.AddFile).clear();
  (mainTable ? p.MainBook : p.AddBook) = -1;
  FillTabs(mainTable ? TabSet1 : TabSet2, -1);
  PreviewGrid* grid = mainTable ? Grid1 : Grid2;
  grid->ResetColWidths();  // they were the widths of its columns
  grid->SetTopRow(1);
  grid->SetLeftCol(1);
  RefreshPanels();
  HoldForOpen(mainTable, true);
  (mainTable ? FileNamePanel1 : FileNamePanel2)->setText("Opening " + *chosen + "...");

  // The load and the rows the grid shows first are read off the window's thread.
  const int pitch = PreviewGrid::kDefaultRowHeight + PreviewGrid::kGridLineWidth;
  const int rows = std::min(kStoreWindowRows, grid->viewport()->height() / pitch + 1);
  auto opened = std::make_shared<OpenedTable>();
  const std::string other = mainTable ? p.AddFile : p.MainFile;
  main_.UseStoreOffThread(
      [main = &main_, store = main_.Store.get(), file = chosen->toStdString(), rows, opened,
       mainTable, other] {
        try {  // the thread's outermost frame
          // An office that went away is started again, the other table with it.
          if (const auto revived = main->ReviveOffice(mainTable ? std::string() : other,
                                                      mainTable ? other : std::string()))
            opened->otherBook = mainTable ? revived->second : revived->first;
          opened->book = store->OpenBook(file);
          for (int r = 1; opened->book >= 0 && r <= rows; ++r)
            store->CachedCell(opened->book, 0, 1, r);  // reads the whole row
        } catch (const automation::Refused&) {
          // the preview asks again as it paints
        } catch (const automation::ConnectionLost&) {
          // the same
        } catch (const std::exception& e) {
          opened->failure = e.what();
        } catch (...) {
          opened->failure = "an unknown failure";
        }
      },
      // A window closed meanwhile leaves the book in the store, unused.
      [self = QPointer<TFFiles>(this), mainTable, file = *chosen, opened] {
        if (self) self->TableOpened(mainTable, file, *opened);
      });
}

void TFFiles::TableOpened(bool mainTable, const QString& file, const OpenedTable& opened) {
  HoldForOpen(mainTable, false);
  merge::Parameters& p = main_.Params;
  if (opened.otherBook) {
    (mainTable ? p.AddBook : p.MainBook) = *opened.otherBook;
    if (*opened.otherBook < 0 && !(mainTable ? p.AddFile : p.MainFile).empty()) {
      Note("The office had ended and was started again, but it cannot open\n" +
           QString::fromStdString(mainTable ? p.AddFile : p.MainFile) + " again.");
      p.ForgetTable(!mainTable);
      if (mainTable) p.CopyColumns.clear();  // columns of the add table that went
      FillTabs(mainTable ? TabSet2 : TabSet1, -1);
    }
    (mainTable ? Grid2 : Grid1)->Repaint();
  }
  QTabBar* tabs = mainTable ? TabSet1 : TabSet2;
  PreviewGrid* grid = mainTable ? Grid1 : Grid2;
  const int book = opened.failure.empty() ? opened.book : -1;
  if (book < 0 || main_.Store->Books[static_cast<std::size_t>(book)].SheetList.empty()) {
    QString reason = QString::fromStdString(opened.failure.empty() ? main_.Store->LastOpenError
                                                                   : opened.failure);
    if (!reason.isEmpty()) reason = "\n" + reason.left(1).toUpper() + reason.mid(1) + ".";
    Note("The office cannot open\n" + file + reason);
  } else {
    (mainTable ? p.MainFile : p.AddFile) = file.toStdString();
    (mainTable ? p.MainBook : p.AddBook) = book;
    FillTabs(tabs, book);
    SelectTab(tabs, 0);
    const store::sheet& first = main_.Store->Books[static_cast<std::size_t>(book)].SheetList[0];
    grid->SetRowCount(GridRows(first.RowCount));
    grid->SetColCount(first.ColumnLimit + 1);  // every column the office has, and the header
  }
  grid->Repaint();
  RefreshPanels();
}

void TFFiles::HoldForOpen(bool mainTable, bool hold) {
  opening_ = hold;
  if (hold) {
    // The other grid keeps its picture; its cells are in the store.
    (mainTable ? Grid2 : Grid1)->Freeze(true);
    held_.clear();
    for (QWidget* control : std::initializer_list<QWidget*>{
             FileChoiseButton1, FileChoiseButton2, SheetButton1, SheetButton2, TitleRowButton1,
             FirstRowButton1, TitleRowButton2, CopyButton, PlusButton, MinusButton, OKButton, Grid1,
             Grid2, TabSet1, TabSet2}) {
      held_.emplace_back(control, control->isEnabled());
      control->setEnabled(false);
    }
    setCursor(Qt::BusyCursor);
  } else {
    for (const auto& [control, enabled] : held_)
      if (control) control->setEnabled(enabled);
    held_.clear();
    (mainTable ? Grid2 : Grid1)->Freeze(false);
    unsetCursor();
  }
  for (PreviewGrid* grid : {Grid1, Grid2})
    grid->viewport()->setCursor(hold ? Qt::BusyCursor : Qt::CrossCursor);
}

void TFFiles::FileChoiseButton1Click() {
  OpenTable(true);
}

void TFFiles::FileChoiseButton2Click() {
  OpenTable(false);
}

void TFFiles::SheetButton1Click() {
  merge::Parameters& p = main_.Params;
  if (p.MainFile.empty()) {
    Note("File not opened");
    return;
  }
  p.MainFirstRow = p.MainTitleRow = p.AddThereColumn = -1;
  p.LinkCount = 0;
  p.Links.clear();
  Grid1->SetTopRow(1);
  Grid1->SetLeftCol(1);
  Grid1->Repaint();
  Grid2->Repaint();
  ClickMode = "Sheet1";
  if (LinkPending) {
    ClearPendingLink();
    MinusButton->setEnabled(true);
  }
  RefreshPanels();
}

void TFFiles::SheetButton2Click() {
  merge::Parameters& p = main_.Params;
  if (p.AddFile.empty()) {
    Note("File not opened");
    return;
  }
  p.AddTitleRow = -1;
  p.CopyColumns.clear();
  p.LinkCount = 0;
  p.Links.clear();
  Grid1->Repaint();
  Grid2->Repaint();
  ClickMode = "Sheet2";
  if (LinkPending) {
    ClearPendingLink();
    MinusButton->setEnabled(true);
  }
  RefreshPanels();
}

void TFFiles::ConfirmSheet(bool mainTable) {
  merge::Parameters& p = main_.Params;
  if (mainTable) {
    p.MainSheet = ShownSheet1;
    p.AddThereColumn = ShownColCount(true) + 2;
  } else {
    p.AddSheet = ShownSheet2;
  }
  ClickMode.clear();
  RefreshPanels();
}

void TFFiles::TabClicked(bool mainTable, int n) {
  QTabBar* tabs = mainTable ? TabSet1 : TabSet2;
  if (ClickMode != (mainTable ? "Sheet1" : "Sheet2") || n < 0 || n != tabs->currentIndex()) return;
  ConfirmSheet(mainTable);
  (mainTable ? Grid1 : Grid2)->Repaint();
}

bool TFFiles::TabSet1Change(int n) {
  return TabSetChange(true, n);
}

bool TFFiles::TabSet2Change(int n) {
  return TabSetChange(false, n);
}

bool TFFiles::TabSetChange(bool mainTable, int n) {
  merge::Parameters& p = main_.Params;
  const QString confirming = mainTable ? "Sheet1" : "Sheet2";
  if ((mainTable ? p.MainSheet : p.AddSheet) == -1 || ClickMode == confirming) {
    (mainTable ? ShownSheet1 : ShownSheet2) = n;
    PreviewGrid* grid = mainTable ? Grid1 : Grid2;
    const int book = mainTable ? p.MainBook : p.AddBook;
    if (book >= 0) {
      const store::sheet& shown =
          main_.Store->Books[static_cast<std::size_t>(book)].SheetList[static_cast<std::size_t>(n)];
      grid->SetRowCount(GridRows(shown.RowCount));
      grid->SetColCount(shown.ColumnLimit + 1);
    }
    if (ClickMode == confirming) ConfirmSheet(mainTable);
    grid->Repaint();
    return true;
  }
  if (FillingTabs) return true;
  Note("Press Sheet Button first");
  return false;
}

}  // namespace gui

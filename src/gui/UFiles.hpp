// The merge setup window: open both tables, preview their sheets, choose sheets, title and
// data rows by clicks in the grids, and define the links. Every choice is written straight
// into the main window's merge parameters; the window itself keeps only what a click means.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollArea;
class QTabBar;
class QToolButton;

namespace gui {

class PreviewGrid;
class TFMain;

class TFFiles : public QDialog {
  Q_OBJECT

 public:
  explicit TFFiles(TFMain& main);

  // Window state.
  QString ClickMode;  // "", "Sheet1", "Sheet2", "TitleRow1", "FirstRow1", "TitleRow2",
                      // "IdxCol1", "IdxCol2", "Copy"
  int PendingMainCol = -1;
  int PendingAddCol = -1;
  bool LinkPending = false;
  bool FillingTabs = false;
  int HotCol1 = 0, HotRow1 = 0, HotCol2 = 0, HotRow2 = 0;
  int ShownSheet1 = 0, ShownSheet2 = 0;

  // Controls.
  QFrame *WindowPanel, *CommonLeftPanel, *BaseFilePanel, *AddFilePanel, *IndexPanel;
  // Holds the left panel: on a small screen it scrolls, so every control stays reachable.
  QScrollArea* LeftScroll = nullptr;
  QFrame *BothF1Panel, *F1Panel1, *F1Panel2;
  QLabel *MainLabel, *AddLabel, *LinksLabel, *FileNamePanel1, *FileNamePanel2;
  QPushButton *FileChoiseButton1, *FileChoiseButton2, *SheetButton1, *SheetButton2;
  QPushButton *TitleRowButton1, *FirstRowButton1, *TitleRowButton2;
  // Pressed, a click on an add column's header marks or unmarks it for copying.
  QPushButton* CopyButton;
  QLabel *SheetPanel1, *SheetPanel2, *TitleRowPanel1, *FirstRowPanel1, *TitleRowPanel2;
  QLabel* CopyPanel;  // the marked columns, or "all"
  QPushButton *PlusButton, *MinusButton, *OKButton;
  QToolButton* HelpButton;
  QListWidget* indexlb;
  QCheckBox* case_snes_cb;
  QCheckBox* values_cb;
  QCheckBox* near_cb;  // main rows take the add row of a near key
  // What several add rows of one key give: the row met first (as ever), the first, the last,
  // or no run.
  QLabel* DuplicatesLabel;
  QComboBox* duplicates_cb;
  PreviewGrid *Grid1, *Grid2;
  QTabBar *TabSet1, *TabSet2;

  // Handlers.
  void FileChoiseButton1Click();
  void FileChoiseButton2Click();
  void SheetButton1Click();
  void SheetButton2Click();
  // Returns whether the change to tab n is allowed.
  bool TabSet1Change(int n);
  bool TabSet2Change(int n);
  void TitleRowButton1Click();
  void FirstRowButton1Click();
  void TitleRowButton2Click();
  void PlusButtonClick();
  void MinusButtonClick();
  void case_snes_cbClick();
  void values_cbClick();
  void near_cbClick();
  void duplicates_cbChange(int index);
  void CopyButtonClick();
  void HelpButtonClick();
  void OKButtonClick() { accept(); }
  void Grid1MouseDown(int x, int y);
  void Grid2MouseDown(int x, int y);
  void Grid1MouseMove(int x, int y);
  void Grid2MouseMove(int x, int y);

  void RefreshPanels();
  void ClearPendingLink();
  // The cell under a point of a grid: (column, row), -1 where the point is off the grid.
  static QPoint HitTest(const PreviewGrid& grid, int x, int y);
  // What a grid cell shows besides the sheet: marks and a header label.
  struct Decoration {
    unsigned marks = 0;
    QString label;
  };
  Decoration Decorate(bool main, int c, int r) const;

  // The grid rows for a sheet of `rowCount` used rows.
  static int GridRows(int rowCount) { return rowCount < 2 ? 2 : rowCount + 2; }

  // A table is being opened off the window's thread: the store is busy, and what needs it
  // waits.
  bool Opening() const { return opening_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;  // FormResize

 private:
  void FormCreate();
  void BuildWindow();
  void BuildPreviews();  // the file bars, grids and sheet tabs
  void ConnectButtons();
  // What a grid's cell shows as text, for its tooltip and for fitting its column.
  QString GridCellText(bool main, int c, int r);
  void OpenTable(bool main);
  // What an open found, read on the office's side; an empty failure when nothing escaped.
  struct OpenedTable {
    int book = -1;
    std::string failure;
    // The office had gone and was started again: the other table's new book (-1: lost).
    std::optional<std::int32_t> otherBook;
  };
  void TableOpened(bool main, const QString& file, const OpenedTable& opened);
  // While a table opens: the controls that need the store off, the other grid frozen, and
  // the busy cursor; and back.
  void HoldForOpen(bool main, bool hold);
  void ConfirmSheet(bool main);
  bool TabSetChange(bool main, int n);  // both tab bars' change handler
  // A click on a tab: on the one shown, after a Sheet button, it confirms that sheet.
  void TabClicked(bool main, int n);
  // What a click in a table's grid or tabs does now, for its name bar; empty when nothing waits.
  QString Hint(bool main) const;
  void StartRowChoice(bool main, int& parameter, const QString& mode);
  void ChangeTab(QTabBar* tabs, int n);
  void Note(const QString& text);
  int ShownColCount(bool main) const;
  void DrawGridCell(bool main, QPainter& painter, const QRect& rect, int c, int r);
  void SelectTab(QTabBar* tabs, int index);
  void FillTabs(QTabBar* tabs, int book);
  void AppendPendingLink();

  TFMain& main_;
  int previousTab1_ = -1, previousTab2_ = -1;
  bool opening_ = false;
  std::vector<std::pair<QPointer<QWidget>, bool>> held_;  // controls held, as they were
};

}  // namespace gui

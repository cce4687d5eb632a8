#include "gui/UFiles.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStringList>
#include <QTabBar>
#include <QToolButton>
#include <algorithm>
#include <exception>
#include <initializer_list>
#include <memory>

#include "gui/CellPainter.hpp"
#include "gui/Dialogs.hpp"
#include "gui/PreviewGrid.hpp"
#include "gui/ProgramIcon.hpp"
#include "gui/UMain.hpp"

namespace gui {

namespace {

constexpr int kLeftWidth = 361;
constexpr int kBaseHeight = 209;
constexpr int kAddHeight = 201;
constexpr int kIndexMinHeight = 225;  // the links panel with its list, check boxes and buttons
constexpr int kSheetPanelWidth = 149;
constexpr int kFileBarHeight = 41;
constexpr int kTabHeight = 21;
constexpr int kInitialGridRows = 65536;
// The widest row label; the header column fits it from the start.
const QString kDataBegin = "Data Begin";
// Rows of a sheet the store keeps read (CachedCell's window): the most an open reads ahead.
constexpr int kStoreWindowRows = 21;

QFont Font(bool bold = false) {
  QFont font = QApplication::font();
  font.setPixelSize(13);
  font.setBold(bold);
  return font;
}

QFrame* Panel(QWidget* parent) {
  auto* panel = new QFrame(parent);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  return panel;
}

QPushButton* Button(const QString& text, const QString& hint, QWidget* parent, QRect geometry,
                    bool bold = true) {
  auto* button = new QPushButton(text, parent);
  button->setToolTip(hint);
  button->setGeometry(geometry);
  button->setFont(Font(bold));
  return button;
}

QLabel* NumberPanel(const QString& hint, QWidget* parent, QPoint at) {
  auto* panel = new QLabel(parent);
  panel->setToolTip(hint);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAlignment(Qt::AlignCenter);
  panel->setFont(Font(true));
  panel->setGeometry(at.x(), at.y(), 73, 25);
  return panel;
}

void SetBold(QPushButton* button, bool bold) {
  button->setFont(Font(bold));
}

QString RowText(int row, bool awaited) {
  if (awaited) return "?";
  return row < 0 ? QString() : QString::number(row + 1);
}

}  // namespace

TFFiles::TFFiles(TFMain& main) : QDialog(&main), main_(main) {
  BuildWindow();
  FormCreate();
}

void TFFiles::BuildWindow() {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(ProgramIcon());
  setFont(Font());
  setSizeGripEnabled(true);

  WindowPanel = new QFrame(this);
  LeftScroll = new QScrollArea(WindowPanel);
  LeftScroll->setFrameShape(QFrame::NoFrame);
  LeftScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  CommonLeftPanel = new QFrame;
  LeftScroll->setWidget(CommonLeftPanel);
  BaseFilePanel = Panel(CommonLeftPanel);
  AddFilePanel = Panel(CommonLeftPanel);
  IndexPanel = Panel(CommonLeftPanel);
  BothF1Panel = new QFrame(WindowPanel);
  F1Panel1 = Panel(BothF1Panel);
  F1Panel2 = Panel(BothF1Panel);

  MainLabel = new QLabel("Main Table", BaseFilePanel);
  MainLabel->setFont(Font(true));
  MainLabel->move(8, 8);
  FileChoiseButton1 = Button("Open", "Open Base File", BaseFilePanel, {8, 32, 177, 25});
  SheetButton1 = Button("Sheet", "Sheet Select", BaseFilePanel, {8, 72, 177, 25});
  SheetPanel1 = NumberPanel("", BaseFilePanel, {200, 72});
  SheetPanel1->resize(kSheetPanelWidth, SheetPanel1->height());
  TitleRowButton1 =
      Button("Title Row", "Title Row Select", BaseFilePanel, {8, 112, 177, 25}, false);
  TitleRowPanel1 = NumberPanel("Title Row Number", BaseFilePanel, {200, 112});
  FirstRowButton1 =
      Button("Data Begin Row", "First Data Row Select", BaseFilePanel, {8, 152, 177, 25});
  FirstRowPanel1 = NumberPanel("First Row With Data Number", BaseFilePanel, {200, 152});

  AddLabel = new QLabel("Add Table", AddFilePanel);
  AddLabel->setFont(Font(true));
  AddLabel->move(8, 8);
  FileChoiseButton2 = Button("Open", "Open Additional File", AddFilePanel, {8, 32, 177, 25});
  SheetButton2 = Button("Sheet", "Sheet Select", AddFilePanel, {8, 72, 177, 25});
  SheetPanel2 = NumberPanel("", AddFilePanel, {200, 72});
  SheetPanel2->resize(kSheetPanelWidth, SheetPanel2->height());
  TitleRowButton2 = Button("Title Row", "Title Row Select", AddFilePanel, {8, 112, 177, 25}, false);
  TitleRowPanel2 = NumberPanel("Title Row Number", AddFilePanel, {200, 112});
  CopyButton = Button("Copy", "Columns To Copy: Click Their Headers", AddFilePanel,
                      {8, 152, 177, 25}, false);
  CopyButton->setCheckable(true);
  CopyPanel = NumberPanel("Columns To Copy", AddFilePanel, {200, 152});
  CopyPanel->resize(kSheetPanelWidth, CopyPanel->height());

  LinksLabel = new QLabel("Links :", IndexPanel);
  LinksLabel->setFont(Font(true));
  LinksLabel->move(8, 8);
  PlusButton = Button("+", "Add Link", IndexPanel, {8, 32, 33, 25});
  MinusButton = Button("-", "Remove Link", IndexPanel, {48, 32, 33, 25});
  indexlb = new QListWidget(IndexPanel);
  indexlb->setToolTip("List of Links");
  indexlb->setGeometry(8, 64, kLeftWidth - 20, 72);
  case_snes_cb = new QCheckBox(IndexPanel);
  case_snes_cb->move(8, 144);
  values_cb = new QCheckBox(IndexPanel);
  values_cb->move(8, 168);
  OKButton = Button("Continue", "", IndexPanel, {0, 200, 105, 25});
  HelpButton = new QToolButton(IndexPanel);
  HelpButton->setText("?");
  HelpButton->setToolTip("Online Help");
  HelpButton->setFont(Font(true));
  HelpButton->setCursor(Qt::PointingHandCursor);

  BuildPreviews();
  ConnectButtons();

  // The design's 1011 x 640 window, taller by the copy choices, less its frame, or the
  // screen's room where that is less;
  // below the minimum nothing overlaps (the left panel scrolls instead).
  setMinimumSize(kLeftWidth + 300, 360);
  QSize size(1003, 651);
  if (const QScreen* shown = screen())
    size = size.boundedTo(shown->availableSize() - QSize(16, 48)).expandedTo(minimumSize());
  resize(size);
}

void TFFiles::BuildPreviews() {
  for (auto [panel, name, grid, tabs] : {std::tuple{F1Panel1, &FileNamePanel1, &Grid1, &TabSet1},
                                         std::tuple{F1Panel2, &FileNamePanel2, &Grid2, &TabSet2}}) {
    *name = new QLabel(panel);
    (*name)->setFont(Font(true));
    (*name)->setFrameStyle(QFrame::Panel | QFrame::Raised);
    (*name)->setIndent(8);
    *grid = new PreviewGrid(panel);
    (*grid)->SetRowCount(kInitialGridRows);
    (*grid)->SetColWidth(0, std::max((*grid)->ColWidth(0), (*grid)->FitWidth(kDataBegin, true)));
    *tabs = new QTabBar(panel);
    (*tabs)->setShape(QTabBar::RoundedSouth);
    (*tabs)->setDrawBase(false);
  }

  connect(TabSet1, &QTabBar::currentChanged, this, [this](int n) { ChangeTab(TabSet1, n); });
  connect(TabSet2, &QTabBar::currentChanged, this, [this](int n) { ChangeTab(TabSet2, n); });
  Grid1->DrawCell = [this](QPainter& p, const QRect& r, int c, int row) {
    DrawGridCell(true, p, r, c, row);
  };
  Grid2->DrawCell = [this](QPainter& p, const QRect& r, int c, int row) {
    DrawGridCell(false, p, r, c, row);
  };
  Grid1->CellText = [this](int c, int r) { return GridCellText(true, c, r); };
  Grid2->CellText = [this](int c, int r) { return GridCellText(false, c, r); };
  Grid1->MouseDown = [this](Qt::MouseButton, int x, int y) { Grid1MouseDown(x, y); };
  Grid2->MouseDown = [this](Qt::MouseButton, int x, int y) { Grid2MouseDown(x, y); };
  Grid1->MouseMove = [this](int x, int y) { Grid1MouseMove(x, y); };
  Grid2->MouseMove = [this](int x, int y) { Grid2MouseMove(x, y); };
}

void TFFiles::ConnectButtons() {
  connect(FileChoiseButton1, &QPushButton::clicked, this, &TFFiles::FileChoiseButton1Click);
  connect(FileChoiseButton2, &QPushButton::clicked, this, &TFFiles::FileChoiseButton2Click);
  connect(SheetButton1, &QPushButton::clicked, this, &TFFiles::SheetButton1Click);
  connect(SheetButton2, &QPushButton::clicked, this, &TFFiles::SheetButton2Click);
  connect(TitleRowButton1, &QPushButton::clicked, this, &TFFiles::TitleRowButton1Click);
  connect(FirstRowButton1, &QPushButton::clicked, this, &TFFiles::FirstRowButton1Click);
  connect(TitleRowButton2, &QPushButton::clicked, this, &TFFiles::TitleRowButton2Click);
  connect(PlusButton, &QPushButton::clicked, this, &TFFiles::PlusButtonClick);
  connect(MinusButton, &QPushButton::clicked, this, &TFFiles::MinusButtonClick);
  connect(case_snes_cb, &QCheckBox::clicked, this, &TFFiles::case_snes_cbClick);
  connect(values_cb, &QCheckBox::clicked, this, &TFFiles::values_cbClick);
  connect(CopyButton, &QPushButton::clicked, this, &TFFiles::CopyButtonClick);
  connect(OKButton, &QPushButton::clicked, this, &TFFiles::OKButtonClick);
  connect(HelpButton, &QToolButton::clicked, this, &TFFiles::HelpButtonClick);
}

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

void TFFiles::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  const int w = width() - 8, h = height() - 8;
  WindowPanel->setGeometry(4, 4, w, h);
  const int leftHeight = std::max(h, kBaseHeight + kAddHeight + kIndexMinHeight);
  const int leftWidth =
      kLeftWidth + (leftHeight > h ? LeftScroll->verticalScrollBar()->sizeHint().width() : 0);
  LeftScroll->setGeometry(0, 0, leftWidth, h);
  CommonLeftPanel->resize(kLeftWidth, leftHeight);
  BaseFilePanel->setGeometry(0, 0, kLeftWidth, kBaseHeight);
  AddFilePanel->setGeometry(0, kBaseHeight, kLeftWidth, kAddHeight);
  const int indexHeight = leftHeight - kBaseHeight - kAddHeight;
  IndexPanel->setGeometry(0, kBaseHeight + kAddHeight, kLeftWidth, indexHeight);
  OKButton->move((IndexPanel->width() - OKButton->width()) / 2, indexHeight - 33);
  HelpButton->setGeometry(IndexPanel->width() - 31, indexHeight - 33, 23, 25);
  BothF1Panel->setGeometry(leftWidth, 0, w - leftWidth, h);
  const int half = h / 2;
  for (auto [panel, name, grid, tabs, top, height] :
       {std::tuple{F1Panel1, FileNamePanel1, Grid1, TabSet1, 0, half},
        std::tuple{F1Panel2, FileNamePanel2, Grid2, TabSet2, half, h - half}}) {
    panel->setGeometry(0, top, w - leftWidth, height);
    const int inner = panel->width();
    name->setGeometry(0, 0, inner, kFileBarHeight);
    grid->setGeometry(0, kFileBarHeight, inner, height - kFileBarHeight - kTabHeight);
    tabs->setGeometry(0, height - kTabHeight, inner, kTabHeight);
  }
}

void TFFiles::FormCreate() {
  merge::Parameters& p = main_.Params;
  if (p.MainSheet >= 0) ShownSheet1 = p.MainSheet;
  if (p.AddSheet >= 0) ShownSheet2 = p.AddSheet;
  FillingTabs = false;
  setWindowTitle(main_.ProgramTitle);
  case_snes_cb->setText("case sensitive");
  case_snes_cb->setChecked(p.CaseSensitive);
  values_cb->setText("copy numbers and dates as values");
  values_cb->adjustSize();
  values_cb->setChecked(p.KeepValues);
  ClickMode.clear();
  ClearPendingLink();
  RefreshPanels();
  for (const bool mainTable : {true, false}) {
    const int book = mainTable ? p.MainBook : p.AddBook;
    const int sheet = mainTable ? p.MainSheet : p.AddSheet;
    QTabBar* tabs = mainTable ? TabSet1 : TabSet2;
    if (book >= 0) {
      FillingTabs = true;
      FillTabs(tabs, book);
      SelectTab(tabs, sheet < 0 ? 0 : sheet);
      FillingTabs = false;
    }
    (mainTable ? Grid1 : Grid2)->Repaint();
  }
  RefreshPanels();
}

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

void TFFiles::RefreshPanels() {
  merge::Parameters& p = main_.Params;
  FileNamePanel1->setText(QString::fromStdString(p.MainFile));
  FileNamePanel2->setText(QString::fromStdString(p.AddFile));
  TitleRowPanel1->setText(RowText(p.MainTitleRow, ClickMode == "TitleRow1"));
  FirstRowPanel1->setText(RowText(p.MainFirstRow, ClickMode == "FirstRow1"));
  TitleRowPanel2->setText(RowText(p.AddTitleRow, ClickMode == "TitleRow2"));
  QStringList marked;
  for (const std::int32_t column : p.CopyColumns)
    marked << QString::fromStdString(store::clc::ColumnName(column));
  CopyPanel->setText(marked.isEmpty() ? "all" : marked.join(", "));
  CopyPanel->setToolTip(marked.isEmpty() ? "Every add column is copied" : marked.join(", "));
  CopyButton->setChecked(ClickMode == "Copy");
  auto sheetName = [this](int book, int sheet) {
    if (book < 0 || sheet < 0) return QString();
    const auto& list = main_.Store->Books[static_cast<std::size_t>(book)].SheetList;
    return sheet < static_cast<int>(list.size())
               ? QString::fromStdString(list[static_cast<std::size_t>(sheet)].Name)
               : QString();
  };
  // A name longer than its panel is elided; the tooltip then gives it whole.
  const auto showSheet = [](QLabel* panel, const QString& name) {
    const QString shown = panel->fontMetrics().elidedText(name, Qt::ElideRight, panel->width() - 8);
    panel->setText(shown);
    panel->setToolTip(shown == name ? QString() : name);
  };
  showSheet(SheetPanel1, ClickMode == "Sheet1" ? "?" : sheetName(p.MainBook, p.MainSheet));
  showSheet(SheetPanel2, ClickMode == "Sheet2" ? "?" : sheetName(p.AddBook, p.AddSheet));

  const auto letters = [](std::int32_t column) {
    return column < 0 ? QString("?") : QString::fromStdString(store::clc::ColumnName(column));
  };
  indexlb->clear();
  for (const merge::TLink& link : p.LiveLinks())
    indexlb->addItem(letters(link.MainCol) + "  ->  " + letters(link.AddCol));
  if (LinkPending) indexlb->addItem(letters(PendingMainCol) + "  ->  " + letters(PendingAddCol));

  SetBold(FileChoiseButton1, p.MainFile.empty());
  SetBold(FileChoiseButton2, p.AddFile.empty());
  SetBold(FirstRowButton1, p.MainFirstRow < 0);
  SetBold(SheetButton1, p.MainSheet < 0);
  SetBold(SheetButton2, p.AddSheet < 0);
}

void TFFiles::ClearPendingLink() {
  LinkPending = false;
  PendingMainCol = -1;
  PendingAddCol = -1;
}

void TFFiles::Note(const QString& text) {
  main_.dialogs().Message(this, text, "Note");
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
      if (mainTable) {
        p.AddFile.clear();
        p.AddSheet = p.AddTitleRow = -1;
        p.CopyColumns.clear();
      } else {
        p.MainFile.clear();
        p.MainSheet = p.MainTitleRow = p.MainFirstRow = p.AddThereColumn = -1;
        p.Links.clear();
        p.LinkCount = 0;
      }
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

void TFFiles::StartRowChoice(bool mainTable, int& parameter, const QString& mode) {
  merge::Parameters& p = main_.Params;
  const bool sheetChosen = mainTable ? p.MainSheet >= 0 : p.AddSheet >= 0;
  const bool fileOpen = !(mainTable ? p.MainFile : p.AddFile).empty();
  if (!sheetChosen) {
    Note(fileOpen ? "Please select the sheet first"
                  : "You need open the file and select the sheet first");
    return;
  }
  parameter = -1;
  PreviewGrid* grid = mainTable ? Grid1 : Grid2;
  grid->SetTopRow(1);
  grid->SetLeftCol(1);
  grid->Repaint();
  ClickMode = mode;
  if (LinkPending) {
    ClearPendingLink();
    MinusButton->setEnabled(true);
  }
  RefreshPanels();
}

void TFFiles::TitleRowButton1Click() {
  StartRowChoice(true, main_.Params.MainTitleRow, "TitleRow1");
}

void TFFiles::FirstRowButton1Click() {
  StartRowChoice(true, main_.Params.MainFirstRow, "FirstRow1");
}

void TFFiles::TitleRowButton2Click() {
  StartRowChoice(false, main_.Params.AddTitleRow, "TitleRow2");
}

void TFFiles::PlusButtonClick() {
  const merge::Parameters& p = main_.Params;
  if (p.MainFile.empty() || p.AddFile.empty() || ClickMode == "IdxCol1" || ClickMode == "IdxCol2" ||
      p.MainSheet < 0 || p.AddSheet < 0)
    return;
  MinusButton->setEnabled(false);
  for (PreviewGrid* grid : {Grid1, Grid2}) {
    grid->SetTopRow(1);
    grid->SetLeftCol(1);
  }
  ClearPendingLink();
  LinkPending = true;
  RefreshPanels();
  ClickMode = "IdxCol1";
}

void TFFiles::AppendPendingLink() {
  merge::Parameters& p = main_.Params;
  if (static_cast<int>(p.Links.size()) <= p.LinkCount) p.Links.emplace_back();
  p.Links[static_cast<std::size_t>(p.LinkCount)] = {PendingMainCol, PendingAddCol, false};
  ClearPendingLink();
  ++p.LinkCount;
}

void TFFiles::MinusButtonClick() {
  merge::Parameters& p = main_.Params;
  const int position = indexlb->currentRow();
  if (p.MainFile.empty() || position < 0 || !indexlb->currentItem()->isSelected()) return;
  delete indexlb->takeItem(position);
  // No line stays chosen: a second "-" must not take another link.
  indexlb->setCurrentRow(-1);
  indexlb->clearSelection();
  for (std::size_t i = static_cast<std::size_t>(position); i + 1 < p.Links.size(); ++i)
    p.Links[i] = p.Links[i + 1];
  if (!p.Links.empty()) p.Links.back().Deleted = true;
  --p.LinkCount;
  Grid1->Repaint();
  Grid2->Repaint();
}

void TFFiles::values_cbClick() {
  main_.Params.KeepValues = values_cb->isChecked();
}

void TFFiles::CopyButtonClick() {
  if (ClickMode == "Copy") {
    ClickMode.clear();
  } else if (main_.Params.AddFile.empty()) {
    Note("File not opened");
  } else {
    if (LinkPending) {
      ClearPendingLink();
      MinusButton->setEnabled(true);
    }
    ClickMode = "Copy";
  }
  RefreshPanels();
  Grid2->Repaint();
}

void TFFiles::case_snes_cbClick() {
  main_.Params.CaseSensitive = case_snes_cb->isChecked();
}

void TFFiles::HelpButtonClick() {
  main_.dialogs().OpenUrl(main_.DetailsPage);
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

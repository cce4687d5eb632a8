#include "gui/UFiles.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QToolButton>
#include <algorithm>

#include "gui/Dialogs.hpp"
#include "gui/PreviewGrid.hpp"
#include "gui/ProgramIcon.hpp"
#include "gui/UFilesParts.hpp"
#include "gui/UMain.hpp"

namespace gui {

using namespace setup_window;

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
  near_cb = new QCheckBox(IndexPanel);
  near_cb->move(8, 192);
  near_cb->setToolTip(
      "A main row whose key no add key equals takes the add row of the key it nearly is (letter "
      "case, Unicode form, spaces, punctuation, leading zeros), where no other is as near; the "
      "report names each");
  DuplicatesLabel = new QLabel("several add rows, one key:", IndexPanel);
  DuplicatesLabel->move(8, 222);
  duplicates_cb = new QComboBox(IndexPanel);
  duplicates_cb->addItems({"the one found", "the first", "the last", "refuse the run"});
  duplicates_cb->setToolTip("Which add row a main row takes when its key is in several");
  duplicates_cb->setGeometry(188, 218, kLeftWidth - 196, 25);
  OKButton = Button("Continue", "", IndexPanel, {0, 200, 105, 25});
  HelpButton = new QToolButton(IndexPanel);
  HelpButton->setText("?");
  HelpButton->setToolTip("Online Help");
  HelpButton->setFont(Font(true));
  HelpButton->setCursor(Qt::PointingHandCursor);

  BuildPreviews();
  ConnectButtons();

  // The design's 1011 x 640 window, taller by the choices for the result and the matching,
  // less its frame, or the screen's room where that is less;
  // below the minimum nothing overlaps (the left panel scrolls instead).
  setMinimumSize(kLeftWidth + 300, 360);
  QSize size(1003, 708);
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
  // The tab strip reports changes only: a click on the tab shown is heard here.
  connect(TabSet1, &QTabBar::tabBarClicked, this, [this](int n) { TabClicked(true, n); });
  connect(TabSet2, &QTabBar::tabBarClicked, this, [this](int n) { TabClicked(false, n); });
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
  connect(near_cb, &QCheckBox::clicked, this, &TFFiles::near_cbClick);
  connect(duplicates_cb, &QComboBox::activated, this, &TFFiles::duplicates_cbChange);
  connect(CopyButton, &QPushButton::clicked, this, &TFFiles::CopyButtonClick);
  connect(OKButton, &QPushButton::clicked, this, &TFFiles::OKButtonClick);
  connect(HelpButton, &QToolButton::clicked, this, &TFFiles::HelpButtonClick);
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
  near_cb->setText("match near keys");
  near_cb->adjustSize();
  near_cb->setChecked(p.Near != merge::NearMatch::Off);
  duplicates_cb->setCurrentIndex(static_cast<int>(p.DuplicateRule));
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

void TFFiles::RefreshPanels() {
  merge::Parameters& p = main_.Params;
  // Each grid's name bar is its status line: the file, and what a click there does now.
  for (const bool mainTable : {true, false}) {
    const QString file = QString::fromStdString(mainTable ? p.MainFile : p.AddFile);
    const QString hint = Hint(mainTable);
    (mainTable ? FileNamePanel1 : FileNamePanel2)
        ->setText(hint.isEmpty() ? file : file + "   —   " + hint);
  }
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
  if (ClickMode == "Sheet1") SheetPanel1->setToolTip(Hint(true));
  if (ClickMode == "Sheet2") SheetPanel2->setToolTip(Hint(false));

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

QString TFFiles::Hint(bool mainTable) const {
  const QString mode = ClickMode;
  if (mode == (mainTable ? "Sheet1" : "Sheet2")) return "Click a tab or a cell of the sheet to use";
  if (mode == (mainTable ? "TitleRow1" : "TitleRow2"))
    return "Click a cell of the title row; the column header means none";
  if (mainTable && mode == "FirstRow1") return "Click a cell of the first row of data";
  if (mode == (mainTable ? "IdxCol1" : "IdxCol2"))
    return mainTable ? "Click a cell of the main table's link column"
                     : "Click a cell of the add table's link column";
  if (!mainTable && mode == "Copy")
    return "Click an add column's header to copy it, again to leave it out";
  return {};
}

void TFFiles::Note(const QString& text) {
  main_.dialogs().Message(this, text, "Note");
}

void TFFiles::HelpButtonClick() {
  ShowPage(main_.dialogs(), this, main_.DetailsPage);
}

}  // namespace gui

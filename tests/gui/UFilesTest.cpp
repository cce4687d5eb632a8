// The setup window driven as a user would: buttons, tabs and clicks on grid pixels.
#include "gui/UFiles.hpp"

#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QToolTip>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "gui/CellPainter.hpp"
#include "gui/GuiTesting.hpp"
#include "gui/PreviewGrid.hpp"
#include "gui/UMain.hpp"
#include "office/uOpenOffice.hpp"
#include "support/FakeOffice.hpp"

namespace {

using gui::PreviewGrid;
using gui::TFFiles;

std::string Url(const std::string& name) {
  return office::FileNameToUrl("/data/" + name);
}

// Watches the office: holds its first call of `held` (any letter case) until released or
// ended, and counts the calls made on the window's thread.
class OfficeWatch {
 public:
  OfficeWatch(fake::FakeOffice& office, const std::string& held) : office_(office) {
    office.beforeCall = [this, held, window = std::this_thread::get_id()](std::string_view name) {
      if (std::this_thread::get_id() == window) ++onWindowThread;
      if (QLatin1String(name.data(), static_cast<qsizetype>(name.size()))
              .compare(QLatin1String(held.c_str()), Qt::CaseInsensitive) != 0)
        return;
      std::unique_lock lock(mutex_);
      if (held_) return;
      held_ = true;
      released_.wait(lock, [this] { return free_; });
    };
    office.onAbort = [this] { Release(); };
  }
  // Only once the call it held has ended.
  ~OfficeWatch() {
    office_.beforeCall = nullptr;
    office_.onAbort = nullptr;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    free_ = true;
    released_.notify_all();
  }
  // Until the call is held (bounded).
  bool WaitHeld() {
    return QTest::qWaitFor(
        [this] {
          std::lock_guard lock(mutex_);
          return held_;
        },
        10000);
  }
  std::atomic<int> onWindowThread{0};

 private:
  fake::FakeOffice& office_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false, free_ = false;
};

// The width a text needs in a grid's font, without any room around it.
int Advance(const gui::PreviewGrid& grid, const QString& text, bool bold) {
  QFont font = grid.viewport()->font();
  font.setBold(bold);
  return QFontMetrics(font).horizontalAdvance(text);
}

class SetupWindow : public testing::Test {
 protected:
  void SetUp() override {
    // main.ods: "Orders" A..E x 7 rows, "Notes" 1 row, "Two" 2 rows. add.ods: "Customers"
    // A..C x 4 rows.
    fake::Workbook main = fake::Workbook::WithSheets({"Orders", "Notes", "Two"});
    for (int r = 0; r < 7; ++r)
      for (int c = 0; c < 5; ++c) main[0].At(c, r).text = "m" + std::to_string(r);
    main[1].At(0, 0).text = "note";
    main[2].At(0, 1).text = "two";
    office.files[Url("main.ods")] = main;
    fake::Workbook add = fake::Workbook::WithSheets({"Customers"});
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 3; ++c) add[0].At(c, r).text = "a" + std::to_string(r);
    office.files[Url("add.ods")] = add;
    Open();
  }

  void Open() {
    owned = std::make_unique<TFFiles>(main);
    files = owned.get();
    files->show();
  }
  void Reopen() {
    owned.reset();
    Open();
  }

  void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  void ClickCell(gui::PreviewGrid* grid, int col, int row,
                 Qt::MouseButton button = Qt::LeftButton) {
    const QRect cell = grid->CellRect(col, row);
    ASSERT_FALSE(cell.isEmpty()) << col << "," << row;
    QTest::mouseClick(grid->viewport(), button, {}, cell.center());
  }
  // Until the table being opened, if any, is open (bounded).
  void WaitForOpen() {
    ASSERT_TRUE(QTest::qWaitFor([this] { return !files->Opening(); }, 10000));
  }
  void OpenMain() {
    dialogs.openAnswers.push_back("/data/main.ods");
    Click(files->FileChoiseButton1);
    WaitForOpen();
  }
  void OpenAdd() {
    dialogs.openAnswers.push_back("/data/add.ods");
    Click(files->FileChoiseButton2);
    WaitForOpen();
  }
  // Both tables open with their first sheets confirmed.
  void Prepared() {
    OpenMain();
    OpenAdd();
    Click(files->SheetButton1);
    ClickCell(files->Grid1, 1, 1);
    Click(files->SheetButton2);
    ClickCell(files->Grid2, 1, 1);
  }
  void AddLink(int mainCol, int addCol) {
    Click(files->PlusButton);
    ClickCell(files->Grid1, mainCol + 1, 1);
    ClickCell(files->Grid2, addCol + 1, 1);
  }
  QStringList Lines() const {
    QStringList lines;
    for (int i = 0; i < files->indexlb->count(); ++i) lines << files->indexlb->item(i)->text();
    return lines;
  }
  merge::Parameters& P() { return main.Params; }

  fake::FakeOffice office;
  gui_testing::FakeDialogs dialogs;
  gui::TFMain main{office, dialogs};
  std::unique_ptr<TFFiles> owned;
  TFFiles* files = nullptr;  // the window under test
};

TEST_F(SetupWindow, StartsEmptyWithWhatIsMissingInBold) {
  EXPECT_EQ(files->windowTitle(), "Tabloom");
  EXPECT_EQ(files->case_snes_cb->text(), "case sensitive");
  EXPECT_TRUE(files->case_snes_cb->isChecked());
  EXPECT_TRUE(files->FileChoiseButton1->font().bold());
  EXPECT_TRUE(files->SheetButton1->font().bold());
  EXPECT_FALSE(files->TitleRowButton1->font().bold());
  EXPECT_EQ(files->Grid1->ColCount(), 257);
  EXPECT_EQ(files->Grid1->RowCount(), 65536);
  EXPECT_EQ(files->TabSet1->count(), 0);
}

TEST_F(SetupWindow, OpeningTheMainTableShowsItsSheets) {
  OpenMain();
  // The office's own format first, then every kind it reads, then anything.
  EXPECT_EQ(dialogs.openFilters.at(0),
            "ods|*.ods|Spreadsheets|*.ods *.fods *.xlsx *.xls *.csv *.tsv|All files|*");
  EXPECT_EQ(P().MainFile, "/data/main.ods");
  EXPECT_EQ(files->FileNamePanel1->text(), "/data/main.ods");
  ASSERT_EQ(files->TabSet1->count(), 3);
  EXPECT_EQ(files->TabSet1->tabText(1), "Notes");
  EXPECT_EQ(files->TabSet1->currentIndex(), 0);
  EXPECT_EQ(files->ShownSheet1, 0);
  EXPECT_EQ(files->Grid1->RowCount(), 9);          // 7 used rows + 2
  EXPECT_EQ(files->Grid1->ColCount(), 16384 + 1);  // every column of the office, to XFD
  EXPECT_EQ(P().MainSheet, -1);
  EXPECT_FALSE(files->FileChoiseButton1->font().bold());
  // Previewing: tabs switch freely while no sheet is confirmed.
  files->TabSet1->setCurrentIndex(1);
  EXPECT_EQ(files->ShownSheet1, 1);
  EXPECT_EQ(files->Grid1->RowCount(), 2);  // one used row
  files->TabSet1->setCurrentIndex(2);
  EXPECT_EQ(files->Grid1->RowCount(), 4);  // two used rows
  EXPECT_EQ(P().MainSheet, -1);
  EXPECT_TRUE(dialogs.messages.empty());
}

// A preview cell that cuts its text shows it whole as a tooltip; one that does not, none.
TEST_F(SetupWindow, ACutCellShowsItsWholeTextAsATooltip) {
  const std::string whole = "a customer name far too long for one preview column";
  office.files[Url("main.ods")][0].At(1, 2).text = whole;
  OpenMain();
  const auto tip = [&](int col, int row) {
    QHelpEvent help(
        QEvent::ToolTip, files->Grid1->CellRect(col, row).center(),
        files->Grid1->viewport()->mapToGlobal(files->Grid1->CellRect(col, row).center()));
    QApplication::sendEvent(files->Grid1->viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
  };
  EXPECT_EQ(tip(1, 3), "");  // "m2" fits
  EXPECT_EQ(tip(2, 3), QString::fromStdString(whole));
}

// A column's header edge is dragged to any width, or double-clicked to fit the texts of the
// header and the rows shown; the widths stay through sheet changes, a new file resets them.
// The row header fits "Data Begin" from the start.
TEST_F(SetupWindow, PreviewColumnsAreDraggedAndFittedAtTheirHeaderEdges) {
  gui::PreviewGrid* grid = files->Grid1;
  EXPECT_GE(grid->ColWidth(0), Advance(*grid, "Data Begin", true) + 2);
  const QString whole = "a customer name far too long for one preview column";
  fake::Sheet& orders = office.files[Url("main.ods")][0];
  orders.At(1, 2).text = whole.toStdString();  // B3
  orders.At(2, 0).text = whole.toStdString();  // C1, scrolled away below
  orders.At(0, 59).text = "last";              // rows enough to scroll
  OpenMain();
  QWidget* area = grid->viewport();
  const auto edge = [grid](int col) {
    const QRect header = grid->CellRect(col, 0);
    return QPoint(header.left() + header.width(), header.center().y());
  };

  Click(files->SheetButton1);
  const int before = grid->ColWidth(1);
  QTest::mousePress(area, Qt::LeftButton, {}, edge(1));
  QTest::mouseMove(area, edge(1) + QPoint(40, 0));
  QTest::mouseRelease(area, Qt::LeftButton, {}, edge(1));
  EXPECT_EQ(grid->ColWidth(1), before + 40);
  EXPECT_EQ(files->ClickMode, "Sheet1");  // taking an edge is no click on a cell
  files->TabSet1->setCurrentIndex(1);     // another sheet: the widths stay
  EXPECT_EQ(grid->ColWidth(1), before + 40);
  Click(files->SheetButton1);
  files->TabSet1->setCurrentIndex(0);

  QTest::mouseDClick(area, Qt::LeftButton, {}, edge(2));  // B: the long text of row 3
  EXPECT_GE(grid->ColWidth(2), Advance(*grid, whole, false) + 2);
  EXPECT_LE(grid->ColWidth(2), Advance(*grid, whole, false) + 12);
  grid->SetTopRow(2);
  QTest::mouseDClick(area, Qt::LeftButton, {}, edge(3));  // C: "m1" and so on, row 1 not shown
  EXPECT_LT(grid->ColWidth(3), PreviewGrid::kDefaultColWidth);
  EXPECT_GE(grid->ColWidth(3), Advance(*grid, "m6", false) + 2);
  QTest::mouseDClick(area, Qt::LeftButton, {}, edge(7));  // G: empty, its header's width
  EXPECT_GE(grid->ColWidth(7), Advance(*grid, "G", true) + 2);

  OpenMain();
  EXPECT_EQ(grid->ColWidth(1), PreviewGrid::kDefaultColWidth);
}

TEST_F(SetupWindow, AFileThatCannotBeOpenedLeavesTheTableEmpty) {
  dialogs.openAnswers.push_back("/data/missing.ods");
  Click(files->FileChoiseButton1);
  WaitForOpen();
  EXPECT_EQ(P().MainFile, "");
  EXPECT_EQ(P().MainBook, -1);
  EXPECT_EQ(files->TabSet1->count(), 0);
  ASSERT_EQ(dialogs.messages.size(), 1u);  // a note that names the file
  EXPECT_EQ(dialogs.messages[0].caption, "Note");
  EXPECT_EQ(dialogs.messages[0].text, "The office cannot open\n/data/missing.ods");
  Click(files->FileChoiseButton1);  // cancelled: nothing happens
  EXPECT_EQ(P().MainFile, "");
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

// While a table opens, off the window's thread, the window answers and says so; what needs
// the store waits, the other grid keeps its picture. Once open, the window's thread has
// asked the office nothing, the first rows shown included.
TEST_F(SetupWindow, WhileATableOpensTheWindowAnswersAndWhatNeedsTheStoreWaits) {
  OpenAdd();
  files->Grid2->viewport()->repaint();  // its rows are read now, not counted below
  files->MinusButton->setEnabled(false);
  OfficeWatch watch(office, "loadComponentFromURL");
  dialogs.openAnswers.push_back("/data/main.ods");
  Click(files->FileChoiseButton1);
  ASSERT_TRUE(watch.WaitHeld());
  EXPECT_EQ(files->FileNamePanel1->text(), "Opening /data/main.ods...");
  EXPECT_EQ(files->cursor().shape(), Qt::BusyCursor);
  const std::vector<QWidget*> waiting = {files->FileChoiseButton1,
                                         files->FileChoiseButton2,
                                         files->SheetButton1,
                                         files->SheetButton2,
                                         files->TitleRowButton2,
                                         files->CopyButton,
                                         files->PlusButton,
                                         files->OKButton,
                                         files->Grid1,
                                         files->Grid2,
                                         files->TabSet1,
                                         files->TabSet2};
  for (QWidget* control : waiting)
    EXPECT_FALSE(control->isEnabled()) << control->metaObject()->className();
  EXPECT_TRUE(files->Grid2->Frozen());
  EXPECT_FALSE(main.FilesButton->isEnabled());

  watch.Release();
  WaitForOpen();
  files->Grid1->viewport()->repaint();
  EXPECT_EQ(watch.onWindowThread.load(), 0);
  EXPECT_EQ(files->FileNamePanel1->text(), "/data/main.ods");
  EXPECT_EQ(files->TabSet1->count(), 3);
  for (QWidget* control : waiting)
    EXPECT_TRUE(control->isEnabled()) << control->metaObject()->className();
  EXPECT_FALSE(files->MinusButton->isEnabled());  // as it was
  EXPECT_NE(files->cursor().shape(), Qt::BusyCursor);
  EXPECT_FALSE(files->Grid2->Frozen());
}

// Closed while a table opens, the window goes at once; the open ends into the store unused,
// and Select Files waits for it.
TEST_F(SetupWindow, ClosedWhileATableOpensTheWindowGoesAndTheOpenEndsUnused) {
  {
    OfficeWatch watch(office, "loadComponentFromURL");
    dialogs.openAnswers.push_back("/data/main.ods");
    Click(files->FileChoiseButton1);
    ASSERT_TRUE(watch.WaitHeld());
    EXPECT_TRUE(files->close());
    owned.reset();  // as the main window's own setup window goes
    EXPECT_FALSE(main.FilesButton->isEnabled());
    watch.Release();
    ASSERT_TRUE(QTest::qWaitFor([this] { return main.FilesButton->isEnabled(); }, 10000));
  }
  EXPECT_EQ(P().MainFile, "");
  EXPECT_EQ(P().MainBook, -1);
  EXPECT_TRUE(dialogs.messages.empty());
  Open();
  OpenMain();
  EXPECT_EQ(files->TabSet1->count(), 3);
}

// At the end of the windows an open under way ends with the office, and its thread with it.
TEST(SetupWindowEnd, AnOpenUnderWayEndsWithTheOffice) {
  fake::FakeOffice office;
  office.files[Url("main.ods")] = fake::Workbook::WithSheets({"Orders"});
  gui_testing::FakeDialogs dialogs;
  OfficeWatch watch(office, "loadComponentFromURL");
  {
    gui::TFMain main(office, dialogs);
    TFFiles files(main);
    dialogs.openAnswers.push_back("/data/main.ods");
    files.FileChoiseButton1->click();
    ASSERT_TRUE(watch.WaitHeld());
  }
  EXPECT_EQ(office.aborts, 1u);
}

// A text file with more rows than a sheet holds would load cut: it is refused, as either
// table, with the reason; nothing of it is loaded.
TEST_F(SetupWindow, ATextFileLongerThanASheetIsRefusedWithTheReason) {
  namespace fs = std::filesystem;
  const fs::path csv =
      fs::temp_directory_path() / ("tabloom-long-" + std::to_string(::getpid()) + ".csv");
  {
    std::ofstream out(csv, std::ios::binary);
    out << "id\n";
    for (int r = 0; r < 1100000; ++r) out << "k\n";
  }
  const QString note = QString(
                           "The office cannot open\n%1\n%1 has 1,100,001 rows; a sheet holds at "
                           "most 1,048,576: it cannot be opened whole.")
                           .arg(QString::fromStdString(csv.string()));
  for (QPushButton* table : {files->FileChoiseButton1, files->FileChoiseButton2}) {
    dialogs.messages.clear();
    dialogs.openAnswers.push_back(QString::fromStdString(csv.string()));
    Click(table);
    WaitForOpen();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, note);
  }
  EXPECT_EQ(P().MainFile, "");
  EXPECT_EQ(P().AddFile, "");
  EXPECT_EQ(office.Count("loadComponentFromURL"), 1u);  // an empty document asked its rows
  fs::remove(csv);
}

// While "Copy" is pressed, a click on an add column's header marks it or unmarks it; the
// marks are the copies' order, drawn on the headers; none marked means all. The check box
// keeps values.
TEST_F(SetupWindow, AddColumnsAreMarkedForCopyingByTheirHeaders) {
  Prepared();
  EXPECT_EQ(files->CopyPanel->text(), "all");
  Click(files->CopyButton);
  EXPECT_TRUE(files->CopyButton->isChecked());
  ClickCell(files->Grid2, 3, 0);  // C
  ClickCell(files->Grid2, 1, 0);  // A
  ClickCell(files->Grid2, 2, 0);  // B
  ClickCell(files->Grid2, 2, 0);  // B again: unmarked
  ClickCell(files->Grid2, 5, 0);  // past the used columns: nothing
  ClickCell(files->Grid2, 2, 3);  // not a header: nothing
  EXPECT_EQ(P().CopyColumns, (std::vector<std::int32_t>{2, 0}));
  EXPECT_EQ(files->CopyPanel->text(), "C, A");
  EXPECT_TRUE(files->Decorate(false, 3, 0).marks & gui::CopyMarked);
  EXPECT_EQ(files->Decorate(false, 3, 0).label, "C · Copy 1");  // its letter stays
  EXPECT_FALSE(files->Decorate(false, 2, 0).marks & gui::CopyMarked);
  Click(files->CopyButton);
  EXPECT_FALSE(files->CopyButton->isChecked());
  ClickCell(files->Grid2, 2, 0);  // no longer marking
  EXPECT_EQ(P().CopyColumns.size(), 2u);

  EXPECT_FALSE(P().KeepValues);
  QTest::mouseClick(files->values_cb, Qt::LeftButton);
  EXPECT_TRUE(P().KeepValues);
  EXPECT_EQ(files->values_cb->text(), "copy numbers and dates as values");

  OpenAdd();  // the marks were of the table that goes
  EXPECT_TRUE(P().CopyColumns.empty());
}

// How keys match: near keys taken or not, and which of several add rows of one key; shown again
// when the window opens anew, a setup's typos kept while the box stays checked.
TEST_F(SetupWindow, TheMatchingChoicesSetTheParameters) {
  EXPECT_EQ(files->near_cb->text(), "match near keys");
  EXPECT_EQ(P().Near, merge::NearMatch::Off);
  QTest::mouseClick(files->near_cb, Qt::LeftButton);
  EXPECT_EQ(P().Near, merge::NearMatch::Forms);
  const std::pair<int, merge::Duplicates> rules[] = {{1, merge::Duplicates::First},
                                                     {2, merge::Duplicates::Last},
                                                     {3, merge::Duplicates::Refuse},
                                                     {0, merge::Duplicates::AsFound}};
  for (const auto& [index, rule] : rules) {
    files->duplicates_cb->setCurrentIndex(index);
    emit files->duplicates_cb->activated(index);
    EXPECT_EQ(P().DuplicateRule, rule);
  }
  P().Near = merge::NearMatch::Typos;
  P().DuplicateRule = merge::Duplicates::Last;
  Reopen();
  EXPECT_TRUE(files->near_cb->isChecked());
  EXPECT_EQ(files->duplicates_cb->currentIndex(), 2);
  QTest::mouseClick(files->near_cb, Qt::LeftButton);
  EXPECT_EQ(P().Near, merge::NearMatch::Off);
}

TEST_F(SetupWindow, SheetsAreConfirmedByTabOrByClickAndThenHeld) {
  Click(files->SheetButton1);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "File not opened");
  EXPECT_EQ(dialogs.messages[0].caption, "Note");

  OpenMain();
  Click(files->SheetButton1);
  EXPECT_EQ(files->ClickMode, "Sheet1");
  EXPECT_EQ(files->SheetPanel1->text(), "?");
  files->TabSet1->setCurrentIndex(1);  // a tab confirms at once
  EXPECT_EQ(P().MainSheet, 1);
  EXPECT_EQ(P().AddThereColumn, 1 + 2);
  EXPECT_EQ(files->SheetPanel1->text(), "Notes");
  EXPECT_EQ(files->ClickMode, "");

  files->TabSet1->setCurrentIndex(0);  // held: refused
  EXPECT_EQ(dialogs.messages.back().text, "Press Sheet Button first");
  EXPECT_EQ(files->TabSet1->currentIndex(), 1);
  EXPECT_EQ(P().MainSheet, 1);

  Click(files->SheetButton1);
  files->TabSet1->setCurrentIndex(0);
  EXPECT_EQ(P().MainSheet, 0);
  EXPECT_EQ(P().AddThereColumn, 5 + 2);  // A..E: copies begin in G

  Click(files->SheetButton1);
  ClickCell(files->Grid1, 3, 3, Qt::RightButton);  // any button, anywhere: the shown sheet
  EXPECT_EQ(P().MainSheet, 0);
  EXPECT_EQ(files->ClickMode, "");
  EXPECT_TRUE(files->Decorate(true, 0, 0).marks & 1u);  // the corner dot
}

// The tab strip tells changes only: after Sheet, a click on the tab shown confirms that sheet
// too, the only sheet of a table among them; the "?" and the name bar say what to click.
TEST_F(SetupWindow, AClickOnTheTabShownConfirmsItsSheet) {
  OpenAdd();  // one sheet
  Click(files->SheetButton2);
  const QString hint = "Click a tab or a cell of the sheet to use";
  EXPECT_EQ(files->SheetPanel2->toolTip(), hint);
  EXPECT_TRUE(files->FileNamePanel2->text().endsWith(hint))
      << files->FileNamePanel2->text().toStdString();
  QTest::mouseClick(files->TabSet2, Qt::LeftButton, {}, files->TabSet2->tabRect(0).center());
  EXPECT_EQ(P().AddSheet, 0);
  EXPECT_EQ(files->ClickMode, "");
  EXPECT_EQ(files->FileNamePanel2->text(), "/data/add.ods");
  // Once confirmed, the shown tab does nothing and another asks for the Sheet button.
  OpenMain();
  Click(files->SheetButton1);
  QTest::mouseClick(files->TabSet1, Qt::LeftButton, {}, files->TabSet1->tabRect(0).center());
  EXPECT_EQ(P().MainSheet, 0);
  QTest::mouseClick(files->TabSet1, Qt::LeftButton, {}, files->TabSet1->tabRect(0).center());
  EXPECT_TRUE(dialogs.messages.empty());
  QTest::mouseClick(files->TabSet1, Qt::LeftButton, {}, files->TabSet1->tabRect(1).center());
  EXPECT_EQ(dialogs.messages.back().text, "Press Sheet Button first");
  EXPECT_EQ(P().MainSheet, 0);
}

TEST_F(SetupWindow, RowsAreChosenByClicksAndTheHeaderMeansNone) {
  files->TitleRowButton1->click();
  EXPECT_EQ(dialogs.messages.back().text, "You need open the file and select the sheet first");
  OpenMain();
  files->TitleRowButton1->click();
  EXPECT_EQ(dialogs.messages.back().text, "Please select the sheet first");
  files->TitleRowButton2->click();
  EXPECT_EQ(dialogs.messages.back().text, "You need open the file and select the sheet first");

  Prepared();
  Click(files->TitleRowButton1);
  EXPECT_EQ(files->TitleRowPanel1->text(), "?");
  ClickCell(files->Grid1, 2, 5);
  EXPECT_EQ(P().MainTitleRow, 4);
  EXPECT_EQ(files->TitleRowPanel1->text(), "5");
  Click(files->TitleRowButton1);
  ClickCell(files->Grid1, 2, 0);
  EXPECT_EQ(P().MainTitleRow, -1);
  EXPECT_EQ(files->TitleRowPanel1->text(), "");

  Click(files->FirstRowButton1);
  ClickCell(files->Grid1, 1, 2);
  EXPECT_EQ(P().MainFirstRow, 1);
  EXPECT_EQ(files->Decorate(true, 0, 2).label, "Data Begin");
  Click(files->TitleRowButton1);
  ClickCell(files->Grid1, 1, 2);
  EXPECT_EQ(files->Decorate(true, 0, 2).label, "Title");  // both: "Title"
  Click(files->TitleRowButton2);
  ClickCell(files->Grid2, 1, 1);
  EXPECT_EQ(P().AddTitleRow, 0);
  EXPECT_EQ(files->Decorate(false, 0, 1).label, "Title");
  // Without a mode, clicks change nothing.
  ClickCell(files->Grid1, 1, 6);
  EXPECT_EQ(P().MainTitleRow, 1);
}

TEST_F(SetupWindow, LinksAreAddedRemovedAndTheirSlotsReused) {
  Prepared();
  Click(files->PlusButton);
  EXPECT_FALSE(files->MinusButton->isEnabled());
  EXPECT_EQ(Lines(), QStringList{"?  ->  ?"});
  ClickCell(files->Grid1, 1, 1);
  EXPECT_EQ(Lines(), QStringList{"A  ->  ?"});
  EXPECT_EQ(files->Decorate(true, 1, 0).label, "A · Link ?");
  ClickCell(files->Grid2, 2, 3);
  EXPECT_TRUE(files->MinusButton->isEnabled());
  AddLink(2, 2);  // C -> C
  AddLink(4, 0);  // E -> A
  EXPECT_EQ(Lines(), (QStringList{"A  ->  B", "C  ->  C", "E  ->  A"}));
  EXPECT_EQ(P().LinkCount, 3);

  files->indexlb->setCurrentRow(1);
  Click(files->MinusButton);
  Click(files->MinusButton);  // a second click (a double click) takes nothing more
  EXPECT_EQ(files->indexlb->selectedItems().size(), 0);
  ASSERT_EQ(P().Links.size(), 3u);
  EXPECT_EQ(P().LinkCount, 2);
  EXPECT_EQ(P().Links[1].MainCol, 4);
  EXPECT_TRUE(P().Links[2].Deleted);
  EXPECT_EQ(Lines(), (QStringList{"A  ->  B", "E  ->  A"}));
  EXPECT_EQ(files->Decorate(true, 5, 0).label, "E · Link 2");

  AddLink(5, 1);  // F -> B reuses the spare slot
  EXPECT_EQ(P().Links.size(), 3u);
  EXPECT_FALSE(P().Links[2].Deleted);
  AddLink(0, 0);  // a second link on A: the higher number labels it
  EXPECT_EQ(P().Links.size(), 4u);
  EXPECT_EQ(files->Decorate(true, 1, 0).label, "A · Link 4");
}

TEST_F(SetupWindow, OnlyUsedColumnsAndTheNextOneCanBeLinked) {
  Prepared();
  Click(files->PlusButton);
  ClickCell(files->Grid1, 7, 1);  // G: two right of E, ignored
  EXPECT_EQ(files->ClickMode, "IdxCol1");
  ClickCell(files->Grid1, 6, 1);  // F: the first free column, accepted
  EXPECT_EQ(files->PendingMainCol, 5);
  ClickCell(files->Grid2, 5, 1);  // E of a three-column sheet: ignored
  EXPECT_EQ(files->ClickMode, "IdxCol2");
  ClickCell(files->Grid2, 0, 2);  // the row-number column cancels
  EXPECT_EQ(files->ClickMode, "");
  EXPECT_FALSE(files->LinkPending);
  EXPECT_EQ(P().LinkCount, 0);
  EXPECT_TRUE(files->MinusButton->isEnabled());

  Click(files->PlusButton);
  Click(files->TitleRowButton1);  // a row button drops the link under way
  EXPECT_FALSE(files->LinkPending);
  EXPECT_TRUE(Lines().isEmpty());
  EXPECT_TRUE(files->MinusButton->isEnabled());
}

TEST_F(SetupWindow, ReopeningShowsEverythingAgain) {
  Prepared();
  Click(files->FirstRowButton1);
  ClickCell(files->Grid1, 1, 2);
  AddLink(0, 1);
  files->case_snes_cb->click();
  EXPECT_FALSE(P().CaseSensitive);
  Click(files->OKButton);
  EXPECT_FALSE(files->isVisible());

  Reopen();
  EXPECT_EQ(files->FileNamePanel1->text(), "/data/main.ods");
  EXPECT_EQ(files->FileNamePanel2->text(), "/data/add.ods");
  EXPECT_EQ(files->SheetPanel1->text(), "Orders");
  EXPECT_EQ(files->SheetPanel2->text(), "Customers");
  EXPECT_EQ(files->TabSet1->currentIndex(), 0);
  EXPECT_EQ(files->FirstRowPanel1->text(), "2");
  EXPECT_EQ(Lines(), QStringList{"A  ->  B"});
  EXPECT_FALSE(files->case_snes_cb->isChecked());
  EXPECT_FALSE(files->FileChoiseButton1->font().bold());
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SetupWindow, NewFilesResetTheirTablesParameters) {
  Prepared();
  Click(files->FirstRowButton1);
  ClickCell(files->Grid1, 1, 2);
  AddLink(0, 0);
  OpenAdd();  // the add sheet and title go; links stay until the add sheet is chosen
  EXPECT_EQ(P().AddSheet, -1);
  EXPECT_EQ(P().LinkCount, 1);
  Click(files->SheetButton2);
  EXPECT_EQ(P().LinkCount, 0);
  OpenMain();  // the main sheet, rows, copy column and links go
  EXPECT_EQ(P().MainSheet, -1);
  EXPECT_EQ(P().MainFirstRow, -1);
  EXPECT_EQ(P().AddThereColumn, -1);
  EXPECT_TRUE(P().Links.empty());
}

// An office that went away between two opens is started again, with the table already open:
// no error sticks.
TEST_F(SetupWindow, AnOfficeFoundGoneIsStartedAgainWithTheOtherTable) {
  OpenMain();
  office.Abort();
  OpenAdd();
  EXPECT_TRUE(dialogs.messages.empty());
  ASSERT_GE(P().MainBook, 0);
  ASSERT_GE(P().AddBook, 0);
  EXPECT_EQ(main.Store->CellText(P().MainBook, 0, 1, 1), "m0");
  EXPECT_EQ(main.Store->CellText(P().AddBook, 0, 1, 1), "a0");
  EXPECT_EQ(P().MainFile, "/data/main.ods");
}

TEST_F(SetupWindow, TheMainWindowTestsTheSetupWhenItCloses) {
  owned.reset();
  gui_testing::WhenModal([](QWidget* modal) { static_cast<TFFiles*>(modal)->OKButtonClick(); });
  QTest::mouseClick(main.FilesButton, Qt::LeftButton);
  EXPECT_EQ(main.OKLabel->text(),
            "Not all the parameters are specified: the main table, the add table, a link");
  EXPECT_FALSE(main.StartButton->isEnabled());

  gui_testing::WhenModal([this](QWidget* modal) {
    files = static_cast<TFFiles*>(modal);  // drive the window the main window shows
    Prepared();
    Click(files->FirstRowButton1);
    ClickCell(files->Grid1, 1, 2);
    AddLink(0, 0);
    files->OKButtonClick();
  });
  QTest::mouseClick(main.FilesButton, Qt::LeftButton);
  EXPECT_TRUE(main.StartButton->isEnabled());
}

TEST(HitTest, PointsOnGridLinesBelongAboveAndLeft) {
  gui::PreviewGrid grid;
  grid.SetRowCount(100);
  EXPECT_EQ(TFFiles::HitTest(grid, 0, 0), QPoint(-1, -1));
  EXPECT_EQ(TFFiles::HitTest(grid, 10, 10), QPoint(0, 0));
  EXPECT_EQ(TFFiles::HitTest(grid, 75, 21), QPoint(0, 0));  // on the lines
  EXPECT_EQ(TFFiles::HitTest(grid, 76, 22), QPoint(1, 1));
  EXPECT_EQ(TFFiles::HitTest(grid, 151, 43), QPoint(2, 2));
  grid.SetTopRow(50);
  EXPECT_EQ(TFFiles::HitTest(grid, 76, 22), QPoint(1, 50));
}

}  // namespace

// A whole merge through the windows, against the real office: set up by clicks, started,
// and the result file read back.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <sys/wait.h>
#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "gui/GuiTesting.hpp"
#include "gui/PreviewGrid.hpp"
#include "gui/UFiles.hpp"
#include "gui/UMain.hpp"
#include "merge/SetupFile.hpp"
#include "support/FaultFactory.hpp"
#include "support/LoopbackHttpServer.hpp"
#include "support/OfficeTesting.hpp"

namespace {

using namespace office_testing;

void ClickCell(gui::PreviewGrid* grid, int col, int row) {
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(col, row).center());
}

// Two orders, by customers C-17 and "c-03 ", under a title row.
SheetSpec OrdersSheet(const std::string& name) {
  return {name,
          {{0, 0, "Order", {}, {}},
           {1, 0, "Customer", {}, {}},
           {0, 1, "", 1001.0, {}},
           {1, 1, "C-17", {}, {}},
           {0, 2, "", 1002.0, {}},
           {1, 2, "c-03 ", {}, {}}}};
}

TEST(MergeThroughWindows, ClickedSetupAndStartWriteTheResult) {
  TempDir dir;
  const std::string main = dir / "orders.ods", add = dir / "customers.ods";
  MakeWorkbook(main, {OrdersSheet("Orders")});
  MakeWorkbook(add, {CustomersSheet()});

  gui_testing::FakeDialogs dialogs;
  auto window = std::make_unique<gui::TFMain>(SharedOffice(), dialogs);
  ASSERT_FALSE(window->Terminating);
  dialogs.openAnswers = {QString::fromStdString(main), QString::fromStdString(add)};
  gui_testing::WhenModal([](QWidget* modal) {
    auto* files = static_cast<gui::TFFiles*>(modal);
    const auto opened = [files] {
      return QTest::qWaitFor([files] { return !files->Opening(); }, 60000);
    };
    files->FileChoiseButton1->click();
    ASSERT_TRUE(opened());
    files->FileChoiseButton2->click();
    ASSERT_TRUE(opened());
    files->SheetButton1->click();
    ClickCell(files->Grid1, 1, 1);
    files->SheetButton2->click();
    ClickCell(files->Grid2, 1, 1);
    files->TitleRowButton1->click();
    ClickCell(files->Grid1, 1, 1);
    files->FirstRowButton1->click();
    ClickCell(files->Grid1, 1, 2);
    files->TitleRowButton2->click();
    ClickCell(files->Grid2, 1, 1);
    files->PlusButton->click();
    ClickCell(files->Grid1, 2, 1);  // B
    ClickCell(files->Grid2, 1, 1);  // A
    files->case_snes_cb->click();   // case-free
    files->OKButton->click();
  });
  QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  ASSERT_TRUE(window->StartButton->isEnabled()) << window->OKLabel->text().toStdString();

  const std::string target = dir / "result.ods";
  dialogs.saveAnswers.push_back(QString::fromStdString(target));
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  EXPECT_EQ(window->OKLabel->text(),
            QString::fromStdString("Done: 2 of 2 main rows matched\nResult: " + target));
  EXPECT_TRUE(dialogs.messages.empty());
  window.reset();

  office::TOOCalc calc(SharedOffice());
  calc.Connect(true);
  calc.LoadDocument(target, office::loHidden, 0);
  office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
  EXPECT_EQ(sheet.SheetName(), "Orders");
  const std::vector<std::vector<std::string>> expected = {
      {"ID", "Name"}, {"C-17", "Chloé"}, {"C-03", "Åsa"}};
  for (std::int32_t r = 0; r < 3; ++r)
    for (std::int32_t c = 0; c < 2; ++c)  // two columns + 2: from D
      EXPECT_EQ(sheet.CellAt(3 + c, r).ReadString(),
                expected[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]);
  calc.Document.Call("close", true);
}

// Under a locale with a decimal comma, the windows and the batch command copy a number alike.
TEST(MergeThroughWindows, TheWindowsAndTheBatchCommandCopyNumbersAlikeUnderADecimalComma) {
  TempDir dir;
  const std::string main = dir / "main.fods", add = dir / "add.fods";
  WriteFlatOds(main, {{"M", {{0, 0, "k", {}, {}}}}});
  WriteFlatOds(add, {{"A", {{0, 0, "k", {}, {}}, {1, 0, "", 2019.5, {}}, {2, 0, "", 1e20, {}}}}});

  const std::string saved = std::setlocale(LC_ALL, nullptr);
  ASSERT_TRUE(std::setlocale(LC_ALL, "de_DE.UTF-8")) << "scripts/setup makes de_DE.UTF-8";
  gui_testing::FakeDialogs dialogs;
  auto window = std::make_unique<gui::TFMain>(SharedOffice(), dialogs);
  ASSERT_TRUE(merge::SetUp(*window->Store, {.MainFile = main, .AddFile = add, .Links = {{0, 0}}},
                           window->Params));
  window->ShowSetup = nullptr;
  QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  dialogs.saveAnswers.push_back(QString::fromStdString(dir / "windows.ods"));
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  window.reset();
  std::setlocale(LC_ALL, saved.c_str());

  const std::string command = "LC_ALL=de_DE.UTF-8 '" + std::string(TABLOOM_BINARY) + "' merge '" +
                              main + "' '" + add + "' -o '" + dir / "batch.ods" +
                              "' --link A=A >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);

  std::vector<std::string> texts[2];
  office::TOOCalc calc(SharedOffice());
  calc.Connect(true);
  for (int i = 0; i < 2; ++i) {
    calc.LoadDocument(dir / (i ? "batch.ods" : "windows.ods"), office::loHidden, 0);
    office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
    for (std::int32_t c = 2; c < 5; ++c) texts[i].push_back(sheet.CellAt(c, 0).ReadString());
    calc.Document.Call("close", true);
  }
  EXPECT_EQ(texts[0], (std::vector<std::string>{"k", "2019,5", "1E20"}));
  EXPECT_EQ(texts[1], texts[0]);
}

// The cells of a result's first sheet, row by row.
std::vector<std::vector<std::string>> ResultTexts(const std::string& file) {
  office::TOOCalc calc(SharedOffice());
  calc.Connect(true);
  calc.LoadDocument(file, office::loHidden, 0);
  office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
  std::vector<std::vector<std::string>> rows(3);
  for (std::int32_t r = 0; r < 3; ++r)
    for (std::int32_t c = 0; c < 5; ++c)
      rows[static_cast<std::size_t>(r)].push_back(sheet.CellAt(c, r).ReadString());
  calc.Document.Call("close", true);
  return rows;
}

// The setup the window saved, run by the batch command, and the command line it copied, run by
// a shell, write what the window wrote, whatever the names hold.
TEST(MergeThroughWindows, TheSavedSetupAndTheCopiedCommandWriteWhatTheWindowWrote) {
  TempDir dir;
  const std::string folder = dir / "it's a \"month\"";
  fs::create_directories(folder);
  const std::string main = folder + "/-orders $May.fods", add = folder + "/customers 'new'.fods";
  WriteFlatOds(main, {OrdersSheet("Orders 1")});
  WriteFlatOds(add, {CustomersSheet()});

  gui_testing::FakeDialogs dialogs;
  auto window = std::make_unique<gui::TFMain>(SharedOffice(), dialogs);
  window->CommandProgram = TABLOOM_BINARY;
  ASSERT_TRUE(merge::SetUp(*window->Store,
                           {.MainFile = main,
                            .AddFile = add,
                            .MainTitleRow = 0,
                            .AddTitleRow = 0,
                            .MainFirstRow = 1,
                            .Links = {{1, 0}},
                            .CaseSensitive = false},
                           window->Params));
  window->ShowSetup = nullptr;
  QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  const std::string windowResult = folder + "/-window result.ods";
  dialogs.saveAnswers = {QString::fromStdString(windowResult)};
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  const std::string setup = folder + "/month.tabloom";
  dialogs.saveAnswers = {QString::fromStdString(setup)};
  QTest::mouseClick(window->SaveSetupButton, Qt::LeftButton);
  QTest::mouseClick(window->CommandButton, Qt::LeftButton);
  const std::string copied = QGuiApplication::clipboard()->text().toStdString();
  window.reset();

  const auto written = ResultTexts(windowResult);
  EXPECT_EQ(written[1][3], "C-17");
  EXPECT_EQ(written[2][4], "Åsa");
  const std::string byCommand = folder + "/by setup.ods";
  const std::string run = merge::ShellQuote(TABLOOM_BINARY) + " merge --setup " +
                          merge::ShellQuote(setup) + " -o " + merge::ShellQuote(byCommand) +
                          " >/dev/null";
  ASSERT_EQ(std::system(run.c_str()), 0) << run;
  EXPECT_EQ(ResultTexts(byCommand), written);
  fs::remove(windowResult);
  ASSERT_EQ(std::system((copied + " >/dev/null").c_str()), 0) << copied;
  EXPECT_EQ(ResultTexts(windowResult), written);
}

// Opening setups while tables are open never ends the office the window still needs: a setup
// opened twice after a run, and the merge runs again.
TEST(MergeThroughWindows, ASetupOpenedTwiceAfterARunLeavesTheMergeRunnable) {
  TempDir dir;
  const std::string main = dir / "orders.fods", add = dir / "customers.fods";
  WriteFlatOds(main, {OrdersSheet("Orders")});
  WriteFlatOds(add, {CustomersSheet()});
  FaultFactory office(automation::SystemFactory());  // an office of its own
  gui_testing::FakeDialogs dialogs;
  auto window = std::make_unique<gui::TFMain>(office, dialogs);
  ASSERT_FALSE(window->Terminating);
  ASSERT_TRUE(merge::SetUp(*window->Store,
                           {.MainFile = main,
                            .AddFile = add,
                            .MainTitleRow = 0,
                            .AddTitleRow = 0,
                            .MainFirstRow = 1,
                            .Links = {{1, 0}},
                            .CaseSensitive = false},
                           window->Params));
  window->ShowSetup = nullptr;
  QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  dialogs.saveAnswers = {QString::fromStdString(dir / "first.ods")};
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  const std::string setup = dir / "orders.tabloom";
  dialogs.saveAnswers = {QString::fromStdString(setup)};
  QTest::mouseClick(window->SaveSetupButton, Qt::LeftButton);
  ASSERT_TRUE(fs::exists(setup));
  for (int i = 0; i < 2; ++i) {
    dialogs.openAnswers = {QString::fromStdString(setup)};
    QTest::mouseClick(window->OpenSetupButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Running(); }, 60000));
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().text.toStdString();
    ASSERT_TRUE(window->StartButton->isEnabled()) << window->OKLabel->text().toStdString();
  }
  const std::string target = dir / "second.ods";
  dialogs.saveAnswers = {QString::fromStdString(target)};
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  EXPECT_EQ(window->OKLabel->text().section('\n', 0, 0), "Done: 2 of 2 main rows matched");
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(ResultTexts(target), ResultTexts(dir / "first.ods"));
  window.reset();
}

// Without a desktop the windows say so in one sentence, instead of Qt's abort.
TEST(MergeThroughWindows, WithoutADesktopTheProgramSaysSoAndEnds) {
  TempDir dir;
  const std::string errors = dir / "stderr.txt";
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                              std::string(TABLOOM_BINARY) + "' 2>'" + errors + "'";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  std::ifstream in(errors);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(text.rfind("Tabloom's windows need a desktop session", 0), 0u) << text;
  EXPECT_NE(text.find("tabloom merge --help"), std::string::npos);
  EXPECT_NE(text.find("scripts/run --demo"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

// The office dies in the middle of a run: the run's error says so, and a new office, started
// off the window's thread, opens both tables again; it outlives that thread, and the same
// merge runs again.
TEST(MergeThroughWindows, AnOfficeThatDiesMidRunIsReplacedAndTheMergeCanRunAgain) {
  TempDir dir;
  const std::string main = dir / "main.fods", add = dir / "add.fods";
  SheetSpec m{"Main", {}}, a{"Add", {}};
  for (int r = 0; r < 200; ++r) {
    m.cells.push_back({0, r, "K" + std::to_string(r), {}, {}});
    a.cells.push_back({0, r, "K" + std::to_string(r), {}, {}});
    a.cells.push_back({1, r, "v" + std::to_string(r), {}, {}});
  }
  WriteFlatOds(main, {m});
  WriteFlatOds(add, {a});

  // The office of its own dies at the third office call of the copies.
  FaultFactory office(automation::SystemFactory());
  gui_testing::FakeDialogs dialogs;
  auto window = std::make_unique<gui::TFMain>(office, dialogs);
  ASSERT_FALSE(window->Terminating);
  const pid_t first = office.OfficePid();
  ASSERT_GT(first, 0);
  office.At("copying the matched rows", 3, FaultFactory::Fault::KillOffice);
  window->Merge->AddPhaseListener(
      [&](merge::Phase phase) { office.EnterPhase(merge::PhaseText(phase)); });

  ASSERT_TRUE(merge::SetUp(
      *window->Store, {.MainFile = main, .AddFile = add, .Links = {{0, 0}}, .AddThereColumn = 3},
      window->Params));
  window->ShowSetup = nullptr;
  QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  ASSERT_TRUE(window->StartButton->isEnabled());

  const std::string target = dir / "result.ods";
  dialogs.saveAnswers.push_back(QString::fromStdString(target));
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  EXPECT_TRUE(office.Fired());

  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(dialogs.messages[0].text.startsWith(
      "File is locked\r\nby another application\r\n\r\nThe merge failed: The office ended "
      "unexpectedly"))
      << dialogs.messages[0].text.toStdString();
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
  EXPECT_TRUE(ProcessEnded(first));
  EXPECT_NE(office.OfficePid(), first);
  EXPECT_TRUE(window->StartButton->isEnabled());
  EXPECT_TRUE(window->FilesButton->isEnabled());
  EXPECT_EQ(window->OKLabel->text(), "");

  dialogs.saveAnswers.push_back(QString::fromStdString(target));
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  EXPECT_EQ(window->OKLabel->text().section('\n', 0, 0), "Done: 200 of 200 main rows matched");
  EXPECT_TRUE(fs::exists(target));
  const pid_t second = office.OfficePid();
  EXPECT_TRUE(window->close());
  window.reset();
  EXPECT_TRUE(WaitFor([&] { return ProcessEnded(second); }, std::chrono::seconds(10)));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("TABLOOM_UPDATE_HOST",
          "127.0.0.1:" + QByteArray::number(testing_http::LoopbackHttpServer::RefusedPort()));
  QApplication app(argc, argv);
  return RunOfficeTests(argc, argv);
}

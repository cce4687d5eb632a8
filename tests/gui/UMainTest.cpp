// The main window against the in-memory office, driven as a user would.
#include "gui/UMain.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <new>
#include <set>

#include "gui/GuiTesting.hpp"
#include "gui/UAbout.hpp"
#include "gui/UFiles.hpp"
#include "gui/UUpdate.hpp"
#include "merge/SetupFile.hpp"
#include "office/uOpenOffice.hpp"
#include "support/FakeFiles.hpp"
#include "support/FakeOffice.hpp"

namespace {

using gui::TFMain;
using gui_testing::FakeDialogs;

std::string Url(const std::string& name) {
  return office::FileNameToUrl("/data/" + name);
}

// The report of the fixture's merge: C-17 matches, C-99 finds nothing; the file written.
const QString kDone =
    "Done: 1 of 2 main rows matched\nResult: /out/result.ods\nWarning: 1 main row found no add "
    "row: row 3 (\"C-99\").";

bool Named(std::string_view member, const char* name) {
  return QString::fromUtf8(member.data(), static_cast<int>(member.size()))
             .compare(QString(name), Qt::CaseInsensitive) == 0;
}

class MainWindow : public testing::Test {
 protected:
  void SetUp() override {
    fake::Workbook main = fake::Workbook::WithSheets({"Orders"});
    main[0].At(0, 0).text = "ID";
    main[0].At(0, 1).text = "C-17";
    main[0].At(0, 2).text = "C-99";
    office.files[Url("main.ods")] = main;
    office.files[Url("list.xls")] = main;
    fake::Workbook add = fake::Workbook::WithSheets({"Customers"});
    add[0].At(0, 0).text = "ID";
    add[0].At(1, 0).text = "Name";
    add[0].At(0, 1).text = "C-17";
    add[0].At(1, 1).text = "Chloé";
    office.files[Url("add.ods")] = add;
    window = std::make_unique<TFMain>(office, dialogs);
    window->Merge->SetResultFiles(files);
  }

  // What the setup window will do: open both files and choose everything.
  void SetUpMerge(const std::string& mainFile = "/data/main.ods") {
    window->ShowSetup = [mainFile](TFMain& w) {
      merge::SetUp(*w.Store,
                   {.MainFile = mainFile,
                    .AddFile = "/data/add.ods",
                    .MainTitleRow = 0,
                    .AddTitleRow = 0,
                    .MainFirstRow = 1,
                    .Links = {{0, 0}}},
                   w.Params);
    };
    QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  }

  fake::FakeOffice office;
  fake::FakeFiles files{office};
  FakeDialogs dialogs;
  std::unique_ptr<TFMain> window;
};

TEST_F(MainWindow, StartsReadyWithItsTexts) {
  EXPECT_EQ(gui::FMain, window.get());
  EXPECT_EQ(window->windowTitle(), "Tabloom");
  EXPECT_EQ(window->FilesButton->text(), "Select Files");
  EXPECT_EQ(window->StartButton->text(), "Start");
  EXPECT_FALSE(window->StartButton->isEnabled());
  EXPECT_EQ(window->OKLabel->text(), "");
  EXPECT_EQ(window->HelpButton->toolTip(), "Online Help");
  EXPECT_EQ(window->pb->value(), 0);
  EXPECT_EQ(window->ProgramVersion, "1.0.7");
  EXPECT_EQ(window->CompanyName, "Quernby Software");
  EXPECT_EQ(window->DetailsPage, window->WebSite + "/content/details/3/");
  EXPECT_EQ(window->DownloadPage, window->WebSite + "/content/download/3/");
  EXPECT_TRUE(window->WebSite.startsWith("http://"));
  EXPECT_EQ(window->UpdateHost, "127.0.0.1");  // the tests point the check here
  EXPECT_EQ(window->UpdatePath, "/version_check.php?id=3");
  EXPECT_TRUE(window->Params.CaseSensitive);
  EXPECT_EQ(window->Params.MainFirstRow, -1);
  EXPECT_FALSE(window->Terminating);
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST(MainWindowWithoutOffice, SaysSoAndEnds) {
  fake::FakeOffice none;
  none.available = false;
  FakeDialogs dialogs;
  TFMain window(none, dialogs);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text,
            "To use the Tabloom\r\nyou must have Open Office installed on your PC");
  EXPECT_EQ(dialogs.messages[0].caption, "warnining");
  EXPECT_TRUE(window.Terminating);
}

TEST_F(MainWindow, ClosingTheSetupAtOnceLeavesStartDisabled) {
  QString shown;
  gui_testing::WhenModal([&](QWidget* modal) {
    shown = modal->metaObject()->className();
    static_cast<QDialog*>(modal)->accept();
  });
  QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  EXPECT_EQ(shown, "gui::TFFiles");
  EXPECT_EQ(window->OKLabel->text(),
            "Not all the parameters are specified: the main table, the add table, a link");
  EXPECT_FALSE(window->StartButton->isEnabled());
}

TEST_F(MainWindow, ACompleteSetupEnablesStartAndALostLinkDisablesIt) {
  SetUpMerge();
  EXPECT_TRUE(window->StartButton->isEnabled());
  EXPECT_EQ(window->OKLabel->text(), "Everything is OK, press Start Button\nto continue");
  window->ShowSetup = [](TFMain& w) {
    w.Params.Links[0].Deleted = true;
    w.Params.LinkCount = 0;
  };
  QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  EXPECT_FALSE(window->StartButton->isEnabled());
  EXPECT_EQ(window->OKLabel->text(), "Not all the parameters are specified: a link");
}

TEST_F(MainWindow, StartMergesIntoTheChosenFile) {
  fake::Sheet& add = office.files[Url("add.ods")][0];
  add.At(0, 2).text = "C-17";  // a second add row with the same key: warned of
  add.At(1, 2).text = "Chloé";
  SetUpMerge();
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  ASSERT_EQ(dialogs.saves.size(), 1u);
  EXPECT_EQ(dialogs.saves[0].title, "Save Result As");
  EXPECT_EQ(dialogs.saves[0].filter, "ods|*.ods|Excel 2007-365|*.xlsx|Text CSV|*.csv");
  EXPECT_EQ(dialogs.saves[0].type, 0);
  EXPECT_EQ(dialogs.saves[0].defaultSuffix, "ods");
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(
      window->OKLabel->text(),
      "Done: 1 of 2 main rows matched\nResult: /out/result.ods\nWarning: 1 key occurs in more "
      "than one add row "
      "(\"C-17\"): a main row with such a key receives one of them.\nWarning: 1 main row "
      "found no add row: row 3 (\"C-99\").");
  EXPECT_TRUE(window->OKLabel->textInteractionFlags() & Qt::TextSelectableByMouse);
  EXPECT_EQ(window->pb->value(), 0);
  EXPECT_TRUE(window->StartButton->isEnabled());
  EXPECT_TRUE(window->FilesButton->isEnabled());
  const fake::Sheet& result = *office.files.at(office::FileNameToUrl("/out/result.ods")).sheets[0];
  const fake::Cell* copied = result.Find(3, 1);  // one column + 2: from C, the name in D
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(copied->text, "Chloé");

  // The next run proposes the same name.
  dialogs.saveAnswers.push_back(QString());
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  EXPECT_EQ(dialogs.saves[1].proposed, "/out/result.ods");
}

// The type picked in the save dialog is the result's format, and is offered again.
TEST_F(MainWindow, TheTypePickedIsTheResultsFormat) {
  SetUpMerge();
  for (const auto& [type, written] :
       {std::pair{1, "/out/result.xlsx"}, std::pair{2, "/out/result.csv"}}) {
    dialogs.saveAnswers.push_back(QString("/out/result"));
    dialogs.saveTypes.push_back(type);
    ASSERT_TRUE(gui_testing::StartAndWait(*window));
    EXPECT_TRUE(office.files.contains(office::FileNameToUrl(written))) << written;
  }
  EXPECT_EQ(window->Params.Format, merge::ResultFormat::Csv);
  dialogs.saveAnswers.push_back(QString());
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  EXPECT_EQ(dialogs.saves.back().type, 2);
}

TEST_F(MainWindow, TheSaveDialogOffersTheMainFilesExtension) {
  SetUpMerge("/data/list.xls");
  dialogs.saveAnswers.push_back(QString());  // cancelled: nothing happens
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  EXPECT_EQ(dialogs.saves.at(0).defaultSuffix, "xls");
  // Named for the main table, beside it.
  EXPECT_EQ(dialogs.saves.at(0).proposed, "/data/list merged.ods");
  EXPECT_EQ(window->OKLabel->text(), "Everything is OK, press Start Button\nto continue");
  EXPECT_EQ(office.Count("StoreAsURL"), 0u);
}

TEST_F(MainWindow, ASourceAsTargetIsRefused) {
  SetUpMerge();
  dialogs.saveAnswers.push_back(QString("/data/add.ods"));
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Illegal target file name\r\nIt is the add table.");
  EXPECT_EQ(dialogs.messages[0].caption, "Error");
  EXPECT_EQ(office.Count("StoreAsURL"), 0u);
  EXPECT_TRUE(window->StartButton->isEnabled());
}

// The fixed text first, then the run's own cause, as the batch command says it.
TEST_F(MainWindow, AFailedRunSaysWhyAndCanRunAgain) {
  SetUpMerge();
  office.FailOn("StoreAsURL");
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text,
            "File is locked\r\nby another application\r\n\r\nThe merge failed: Injected failure "
            "of StoreAsURL");
  EXPECT_EQ(dialogs.messages[0].caption, "Error");
  EXPECT_EQ(window->OKLabel->text(), "");
  EXPECT_TRUE(window->StartButton->isEnabled());
  EXPECT_EQ(window->pb->value(), 0);
}

// The office gone in the middle of a run: the run's error and no result; a new office opens
// both tables again, off the window's thread, and the same merge can run again.
TEST_F(MainWindow, AnOfficeLostMidRunIsTheRunsErrorAndANewOneTakesOver) {
  SetUpMerge();
  office.LoseConnectionOn("getDataArray");  // while the add table's keys are read
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].caption, "Error");
  EXPECT_TRUE(dialogs.messages[0].text.endsWith("The office ended unexpectedly"));
  EXPECT_EQ(office.files.count(office::FileNameToUrl("/out/result.ods")), 0u);
  EXPECT_TRUE(window->FilesButton->isEnabled());
  EXPECT_TRUE(window->StartButton->isEnabled());
  EXPECT_FALSE((window->Params.MainBook < 0));
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  EXPECT_EQ(window->OKLabel->text(), kDone);
  EXPECT_TRUE(window->close());
}

// Whatever the worker meets, of any kind, is the run's and never the program's end.
TEST_F(MainWindow, AnUnexpectedErrorOnTheWorkerIsTheRunsError) {
  struct Case {
    const char* what;
    std::function<void(std::string_view)> fault;
    QString message;  // the cause after the fixed text; empty: the run succeeded
    QString label;
  };
  int loads = 0;
  const std::vector<Case> cases = {
      {"an unknown member while copying",
       [&](std::string_view m) {
         if (Named(m, "setDataArray")) throw automation::UnknownMemberError("setDataArray unknown");
       },
       "The merge failed: setDataArray unknown", ""},
      {"the office lost while the main table is loaded again: a new one takes over",
       [&](std::string_view m) {
         if (Named(m, "loadComponentFromURL") && ++loads == 1) office.Abort();
       },
       "", kDone},
      {"memory running out while the main table is loaded again",
       [&](std::string_view m) {
         if (Named(m, "loadComponentFromURL") && ++loads == 1) throw std::bad_alloc();
       },
       "",
       "The result was written to /out/result.ods.\nThe main table could not be loaded again: "
       "please open it again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUpMerge();
    dialogs.messages.clear();
    loads = 0;
    office.beforeCall = c.fault;
    dialogs.saveAnswers.push_back(QString("/out/result.ods"));
    ASSERT_TRUE(gui_testing::StartAndWait(*window));
    office.beforeCall = nullptr;
    if (c.message.isEmpty()) {
      EXPECT_TRUE(dialogs.messages.empty());
    } else {
      ASSERT_EQ(dialogs.messages.size(), 1u);
      EXPECT_TRUE(dialogs.messages[0].text.endsWith(c.message))
          << dialogs.messages[0].text.toStdString();
    }
    EXPECT_EQ(window->OKLabel->text(), c.label);
    EXPECT_TRUE(window->FilesButton->isEnabled());
  }
}

// The result is written, but the main table is gone: the label says both, and nothing of
// the lost book stays chosen for the setup window.
TEST_F(MainWindow, AMainTableThatCannotBeReloadedAsksForANewSetup) {
  SetUpMerge();
  office.files.erase(Url("main.ods"));
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  EXPECT_FALSE(window->StartButton->isEnabled());
  EXPECT_EQ(window->OKLabel->text(),
            "The result was written to /out/result.ods.\nThe main table could not be loaded "
            "again: please open it again.");
  EXPECT_EQ(window->Params.MainFile, "");
  EXPECT_EQ(window->Params.MainSheet, -1);
  EXPECT_EQ(window->Params.LinkCount, 0);
  EXPECT_TRUE(window->Params.Links.empty());
  EXPECT_EQ(window->Params.AddFile, "/data/add.ods");  // the add table is still there
}

// Runs `act` on the window's thread once the run is held at its first call of `member` (the
// office answers nothing until the test lets it, or until it is ended).
class HeldRun {
 public:
  HeldRun(fake::FakeOffice& office, std::string member) {
    office.beforeCall = [this, member](std::string_view name) {
      if (!Named(name, member.c_str())) return;
      std::unique_lock lock(mutex_);
      if (held_) return;
      held_ = true;
      released_.wait(lock, [this] { return free_; });
    };
    office.onAbort = [this] { Release(); };
  }
  void Release() {
    std::lock_guard lock(mutex_);
    free_ = true;
    released_.notify_all();
  }
  void Then(std::function<void()> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [this, poll, act] {
      {
        std::lock_guard lock(mutex_);
        if (!held_) return;
      }
      poll->stop();
      poll->deleteLater();
      act();
    });
    poll->start(5);
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false, free_ = false;
};

// During a run the window answers, "Start" reads "Stop", About and ? are off, and closing or
// quitting asks first; an update offer that arrives waits until the run has ended.
TEST_F(MainWindow, ARunKeepsTheWindowAnsweringWithoutSurprises) {
  window->show();  // quitting closes the windows that are shown
  SetUpMerge();
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  HeldRun held(office, "setDataArray");
  bool filesEnabled = true, aboutEnabled = true, helpEnabled = true, closed = true;
  bool quitTaken = true;
  QString start, label;
  bool offered = false;
  held.Then([&] {
    filesEnabled = window->FilesButton->isEnabled();
    aboutEnabled = window->AboutButton->isEnabled();
    helpEnabled = window->HelpButton->isEnabled();
    start = window->StartButton->text();
    label = window->OKLabel->text();
    dialogs.confirmAnswers = {false, false};  // "Stop the merge?" No, twice
    closed = window->close();
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(qApp, &quit);
    quitTaken = quit.isAccepted();
    window->UpdateAnswer = "<?xml version=\"1.0\"?><check><version val=\"9.0\"/></check>";
    window->UpdateAnswerReceived();
    offered = QApplication::activeModalWidget() != nullptr;
    held.Release();
  });
  bool offeredAfter = false;
  gui_testing::WhenModal([&](QWidget* modal) {
    offeredAfter = true;
    static_cast<QDialog*>(modal)->reject();
  });
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  EXPECT_FALSE(filesEnabled);
  EXPECT_FALSE(aboutEnabled);
  EXPECT_FALSE(helpEnabled);
  EXPECT_EQ(start, "Stop");
  EXPECT_EQ(label, "Copying the matched rows...");
  EXPECT_FALSE(closed);
  EXPECT_FALSE(quitTaken);
  ASSERT_EQ(dialogs.questions.size(), 2u);
  EXPECT_FALSE(offered);
  EXPECT_TRUE(offeredAfter);
  EXPECT_EQ(window->OKLabel->text(), kDone);
  EXPECT_EQ(window->StartButton->text(), "Start");
  EXPECT_TRUE(window->AboutButton->isEnabled());
  EXPECT_TRUE(window->close());
}

// The bar follows the office's own report while the main table loads again (from the
// office's thread), and never goes back.
TEST_F(MainWindow, TheBarMovesWhileTheMainTableLoadsAgainAndNeverGoesBack) {
  SetUpMerge();
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  std::vector<int> values;
  std::set<int> loading;
  QObject::connect(window->pb, &QProgressBar::valueChanged, [&](int value) {
    if (value == 0) return;  // the run's end
    values.push_back(value);
    if (window->OKLabel->text() == "Loading the main table again...") loading.insert(value);
  });
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  EXPECT_EQ(window->OKLabel->text(), kDone);
  EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
  EXPECT_GE(loading.size(), 3u);  // the office's three reports
}

// Stop, once confirmed, ends the run at its next safe point: no file, and the window as it
// was before Start. An office that does not reach one is ended and a fresh one opens the
// tables again.
TEST_F(MainWindow, StopLeavesNoFileAndTheWindowAsBeforeStart) {
  for (const bool officeAnswers : {true, false}) {
    SCOPED_TRACE(officeAnswers);
    office.files.erase(office::FileNameToUrl("/out/result.ods"));
    SetUpMerge();
    window->StopGraceMs = officeAnswers ? 60000 : 10;
    dialogs.saveAnswers.push_back(QString("/out/result.ods"));
    HeldRun held(office, "setDataArray");
    held.Then([&] {
      QTest::mouseClick(window->StartButton, Qt::LeftButton);  // "Stop", and yes
      if (officeAnswers) held.Release();
    });
    ASSERT_TRUE(gui_testing::StartAndWait(*window));
    EXPECT_EQ(dialogs.questions.back().text, TFMain::StopQuestion);
    EXPECT_EQ(office.aborts, officeAnswers ? 0u : 1u);
    EXPECT_FALSE(office.files.contains(office::FileNameToUrl("/out/result.ods")));
    EXPECT_TRUE(fake::Temporaries(office).empty());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(window->StartButton->text(), "Start");
    EXPECT_TRUE(window->StartButton->isEnabled());
    EXPECT_TRUE(window->FilesButton->isEnabled());
    EXPECT_EQ(window->OKLabel->text(), "Everything is OK, press Start Button\nto continue");
    ASSERT_FALSE((window->Params.MainBook < 0));
    office.beforeCall = nullptr;
    office.onAbort = nullptr;
    dialogs.saveAnswers.push_back(QString("/out/result.ods"));
    ASSERT_TRUE(gui_testing::StartAndWait(*window));  // and the next run works
    EXPECT_EQ(window->OKLabel->text(), kDone);
  }
}

// The run ends while "Stop the merge?" is open, and the answer is yes: that stop is of a run
// that is over, and the next run is not stopped by it.
TEST_F(MainWindow, AStopConfirmedAfterTheRunEndedReachesNoOtherRun) {
  SetUpMerge();
  dialogs.saveAnswers.push_back(QString("/out/first.ods"));
  HeldRun held(office, "setDataArray");
  held.Then([&] {
    dialogs.onConfirm = [&] {  // while the question is open the run goes on to its end
      held.Release();
      EXPECT_TRUE(QTest::qWaitFor([&] { return !window->Running(); }, 60000));
    };
    QTest::mouseClick(window->StartButton, Qt::LeftButton);  // "Stop", and yes, too late
  });
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  dialogs.onConfirm = nullptr;
  EXPECT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(window->OKLabel->text(), QString(kDone).replace("result.ods", "first.ods"));
  EXPECT_TRUE(office.files.contains(office::FileNameToUrl("/out/first.ods")));

  dialogs.saveAnswers.push_back(QString("/out/second.ods"));
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  EXPECT_EQ(window->OKLabel->text(), QString(kDone).replace("result.ods", "second.ods"));
  EXPECT_TRUE(office.files.contains(office::FileNameToUrl("/out/second.ods")));
  EXPECT_TRUE(dialogs.messages.empty());
}

// A stop that ended the office: a new one opens the tables again, and a table that cannot be
// opened any more is to be chosen again, instead of a later run failing on it.
TEST_F(MainWindow, ATableThatCannotBeOpenedAgainIsToBeChosenAgain) {
  SetUpMerge();
  window->StopGraceMs = 10;
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  HeldRun held(office, "setDataArray");
  held.Then([&] {
    office.files.erase(Url("add.ods"));
    QTest::mouseClick(window->StartButton, Qt::LeftButton);  // "Stop", and yes
  });
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  EXPECT_EQ(office.aborts, 1u);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_FALSE(window->StartButton->isEnabled());
  EXPECT_EQ(window->OKLabel->text(),
            "The add table could not be loaded again.\nPlease select the files again");
  EXPECT_EQ(window->Params.AddFile, "");
  EXPECT_EQ(window->Params.AddSheet, -1);
  EXPECT_EQ(window->Params.LinkCount, 0);
  EXPECT_EQ(window->Params.MainFile, "/data/main.ods");
  EXPECT_FALSE((window->Params.MainBook < 0));
}

// Every page the windows open; where no browser shows it, a note names its address.
TEST_F(MainWindow, PagesOpenInTheBrowserOrTheirAddressIsNamed) {
  const std::vector<std::pair<std::function<void()>, QString>> pages = {
      {[&] { QTest::mouseClick(window->HelpButton, Qt::LeftButton); }, window->DetailsPage},
      {[&] { gui::TFFiles(*window).HelpButtonClick(); }, window->DetailsPage},
      {[&] { gui::TFAbout(*window).CompanyLinkLabelClick(); }, window->WebSite},
      {[&] { gui::TFUpdate(*window).yes_buttonClick(); }, window->DownloadPage},
  };
  for (const bool browser : {true, false})
    for (const auto& [open, page] : pages) {
      dialogs.browser = browser;
      dialogs.urls.clear();
      dialogs.messages.clear();
      open();
      EXPECT_EQ(dialogs.urls, std::vector<QString>{page});
      if (browser) {
        EXPECT_TRUE(dialogs.messages.empty());
      } else {
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text,
                  "No web browser could show the page. Its address is\n" + page);
      }
    }
}

// The title names the setup saved or opened, until the setup is changed by hand; the save
// dialogs propose names of the main table's.
TEST_F(MainWindow, TheTitleNamesTheSetupAndTheDialogsProposeRealNames) {
  const std::string folder =
      (std::filesystem::temp_directory_path() / ("tabloom-title-" + std::to_string(::getpid())))
          .string();
  std::filesystem::create_directories(folder);
  SetUpMerge();
  QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  EXPECT_EQ(window->windowTitle(), "Tabloom");
  const QString file = QString::fromStdString(folder + "/orders-by-customer.tabloom");
  dialogs.saveAnswers = {file};
  QTest::mouseClick(window->SaveSetupButton, Qt::LeftButton);
  EXPECT_EQ(dialogs.saves.back().proposed, "/data/main.tabloom");
  EXPECT_EQ(window->windowTitle(), "orders-by-customer — Tabloom");
  QTest::mouseClick(window->FilesButton, Qt::LeftButton);  // seen, not changed
  EXPECT_EQ(window->windowTitle(), "orders-by-customer — Tabloom");
  window->ShowSetup = [](TFMain& w) { w.Params.CaseSensitive = !w.Params.CaseSensitive; };
  QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  EXPECT_EQ(window->windowTitle(), "Tabloom");

  window = std::make_unique<TFMain>(office, dialogs);
  dialogs.openAnswers = {file};
  QTest::mouseClick(window->OpenSetupButton, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(window->OpenSetupButton->isEnabled(), 10000);
  EXPECT_EQ(window->windowTitle(), "orders-by-customer — Tabloom");
  std::filesystem::remove_all(folder);
}

TEST_F(MainWindow, ResizingKeepsTheMarginsAndAnchors) {
  window->show();
  window->resize(900, 300);
  EXPECT_EQ(window->MainWindowPanel->geometry(), QRect(4, 4, 892, 292));
  EXPECT_EQ(window->AboutButton->geometry().right() + 1, 892 - 148 + 105);
  EXPECT_EQ(window->HelpButton->x(), 892 - 34);
  EXPECT_EQ(window->pb->geometry(), QRect(8, 292 - 30, 892 - 28, 21));
  EXPECT_EQ(window->FilesButton->geometry(), QRect(8, 16, 225, 25));
}

// A setup saved, the window closed, and opened again in a new one: every choice as it was.
TEST_F(MainWindow, ASavedSetupOpensAgainWhole) {
  const QString file = QString::fromStdString(
      (std::filesystem::temp_directory_path() / ("tabloom-window-" + std::to_string(::getpid())))
          .string());
  SetUpMerge();
  window->Params.KeepValues = true;
  window->Params.CaseSensitive = false;
  window->Params.CopyColumns = {1, 0};
  dialogs.saveAnswers = {"/out/r.xlsx"};
  dialogs.saveTypes = {1};
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  ASSERT_TRUE(window->CommandButton->isEnabled());
  QTest::mouseClick(window->CommandButton, Qt::LeftButton);
  const QString command = QGuiApplication::clipboard()->text();
  EXPECT_TRUE(command.startsWith("tabloom merge --main-sheet Orders --add-sheet Customers "))
      << command.toStdString();
  EXPECT_TRUE(
      command.endsWith(" --copy B,A --format xlsx -o /out/r.xlsx -- "
                       "/data/main.ods /data/add.ods"))
      << command.toStdString();
  dialogs.saveAnswers = {file};
  QTest::mouseClick(window->SaveSetupButton, Qt::LeftButton);
  ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text.toStdString();
  // The setup dialog asks before it replaces a file; the result's, as described, does not.
  EXPECT_TRUE(dialogs.saves.back().askBeforeReplacing);
  EXPECT_FALSE(dialogs.saves.front().askBeforeReplacing);
  const merge::Parameters before = window->Params;

  window = std::make_unique<TFMain>(office, dialogs);
  EXPECT_FALSE(window->SaveSetupButton->isEnabled());  // nothing to save yet
  dialogs.openAnswers = {file + ".tabloom"};
  QTest::mouseClick(window->OpenSetupButton, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(window->OpenSetupButton->isEnabled(), 10000);
  const merge::Parameters& p = window->Params;
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text.toStdString();
  EXPECT_EQ(std::tie(p.MainFile, p.AddFile, p.MainSheet, p.AddSheet, p.MainTitleRow, p.MainFirstRow,
                     p.AddTitleRow, p.AddThereColumn, p.LinkCount, p.CaseSensitive, p.KeepValues,
                     p.CopyColumns, p.Format),
            std::tie(before.MainFile, before.AddFile, before.MainSheet, before.AddSheet,
                     before.MainTitleRow, before.MainFirstRow, before.AddTitleRow,
                     before.AddThereColumn, before.LinkCount, before.CaseSensitive,
                     before.KeepValues, before.CopyColumns, before.Format));
  EXPECT_EQ(std::pair(p.Links[0].MainCol, p.Links[0].AddCol), std::pair(0, 0));
  EXPECT_TRUE(window->StartButton->isEnabled());
  // The target saved with it is the one proposed next.
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  ASSERT_FALSE(dialogs.saves.empty());
  EXPECT_EQ(dialogs.saves.back().proposed, "/out/r.xlsx");
  EXPECT_EQ(dialogs.saves.back().type, 1);
  std::filesystem::remove(file.toStdString() + ".tabloom");
}

// What no longer fits is named in one note and Start stays off; a damaged file changes nothing.
TEST_F(MainWindow, ASetupThatNoLongerFitsIsNamedAndStartStaysOff) {
  const std::string file =
      (std::filesystem::temp_directory_path() / ("tabloom-unfit-" + std::to_string(::getpid())))
          .string();
  SetUpMerge();
  dialogs.saveAnswers = {QString::fromStdString(file + ".tabloom")};
  QTest::mouseClick(window->SaveSetupButton, Qt::LeftButton);
  office.files.erase(Url("add.ods"));
  office.files[Url("main.ods")][0].name = "Orders 2026";

  window = std::make_unique<TFMain>(office, dialogs);
  dialogs.openAnswers = {QString::fromStdString(file + ".tabloom")};
  QTest::mouseClick(window->OpenSetupButton, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(window->OpenSetupButton->isEnabled(), 10000);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].caption, "Note");
  EXPECT_EQ(dialogs.messages[0].text,
            "The sheet \"Orders\" is not in the main table.\n"
            "The add table /data/add.ods cannot be opened: there is no such file.\n"
            "Please choose these again in Select Files.");
  EXPECT_FALSE(window->StartButton->isEnabled());
  EXPECT_EQ(window->Params.MainFile, "/data/main.ods");  // what fits is kept
  EXPECT_EQ(window->Params.MainSheet, -1);

  std::ofstream(file + ".tabloom", std::ios::trunc) << "{\"tabloom\": 1, \"main\": [";
  const merge::Parameters before = window->Params;
  dialogs.openAnswers = {QString::fromStdString(file + ".tabloom")};
  QTest::mouseClick(window->OpenSetupButton, Qt::LeftButton);
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[1].text.toStdString(), file + ".tabloom is not a Tabloom setup file.");
  EXPECT_EQ(
      std::tuple(window->Params.MainFile, window->Params.MainBook, window->Params.Links.size()),
      std::tuple(before.MainFile, before.MainBook, before.Links.size()));
  std::filesystem::remove(file + ".tabloom");
}

}  // namespace

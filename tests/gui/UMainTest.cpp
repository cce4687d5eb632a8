// The main window against the in-memory office, driven as a user would.
#include "gui/UMain.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <condition_variable>
#include <mutex>

#include "gui/GuiTesting.hpp"
#include "office/uOpenOffice.hpp"
#include "support/FakeFiles.hpp"
#include "support/FakeOffice.hpp"

namespace {

using gui::TFMain;
using gui_testing::FakeDialogs;

std::string Url(const std::string& name) {
  return office::FileNameToUrl("/data/" + name);
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
      w.Merge->SetUp({.MainFile = mainFile,
                      .AddFile = "/data/add.ods",
                      .MainTitleRow = 0,
                      .AddTitleRow = 0,
                      .MainFirstRow = 1,
                      .Links = {{0, 0}}});
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
  EXPECT_TRUE(window->Merge->CaseSensitive);
  EXPECT_EQ(window->Merge->MainFirstRow, -1);
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
  EXPECT_EQ(window->OKLabel->text(), "Not all the parameters are specified");
  EXPECT_FALSE(window->StartButton->isEnabled());
}

TEST_F(MainWindow, ACompleteSetupEnablesStartAndALostLinkDisablesIt) {
  SetUpMerge();
  EXPECT_TRUE(window->StartButton->isEnabled());
  EXPECT_EQ(window->OKLabel->text(), "Everything is OK, press Start Button\nto continue");
  window->ShowSetup = [](TFMain& w) {
    w.Merge->Links[0].Deleted = true;
    w.Merge->LinkCount = 0;
  };
  QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  EXPECT_FALSE(window->StartButton->isEnabled());
  EXPECT_EQ(window->OKLabel->text(), "Not all the parameters are specified");
}

TEST_F(MainWindow, StartMergesIntoTheChosenFile) {
  fake::Sheet& add = office.files[Url("add.ods")][0];
  add.At(0, 2).text = "C-17";  // a second add row with the same key: warned of
  add.At(1, 2).text = "Chloé";
  SetUpMerge();
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  ASSERT_EQ(dialogs.saves.size(), 1u);
  EXPECT_EQ(dialogs.saves[0].title, "Save Result As");
  EXPECT_EQ(dialogs.saves[0].filter, "ods|*.ods");
  EXPECT_EQ(dialogs.saves[0].defaultSuffix, "ods");
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(window->OKLabel->text(),
            "Done: 1 of 2 main rows matched\nWarning: 1 key occurs in more than one add row "
            "(\"C-17\"): a main row with such a key receives one of them.");
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

TEST_F(MainWindow, TheSaveDialogOffersTheMainFilesExtension) {
  SetUpMerge("/data/list.xls");
  dialogs.saveAnswers.push_back(QString());  // cancelled: nothing happens
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  EXPECT_EQ(dialogs.saves.at(0).defaultSuffix, "xls");
  EXPECT_EQ(dialogs.saves.at(0).proposed, "/data/");  // it starts in the main table's folder
  EXPECT_EQ(window->OKLabel->text(), "Everything is OK, press Start Button\nto continue");
  EXPECT_EQ(office.Count("StoreAsURL"), 0u);
}

TEST_F(MainWindow, ASourceAsTargetIsRefused) {
  SetUpMerge();
  dialogs.saveAnswers.push_back(QString("/data/add.ods"));
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "Illegal target file name");
  EXPECT_EQ(dialogs.messages[0].caption, "Error");
  EXPECT_EQ(office.Count("StoreAsURL"), 0u);
  EXPECT_TRUE(window->StartButton->isEnabled());
}

TEST_F(MainWindow, AFailedRunSaysSoAndCanRunAgain) {
  SetUpMerge();
  office.FailOn("StoreAsURL");
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "File is locked\r\nby another application");
  EXPECT_EQ(dialogs.messages[0].caption, "Error");
  EXPECT_EQ(window->OKLabel->text(), "");
  EXPECT_TRUE(window->StartButton->isEnabled());
  EXPECT_EQ(window->pb->value(), 0);
}

// The office gone in the middle of a run: the run's error, no result, and a window that
// still answers; the main table went with the office, so the setup must be done again.
TEST_F(MainWindow, AnOfficeLostMidRunIsTheRunsError) {
  SetUpMerge();
  office.LoseConnectionOn("getDataArray");  // while the add table's keys are read
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].caption, "Error");
  EXPECT_EQ(office.files.count(office::FileNameToUrl("/out/result.ods")), 0u);
  EXPECT_TRUE(window->FilesButton->isEnabled());
  EXPECT_FALSE(window->StartButton->isEnabled());
  EXPECT_TRUE(window->OKLabel->text().startsWith("The main table could not be loaded again"));
  EXPECT_TRUE(window->close());
}

// The result is written, but the main table is gone: the label says both, and nothing of
// the lost book stays chosen for the setup window.
TEST_F(MainWindow, AMainTableThatCannotBeReloadedAsksForANewSetup) {
  SetUpMerge();
  office.files.erase(Url("main.ods"));
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  EXPECT_FALSE(window->StartButton->isEnabled());
  EXPECT_EQ(window->OKLabel->text(),
            "The result was written to /out/result.ods.\nThe main table could not be loaded "
            "again: please open it again.");
  EXPECT_EQ(window->Merge->MainFile, "");
  EXPECT_EQ(window->Merge->MainSheet, -1);
  EXPECT_EQ(window->Merge->LinkCount, 0);
  EXPECT_TRUE(window->Merge->Links.empty());
  EXPECT_EQ(window->Merge->AddFile, "/data/add.ods");  // the add table is still there
}

// Runs `act` on the window's thread once the run is held at its first call of `member` (the
// office answers nothing until the test lets it, or until it is ended).
class HeldRun {
 public:
  HeldRun(fake::FakeOffice& office, std::string member) {
    office.beforeCall = [this, member](std::string_view name) {
      if (QString::fromUtf8(name.data(), static_cast<int>(name.size()))
              .compare(QString::fromStdString(member), Qt::CaseInsensitive) != 0)
        return;
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

// During a run the window answers, "Start" reads "Stop", About and ? are off, and closing
// asks first; an update offer that arrives waits until the run has ended.
TEST_F(MainWindow, ARunKeepsTheWindowAnsweringWithoutSurprises) {
  SetUpMerge();
  dialogs.saveAnswers.push_back(QString("/out/result.ods"));
  HeldRun held(office, "setDataArray");
  bool filesEnabled = true, aboutEnabled = true, helpEnabled = true, closed = true;
  QString start, label;
  bool offered = false;
  held.Then([&] {
    filesEnabled = window->FilesButton->isEnabled();
    aboutEnabled = window->AboutButton->isEnabled();
    helpEnabled = window->HelpButton->isEnabled();
    start = window->StartButton->text();
    label = window->OKLabel->text();
    dialogs.confirmAnswers = {false};  // "Stop the merge?" No
    closed = window->close();
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
  QTest::mouseClick(window->StartButton, Qt::LeftButton);
  EXPECT_FALSE(filesEnabled);
  EXPECT_FALSE(aboutEnabled);
  EXPECT_FALSE(helpEnabled);
  EXPECT_EQ(start, "Stop");
  EXPECT_EQ(label, "Copying the matched rows...");
  EXPECT_FALSE(closed);
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_FALSE(offered);
  EXPECT_TRUE(offeredAfter);
  EXPECT_EQ(window->OKLabel->text(), "Done: 1 of 2 main rows matched");
  EXPECT_EQ(window->StartButton->text(), "Start");
  EXPECT_TRUE(window->AboutButton->isEnabled());
  EXPECT_TRUE(window->close());
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
    QTest::mouseClick(window->StartButton, Qt::LeftButton);
    EXPECT_EQ(dialogs.questions.back().text, TFMain::StopQuestion);
    EXPECT_EQ(office.aborts, officeAnswers ? 0u : 1u);
    EXPECT_FALSE(office.files.contains(office::FileNameToUrl("/out/result.ods")));
    EXPECT_TRUE(fake::Temporaries(office).empty());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(window->StartButton->text(), "Start");
    EXPECT_TRUE(window->StartButton->isEnabled());
    EXPECT_TRUE(window->FilesButton->isEnabled());
    EXPECT_EQ(window->OKLabel->text(), "Everything is OK, press Start Button\nto continue");
    ASSERT_FALSE(window->Merge->MainBookLost());
    office.beforeCall = nullptr;
    office.onAbort = nullptr;
    dialogs.saveAnswers.push_back(QString("/out/result.ods"));
    QTest::mouseClick(window->StartButton, Qt::LeftButton);  // and the next run works
    EXPECT_EQ(window->OKLabel->text(), "Done: 1 of 2 main rows matched");
  }
}

TEST_F(MainWindow, HelpOpensTheProductPage) {
  QTest::mouseClick(window->HelpButton, Qt::LeftButton);
  ASSERT_EQ(dialogs.urls.size(), 1u);
  EXPECT_EQ(dialogs.urls[0], window->DetailsPage);
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

TEST(ColumnLetters, AToZZ) {
  EXPECT_EQ(TFMain::ColumnLetters(0), "A");
  EXPECT_EQ(TFMain::ColumnLetters(25), "Z");
  EXPECT_EQ(TFMain::ColumnLetters(26), "AA");
  EXPECT_EQ(TFMain::ColumnLetters(701), "ZZ");
}

}  // namespace

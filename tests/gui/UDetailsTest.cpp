// The details of a run: its lists filled from the report, sorted by a header, saved as csv
// through the one output check, offered by the main window after a run with rows to explain.
#include "gui/UDetails.hpp"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "gui/GuiTesting.hpp"
#include "gui/UMain.hpp"
#include "support/FakeFiles.hpp"
#include "support/FakeOffice.hpp"

namespace {

namespace fs = std::filesystem;

class Details : public testing::Test {
 protected:
  void SetUp() override {
    fake::Workbook main = fake::Workbook::WithSheets({"Orders"});
    main[0].At(0, 0).text = "ID";
    main[0].At(0, 1).text = "C-017";
    main[0].At(0, 2).text = "C-99";
    main[0].At(0, 3).text = "B-2";
    office.files[office::FileNameToUrl("/data/main.ods")] = main;
    fake::Workbook add = fake::Workbook::WithSheets({"Customers"});
    add[0].At(0, 0).text = "ID";
    for (const auto& [row, key] : {std::pair{1, "C-17"}, {2, "B-2"}, {3, "B-2"}, {4, "Z-1"}})
      add[0].At(0, row).text = key;
    office.files[office::FileNameToUrl("/data/add.ods")] = add;
    window = std::make_unique<gui::TFMain>(office, dialogs);
    window->Merge->SetResultFiles(files);
    window->ShowSetup = [](gui::TFMain& w) {
      merge::SetUp(*w.Store,
                   {.MainFile = "/data/main.ods",
                    .AddFile = "/data/add.ods",
                    .MainTitleRow = 0,
                    .AddTitleRow = 0,
                    .MainFirstRow = 1,
                    .Links = {{0, 0}}},
                   w.Params);
    };
    QTest::mouseClick(window->FilesButton, Qt::LeftButton);
  }

  static std::vector<std::string> Column(const gui::ListModel& model, int column) {
    std::vector<std::string> texts;
    for (int r = 0; r < model.rowCount(); ++r)
      texts.push_back(model.data(model.index(r, column), Qt::DisplayRole).toString().toStdString());
    return texts;
  }

  fake::FakeOffice office;
  fake::FakeFiles files{office};
  gui_testing::FakeDialogs dialogs;
  std::unique_ptr<gui::TFMain> window;
};

// After a run with rows to explain, "Details..." shows them: each list filled, sorted by a
// header, the shown one saved as csv, never over a table.
TEST_F(Details, TheListsAreFilledSortedAndSaved) {
  EXPECT_FALSE(window->DetailsButton->isVisible());
  dialogs.saveAnswers = {"/out/r.ods"};
  ASSERT_TRUE(gui_testing::StartAndWait(*window));
  EXPECT_TRUE(window->DetailsButton->isVisibleTo(window.get()));
  const fs::path dir =
      fs::temp_directory_path() / ("tabloom-details-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  gui_testing::WhenModal([&](QWidget* modal) {
    auto* details = static_cast<gui::TFDetails*>(modal);
    ASSERT_EQ(details->Tabs->count(), 4);
    EXPECT_EQ(details->Tabs->tabText(0), "Found nothing (2)");
    EXPECT_EQ(Column(details->Model(0), 0), (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(Column(details->Model(0), 2), (std::vector<std::string>{"C-17", ""}));
    EXPECT_EQ(Column(details->Model(0), 4), (std::vector<std::string>{"leading zeros", ""}));
    EXPECT_EQ(details->Tabs->tabText(1), "Near matches (0)");
    EXPECT_EQ(Column(details->Model(2), 1), (std::vector<std::string>{"C-17", "B-2", "Z-1"}));
    EXPECT_EQ(Column(details->Model(3), 2), std::vector<std::string>{"3, 4"});
    details->Lists[0]->sortByColumn(0, Qt::DescendingOrder);
    EXPECT_EQ(Column(details->Model(0), 0), (std::vector<std::string>{"3", "2"}));
    dialogs.saveAnswers = {QString::fromStdString((dir / "nothing.csv").string()),
                           "/data/main.ods"};
    details->SaveButtonClick();
    details->SaveButtonClick();  // a table: refused
    details->accept();
  });
  QTest::mouseClick(window->DetailsButton, Qt::LeftButton);
  std::ifstream in(dir / "nothing.csv");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            "Row,Key,Nearest add key,Add row,Why\n3,C-99,,,\n2,C-017,C-17,2,leading zeros\n");
  EXPECT_TRUE(dialogs.saves.back().askBeforeReplacing);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text,
            "Illegal file name for the list: /data/main.ods (it is the main table).");
  fs::remove_all(dir);
}

// A list of 100,000 rows opens at once: rows are read as they are shown.
TEST_F(Details, AHundredThousandRowsOpenWithinABound) {
  auto report = std::make_shared<merge::RunReport>();
  report->Ok = true;
  for (std::int32_t r = 0; r < 100000; ++r)
    report->Unmatched.push_back({r, {"K-" + std::to_string(r)}, {}});
  QElapsedTimer clock;
  clock.start();
  gui::TFDetails details(*window, report);
  details.show();
  QCoreApplication::processEvents();
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_EQ(details.Model(0).rowCount(), 100000);
  EXPECT_EQ(details.Tabs->currentIndex(), 0);
}

}  // namespace

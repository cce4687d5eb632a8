// Saved setups: what is written is read back, opened again where it still fits, named where it
// no longer does; damaged files refused; the command line that makes the same merge.
#include "merge/SetupFile.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "store/UClc.hpp"
#include "support/FakeOffice.hpp"

namespace {

namespace fs = std::filesystem;
using merge::SavedSetup;

class SetupFile : public testing::Test {
 protected:
  void SetUp() override {
    root =
        fs::temp_directory_path() / ("tabloom-setup-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "month");
  }
  void TearDown() override { fs::remove_all(root); }

  // A real file for the setup's paths to reach, and its book in the in-memory office.
  void Table(const fs::path& file, const std::string& sheet, std::int32_t columns,
             std::int32_t rows) {
    std::ofstream(file) << "stand-in";
    fake::Workbook book = fake::Workbook::WithSheets({sheet});
    for (std::int32_t r = 0; r < rows; ++r)
      for (std::int32_t c = 0; c < columns; ++c)
        book[0].At(c, r).text = store::clc::ColumnName(c) + std::to_string(r + 1);
    office.files[office::FileNameToUrl(file.string())] = book;
  }

  static SavedSetup Everything(const fs::path& folder) {
    SavedSetup s;
    s.Main = {(folder / "orders.ods").string(), {}, "Orders", 0};
    s.Add = {(folder / "customers.ods").string(), {}, "Customers", 1};
    s.MainFirstRow = 2;
    s.Links = {{1, 0}, {2, 3}};
    s.CaseSensitive = false;
    s.KeepValues = true;
    s.CopyColumns = {3, 0};
    s.Target = (folder / "merged.xlsx").string();
    s.Format = merge::ResultFormat::Xlsx;
    s.Near = merge::NearMatch::Typos;
    s.DuplicateRule = merge::Duplicates::Last;
    return s;
  }

  fs::path root;
  fake::FakeOffice office;
};

TEST_F(SetupFile, WhatIsWrittenIsReadBackAndAFolderMovedWholeStillWorks) {
  const fs::path month = root / "month";
  Table(month / "orders.ods", "Orders", 4, 6);
  Table(month / "customers.ods", "Customers", 5, 6);
  const SavedSetup saved = Everything(month);
  merge::WriteSetup(saved, month / "orders.tabloom");

  SavedSetup read = merge::ReadSetup(month / "orders.tabloom");
  EXPECT_EQ(read.Main.Relative, "orders.ods");
  EXPECT_EQ(read.Add.Relative, "customers.ods");
  read.Main.Relative = read.Add.Relative = "";
  EXPECT_EQ(read, saved);
  std::ifstream in(month / "orders.tabloom");
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_NE(text.find("\"main\": \"B\""), std::string::npos) << text;  // a person can read it
  EXPECT_NE(text.find("\"titleRow\": 1"), std::string::npos) << text;  // rows as shown

  // The folder moves whole: the files are found beside the setup file.
  fs::rename(month, root / "moved");
  Table(root / "moved" / "orders.ods", "Orders", 4, 6);
  Table(root / "moved" / "customers.ods", "Customers", 5, 6);
  store::clc store(office);
  merge::Parameters p;
  const auto notes =
      merge::Restore(store, merge::ReadSetup(root / "moved" / "orders.tabloom"), root / "moved", p);
  EXPECT_TRUE(notes.empty()) << notes.front().sentence;
  EXPECT_EQ(p.MainFile, (root / "moved" / "orders.ods").string());
  EXPECT_EQ(p.AddFile, (root / "moved" / "customers.ods").string());
  EXPECT_EQ(std::tuple(p.MainSheet, p.AddSheet, p.MainTitleRow, p.MainFirstRow, p.AddTitleRow),
            std::tuple(0, 0, 0, 2, 1));
  ASSERT_EQ(p.LinkCount, 2);
  EXPECT_EQ(std::pair(p.Links[1].MainCol, p.Links[1].AddCol), std::pair(2, 3));
  EXPECT_FALSE(p.CaseSensitive);
  EXPECT_TRUE(p.KeepValues);
  EXPECT_EQ(p.CopyColumns, (std::vector<std::int32_t>{3, 0}));
  EXPECT_EQ(p.Format, merge::ResultFormat::Xlsx);
  EXPECT_EQ(p.Near, merge::NearMatch::Typos);
  EXPECT_EQ(p.DuplicateRule, merge::Duplicates::Last);
  EXPECT_EQ(p.AddThereColumn, 6);
  EXPECT_FALSE(p.Check(store).has_value());
}

// A month's folder copied whole runs against its own tables, never the stale ones it was
// copied from, and says which it used; a setup that chooses no sheet says so.
TEST_F(SetupFile, TheFileBesideTheSetupWinsAndIsNamed) {
  const fs::path may = root / "month", june = root / "june";
  Table(may / "orders.ods", "Orders", 4, 6);
  Table(may / "customers.ods", "Customers", 5, 6);
  SavedSetup saved = Everything(may);
  merge::WriteSetup(saved, may / "orders.tabloom");
  fs::copy(may, june);
  Table(june / "orders.ods", "Orders", 4, 6);
  Table(june / "customers.ods", "Customers", 5, 6);
  store::clc store(office);
  merge::Parameters p;
  auto notes = merge::Restore(store, merge::ReadSetup(june / "orders.tabloom"), june, p);
  EXPECT_EQ(p.MainFile, (june / "orders.ods").string());
  EXPECT_EQ(p.AddFile, (june / "customers.ods").string());
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].kind, merge::SetupNote::Kind::Used);
  EXPECT_EQ(notes[0].sentence, "The main table beside the setup, " +
                                   (june / "orders.ods").string() + ", was used, not " +
                                   (may / "orders.ods").string());
  // The same file by two paths is no news.
  notes = merge::Restore(store, merge::ReadSetup(may / "orders.tabloom"), may, p);
  EXPECT_TRUE(notes.empty()) << notes.front().sentence;

  saved.Main.Sheet.clear();
  merge::Parameters q;
  notes = merge::Restore(store, saved, may, q);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].kind, merge::SetupNote::Kind::NotChosen);
  EXPECT_EQ(notes[0].sentence, "The setup chooses no sheet of the main table");
}

// A setup takes the place of a setup only, whole, with the old file's mode; anything else
// keeps its bytes, and nothing is left beside it.
TEST_F(SetupFile, ASetupReplacesOnlyASetup) {
  const fs::path file = root / "month" / "s.tabloom";
  merge::WriteSetup({}, file);
  ::chmod(file.c_str(), 0640);
  SavedSetup saved;
  saved.Target = "t";
  merge::WriteSetup(saved, file);
  EXPECT_EQ(merge::ReadSetup(file).Target, "t");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640));
  const fs::path table = root / "month" / "orders.ods";
  std::ofstream(table) << "a table";
  try {
    merge::WriteSetup(saved, table);
    ADD_FAILURE() << "a table was replaced";
  } catch (const merge::SetupError& e) {
    EXPECT_EQ(std::string(e.what()),
              table.string() + " is not a Tabloom setup file; it was left as it is.");
  }
  std::ifstream in(table);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a table");
  EXPECT_EQ(std::distance(fs::directory_iterator(root / "month"), fs::directory_iterator()), 2);
}

TEST_F(SetupFile, WhatNoLongerFitsIsNamedAndLeftUnset) {
  const fs::path month = root / "month";
  Table(month / "orders.ods", "Orders 2026", 4, 6);  // the sheet was renamed
  SavedSetup saved = Everything(month);              // customers.ods is gone
  store::clc store(office);
  merge::Parameters p;
  auto notes = merge::Restore(store, saved, month, p);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].sentence, "The sheet \"Orders\" is not in the main table");
  EXPECT_EQ(notes[1].sentence, "The add table " + (month / "customers.ods").string() +
                                   " cannot be opened: there is no such file");
  EXPECT_EQ(p.MainSheet, -1);
  EXPECT_EQ(p.MainFirstRow, -1);
  EXPECT_TRUE(p.AddFile.empty());
  EXPECT_FALSE(p.MainParamsComplete() || p.AddParamsComplete());

  // Both there, but the tables shrank: rows and columns past them are named and left out.
  Table(month / "orders.ods", "Orders", 2, 2);
  Table(month / "customers.ods", "Customers", 3, 6);
  merge::Parameters q;
  notes = merge::Restore(store, saved, month, q);
  std::vector<std::string> sentences;
  for (const auto& note : notes) {
    EXPECT_EQ(note.kind, merge::SetupNote::Kind::BeyondSheet);
    sentences.push_back(note.sentence);
  }
  EXPECT_EQ(sentences, (std::vector<std::string>{
                           "The main table's first row 3 is beyond its last row 2",
                           "The link column C is beyond the main table's last used column B",
                           "The add column D is beyond the add table's last used column C"}));
  EXPECT_EQ(q.MainTitleRow, 0);
  EXPECT_EQ(q.MainFirstRow, -1);
  ASSERT_EQ(q.LinkCount, 1);
  EXPECT_EQ(q.CopyColumns, (std::vector<std::int32_t>{0}));
  EXPECT_FALSE(q.MainParamsComplete());
}

TEST_F(SetupFile, DamagedOrNewerFilesAreRefusedWithOneSentence) {
  const std::string good = R"({"tabloom": 1, "main": {"file": "m.ods"}, "add": {"file": "a.ods"}})";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{\"tabloom\": 1, \"main\": ", "is not a Tabloom setup file"},
      {"[1, 2]", "is not a Tabloom setup file"},
      {R"({"main": {}, "add": {}})", "is not a Tabloom setup file"},
      {R"({"tabloom": 2, "main": {}, "add": {}})",
       "was saved by a newer Tabloom (setup version 2)"},
      {R"({"tabloom": 1, "add": {}})", "is damaged"},
      {R"({"tabloom": 1, "main": {"titleRow": "one"}, "add": {}})",
       "is damaged: \"titleRow\" is no row number"},
      {R"({"tabloom": 1, "main": {}, "add": {}, "links": [{"main": "A1", "add": "B"}]})",
       "is damaged: \"\"A1\"\" is no column"},
      {R"({"tabloom": 1, "main": {}, "add": {}, "result": {"format": "pdf"}})",
       "is damaged: \"pdf\" is no result format"},
      {R"({"tabloom": 1, "main": {}, "add": {}, "match": {"duplicates": "any"}})",
       "is damaged: \"any\" is no rule for duplicate keys"},
      {R"({"tabloom": 1, "main": {"file": 7}, "add": {}})", "is damaged"},
  };
  const fs::path file = root / "s.tabloom";
  for (const auto& [content, said] : cases) {
    std::ofstream(file, std::ios::trunc) << content;
    try {
      merge::ReadSetup(file);
      ADD_FAILURE() << "read: " << content;
    } catch (const merge::SetupError& e) {
      EXPECT_NE(std::string(e.what()).find(said), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(file.string()), std::string::npos) << e.what();
    }
  }
  std::ofstream(file, std::ios::trunc) << good;
  EXPECT_EQ(merge::ReadSetup(file).Main.File, "m.ods");
  EXPECT_THROW(merge::ReadSetup(root / "gone.tabloom"), merge::SetupError);
  // A folder that cannot be written to keeps what was there.
  EXPECT_THROW(merge::WriteSetup({}, root / "no-such-folder" / "s.tabloom"), merge::SetupError);
}

// Every word of the command reaches the program as it was, whatever it holds.
TEST(CommandLine, EachWordReachesTheShellAsWritten) {
  SavedSetup s;
  s.Main = {"-orders (May) it's.ods", {}, "Sheet \"1\"", 0};
  s.Add = {"/tmp/a b/$HOME `x` \\ ;|&*?.ods", {}, "Äpfel", -1};
  s.MainFirstRow = 1;
  s.Links = {{0, 27}};
  s.Target = "-r.ods";
  const std::vector<std::string> args = merge::CommandArguments(s);
  const std::string line = merge::CommandLine("printf", s);
  EXPECT_EQ(line.rfind("printf merge --main-sheet 'Sheet \"1\"'", 0), 0u) << line;
  // printf's format is "merge": the words after it are left over, so print them one a line.
  std::string command = "printf '%s\\n'";
  for (const std::string& word : args) command += " " + merge::ShellQuote(word);
  FILE* shell = ::popen(command.c_str(), "r");
  ASSERT_NE(shell, nullptr);
  std::vector<std::string> heard;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, shell)) {
    std::string word(buffer);
    if (!word.empty() && word.back() == '\n') word.pop_back();
    heard.push_back(word);
  }
  EXPECT_EQ(::pclose(shell), 0);
  EXPECT_EQ(heard, args);
  const auto dashes = std::find(args.begin(), args.end(), "--");
  ASSERT_NE(dashes, args.end());  // the files come after it: a name may begin with '-'
  EXPECT_EQ(std::vector<std::string>(dashes + 1, args.end()),
            (std::vector<std::string>{s.Main.File, s.Add.File}));
}

}  // namespace

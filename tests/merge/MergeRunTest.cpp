// The merge run against the in-memory office: which rows match, what lands where, and what
// a failure leaves behind.
#include "merge/MergeRun.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "merge/RunProgress.hpp"
#include "support/FakeFiles.hpp"
#include "support/FakeOffice.hpp"

namespace {

using merge::KeyPart;
using merge::MergeRun;

std::string Url(const std::string& name) {
  return office::FileNameToUrl("/data/" + name);
}

class Merge : public testing::Test {
 protected:
  // main.ods: sheets "Before", "Main", "After". Main: title row 0 (ID, Name), data rows
  // 1..4. add.ods: title row 0 (Key, City, Zip), data rows below.
  void SetUp() override {
    fake::Workbook main = fake::Workbook::WithSheets({"Before", "Main", "After"});
    Put(main[1], {{"ID", "Name"}, {"abc ", "one"}, {"x", "two"}, {"", "three"}, {"C-17", "four"}});
    office.files[Url("main.ods")] = main;
    fake::Workbook add = fake::Workbook::WithSheets({"Add"});
    Put(add[0], {{"Key", "City", "Zip"},
                 {"ABC", "Lyon", "69000"},
                 {"c-17", "Köln", ""},
                 {" x", "Malmö", "21100"}});
    office.files[Url("add.ods")] = add;
  }

  static void Put(fake::Sheet& sheet, const std::vector<std::vector<std::string>>& rows) {
    for (std::size_t r = 0; r < rows.size(); ++r)
      for (std::size_t c = 0; c < rows[r].size(); ++c)
        if (!rows[r][c].empty())
          sheet.At(static_cast<std::int32_t>(c), static_cast<std::int32_t>(r)).text = rows[r][c];
  }

  // Parameters as the setup window would fill them: main sheet 1 with title row 0 and data
  // from row 1, add sheet 0 with title row 0, one link A = A, copies after one empty column,
  // letter case ignored.
  merge::Parameters& Prepared() {
    Prepare(store, p);
    return p;
  }

  static void Prepare(store::clc& books, merge::Parameters& parameters) {
    EXPECT_TRUE(merge::SetUp(books,
                             {.MainFile = "/data/main.ods",
                              .AddFile = "/data/add.ods",
                              .MainSheet = 1,
                              .MainTitleRow = 0,
                              .AddTitleRow = 0,
                              .MainFirstRow = 1,
                              .Links = {{0, 0}},
                              .CaseSensitive = false},
                             parameters));
  }

  // A run with `p`: its report in `report`, the main table as the run left it.
  bool Run(const std::string& target, std::stop_token stop = {}) {
    p.Target = target;
    report = run.Run(p, stop);
    p.MainBook = report.MainBook;
    return report.Ok;
  }

  // A run of its own on a copy of the fixture's files, prepared as Prepared() is.
  struct Fresh {
    explicit Fresh(const std::map<std::string, fake::Workbook>& files,
                   std::int32_t columnLimit = 16384) {
      office.files = files;
      office.columnLimit = columnLimit;
      Prepare(books, p);
    }
    bool Run(const std::string& target) {
      p.Target = target;
      report = run.Run(p);
      p.MainBook = report.MainBook;
      return report.Ok;
    }
    const fake::Workbook& File(const std::string& name) const {
      return office.files.at(office::FileNameToUrl("/out/" + name));
    }
    fake::FakeOffice office;
    store::clc books{office};
    fake::FakeFiles disk{office};
    MergeRun run{books, disk};
    merge::Parameters p;
    merge::RunReport report;
  };

  const fake::Sheet& Result(const std::string& name = "result.ods") {
    return *office.files.at(office::FileNameToUrl("/out/" + name)).sheets.at(0);
  }
  static std::string Text(const fake::Sheet& sheet, int column, int row) {
    const fake::Cell* cell = sheet.Find(column, row);
    return cell ? cell->text : std::string();
  }

  fake::FakeOffice office;
  store::clc store{office};
  fake::FakeFiles files{office};
  MergeRun run{store, files};
  merge::Parameters p;
  merge::RunReport report;
};

TEST(KeyPart, TrimsControlsAndBlanksAndUpperCasesByUnicode) {
  EXPECT_EQ(KeyPart(" \t abc \r\n", true), "abc");
  EXPECT_EQ(KeyPart(" abc ", false), "ABC");
  EXPECT_EQ(KeyPart("grüße", false), "GRÜSSE");
  EXPECT_EQ(KeyPart("ärger", false), "ÄRGER");
  EXPECT_EQ(KeyPart("a b", false), "A B");  // inner blanks stay
  EXPECT_EQ(KeyPart("\x01\x1f", true), "");
}

// A set-up opens only what it does not hold yet, and refuses what is not there.
TEST_F(Merge, SetUpOpensEachFileOnceAndRefusesWhatIsMissing) {
  merge::Parameters& r = Prepared();
  EXPECT_EQ(r.AddThereColumn, store.Books[0].SheetList[1].ColCount + 2);
  EXPECT_EQ(r.LinkCount, 1);
  const std::size_t loads = office.Count("loadComponentFromURL");
  EXPECT_TRUE(
      merge::SetUp(store, {.MainFile = r.MainFile, .AddFile = r.AddFile, .MainSheet = 1}, r));
  EXPECT_EQ(office.Count("loadComponentFromURL"), loads);
  EXPECT_FALSE(
      merge::SetUp(store, {.MainFile = r.MainFile, .AddFile = r.AddFile, .AddSheet = 9}, r));
  EXPECT_FALSE(merge::SetUp(store, {.MainFile = r.MainFile, .AddFile = "/data/none.ods"}, r));
  EXPECT_EQ(r.AddBook, -1);
}

// New parameters are incomplete and case-sensitive; a run needs each required one.
TEST_F(Merge, CompletenessNeedsEachRequiredParameter) {
  EXPECT_FALSE(p.MainParamsComplete() || p.AddParamsComplete());
  EXPECT_TRUE(p.CaseSensitive);
  EXPECT_FALSE(Run("/out/result.ods"));
  EXPECT_EQ(report.Error,
            "Not all the parameters are specified: the main table, the add table, a link");
  merge::Parameters& r = Prepared();
  EXPECT_TRUE(r.MainParamsComplete());
  EXPECT_TRUE(r.AddParamsComplete());
  r.MainTitleRow = r.AddTitleRow = -1;  // titles are optional
  EXPECT_TRUE(r.MainParamsComplete() && r.AddParamsComplete());
  r.LinkCount = 0;
  EXPECT_FALSE(r.MainParamsComplete());
  EXPECT_FALSE(r.AddParamsComplete());
  r.LinkCount = 1;
  r.MainFirstRow = -1;
  EXPECT_FALSE(r.MainParamsComplete());
  r.MainFirstRow = 1;
  r.AddSheet = -1;
  EXPECT_FALSE(r.AddParamsComplete());
  r.AddSheet = 0;
  r.AddFile.clear();
  EXPECT_FALSE(r.AddParamsComplete());
}

TEST_F(Merge, CaseFreeMatchingWithTrimming) {
  Prepared();
  ASSERT_TRUE(Run("/out/result.ods"));
  const fake::Sheet& result = Result();
  EXPECT_EQ(Text(result, 3, 0), "Key");  // the title copy, from D: two columns + 2
  EXPECT_EQ(Text(result, 4, 0), "City");
  EXPECT_EQ(Text(result, 4, 1), "Lyon");   // "abc " = "ABC"
  EXPECT_EQ(Text(result, 4, 2), "Malmö");  // "x" = " x"
  EXPECT_EQ(Text(result, 3, 3), "");       // the empty key: no empty add row here
  EXPECT_EQ(Text(result, 4, 4), "Köln");   // "C-17" = "c-17"
  EXPECT_EQ(Text(result, 5, 4), "");       // an empty add cell stays empty
  EXPECT_EQ(Text(result, 2, 1), "");       // the separating column
  EXPECT_EQ(Text(result, 1, 2), "two");    // the main table's own cells are untouched
  EXPECT_EQ(report.RowsWalked, 4);
  EXPECT_EQ(report.RowsMatched, 3);
}

TEST_F(Merge, CaseSensitiveMatchingStillTrims) {
  Prepared().CaseSensitive = true;
  ASSERT_TRUE(Run("/out/result.ods"));
  const fake::Sheet& result = Result();
  EXPECT_EQ(Text(result, 4, 1), "");       // "abc " vs "ABC"
  EXPECT_EQ(Text(result, 4, 2), "Malmö");  // "x" vs " x"
  EXPECT_EQ(Text(result, 4, 4), "");       // "C-17" vs "c-17"
  EXPECT_EQ(report.RowsMatched, 1);
}

TEST_F(Merge, LinkTextsAreJoinedWithoutSeparator) {
  fake::Workbook main = fake::Workbook::WithSheets({"M"});
  Put(main[0], {{"ab", "c", "main"}});
  fake::Workbook add = fake::Workbook::WithSheets({"A"});
  Put(add[0], {{"a", "bc", "joined"}});
  office.files[Url("m.ods")] = main;
  office.files[Url("a.ods")] = add;
  ASSERT_TRUE(merge::SetUp(store,
                           {.MainFile = "/data/m.ods",
                            .AddFile = "/data/a.ods",
                            .Links = {{0, 0}, {1, 1}},
                            .AddThereColumn = 5},
                           p));
  ASSERT_TRUE(Run("/out/result.ods"));
  EXPECT_EQ(Text(Result(), 6, 0), "joined");
}

TEST_F(Merge, EmptyKeysMatchBlankAddRowsAndTitlesTakePart) {
  fake::Workbook& add = office.files[Url("add.ods")];
  add[0].At(0, 4).text = " ";  // a blank key inside the used area
  add[0].At(1, 4).text = "blank";
  fake::Workbook& main = office.files[Url("main.ods")];
  main[1].At(0, 5).text = "Key";  // a data row with the add title's link text
  Prepared().MainTitleRow = -1;   // no title copy
  ASSERT_TRUE(Run("/out/result.ods"));
  const fake::Sheet& result = Result();
  EXPECT_EQ(Text(result, 4, 0), "");       // no title copied
  EXPECT_EQ(Text(result, 4, 3), "blank");  // the main row with an empty link cell
  EXPECT_EQ(Text(result, 4, 5), "City");   // matched the add title row
}

TEST_F(Merge, OnlyTheMainSheetIsKeptAndSourcesAreNotWritten) {
  const auto mainBefore = office.files[Url("main.ods")].sheets.size();
  Prepared();
  ASSERT_TRUE(Run("/out/result.ods"));
  const fake::Workbook& result = office.files.at(office::FileNameToUrl("/out/result.ods"));
  ASSERT_EQ(result.sheets.size(), 1u);
  EXPECT_EQ(result.sheets[0]->name, "Main");
  EXPECT_EQ(office.files[Url("main.ods")].sheets.size(), mainBefore);
  EXPECT_EQ(office.Count("RemoveByName"), 2u);
  EXPECT_EQ(office.Count("StoreAsURL"), 1u);  // once, at the end

  p.ExactCalls = true;  // the reference stores after each deletion too
  office.ClearCalls();
  ASSERT_TRUE(Run("/out/again.ods"));
  EXPECT_EQ(office.Count("StoreAsURL"), 4u);
}

// The office may refuse a removal, or the list of what is left: the run then fails, naming the
// sheet, instead of copying into whatever sheet came first; nothing is written.
TEST_F(Merge, ASheetThatIsNotRemovedFailsTheRun) {
  struct Case {
    const char* what;
    std::function<void(fake::FakeOffice&)> fault;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"the first removal refused", [](fake::FakeOffice& o) { o.FailOn("removeByName"); },
       "The sheet \"After\" could not be removed from the result"},
      {"the sheets left unreadable once both are removed",
       [](fake::FakeOffice& o) {
         o.beforeCall = [removed = 0](std::string_view member) mutable {
           if (member == "RemoveByName") ++removed;
           if (removed == 2 && member == "GetActiveSheet")
             throw automation::Refused("refused: the active sheet");
         };
       },
       "The sheets left in the result could not be read after the others were removed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh fresh(office.files);
    fresh.run.AddPhaseListener([&](merge::Phase p) {
      if (p == merge::Phase::RemovingSheets) c.fault(fresh.office);
    });
    EXPECT_FALSE(fresh.Run("/out/result.ods"));
    EXPECT_EQ(fresh.report.Error, c.error);
    EXPECT_FALSE(fresh.office.files.contains(office::FileNameToUrl("/out/result.ods")));
    EXPECT_TRUE(fake::Temporaries(fresh.office).empty());
  }
}

TEST_F(Merge, AFirstRowPastTheEndWalksNothingButStillWritesTheSheet) {
  Prepared().MainFirstRow = 50;
  ASSERT_TRUE(Run("/out/result.ods"));
  EXPECT_EQ(report.RowsWalked, 0);
  EXPECT_EQ(Text(Result(), 3, 0), "Key");  // the title copy all the same
  EXPECT_EQ(Text(Result(), 4, 1), "");
}

// The copies end at the sheet's last column, with a warning of what was left out; when not one
// add column fits, the run fails before anything is written.
TEST_F(Merge, CopiesEndAtTheSheetsLastColumnAndSaySo) {
  for (const bool exact : {false, true}) {
    Fresh fresh(office.files, 256);
    fresh.p.ExactCalls = exact;
    fresh.p.AddThereColumn = 255;
    ASSERT_TRUE(fresh.Run("/out/result.ods"));
    const fake::Sheet& result = *fresh.File("result.ods").sheets.at(0);
    EXPECT_EQ(result.Find(254, 1)->text, "ABC");  // column 255 and 256 only
    EXPECT_EQ(result.Find(255, 1)->text, "Lyon");
    EXPECT_EQ(result.Find(256, 1), nullptr);
    EXPECT_EQ(fresh.report.Warnings,
              (std::vector<std::string>{
                  "1 of 3 add columns were left out: the main sheet ends at column IV",
                  "1 main row found no add row: row 4 (\"\")"}));
  }
  Fresh full(office.files, 256);
  full.p.AddThereColumn = 257;
  EXPECT_FALSE(full.Run("/out/result.ods"));
  EXPECT_EQ(full.report.Error,
            "No add column fits: the copies would begin at column IW, right of the main sheet's "
            "last column IV");
  EXPECT_EQ(full.office.Count("storeAsURL"), 0u);
  EXPECT_FALSE(full.office.files.contains(office::FileNameToUrl("/out/result.ods")));
}

// What a run reports besides its counts: add keys that occur more than once, as the user
// would type them, and link columns empty in their whole sheet.
TEST_F(Merge, DuplicateKeysAndEmptyLinkColumnsAreReported) {
  merge::Parameters& r = Prepared();
  r.Links.push_back({7, 9, false});
  r.LinkCount = 2;
  ASSERT_TRUE(Run("/out/result.ods"));
  EXPECT_EQ(report.Warnings,
            (std::vector<std::string>{
                "The link column H of the main table is empty: its key part is "
                "blank in every row",
                "The link column J of the add table is empty: its key part is blank "
                "in every row",
                "1 main row found no add row: row 4 (\" | \")"}));

  Put(office.files[Url("add.ods")][0], {{}, {}, {}, {}, {}, {"abc "}, {"x"}, {"X"}});
  Fresh fresh(office.files);
  ASSERT_TRUE(fresh.Run("/out/result.ods"));
  EXPECT_EQ(fresh.report.Warnings,
            std::vector<std::string>{"2 keys occur in more than one add row (\"ABC\", \"x\"): a "
                                     "main row with such a key receives one of them"});
}

// Main rows that found no add row are named: the first three with their keys as the main
// table shows them, or every one when asked for.
TEST_F(Merge, RowsThatFoundNothingAreNamed) {
  Put(office.files[Url("main.ods")][1],
      {{}, {}, {}, {}, {}, {"C-42\nline\ttab\x01"}, {"C-55"}, {" c-71 "}});
  Fresh fresh(office.files);
  ASSERT_TRUE(fresh.Run("/out/result.ods"));
  EXPECT_EQ(fresh.report.RowsWalked - fresh.report.RowsMatched, 4);
  // A warning is one line, whatever a key holds.
  EXPECT_EQ(fresh.report.Warnings,
            std::vector<std::string>{"4 main rows found no add row: row 4 (\"\"), row 6 "
                                     "(\"C-42\\nline\\ttab\\x01\"), row 7 (\"C-55\")"});
  ASSERT_EQ(fresh.report.Unmatched.size(), 3u);

  fresh.p.ListDetails = true;
  ASSERT_TRUE(fresh.Run("/out/result.ods"));
  ASSERT_EQ(fresh.report.Unmatched.size(), 4u);
  EXPECT_EQ(fresh.report.Unmatched[3].row, 7);
  EXPECT_EQ(fresh.report.Unmatched[3].key, std::vector<std::string>{" c-71 "});
}

TEST_F(Merge, ProgressCountsAddRowsAndWalkedMainRows) {
  std::vector<std::int32_t> positions;
  std::int32_t maximum = -1;
  Prepared();
  run.SetProgress([&](std::int32_t position, std::int32_t max) {
    positions.push_back(position);
    maximum = max;
  });
  ASSERT_TRUE(Run("/out/result.ods"));
  EXPECT_EQ(maximum, 4 + 5 - 1 + 2);
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.front(), 0);
  EXPECT_EQ(positions.back(), maximum);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(positions.size(), 1u + 4 + 4 + 1);
}

TEST_F(Merge, TwoRunsInARowGiveTheSameResult) {
  Prepared();
  ASSERT_TRUE(Run("/out/first.ods"));
  EXPECT_EQ(p.MainBook, 2);  // the main table loaded afresh
  ASSERT_TRUE(Run("/out/second.ods"));
  const fake::Sheet& first = Result("first.ods");
  const fake::Sheet& second = Result("second.ods");
  ASSERT_EQ(first.cells.size(), second.cells.size());
  for (const auto& [position, cell] : first.cells)
    EXPECT_EQ(Text(second, position.second, position.first), cell.text);
}

TEST_F(Merge, AFailedMergeReloadsTheMainTable) {
  Prepared();
  office.FailOn("StoreAsURL");  // the store of the result
  EXPECT_FALSE(Run("/out/result.ods"));
  EXPECT_NE(report.Error.find("StoreAsURL"), std::string::npos);
  EXPECT_FALSE((p.MainBook < 0));
  EXPECT_EQ(store.Books[static_cast<std::size_t>(p.MainBook)].SheetList.size(), 3u);
  ASSERT_TRUE(Run("/out/result.ods"));  // and a further run works
  EXPECT_EQ(Text(Result(), 4, 4), "Köln");
}

// The block run and the cell-by-cell reference write the same cells.
TEST_F(Merge, BothWaysOfCopyingWriteTheSameCells) {
  fake::Workbook& add = office.files[Url("add.ods")];
  add[0].At(0, 4).text = "abc";  // a duplicate key
  add[0].At(1, 4).number = 3.5;
  add[0].At(2, 6).number = 1e20;  // a row past the main rows, numbers to convert
  fake::Workbook& main = office.files[Url("main.ods")];
  for (int r = 5; r < 12; ++r) main[1].At(0, r).text = r % 2 ? "x" : "ABC";
  struct Case {
    bool caseSensitive;
    int mainTitle, addTitle, there;
  };
  for (const Case& c : {Case{false, 0, 0, 4}, Case{true, 0, 0, 4}, Case{false, -1, 0, 4},
                        Case{false, 0, 6, 4}, Case{false, 0, 0, 254}, Case{false, 2, 0, 1}}) {
    SCOPED_TRACE(testing::Message()
                 << c.caseSensitive << " " << c.mainTitle << " " << c.addTitle << " " << c.there);
    std::map<std::pair<int, int>, std::pair<std::string, bool>> results[2];
    for (const bool exact : {true, false}) {
      Fresh fresh(office.files);
      merge::Parameters& r = fresh.p;
      r.MainTitleRow = c.mainTitle;
      r.AddTitleRow = c.addTitle;
      r.AddThereColumn = c.there;
      r.CaseSensitive = c.caseSensitive;
      r.ExactCalls = exact;
      ASSERT_TRUE(fresh.Run("/out/result.ods"));
      // A target over the main table's own cells is copied cell by cell either way.
      EXPECT_EQ(fresh.office.Count("SetString") > 0, exact || c.there == 1);
      for (const auto& [at, cell] : fresh.File("result.ods").sheets[0]->cells)
        if (cell.HasContent()) results[exact][at] = {cell.text, cell.number.has_value()};
    }
    EXPECT_EQ(results[0], results[1]);
  }
}

// Every cell of a result: its text, its number if it has one, its format.
using Cells = std::map<std::pair<int, int>, std::tuple<std::string, std::optional<double>, int>>;
Cells AllCells(const fake::Sheet& sheet) {
  Cells cells;
  for (const auto& [at, cell] : sheet.cells)
    if (cell.HasContent()) cells[at] = {cell.text, cell.number, cell.format};
  return cells;
}

// Kept values: numbers and dates as values with their formats, texts as texts; a date of a
// book that counts from 1904 moves so as to show the same day. Both ways of copying alike;
// without the choice, texts as before.
TEST_F(Merge, KeptValuesCarryTheirNumberFormats) {
  fake::Workbook& add = office.files[Url("add.ods")];
  add.nullYear = 1904;
  add.nullMonth = add.nullDay = 1;
  add[0].At(1, 1) = {"", 15713, -1, fake::kDate};  // 8 January 1947, counted from 1904
  add[0].At(2, 1) = {"", 12.5, -1, fake::kTwoDecimals};
  add[0].At(2, 2) = {"007", std::nullopt, -1, fake::kText};  // a text that looks like a number
  Cells results[2];
  for (const bool exact : {false, true}) {
    Fresh fresh(office.files);
    fresh.p.KeepValues = true;
    fresh.p.ExactCalls = exact;
    ASSERT_TRUE(fresh.Run("/out/result.ods")) << fresh.report.Error;
    results[exact] = AllCells(*fresh.File("result.ods").sheets[0]);
  }
  EXPECT_EQ(results[0], results[1]);
  const Cells& kept = results[0];
  EXPECT_EQ(kept.at({1, 4}), Cells::mapped_type("", 15713 + 1462, fake::kDate));
  EXPECT_EQ(kept.at({1, 5}), Cells::mapped_type("", 12.5, fake::kTwoDecimals));
  EXPECT_EQ(kept.at({4, 5}), Cells::mapped_type("007", std::nullopt, fake::kText));
  EXPECT_EQ(kept.at({1, 3}), Cells::mapped_type("ABC", std::nullopt, fake::kStandard));

  Fresh texts(office.files);
  ASSERT_TRUE(texts.Run("/out/result.ods"));
  const Cells plain = AllCells(*texts.File("result.ods").sheets[0]);
  EXPECT_EQ(plain.at({1, 4}), Cells::mapped_type("15713", std::nullopt, fake::kStandard));
  EXPECT_EQ(plain.at({1, 5}), Cells::mapped_type("12.5", std::nullopt, fake::kStandard));
}

// Chosen add columns only, in their order, side by side from the first copy column, the title
// row likewise; both ways alike. A column past the add table's used area is refused.
TEST_F(Merge, OnlyTheChosenColumnsAreCopiedInTheirOrder) {
  Cells results[2];
  for (const bool exact : {false, true}) {
    Fresh fresh(office.files);
    fresh.p.CopyColumns = {2, 0};  // Zip, then Key
    fresh.p.ExactCalls = exact;
    ASSERT_TRUE(fresh.Run("/out/result.ods")) << fresh.report.Error;
    results[exact] = AllCells(*fresh.File("result.ods").sheets[0]);
  }
  EXPECT_EQ(results[0], results[1]);
  const Cells& cells = results[0];
  EXPECT_EQ(std::get<0>(cells.at({0, 3})), "Zip");
  EXPECT_EQ(std::get<0>(cells.at({0, 4})), "Key");
  EXPECT_EQ(std::get<0>(cells.at({1, 3})), "69000");
  EXPECT_EQ(std::get<0>(cells.at({1, 4})), "ABC");
  EXPECT_FALSE(cells.contains({1, 5}));

  Fresh beyond(office.files);
  beyond.p.CopyColumns = {1, 3};
  EXPECT_FALSE(beyond.Run("/out/result.ods"));
  EXPECT_EQ(beyond.report.Error, "The add column D is beyond the add table's last used column C");
}

TEST_F(Merge, CopiesGoOutInBlocksOfConsecutiveRows) {
  fake::Workbook& main = office.files[Url("main.ods")];
  for (int r = 5; r < 40; ++r) main[1].At(0, r).text = "x";  // rows 1..39 but 3 and 4 match
  Prepared();
  office.ClearCalls();
  ASSERT_TRUE(Run("/out/result.ods"));
  EXPECT_EQ(office.Count("SetString"), 0u);
  // The title, then rows 1..39 at once: row 3 has no match, but its target cells are empty.
  EXPECT_EQ(office.Count("SetDataArray"), 2u);
  // Keys of texts alone need no export: the add keys, the main keys and the add rows are
  // read once each.
  EXPECT_EQ(office.Count("storeToURL"), 0u);
  EXPECT_EQ(office.Count("GetDataArray"), 3u);
  for (int c = 3; c < 6; ++c) {
    const fake::Cell* cell = Result().Find(c, 3);
    EXPECT_TRUE(!cell || !cell->HasContent());
  }
  EXPECT_EQ(Text(Result(), 4, 39), "Malmö");
}

// Cells already in the target area: an unmatched row keeps them, a matched row gets them
// overwritten one by one as the reference does, the rest still goes out in blocks.
TEST_F(Merge, TargetCellsInUseAreNeitherClearedNorBlockWritten) {
  fake::Workbook& main = office.files[Url("main.ods")];
  for (int r = 5; r < 12; ++r) main[1].At(0, r).text = "x";
  main[1].At(5, 3).text = "kept";  // row 3: no match
  main[1].At(4, 8).number = 7;     // row 8: matched
  Prepared().AddThereColumn = 5;   // copies into E..G
  office.ClearCalls();
  ASSERT_TRUE(Run("/out/result.ods"));
  EXPECT_EQ(Text(Result(), 5, 3), "kept");
  EXPECT_EQ(Text(Result(), 4, 8), " x");
  EXPECT_FALSE(Result().Find(4, 8)->number);
  EXPECT_EQ(Text(Result(), 5, 8), "Malmö");
  EXPECT_EQ(office.Count("SetString"), 3u);  // row 8's three cells
  // The title, rows 1..2, rows 4..7, rows 9..11.
  EXPECT_EQ(office.Count("SetDataArray"), 4u);
}

TEST_F(Merge, AMainFileThatCannotBeReloadedIsReported) {
  Prepared();
  office.files.erase(Url("main.ods"));
  EXPECT_TRUE(Run("/out/result.ods"));
  EXPECT_TRUE((p.MainBook < 0));
}

TEST_F(Merge, WithoutReloadTheMainTableIsLoadedOnce) {
  Prepared().ReloadMain = false;
  ASSERT_TRUE(Run("/out/result.ods"));
  EXPECT_EQ(office.Count("loadComponentFromURL"), 2u);  // main and add, when prepared
  EXPECT_EQ(p.MainBook, -1);
  EXPECT_EQ(Text(Result(), 4, 1), "Lyon");
}

using fake::Temporaries;

// Whatever fails, and wherever: no result, no temporary file, the old target as it was, the
// main table loaded again when the office is still there.
TEST_F(Merge, AFailedRunLeavesNoFileAndTheOldTargetAsItWas) {
  struct Case {
    const char* what;
    std::function<void(fake::FakeOffice&)> fault;
    bool officeLost;
  };
  const std::vector<Case> cases = {
      {"the store", [](fake::FakeOffice& o) { o.FailOn("StoreAsURL"); }, false},
      {"the close", [](fake::FakeOffice& o) { o.FailOn("close"); }, false},
      // After the add keys' and the main keys' reads.
      {"an add row read", [](fake::FakeOffice& o) { o.FailOn("getDataArray", 1, 2); }, false},
      {"the office lost while reading the add keys",
       [](fake::FakeOffice& o) { o.LoseConnectionOn("getDataArray"); }, true},
      {"the office lost while removing sheets",
       [](fake::FakeOffice& o) { o.LoseConnectionOn("removeByName"); }, true},
      {"the office lost while copying",
       [](fake::FakeOffice& o) { o.LoseConnectionOn("setDataArray", 1); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake::Workbook earlier = fake::Workbook::WithSheets({"Earlier"});
    earlier[0].At(0, 0).text = "an earlier result";
    office.files[office::FileNameToUrl("/out/result.ods")] = earlier;
    Fresh fresh(office.files);
    c.fault(fresh.office);
    EXPECT_FALSE(fresh.Run("/out/result.ods"));
    EXPECT_FALSE(fresh.report.Error.empty());
    EXPECT_FALSE(fresh.report.Stopped);
    EXPECT_TRUE(fresh.report.ResultPath.empty());
    const fake::Workbook& kept = fresh.File("result.ods");
    ASSERT_EQ(kept.sheets.size(), 1u);
    EXPECT_EQ(Text(*kept.sheets[0], 0, 0), "an earlier result");
    EXPECT_TRUE(Temporaries(fresh.office).empty());
    EXPECT_EQ(fresh.report.MainBook < 0, c.officeLost);
  }
}

TEST_F(Merge, ARunWritesThroughATemporaryFileThatTakesTheTargetsPlace) {
  Prepared();
  ASSERT_TRUE(Run("/out/result"));
  EXPECT_EQ(report.ResultPath, "/out/result.ods");
  EXPECT_EQ(files.created, 1);
  EXPECT_TRUE(Temporaries(office).empty());
  EXPECT_EQ(Text(Result(), 4, 1), "Lyon");
  files.refuseFolder = true;  // a folder that takes no file: nothing is stored at all
  office.ClearCalls();
  EXPECT_FALSE(Run("/out/result.ods"));
  EXPECT_EQ(report.Error, "Cannot write in the folder: injected");
  EXPECT_EQ(office.Count("StoreAsURL"), 0u);
}

TEST_F(Merge, PhasesAreToldInOrder) {
  std::vector<merge::Phase> phases;
  Prepared();
  run.AddPhaseListener([&](merge::Phase p) { phases.push_back(p); });
  ASSERT_TRUE(Run("/out/result.ods"));
  using P = merge::Phase;
  EXPECT_EQ(phases, (std::vector<P>{P::ReadingAddKeys, P::ReadingMainKeys, P::RemovingSheets,
                                    P::Copying, P::StoringResult, P::Closing, P::ReloadingMain}));
  // The reference stores the target first.
  phases.clear();
  p.ExactCalls = true;
  ASSERT_TRUE(Run("/out/result.ods"));
  EXPECT_EQ(phases, (std::vector<P>{P::ReadingAddKeys, P::ReadingMainKeys, P::StoringTarget,
                                    P::RemovingSheets, P::Copying, P::StoringResult, P::Closing,
                                    P::ReloadingMain}));
}

// The bar as the window follows a run: it moves within the copies, the stores of an xlsx
// result and the main table's load again (the office's reports coming from a thread of its
// own), never within the reference's stores between removals, and never back; a load after
// the run tells it nothing.
TEST_F(Merge, TheBarMovesWithinTheLongStepsAndNeverBack) {
  Prepared().Format = merge::ResultFormat::Xlsx;  // an ods store tells nothing
  for (const bool exact : {false, true}) {
    SCOPED_TRACE(exact);
    p.ExactCalls = exact;
    MergeRun own(store, files);
    merge::RunProgress bar(3, true, exact);
    std::map<merge::Phase, std::set<int>> values;  // by phase, as reported in it
    std::vector<int> seen;
    merge::Phase now = merge::Phase::ReadingAddKeys;
    const auto note = [&] {
      values[now].insert(bar.Value());
      seen.push_back(bar.Value());
    };
    own.AddPhaseListener([&](merge::Phase phase) {
      bar.Enter(phase);
      now = phase;
      note();
    });
    own.SetProgress([&](std::int32_t position, std::int32_t maximum) {
      bar.Rows(position, maximum);
      note();
    });
    own.SetPhaseProgress([&](double fraction) {
      bar.Within(fraction);
      note();
    });
    p.Target = "/out/result.xlsx";
    report = own.Run(p);
    p.MainBook = report.MainBook;
    ASSERT_TRUE(report.Ok) << report.Error;
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    // Entered, then the title and the matches: in one block, or one by one.
    EXPECT_EQ(values[merge::Phase::Copying].size(), exact ? 5u : 3u);
    EXPECT_EQ(values[merge::Phase::StoringTarget].size(), exact ? 4u : 0u);
    EXPECT_EQ(values[merge::Phase::RemovingSheets].size(), 1u);
    EXPECT_EQ(values[merge::Phase::StoringResult].size(), 4u);
    EXPECT_EQ(values[merge::Phase::ReloadingMain].size(), 4u);
    if (!exact) continue;
    bool told = false;
    own.SetPhaseProgress([&](double) { told = true; });
    EXPECT_GE(store.OpenBook("/data/add.ods"), 0);
    EXPECT_FALSE(told);
  }
}

// A stop asked for in any phase: the run ends at its next safe point, writes nothing and
// leaves the main table loaded; a stop of an ended run reaches no later one.
TEST_F(Merge, AStopInAnyPhaseWritesNothing) {
  fake::Workbook earlier = fake::Workbook::WithSheets({"Earlier"});
  office.files[office::FileNameToUrl("/out/result.ods")] = earlier;
  merge::Phase stopAt = merge::Phase::ReadingAddKeys;
  std::stop_source stop;
  Prepared();
  run.AddPhaseListener([&](merge::Phase p) {
    if (p == stopAt) stop.request_stop();
  });
  for (const merge::Phase phase :
       {merge::Phase::ReadingAddKeys, merge::Phase::ReadingMainKeys, merge::Phase::RemovingSheets,
        merge::Phase::Copying, merge::Phase::StoringResult, merge::Phase::Closing}) {
    SCOPED_TRACE(merge::PhaseText(phase));
    stopAt = phase;
    stop = std::stop_source();
    EXPECT_FALSE(Run("/out/result.ods", stop.get_token()));
    EXPECT_TRUE(report.Stopped);
    EXPECT_EQ(report.Error, MergeRun::kStoppedMessage);
    EXPECT_EQ(office.files.at(office::FileNameToUrl("/out/result.ods")).sheets[0]->name, "Earlier");
    EXPECT_TRUE(Temporaries(office).empty());
    EXPECT_FALSE((p.MainBook < 0));
    ASSERT_TRUE(Run("/out/again.ods"));
  }
}

// A protected sheet refuses block writes but takes single ones: the cells come out as the
// reference writes them.
// A protected sheet refuses block writes but takes single ones: the cells come out as the
// reference writes them, the chosen columns only and as values where asked. Kept values need
// their formats, which the protected sheet would ignore: its protection is lifted for the
// copies and put back; with a password the run fails naming the sheet.
TEST_F(Merge, RefusedBlockWritesAreWrittenCellByCellAsPlanned) {
  office.files[Url("add.ods")][0].At(2, 1).number = 45000;  // a date
  office.files[Url("add.ods")][0].At(2, 1).format = fake::kDate;
  for (const bool keepValues : {false, true})
    for (const std::vector<std::int32_t>& copy : {std::vector<std::int32_t>{}, {2, 0}}) {
      SCOPED_TRACE(testing::Message() << keepValues << " " << copy.size());
      std::map<std::pair<int, int>, std::string> results[2];
      for (const bool refused : {false, true}) {
        Fresh fresh(office.files);
        fresh.p.KeepValues = keepValues;
        fresh.p.CopyColumns = copy;
        fresh.p.ExactCalls = !refused;
        if (refused) fresh.office.Loaded(0)[1].protection = "";
        ASSERT_TRUE(fresh.Run("/out/result.ods")) << fresh.report.Error;
        const fake::Sheet& sheet = *fresh.File("result.ods").sheets[0];
        for (const auto& [at, cell] : sheet.cells)
          if (cell.HasContent()) results[refused][at] = cell.Shown();
        EXPECT_EQ(sheet.protection.has_value(), refused);
        if (refused) {
          EXPECT_EQ(fresh.office.Count("setString") > 0, !keepValues);
        }
      }
      EXPECT_EQ(results[0], results[1]);
      const std::pair<int, int> zip(1, copy.empty() ? 5 : 3);  // the copied date
      EXPECT_EQ(results[1][zip], keepValues ? "day 45000" : "45000");
    }
  Fresh locked(office.files);
  locked.p.KeepValues = true;
  locked.office.Loaded(0)[1].protection = "secret";
  EXPECT_FALSE(locked.Run("/out/result.ods"));
  EXPECT_EQ(locked.report.Error.rfind("The sheet \"Main\" is protected with a password", 0), 0u)
      << locked.report.Error;
  EXPECT_TRUE(fake::Temporaries(locked.office).empty());
}

// Every output against every input and the other outputs, in any spelling: a clash is named
// with the file it would write over, once the format's extension is appended.
TEST(OutputClash, AnOutputIsNeverAnInputNorAnotherOutput) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tabloom-target-" + std::to_string(::getpid()));
  fs::create_directories(dir / "sub");
  std::ofstream(dir / "main.ods") << "m";
  std::ofstream(dir / "add.csv") << "a";
  std::ofstream(dir / "june.tabloom") << "{}";
  fs::create_symlink(dir / "main.ods", dir / "link.ods");
  fs::create_symlink(dir / "add.csv", dir / "link-add.csv");
  fs::create_hard_link(dir / "add.csv", dir / "hard.csv");
  merge::Parameters run;
  run.MainFile = (dir / "main.ods").string();
  run.AddFile = (dir / "add.csv").string();
  run.SetupFile = (dir / "june.tabloom").string();
  const fs::path cwd = fs::current_path();
  fs::current_path(dir / "sub");
  using merge::FileRole;
  using merge::ResultFormat;
  struct Case {
    std::string target;
    ResultFormat format;
    std::string unmatched;
    std::optional<FileRole> clash;  // the output refused
    FileRole with = FileRole::MainTable;
  };
  const std::string d = dir.string();
  const Case cases[] = {
      {run.MainFile, ResultFormat::Ods, "", FileRole::Result, FileRole::MainTable},
      {"../main.ods", ResultFormat::Ods, "", FileRole::Result},
      {d + "/./sub/../main", ResultFormat::Ods, "", FileRole::Result},
      {d + "/link", ResultFormat::Ods, "", FileRole::Result},  // a link once ".ods" is added
      {d + "/add", ResultFormat::Csv, "", FileRole::Result, FileRole::AddTable},
      {d + "/add", ResultFormat::Ods, "", std::nullopt},
      {"../link-add", ResultFormat::Csv, "", FileRole::Result, FileRole::AddTable},
      {d + "/hard", ResultFormat::Csv, "", FileRole::Result, FileRole::AddTable},
      {d + "/june.tabloom", ResultFormat::Xlsx, "", std::nullopt},  // june.tabloom.xlsx
      {d + "/june.tabloom", ResultFormat::Ods, "../june.tabloom", FileRole::UnmatchedList,
       FileRole::Setup},
      {d + "/r", ResultFormat::Ods, "../main.ods", FileRole::UnmatchedList},
      {d + "/r", ResultFormat::Csv, "../r.csv", FileRole::UnmatchedList, FileRole::Result},
      {d + "/r", ResultFormat::Ods, d + "/r.csv", std::nullopt},
      {"main.ods", ResultFormat::Ods, "unmatched.csv", std::nullopt},  // in sub/
  };
  for (const Case& c : cases) {
    run.Target = c.target;
    run.Format = c.format;
    run.UnmatchedFile = c.unmatched;
    const std::optional<merge::Clash> clash = run.OutputClash();
    ASSERT_EQ(clash.has_value(), c.clash.has_value()) << c.target << " " << c.unmatched;
    if (!clash) continue;
    EXPECT_EQ(clash->output.role, *c.clash) << c.target;
    EXPECT_EQ(clash->with, c.with) << c.target;
  }
  run.Target = "../main";
  run.UnmatchedFile.clear();
  EXPECT_EQ(merge::ClashSentence(*run.OutputClash()),
            "Illegal target file name: ../main.ods (it is the main table)");
  fs::current_path(cwd);
  fs::remove_all(dir);
}

}  // namespace

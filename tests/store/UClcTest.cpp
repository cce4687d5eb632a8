// The workbook store against the in-memory office.
#include "store/UClc.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <tuple>

#include "support/FakeOffice.hpp"

namespace {

using automation::Variant;
using automation::VariantArray;
using store::clc;

std::string Url(const std::string& name) {
  return office::FileNameToUrl("/data/" + name);
}

class Store : public testing::Test {
 protected:
  void SetUp() override {
    // main.ods: "Main" 100 x 7 with texts, numbers and a coloured cell; "Small" 2 x 2;
    // "Empty". add.ods: one sheet of 3 rows.
    fake::Workbook main = fake::Workbook::WithSheets({"Main", "Small", "Empty"});
    main.activeSheet = 1;
    for (int r = 0; r < 100; ++r)
      for (int c = 0; c < 7; ++c)
        main[0].At(c, r).text = store::clc::ColumnName(c) + std::to_string(r + 1);
    main[0].At(1, 4).backColor = 0x0000FF;
    main[1].At(1, 1).text = "b2";
    office.files[Url("main.ods")] = main;

    fake::Workbook add = fake::Workbook::WithSheets({"Add"});
    add[0].At(0, 0).number = 12;
    add[0].At(1, 0).text = "abc";
    add[0].At(3, 0).number = 3.5;
    add[0].At(6, 0).text = "last";
    add[0].At(0, 2).text = "row3";
    office.files[Url("add.ods")] = add;
  }

  // Book 0 is main.ods, book 1 add.ods.
  void OpenMainAndAdd() {
    ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
    ASSERT_EQ(store.OpenBook("/data/add.ods"), 1);
  }

  fake::FakeOffice office;
  clc store{office};
};

TEST_F(Store, CreationConnectsOrReportsNotConnected) {
  clc connected(office);
  EXPECT_TRUE(connected.Connected);
  EXPECT_EQ(connected.CurrentBook, -1);
  EXPECT_TRUE(connected.Books.empty());

  fake::FakeOffice none;
  none.available = false;
  clc absent(none);
  EXPECT_FALSE(absent.Connected);
}

TEST_F(Store, OpenBookReadsTheSheetListAndKeepsTheActiveSheet) {
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
  const store::clc_file& book = store.Books.at(0);
  EXPECT_EQ(book.Path, "/data/main.ods");
  EXPECT_EQ(book.ShortName, "main.ods");
  ASSERT_EQ(book.SheetList.size(), 3u);
  EXPECT_EQ(book.SheetList[0].Name, "Main");
  EXPECT_EQ(book.SheetList[0].RowCount, 100);
  EXPECT_EQ(book.SheetList[0].ColCount, 7);
  EXPECT_EQ(book.SheetList[1].RowCount, 2);
  EXPECT_EQ(book.SheetList[1].ColCount, 2);
  EXPECT_EQ(book.SheetList[2].RowCount, 1);  // an empty sheet is one cell
  EXPECT_EQ(book.SheetList[2].ColCount, 1);
  EXPECT_EQ(book.SheetList[0].Window.FirstRow, -1);
  EXPECT_EQ(office.Loaded(0).activeSheet, 1);
  EXPECT_EQ(store.CurrentBook, 0);
  EXPECT_EQ(office.Count("GetString"), 0u);  // opening reads no cell
}

TEST_F(Store, AFailedOpenChangesNothingAndTakesNoIndex) {
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
  office.corruptFiles.push_back(Url("bad.ods"));
  EXPECT_EQ(store.OpenBook("/data/missing.ods"), -1);
  EXPECT_EQ(store.OpenBook("/data/bad.ods"), -1);
  EXPECT_EQ(store.Books.size(), 1u);
  EXPECT_EQ(store.OpenBook("/data/add.ods"), 1);
}

TEST_F(Store, IndexesAreNeverReusedAfterCloseAndReopen) {
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 1);  // the same file twice: two books
  store.CloseBook(0);
  EXPECT_EQ(store.CurrentBook, 0);
  EXPECT_EQ(store.OpenBook("/data/main.ods"), 2);
  ASSERT_EQ(store.Books.size(), 3u);
  EXPECT_EQ(store.Books[0].SheetList.size(), 3u);  // the closed book keeps its old data
}

TEST_F(Store, ASheetListIsWholeOrEmpty) {
  office.FailOn("GotoEndOfUsedArea", 1, 1);        // the first sheet measures, the second not
  EXPECT_EQ(store.OpenBook("/data/main.ods"), 0);  // the book opens all the same
  EXPECT_TRUE(store.Books[0].SheetList.empty());

  EXPECT_EQ(store.ReadSheets(0).size(), 3u);
  office.FailOn("SetActiveSheet", 1, 3);  // re-activating the remembered sheet fails
  EXPECT_TRUE(store.ReadSheets(0).empty());
}

TEST_F(Store, SaveBookAsNamesTheFileAndKeepsThePathAsGiven) {
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
  store.SaveBookAs(0, "/out/result.xls");
  EXPECT_TRUE(office.files.count(office::FileNameToUrl("/out/result.xls.ods")));
  EXPECT_EQ(store.Books[0].Path, "/out/result.xls");
  EXPECT_EQ(store.Books[0].ShortName, "result.xls");
  office.files.erase(office::FileNameToUrl("/out/result.xls.ods"));
  store.SaveBook(0);
  EXPECT_TRUE(office.files.count(office::FileNameToUrl("/out/result.xls.ods")));

  store.SaveBookAs(0, "/out/result.ODS");
  EXPECT_TRUE(office.files.count(office::FileNameToUrl("/out/result.ODS")));

  office.FailOn("StoreAsURL");
  EXPECT_THROW(store.SaveBookAs(0, "/out/other.ods"), automation::Error);
  EXPECT_EQ(store.Books[0].Path, "/out/result.ODS");
}

TEST_F(Store, OperationsSelectTheirBookFirst) {
  ASSERT_NO_FATAL_FAILURE(OpenMainAndAdd());
  EXPECT_EQ(store.CellText(0, 1, 2, 2), "b2");
  EXPECT_EQ(store.CurrentBook, 0);
  EXPECT_EQ(store.CellText(1, 0, 2, 1), "abc");
  EXPECT_EQ(store.CurrentBook, 1);
}

TEST_F(Store, CellTextAsksByAddressAndNeverRaises) {
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
  office.ClearCalls();
  EXPECT_EQ(store.CellText(0, 0, 3, 12), "C12");
  ASSERT_EQ(office.Count("GetCellRangeByName"), 1u);
  EXPECT_EQ(office.calls[office.calls.size() - 2].args, VariantArray{"C12"});

  office.FailOn("GetString");
  EXPECT_EQ(store.CellText(0, 0, 3, 12), "");
  office.FailOn("GetCellRangeByName");
  EXPECT_EQ(store.CellText(0, 0, 3, 12), "");
}

TEST_F(Store, OutOfBoundsReadsAskTheOfficeNothing) {
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
  office.ClearCalls();
  const std::vector<std::array<std::int32_t, 4>> misses = {
      {0, 0, 0, 1}, {0, 0, 1, 0}, {0, 0, 8, 1},  {0, 0, 1, 101}, {-1, 0, 1, 1},
      {1, 0, 1, 1}, {0, 3, 1, 1}, {0, -1, 1, 1}, {0, 1, 3, 1},   {0, 1, 1, 3}};
  for (const auto& [book, sheet, column, row] : misses) {
    SCOPED_TRACE(testing::Message() << book << "," << sheet << "," << column << "," << row);
    EXPECT_EQ(store.CellText(book, sheet, column, row), "");
    const store::cell_value read = store.ReadCell(book, sheet, column, row);
    EXPECT_EQ(read.Text, "");
    EXPECT_EQ(read.Background, store::kWhite);
    EXPECT_EQ(store.CachedCell(book, sheet, column, row).Background, store::kWhite);
  }
  EXPECT_TRUE(office.calls.empty());
}

TEST_F(Store, ReadCellGivesTextAndWindowsColours) {
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
  const store::cell_value blue = store.ReadCell(0, 0, 2, 5);
  EXPECT_EQ(blue.Text, "B5");
  EXPECT_EQ(blue.Background, 0x00FF0000);
  EXPECT_EQ(blue.Font.FontColor, store::kBlack);
  EXPECT_FALSE(blue.Font.FontFlag);
  EXPECT_EQ(store.ReadCell(0, 0, 1, 1).Background, 0x00FFFFFF);  // no fill

  office.FailOn("GetString");
  EXPECT_THROW(store.ReadCell(0, 0, 1, 1), automation::Error);
}

TEST_F(Store, TheWindowHoldsTwentyOneRowsAroundTheRequest) {
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
  const store::sb_sheet& window = store.Books[0].SheetList[0].Window;

  EXPECT_EQ(store.CachedCell(0, 0, 3, 5).Text, "C5");
  EXPECT_EQ(window.FirstRow, 1);
  EXPECT_EQ(window.LastRow, 21);
  ASSERT_EQ(window.Rows.size(), 21u);
  EXPECT_TRUE(window.Rows[4].Loaded);
  EXPECT_FALSE(window.Rows[5].Loaded);
  EXPECT_EQ(window.Rows[5].Cells.size(), 7u);

  EXPECT_EQ(store.CachedCell(0, 0, 1, 95).Text, "A95");
  EXPECT_EQ(window.FirstRow, 85);
  EXPECT_EQ(window.LastRow, 100);
  EXPECT_EQ(window.Rows.size(), 16u);

  EXPECT_EQ(store.CachedCell(0, 0, 1, 50).Text, "A50");
  EXPECT_EQ(window.FirstRow, 40);
  EXPECT_EQ(window.LastRow, 60);

  // Row 3 of the 2-row sheet: the default cell, and that sheet's window stays empty.
  const store::sb_sheet& small = store.Books[0].SheetList[1].Window;
  EXPECT_EQ(store.CachedCell(0, 1, 2, 2).Text, "b2");
  const auto before = small.Rows.size();
  EXPECT_EQ(store.CachedCell(0, 1, 1, 3).Text, "");
  EXPECT_EQ(small.Rows.size(), before);
  EXPECT_EQ(small.FirstRow, 1);
  EXPECT_EQ(small.LastRow, 2);
}

// A sheet's texts come from one export; a row's backgrounds from one bulk call; where the
// export is refused, each row's texts in bulk as well.
TEST_F(Store, ALoadedRowIsServedWithoutTheOffice) {
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
  office.ClearCalls();
  EXPECT_EQ(store.CachedCell(0, 0, 1, 5).Background, store::kWhite);
  EXPECT_EQ(store.CachedCell(0, 0, 2, 5).Background, 0x00FF0000);  // B5 is blue
  EXPECT_EQ(store.CachedCell(0, 0, 3, 5).Text, "C5");
  store.CachedCell(0, 0, 1, 30);
  EXPECT_EQ(office.Count("storeToURL"), 1u);
  EXPECT_EQ(office.Count("getCellFormatRanges"), 2u);
  EXPECT_EQ(office.Count("getDataArray") + office.Count("getString"), 0u);

  ASSERT_EQ(store.OpenBook("/data/main.ods"), 1);
  office.FailOn("storeToURL");
  office.ClearCalls();
  EXPECT_EQ(store.CachedCell(1, 0, 3, 5).Text, "C5");
  store.CachedCell(1, 0, 1, 30);
  EXPECT_EQ(office.Count("getDataArray"), 2u);  // each row whole, once, in bulk
  EXPECT_EQ(office.Count("getString"), 0u);
  office.ClearCalls();
  for (int c = 1; c <= 7; ++c)
    EXPECT_EQ(store.CachedCell(0, 0, c, 30).Text, clc::ColumnName(c - 1) + "30");
  EXPECT_TRUE(office.calls.empty());

  // Cached values are copies, and are not refreshed by later writes.
  store::cell_value copy = store.CachedCell(0, 0, 2, 30);
  copy.Text = "changed";
  office.Loaded(0)[0].At(1, 29).text = "written later";
  EXPECT_EQ(store.CachedCell(0, 0, 2, 30).Text, "B30");
}

TEST_F(Store, ARowThatFailsHalfWayIsNotMarkedLoaded) {
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
  office.FailOn("storeToURL");           // no export
  office.FailOn("getDataArray");         // not in bulk: cell by cell
  office.FailOn("CellBackColor", 1, 3);  // and the fourth cell fails
  EXPECT_THROW(store.CachedCell(0, 0, 1, 7), automation::Error);
  const store::sb_record& row = store.Books[0].SheetList[0].Window.Rows[6];
  EXPECT_FALSE(row.Loaded);
  EXPECT_EQ(row.Cells[0].Text, "");
  EXPECT_EQ(store.CachedCell(0, 0, 1, 7).Text, "A7");
}

// Key texts in bulk are each cell's shown text: all from one export of the sheet as shown;
// where the office refuses that, texts and empty cells from one block read, numbers from the
// document's formatter under their format, and only a text format with literals asks the cell.
TEST_F(Store, ColumnTextsInBulkAreWhatEachCellShows) {
  fake::Workbook book = fake::Workbook::WithSheets({"Keys"});
  fake::Sheet& keys = book[0];
  keys.At(0, 0).text = "plain";
  keys.At(0, 1).number = 17;
  keys.At(0, 2) = {"", 17.5, -1, fake::kTwoDecimals};
  keys.At(0, 3) = {"k4", std::nullopt, -1, fake::kUnits};
  keys.At(0, 4) = {"k5", std::nullopt, -1, fake::kText};
  keys.At(0, 6).text = " blank around ";  // row 6 stays empty
  keys.At(1, 7).text = "beside";
  keys.At(1, 8).text = "a \"quoted\",\nsecond line";
  office.files[Url("keys.ods")] = book;
  ASSERT_EQ(store.OpenBook("/data/keys.ods"), 0);
  const std::vector<std::string> shown = {"plain", "17", "17.50",          "k4 kg",
                                          "k5",    "",   " blank around ", ""};
  office.ClearCalls();
  EXPECT_EQ(store.ColumnsTexts(0, 0, {1, 2, 1}, 1, 10),
            (std::vector<std::vector<std::string>>{
                {"plain", "17", "17.50", "k4 kg", "k5", "", " blank around ", "", "", ""},
                {"", "", "", "", "", "", "", "beside", "a \"quoted\",\nsecond line", ""},
                {"plain", "17", "17.50", "k4 kg", "k5", "", " blank around ", "", "", ""}}));
  EXPECT_EQ(office.Count("storeToURL"), 1u);
  EXPECT_EQ(office.Count("getString") + office.Count("getDataArray"), 0u);

  office.FailOn("storeToURL");
  office.ClearCalls();
  EXPECT_EQ(store.ColumnTexts(0, 0, 1, 1, 8), shown);
  EXPECT_EQ(office.Count("getDataArray"), 1u);
  EXPECT_EQ(office.Count("convertNumberToString"), 2u);
  EXPECT_EQ(office.Count("getString"), 1u);  // "k4 kg" only

  // The cell-by-cell read is taken only when the office refuses a bulk call, and reads the same.
  office.FailOn("storeToURL");
  office.FailOn("queryEmptyCells");
  office.ClearCalls();
  EXPECT_EQ(store.ColumnTexts(0, 0, 1, 1, 8), shown);
  EXPECT_EQ(office.Count("getString"), 8u);

  // An export read whole or not at all: one that is empty or cut short is a refusal, and the
  // texts come from the cells; a byte order mark is no part of the first text.
  for (const auto& [what, spoil] :
       std::vector<std::pair<const char*, std::function<void(const std::string&)>>>{
           {"emptied", [](const std::string& f) { std::filesystem::resize_file(f, 0); }},
           {"missing", [](const std::string& f) { std::filesystem::remove(f); }},
           {"marked", [](const std::string& f) {
              std::ifstream in(f, std::ios::binary);
              const std::string text{std::istreambuf_iterator<char>(in), {}};
              std::ofstream(f, std::ios::binary) << "\xEF\xBB\xBF" << text;
            }}}) {
    SCOPED_TRACE(what);
    office.afterExport = spoil;
    office.ClearCalls();
    EXPECT_EQ(store.ColumnTexts(0, 0, 1, 1, 8), shown);
    EXPECT_EQ(office.Count("getDataArray"), std::string(what) == "marked" ? 0u : 1u);
  }
  office.afterExport = nullptr;

  // A member the office does not have is a mistake of ours, never a reason to read slowly.
  office.Forget("storeToURL");
  EXPECT_THROW(store.ColumnTexts(0, 0, 1, 1, 8), automation::UnknownMemberError);
}

// The office's text as the reader splits it, whole or fed a byte at a time.
TEST(DelimitedText, FieldsAsTheOfficeWritesThem) {
  using Fields = std::vector<std::tuple<int, int, std::string>>;
  const std::vector<std::pair<std::string, Fields>> cases = {
      {"a,b\nc,d\n", {{0, 0, "a"}, {0, 1, "b"}, {1, 0, "c"}, {1, 1, "d"}}},
      {"\xEF\xBB\xBFid,x\r\n1,2\r\n", {{0, 0, "id"}, {0, 1, "x"}, {1, 0, "1"}, {1, 1, "2"}}},
      {"\xEF\xBBx", {{0, 0, "\xEF\xBBx"}}},  // not a whole mark: text
      {"\"say \"\"hi\"\"\",z", {{0, 0, "say \"hi\""}, {0, 1, "z"}}},
      {"\"two\nlines\",x\ny", {{0, 0, "two\nlines"}, {0, 1, "x"}, {1, 0, "y"}}},
      {"a,\n,b,", {{0, 0, "a"}, {0, 1, ""}, {1, 0, ""}, {1, 1, "b"}, {1, 2, ""}}},
      {"a\n\nb", {{0, 0, "a"}, {1, 0, ""}, {2, 0, "b"}}},
      {"a\rb", {{0, 0, "a"}, {1, 0, "b"}}},
      {"\"open,to the end\nof it", {{0, 0, "open,to the end\nof it"}}},
      {"x\"y\"z,w", {{0, 0, "x\"y\"z"}, {0, 1, "w"}}},  // quotes inside a plain field
      {"\"q\"rest,n", {{0, 0, "qrest"}, {0, 1, "n"}}},
      {"", {}},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    for (const std::size_t piece : {text.size() + 1, std::size_t{1}, std::size_t{2}}) {
      Fields got;
      store::DelimitedReader reader([&](std::int32_t r, std::int32_t c, std::string&& t) {
        got.emplace_back(r, c, std::move(t));
      });
      for (std::size_t at = 0; at < text.size(); at += piece)
        reader.Feed(std::string_view(text).substr(at, piece));
      reader.Finish();
      EXPECT_EQ(got, expected) << "pieces of " << piece;
    }
  }
}

// Records as the office's text import makes rows of them.
TEST(TextImport, RecordsAreCountedAsTheImportMakesRows) {
  const std::vector<std::tuple<std::string, char, std::int64_t>> cases = {
      {"", ',', 0},
      {"a", ',', 1},
      {"a\n", ',', 1},
      {"a\nb", ',', 2},
      {"a\r\nb\r\n", ',', 2},
      {"a\rb\r", ',', 2},
      {"a\n\n\nb\n", ',', 4},                   // empty lines are rows
      {"id,text\n1,\"two\nlines\"\n", ',', 2},  // a quoted line break is inside one
      {"1;\"a;\"\"b\n\"\"\"\n2", ';', 2},       // doubled quotes keep the field quoted
      {"1,x\"y\nz\n", ',', 2},                  // a quote inside a plain field is text
      {"1,\"open\nto the end", ',', 1},
  };
  for (const auto& [text, separator, records] : cases) {
    std::istringstream in(text);
    EXPECT_EQ(store::CountRecords(in, separator), records) << testing::PrintToString(text);
  }
}

// A text file with more records than a sheet has rows is refused before it is loaded: the
// office would load its first rows only, without a word.
TEST_F(Store, ATextFileLongerThanASheetIsNotOpened) {
  namespace fs = std::filesystem;
  office.rowLimit = 4;
  const fs::path dir = fs::temp_directory_path() / ("tabloom-rows-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const auto csv = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    office.files[office::FileNameToUrl((dir / name).string())] = fake::Workbook::WithSheets();
    return (dir / name).string();
  };
  const std::string fits = csv("fits.csv", "id\n\"a\nb\"\n2\n3\n");  // 4 records, 5 lines
  const std::string longer = csv("longer.csv", "id\n1\n2\n3\n4\n");
  EXPECT_EQ(store.OpenBook(fits), 0);
  EXPECT_FALSE(store.LastOpenTooLong);
  EXPECT_EQ(store.OpenBook(longer), -1);
  EXPECT_TRUE(store.LastOpenTooLong);
  EXPECT_EQ(store.LastOpenError,
            longer + " has 5 rows; a sheet holds at most 4: it cannot be opened whole");
  EXPECT_EQ(office.Count("loadComponentFromURL"), 2u);  // an empty document asked, then fits
  EXPECT_EQ(store.OpenBook("/data/main.ods"), 1);       // any other file as before
  EXPECT_FALSE(store.LastOpenTooLong);
  fs::remove_all(dir);
}

// The separator of a text file: the one that splits the first lines alike, quotes respected.
TEST(TextImport, TheSeparatorIsTheOneThatSplitsTheFirstLinesAlike) {
  EXPECT_EQ(store::DetectSeparator("id;price;city\n1;2,50;K\xc3\xb6"
                                   "ln\n2;3,75;Lyon\n",
                                   ','),
            ';');
  EXPECT_EQ(store::DetectSeparator("\xef\xbb\xbf"
                                   "a,b\r\n\"x;y\",1\r\n\"p;q\",2",
                                   '\t'),
            ',');
  EXPECT_EQ(store::DetectSeparator("a\tb\tc\n1\t2\t3\n", ','), '\t');
  EXPECT_EQ(store::DetectSeparator("a,b\n\"two\nlines\",c\n", ';'), ',');  // a quoted break
  EXPECT_EQ(store::DetectSeparator("one column\nonly\n", ';'), ';');       // nothing found
  EXPECT_EQ(store::DetectSeparator("", '\t'), '\t');
  EXPECT_EQ(store::DetectSeparator("a,b;c\nd,e;f\n", '\t'), '\t');  // a tie
  EXPECT_EQ(store::TextImportFilter("/data/book.ods").name, "");
  EXPECT_EQ(store::TextImportFilter("/nonexistent/list.TSV").options, "9,34,76,1");
}

TEST(ColumnName, LettersAsSpreadsheetsWriteThemAndBack) {
  const std::vector<std::pair<std::int32_t, std::string>> names = {
      {0, "A"},    {25, "Z"},   {26, "AA"},   {27, "AB"},   {51, "AZ"},    {52, "BA"},
      {255, "IV"}, {701, "ZZ"}, {702, "AAA"}, {703, "AAB"}, {16383, "XFD"}};
  for (const auto& [column, name] : names) {
    EXPECT_EQ(clc::ColumnName(column), name) << column;
    EXPECT_EQ(clc::ColumnIndex(name), column) << name;
  }
  EXPECT_EQ(clc::ColumnIndex("zz"), 701);  // any case
  for (const char* no : {"", "A1", "\xC3\x84", "ABCDEFGH"})
    EXPECT_EQ(clc::ColumnIndex(no), -1) << no;
}

TEST_F(Store, CellTextWorksPastColumnZZ) {
  fake::Workbook wide = fake::Workbook::WithSheets({"Wide"});
  wide[0].At(702, 0).text = "far";
  office.files[Url("wide.ods")] = wide;
  ASSERT_EQ(store.OpenBook("/data/wide.ods"), 0);
  EXPECT_EQ(store.CellText(0, 0, 703, 1), "far");
}

TEST(ValueText, NumbersInGeneralDecimalForm) {
  const std::vector<std::pair<Variant, std::string>> cases = {
      {Variant(12.0), "12"},
      {Variant(3.5), "3.5"},
      {Variant(-0.25), "-0.25"},
      {Variant(0.0), "0"},
      {Variant(45000.0), "45000"},  // a date is its day number
      {Variant(1e20), "1E20"},
      {Variant(1.5e-7), "1.5E-7"},
      {Variant(-2.5e-6), "-2.5E-6"},
      {Variant(0.00001), "0.00001"},
      {Variant(0.1 + 0.2), "0.3"},  // 15 significant digits
      {Variant(1.0 / 3), "0.333333333333333"},
      {Variant(123456789012345.0), "123456789012345"},
      {Variant(1234567890123456.0), "1.23456789012346E15"},
      {Variant(999999999999999.9), "1E15"},
      {Variant(std::int32_t{7}), "7"},
      {Variant("abc"), "abc"},
      {Variant(""), ""},
      {Variant(), ""},
  };
  for (const auto& [value, text] : cases)
    EXPECT_EQ(clc::ValueText(value), text) << value.Describe();
}

TEST(ValueText, UsesTheLocaleDecimalSeparator) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE"))
    GTEST_SKIP() << "no German locale here";
  EXPECT_EQ(clc::ValueText(Variant(3.5)), "3,5");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST_F(Store, CopyRowWritesTextCellsFromTheTargetColumn) {
  ASSERT_NO_FATAL_FAILURE(OpenMainAndAdd());
  office.ClearCalls();
  store.CopyRow(1, 0, 0, 0, 1, 3, 10);
  EXPECT_EQ(office.Count("GetDataArray"), 1u);
  EXPECT_EQ(office.Count("SetString"), 7u);
  const fake::Sheet& target = office.Loaded(0)[0];
  EXPECT_EQ(target.Find(9, 2)->text, "12");  // J3
  EXPECT_FALSE(target.Find(9, 2)->number.has_value());
  EXPECT_EQ(target.Find(10, 2)->text, "abc");
  EXPECT_EQ(target.Find(12, 2)->text, "3.5");
  EXPECT_EQ(target.Find(15, 2)->text, "last");  // P3
  EXPECT_EQ(target.Find(16, 2), nullptr);       // Q3 untouched
  EXPECT_EQ(target.Find(6, 2)->text, "G3");     // left of the copy untouched
  EXPECT_EQ(store.CurrentBook, 0);
}

TEST_F(Store, CopyRowEmptiesTargetsWhereTheSourceIsEmpty) {
  ASSERT_NO_FATAL_FAILURE(OpenMainAndAdd());
  store.CopyRow(1, 0, 0, 0, 3, 4, 1);  // add row 3: "row3" then six empty cells
  const fake::Sheet& target = office.Loaded(0)[0];
  EXPECT_EQ(target.Find(0, 3)->text, "row3");
  EXPECT_FALSE(target.Find(1, 3)->HasContent());  // was "B4"
}

// The office says how many columns a sheet has: 256 here, as older spreadsheets had.
TEST_F(Store, CopyRowStopsAtTheSheetsLastColumn) {
  office.columnLimit = 256;
  ASSERT_NO_FATAL_FAILURE(OpenMainAndAdd());
  EXPECT_EQ(store.Books[0].SheetList[0].ColumnLimit, 256);
  office.ClearCalls();
  store.CopyRow(1, 0, 0, 0, 1, 1, 251);
  EXPECT_EQ(office.Count("SetString"), 6u);
  for (const auto& call : office.calls) {
    if (call.member == "GetCellRangeByPosition") {
      EXPECT_EQ(Variant(call.args), Variant(VariantArray{0, 0, 5, 0}));  // 6 wide
    }
  }
  const fake::Sheet& target = office.Loaded(0)[0];
  EXPECT_EQ(target.Find(250, 0)->text, "12");  // IQ1
  EXPECT_EQ(target.Find(253, 0)->text, "3.5");
  EXPECT_NE(target.Find(255, 0), nullptr);  // IV1, the last column
  EXPECT_EQ(target.Find(256, 0), nullptr);
  office.ClearCalls();
  store.CopyRow(1, 0, 0, 0, 1, 1, 257);
  store.CopyRow(1, 0, 0, 0, 1, 1, 300);
  EXPECT_TRUE(office.calls.empty());
}

TEST_F(Store, DeleteSheetRereadsTheListAndStores) {
  ASSERT_EQ(store.OpenBook("/data/main.ods"), 0);
  store.SaveBookAs(0, "/out/result.ods");
  store.CachedCell(0, 1, 1, 1);
  ASSERT_TRUE(store.DeleteSheet(0, 0));
  ASSERT_EQ(store.Books[0].SheetList.size(), 2u);
  EXPECT_EQ(store.Books[0].SheetList[0].Name, "Small");
  EXPECT_EQ(store.Books[0].SheetList[0].Window.FirstRow, -1);  // windows emptied
  EXPECT_EQ(office.files[office::FileNameToUrl("/out/result.ods")].sheets.size(), 2u);

  office.FailOn("RemoveByName");
  EXPECT_FALSE(store.DeleteSheet(0, 0));
  office.FailOn("StoreAsURL");
  EXPECT_FALSE(store.DeleteSheet(0, 0));  // removed, but not stored: still false
  EXPECT_EQ(store.Books[0].SheetList.size(), 1u);
}

TEST_F(Store, CloseBookClosesOnlyTheNamedBook) {
  ASSERT_NO_FATAL_FAILURE(OpenMainAndAdd());
  store.CloseBook(5);  // no such book: nothing is closed
  EXPECT_EQ(office.OpenFrames(), 2);
  store.CloseBook(0);
  EXPECT_EQ(office.OpenFrames(), 1);
  EXPECT_TRUE(store.Connected);
  store.CloseBook(1);
  // The last window: the office stays, for the next table the program opens.
  EXPECT_FALSE(office.terminated);
  EXPECT_TRUE(store.Office->Answers());
  EXPECT_GE(store.OpenBook("/data/add.ods"), 0);
}

}  // namespace

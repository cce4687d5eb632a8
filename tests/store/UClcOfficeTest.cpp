// The workbook store on real files through the real LibreOffice.
#include "store/UClc.hpp"

#include "support/FaultFactory.hpp"
#include "support/OfficeTesting.hpp"
#include "support/RecordingFactory.hpp"

namespace {

using namespace office_testing;
using automation::Variant;

constexpr std::int32_t kTextCell = 2;  // com.sun.star.table.CellContentType TEXT

class RealStore : public testing::Test {
 protected:
  void SetUp() override {
    store = std::make_unique<store::clc>(SharedOffice());
    ASSERT_TRUE(store->Connected);
  }
  void TearDown() override {
    for (const Variant& doc : store->Office->Documents) {
      try {
        doc.Call("close", true);
      } catch (const automation::Error&) {
      }
    }
    store.reset();
  }

  std::string ThreeSheets(const std::string& name) {
    const std::string file = dir / name;
    MakeWorkbook(file, {{"First", {{0, 0, "a1", {}, {}}, {2, 4, "c5", {}, {}}}},
                        {"Second",
                         {{0, 0, "Key", {}, {}},
                          {1, 0, "", 12.0, {}},
                          {2, 0, "abc", {}, {}},
                          {3, 0, "", 3.5, {}},
                          {0, 1, "K2", {}, {}}}},
                        {"Third", {}}});
    return file;
  }

  std::unique_ptr<store::clc> store;
  TempDir dir;
};

TEST_F(RealStore, ReadsTheSheetListAndKeepsTheActiveSheet) {
  const std::int32_t book = store->OpenBook(ThreeSheets("three.ods"));
  ASSERT_EQ(book, 0);
  // A hidden load starts on the first sheet; make the second active as a user would have.
  store->Office->Sheets().ActivateSheet(1);
  const store::sheets list = store->ReadSheets(book);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].Name, "First");
  EXPECT_EQ(list[0].RowCount, 5);
  EXPECT_EQ(list[0].ColCount, 3);
  EXPECT_EQ(list[1].Name, "Second");
  EXPECT_EQ(list[2].RowCount, 1);
  EXPECT_EQ(list[2].ColCount, 1);
  EXPECT_EQ(store->Office->Sheets().ActiveSheetIndex(), 1);
}

TEST_F(RealStore, CellsThroughTheWindowAndByAddress) {
  ASSERT_EQ(store->OpenBook(ThreeSheets("three.ods")), 0);
  EXPECT_EQ(store->CellText(0, 1, 2, 1), "12");
  EXPECT_EQ(store->CellText(0, 0, 3, 5), "c5");
  EXPECT_EQ(store->CachedCell(0, 1, 3, 1).Text, "abc");
  EXPECT_EQ(store->CachedCell(0, 1, 1, 2).Background, store::kWhite);
  EXPECT_EQ(store->CellText(0, 1, 5, 1), "");  // beyond the used area
}

TEST_F(RealStore, DeleteSheetStoresTheFileWithTheRest) {
  ASSERT_EQ(store->OpenBook(ThreeSheets("three.ods")), 0);
  const std::string result = dir / "result.ods";
  store->SaveBookAs(0, result);
  ASSERT_TRUE(store->DeleteSheet(0, 0));
  ASSERT_EQ(store->Books[0].SheetList.size(), 2u);
  EXPECT_EQ(store->Books[0].SheetList[0].Name, "Second");

  const std::int32_t again = store->OpenBook(result);
  ASSERT_EQ(again, 1);
  ASSERT_EQ(store->Books[1].SheetList.size(), 2u);
  EXPECT_EQ(store->Books[1].SheetList[1].Name, "Third");
}

TEST_F(RealStore, ACopiedRowLandsAsTextInTheStoredFile) {
  const std::int32_t main = store->OpenBook(ThreeSheets("main.ods"));
  const std::int32_t add = store->OpenBook(ThreeSheets("add.ods"));
  ASSERT_EQ(main, 0);
  ASSERT_EQ(add, 1);
  const std::string result = dir / "merged";
  store->SaveBookAs(main, result);
  EXPECT_EQ(store->Books[0].Path, result);
  store->CopyRow(add, main, 1, 0, 1, 2, 5);  // add "Second" row 1 -> main "First" row 2 at E
  store->SaveBook(main);

  ASSERT_TRUE(fs::exists(result + ".ods"));
  const std::int32_t merged = store->OpenBook(result + ".ods");
  ASSERT_EQ(merged, 2);
  const std::vector<std::string> expected = {"Key", "12", "abc", "3.5"};
  office::TOOCalcSheet& sheet = store->Office->Sheets().SheetByIndex(0);
  for (std::int32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(store->CellText(merged, 0, 5 + i, 2), expected[static_cast<std::size_t>(i)]);
    EXPECT_EQ(sheet.CellAt(4 + i, 1).CellObject.Call("getType").AsInt(), kTextCell) << i;
  }
  EXPECT_EQ(store->Books[merged].SheetList[0].ColCount, 8);
}

// The formula snapshot costs what the formulas cost: one in A1 and one in ZZ100000 are read as
// the two cells they are, not as the 70 million around them; after the other sheet goes, the
// one that referred to it keeps its result and the other stays a formula.
TEST_F(RealStore, FormulasFarApartAreReadAsTheCellsTheyAre) {
  const std::string file = dir / "far.ods";
  {
    NewBook book({"Main", "Other"});
    book.Sheet(1).Call("getCellByPosition", 0, 0).Call("setValue", 42.0);
    book.Sheet(0).Call("getCellRangeByName", "A1").Call("setFormula", "=1+1");
    book.Sheet(0).Call("getCellRangeByName", "ZZ100000").Call("setFormula", "=$Other.A1");
    book.Store(file);
  }
  ASSERT_EQ(store->OpenBook(file), 0);
  const store::FormulaSnapshot snapshot = store->ReadFormulas(0, 0);
  ASSERT_EQ(snapshot.parts.size(), 2u);
  for (const store::FormulaSnapshot::Part& part : snapshot.parts) {
    EXPECT_EQ(part.box.StartColumn, part.box.EndColumn);
    EXPECT_EQ(part.box.StartRow, part.box.EndRow);
  }
  ASSERT_EQ(snapshot.cells.size(), 2u);
  EXPECT_EQ(snapshot.cells[1].number, 42);

  ASSERT_TRUE(store->DeleteSheet(0, 1, false));
  EXPECT_EQ(store->FreezeFormulas(0, 0, snapshot), 1);
  office::TOOCalcSheet& sheet = store->Office->Sheets().SheetByIndex(0);
  EXPECT_EQ(sheet.CellAt(701, 99999).ReadString(), "42");
  EXPECT_EQ(sheet.CellAt(701, 99999).CellObject.Call("getFormula").AsString(), "42");
  EXPECT_EQ(sheet.CellAt(0, 0).CellObject.Call("getFormula").AsString(), "=1+1");
}

// Key texts of every kind of cell come from one export of the sheet as shown, equal to what
// each cell reads: texts with line breaks, quotes, commas and blanks, numbers under formats,
// dates, formulas, errors, empty cells.
TEST(RealStoreColumns, ColumnTextsOfEveryKindComeFromOneExport) {
  TempDir dir;
  const std::string file = dir / "column.ods";
  SheetSpec sheet{"S", {}};
  const std::vector<std::string> texts = {
      "plain",      " lead",      "trail ",         "a,b",
      "say \"hi\"", "two\nlines", "=not a formula", "K\u00f6ln \U0001F600"};
  for (std::size_t i = 0; i < texts.size(); ++i)
    sheet.cells.push_back({1, static_cast<std::int32_t>(i), texts[i], {}, {}});
  sheet.cells.push_back({2, 80, "end", {}, {}});  // rows of column B below stay empty
  MakeWorkbook(file, {sheet});
  {
    office::TOOCalc calc(SharedOffice());
    calc.Connect(true);
    calc.LoadDocument(file, office::loHidden, 0);
    const Variant s = calc.Sheets().SheetByIndex(0).SheetObject;
    for (std::size_t i = 0; i < kFormattedNumbers.size(); ++i) {
      const Variant cell = s.Call("getCellByPosition", 1, static_cast<std::int32_t>(20 + i));
      cell.Call("setValue", kFormattedNumbers[i].first);
      if (!kFormattedNumbers[i].second.empty())
        cell.Set("NumberFormat", FormatKey(calc, kFormattedNumbers[i].second));
    }
    for (std::size_t i = 0; i < kFormulaKinds.size(); ++i)
      s.Call("getCellByPosition", 1, static_cast<std::int32_t>(50 + i))
          .Call("setFormula", std::string(kFormulaKinds[i]));
    calc.StoreDocument(file, "Calc");
    calc.Document.Call("close", true);
  }

  RecordingFactory recording(SharedOffice());
  store::clc books(recording);
  ASSERT_EQ(books.OpenBook(file), 0);
  const std::size_t asked = recording.Count("GetString");
  const std::vector<std::vector<std::string>> columns = books.ColumnsTexts(0, 0, {2, 3}, 1, 90);
  EXPECT_EQ(recording.Count("GetString"), asked);
  EXPECT_EQ(recording.Count("StoreToURL"), 1u);
  ASSERT_EQ(columns.size(), 2u);
  ASSERT_EQ(columns[0].size(), 90u);
  for (std::int32_t r = 1; r <= 90; ++r) {
    EXPECT_EQ(columns[0][static_cast<std::size_t>(r - 1)], books.CellText(0, 0, 2, r)) << r;
    EXPECT_EQ(columns[1][static_cast<std::size_t>(r - 1)], books.CellText(0, 0, 3, r)) << r;
  }
  EXPECT_EQ(columns[0][5], "two\nlines");
  EXPECT_EQ(columns[1][80], "end");
  books.Office->Document.Call("close", true);
}

// Columns of texts alone are read without the export, as each cell reads; one with a text
// format that adds to its texts, or with a number, takes the export.
TEST(RealStoreColumns, ColumnsOfTextsAloneNeedNoExport) {
  TempDir dir;
  const std::string file = dir / "texts.ods";
  const std::vector<std::string> texts = {"plain", " lead ", "say \"hi\"", "two\nlines",
                                          "=1+1",  "",       "K\u00f6ln",  "0042"};
  SheetSpec sheet{"S", {}};
  for (std::size_t i = 0; i < texts.size(); ++i)
    for (std::int32_t c = 0; c < 4; ++c)
      if (!texts[i].empty())
        sheet.cells.push_back({c, static_cast<std::int32_t>(i), texts[i], {}, {}});
  sheet.cells.push_back({3, 9, "", 7.5, {}});
  MakeWorkbook(file, {sheet});
  {
    office::TOOCalc calc(SharedOffice());
    calc.Connect(true);
    calc.LoadDocument(file, office::loHidden, 0);
    const Variant s = calc.Sheets().SheetByIndex(0).SheetObject;
    s.Call("getCellRangeByName", "B1:B10").Set("NumberFormat", FormatKey(calc, "@"));
    s.Call("getCellRangeByName", "C1:C10").Set("NumberFormat", FormatKey(calc, "@\" kg\""));
    calc.StoreDocument(file, "Calc");
    calc.Document.Call("close", true);
  }
  RecordingFactory recording(SharedOffice());
  store::clc books(recording);
  ASSERT_EQ(books.OpenBook(file), 0);
  const auto expectAsEachCellReads = [&](const std::vector<std::vector<std::string>>& read,
                                         const std::vector<std::int32_t>& columns) {
    ASSERT_EQ(read.size(), columns.size());
    for (std::size_t k = 0; k < columns.size(); ++k)
      for (std::int32_t r = 1; r <= 12; ++r)
        EXPECT_EQ(read[k][static_cast<std::size_t>(r - 1)], books.CellText(0, 0, columns[k], r))
            << columns[k] << ":" << r;
  };
  const std::vector<std::vector<std::string>> plain = books.ColumnsTexts(0, 0, {2, 1}, 1, 12);
  EXPECT_EQ(recording.Count("StoreToURL"), 0u);
  expectAsEachCellReads(plain, {2, 1});
  EXPECT_EQ(plain[1][3], "two\nlines");
  expectAsEachCellReads(books.ColumnsTexts(0, 0, {1, 3}, 1, 12), {1, 3});
  EXPECT_EQ(recording.Count("StoreToURL"), 1u);
  expectAsEachCellReads(books.ColumnsTexts(0, 0, {1, 4}, 1, 12), {1, 4});
  EXPECT_EQ(recording.Count("StoreToURL"), 2u);
  books.Office->Document.Call("close", true);
}

TEST(RealStoreColumns, ARowReadInBulkIsTheSameAsCellByCell) {
  TempDir dir;
  const std::string file = dir / "row.ods";
  MakeWorkbook(file, {{"S",
                       {{0, 0, "plain", {}, 0x0000FF},
                        {1, 0, "", 3.5, {}},
                        {2, 0, "", {}, 0xFF0000},
                        {3, 0, "k", {}, {}},
                        {4, 0, "", 45000.0, 0x00FF00},
                        {6, 0, "Grüße", {}, {}},
                        {7, 1, "below", {}, {}}}}});
  {
    office::TOOCalc calc(SharedOffice());
    calc.Connect(true);
    calc.LoadDocument(file, office::loHidden, 0);
    const Variant sheet = calc.Sheets().SheetByIndex(0).SheetObject;
    auto format = [&](const std::string& code) { return FormatKey(calc, code); };
    sheet.Call("getCellByPosition", 1, 0).Set("NumberFormat", format("0.00"));
    sheet.Call("getCellByPosition", 3, 0).Set("NumberFormat", format("@\" kg\""));
    sheet.Call("getCellByPosition", 4, 0).Set("NumberFormat", format("YYYY-MM-DD"));
    sheet.Call("getCellByPosition", 5, 0).Call("setFormula", "=1/0");
    // Row 3: numbers under formats that change how they show, or do not.
    for (std::size_t c = 0; c < kFormattedNumbers.size(); ++c) {
      const Variant cell = sheet.Call("getCellByPosition", static_cast<std::int32_t>(c), 2);
      cell.Call("setValue", kFormattedNumbers[c].first);
      if (!kFormattedNumbers[c].second.empty())
        cell.Set("NumberFormat", format(kFormattedNumbers[c].second));
    }
    calc.StoreDocument(file, "Calc");
    calc.Document.Call("close", true);
  }
  RecordingFactory recording(SharedOffice());
  FaultFactory refusing(recording);  // no export of the sheet: each row in bulk
  refusing.At("rows", 1, FaultFactory::Fault::Fail, "StoreToURL");
  refusing.EnterPhase("rows");
  store::clc books(refusing);
  ASSERT_EQ(books.OpenBook(file), 0);
  // The rows in bulk first: only the text with literals, the error and the three dates and
  // times ask their cell; falling back would ask all 26.
  const std::size_t asked = recording.Count("GetString");
  std::vector<store::cell_value> row1, row3;
  for (std::int32_t c = 1; c <= 8; ++c) row1.push_back(books.CachedCell(0, 0, c, 1));
  for (std::int32_t c = 1; c <= static_cast<std::int32_t>(kFormattedNumbers.size()); ++c)
    row3.push_back(books.CachedCell(0, 0, c, 3));
  EXPECT_EQ(recording.Count("GetString") - asked, 5u);
  for (std::int32_t c = 1; c <= 8; ++c) {
    SCOPED_TRACE(c);
    const store::cell_value single = books.ReadCell(0, 0, c, 1);
    EXPECT_EQ(row1[static_cast<std::size_t>(c - 1)].Text, single.Text);
    EXPECT_EQ(row1[static_cast<std::size_t>(c - 1)].Background, single.Background);
  }
  for (std::int32_t c = 1; c <= static_cast<std::int32_t>(kFormattedNumbers.size()); ++c) {
    SCOPED_TRACE(kFormattedNumbers[static_cast<std::size_t>(c - 1)].second);
    EXPECT_EQ(row3[static_cast<std::size_t>(c - 1)].Text, books.ReadCell(0, 0, c, 3).Text);
  }
  EXPECT_EQ(books.CachedCell(0, 0, 2, 1).Text, "3.50");
  EXPECT_EQ(books.CachedCell(0, 0, 4, 1).Text, "k kg");
  EXPECT_EQ(books.CachedCell(0, 0, 1, 1).Background, 0x00FF0000);
  books.Office->Document.Call("close", true);

  // With the export, the same cells, and no cell asks for itself.
  store::clc exported(recording);
  ASSERT_EQ(exported.OpenBook(file), 0);
  const std::size_t before = recording.Count("GetString");
  for (std::int32_t c = 1; c <= 8; ++c) {
    EXPECT_EQ(exported.CachedCell(0, 0, c, 1).Text, row1[static_cast<std::size_t>(c - 1)].Text);
    EXPECT_EQ(exported.CachedCell(0, 0, c, 1).Background,
              row1[static_cast<std::size_t>(c - 1)].Background);
  }
  for (std::int32_t c = 1; c <= static_cast<std::int32_t>(kFormattedNumbers.size()); ++c)
    EXPECT_EQ(exported.CachedCell(0, 0, c, 3).Text, row3[static_cast<std::size_t>(c - 1)].Text);
  EXPECT_EQ(recording.Count("GetString"), before);
  exported.Office->Document.Call("close", true);
}

}  // namespace

int main(int argc, char** argv) {
  return RunOfficeTests(argc, argv);
}

// The office layer against the in-memory office: the names, argument order and types it
// sends, and what it makes of the answers.
#include "office/uOpenOffice.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/FakeOffice.hpp"

namespace {

using automation::Variant;
using automation::VariantArray;
using office::FileNameToUrl;

TEST(FileNameToUrl, EncodesWhatAUrlCannotHoldAsItIs) {
  EXPECT_EQ(FileNameToUrl("/home/a b/x.ods"), "file:///home/a%20b/x.ods");
  EXPECT_EQ(FileNameToUrl("/d/100%#1?.ods"), "file:///d/100%25%231%3F.ods");
  EXPECT_EQ(FileNameToUrl("/d/Grüße.ods"), "file:///d/Gr%C3%BC%C3%9Fe.ods");
  EXPECT_EQ(FileNameToUrl("/d/a,b;c=(1)+x@y~_-.ods"), "file:///d/a,b;c=(1)+x@y~_-.ods");
}

TEST(FileNameToUrl, WindowsDrivePathsKeepTheirDriveAndTurnBackslashes) {
  EXPECT_EQ(FileNameToUrl("C:\\My Files\\a.ods"), "file:///C:/My%20Files/a.ods");
  EXPECT_EQ(FileNameToUrl("d:/x#.ods"), "file:///d:/x%23.ods");
}

TEST(FileNameToUrl, RelativeNamesAreMadeAbsolute) {
  const std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(FileNameToUrl("a.ods"), FileNameToUrl(cwd + "/a.ods"));
  EXPECT_EQ(FileNameToUrl("./sub/../a.ods"), FileNameToUrl(cwd + "/a.ods"));
}

class OfficeLayer : public testing::Test {
 protected:
  void SetUp() override {
    fake::Workbook book = fake::Workbook::WithSheets({"Sheet1", "Sheet2", "Sheet3"});
    book.activeSheet = 1;
    book[0].At(3, 8).text = "end";  // D9
    book[0].At(0, 0).number = 5;
    book[0].At(1, 0).text = "x";
    book[0].At(0, 1).backColor = 0x0000FF;
    book[0].At(1, 1).backColor = 0x123456;
    office.files[Url("book.ods")] = book;
    office.files[Url("other.ods")] = fake::Workbook::WithSheets();
    calc.Connect(true);
    ASSERT_TRUE(calc.IsConnected());
  }

  static std::string Url(const std::string& name) { return FileNameToUrl("/data/" + name); }

  // The (name, value) pairs of the last call of a member whose argument `index` is a list.
  std::vector<std::pair<std::string, Variant>> PropertiesOfLast(const std::string& member,
                                                                std::size_t index) {
    std::vector<std::pair<std::string, Variant>> out;
    for (auto it = office.calls.rbegin(); it != office.calls.rend(); ++it) {
      if (it->member != member) continue;
      for (const Variant& p : it->args.at(index).AsArray())
        out.emplace_back(fake::FakeOffice::PropertyName(p), fake::FakeOffice::PropertyValue(p));
      break;
    }
    return out;
  }

  const fake::CallRecord& Last(const std::string& member) {
    for (auto it = office.calls.rbegin(); it != office.calls.rend(); ++it)
      if (it->member == member) return *it;
    throw std::runtime_error("no call of " + member);
  }

  fake::FakeOffice office;
  office::TOOCalc calc{office};
};

TEST_F(OfficeLayer, ConnectAsksTheServiceManagerForTheDesktop) {
  EXPECT_EQ(Last("CreateInstance").args, VariantArray{"com.sun.star.frame.Desktop"});
  calc.Connect(false);
  EXPECT_FALSE(calc.IsConnected());
  EXPECT_TRUE(calc.ServiceManager.IsEmpty());
}

TEST_F(OfficeLayer, ConnectNeverRaises) {
  fake::FakeOffice none;
  none.available = false;
  office::TOOCalc absent(none);
  EXPECT_NO_THROW(absent.Connect(true));
  EXPECT_FALSE(absent.IsConnected());

  fake::FakeOffice refusing;
  refusing.FailOn("CreateInstance");
  office::TOOCalc refused(refusing);
  EXPECT_NO_THROW(refused.Connect(true));
  EXPECT_FALSE(refused.IsConnected());
  EXPECT_TRUE(refused.ServiceManager.IsEmpty());
}

TEST_F(OfficeLayer, HiddenLoadSendsExactlyHiddenAndMacroMode) {
  calc.LoadDocument("/data/book.ods", office::loHidden, 0);
  const auto& load = Last("LoadComponentFromURL");
  ASSERT_EQ(load.args.size(), 4u);
  EXPECT_EQ(load.args[0], Variant(Url("book.ods")));
  EXPECT_EQ(load.args[1], Variant("_blank"));
  EXPECT_EQ(load.args[2], Variant(std::int32_t{0}));
  const auto props = PropertiesOfLast("LoadComponentFromURL", 3);
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(props[0], std::make_pair(std::string("Hidden"), Variant(true)));
  // The macro mode travels as an unsigned byte: the office drops a 32-bit value.
  EXPECT_EQ(props[1], std::make_pair(std::string("MacroExecutionMode"), Variant(std::uint8_t{0})));
}

TEST_F(OfficeLayer, LoadOptionsAppearInTheirOrderBeforeTheMacroMode) {
  calc.LoadDocument("/data/book.ods", office::loReadOnly | office::loAsTemplate | office::loHidden,
                    4);
  const auto props = PropertiesOfLast("LoadComponentFromURL", 3);
  ASSERT_EQ(props.size(), 4u);
  EXPECT_EQ(props[0].first, "Hidden");
  EXPECT_EQ(props[1].first, "AsTemplate");
  EXPECT_EQ(props[2].first, "ReadOnly");
  EXPECT_EQ(props[3], std::make_pair(std::string("MacroExecutionMode"), Variant(std::uint8_t{4})));
}

// The office's progress of a load or a store reaches Progress while the call is under way,
// from the office's thread; an ods store, whose reports mislead, is not asked for any. Nothing
// comes after the call, though the office keeps the indicator; and what Progress raises never
// fails the office's work.
TEST_F(OfficeLayer, LoadsAndStoresTellTheirProgressWhileUnderWayOnly) {
  std::vector<double> told;
  calc.Progress = [&](double fraction) { told.push_back(fraction); };
  calc.LoadDocument("/data/book.ods", office::loHidden, 0);
  EXPECT_EQ(told, (std::vector<double>{0.25, 0.5, 0.75}));
  EXPECT_EQ(PropertiesOfLast("LoadComponentFromURL", 3).back().first, "StatusIndicator");

  told.clear();
  office.progressValues = {10, 40};
  calc.StoreDocument("/out/x.xlsx", "Xlsx");
  EXPECT_EQ(told, (std::vector<double>{0.1, 0.4}));
  told.clear();
  office.lastIndicator.Call("setValue", std::int32_t{50});
  calc.StoreDocument("/out/x.ods", "Calc");
  EXPECT_TRUE(told.empty());
  EXPECT_EQ(PropertiesOfLast("StoreAsURL", 1).back().first, "Overwrite");

  calc.Progress = [](double) { throw std::runtime_error("ours"); };
  EXPECT_NO_THROW(calc.StoreDocument("/out/y.xlsx", "Xlsx"));
  EXPECT_TRUE(office.files.contains(FileNameToUrl("/out/y.xlsx")));
}

TEST_F(OfficeLayer, EmptyFileNameOpensANewSpreadsheet) {
  calc.LoadDocument("", office::loHidden, 0);
  EXPECT_EQ(Last("LoadComponentFromURL").args[0], Variant("private:factory/scalc"));
}

TEST_F(OfficeLayer, DocumentsAreNumberedInLoadOrderAndSelectedByIndex) {
  for (int i = 0; i < 3; ++i) {
    calc.LoadDocument(i == 1 ? "/data/other.ods" : "/data/book.ods", office::loHidden, 0);
    EXPECT_EQ(calc.CurrentDocumentIndex(), i);
  }
  office.ClearCalls();
  EXPECT_TRUE(calc.SelectDocument(1));
  EXPECT_EQ(calc.CurrentDocumentIndex(), 1);
  EXPECT_EQ(calc.Sheets().SheetCount(), 1);  // other.ods
  EXPECT_FALSE(calc.SelectDocument(3));
  EXPECT_FALSE(calc.SelectDocument(-1));
  EXPECT_EQ(calc.CurrentDocumentIndex(), 1);
  EXPECT_EQ(calc.Document, calc.Documents[1]);
  EXPECT_EQ(office.Count("LoadComponentFromURL"), 0u);
}

TEST_F(OfficeLayer, FailedLoadChangesNothing) {
  calc.LoadDocument("/data/book.ods", office::loHidden, 0);
  const Variant current = calc.Document;
  EXPECT_THROW(calc.LoadDocument("/data/missing.ods", office::loHidden, 0), automation::Error);
  EXPECT_EQ(calc.Documents.size(), 1u);
  EXPECT_EQ(calc.CurrentDocumentIndex(), 0);
  EXPECT_EQ(calc.Document, current);
}

TEST_F(OfficeLayer, AnEmptyAnswerIsAFailedLoad) {
  office.corruptFiles.push_back(Url("bad.ods"));
  calc.LoadDocument("/data/book.ods", office::loHidden, 0);
  EXPECT_THROW(calc.LoadDocument("/data/bad.ods", office::loHidden, 0), automation::Error);
  EXPECT_EQ(calc.Documents.size(), 1u);
  EXPECT_EQ(calc.CurrentDocumentIndex(), 0);
  EXPECT_TRUE(calc.Document.IsObject());
}

struct StoreCase {
  std::string name, format, stored, filter;
};

class StoreDecision : public OfficeLayer, public testing::WithParamInterface<StoreCase> {};

TEST_P(StoreDecision, ChoosesFilterAndAppendsTheExtension) {
  const StoreCase& c = GetParam();
  calc.LoadDocument("/data/book.ods", office::loHidden, 0);
  calc.StoreDocument("/out/" + c.name, c.format);
  const auto& store = Last("StoreAsURL");
  EXPECT_EQ(store.args[0], Variant(FileNameToUrl("/out/" + c.stored)));
  const auto props = PropertiesOfLast("StoreAsURL", 1);
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(props[0], std::make_pair(std::string("FilterName"), Variant(c.filter)));
  EXPECT_EQ(props[1], std::make_pair(std::string("Overwrite"), Variant(true)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, StoreDecision,
    testing::Values(StoreCase{"out.ods", "Calc", "out.ods", "calc8"},
                    StoreCase{"out.ODS", "Calc", "out.ODS", "calc8"},
                    StoreCase{"out", "Calc", "out.ods", "calc8"},
                    StoreCase{"out.xls", "Calc", "out.xls.ods", "calc8"},
                    StoreCase{"out.xls", "Excel97", "out.xls", "MS Excel 97"},
                    StoreCase{"out.txt", "Excel97", "out.txt.xls", "MS Excel 97"},
                    StoreCase{"out.ods", "Excel97", "out.ods", "calc8"},
                    StoreCase{"out.XLS", "other", "out.XLS", "MS Excel 97"},
                    StoreCase{"out.Ods", "other", "out.Ods", "calc8"},
                    StoreCase{"out.csv", "other", "out.csv.ods", "calc8"},
                    StoreCase{"out.ods", "calc", "out.ods", "calc8"},  // format is case-sensitive
                    StoreCase{"my.dir/out", "Calc", "my.dir/out.ods", "calc8"}));

TEST_F(OfficeLayer, PdfExportWritesACopyWithTheCalcFilter) {
  calc.LoadDocument("/data/book.ods", office::loHidden, 0);
  calc.ExportPdf("/out/report");
  calc.ExportPdf("/out/report.PDF");
  ASSERT_EQ(office.Count("StoreToURL"), 2u);
  EXPECT_TRUE(office.files.count(FileNameToUrl("/out/report.pdf")));
  EXPECT_TRUE(office.files.count(FileNameToUrl("/out/report.PDF")));
  const auto props = PropertiesOfLast("StoreToURL", 1);
  EXPECT_EQ(props[0].second, Variant("calc_pdf_Export"));
  EXPECT_EQ(props[1], std::make_pair(std::string("Overwrite"), Variant(true)));
}

TEST_F(OfficeLayer, ClosingTheLastWindowTerminatesTheOffice) {
  calc.LoadDocument("/data/book.ods", office::loHidden, 0);
  calc.LoadDocument("/data/other.ods", office::loHidden, 0);
  calc.CloseDocument();
  EXPECT_TRUE(calc.Document.IsEmpty());
  EXPECT_EQ(calc.Documents.size(), 2u);
  EXPECT_EQ(calc.CurrentDocumentIndex(), 1);
  EXPECT_FALSE(office.terminated);
  EXPECT_TRUE(calc.IsConnected());

  ASSERT_TRUE(calc.SelectDocument(0));
  calc.CloseDocument();
  EXPECT_TRUE(office.terminated);
  EXPECT_FALSE(calc.IsConnected());
}

TEST_F(OfficeLayer, AWindowOfTheUserKeepsTheOfficeRunning) {
  office.userFrames = 1;
  calc.LoadDocument("/data/book.ods", office::loHidden, 0);
  calc.CloseDocument();
  EXPECT_FALSE(office.terminated);
  EXPECT_TRUE(calc.IsConnected());
}

TEST_F(OfficeLayer, DestructionClosesNothing) {
  {
    office::TOOCalc other(office);
    other.Connect(true);
    other.LoadDocument("/data/book.ods", office::loHidden, 0);
  }
  EXPECT_EQ(office.Count("Close"), 0u);
  EXPECT_EQ(office.Count("Terminate"), 0u);
  EXPECT_EQ(office.OpenFrames(), 1);
}

class SheetLayer : public OfficeLayer {
 protected:
  void SetUp() override {
    OfficeLayer::SetUp();
    calc.LoadDocument("/data/book.ods", office::loHidden, 0);
    office.ClearCalls();
  }
  fake::Workbook& book() { return office.Loaded(0); }
};

TEST_F(SheetLayer, SheetByIndexRepointsTheOneWrapper) {
  office::TOOCalcSheets& sheets = calc.Sheets();
  office::TOOCalcSheet& first = sheets.SheetByIndex(0);
  office::TOOCalcSheet& second = sheets.SheetByIndex(1);
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(first.SheetName(), "Sheet2");
  EXPECT_EQ(Last("GetByIndex").args, VariantArray{std::int32_t{1}});
  EXPECT_EQ(Last("Name").object, "Sheet");
}

TEST_F(SheetLayer, ActiveSheetIsFoundByNameAndSetThroughTheController) {
  office::TOOCalcSheets& sheets = calc.Sheets();
  EXPECT_EQ(sheets.SheetCount(), 3);
  EXPECT_EQ(sheets.ActiveSheetIndex(), 1);
  sheets.ActivateSheet(2);
  EXPECT_EQ(book().activeSheet, 2);
  EXPECT_EQ(sheets.ActiveSheetIndex(), 2);
  EXPECT_THROW(sheets.ActivateSheet(-1), automation::Error);
}

TEST_F(SheetLayer, ActiveSheetIndexAsksForTheActiveSheetInEachPass) {
  book().activeSheet = 2;
  EXPECT_EQ(calc.Sheets().ActiveSheetIndex(), 2);
  EXPECT_EQ(office.Count("GetActiveSheet"), 3u);
  EXPECT_EQ(office.Count("GetCount"), 1u);
}

TEST_F(SheetLayer, RemoveSheetLooksUpTheNameAndRemovesByIt) {
  calc.Sheets().RemoveSheet(1);
  EXPECT_EQ(Last("RemoveByName").args, VariantArray{"Sheet2"});
  ASSERT_EQ(book().sheets.size(), 2u);
  EXPECT_EQ(book()[0].name, "Sheet1");
  EXPECT_EQ(book()[1].name, "Sheet3");
}

TEST_F(SheetLayer, UsedAreaEndsAtTheLastUsedCell) {
  office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
  sheet.MeasureUsedArea();
  EXPECT_EQ(sheet.LastUsedRow(), 8);
  EXPECT_EQ(sheet.LastUsedColumn(), 3);
  EXPECT_EQ(Last("GotoEndOfUsedArea").args, VariantArray{true});
  office::TOOCalcSheet& empty = calc.Sheets().SheetByIndex(2);
  empty.MeasureUsedArea();
  EXPECT_EQ(empty.LastUsedRow(), 0);
  EXPECT_EQ(empty.LastUsedColumn(), 0);
}

TEST_F(SheetLayer, CellNamedRefusesARangeWithoutAnyCall) {
  office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
  office.ClearCalls();
  try {
    sheet.CellNamed("A1:B2");
    FAIL() << "no error raised";
  } catch (const automation::Error& e) {
    EXPECT_STREQ(e.what(), "Try to return CellRange, expect Cell.");
  }
  EXPECT_TRUE(office.calls.empty());
  EXPECT_EQ(sheet.CellNamed("B1").ReadString(), "x");
}

TEST_F(SheetLayer, CellsReadAndWriteText) {
  office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
  office::TOOCalcCell& cell = sheet.CellAt(4, 2);
  cell.WriteString("Grüße 😀");
  EXPECT_EQ(book()[0].At(4, 2).text, "Grüße 😀");
  EXPECT_EQ(sheet.CellAt(4, 2).ReadString(), "Grüße 😀");
  EXPECT_EQ(cell.SheetObject, sheet.SheetObject);
  EXPECT_EQ(cell.DocumentRef, calc.Document);
}

TEST_F(SheetLayer, BackgroundsReadInWindowsForm) {
  office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
  EXPECT_EQ(sheet.CellAt(5, 5).BackColor(), 0x00FFFFFF);  // no fill
  EXPECT_EQ(sheet.CellAt(0, 1).BackColor(), 0x00FF0000);  // office blue
  EXPECT_EQ(sheet.CellAt(1, 1).BackColor(), 0x00563412);
}

TEST_F(SheetLayer, DataArrayOfARow) {
  office::TOOCalcCellRange& range = calc.Sheets().SheetByIndex(0).RangeAt(0, 0, 2, 0);
  EXPECT_EQ(Last("GetCellRangeByPosition").args, (VariantArray{0, 0, 2, 0}));
  EXPECT_EQ(Variant(range.DataArray()), Variant(VariantArray{VariantArray{5.0, "x", ""}}));
}

TEST_F(SheetLayer, OfficeErrorsPassUnchanged) {
  office.FailOn("GetString");
  EXPECT_THROW(calc.Sheets().SheetByIndex(0).CellAt(0, 0).ReadString(), automation::Error);
  EXPECT_THROW(calc.Sheets().SheetByIndex(7), automation::Error);
}

}  // namespace

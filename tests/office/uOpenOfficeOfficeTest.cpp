// The office layer against the real LibreOffice: names, filters, URLs and stores work for real.
#include <pwd.h>
#include <unistd.h>

#include <fstream>

#include "office/uOpenOffice.hpp"
#include "support/OfficeTesting.hpp"
#include "support/RecordingFactory.hpp"

namespace {

using automation::Variant;
using automation::VariantArray;
using namespace office_testing;

// The media descriptor the office keeps for a loaded document, by name.
std::map<std::string, Variant> DocumentArgs(const Variant& doc) {
  std::map<std::string, Variant> out;
  for (const Variant& p : doc.Call("getArgs").AsArray())
    out[p.Get("Name").AsString()] = p.Get("Value");
  return out;
}

std::vector<std::string> LockFiles(const fs::path& dir) {
  std::vector<std::string> locks;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().filename().string().rfind(".~lock.", 0) == 0)
      locks.push_back(entry.path().filename().string());
  return locks;
}

class RealOffice : public OfficeTest {
 protected:
  // A three-sheet book: Sheet1 ends at D9 and holds 5 / "x" / empty in A1:C1, the number 12
  // in A2 and a blue background in B2; Sheet2 holds "second"; Sheet3 is empty.
  // Names ending in .fods are written directly (the active sheet is kept), others through the
  // office.
  std::string MakeBook(const std::string& name = "book.ods") {
    const std::string file = dir / name;
    (name.ends_with(".fods") ? WriteFlatOds : MakeWorkbook)(file,
                                                            {{"Sheet1",
                                                              {{0, 0, "", 5.0, {}},
                                                               {1, 0, "x", {}, {}},
                                                               {0, 1, "", 12.0, {}},
                                                               {1, 1, "", {}, 0x0000FF},
                                                               {3, 8, "end", {}, {}}}},
                                                             {"Sheet2", {{0, 0, "second", {}, {}}}},
                                                             {"Sheet3", {}}},
                                                            1);
    return file;
  }
};

TEST_F(RealOffice, HiddenLoadReachesTheOfficeWithExactlyTwoProperties) {
  const std::string file = MakeBook();
  RecordingFactory recording(SharedOffice());
  office::TOOCalc recorded(recording);
  recorded.Connect(true);
  ASSERT_TRUE(recorded.IsConnected());
  recorded.LoadDocument(file, office::loHidden, 0);

  const RecordedCall* load = nullptr;
  for (const auto& c : recording.calls)
    if (c.member == "LoadComponentFromURL") load = &c;
  ASSERT_NE(load, nullptr);
  ASSERT_EQ(load->args.size(), 4u);
  EXPECT_EQ(load->args[0], Variant(office::FileNameToUrl(file)));
  EXPECT_EQ(load->args[1], Variant("_blank"));
  EXPECT_EQ(load->args[2], Variant(std::int32_t{0}));
  const VariantArray& props = load->args[3].AsArray();
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(props[0].Get("Name"), Variant("Hidden"));
  EXPECT_EQ(props[0].Get("Value"), Variant(true));
  EXPECT_EQ(props[1].Get("Name"), Variant("MacroExecutionMode"));
  EXPECT_EQ(props[1].Get("Value"), Variant(std::uint8_t{0}));

  // The office took both: a wrongly typed macro mode would have been dropped silently.
  const auto args = DocumentArgs(recorded.Document);
  EXPECT_EQ(args.at("Hidden"), Variant(true));
  ASSERT_TRUE(args.count("MacroExecutionMode"));
  EXPECT_EQ(args.at("MacroExecutionMode").AsInt(), 0);
  recorded.Document.Call("close", true);
}

TEST_F(RealOffice, UnreadableFilesFailToLoadAndTakeNoIndex) {
  std::ofstream(dir / "random.ods") << "\x13\x37 not a spreadsheet \x00\xff";
  std::ofstream(dir / "broken.xlsx") << "PK\x03\x04 truncated";
  calc->LoadDocument(MakeBook(), office::loHidden, 0);
  EXPECT_THROW(calc->LoadDocument(dir / "random.ods", office::loHidden, 0), automation::Error);
  EXPECT_THROW(calc->LoadDocument(dir / "broken.xlsx", office::loHidden, 0), automation::Error);
  EXPECT_THROW(calc->LoadDocument(dir / "missing.ods", office::loHidden, 0), automation::Error);
  EXPECT_EQ(calc->Documents.size(), 1u);
  EXPECT_EQ(calc->CurrentDocumentIndex(), 0);
  EXPECT_EQ(calc->Sheets().SheetCount(), 3);
}

TEST_F(RealOffice, ThreeLoadsAreNumberedAndSelectable) {
  const std::string a = MakeBook("a.ods"), b = MakeBook("b.ods"), c = MakeBook("c.ods");
  for (const auto& [file, index] : {std::pair{a, 0}, {b, 1}, {c, 2}}) {
    calc->LoadDocument(file, office::loHidden, 0);
    EXPECT_EQ(calc->CurrentDocumentIndex(), index);
  }
  ASSERT_TRUE(calc->SelectDocument(1));
  EXPECT_EQ(calc->Document.Call("getURL"), Variant(office::FileNameToUrl(b)));
  EXPECT_FALSE(calc->SelectDocument(3));
  EXPECT_EQ(calc->CurrentDocumentIndex(), 1);
  EXPECT_EQ(calc->Document.Call("getURL"), Variant(office::FileNameToUrl(b)));
}

TEST_F(RealOffice, StoreDecisionTableWritesRealFiles) {
  struct Case {
    std::string name, format, stored, filter;
  };
  const std::vector<Case> cases = {
      {"c1.ods", "Calc", "c1.ods", "calc8"},
      {"c2.ODS", "Calc", "c2.ODS", "calc8"},
      {"c3", "Calc", "c3.ods", "calc8"},
      {"c4.xls", "Calc", "c4.xls.ods", "calc8"},
      {"e1.xls", "Excel97", "e1.xls", "MS Excel 97"},
      {"e2.txt", "Excel97", "e2.txt.xls", "MS Excel 97"},
      {"e3.ods", "Excel97", "e3.ods", "calc8"},
  };
  calc->LoadDocument(MakeBook(), office::loHidden, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " as " + c.format);
    calc->StoreDocument(dir / c.name, c.format);
    ASSERT_TRUE(fs::exists(dir / c.stored));
    if (c.stored != c.name) {
      EXPECT_FALSE(fs::exists(dir / c.name));
    }
    // The document now belongs to the stored file.
    EXPECT_EQ(calc->Document.Call("getURL"), Variant(office::FileNameToUrl(dir / c.stored)));
  }
  // Overwrite: the same target again.
  EXPECT_NO_THROW(calc->StoreDocument(dir / "c1.ods", "Calc"));

  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    calc->LoadDocument(dir / c.stored, office::loHidden, 0);
    EXPECT_EQ(DocumentArgs(calc->Document).at("FilterName"), Variant(c.filter));
    office::TOOCalcSheets& sheets = calc->Sheets();
    EXPECT_EQ(sheets.SheetCount(), 3);
    EXPECT_EQ(sheets.SheetByIndex(1).CellAt(0, 0).ReadString(), "second");
  }
}

TEST_F(RealOffice, AwkwardFileNamesLoadAndStore) {
  const fs::path folder = dir.path() / "a b%20c #1 ünï";
  fs::create_directories(folder);
  const std::string source = (folder / "Tä %41 #x?.ods").string();
  MakeWorkbook(source, {{"Daten", {{0, 0, "Grüße 😀 中文", {}, {}}}}});
  ASSERT_TRUE(fs::exists(source));

  calc->LoadDocument(source, office::loHidden, 0);
  office::TOOCalcSheet& sheet = calc->Sheets().SheetByIndex(0);
  EXPECT_EQ(sheet.SheetName(), "Daten");
  EXPECT_EQ(sheet.CellAt(0, 0).ReadString(), "Grüße 😀 中文");

  const std::string target = (folder / "Ergebnis #2 100%").string();
  calc->StoreDocument(target, "Calc");
  EXPECT_TRUE(fs::exists(target + ".ods"));
  calc->LoadDocument(target + ".ods", office::loHidden, 0);
  EXPECT_EQ(calc->Sheets().SheetByIndex(0).CellAt(0, 0).ReadString(), "Grüße 😀 中文");
}

TEST_F(RealOffice, SheetsAreCountedNamedAndTheActiveOneKept) {
  calc->LoadDocument(MakeBook("book.fods"), office::loHidden, 0);
  office::TOOCalcSheets& sheets = calc->Sheets();
  EXPECT_EQ(sheets.SheetCount(), 3);
  // A hidden load always starts on the first sheet, whatever the file's view recorded.
  EXPECT_EQ(sheets.ActiveSheetIndex(), 0);
  sheets.ActivateSheet(1);
  EXPECT_EQ(sheets.ActiveSheetIndex(), 1);
  const std::vector<std::string> names = {"Sheet1", "Sheet2", "Sheet3"};
  for (std::int32_t i = 0; i < 3; ++i) EXPECT_EQ(sheets.SheetByIndex(i).SheetName(), names[i]);

  // Walking the sheets through the view and back keeps the active one.
  for (std::int32_t i = 0; i < 3; ++i) sheets.ActivateSheet(i);
  sheets.ActivateSheet(1);
  EXPECT_EQ(sheets.ActiveSheetIndex(), 1);

  office::TOOCalcSheet& first = sheets.SheetByIndex(0);
  first.MeasureUsedArea();
  EXPECT_EQ(first.LastUsedRow(), 8);
  EXPECT_EQ(first.LastUsedColumn(), 3);
  office::TOOCalcSheet& empty = sheets.SheetByIndex(2);
  empty.MeasureUsedArea();
  EXPECT_EQ(empty.LastUsedRow(), 0);
  EXPECT_EQ(empty.LastUsedColumn(), 0);
}

TEST_F(RealOffice, RemoveSheetClosesUpTheRest) {
  calc->LoadDocument(MakeBook(), office::loHidden, 0);
  office::TOOCalcSheets& sheets = calc->Sheets();
  sheets.RemoveSheet(1);
  ASSERT_EQ(sheets.SheetCount(), 2);
  EXPECT_EQ(sheets.SheetByIndex(0).SheetName(), "Sheet1");
  EXPECT_EQ(sheets.SheetByIndex(1).SheetName(), "Sheet3");
  EXPECT_THROW(sheets.RemoveSheet(2), automation::Error);
  EXPECT_EQ(sheets.SheetCount(), 2);  // the bridge survived the refusal
}

TEST_F(RealOffice, CellsByNameByPositionAndInRanges) {
  RecordingFactory recording(SharedOffice());
  office::TOOCalc recorded(recording);
  recorded.Connect(true);
  recorded.LoadDocument(MakeBook(), office::loHidden, 0);
  office::TOOCalcSheet& sheet = recorded.Sheets().SheetByIndex(0);

  const std::size_t before = recording.calls.size();
  EXPECT_THROW(sheet.CellNamed("A1:B2"), automation::Error);
  EXPECT_EQ(recording.calls.size(), before);  // refused before any office call
  EXPECT_EQ(sheet.CellNamed("B1").ReadString(), "x");
  EXPECT_EQ(sheet.CellNamed("D9").ReadString(), "end");

  EXPECT_EQ(Variant(sheet.RangeAt(0, 0, 2, 0).DataArray()),
            Variant(VariantArray{VariantArray{5.0, "x", ""}}));

  EXPECT_EQ(sheet.CellAt(0, 0).BackColor(), 0x00FFFFFF);  // no fill
  EXPECT_EQ(sheet.CellAt(1, 1).BackColor(), 0x00FF0000);  // office 0x0000FF

  office::TOOCalcCell& cell = sheet.CellAt(5, 20);
  cell.WriteString("Grüße 😀 中文");
  EXPECT_EQ(sheet.CellAt(5, 20).ReadString(), "Grüße 😀 中文");
  recorded.Document.Call("close", true);
}

TEST_F(RealOffice, UnknownNamesNeverReachTheOffice) {
  calc->LoadDocument(MakeBook(), office::loHidden, 0);
  EXPECT_THROW(calc->Document.Call("NoSuchMethod"), automation::UnknownMemberError);
  EXPECT_THROW(calc->Desktop.Call("Frames"), automation::UnknownMemberError);  // a property
  EXPECT_THROW(calc->Document.Get("NoSuchProperty"), automation::UnknownMemberError);
  // Letter case is free, and the bridge is alive.
  EXPECT_EQ(calc->Document.Call("GETSHEETS").Call("getcount").AsInt(), 3);
  EXPECT_EQ(calc->Sheets().SheetByIndex(0).SheetObject.Get("name"), Variant("Sheet1"));
}

// Members are resolved once per interface type and then reached directly on other objects of
// that type: the shortcut must give the same answers and fall back where it does not fit.
TEST_F(RealOffice, MembersLearnedOnOneObjectServeOthersOfItsType) {
  calc->LoadDocument(MakeBook(), office::loHidden, 0);
  office::TOOCalcSheets& sheets = calc->Sheets();
  for (std::int32_t i = 0; i < 3; ++i)  // a getter-backed property on three sheet objects
    EXPECT_EQ(sheets.SheetByIndex(i).SheetName(), "Sheet" + std::to_string(i + 1));

  office::TOOCalcSheet& sheet = sheets.SheetByIndex(0);
  for (std::int32_t row = 0; row < 4; ++row) {  // property-set properties on new cells
    office::TOOCalcCell& cell = sheet.CellAt(6, row);
    cell.CellObject.Set("CellBackColor", 0x010203 * (row + 1));
    cell.WriteString("r" + std::to_string(row));
  }
  for (std::int32_t row = 0; row < 4; ++row) {
    EXPECT_EQ(sheet.CellAt(6, row).ReadString(), "r" + std::to_string(row));
    EXPECT_EQ(sheet.CellAt(6, row).CellObject.Get("cellbackcolor").AsInt(), 0x010203 * (row + 1));
  }

  // Another service under the same declared type lacks the member: our error, bridge alive.
  const Variant desktop = calc->ServiceManager.Call("CreateInstance", "com.sun.star.frame.Desktop");
  EXPECT_TRUE(desktop.Call("getFrames").IsObject());
  const Variant other =
      calc->ServiceManager.Call("CreateInstance", "com.sun.star.util.PathSettings");
  ASSERT_TRUE(other.IsObject());
  EXPECT_THROW(other.Call("getFrames"), automation::UnknownMemberError);

  // A wrong argument count is refused, not sent on by the shortcut.
  EXPECT_THROW(sheets.SheetByIndex(1).SheetObject.Call("getCellByPosition", 1), automation::Error);
  EXPECT_EQ(sheets.SheetByIndex(1).CellAt(0, 0).ReadString(), "second");
}

TEST_F(RealOffice, MacrosInADocumentNeverRun) {
  const fs::path marker = dir.path() / "macro-ran.txt";
  const std::string file = dir / "macro.ods";
  {
    calc->LoadDocument("", office::loHidden, 0);
    const Variant doc = calc->Document;
    const Variant libraries = doc.Get("BasicLibraries");
    const Variant library = libraries.Call("hasByName", "Standard").AsBool()
                                ? libraries.Call("getByName", "Standard")
                                : libraries.Call("createLibrary", "Standard");
    library.Call("insertByName", "Module1",
                 "Sub Main\n  Dim n As Integer\n  n = FreeFile\n  Open \"" + marker.string() +
                     "\" For Output As #n\n  Print #n, \"ran\"\n  Close #n\nEnd Sub\n");
    const Variant sm = calc->ServiceManager;
    Variant type = sm.Call("Bridge_GetStruct", "com.sun.star.beans.PropertyValue");
    type.Set("Name", "EventType");
    type.Set("Value", "Script");
    Variant script = sm.Call("Bridge_GetStruct", "com.sun.star.beans.PropertyValue");
    script.Set("Name", "Script");
    script.Set("Value",
               "vnd.sun.star.script:Standard.Module1.Main?language=Basic&location=document");
    doc.Call("getEvents").Call("replaceByName", "OnLoad", VariantArray{type, script});
    calc->StoreDocument(file, "Calc");
    doc.Call("close", true);
  }

  const std::string macro =
      "vnd.sun.star.script:Standard.Module1.Main?language=Basic&location=document";
  auto invoke = [&](const Variant& doc) {
    doc.Call("getScriptProvider")
        .Call("getScript", macro)
        .Call("invoke", VariantArray{}, VariantArray{}, VariantArray{});
  };

  calc->LoadDocument(file, office::loHidden, 0);
  const Variant doc = calc->Document;
  // The file binds the macro to its opening, and opening it ran nothing.
  EXPECT_EQ(Variant(doc.Call("getEvents").Call("getByName", "OnLoad")).Describe(),
            "[<object>, <object>]");
  EXPECT_EQ(calc->Sheets().SheetCount(), 1);
  EXPECT_FALSE(fs::exists(marker)) << "the macro ran on load";

  // Called, the macro does write the file: the proof above is not vacuous.
  invoke(doc);
  EXPECT_TRUE(WaitFor([&] { return fs::exists(marker); }, std::chrono::seconds(10)));
}

TEST_F(RealOffice, StaleLockFilesNeitherBlockNorAppear) {
  const std::string file = MakeBook("locked.ods");
  const fs::path stale = dir.path() / ".~lock.locked.ods#";
  char host[256] = "";
  ::gethostname(host, sizeof host);
  const passwd* pw = ::getpwuid(::getuid());
  const std::string user = pw ? pw->pw_name : "user";
  std::ofstream(stale) << user << "," << host << "," << user
                       << ",01.01.2026 00:00,file:///nonexistent/profile;";

  calc->LoadDocument(file, office::loHidden, 0);
  ASSERT_TRUE(calc->Document.IsObject());
  EXPECT_EQ(calc->Sheets().SheetCount(), 3);

  fs::remove(stale);
  const std::string other = MakeBook("plain.ods");
  calc->LoadDocument(other, office::loHidden, 0);
  EXPECT_TRUE(LockFiles(dir.path()).empty()) << "a lock file appears while the book is open";
  calc->StoreDocument(dir / "result.ods", "Calc");
  calc->StoreDocument(dir / "result.ods", "Calc");  // the same target twice
  EXPECT_TRUE(LockFiles(dir.path()).empty());
}

// An indicator object of ours that fails at every report.
class Raising : public automation::Object {
 public:
  Variant Call(std::string_view, const VariantArray&) override { throw automation::Error("ours"); }
  Variant Get(std::string_view) override { throw automation::Error("ours"); }
  void Set(std::string_view, const Variant&) override { throw automation::Error("ours"); }
};

struct Described : office::TOOCalc {
  using TOOCalc::MakePropertyValue;
  using TOOCalc::TOOCalc;
};

// The office tells our indicator, over the bridge while the call waits, how a load comes on
// all along and an xlsx store in steps; an indicator object of ours that raises at every
// report fails nothing of the office's work.
TEST_F(RealOffice, TheOfficeTellsHowALoadAndAStoreComeOn) {
  SheetSpec data{"Data", {}};
  for (int r = 0; r < 20000; ++r) {
    data.cells.push_back({0, r, "K" + std::to_string(r), {}, {}});
    data.cells.push_back({1, r, "", r * 1.5, {}});
  }
  WriteFlatOds(dir / "big.fods", {data});
  calc->LoadDocument(dir / "big.fods", office::loHidden, 0);
  const std::string file = dir / "big.ods";  // a flat file's load tells less
  calc->StoreDocument(file, "Calc");
  std::vector<double> told;
  calc->Progress = [&](double fraction) { told.push_back(fraction); };
  calc->LoadDocument(file, office::loHidden, 0);
  EXPECT_GE(told.size(), 10u);
  EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
  EXPECT_GT(told.back(), 0.9);
  told.clear();
  calc->StoreDocument(dir / "big.xlsx", "Xlsx");
  ASSERT_FALSE(told.empty());
  EXPECT_GT(told.front(), 0.0);

  Described raw(SharedOffice());
  raw.Connect(true);
  const Variant indicator = raw.ServiceManager.Call(
      "Bridge_StatusIndicator", automation::ObjectRef(std::make_shared<Raising>()));
  const Variant loaded = raw.Desktop.Call(
      "LoadComponentFromURL", office::FileNameToUrl(file), "_blank", std::int32_t{0},
      VariantArray{raw.MakePropertyValue("Hidden", true),
                   raw.MakePropertyValue("MacroExecutionMode", std::uint8_t{0}),
                   raw.MakePropertyValue("StatusIndicator", indicator)});
  ASSERT_TRUE(loaded.IsObject());
  EXPECT_EQ(loaded.Call("getSheets").Call("getCount").AsInt(), 1);
  loaded.Call("close", true);
}

}  // namespace

int main(int argc, char** argv) {
  return RunOfficeTests(argc, argv);
}

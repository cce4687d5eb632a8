// The choices for the result, read as other programs read them: the office for .ods and .xlsx,
// openpyxl for the kinds of .xlsx cells, Python's csv module for .csv.
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>

#include "cli/MergeCommand.hpp"
#include "support/OfficeTesting.hpp"

namespace {

using namespace office_testing;

// A tool's output, or the empty text when it cannot be run.
std::string Output(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  std::string text;
  if (!pipe) return text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
    text.append(buffer, got);
  return text;
}

std::string Script(const std::string& name) {
  return "/usr/bin/python3 '" + std::string(TABLOOM_SOURCE_DIR) + "/tests/support/" + name + "'";
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (const char c : text) {
    if (c == separator)
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

// An add table of every kind of value, keyed k0, k1, ... in column A with the value in B: the
// formatted numbers from row 21 on (the formulas refer to B21), the formula kinds, texts; a
// main table of the same keys and one that finds nothing.
struct Kinds {
  explicit Kinds(const TempDir& dir) : main(dir / "main.ods"), add(dir / "add.ods") {
    {
      NewBook book({"Add"});
      const Variant sheet = book.Sheet(0);
      const auto put = [&](std::int32_t row, const std::string& key) {
        sheet.Call("getCellByPosition", 0, row).Call("setString", key);
        rows.push_back(row);
        return sheet.Call("getCellByPosition", 1, row);
      };
      for (std::size_t i = 0; i < kFormattedNumbers.size(); ++i) {
        const Variant cell = put(static_cast<std::int32_t>(20 + i), "k" + std::to_string(i));
        cell.Call("setValue", kFormattedNumbers[i].first);
        if (!kFormattedNumbers[i].second.empty())
          cell.Set("NumberFormat", FormatKey(book.calc, kFormattedNumbers[i].second));
      }
      for (std::size_t i = 0; i < kFormulaKinds.size(); ++i)
        put(static_cast<std::int32_t>(50 + i), "f" + std::to_string(i))
            .Call("setFormula", std::string(kFormulaKinds[i]));
      put(60, "t0").Call("setString", "two\nlines, \"quoted\"");
      put(61, "t1").Call("setString", "Köln 😀");
      // Texts a spreadsheet might take for formulas: data all the same.
      put(62, "t2").Call("setString", "=1+1");
      put(63, "t3").Call("setString", "+49 30 1234");
      put(64, "t4").Call("setString", "-5 apples");
      put(65, "t5").Call("setString", "@home");
      book.Store(add);
    }
    MakeWorkbook(main, {{"Main", {}}});
    std::vector<CellSpec> keys = {{0, 0, "=nothing()", {}, {}}};
    office::TOOCalc calc(SharedOffice());
    calc.Connect(true);
    calc.LoadDocument(add, office::loHidden, 0);
    office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      keys.push_back(
          {0, static_cast<std::int32_t>(i + 1), sheet.CellAt(0, rows[i]).ReadString(), {}, {}});
      shown.push_back(sheet.CellAt(1, rows[i]).ReadString());
    }
    calc.Document.Call("close", true);
    MakeWorkbook(main, {{"Main", keys}});
  }

  // Merges into `target`; the command's status.
  int Merge(std::vector<std::string> options, const std::string& target) const {
    std::vector<std::string> args = {main, add, "-o", target, "--link", "A=A"};
    args.insert(args.end(), options.begin(), options.end());
    std::ostringstream out, err;
    const int status =
        cli::RunMerge(cli::ParseMergeArguments(args), SharedOffice(), out, err, false);
    EXPECT_EQ(status, cli::kMerged) << err.str();
    return status;
  }

  std::string main, add;
  std::vector<std::int32_t> rows;  // of the add table, in key order
  std::vector<std::string> shown;  // their B cells as the office shows them
};

// Column D of a result's rows 2.. as the office shows them: the copies of the add table's B.
std::vector<std::string> CopiedB(const std::string& file, std::size_t rows) {
  office::TOOCalc calc(SharedOffice());
  calc.Connect(true);
  calc.LoadDocument(file, office::loHidden, 0);
  office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
  std::vector<std::string> texts;
  for (std::size_t r = 1; r <= rows; ++r)
    texts.push_back(sheet.CellAt(3, static_cast<std::int32_t>(r)).ReadString());
  calc.Document.Call("close", true);
  return texts;
}

// With values kept, every copied cell shows what the add table shows, in the office's own
// format and in an xlsx file, whichever way it was copied; openpyxl reads numbers, dates and
// times as such, texts and errors as texts.
TEST(ResultChoices, KeptValuesShowWhatTheAddTableShows) {
  TempDir dir;
  const Kinds kinds(dir);
  for (const auto& [format, exact] :
       {std::pair{"ods", false}, std::pair{"xlsx", false}, std::pair{"ods", true}}) {
    SCOPED_TRACE(std::string(format) + (exact ? ", cell by cell" : ""));
    const std::string target = dir / ("result." + std::string(format));
    std::vector<std::string> options = {"--keep-values", "--format", format};
    if (exact) options.push_back("--exact-calls");
    ASSERT_EQ(kinds.Merge(options, target), cli::kMerged);
    EXPECT_EQ(CopiedB(target, kinds.shown.size()), kinds.shown);
  }

  std::map<std::string, std::string> kinds_of;  // "k3" -> "number"
  for (const std::string& line :
       Split(Output(Script("xlsx_cells.py") + " '" + dir / "result.xlsx" + "'"), '\n')) {
    const std::vector<std::string> cell = Split(line, '\t');
    if (cell.size() == 4 && cell[1] == "4") kinds_of["row " + cell[0]] = cell[2];
  }
  ASSERT_FALSE(kinds_of.empty()) << "scripts/setup installs python3-openpyxl for /usr/bin/python3";
  for (std::size_t i = 0; i < kinds.rows.size(); ++i) {
    const std::string row = "row " + std::to_string(i + 2);
    const std::int32_t at = kinds.rows[i];
    SCOPED_TRACE(row + ": " + kinds.shown[i]);
    const std::string& format =
        at < 50 ? kFormattedNumbers[static_cast<std::size_t>(at - 20)].second : std::string();
    if (format == "HH:MM:SS")
      EXPECT_EQ(kinds_of[row], "time");
    else if (format.find("YYYY") != std::string::npos || at == 54)  // =DATE(2024;2;29)
      EXPECT_EQ(kinds_of[row], "date");
    else if (at < 50 || at == 53 || at == 55)  // numbers, TRUE, a number from B21
      EXPECT_NE(kinds_of[row], "text");
    else
      EXPECT_EQ(kinds_of[row], "text");  // errors as they show, a text, texts
  }
}

// A csv result is the result sheet's texts as shown: Python's csv module reads the copies as
// the add table shows them, characters beyond ASCII, line breaks and quotes included, and
// texts that begin with "=", "+", "-" or "@" as they are; so does the unmatched list.
TEST(ResultChoices, ACsvResultIsTheResultSheetAsShown) {
  TempDir dir;
  const Kinds kinds(dir);
  ASSERT_EQ(kinds.Merge({"--keep-values", "--format", "csv", "--unmatched", dir / "unmatched"},
                        dir / "result"),
            cli::kMerged);
  EXPECT_EQ(Split(Output(Script("csv_rows.py") + " '" + dir / "unmatched" + "'"), '\x1e'),
            (std::vector<std::string>{"row\x1f"
                                      "A\x1fnearest\x1fwhy",
                                      "1\x1f=nothing()\x1f\x1f"}));
  const std::vector<std::string> rows =
      Split(Output(Script("csv_rows.py") + " '" + dir / "result.csv" + "'"), '\x1e');
  ASSERT_EQ(rows.size(), kinds.shown.size() + 1);
  EXPECT_EQ(Split(rows[0], '\x1f'), (std::vector<std::string>{"=nothing()", "", "", ""}));
  for (std::size_t i = 0; i < kinds.shown.size(); ++i) {
    const std::vector<std::string> fields = Split(rows[i + 1], '\x1f');
    ASSERT_EQ(fields.size(), 4u) << rows[i + 1];
    EXPECT_EQ(fields[3], kinds.shown[i]);
  }
}

// The lists of why rows matched or not, as Python's csv module reads them: the unmatched rows
// with their nearest keys, the add rows nobody took, every main row's outcome.
TEST(ResultChoices, TheListsOfWhyReadAsCsv) {
  TempDir dir;
  const std::string main = dir / "main.ods", add = dir / "add.ods";
  MakeWorkbook(main, {{"Main",
                       {{0, 0, "Key", {}, {}},
                        {0, 1, "C-042", {}, {}},
                        {0, 2, "Müller, \"A\"", {}, {}},
                        {0, 3, "Hamburgr", {}, {}},
                        {0, 4, "none", {}, {}}}}});
  MakeWorkbook(add, {{"Add",
                      {{0, 0, "Key", {}, {}},
                       {0, 1, "Hamburger", {}, {}},
                       {0, 2, "C-42", {}, {}},
                       {0, 3, "Müller, \"A\"", {}, {}},
                       {0, 4, "Z-1", {}, {}}}}});
  std::ostringstream out, err;
  ASSERT_EQ(
      cli::RunMerge(cli::ParseMergeArguments(
                        {main, add, "-o", dir / "r", "--link", "A=A", "--main-title-row", "1",
                         "--add-title-row", "1", "--near", "--unmatched", dir / "unmatched.csv",
                         "--unused", dir / "unused.csv", "--matches", dir / "matches.csv"}),
                    SharedOffice(), out, err, false),
      cli::kMerged)
      << err.str();
  EXPECT_NE(out.str().find("Done: 2 of 4 main rows matched (1 near)"), std::string::npos);
  const auto rows = [&](const std::string& name) {
    return Split(Output(Script("csv_rows.py") + " '" + dir / name + "'"), '\x1e');
  };
  using Rows = std::vector<std::string>;
  EXPECT_EQ(rows("unmatched.csv"),
            (Rows{"row\x1f"
                  "A\x1fnearest\x1fwhy",
                  "4\x1fHamburgr\x1fHamburger\x1fone edit", "5\x1fnone\x1f\x1f"}));
  EXPECT_EQ(rows("unused.csv"), (Rows{"row\x1f"
                                      "A",
                                      "2\x1fHamburger", "5\x1fZ-1"}));
  EXPECT_EQ(rows("matches.csv"),
            (Rows{"row\x1f"
                  "A\x1foutcome\x1f"
                  "add row\x1f"
                  "add A\x1fwhy",
                  "2\x1f"
                  "C-042\x1fnear\x1f"
                  "3\x1f"
                  "C-42\x1fleading zeros",
                  "3\x1fMüller, \"A\"\x1f"
                  "exact\x1f"
                  "4\x1fMüller, \"A\"\x1f",
                  "4\x1fHamburgr\x1fnone\x1f\x1f\x1f", "5\x1fnone\x1fnone\x1f\x1f\x1f"}));
}

// Only the chosen add columns, in their order, side by side from the first copy column; the
// title row likewise; both ways of copying alike.
TEST(ResultChoices, ChosenColumnsInTheirOrder) {
  TempDir dir;
  SheetSpec add{"Add", {}};
  const char* titles[] = {"Key", "B", "C", "D", "E", "F"};
  for (std::int32_t c = 0; c < 6; ++c) {
    add.cells.push_back({c, 0, titles[c], {}, {}});
    add.cells.push_back({c, 1, c == 0 ? "K1" : std::string(titles[c]) + "1", {}, {}});
  }
  MakeWorkbook(dir / "add.ods", {add});
  MakeWorkbook(dir / "main.ods", {{"Main", {{0, 0, "Key", {}, {}}, {0, 1, "K1", {}, {}}}}});
  for (const auto& [columns, expected] :
       {std::pair{"D:F", std::vector<std::string>{"D", "E", "F", "D1", "E1", "F1"}},
        std::pair{"C,A", std::vector<std::string>{"C", "Key", "", "C1", "K1", ""}}}) {
    for (const bool exact : {false, true}) {
      SCOPED_TRACE(std::string(columns) + (exact ? ", cell by cell" : ""));
      const std::string target = dir / "result.ods";
      std::vector<std::string> args = {dir / "main.ods",
                                       dir / "add.ods",
                                       "-o",
                                       target,
                                       "--link",
                                       "A=A",
                                       "--main-title-row",
                                       "1",
                                       "--add-title-row",
                                       "1",
                                       "--copy",
                                       columns};
      if (exact) args.push_back("--exact-calls");
      std::ostringstream out, err;
      ASSERT_EQ(cli::RunMerge(cli::ParseMergeArguments(args), SharedOffice(), out, err, false),
                cli::kMerged)
          << err.str();
      office::TOOCalc calc(SharedOffice());
      calc.Connect(true);
      calc.LoadDocument(target, office::loHidden, 0);
      office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
      std::vector<std::string> copied;
      for (std::int32_t r = 0; r < 2; ++r)
        for (std::int32_t c = 2; c < 5; ++c) copied.push_back(sheet.CellAt(c, r).ReadString());
      calc.Document.Call("close", true);
      EXPECT_EQ(copied, expected);
    }
  }
}

// A result an xlsx file cannot hold whole (a text longer than Excel keeps in a cell, in the
// main table or copied from the add table) is refused before anything is written.
TEST(ResultChoices, AnXlsxResultThatCannotHoldItAllIsRefused) {
  TempDir dir;
  const std::string longText(40000, 'x');
  for (const bool inMain : {true, false}) {
    MakeWorkbook(dir / "main.ods",
                 {{"Main", {{0, 0, "k", {}, {}}, {1, 0, inMain ? longText : "short", {}, {}}}}});
    MakeWorkbook(dir / "add.ods",
                 {{"Add", {{0, 0, "k", {}, {}}, {1, 0, inMain ? "short" : longText, {}, {}}}}});
    for (const bool exact : {false, true}) {
      SCOPED_TRACE(std::string(inMain ? "main" : "add") + (exact ? ", cell by cell" : ""));
      std::vector<std::string> args = {dir / "main.ods", dir / "add.ods", "-o",       dir / "r",
                                       "--link",         "A=A",           "--format", "xlsx"};
      if (exact) args.push_back("--exact-calls");
      std::ostringstream out, err;
      EXPECT_EQ(cli::RunMerge(cli::ParseMergeArguments(args), SharedOffice(), out, err, false),
                cli::kMergeFailed);
      EXPECT_EQ(err.str(),
                "The merge failed: An xlsx file holds at most 32,767 characters in a cell; a "
                "cell of the result holds 40000\n");
      EXPECT_FALSE(fs::exists(dir / "r.xlsx"));
    }
  }
}

}  // namespace

// What the batch command says it did, how far it copies, and the text files it reads: end to
// end through the real office.
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/MergeCommand.hpp"
#include "merge/MergeRun.hpp"
#include "support/OfficeTesting.hpp"

namespace {

using namespace office_testing;

std::string Slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class Report : public testing::Test {
 protected:
  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return cli::RunMerge(cli::ParseMergeArguments(args), SharedOffice(), out, err, false);
  }

  // The shown texts of one row of a written file's first sheet, columns given zero-based.
  std::vector<std::string> Row(const std::string& file, std::int32_t row,
                               const std::vector<std::int32_t>& columns) {
    office::TOOCalc calc(SharedOffice());
    calc.Connect(true);
    calc.LoadDocument(file, office::loHidden, 0);
    office::TOOCalcSheet& sheet = calc.Sheets().SheetByIndex(0);
    std::vector<std::string> texts;
    for (const std::int32_t c : columns) texts.push_back(sheet.CellAt(c, row).ReadString());
    calc.Document.Call("close", true);
    return texts;
  }

  TempDir dir;
  std::ostringstream out, err;
};

// 300 add columns arrive whole; at the office's last column (XFD) the rest is left out and
// said so; when not one fits, the run fails and writes nothing.
TEST_F(Report, EveryAddColumnIsCopiedUpToTheSheetsLastColumn) {
  std::vector<CellSpec> wide = {{0, 0, "k1", {}, {}}};
  for (std::int32_t c = 1; c < 300; ++c) wide.push_back({c, 0, "c" + std::to_string(c), {}, {}});
  WriteFlatOds(dir / "add.fods", {{"A", wide}});
  WriteFlatOds(dir / "main.fods", {{"M", {{0, 0, "k1", {}, {}}}}});
  ASSERT_EQ(Run({dir / "main.fods", dir / "add.fods", "-o", dir / "r", "--link", "A=A"}),
            cli::kMerged)
      << err.str();
  EXPECT_EQ(out.str(), "Result: " + dir / "r.ods" + "\nDone: 1 of 1 main rows matched\n");
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(Row(dir / "r.ods", 0, {2, 256, 301, 302}),
            (std::vector<std::string>{"k1", "c254", "c299", ""}));

  // The main sheet's used area ends at XFB: copies begin at XFD, one column is left.
  WriteFlatOds(dir / "edge.fods", {{"M", {{0, 0, "k1", {}, {}}, {16381, 0, "x", {}, {}}}}});
  ASSERT_EQ(Run({dir / "edge.fods", dir / "add.fods", "-o", dir / "edge-r.ods", "--link", "A=A"}),
            cli::kMerged)
      << err.str();
  EXPECT_EQ(err.str(),
            "Warning: 299 of 300 add columns were left out: the main sheet ends at "
            "column XFD.\n");
  EXPECT_EQ(Row(dir / "edge-r.ods", 0, {16381, 16383}), (std::vector<std::string>{"x", "k1"}));

  WriteFlatOds(dir / "full.fods", {{"M", {{0, 0, "k1", {}, {}}, {16383, 0, "x", {}, {}}}}});
  EXPECT_EQ(Run({dir / "full.fods", dir / "add.fods", "-o", dir / "full-r.ods", "--link", "A=A"}),
            cli::kMergeFailed);
  EXPECT_EQ(err.str(),
            "The merge failed: No add column fits: the copies would begin at column XFF, right "
            "of the main sheet's last column XFD\n");
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(fs::exists(dir / "full-r.ods"));
}

// A link column the office does not have is refused; one empty in its whole sheet, and keys
// that occur more than once in the add table, are warned of.
TEST_F(Report, LinksThatCannotBeRightAndDuplicateKeysAreReported) {
  std::vector<CellSpec> main, add;
  for (std::int32_t r = 0; r < 5; ++r)
    for (std::int32_t c = 0; c < 4; ++c) {
      main.push_back({c, r, "m" + std::to_string(r), {}, {}});
      add.push_back({c, r, r < 4 ? "k" + std::to_string(r / 2) : "k9", {}, {}});
    }
  WriteFlatOds(dir / "main.fods", {{"M", main}});
  WriteFlatOds(dir / "add.fods", {{"A", add}});
  EXPECT_EQ(Run({dir / "main.fods", dir / "add.fods", "-o", dir / "r.ods", "--link", "A=XFE"}),
            cli::kUsage);
  EXPECT_EQ(err.str(), "The link column XFE is beyond the office's last column XFD.\n");

  ASSERT_EQ(Run({dir / "main.fods", dir / "add.fods", "-o", dir / "r.ods", "--link", "E=E"}),
            cli::kMerged);
  EXPECT_EQ(err.str(),
            "Warning: The link column E of the main table is empty: its key part is blank in "
            "every row.\n"
            "Warning: The link column E of the add table is empty: its key part is blank in "
            "every row.\n"
            "Warning: 1 key occurs in more than one add row (\"\"): a main row with such a key "
            "receives one of them.\n");

  ASSERT_EQ(Run({dir / "main.fods", dir / "add.fods", "-o", dir / "r.ods", "--link", "B=B"}),
            cli::kMerged);
  EXPECT_EQ(err.str(),
            "Warning: 2 keys occur in more than one add row (\"k0\", \"k1\"): a main row with "
            "such a key receives one of them.\n"
            "Warning: 5 main rows found no add row: row 1 (\"m0\"), row 2 (\"m1\"), row 3 "
            "(\"m2\").\n");
  EXPECT_EQ(out.str(), "Result: " + dir / "r.ods" + "\nDone: 0 of 5 main rows matched\n");
}

// Text files as spreadsheets and scripts write them: UTF-8 with or without a byte order mark,
// semicolons or commas, quoted separators; their own texts arrive unchanged in the result.
TEST_F(Report, Utf8TextFilesMergeWithTheirOwnTexts) {
  std::ofstream(dir / "orders.csv") << "\xef\xbb\xbf"
                                       "Stadt;Betrag\r\nZ\xc3\xbcrich;1,5\r\nK\xc3\xb6ln;2\r\n"
                                       "\"Gen\xc3\xa8ve; GE\";3\r\n";
  std::ofstream(dir / "cities.csv") << "Ort,Land,Note\nz\xc3\xbcrich,CH,\"a, b\"\n"
                                       "K\xc3\x96LN,DE,\"line one\"\n\"gen\xc3\xa8ve; ge\",CH,x\n";
  ASSERT_EQ(Run({dir / "orders.csv", dir / "cities.csv", "-o", dir / "r.ods", "--link", "A=A",
                 "--main-title-row", "1", "--add-title-row", "1", "--ignore-case"}),
            cli::kMerged)
      << err.str();
  EXPECT_EQ(out.str(), "Result: " + dir / "r.ods" + "\nDone: 3 of 3 main rows matched\n");
  EXPECT_EQ(Row(dir / "r.ods", 0, {0, 1, 3, 4, 5}),
            (std::vector<std::string>{"Stadt", "Betrag", "Ort", "Land", "Note"}));
  EXPECT_EQ(Row(dir / "r.ods", 1, {0, 3, 4, 5}),
            (std::vector<std::string>{"Z\xc3\xbcrich", "z\xc3\xbcrich", "CH", "a, b"}));
  EXPECT_EQ(Row(dir / "r.ods", 2, {0, 3}),
            (std::vector<std::string>{"K\xc3\xb6ln", "K\xc3\x96LN"}));
  EXPECT_EQ(Row(dir / "r.ods", 3, {0, 4}), (std::vector<std::string>{"Gen\xc3\xa8ve; GE", "CH"}));
}

// A text file with more rows than a sheet holds would load cut without a word: as either
// table it cannot be opened, and the command says why.
TEST_F(Report, ATextFileLongerThanASheetCannotBeOpened) {
  const std::string csv = dir / "long.csv";
  {
    std::ofstream out(csv, std::ios::binary);
    out << "id,value\n";
    for (int r = 0; r < 1100000; ++r) out << 'k' << r << ",v\n";
  }
  WriteFlatOds(dir / "other.fods", {{"A", {{0, 0, "k1", {}, {}}}}});
  const std::string sentence = csv +
                               " has 1,100,001 rows; a sheet holds at most 1,048,576: it cannot "
                               "be opened whole.\n";
  EXPECT_EQ(Run({csv, dir / "other.fods", "-o", dir / "r.ods", "--link", "A=A"}), cli::kCannotOpen);
  EXPECT_EQ(err.str(), sentence);
  EXPECT_EQ(Run({dir / "other.fods", csv, "-o", dir / "r.ods", "--link", "A=A"}), cli::kCannotOpen);
  EXPECT_EQ(err.str(), sentence);
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(fs::exists(dir / "r.ods"));
}

// `--` ends the options; an empty file is no workbook; a failed start says why.
TEST_F(Report, TheCommandsEdges) {
  WriteFlatOds(dir / "-x.fods", {{"M", {{0, 0, "k", {}, {}}}}});
  WriteFlatOds(dir / "add.fods", {{"A", {{0, 0, "k", {}, {}}, {1, 0, "v", {}, {}}}}});
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  const int status = Run({"-o", "r.ods", "--link", "A=A", "--", "-x.fods", "add.fods"});
  fs::current_path(before);
  EXPECT_EQ(status, cli::kMerged) << err.str();
  EXPECT_EQ(Row(dir / "r.ods", 0, {2, 3}), (std::vector<std::string>{"k", "v"}));

  std::ofstream(dir / "empty.ods").flush();
  EXPECT_EQ(Run({dir / "empty.ods", dir / "add.fods", "-o", dir / "r2.ods", "--link", "A=A"}),
            cli::kCannotOpen);
  EXPECT_EQ(err.str(), "The main table " + dir / "empty.ods" +
                           " cannot be opened: the file is "
                           "empty.\n");

  const std::string errors = dir / "stderr.txt";
  const std::string command = "UNO_PATH=/nonexistent/program '" + std::string(TABLOOM_BINARY) +
                              "' merge '" + dir / "-x.fods" + "' '" + dir / "add.fods" + "' -o '" +
                              dir / "r3.ods" + "' --link A=A 2>'" + errors + "'";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), cli::kNoOffice);
  EXPECT_EQ(Slurp(errors),
            "To use Tabloom you must have LibreOffice installed on your PC.\n"
            "No office suite found (set UNO_PATH to its program folder)\n");
}

}  // namespace

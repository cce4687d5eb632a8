// The batch command end to end on real workbooks through the real LibreOffice.
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/MergeCommand.hpp"
#include "support/OfficeTesting.hpp"

namespace {

using namespace office_testing;
using automation::Variant;

constexpr std::int32_t kTextCell = 2;  // com.sun.star.table.CellContentType TEXT

std::string Bytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class BatchMerge : public testing::Test {
 protected:
  void SetUp() override {
    main = dir / "main.ods";
    add = dir / "add.ods";
    MakeWorkbook(main, {{"Notes", {{0, 0, "ignore me", {}, {}}}},
                        {"Orders",
                         {{0, 0, "Order", {}, {}},
                          {1, 0, "Customer", {}, {}},
                          {0, 1, "", 1001.0, {}},
                          {1, 1, "C-17", {}, {}},
                          {0, 2, "", 1002.0, {}},
                          {1, 2, "c-03 ", {}, {}},
                          {0, 3, "", 1003.0, {}},
                          {1, 3, "C-42", {}, {}}}}});
    MakeWorkbook(add, {{"Customers",
                        {{0, 0, "ID", {}, {}},
                         {1, 0, "Name", {}, {}},
                         {2, 0, "Since", {}, {}},
                         {0, 1, "C-03", {}, {}},
                         {1, 1, "Åsa", {}, {}},
                         {2, 1, "", 2019.5, {}},
                         {0, 2, "C-17", {}, {}},
                         {1, 2, "Chloé", {}, {}}}}});
    mainBytes = Bytes(main);
    addBytes = Bytes(add);
  }

  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return cli::RunMerge(cli::ParseMergeArguments(args), SharedOffice(), out, err, false);
  }

  TempDir dir;
  std::string main, add, mainBytes, addBytes;
  std::ostringstream out, err;
};

TEST_F(BatchMerge, WritesTheMainSheetWithCopiedTextCells) {
  const std::string target = dir / "result";
  ASSERT_EQ(Run({main, add, "-o", target, "--link", "B=A", "--main-sheet", "Orders",
                 "--main-title-row", "1", "--add-title-row", "1", "--ignore-case"}),
            cli::kMerged)
      << err.str();
  EXPECT_EQ(out.str(), "Result: " + target + ".ods\nDone: 2 of 3 main rows matched\n");
  EXPECT_EQ(Bytes(main), mainBytes);
  EXPECT_EQ(Bytes(add), addBytes);

  office::TOOCalc calc(SharedOffice());
  calc.Connect(true);
  calc.LoadDocument(target + ".ods", office::loHidden, 0);
  office::TOOCalcSheets& sheets = calc.Sheets();
  ASSERT_EQ(sheets.SheetCount(), 1);
  office::TOOCalcSheet& sheet = sheets.SheetByIndex(0);
  EXPECT_EQ(sheet.SheetName(), "Orders");
  const std::vector<std::vector<std::string>> expected = {
      {"ID", "Name", "Since"}, {"C-17", "Chloé", ""}, {"C-03", "Åsa", "2019.5"}, {"", "", ""}};
  for (std::int32_t r = 0; r < 4; ++r)
    for (std::int32_t c = 0; c < 3; ++c) {
      office::TOOCalcCell& cell = sheet.CellAt(3 + c, r);  // two columns + 2: from D
      const std::string& text = expected[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
      EXPECT_EQ(cell.ReadString(), text) << r << "," << c;
      if (!text.empty()) {
        EXPECT_EQ(cell.CellObject.Call("getType").AsInt(), kTextCell);
      }
    }
  EXPECT_EQ(sheet.CellAt(0, 1).ReadString(), "1001");
  calc.Document.Call("close", true);
}

TEST_F(BatchMerge, ExitStatusesOfEachFailureClass) {
  EXPECT_EQ(Run({main, add, "-o", main, "--link", "B=A"}), cli::kUsage);
  EXPECT_EQ(Run({main, add, "-o", dir / "main", "--link", "B=A"}), cli::kUsage);
  EXPECT_EQ(Run({dir / "missing.ods", add, "-o", dir / "r.ods", "--link", "B=A"}),
            cli::kCannotOpen);
  EXPECT_EQ(Run({main, add, "-o", dir / "r.ods", "--link", "B=A", "--add-sheet", "Nope"}),
            cli::kCannotOpen);
  // Under a plain file the office cannot write (a missing folder it would create).
  std::ofstream(dir / "plain.txt") << "x";
  EXPECT_EQ(Run({main, add, "-o", (dir.path() / "plain.txt" / "r.ods").string(), "--link", "B=A"}),
            cli::kMergeFailed);
  EXPECT_FALSE(err.str().empty());
  EXPECT_EQ(Bytes(main), mainBytes);
  EXPECT_EQ(Bytes(add), addBytes);
}

}  // namespace

int main(int argc, char** argv) {
  return RunOfficeTests(argc, argv);
}

#include "support/OfficeTesting.hpp"

using namespace office_testing;

class Smoke : public OfficeTest {};

TEST_F(Smoke, NewDocument) {
  calc->LoadDocument("", office::loHidden, 0);
  auto& sheets = calc->Sheets();
  EXPECT_EQ(sheets.SheetCount(), 1);
  auto& cell = sheets.SheetByIndex(0).CellAt(0, 0);
  cell.WriteString("héllo");
  EXPECT_EQ(cell.ReadString(), "héllo");
}

int main(int argc, char** argv) { return RunOfficeTests(argc, argv); }

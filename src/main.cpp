// Tabloom. Until the windows arrive this entry point shows the office layer at work: it starts
// the office, opens the given workbooks (or the example) hidden, and lists their sheets.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "office/uOpenOffice.hpp"

namespace {

int ListWorkbooks(const std::vector<std::string>& files) {
  office::TOOCalc calc;
  calc.Connect(true);
  if (!calc.IsConnected()) {
    std::fprintf(stderr, "To use Tabloom you must have LibreOffice installed on your PC.\n");
    return 4;
  }
  int status = 0;
  for (const std::string& file : files) {
    try {
      calc.LoadDocument(file, office::loHidden, 0);
      office::TOOCalcSheets& sheets = calc.Sheets();
      const std::int32_t count = sheets.SheetCount();
      std::printf("%s: %d sheet(s)\n", file.c_str(), count);
      for (std::int32_t i = 0; i < count; ++i) {
        office::TOOCalcSheet& sheet = sheets.SheetByIndex(i);
        sheet.MeasureUsedArea();
        std::printf("  %-20s %d rows x %d columns, A1 = \"%s\"\n", sheet.SheetName().c_str(),
                    sheet.LastUsedRow() + 1, sheet.LastUsedColumn() + 1,
                    sheet.CellAt(0, 0).ReadString().c_str());
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(), e.what());
      status = 3;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files(argv + 1, argv + argc);
  if (files.empty()) {
    const auto example = std::filesystem::path(TABLOOM_SOURCE_DIR) / "examples" / "orders.ods";
    files.push_back(example.string());
  }
  return ListWorkbooks(files);
}

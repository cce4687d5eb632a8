// Costs of the office layer against the real LibreOffice: one late-bound round trip, and the
// office's own load and store of a 10,000 x 10 workbook. Prints medians; see README.md.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "office/uOpenOffice.hpp"
#include "support/OfficeTesting.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using automation::Variant;
using office_testing::SheetSpec;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Median milliseconds of `runs` runs of `work`, each timed alone.
double MedianMs(int runs, const std::function<void()>& work) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    work();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return Median(ms);
}

void Row(const char* what, double ms, const char* unit = "ms") {
  std::printf("| %-52s | %10.3f %s |\n", what, ms, unit);
}

}  // namespace

int main() {
  office_testing::TempDir dir;
  office::TOOCalc calc(office_testing::SharedOffice());
  const double connectMs = MedianMs(1, [&] { calc.Connect(true); });
  if (!calc.IsConnected()) {
    std::fprintf(stderr, "no office\n");
    return 1;
  }

  // 10,000 x 10: a text key column, then numbers and texts.
  constexpr int kRows = 10000, kColumns = 10;
  SheetSpec sheet{"Data", {}};
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kColumns; ++c) {
      office_testing::CellSpec cell{c, r, "", {}, {}};
      if (c % 2)
        cell.number = r * 10.0 + c + 0.25;
      else
        cell.text = "K" + std::to_string(r) + "-" + std::to_string(c);
      sheet.cells.push_back(cell);
    }
  const std::string flat = dir / "big.fods";
  office_testing::WriteFlatOds(flat, {sheet});
  calc.LoadDocument(flat, office::loHidden, 0);
  const std::string big = dir / "big.ods";
  calc.StoreDocument(big, "Calc");
  calc.Document.Call("close", true);

  std::printf("| %-52s | %13s |\n", "what (median)", "cost");
  std::printf("|%s|%s|\n", std::string(54, '-').c_str(), std::string(15, '-').c_str());
  Row("start the office and connect (one run)", connectMs);

  // One late-bound round trip on a held cell, and the cursor path the store uses per cell.
  calc.LoadDocument(big, office::loHidden, 0);
  office::TOOCalcSheet& s = calc.Sheets().SheetByIndex(0);
  office::TOOCalcCell& cell = s.CellAt(0, 0);
  constexpr int kCalls = 2000;
  std::vector<double> perCall;
  for (int i = 0; i < kCalls; ++i) {
    const auto start = Clock::now();
    cell.ReadString();
    perCall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  Row("GetString on a held cell (one round trip)", Median(perCall));
  perCall.clear();
  for (int i = 0; i < 500; ++i) {
    const auto start = Clock::now();
    s.CellAt(i % kColumns, i).ReadString();
    perCall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  Row("CellAt + GetString (new cell object each time)", Median(perCall));
  perCall.clear();
  for (int i = 0; i < 500; ++i) {
    const auto start = Clock::now();
    s.CellNamed("B" + std::to_string(i + 1)).ReadString();
    perCall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  Row("CellNamed + GetString", Median(perCall));
  {
    std::vector<double> get, first, second;
    for (int i = 0; i < 300; ++i) {
      auto t0 = Clock::now();
      Variant c = s.SheetObject.Call("GetCellByPosition", 1, i);
      auto t1 = Clock::now();
      c.Call("GetString");
      auto t2 = Clock::now();
      c.Call("GetString");
      auto t3 = Clock::now();
      get.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      first.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
      second.push_back(std::chrono::duration<double, std::milli>(t3 - t2).count());
    }
    Row("  getCellByPosition alone", Median(get));
    Row("  first GetString on it (interface query + call)", Median(first));
    Row("  second GetString on it", Median(second));
  }
  Row("DataArray of 10,000 x 10 (one call)",
      MedianMs(5, [&] { s.RangeAt(0, 0, kColumns - 1, kRows - 1).DataArray(); }));
  calc.Document.Call("close", true);

  Row("load 10,000 x 10 .ods hidden", MedianMs(5, [&] {
        calc.LoadDocument(big, office::loHidden, 0);
        calc.Document.Call("close", true);
      }));
  calc.LoadDocument(big, office::loHidden, 0);
  Row("store 10,000 x 10 as calc8",
      MedianMs(5, [&] { calc.StoreDocument(dir / "stored.ods", "Calc"); }));
  calc.Document.Call("close", true);
  office_testing::SharedOffice().Release();
  return 0;
}

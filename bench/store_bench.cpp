// Costs of the workbook store's per-cell paths against the real LibreOffice: CellText (one
// lookup by address, as the key building uses it), CachedCell of a new row, and CopyRow of a
// 10-column row. Prints medians per call; see README.md.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "store/UClc.hpp"
#include "support/OfficeTesting.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <typename F>
double MedianPerCall(int calls, F&& call) {
  std::vector<double> ms;
  for (int i = 0; i < calls; ++i) {
    const auto start = Clock::now();
    call(i);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return Median(ms);
}

}  // namespace

int main() {
  office_testing::TempDir dir;
  constexpr int kRows = 1000, kColumns = 10;
  office_testing::SheetSpec data{"Data", {}};
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kColumns; ++c)
      data.cells.push_back(c % 2 ? office_testing::CellSpec{c, r, "", r + c * 0.5, {}}
                                 : office_testing::CellSpec{c, r, "T" + std::to_string(r), {}, {}});
  const std::string source = dir / "source.fods";
  office_testing::WriteFlatOds(source, {data});

  // Released before main returns: office objects must not outlive UNO's statics.
  struct Release {
    ~Release() { office_testing::SharedOffice().Release(); }
  } release;
  store::clc store(office_testing::SharedOffice());
  if (!store.Connected) return 1;
  const std::int32_t add = store.OpenBook(source);
  const std::int32_t main = store.OpenBook(source);
  if (add < 0 || main < 0) return 1;

  std::printf("| %-48s | %10s |\n", "what (median per call, 1,000 x 10 sheet)", "cost");
  std::printf("|%s|%s|\n", std::string(50, '-').c_str(), std::string(12, '-').c_str());
  std::printf("| %-48s | %7.3f ms |\n", "CellText (same book)",
              MedianPerCall(1000, [&](int i) { store.CellText(add, 0, 1 + i % kColumns, 1 + i); }));
  std::printf("| %-48s | %7.3f ms |\n", "CellText, alternating two books",
              MedianPerCall(1000, [&](int i) {
                store.CellText(i % 2 ? add : main, 0, 1 + i % kColumns, 1 + i);
              }));
  std::printf(
      "| %-48s | %7.3f ms |\n", "CachedCell of a new row (reads 10 cells)",
      MedianPerCall(300, [&](int i) { store.CachedCell(add, 0, 1, 1 + (i * 37) % kRows); }));
  std::printf("| %-48s | %7.3f ms |\n", "CopyRow of a 10-column row (1 read, 10 writes)",
              MedianPerCall(500, [&](int i) { store.CopyRow(add, main, 0, 0, 1 + i, 1 + i, 12); }));
  for (const auto& doc : store.Office->Documents) doc.Call("close", true);
  return 0;  // the store and with it the office end here, before UNO's statics
}

// Tabloom. `tabloom merge ...` is the batch command. Until the windows arrive, any other
// arguments are workbooks to list: the office opens them hidden and the store shows their
// sheets with the first row of each.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/MergeCommand.hpp"
#include "store/UClc.hpp"

namespace {

int ListWorkbooks(const std::vector<std::string>& files) {
  store::clc books;
  if (!books.Connected) {
    std::fprintf(stderr, "To use Tabloom you must have LibreOffice installed on your PC.\n");
    return 4;
  }
  int status = 0;
  for (const std::string& file : files) {
    const std::int32_t book = books.OpenBook(file);
    if (book < 0) {
      std::fprintf(stderr, "%s: cannot be opened\n", file.c_str());
      status = 3;
      continue;
    }
    const store::clc_file& entry = books.Books[static_cast<std::size_t>(book)];
    std::printf("%s: %zu sheet(s)\n", entry.ShortName.c_str(), entry.SheetList.size());
    for (std::size_t s = 0; s < entry.SheetList.size(); ++s) {
      const store::sheet& sheet = entry.SheetList[s];
      std::printf("  %-16s %4d rows x %3d columns |", sheet.Name.c_str(), sheet.RowCount,
                  sheet.ColCount);
      for (std::int32_t c = 1; c <= std::min(sheet.ColCount, 6); ++c)
        std::printf(" %s |",
                    books.CachedCell(book, static_cast<std::int32_t>(s), c, 1).Text.c_str());
      std::printf("\n");
    }
  }
  return status;
}

int Merge(const std::vector<std::string>& args) {
  try {
    const cli::MergeOptions options = cli::ParseMergeArguments(args);
    if (options.help) {
      std::cout << cli::kMergeUsage;
      return cli::kMerged;
    }
    return cli::RunMerge(options, automation::SystemFactory(), std::cout, std::cerr,
                         ::isatty(STDERR_FILENO) != 0);
  } catch (const cli::UsageError& e) {
    std::cerr << e.what() << "\nTry 'tabloom merge --help'.\n";
    return cli::kUsage;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files(argv + 1, argv + argc);
  if (!files.empty() && files[0] == "merge") return Merge({files.begin() + 1, files.end()});
  if (!files.empty() && files[0] == "--version") {
    std::cout << TABLOOM_VERSION << "\n";
    return 0;
  }
  if (!files.empty() && (files[0] == "--help" || files[0] == "-h")) {
    std::cout << "usage: tabloom                 start Tabloom\n"
                 "       tabloom merge ...       merge two tables without windows\n"
                 "       tabloom --version\n\n"
              << cli::kMergeUsage;
    return 0;
  }
  if (files.empty()) {
    const auto examples = std::filesystem::path(TABLOOM_SOURCE_DIR) / "examples";
    files = {(examples / "orders.ods").string(), (examples / "customers.ods").string()};
  }
  return ListWorkbooks(files);
}

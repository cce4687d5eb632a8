// The store's pivot tables: those whose data come from another sheet.
#include "store/UClc.hpp"

namespace store {

std::vector<std::pair<std::string, std::string>> clc::PivotsFromElsewhere(std::int32_t book,
                                                                          std::int32_t sheet) {
  Use(book);
  const sheets& list = Books.at(static_cast<std::size_t>(book)).SheetList;
  std::vector<std::pair<std::string, std::string>> found;
  for (const office::PivotTable& pivot : Office->Sheets().SheetByIndex(sheet).PivotTables())
    if (pivot.sourceSheet != sheet)
      found.emplace_back(
          pivot.name,
          pivot.sourceSheet >= 0 && pivot.sourceSheet < static_cast<std::int32_t>(list.size())
              ? list[static_cast<std::size_t>(pivot.sourceSheet)].Name
              : std::string());
  return found;
}

}  // namespace store

// The store's export: a sheet's texts as shown, written by the office as delimited text and read
// back whole.
#include "store/UClc.hpp"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "automation/PrivateFolder.hpp"

namespace store {

namespace {

// A folder of our own for the office to write into, removed whole.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code ec;
    try {
      path_ = automation::MakePrivateFolder(std::filesystem::temp_directory_path(ec).string(),
                                            "tabloom-");
    } catch (const std::runtime_error& e) {
      throw automation::Refused(e.what());  // no scratch folder: the office is asked otherwise
    }
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

void clc::ReadExport(std::int32_t book, std::int32_t sheet, DelimitedReader& reader) {
  Use(book);
  const ScratchFolder folder;
  const std::string file = Office->ExportShownTexts(sheet, folder.path());
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size == 0)
    throw automation::Refused("The office's text of the sheet is missing or empty");
  std::ifstream in(file, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  std::uintmax_t read = 0;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    const auto got = static_cast<std::size_t>(in.gcount());
    reader.Feed(std::string_view(buffer.data(), got));
    read += got;
  }
  if (in.bad() || read != size)
    throw automation::Refused("The office's text of the sheet could not be read whole");
  reader.Finish();
}

std::size_t CharacterCount(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::size_t clc::LongestShownText(std::int32_t book, std::int32_t sheet) {
  std::size_t longest = 0;
  DelimitedReader reader([&](std::int32_t, std::int32_t, std::string&& text) {
    // Bytes are never fewer than characters: most texts need no count.
    if (text.size() > longest) longest = std::max(longest, CharacterCount(text));
  });
  ReadExport(book, sheet, reader);
  return longest;
}

std::vector<std::vector<std::string>> clc::ExportedTexts(std::int32_t book, std::int32_t sheet) {
  std::vector<std::vector<std::string>> rows;
  DelimitedReader reader([&](std::int32_t row, std::int32_t column, std::string&& text) {
    if (static_cast<std::size_t>(row) >= rows.size())
      rows.resize(static_cast<std::size_t>(row) + 1);
    auto& cells = rows[static_cast<std::size_t>(row)];
    if (static_cast<std::size_t>(column) >= cells.size())
      cells.resize(static_cast<std::size_t>(column) + 1);
    cells[static_cast<std::size_t>(column)] = std::move(text);
  });
  ReadExport(book, sheet, reader);
  return rows;
}

}  // namespace store

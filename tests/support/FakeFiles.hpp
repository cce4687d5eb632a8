// Result files on the in-memory office's "disk" (its files by URL): the temporary file is an
// entry of its own, which the replace moves to the target's URL.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "merge/ResultFile.hpp"
#include "office/uOpenOffice.hpp"
#include "support/FakeOffice.hpp"

namespace fake {

class FakeFiles : public merge::ResultFiles {
 public:
  explicit FakeFiles(FakeOffice& office) : office_(office) {}

  std::string CreateTemporary(const std::string& target) override {
    if (refuseFolder) throw std::runtime_error("Cannot write in the folder: injected");
    const std::size_t slash = target.rfind('/');
    // The target's own name after a hidden prefix, as on disk: a store keeps its extension.
    const std::string name = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) +
                             ".tabloom-" + std::to_string(++created) + "-" +
                             target.substr(slash == std::string::npos ? 0 : slash + 1);
    office_.files[office::FileNameToUrl(name)] = Workbook{};
    return name;
  }
  void Replace(const std::string& temporary, const std::string& target) override {
    auto entry = office_.files.extract(office::FileNameToUrl(temporary));
    if (entry.empty()) throw std::runtime_error("No temporary file " + temporary);
    office_.files.insert_or_assign(office::FileNameToUrl(target), std::move(entry.mapped()));
    if (auto text = texts.extract(temporary); !text.empty())
      texts.insert_or_assign(target, std::move(text.mapped()));
  }
  void Remove(const std::string& temporary) noexcept override {
    office_.files.erase(office::FileNameToUrl(temporary));
    texts.erase(temporary);
  }
  void Write(const std::string& temporary, std::string_view text) override {
    if (refuseWrite) throw std::runtime_error("Cannot write " + temporary + ": injected");
    texts[temporary] = std::string(text);
  }

  bool refuseFolder = false;
  bool refuseWrite = false;
  int created = 0;
  std::map<std::string, std::string> texts;  // the lists written, by file name

 private:
  FakeOffice& office_;
};

// What runs left on the "disk" of the in-memory office: temporary files by URL.
inline std::vector<std::string> Temporaries(const FakeOffice& office) {
  std::vector<std::string> found;
  for (const auto& [url, book] : office.files)
    if (url.find("/.tabloom-") != std::string::npos) found.push_back(url);
  return found;
}

}  // namespace fake

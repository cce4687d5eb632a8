#include "update/UpdateCheck.hpp"

#include <pugixml.hpp>

namespace update {

std::string ExtractMarkup(const std::string& answer) {
  const std::size_t first = answer.find('<');
  const std::size_t last = answer.rfind('>');
  if (first == std::string::npos || last == std::string::npos || last < first) return {};
  return answer.substr(first, last - first + 1);
}

std::optional<std::string> AnsweredVersion(const std::string& answer) {
  const std::string markup = ExtractMarkup(answer);
  if (markup.empty()) return std::nullopt;
  pugi::xml_document document;
  if (!document.load_buffer(markup.data(), markup.size())) return std::nullopt;
  const pugi::xml_attribute val = document.document_element().child("version").attribute("val");
  if (!val) return std::nullopt;
  return std::string(val.value());
}

bool OfferUpdate(const std::string& answer, const std::string& programVersion) {
  const std::optional<std::string> version = AnsweredVersion(answer);
  return version && *version != programVersion;
}

}  // namespace update

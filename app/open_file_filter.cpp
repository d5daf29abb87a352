#include "app/open_file_filter.h"

#include <vector>

#include "util/bounded_text.h"

namespace fg::app {

std::string BuildCatalogFilter(const ModelCatalog& catalog) {
  // The dialog opens on the first entry. The models share their extension, so an entry named
  // after one model would say "WX2040" while any model's file is being picked: the first entry
  // names the extensions of every model instead, and each model's own entry follows.
  std::string patterns;
  for (int32_t i = 0; i < catalog.modelCount; ++i) {
    const ModelInfo& m = catalog.models[i];
    const std::string pattern =
        "*." + std::string(m.fileExtension, BoundedLength(m.fileExtension, sizeof m.fileExtension));
    if ((";" + patterns + ";").find(";" + pattern + ";") == std::string::npos)
      patterns += (patterns.empty() ? "" : ";") + pattern;
  }
  std::string filter;
  if (catalog.modelCount > 1) filter = "Firmware files of every model|" + patterns + "|";
  for (int32_t i = 0; i < catalog.modelCount; ++i) {
    const ModelInfo& m = catalog.models[i];
    const std::string name(m.name, BoundedLength(m.name, sizeof m.name));
    const std::string ext(m.fileExtension, BoundedLength(m.fileExtension, sizeof m.fileExtension));
    filter += name + " (*." + ext + ")|*." + ext + "|";
  }
  return filter;
}

std::string ToQtFilter(const std::string& pipeFilter) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : pipeFilter) {
    if (c == '|') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);

  std::string result;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    const std::string& display = parts[i];
    const std::string& pattern = parts[i + 1];
    std::string entry = display;
    if (display.find('(') == std::string::npos) {
      // Qt separates several patterns with blanks, the platform filter with ";".
      std::string spaced = pattern;
      for (char& c : spaced) {
        if (c == ';') c = ' ';
      }
      entry += " (" + spaced + ")";
    }
    if (!result.empty()) result += ";;";
    result += entry;
  }
  return result;
}

}  // namespace fg::app

#include "app/dialog/open_file_filter.h"

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

}  // namespace fg::app

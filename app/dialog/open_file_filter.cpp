#include "app/dialog/open_file_filter.h"

#include "util/bounded_text.h"

namespace fg::app {

std::string BuildCatalogFilter(const ModelCatalog& catalog) {
  std::string filter;
  for (int32_t i = 0; i < catalog.modelCount; ++i) {
    const ModelInfo& m = catalog.models[i];
    const std::string name(m.name, BoundedLength(m.name, sizeof m.name));
    const std::string ext(m.fileExtension, BoundedLength(m.fileExtension, sizeof m.fileExtension));
    filter += name + " (*." + ext + ")|*." + ext + "|";
  }
  return filter;
}

}  // namespace fg::app

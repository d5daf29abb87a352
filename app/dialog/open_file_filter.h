// The Open File dialog's filter, one entry per catalogue model, in the platform's "|" form;
// each toolkit turns it into its own (Qt's ";;" list, the Win32 NUL-separated pairs).
#pragma once
#include <string>

#include "catalog/model_catalog.h"

namespace fg::app {

// "%s (*.%s)|*.%s|" per model, in catalogue order: display names and patterns separated by "|".
std::string BuildCatalogFilter(const ModelCatalog& catalog);

}  // namespace fg::app

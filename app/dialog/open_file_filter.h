// The Open File dialog's filter, one entry per catalogue model, in the platform's "|" form;
// each toolkit turns it into its own (Qt's ";;" list, the Win32 NUL-separated pairs).
#pragma once
#include <string>

#include "catalog/model_catalog.h"

namespace fg::app {

// "Firmware files of every model|*.fq|" first (the entry the dialog opens on; its patterns are
// the catalogue's extensions, each once), then "%s (*.%s)|*.%s|" per model, in catalogue order:
// display names and patterns separated by "|".
std::string BuildCatalogFilter(const ModelCatalog& catalog);

}  // namespace fg::app

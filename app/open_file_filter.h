// The Open File dialog's filter, one entry per catalogue model.
#pragma once
#include <string>

#include "catalog/model_catalog.h"

namespace fg::app {

// "Firmware files of every model|*.fq|" first (the entry the dialog opens on; its patterns are
// the catalogue's extensions, each once), then "%s (*.%s)|*.%s|" per model, in catalogue order:
// display names and patterns separated by "|".
std::string BuildCatalogFilter(const ModelCatalog& catalog);

// Turns a "|"-separated filter into Qt's form: "WX2040 (*.fq)|*.fq|" becomes "WX2040 (*.fq)".
// Qt reads the patterns from the parentheses, so a display name that lacks them gets the pattern
// appended. Entries are joined with ";;"; an incomplete trailing pair is dropped.
std::string ToQtFilter(const std::string& pipeFilter);

}  // namespace fg::app

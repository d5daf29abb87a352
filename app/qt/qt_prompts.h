// The prompts of the Qt window: QMessageBox and QFileDialog.
#pragma once
#include <string>

#include "app/dialog/prompts.h"

namespace fg::app {

// `window` is the dialog's QWidget.
const PromptOps* QtPrompts();

// Turns a "|"-separated filter into Qt's form: "WX2040 (*.fq)|*.fq|" becomes "WX2040 (*.fq)".
// Qt reads the patterns from the parentheses, so a display name that lacks them gets the pattern
// appended. Entries are joined with ";;"; an incomplete trailing pair is dropped.
std::string ToQtFilter(const std::string& pipeFilter);

}  // namespace fg::app

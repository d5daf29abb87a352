// The prompts of the running program: QMessageBox and QFileDialog.
#pragma once
#include "app/prompts.h"

namespace fg::app {

const PromptOps* QtPrompts();

}  // namespace fg::app

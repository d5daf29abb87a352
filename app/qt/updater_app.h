// CUpdaterApp: the application object. InitInstance starts the platform services and runs the
// main dialog modally; the program ends when the dialog ends.
#pragma once
#include "app/dialog/prompts.h"

namespace fg::app {

// Brings up the platform's socket layer; true when usable.
using SocketStartupFn = bool (*)();

// Linux needs no socket start-up: always usable.
bool PlatformSocketStartup();

class CUpdaterApp {
 public:
  explicit CUpdaterApp(const PromptOps* prompts, SocketStartupFn socketStartup = PlatformSocketStartup);

  // Start-up: the socket layer (on failure the notice of string resource 103, and no window),
  // the font substitute, then the main dialog, run modally. Returns false in every case: the
  // program has no message loop of its own after the dialog.
  bool InitInstance();

  // True once the dialog has been run (for tests of the start-up failure).
  bool dialogRan() const { return dialogRan_; }

 private:
  const PromptOps* prompts_;
  SocketStartupFn socketStartup_;
  bool dialogRan_ = false;
};

// Arial where installed; its metric-compatible substitute elsewhere.
void InstallFontSubstitutes();

}  // namespace fg::app

// flintgate: the firmware-update window.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/qt/close_signals.h"
#include "app/qt/qt_prompts.h"
#include "app/qt/updater_app.h"
#include "flintgate_version.h"

namespace {

// --help and --version are answered before Qt starts, so they work without a display (the
// manual page is made from them at build time). Returns -1 for any other command line.
int AnswerInfoOption(int argc, char** argv) {
  if (argc != 2) return -1;
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("flintgate %s\n", fg::kFlintgateVersion);
    return 0;
  }
  if (std::strcmp(argv[1], "--help") != 0 && std::strcmp(argv[1], "-h") != 0) return -1;
  std::printf(
      "Flintgate %s: the firmware-update window for VANDRELL WX2040, WX2050 and SB7300 instruments\n"
      "Usage: flintgate [OPTIONS]\n"
      "\n"
      "Pick a firmware file (.fq); the window checks its header, finds the instrument through\n"
      "VISA and, after a confirmation, installs the images with a progress bar and a log.\n"
      "The Help button opens the user guide.\n"
      "\n"
      "Options:\n"
      "  -h,--help                   Print this help message and exit\n"
      "  --version                   Print the version and exit\n"
      "\n"
      "The standard Qt options (e.g. -platform offscreen) are accepted too.\n",
      fg::kFlintgateVersion);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int answered = AnswerInfoOption(argc, argv); answered >= 0) return answered;
  QApplication qtApp(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Flintgate"));
  QApplication::setDesktopFileName(QStringLiteral("flintgate"));
  // Ended by a signal (a logout, kill), the window still removes its payload folder; while images
  // are programmed the signal asks the window to stop between two of them instead.
  fg::app::CloseSignals::Install(&qtApp);
  fg::app::CUpdaterApp app(fg::app::QtPrompts());
  app.InitInstance();
  return 0;
}

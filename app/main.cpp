// flintgate: the firmware-update window.
#include <QApplication>

#include "app/close_signals.h"
#include "app/qt_prompts.h"
#include "app/updater_app.h"

int main(int argc, char** argv) {
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

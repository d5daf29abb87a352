// flintgate: the firmware-update window.
#include <QApplication>

#include "app/qt_prompts.h"
#include "app/updater_app.h"
#include "sequence/payload_folder.h"

int main(int argc, char** argv) {
  QApplication qtApp(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Flintgate"));
  QApplication::setDesktopFileName(QStringLiteral("flintgate"));
  // Ended by a signal (a logout, kill), the window still removes its payload folder.
  fg::RemovePayloadFolderOnTerminatingSignals();
  fg::app::CUpdaterApp app(fg::app::QtPrompts());
  app.InitInstance();
  return 0;
}

// flintgate: the firmware-update window.
#include <QApplication>

#include "app/qt_prompts.h"
#include "app/updater_app.h"

int main(int argc, char** argv) {
  QApplication qtApp(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Flintgate"));
  QApplication::setDesktopFileName(QStringLiteral("flintgate"));
  fg::app::CUpdaterApp app(fg::app::QtPrompts());
  app.InitInstance();
  return 0;
}

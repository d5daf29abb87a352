#include "app/qt/updater_app.h"

#include <QFont>

#include "app/dialog/dialog_texts.h"
#include "app/qt/updater_dlg.h"

namespace fg::app {

bool PlatformSocketStartup() { return true; }

void InstallFontSubstitutes() {
  QFont::insertSubstitutions(QStringLiteral("Arial"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
}

CUpdaterApp::CUpdaterApp(const PromptOps* prompts, SocketStartupFn socketStartup)
    : prompts_(prompts), socketStartup_(socketStartup) {}

bool CUpdaterApp::InitInstance() {
  if (!socketStartup_()) {
    prompts_->MessageBox(prompts_->owner, nullptr, LoadStringResource(IDS_SOCKETS_INIT_FAILED),
                         kProgramName, BoxIcon::Error);
    return false;
  }
  InstallFontSubstitutes();
  CUpdaterDlg dlg(prompts_);
  dialogRan_ = true;
  dlg.exec();
  return false;
}

}  // namespace fg::app

#include "app/qt/help_viewer.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace fg::app {

QStringList HelpFileCandidates(const QString& appFolder) {
  QStringList candidates;
  const QDir app(appFolder);
  candidates << app.filePath(QString::fromLatin1(kHelpFileName));
  candidates << QDir::cleanPath(app.filePath(QStringLiteral("../share/flintgate/")) +
                                QLatin1Char('/') + QString::fromLatin1(kHelpFileName));
#ifdef FG_HELP_DATA_DIR
  candidates << QDir(QStringLiteral(FG_HELP_DATA_DIR)).filePath(QString::fromLatin1(kHelpFileName));
#endif
  return candidates;
}

QString FindHelpFile(const QString& appFolder) {
  for (const QString& candidate : HelpFileCandidates(appFolder)) {
    if (QFileInfo(candidate).isFile()) return candidate;
  }
  return QString();
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window), browser_(new QTextBrowser) {
  setWindowTitle(QStringLiteral("Flintgate Help"));
  browser_->setOpenExternalLinks(true);
  browser_->setOpenLinks(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  resize(720, 640);
}

void HelpWindow::ShowFile(const QString& path) {
  if (path != shownPath_) {
    browser_->setSource(QUrl::fromLocalFile(path));
    shownPath_ = path;
  }
  show();
  raise();
  activateWindow();
}

}  // namespace fg::app

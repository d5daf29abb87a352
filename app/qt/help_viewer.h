// The user guide: where the help file is looked for, and the window that shows it.
#pragma once
#include <QString>
#include <QStringList>
#include <QWidget>

class QTextBrowser;

namespace fg::app {

inline constexpr const char* kHelpFileName = "FlintgateHelp_204.html";

// The places the help file is looked for, in order: beside the executable, the data folder of an
// installation relative to it (bin/../share/flintgate), and the configured data folder.
QStringList HelpFileCandidates(const QString& appFolder);

// The first existing candidate, or empty.
QString FindHelpFile(const QString& appFolder);

// A plain window around a QTextBrowser; links inside the guide are followed, links to the web
// open in the desktop's browser.
class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);
  // Loads the file (once per path) and brings the window to the front.
  void ShowFile(const QString& path);
  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
  QString shownPath_;
};

}  // namespace fg::app

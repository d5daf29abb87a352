#include "app/qt_prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QString>

namespace fg::app {
namespace {

QMessageBox::Icon ToQtIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Error: return QMessageBox::Critical;
    case BoxIcon::Question: return QMessageBox::Question;
    case BoxIcon::Information: return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

void ShowMessageBox(void*, QWidget* parent, const char* text, const char* caption, BoxIcon icon) {
  QMessageBox box(ToQtIcon(icon), QString::fromLocal8Bit(caption), QString::fromLocal8Bit(text),
                  QMessageBox::Ok, parent);
  box.exec();
}

bool AskYesNo(void*, QWidget* parent, const char* text, const char* caption) {
  QMessageBox box(QMessageBox::Question, QString::fromLocal8Bit(caption),
                  QString::fromLocal8Bit(text), QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

bool AskYesNoWarning(void*, QWidget* parent, const char* text, const char* caption) {
  QMessageBox box(QMessageBox::Warning, QString::fromLocal8Bit(caption),
                  QString::fromLocal8Bit(text), QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

bool PickFile(void*, QWidget* parent, const std::string& filter, std::string* path) {
  // Title and starting folder are the platform's defaults; the dialog only accepts existing files.
  const QString chosen = QFileDialog::getOpenFileName(parent, QString(), QString(),
                                                      QString::fromStdString(filter));
  if (chosen.isEmpty()) return false;
  *path = chosen.toLocal8Bit().toStdString();
  return true;
}

const PromptOps kQtPrompts = {nullptr, ShowMessageBox, AskYesNo, PickFile, AskYesNoWarning};

}  // namespace

const PromptOps* QtPrompts() { return &kQtPrompts; }

}  // namespace fg::app

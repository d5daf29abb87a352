#include "app/qt/qt_prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QVariant>
#include <QString>
#include <QWidget>
#include <vector>

namespace fg::app {
namespace {

QWidget* Parent(void* window) { return static_cast<QWidget*>(window); }

QMessageBox::Icon ToQtIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Error: return QMessageBox::Critical;
    case BoxIcon::Question: return QMessageBox::Question;
    case BoxIcon::Information: return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

void ShowMessageBox(void*, void* window, const char* text, const char* caption, BoxIcon icon) {
  QMessageBox box(ToQtIcon(icon), QString::fromLocal8Bit(caption), QString::fromLocal8Bit(text),
                  QMessageBox::Ok, Parent(window));
  box.exec();
}

bool AskYesNo(void*, void* window, const char* text, const char* caption) {
  QMessageBox box(QMessageBox::Question, QString::fromLocal8Bit(caption),
                  QString::fromLocal8Bit(text), QMessageBox::Yes | QMessageBox::No, Parent(window));
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

bool AskYesNoWarning(void*, void* window, const char* text, const char* caption) {
  QMessageBox box(QMessageBox::Warning, QString::fromLocal8Bit(caption),
                  QString::fromLocal8Bit(text), QMessageBox::Yes | QMessageBox::No, Parent(window));
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

// The name that marks the boxes of AskWhileRunning among the parent's children.
constexpr const char* kRunningQuestionName = "fg-running-question";

void AskWhileRunning(void*, void* window, const char* text, const char* caption,
                     void (*answered)(void* context, bool yes), void* context) {
  auto* box = new QMessageBox(QMessageBox::Question, QString::fromLocal8Bit(caption),
                              QString::fromLocal8Bit(text), QMessageBox::Yes | QMessageBox::No,
                              Parent(window));
  box->setObjectName(QString::fromLatin1(kRunningQuestionName));
  box->setDefaultButton(QMessageBox::No);
  box->setEscapeButton(QMessageBox::No);
  box->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(box, &QMessageBox::finished, box, [box, answered, context] {
    if (box->property("withdrawn").toBool()) return;
    answered(context, box->clickedButton() == box->button(QMessageBox::Yes));
  });
  box->open();  // window-modal; returns at once
}

void WithdrawQuestions(void*, void* window) {
  const auto boxes = Parent(window)->findChildren<QMessageBox*>(QString::fromLatin1(kRunningQuestionName),
                                                        Qt::FindDirectChildrenOnly);
  for (QMessageBox* box : boxes) {
    box->setProperty("withdrawn", true);
    box->done(QMessageBox::No);
  }
}

bool PickFile(void*, void* window, const std::string& filter, std::string* path) {
  // Title and starting folder are the platform's defaults; the dialog only accepts existing files.
  const QString chosen = QFileDialog::getOpenFileName(
      Parent(window), QString(), QString(), QString::fromStdString(ToQtFilter(filter)));
  if (chosen.isEmpty()) return false;
  *path = chosen.toLocal8Bit().toStdString();
  return true;
}

const PromptOps kQtPrompts = {nullptr,         ShowMessageBox,  AskYesNo,         PickFile,
                               AskYesNoWarning, AskWhileRunning, WithdrawQuestions};

}  // namespace

const PromptOps* QtPrompts() { return &kQtPrompts; }

std::string ToQtFilter(const std::string& pipeFilter) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : pipeFilter) {
    if (c == '|') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);

  std::string result;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    const std::string& display = parts[i];
    const std::string& pattern = parts[i + 1];
    std::string entry = display;
    if (display.find('(') == std::string::npos) {
      // Qt separates several patterns with blanks, the platform filter with ";".
      std::string spaced = pattern;
      for (char& c : spaced) {
        if (c == ';') c = ' ';
      }
      entry += " (" + spaced + ")";
    }
    if (!result.empty()) result += ";;";
    result += entry;
  }
  return result;
}

}  // namespace fg::app

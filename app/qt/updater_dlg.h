// CUpdaterDlg: the Qt window of the dialog model (app/dialog/dialog_model.h), one modal dialog
// built from template 102. It creates the widgets, draws what the model hands it and forwards
// the window's events to the model; the rules are the model's.
#pragma once
#include <QDialog>
#include <QHash>
#include <QIcon>
#include <cstdint>
#include <string>

#include "app/dialog/dialog_model.h"
#include "app/dialog/dialog_view.h"
#include "app/dialog/prompts.h"

class QCloseEvent;
class QProgressBar;

namespace fg::app {

class DeviceCombo;
class HelpWindow;

class CUpdaterDlg : public QDialog {
  Q_OBJECT

 public:
  // prompts serves every modal box and the Open File dialog; it must outlive the dialog. base is
  // what the window's searches and runs use (a test's slow search or fast clock), null: VISA
  // and the steady clock; it must outlive the dialog too.
  explicit CUpdaterDlg(const PromptOps* prompts, QWidget* parent = nullptr,
                       const RunEnv* base = nullptr);
  ~CUpdaterDlg() override;

  DialogModel& model() { return m_model; }
  const DialogModel& model() const { return m_model; }

  // The control with a numeric id of the template, or null (labels have none).
  QWidget* Control(int32_t id) const;

  // Gives the control a bold copy of its current font.
  void MakeBold(QWidget* control);

  const std::string& appFolder() const { return m_appFolder; }
  const QIcon& icon() const { return m_hIcon; }
  HelpWindow* helpWindow() const { return m_helpWindow; }

 public slots:
  void OnMoreInfo() { m_model.OnMoreInfo(); }
  void OnHelpButton() { m_model.OnHelpButton(); }
  void OnChooseFile() { m_model.OnChooseFile(); }
  void OnUpdate() { m_model.OnUpdate(); }
  // SIGINT, SIGTERM or SIGHUP while images are programmed: a close attempt as from the window.
  void OnCloseSignal();
  // Ends the dialog when the model lets it; Esc and every other Cancel or OK come here.
  void done(int result) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct View;  // the DialogViewOps functions over this window
  friend struct View;

  void BuildControls();
  void SetCloseCommandEnabled(bool enabled);
  void ShowHelpFile();

  // Members of the window, in the order of the original dialog class.
  DeviceCombo* m_deviceList = nullptr;
  QProgressBar* m_progress = nullptr;
  QIcon m_hIcon;
  std::string m_appFolder;  // the executable's folder, ending in "/"

  QHash<int32_t, QWidget*> m_controls;
  HelpWindow* m_helpWindow = nullptr;
  bool m_ending = false;  // the model ended the dialog: done() asks it no more
  DialogViewOps m_view{};
  DialogModel m_model;
};

}  // namespace fg::app

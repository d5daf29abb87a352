// The Win32 window of the dialog model (app/dialog/dialog_model.h): one modal dialog made by
// DialogBoxIndirectParam from template 102. It draws what the model hands it and forwards the
// window's messages to the model; a worker's calls arrive as posted WM_APP messages.
#pragma once
// clang-format off
#include <windows.h>
// clang-format on
#include <cstdint>
#include <vector>

#include "app/dialog/dialog_model.h"
#include "app/dialog/dialog_view.h"
#include "app/dialog/prompts.h"
#include "platform/html_help.h"

namespace fg::app {

// The message that carries a worker's call to the window's thread (lParam: the UiCall).
inline constexpr UINT kUiCallMessage = WM_APP;

class UpdaterWindow {
 public:
  // prompts serves the boxes and the Open File dialog; base is what the searches and runs use
  // (null: VISA). Both must outlive the window.
  UpdaterWindow(const PromptOps* prompts, HINSTANCE instance, const RunEnv* base = nullptr);
  UpdaterWindow(const UpdaterWindow&) = delete;
  UpdaterWindow& operator=(const UpdaterWindow&) = delete;
  ~UpdaterWindow();

  // Runs the dialog modally; returns when it has ended, its help windows closed.
  void Run();

  // Called once the dialog is set up, inside its WM_INITDIALOG (a test starts driving it there).
  void SetReadyHandler(void (*ready)(void* context, UpdaterWindow* window), void* context) {
    ready_ = ready;
    readyContext_ = context;
  }

  HWND hwnd() const { return hwnd_; }
  DialogModel& model() { return model_; }

 private:
  struct View;  // the DialogViewOps functions over this window
  friend struct View;

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void OnCommand(int32_t id, int32_t notification);
  void OnClose();
  void OnPaint();
  void MakeBold(int32_t id);
  HWND Control(int32_t id) const { return GetDlgItem(hwnd_, id); }

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  HICON bigIcon_ = nullptr;    // m_hIcon: icon resource 128, 32 x 32
  HICON smallIcon_ = nullptr;  // its 16 x 16 image
  std::vector<HFONT> boldFonts_;  // released when the window is destroyed
  platform::HtmlHelpViewer help_;
  void (*ready_)(void* context, UpdaterWindow* window) = nullptr;
  void* readyContext_ = nullptr;
  DialogViewOps view_{};
  DialogModel model_;
};

}  // namespace fg::app

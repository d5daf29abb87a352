// The prompts of the Win32 window: MessageBox with the icons of each kind, and the common Open
// File dialog. `window` is the dialog's HWND.
#pragma once
// clang-format off
#include <windows.h>
#include <commdlg.h>
// clang-format on
#include <string>
#include <vector>

#include "app/dialog/prompts.h"

namespace fg::app {

// The Open File dialog's flags: OFN_READONLY, OFN_OVERWRITEPROMPT, OFN_HIDEREADONLY,
// OFN_FILEMUSTEXIST and OFN_EXPLORER.
inline constexpr DWORD kOpenFileFlags = 0x81007;

// "A (*.a)|*.a|" as the Open File dialog takes it: pairs separated by NULs, a second NUL last.
std::string ToWin32Filter(const std::string& pipeFilter);

class Win32Prompts {
 public:
  // openFileHook, when given, is installed in the Open File dialog (OFN_ENABLEHOOK), as a test
  // drives the dialog from inside.
  explicit Win32Prompts(LPOFNHOOKPROC openFileHook = nullptr);
  ~Win32Prompts();
  Win32Prompts(const Win32Prompts&) = delete;
  Win32Prompts& operator=(const Win32Prompts&) = delete;

  const PromptOps* ops() const { return &ops_; }

 private:
  struct Question;
  static void ShowMessage(void* owner, void* window, const char* text, const char* caption,
                         BoxIcon icon);
  static bool Confirm(void* owner, void* window, const char* text, const char* caption);
  static bool OpenFile(void* owner, void* window, const std::string& filter, std::string* path);
  static bool ConfirmWarning(void* owner, void* window, const char* text, const char* caption);
  static void AskWhileRunning(void* owner, void* window, const char* text, const char* caption,
                              void (*answered)(void* context, bool yes), void* context);
  static void WithdrawQuestions(void* owner, void* window);
  static LRESULT CALLBACK QuestionWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void ShowQuestion(Question* question);

  PromptOps ops_;
  LPOFNHOOKPROC openFileHook_;
  // A message-only window: a question asked while the update runs is shown from its message,
  // so that AskWhileRunning returns at once.
  HWND questions_ = nullptr;
  std::vector<Question*> open_;
};

}  // namespace fg::app

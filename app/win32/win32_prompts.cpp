#include "app/win32/win32_prompts.h"

namespace fg::app {
namespace {

constexpr UINT kShowQuestionMessage = WM_APP + 1;
constexpr const char* kQuestionWindowClass = "FlintgateQuestions";

HWND Owner(void* window) { return static_cast<HWND>(window); }

UINT IconStyle(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Error: return MB_ICONHAND;
    case BoxIcon::Question: return MB_ICONQUESTION;
    case BoxIcon::Information: return MB_ICONASTERISK;
  }
  return 0;
}

}  // namespace

struct Win32Prompts::Question {
  HWND owner;
  std::string text;
  std::string caption;
  void (*answered)(void* context, bool yes);
  void* context;
  bool withdrawn = false;
};

std::string ToWin32Filter(const std::string& pipeFilter) {
  std::string filter = pipeFilter;
  for (char& c : filter) {
    if (c == '|') c = '\0';
  }
  filter.push_back('\0');
  return filter;
}

Win32Prompts::Win32Prompts(LPOFNHOOKPROC openFileHook)
    : ops_{this, ShowMessage, Confirm, OpenFile, ConfirmWarning, AskWhileRunning, WithdrawQuestions},
      openFileHook_(openFileHook) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA questionClass{};
  questionClass.lpfnWndProc = QuestionWindowProc;
  questionClass.hInstance = instance;
  questionClass.lpszClassName = kQuestionWindowClass;
  RegisterClassA(&questionClass);  // fails harmlessly when a second object registers it again
  questions_ = CreateWindowExA(0, kQuestionWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               instance, nullptr);
  if (questions_ != nullptr) SetWindowLongPtrA(questions_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32Prompts::~Win32Prompts() {
  if (questions_ != nullptr) DestroyWindow(questions_);
  for (Question* q : open_) q->withdrawn = true;
}

void Win32Prompts::ShowMessage(void*, void* window, const char* text, const char* caption,
                              BoxIcon icon) {
  ::MessageBoxA(Owner(window), text, caption, MB_OK | IconStyle(icon));
}

bool Win32Prompts::Confirm(void*, void* window, const char* text, const char* caption) {
  return ::MessageBoxA(Owner(window), text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool Win32Prompts::ConfirmWarning(void*, void* window, const char* text, const char* caption) {
  return ::MessageBoxA(Owner(window), text, caption, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) ==
         IDYES;
}

bool Win32Prompts::OpenFile(void* owner, void* window, const std::string& filter,
                            std::string* path) {
  const auto* self = static_cast<Win32Prompts*>(owner);
  const std::string win32Filter = ToWin32Filter(filter);
  char file[4096] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = Owner(window);
  ofn.lpstrFilter = win32Filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.Flags = kOpenFileFlags;
  if (self->openFileHook_ != nullptr) {
    ofn.Flags |= OFN_ENABLEHOOK;
    ofn.lpfnHook = self->openFileHook_;
  }
  if (!GetOpenFileNameA(&ofn)) return false;
  *path = file;
  return true;
}

void Win32Prompts::AskWhileRunning(void* owner, void* window, const char* text,
                                   const char* caption, void (*answered)(void* context, bool yes),
                                   void* context) {
  auto* self = static_cast<Win32Prompts*>(owner);
  if (self->questions_ == nullptr) return;
  auto* question = new Question{Owner(window), text, caption, answered, context};
  self->open_.push_back(question);
  PostMessageA(self->questions_, kShowQuestionMessage, 0, reinterpret_cast<LPARAM>(question));
}

// The box's own message loop goes on handling the window's events, the worker's calls among
// them, so the update goes on while the question is open.
void Win32Prompts::ShowQuestion(Question* question) {
  int answer = IDNO;
  if (!question->withdrawn) {
    answer = ::MessageBoxA(question->owner, question->text.c_str(), question->caption.c_str(),
                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  }
  for (size_t i = 0; i < open_.size(); ++i) {
    if (open_[i] == question) {
      open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  if (!question->withdrawn) question->answered(question->context, answer == IDYES);
  delete question;
}

LRESULT CALLBACK Win32Prompts::QuestionWindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
  if (message == kShowQuestionMessage) {
    auto* self = reinterpret_cast<Win32Prompts*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    auto* question = reinterpret_cast<Question*>(lParam);
    if (self != nullptr) {
      self->ShowQuestion(question);
    } else {
      delete question;
    }
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

namespace {

struct BoxSearch {
  HWND owner;
  const char* caption;
  HWND found;
};

// A message box is a window of the dialog class owned by the window, with the question's
// caption.
BOOL CALLBACK FindQuestionBox(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<BoxSearch*>(lParam);
  char className[16] = {};
  char caption[256] = {};
  GetClassNameA(hwnd, className, sizeof className);
  GetWindowTextA(hwnd, caption, sizeof caption);
  if (GetWindow(hwnd, GW_OWNER) == search->owner && lstrcmpA(className, "#32770") == 0 &&
      lstrcmpA(caption, search->caption) == 0) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

void Win32Prompts::WithdrawQuestions(void* owner, void* window) {
  auto* self = static_cast<Win32Prompts*>(owner);
  for (Question* question : self->open_) {
    if (question->owner != Owner(window) || question->withdrawn) continue;
    question->withdrawn = true;
    BoxSearch search{question->owner, question->caption.c_str(), nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindQuestionBox, reinterpret_cast<LPARAM>(&search));
    // Its No button ends the box; the question is withdrawn, so nobody is told.
    if (search.found != nullptr) PostMessageA(search.found, WM_COMMAND, IDNO, 0);
  }
}

}  // namespace fg::app

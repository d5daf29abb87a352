#include "app/win32/updater_window.h"

// clang-format off
#include <commctrl.h>
// clang-format on
#include <string>

#include "app/dialog/dialog_template.h"
#include "app/dialog/dialog_texts.h"
#include "app/dialog/worker_protocol.h"
#include "app/win32/dialog_template_win32.h"

namespace fg::app {
namespace {

// CB_SETCUEBANNER takes UTF-16; the placeholder is ASCII.
std::wstring Wide(const char* text) {
  std::wstring wide;
  for (const char* c = text; c != nullptr && *c != '\0'; ++c) {
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
  }
  return wide;
}

}  // namespace

struct UpdaterWindow::View {
  static UpdaterWindow* W(void* owner) { return static_cast<UpdaterWindow*>(owner); }

  static void SetWindowTitle(void* owner, const char* title) {
    SetWindowTextA(W(owner)->hwnd_, title);
  }
  static void SetControlText(void* owner, int32_t id, const char* text) {
    SetDlgItemTextA(W(owner)->hwnd_, id, text);
  }
  static void EnableControl(void* owner, int32_t id, bool enabled) {
    EnableWindow(W(owner)->Control(id), enabled ? TRUE : FALSE);
  }
  static void ShowControl(void* owner, int32_t id, bool shown) {
    HWND control = W(owner)->Control(id);
    ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
    if (shown) SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  // A greyed Close item also disables the caption's close button.
  static void EnableClose(void* owner, bool enabled) {
    HMENU menu = GetSystemMenu(W(owner)->hwnd_, FALSE);
    if (menu != nullptr) {
      EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }
  }
  static void ShowLog(void* owner, const char* text) {
    HWND log = W(owner)->Control(IDC_LOG);
    SetWindowTextA(log, text);
    // Shown at once, so that the line is there while a long operation goes on; then scrolled by
    // the scroll limit, which brings the last line into view.
    RedrawWindow(log, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const LRESULT lines = SendMessageA(log, EM_GETLINECOUNT, 0, 0);
    SendMessageA(log, EM_LINESCROLL, 0, lines);
  }
  static void InitProgress(void* owner) {
    HWND bar = W(owner)->Control(IDC_PROGRESS);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageA(bar, PBM_SETPOS, 0, 0);
  }
  static void SetProgress(void* owner, int32_t percent) {
    SendMessageA(W(owner)->Control(IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  }
  static int32_t ControlHeight(void* owner, int32_t id) {
    RECT r{};
    GetWindowRect(W(owner)->Control(id), &r);
    return r.bottom - r.top;
  }
  static void ApplyLayout(void* owner, const MoreInfoLayout* layout) {
    UpdaterWindow* w = W(owner);
    RECT window{};
    GetWindowRect(w->hwnd_, &window);
    SetWindowPos(w->hwnd_, HWND_TOP, 0, 0, window.right - window.left, layout->windowHeight,
                 SWP_NOMOVE | SWP_NOACTIVATE);
    SetWindowPos(w->Control(IDC_LOG), HWND_TOP, layout->logX, layout->logY, 0, 0, SWP_NOSIZE);
    SetWindowPos(w->Control(IDC_COPYRIGHT), HWND_TOP, layout->copyrightX, layout->copyrightY, 0,
                 0, SWP_NOSIZE);
  }
  static void ShowDeviceEntries(void* owner, const DeviceEntryView* entries, int32_t count,
                                int32_t current, const char* placeholder) {
    HWND list = W(owner)->Control(IDC_DEVICE_LIST);
    // Messages sent by the program raise no selection notice: drawing is no pick.
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (int32_t i = 0; i < count; ++i) {
      SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entries[i].shown));
    }
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(current), 0);
    if (placeholder != nullptr) {
      const std::wstring cue = Wide(placeholder);
      SendMessageW(list, CB_SETCUEBANNER, 0, reinterpret_cast<LPARAM>(cue.c_str()));
    }
  }
  static void ShowHelp(void* owner) {
    (void)platform::ShowHtmlHelp(&W(owner)->help_, platform::kHtmlHelpFileName, nullptr);
  }
  static void EndDialog(void* owner) { ::EndDialog(W(owner)->hwnd_, IDCANCEL); }
  static void Post(void* owner, UiCall* call) {
    PostMessageA(W(owner)->hwnd_, kUiCallMessage, 0, reinterpret_cast<LPARAM>(call));
  }
  // The dialog's own loop, as DialogBox runs it: Tab, Enter and Esc go to the dialog.
  static void RunEventsUntil(void* owner, const bool* done) {
    HWND dialog = W(owner)->hwnd_;
    bool quit = false;
    WPARAM quitCode = 0;
    while (!*done) {
      MSG msg;
      const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
      if (got == -1) break;
      if (got == 0) {  // kept for the loop below this one
        quit = true;
        quitCode = msg.wParam;
        continue;
      }
      if (!IsDialogMessageA(dialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
  }
};

UpdaterWindow::UpdaterWindow(const PromptOps* prompts, HINSTANCE instance, const RunEnv* base)
    : instance_(instance),
      view_{this,
            View::SetWindowTitle,
            View::SetControlText,
            View::EnableControl,
            View::ShowControl,
            View::EnableClose,
            View::ShowLog,
            View::InitProgress,
            View::SetProgress,
            View::ControlHeight,
            View::ApplyLayout,
            View::ShowDeviceEntries,
            View::ShowHelp,
            View::EndDialog,
            nullptr,
            View::Post,
            View::RunEventsUntil},
      model_(&view_, prompts, nullptr, base) {
  bigIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON),
                                           GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME),
                                             IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
}

UpdaterWindow::~UpdaterWindow() {
  if (bigIcon_ != nullptr) DestroyIcon(bigIcon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

void UpdaterWindow::Run() {
  const std::vector<uint16_t> dialog = BuildWin32DialogTemplate(kMainDialogTemplate);
  DialogBoxIndirectParamA(instance_, reinterpret_cast<LPCDLGTEMPLATEA>(dialog.data()), nullptr,
                          DialogProc, reinterpret_cast<LPARAM>(this));
  platform::CloseHtmlHelpWindows(&help_);
}

INT_PTR CALLBACK UpdaterWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<UpdaterWindow*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    self->hwnd_ = hwnd;
    self->OnInitDialog();
    return TRUE;  // the system sets the first focus
  }
  auto* self = reinterpret_cast<UpdaterWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  return self != nullptr ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR UpdaterWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kUiCallMessage:
      DeliverUiCall(reinterpret_cast<UiCall*>(lParam));
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      OnClose();
      return TRUE;
    case WM_PAINT:
      if (!IsIconic(hwnd_)) return FALSE;
      OnPaint();
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(bigIcon_);
    case WM_DESTROY:
      for (HFONT font : boldFonts_) DeleteObject(font);
      boldFonts_.clear();
      return FALSE;
    default:
      return FALSE;
  }
}

void UpdaterWindow::OnInitDialog() {
  SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  model_.SetWindow(hwnd_);
  model_.InitDialog();
  for (int32_t id : {IDC_CONNECTION_GROUP, IDC_FILE_GROUP, IDC_INFO_GROUP, IDC_UPDATE_GROUP,
                     IDC_HELP_BUTTON, IDC_CHOOSE_FILE, IDC_LOG}) {
    MakeBold(id);
  }
  if (ready_ != nullptr) ready_(readyContext_, this);
}

void UpdaterWindow::OnCommand(int32_t id, int32_t notification) {
  switch (id) {
    case IDC_MORE_INFO:
      if (notification == BN_CLICKED) model_.OnMoreInfo();
      break;
    case IDC_HELP_BUTTON:
      if (notification == BN_CLICKED) model_.OnHelpButton();
      break;
    case IDC_CHOOSE_FILE:
      if (notification == BN_CLICKED) model_.OnChooseFile();
      break;
    case IDC_UPDATE:
      if (notification == BN_CLICKED) model_.OnUpdate();
      break;
    case IDC_DEVICE_LIST:
      if (notification == CBN_DROPDOWN) {
        model_.OnDeviceListDropDown();
      } else if (notification == CBN_SELCHANGE) {
        const LRESULT index = SendMessageA(Control(IDC_DEVICE_LIST), CB_GETCURSEL, 0, 0);
        model_.OnDevicePicked(static_cast<int32_t>(index));
      }
      break;
    case IDOK:      // Enter: the dialog's default OK, which ends it as Cancel does
    case IDCANCEL:  // Esc
      OnClose();
      break;
    default:
      break;
  }
}

void UpdaterWindow::OnClose() {
  if (model_.OnCloseRequest(CloseSource::kWindow)) ::EndDialog(hwnd_, IDCANCEL);
}

// Minimised: the icon, centred in the client area on its erased background.
void UpdaterWindow::OnPaint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd_, &paint);
  SendMessageA(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, bigIcon_);
  EndPaint(hwnd_, &paint);
}

void UpdaterWindow::MakeBold(int32_t id) {
  HWND control = Control(id);
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  LOGFONTA description{};
  if (font == nullptr || GetObjectA(font, sizeof description, &description) == 0) return;
  description.lfWeight = FW_BOLD;
  HFONT bold = CreateFontIndirectA(&description);
  if (bold == nullptr) return;
  boldFonts_.push_back(bold);
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(bold), TRUE);
}

}  // namespace fg::app

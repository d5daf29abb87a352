// The Win32 window driven from inside: the real dialog, its real boxes and Open File dialog,
// against the simulated instrument on the bus of FLINTGATE_SIMBUS.
//   test_window_win32 complete FILE RESOURCE [SCREENSHOT.bmp]
//       opens FILE, updates RESOURCE (a WX2040), answers Yes, asks to stop once while the images
//       are programmed and answers No, and checks the log and the controls at the end; saves a
//       picture of the window half way through
//   test_window_win32 writer-no-model FILE RESOURCE
//       the instrument is a writer that names no model: the warning is answered No and the run
//       is refused before the confirmation
// Prints one line per check and "N passed, M failed" last; exits 1 when a check failed.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/dialog/dialog_template.h"
#include "app/dialog/dialog_texts.h"
#include "app/win32/updater_window.h"
#include "app/win32/win32_prompts.h"
#include "sequence/run_texts.h"

using namespace fg;
using namespace fg::app;

namespace {

// Ids of a message box's text and icon in the system's box template.
constexpr int kBoxTextId = 0xFFFF;
constexpr int kBoxIconId = 0x0440;

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  ++(ok ? g_passed : g_failed);
}

void CheckEqual(const std::string& got, const std::string& want, const std::string& what) {
  Check(got == want, what + (got == want ? "" : " (got \"" + got + "\", want \"" + want + "\")"));
}

std::string TextOf(HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

// One message box as it showed: its text, caption, icon and default button.
struct Box {
  std::string text;
  std::string caption;
  std::string icon;
  int defaultButton;
};

std::string IconName(HWND box) {
  const HICON shown = reinterpret_cast<HICON>(
      SendDlgItemMessageA(box, kBoxIconId, STM_GETICON, 0, 0));
  const struct {
    LPCSTR id;
    const char* name;
  } icons[] = {{IDI_HAND, "error"}, {IDI_QUESTION, "question"}, {IDI_EXCLAMATION, "warning"},
               {IDI_ASTERISK, "information"}};
  for (const auto& icon : icons) {
    if (shown != nullptr && shown == LoadIconA(nullptr, icon.id)) return icon.name;
  }
  return "none";
}

struct Script {
  std::string scenario;
  std::string file;
  std::string resource;
  std::string screenshot;
  UpdaterWindow* window = nullptr;
  std::vector<Box> boxes;
  HWND pendingBox = nullptr;  // a box activated, read and answered on the next turn
  DWORD openFlags = 0;
  std::string openFilter;
  int step = 0;
  bool askedToStop = false;
  bool sawBusy = false;
  bool busyRight = true;
  bool shot = false;
  int ticks = 0;
};
Script g_script;

HWND Control(int id) { return GetDlgItem(g_script.window->hwnd(), id); }
std::string Field(int id) { return TextOf(Control(id)); }
bool Enabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }
bool CloseEnabled() {
  const UINT state = GetMenuState(GetSystemMenu(g_script.window->hwnd(), FALSE), SC_CLOSE,
                                  MF_BYCOMMAND);
  return (state & MF_GRAYED) == 0;
}
void Click(int id) {
  PostMessageA(g_script.window->hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(Control(id)));
}
int Progress() { return static_cast<int>(SendMessageA(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0)); }

// Answers each box as the script wants it: Yes to the update, No to stopping and to an instrument
// that names no model; OK to the rest.
int AnswerFor(const Box& box) {
  if (box.caption == kConfirmCaption) return IDYES;
  if (box.caption == kConfirmModelCaption || box.caption == "Stop Firmware Update") return IDNO;
  return IDOK;
}

// Reads a box once it is set up (its default button is chosen after it is activated) and
// answers it.
void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HWND box = g_script.pendingBox;
  g_script.pendingBox = nullptr;
  if (box == nullptr || !IsWindow(box)) return;
  int defaultButton = 0;
  for (int id : {IDOK, IDYES, IDNO}) {
    HWND button = GetDlgItem(box, id);
    if (button != nullptr && (GetWindowLongA(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON) {
      defaultButton = id;
    }
  }
  Box shown{TextOf(GetDlgItem(box, kBoxTextId)), TextOf(box), IconName(box), defaultButton};
  g_script.boxes.push_back(shown);
  PostMessageA(box, WM_COMMAND, AnswerFor(shown), 0);
}

LRESULT CALLBACK BoxHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wParam);
    char className[16] = {};
    GetClassNameA(box, className, sizeof className);
    // The main window and the Open File dialog share the class and also carry labels with the
    // text's id; only a message box is answered here.
    const bool mainWindow = g_script.window != nullptr && box == g_script.window->hwnd();
    const bool openFile = GetDlgItem(box, edt1) != nullptr || GetDlgItem(box, cmb13) != nullptr;
    if (std::strcmp(className, "#32770") == 0 && !mainWindow && !openFile &&
        GetDlgItem(box, kBoxTextId) != nullptr && g_script.pendingBox != box) {
      g_script.pendingBox = box;
      SetTimer(nullptr, 0, 10, AnswerBox);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Types the file's path into the Open File dialog and confirms it, once it is set up.
UINT_PTR CALLBACK OpenFileHook(HWND hook, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const auto* ofn = reinterpret_cast<const OPENFILENAMEA*>(lParam);
    g_script.openFlags = ofn->Flags;
    for (const char* entry = ofn->lpstrFilter; *entry != '\0'; entry += std::strlen(entry) + 1) {
      g_script.openFilter += std::string(entry) + "|";
    }
  } else if (message == WM_NOTIFY &&
             reinterpret_cast<const NMHDR*>(lParam)->code == CDN_INITDONE) {
    HWND dialog = GetParent(hook);
    SendMessageA(dialog, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(g_script.file.c_str()));
    SendMessageA(dialog, CDM_SETCONTROLTEXT, edt1, reinterpret_cast<LPARAM>(g_script.file.c_str()));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  }
  return 0;
}

// A picture of the window as the screen shows it, as a 24-bit BMP file.
bool SaveScreenshot(HWND window, const std::string& path) {
  // Whatever is still to be painted (a control the More Info layout brought into view) is
  // painted first.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  RECT r{};
  GetWindowRect(window, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != 0;
  GdiFlush();
  const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + imageBytes;
  bool written = false;
  if (copied) {
    if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
      info.bmiHeader.biSizeImage = imageBytes;
      written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                std::fwrite(bits, imageBytes, 1, out) == 1;
      written = std::fclose(out) == 0 && written;
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return written;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

void CheckFileAccepted() {
  CheckEqual(Field(IDC_FILE), g_script.file, "the File field names the file");
  CheckEqual(Field(IDC_MODEL), "WX2040", "the Model field");
  CheckEqual(Field(IDC_DEVICE), g_script.resource,
             "the Device field shows the one instrument found at the file's opening");
  CheckEqual(Field(IDC_LOG), Lines({"Open File: " + g_script.file}), "the log after the file");
  // The system adds OFN_PATHMUSTEXIST to OFN_FILEMUSTEXIST; the hook is the test's own.
  Check((g_script.openFlags & ~DWORD{OFN_PATHMUSTEXIST | OFN_ENABLEHOOK}) == kOpenFileFlags,
        "the Open File flags 0x81007");
  CheckEqual(g_script.openFilter,
             "Firmware files of every model|*.fq|WX2040 (*.fq)|*.fq|WX2050 (*.fq)|*.fq|"
             "SB7300 (*.fq)|*.fq|",
             "the Open File filter");
  Check(Enabled(IDC_UPDATE) && Enabled(IDC_CHOOSE_FILE) && CloseEnabled(), "FileReady");
}

// The run's state changes reach the window as posted messages: the controls are checked while
// the model is in Busy, as drawn.
void CheckBusy() {
  if (g_script.window->model().controlState() != Busy) return;
  g_script.sawBusy = true;
  g_script.busyRight = g_script.busyRight && !Enabled(IDC_UPDATE) && !Enabled(IDC_CHOOSE_FILE) &&
                       !CloseEnabled() && Enabled(IDC_HELP_BUTTON) && Enabled(IDC_MORE_INFO);
}

void CheckCompleted() {
  const std::string r = g_script.resource;
  CheckEqual(Field(IDC_LOG),
             Lines({"Open File: " + g_script.file, "Connecting ... OK", kLogWaitingForRestart,
                    "Updating ... OK", kLogCompleted, ""}),
             "the log of a completed update");
  Check(g_script.boxes.size() == 2, "two boxes: the confirmation and the stop question");
  if (g_script.boxes.size() == 2) {
    const Box& confirm = g_script.boxes[0];
    CheckEqual(confirm.text, "Are you sure you want to update " + r + "?", "the confirmation");
    CheckEqual(confirm.caption, kConfirmCaption, "its caption");
    CheckEqual(confirm.icon, "question", "its icon");
    const Box& stop = g_script.boxes[1];
    CheckEqual(stop.caption, "Stop Firmware Update", "Esc while programming asks first");
    CheckEqual(stop.icon, "question", "the stop question's icon");
    Check(stop.defaultButton == IDNO, "the stop question's default is No");
  }
  Check(g_script.sawBusy && g_script.busyRight,
        "Busy during the update: file, Update and Close off; Help and More Info on");
  Check(Progress() == 100, "the progress bar at 100");
  Check(Enabled(IDC_UPDATE) && Enabled(IDC_CHOOSE_FILE) && CloseEnabled(), "FileReady at the end");
  CheckEqual(Field(IDC_DEVICE), r, "the Device field names the instrument");
  CheckEqual(Field(IDC_MORE_INFO), "More Info <<", "the log is open");
  CheckEqual(Field(IDC_COPYRIGHT), kCopyrightLine, "the copyright line");
  if (!g_script.screenshot.empty()) Check(g_script.shot, "a picture of the window mid-update");
}

void CheckRefused() {
  const std::string r = g_script.resource;
  CheckEqual(Field(IDC_LOG),
             Lines({"Open File: " + g_script.file, "Connecting ... OK",
                    WriterNamesNoModelLine(r.c_str()), kLogCancelled, "Error number: 0x0033", ""}),
             "the log of a writer that names no model, answered No");
  Check(g_script.boxes.size() == 1, "one box: the warning, no confirmation");
  if (!g_script.boxes.empty()) {
    const Box& warning = g_script.boxes[0];
    CheckEqual(warning.caption, kConfirmModelCaption, "the warning's caption");
    CheckEqual(warning.icon, "warning", "its icon");
    Check(warning.defaultButton == IDNO, "its default is No");
    Check(warning.text.find("Is this instrument a WX2040?") != std::string::npos,
          "it asks whether the instrument is a WX2040");
  }
  Check(Enabled(IDC_UPDATE) && CloseEnabled(), "FileReady at the end");
}

// The script, one step at a time on a timer of the window's thread (its events go on in the
// window's own loops: the modal dialog, the update's, the boxes').
void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  Script& s = g_script;
  HWND dialog = s.window->hwnd();
  const bool idle = !s.window->model().updateRunning() && Enabled(IDC_CHOOSE_FILE);
  if (++s.ticks > 60 * 50) {  // a minute
    Check(false, "the script finished in time (at step " + std::to_string(s.step) + ")");
    s.step = 99;
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    return;
  }
  switch (s.step) {
    case 0:
      Click(IDC_MORE_INFO);
      Click(IDC_CHOOSE_FILE);
      s.step = 1;
      break;
    case 1:
      if (!idle || Field(IDC_FILE).empty() || Field(IDC_DEVICE).empty()) break;
      CheckFileAccepted();
      Click(IDC_UPDATE);
      s.step = 2;
      break;
    case 2:
      if (s.window->model().updateRunning()) {
        CheckBusy();
        if (s.scenario == "complete" && s.window->model().programming() && !s.askedToStop) {
          s.askedToStop = true;
          PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);  // Esc
        }
        if (!s.screenshot.empty() && !s.shot && Progress() >= 40) {
          s.shot = SaveScreenshot(dialog, s.screenshot);
        }
        break;
      }
      if (!idle) break;
      if (s.scenario == "complete") {
        CheckCompleted();
      } else {
        CheckRefused();
      }
      s.step = 3;
      PostMessageA(dialog, WM_CLOSE, 0, 0);
      break;
    default:
      break;
  }
}

void OnReady(void*, UpdaterWindow* window) {
  g_script.window = window;
  SetTimer(nullptr, 0, 20, Tick);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (std::strcmp(argv[1], "complete") != 0 &&
                   std::strcmp(argv[1], "writer-no-model") != 0)) {
    std::fprintf(stderr, "usage: test_window_win32 complete|writer-no-model FILE RESOURCE [BMP]\n");
    return 2;
  }
  g_script.scenario = argv[1];
  g_script.file = argv[2];
  g_script.resource = argv[3];
  if (argc > 4) g_script.screenshot = argv[4];
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  HHOOK hook = SetWindowsHookExA(WH_CBT, BoxHook, nullptr, GetCurrentThreadId());
  {
    Win32Prompts prompts(OpenFileHook);
    UpdaterWindow window(prompts.ops(), GetModuleHandleA(nullptr));
    window.SetReadyHandler(OnReady, nullptr);
    window.Run();
    Check(g_script.step == 3, "the window closed at the script's end");
  }
  UnhookWindowsHookEx(hook);
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}

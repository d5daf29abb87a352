// flintgate.exe: the firmware-update window on Windows. The application's start-up: Windows
// Sockets and the common controls, then the main dialog, run modally; the program ends with it.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "app/dialog/dialog_texts.h"
#include "app/win32/updater_window.h"
#include "app/win32/win32_prompts.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WSADATA sockets{};
  if (WSAStartup(MAKEWORD(2, 2), &sockets) != 0) {
    MessageBoxA(nullptr, fg::app::LoadStringResource(fg::app::IDS_SOCKETS_INIT_FAILED),
                fg::app::kProgramName, MB_OK | MB_ICONHAND);
    return 0;
  }
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  {
    fg::app::Win32Prompts prompts;
    fg::app::UpdaterWindow window(prompts.ops(), instance);
    window.Run();
  }
  WSACleanup();
  return 0;
}

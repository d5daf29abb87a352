#include "platform/html_help.h"

// clang-format off
#include <windows.h>
#include <htmlhelp.h>
// clang-format on

#include "platform/dynamic_library.h"

namespace fg::platform {

namespace {

// Where COM finds the HTML Help control; its library is the one that exports HtmlHelpA.
constexpr const char* kHtmlHelpControlKey =
    "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
constexpr const char* kHtmlHelpLibraryName = "hhctrl.ocx";

using HtmlHelpAFunction = HWND(WINAPI*)(HWND owner, LPCSTR file, UINT command, DWORD_PTR data);

// The full path of `fileName` in the running program's folder; empty when the program's path
// does not fit MAX_PATH.
std::string InProgramFolder(const char* fileName) {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return std::string();
  std::string folder(path, length);
  const size_t separator = folder.find_last_of('\\');
  if (separator == std::string::npos) return std::string();
  folder.resize(separator + 1);
  return folder + fileName;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Loads the library once. A failed load leaves module and function null for good, so a Help
// button pressed again costs nothing and shows nothing.
void LoadOnce(HtmlHelpViewer* viewer) {
  if (viewer->loadTried) return;
  viewer->loadTried = true;
  const std::string library =
      viewer->library != nullptr ? std::string(viewer->library) : RegisteredHtmlHelpLibrary();
  std::string error;
  void* module = OpenLibrary(library, &error);
  if (module == nullptr) return;
  void* function = FindSymbol(module, "HtmlHelpA");
  if (function == nullptr) {
    CloseLibrary(module);
    return;
  }
  viewer->module = module;
  viewer->htmlHelpA = function;
}

HtmlHelpAFunction Function(const HtmlHelpViewer* viewer) {
  return reinterpret_cast<HtmlHelpAFunction>(viewer->htmlHelpA);
}

}  // namespace

std::string RegisteredHtmlHelpLibrary() {
  // RegGetValueA terminates the text and expands a REG_EXPAND_SZ value (%SystemRoot%\...).
  char path[MAX_PATH + 1] = {};
  DWORD size = sizeof path;
  const LSTATUS status = RegGetValueA(HKEY_CLASSES_ROOT, kHtmlHelpControlKey, nullptr,
                                      RRF_RT_REG_SZ, nullptr, path, &size);
  if (status != ERROR_SUCCESS || path[0] == '\0') return kHtmlHelpLibraryName;
  return std::string(path);
}

int32_t ShowHtmlHelp(HtmlHelpViewer* viewer, const char* fileName, void** window) {
  if (window != nullptr) *window = nullptr;
  const std::string path = InProgramFolder(fileName);
  if (path.empty() || !IsFile(path)) return kHtmlHelpFileMissing;
  LoadOnce(viewer);
  if (viewer->htmlHelpA == nullptr) return kHtmlHelpUnavailable;
  HWND shown = Function(viewer)(GetDesktopWindow(), path.c_str(), HH_DISPLAY_TOPIC, 0);
  if (window != nullptr) *window = shown;
  return shown != nullptr ? kHtmlHelpShown : kHtmlHelpNoWindow;
}

void CloseHtmlHelpWindows(HtmlHelpViewer* viewer) {
  if (viewer->htmlHelpA == nullptr) return;
  Function(viewer)(nullptr, nullptr, HH_CLOSE_ALL, 0);
}

}  // namespace fg::platform

// The HTML Help viewer that shows the Windows help file: hhctrl.ocx, found through the registered
// HTML Help control and loaded at the first use. Window-free: the caller only gets the viewer's
// window back. Elsewhere there is no such viewer (the Qt window shows the HTML guide itself).
#pragma once
#include <cstdint>
#include <string>

namespace fg::platform {

// The help file the Windows window opens, found beside the program.
inline constexpr const char* kHtmlHelpFileName = "FlintgateHelp_204.chm";

// Outcomes of ShowHtmlHelp. The Help button may ignore them all: whatever is missing, nothing
// is shown and nothing is reported to the user.
enum HtmlHelpResult : int32_t {
  kHtmlHelpShown = 0,
  kHtmlHelpUnavailable = 1,  // no viewer library, one without HtmlHelpA, or no viewer on this system
  kHtmlHelpFileMissing = 2,  // no such file in the program's folder
  kHtmlHelpNoWindow = 3,     // the viewer was called but opened no window
};

// The viewer of one window, kept for the window's life. The library is loaded at the first
// ShowHtmlHelp that finds the help file; a load that failed is never tried again.
struct HtmlHelpViewer {
  // The library to load instead of the registered one; null for the registered HTML Help
  // control, else "hhctrl.ocx" by the system's search. Tests name a library that fails.
  const char* library = nullptr;
  bool loadTried = false;
  void* module = nullptr;      // the loaded library, null until loaded or after a failed load
  void* htmlHelpA = nullptr;   // its HtmlHelpA
};

// The file the HTML Help control is registered with (the InprocServer32 value of its CLSID,
// environment variables expanded), or "hhctrl.ocx" when the registry names none.
std::string RegisteredHtmlHelpLibrary();

// Opens `fileName`, looked up in the folder of the running program, at its default topic
// (HH_DISPLAY_TOPIC with data 0, owned by the desktop window). *window, when given, receives
// the viewer's window handle, null when none was opened.
int32_t ShowHtmlHelp(HtmlHelpViewer* viewer, const char* fileName, void** window);

// Closes every viewer window of this process (HH_CLOSE_ALL), as a window does before it ends.
// The library stays loaded. Nothing happens when it never loaded.
void CloseHtmlHelpWindows(HtmlHelpViewer* viewer);

}  // namespace fg::platform

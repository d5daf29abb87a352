// The HTML Help viewer loader: the library the registry names, the help file looked up beside
// the program, a failed load never tried again, and the viewer's window on the help file built
// from the user guide (it needs a display: ./run's Windows part runs this under Xvfb).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/html_help.h"

namespace fg::test {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string BesideProgram(const char* name) {
  char path[MAX_PATH + 1] = {};
  std::string text(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  return text.substr(0, text.find_last_of('\\') + 1) + name;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Without a display wine has no window driver and every window fails to open.
bool WindowsCanOpen() {
  HWND probe = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  return true;
}

TEST(HtmlHelp, TheRegisteredControlNamesAnExistingHhctrl) {
  const std::string library = platform::RegisteredHtmlHelpLibrary();
  const std::string suffix = "\\hhctrl.ocx";
  ASSERT_GT(library.size(), suffix.size()) << library;
  EXPECT_EQ(Lower(library).substr(library.size() - suffix.size()), suffix) << library;
  EXPECT_TRUE(IsFile(library)) << library;
}

TEST(HtmlHelp, AMissingFileOrViewerShowsNothingAndAFailedLoadIsNotRetried) {
  platform::HtmlHelpViewer viewer;
  void* window = &viewer;
  EXPECT_EQ(platform::ShowHtmlHelp(&viewer, "NoSuchHelp_204.chm", &window),
            platform::kHtmlHelpFileMissing);
  EXPECT_EQ(window, nullptr);
  EXPECT_FALSE(viewer.loadTried) << "a missing file needs no viewer";

  // visa64.dll stands in for a help file beside the program: the viewer fails before reading it.
  ASSERT_TRUE(IsFile(BesideProgram("visa64.dll")));
  viewer.library = "no-such-viewer.ocx";
  window = &viewer;
  EXPECT_EQ(platform::ShowHtmlHelp(&viewer, "visa64.dll", &window), platform::kHtmlHelpUnavailable);
  EXPECT_EQ(window, nullptr);
  EXPECT_TRUE(viewer.loadTried);
  viewer.library = nullptr;  // the registered viewer would load now, but is not tried again
  EXPECT_EQ(platform::ShowHtmlHelp(&viewer, "visa64.dll", nullptr), platform::kHtmlHelpUnavailable);
  EXPECT_EQ(viewer.module, nullptr);
  platform::CloseHtmlHelpWindows(&viewer);  // nothing loaded: nothing to close

  // A library without HtmlHelpA is let go again.
  platform::HtmlHelpViewer other;
  other.library = "kernel32.dll";
  EXPECT_EQ(platform::ShowHtmlHelp(&other, "visa64.dll", nullptr), platform::kHtmlHelpUnavailable);
  EXPECT_EQ(other.module, nullptr);
  EXPECT_EQ(other.htmlHelpA, nullptr);
}

TEST(HtmlHelp, TheHelpFileBesideTheProgramOpensInTheViewerWithItsTitle) {
  if (!IsFile(BesideProgram(platform::kHtmlHelpFileName))) {
    GTEST_SKIP() << platform::kHtmlHelpFileName << " was not built (chmcmd is missing)";
  }
  if (!WindowsCanOpen()) GTEST_SKIP() << "no display: the viewer cannot open a window";

  platform::HtmlHelpViewer viewer;
  void* window = nullptr;
  ASSERT_EQ(platform::ShowHtmlHelp(&viewer, platform::kHtmlHelpFileName, &window),
            platform::kHtmlHelpShown);
  ASSERT_NE(window, nullptr);
  HWND shown = static_cast<HWND>(window);
  EXPECT_TRUE(IsWindowVisible(shown));
  char title[256] = {};
  GetWindowTextA(shown, title, sizeof title);
  EXPECT_STREQ(title, "Flintgate 2.04 Help");

  char loaded[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(viewer.module), loaded, MAX_PATH);
  EXPECT_EQ(Lower(std::string(loaded, length)), Lower(platform::RegisteredHtmlHelpLibrary()));

  platform::CloseHtmlHelpWindows(&viewer);
  EXPECT_FALSE(IsWindow(shown));
}

}  // namespace
}  // namespace fg::test

#include "platform/html_help.h"

namespace fg::platform {

// There is no HTML Help viewer outside Windows; the Qt window shows the HTML guide instead.
std::string RegisteredHtmlHelpLibrary() { return std::string(); }

int32_t ShowHtmlHelp(HtmlHelpViewer* viewer, const char*, void** window) {
  viewer->loadTried = true;
  if (window != nullptr) *window = nullptr;
  return kHtmlHelpUnavailable;
}

void CloseHtmlHelpWindows(HtmlHelpViewer*) {}

}  // namespace fg::platform

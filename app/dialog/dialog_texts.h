// The window's fixed texts, the same in every toolkit: name, version, title, copyright line,
// button captions, the stop question and the string resources.
#pragma once
#include <cstdint>
#include <string>

#include "flintgate_version.h"

namespace fg::app {

inline constexpr const char* kProgramName = "Flintgate";
inline constexpr const char* kProgramVersion = kFlintgateVersion;  // "2.04"
// Name, version and an empty third part: the title ends in a blank.
inline constexpr const char* kTitleFormat = "%s %s %s";
inline constexpr const char* kCopyrightLine = "Copyright (C) 2026 The Flintgate developers";
inline constexpr const char* kConnectionMethod = "USB Only";

inline constexpr const char* kMoreInfoCollapsed = "More Info >>";
inline constexpr const char* kMoreInfoExpanded = "More Info <<";
// Shown in the device list while two or more instruments are listed and none is picked.
inline constexpr const char* kPickInstrumentPlaceholder = "Pick the instrument to update";

// The question a close attempt (Esc, the close button) asks while images are programmed; No,
// the default, goes on with the update.
inline constexpr const char* kStopQuestionCaption = "Stop Firmware Update";
inline constexpr const char* kStopQuestionText =
    "Stop the update after the image in progress and close the window?\n\n"
    "The image being programmed is always completed; the images after it are left out, and the "
    "instrument stays in writer mode until the same update is run again.\n\n"
    "No goes on with the update.";

// String resources.
inline constexpr int32_t IDS_SOCKETS_INIT_FAILED = 103;
inline constexpr const char* kSocketsInitFailed =
    "Windows sockets initialization failed. Flintgate cannot start.";

// The text of a string resource, or null.
inline const char* LoadStringResource(int32_t id) {
  return id == IDS_SOCKETS_INIT_FAILED ? kSocketsInitFailed : nullptr;
}

inline constexpr int32_t IDR_MAINFRAME = 128;  // the program icon

// "Flintgate 2.04 ": name, version and an empty third part.
std::string WindowTitle();

}  // namespace fg::app

// Result numbers of the package update drivers (UpdaterOps). Missing and oversize images carry
// the family's programmer error base: 0x101 / 0x102 for the WX2040, 0x201 / 0x202 for the WX2050.
#pragma once
#include <cstdint>

namespace fg {

inline constexpr int32_t kDriverNoLink = 1;          // Init: the link cannot be created
inline constexpr int32_t kDriverOpenFailed = 2;      // Connect: the resource cannot be opened
inline constexpr int32_t kDriverAnnounceFailed = 3;  // Connect: the display text cannot be written
inline constexpr int32_t kDriverNoWriter = 4;        // writer mode cannot be entered or reached
inline constexpr int32_t kDriverPayloadUnreadable = 5;
inline constexpr int32_t kDriverNoMemory = 6;        // no buffer for an image
inline constexpr int32_t kDriverOemAppendFailed = 7; // the OEM record cannot be appended
inline constexpr int32_t kDriverProgramFailed = 8;   // identity query or an image's programming
inline constexpr int32_t kDriverOlderImage = 9;      // an image older than the installed one
inline constexpr int32_t kDriverStopped = 0x20;      // stopped on request between two images
// Connect or Update: the instrument names another catalogue model than the file's. Nothing of
// the file was written to it.
inline constexpr int32_t kDriverOtherModel = 0x10;
// Update: a writer that names no model, neither seen naming the file's model before the switch
// nor confirmed by the user. Nothing was written to it.
inline constexpr int32_t kDriverWriterNamesNoModel = 0x11;
// Stopped at once in the middle of an image (a second stop request): its partition is left
// incomplete. The program ends there, so no run returns it; the stop notice names it.
inline constexpr int32_t kDriverCutShort = 0x21;
inline constexpr int32_t kDriverMissingImage = 1;    // + family base: a required image is missing
inline constexpr int32_t kDriverOversizeImage = 2;   // + family base: an image exceeds maxSize

// The update run reports a driver number n as this base + n (0x10020 for kDriverStopped).
inline constexpr int32_t kDriverErrorShownBase = 0x10000;

// A short English description of a driver result number, never null.
const char* DriverErrorText(int32_t code);

}  // namespace fg

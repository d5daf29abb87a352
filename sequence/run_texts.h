// The fixed texts of the update run (log lines, boxes) and the error-number line, shared by the
// run itself, its front ends and their tests.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace fg {

inline constexpr const char* kLogConnecting = "Connecting ... ";
inline constexpr const char* kLogUpdating = "Updating ... ";
inline constexpr const char* kLogOk = "OK";
inline constexpr const char* kLogFailed = "FAILED";
inline constexpr const char* kLogCompleted = "--------------- Completed ---------------";
inline constexpr const char* kLogCancelled = "Update was cancelled.";
// Logged instead of the completed line when a dry run's checks passed.
inline constexpr const char* kLogDryRunPassed = "Dry run: the package checks passed, nothing was programmed.";
inline constexpr const char* kLogOpenFilePrefix = "Open File: ";
// The accepted file's payload no longer has the bytes it had when the file was opened.
inline constexpr const char* kLogFileChanged =
    "The firmware file changed since it was opened: open it again.";
// Lines of the writer-mode switch, shown while the update runs.
inline constexpr const char* kLogWaitingForRestart = "Waiting for the instrument to restart ...";
inline constexpr const char* kLogWriterDidNotReturn =
    "The instrument did not come back in writer mode.";
// What a stop that ends the program leaves once the instrument was switched to its writer: the
// line the stop events' handler writes for the run (with line breaks around it, as it may follow
// a partial line).
inline std::string LeftInWriterModeNotice(const char* resource) {
  return std::string("\n") + resource +
         ": stopped with the instrument in writer mode, where it stays. Run the same update again "
         "to install the firmware (flintgate-cli update FILE finds it in writer mode).\n";
}
// Two or more instruments of the model are connected and none is picked yet.
inline constexpr const char* kLogPickInstrument =
    "Several instruments found: pick one in the Device list, then press Update.";
// A close request while images are erased or programmed.
inline constexpr const char* kLogFinishingImage = "finishing the image in progress, then stopping";

inline constexpr const char* kMsgCannotInitiate = "Cannot initiate the update.";
inline constexpr const char* kMsgNoInstrument = "No instrument found.";
inline constexpr const char* kCaptionSearchInstrument = "Search Instrument";
inline constexpr const char* kMsgCannotConnect = "Cannot connect to the device.";
inline constexpr const char* kConfirmCaption = "Confirm Firmware Update";
inline constexpr const char* kConfirmModelCaption = "Confirm Instrument Model";

// "Are you sure you want to update <resource>?"
inline std::string ConfirmText(const char* resourceName) {
  return std::string("Are you sure you want to update ") + resourceName + "?";
}

// An instrument that names another model than the file's: the log line and the box.
inline std::string OtherModelLine(const char* resource, const char* instrumentModel,
                                  const char* fileModel) {
  return std::string("The instrument ") + resource + " is a " + instrumentModel +
         "; this file is for the " + fileModel + ". Nothing was written to it: use a " +
         instrumentModel + " firmware file for it.";
}
inline std::string OtherModelMessage(const char* instrumentModel, const char* fileModel) {
  return std::string("This instrument is a ") + instrumentModel + ", but the firmware file is for the " +
         fileModel + ".";
}
// A writer that names no model and was not confirmed as the file's model.
inline std::string WriterNamesNoModelLine(const char* resource) {
  return std::string("The instrument ") + resource +
         " is in writer mode and does not say which model it is. Nothing was written to it.";
}
// The question before the update confirmation for such a writer.
inline std::string ConfirmWriterModelText(const char* resource, const char* serial,
                                          const char* fileModel) {
  return std::string("The instrument ") + resource + " (serial number " + serial +
         ") is in writer mode and does not say which model it is.\n\nUpdate it only if it is a " +
         fileModel + ": another model's images can make it unusable.\n\nIs this instrument a " +
         fileModel + "?";
}

// One update per instrument: another update holds it, or no lock can be made for it; and an
// instrument found in writer mode (model: what its reply names, "" none, null not known).
inline constexpr const char* kCaptionInstrumentInUse = "Instrument in Use";
inline std::string InstrumentBusyText(const std::string& instrument, const std::string& holder) {
  return "The instrument " + instrument + " is being updated by " + holder +
         "; nothing was sent to it.";
}
inline std::string InstrumentLockFailedText(const std::string& instrument,
                                            const std::string& problem) {
  return "The instrument " + instrument + " cannot be locked against a second update; nothing " +
         "was sent to it. " + problem;
}
inline std::string FoundInWriterModeText(const char* model) {
  const std::string named = model == nullptr ? ""
                            : model[0] == '\0' ? " (it names no model)"
                                               : std::string(" (it names ") + model + ")";
  return "The instrument was found in writer mode" + named + "; the update goes on from there.";
}

// "Error number: 0x%04X": at least four upper-case digits, all of them for larger numbers.
inline std::string ErrorNumberLine(int32_t number) {
  char text[32];
  std::snprintf(text, sizeof text, "Error number: 0x%04X", static_cast<unsigned>(number));
  return text;
}

}  // namespace fg

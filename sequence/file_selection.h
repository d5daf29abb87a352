// Opening a firmware file: parse, acceptance checks, fields, log lines and the device refresh.
#pragma once
#include <cstdint>
#include <string>

#include "catalog/model_catalog.h"
#include "firmware/firmware_file.h"
#include "firmware/firmware_header.h"
#include "sequence/front_end.h"
#include "util/sha256.h"

namespace fg {

// What the front end holds about the accepted file. Not copyable: it owns the open file.
struct FileSelection {
  FirmwareHeader header;            // the last parsed header
  const ModelInfo* selectedModel;   // the accepted file's model, or null
  char path[4096];                  // the File field: the accepted file's full path, or empty
  // The accepted file, open from its selection to the extraction of its payload, which reads
  // this descriptor and never the path again. Closed while no file is accepted.
  FirmwareFile file;
  // The payload's SHA-256 when the file was accepted: every extraction must match it, so that
  // bytes overwritten in place since (at the same size) are never installed.
  Sha256Digest payloadDigest;
};

// Messages and captions of the file selection.
inline constexpr const char* kMsgCantOpenFile = "Can't open file.";
inline constexpr const char* kMsgCorruptedFile = "The firmware revision file is corrupted.";
// The line beside "Can't open file.": why (platform::WhyNotRegularFile or the path's length).
inline std::string CantOpenFileLine(const std::string& why) {
  return "The file cannot be opened: " + why + ".";
}
inline constexpr const char* kCaptionError = "Error";

// Runs the selection of `path`, chosen by the user (the caller clears the log and shows the
// file dialog first). Returns 0 when accepted, -1 when the file cannot be opened (a path that
// does not fit the File field counts as such, and so does anything but a regular file reached
// without a link: a directory, a FIFO, a device), else the error number. A file that cannot be
// opened changes nothing but the log. A rejected file clears the fields and the selection and
// returns the window to NoFile, so that no later update can mix two files. An accepted file's
// payload is read once to take its digest; a payload that cannot be read gives -1 and the box of
// a file that cannot be opened, and clears the selection as a rejection does. After every file
// that could be opened the device list is refreshed for the selected model (none after a
// rejection, which leaves the list as it was), with the front end's search; a front end without
// a device list is not searched.
int32_t SelectFirmwareFile(const FrontEndOps* fe, FileSelection* selection, const char* path);

}  // namespace fg

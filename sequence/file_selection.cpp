#include "sequence/file_selection.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "firmware/file_acceptance.h"
#include "platform/regular_file.h"
#include "link/device_search.h"
#include "sequence/run_texts.h"
#include "util/bounded_text.h"
#include "util/printable_text.h"

namespace fg {

namespace {

void ClearSelection(const FrontEndOps* fe, FileSelection* selection) {
  selection->selectedModel = nullptr;
  selection->path[0] = '\0';
  selection->file.Close();
  fe->SetFileFields(fe->owner, "", "", "", "");
  fe->SetControlState(fe->owner, NoFile);
}

}  // namespace

int32_t SelectFirmwareFile(const FrontEndOps* fe, FileSelection* selection, const char* path) {
  if (path == nullptr) path = "";
  // A name may hold anything a file system allows: what would disturb a terminal is escaped.
  fe->AppendLogLine(fe->owner, (std::string(kLogOpenFilePrefix) + EscapeName(path)).c_str());

  // The File field shows the path, so a path that would be cut short must not be taken.
  FirmwareFile opened;
  std::FILE* file = nullptr;
  std::string why;
  if (std::strlen(path) >= sizeof selection->path) {
    why = "the path is longer than " + std::to_string(sizeof selection->path - 1) + " characters";
  } else if (!opened.Open(path)) {
    why = platform::WhyNotRegularFile(path);
  } else if ((file = opened.OpenStream()) == nullptr) {
    why = "it could not be read";
  }
  if (file == nullptr) {
    fe->MessageBox(fe->owner, kMsgCantOpenFile, kCaptionError, BoxIcon::Error);
    fe->AppendLogLine(fe->owner, CantOpenFileLine(why).c_str());
    return -1;
  }

  int32_t err = ParseFirmwareHeader(&selection->header, file);
  const ModelInfo* matched = nullptr;
  if (err == 0) err = CheckFirmwareAcceptance(&selection->header, &matched);
  // The header parsed into the selection already, so a payload that cannot be read must not
  // leave the previous file selected beside it.
  Sha256Digest digest{};
  if (err == 0 && DigestPayload(opened, selection->header.payloadOffset, &digest) != kExtractOk) {
    std::fclose(file);
    fe->MessageBox(fe->owner, kMsgCantOpenFile, kCaptionError, BoxIcon::Error);
    ClearSelection(fe, selection);
    return -1;
  }
  if (err == 0) {
    selection->selectedModel = matched;
    selection->payloadDigest = digest;
    selection->file = std::move(opened);
    CopyBounded(selection->path, path);
    fe->SetFileFields(fe->owner, selection->path, selection->header.ModelName,
                      selection->header.ImageRev, selection->header.UpdatedDescription);
    fe->SetControlState(fe->owner, FileReady);
  }
  std::fclose(file);

  if (err != 0) {
    fe->MessageBox(fe->owner, kMsgCorruptedFile, kCaptionError, BoxIcon::Error);
    fe->AppendLogLine(fe->owner, ErrorNumberLine(err).c_str());
    // The box says "corrupted" for every rejection; the log says which rule refused the file.
    const std::string detail = FileRejectionDetail(err, selection->header);
    if (!detail.empty()) fe->AppendLogLine(fe->owner, detail.c_str());
    ClearSelection(fe, selection);
  }

  if (fe->deviceList != nullptr) {
    RefreshDeviceList(fe->env, fe->deviceList, selection->selectedModel);
  }
  return err;
}

}  // namespace fg

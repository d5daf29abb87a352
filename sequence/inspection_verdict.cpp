#include "sequence/inspection_verdict.h"

#include <cstdio>

#include "programmer/programmer_errors.h"
#include "sequence/update_run.h"
#include "updater/driver_errors.h"
#include "util/bounded_text.h"

namespace fg {

namespace {

template <size_t N>
std::string Field(const char (&text)[N]) {
  return std::string(text, BoundedLength(text, N));
}

std::string ErrorNumber(int32_t number) {
  char text[32];
  std::snprintf(text, sizeof text, "error number 0x%04X", static_cast<unsigned>(number));
  return text;
}

// The first failing package check in a sentence, with the number the update would end with.
std::string PackageRefusal(const FirmwareInspection& r) {
  if (!r.packageChecked) return "its package cannot be checked by the model's updater";
  const std::string number = ErrorNumber(kRunDriverErrorBase + r.packageError);
  const int32_t count = r.plan.ruleCount < 0 ? 0 : (r.plan.ruleCount > 6 ? 6 : r.plan.ruleCount);
  for (int32_t i = 0; i < count; ++i) {
    const ImagePlanRow& row = r.plan.rows[i];
    if (row.check == 0) continue;
    const std::string image = Field(row.partitionName);
    char text[256];
    if (!row.present) {
      // Records past the index's capacity are never read, though they are in the file.
      if (r.walk.records > r.index.imageCount) {
        std::snprintf(text, sizeof text,
                      "the package has no %s image among the first %d of its %d records, the "
                      "ones an update reads (%s)",
                      image.c_str(), r.index.imageCount, r.walk.records, number.c_str());
      } else {
        std::snprintf(text, sizeof text, "the package has no %s image, which every update of "
                      "the %s needs (%s)", image.c_str(), r.model->name, number.c_str());
      }
    } else if ((row.check & 0xFF) == kDriverOversizeImage) {
      std::snprintf(text, sizeof text, "the %s image is %u bytes, more than the %u of its "
                    "partition (%s)", image.c_str(), row.length, row.maxSize, number.c_str());
    } else if (row.check == kDriverProgramFailed && row.recordCheck != 0) {
      std::snprintf(text, sizeof text, "the %s image would be refused before programming: %s "
                    "(%s)", image.c_str(), ProgrammerErrorText(row.recordCheck), number.c_str());
    } else {
      std::snprintf(text, sizeof text, "the %s image fails a package check: %s (%s)",
                    image.c_str(), DriverErrorText(row.check), number.c_str());
    }
    return text;
  }
  return "its package fails a check (" + number + ")";
}

std::string Truncation(const FirmwareInspection& r) {
  const PayloadWalk& w = r.walk;
  const long long left = static_cast<long long>(r.payloadSize - w.completeBytes);
  char text[256];
  if (w.cutLength > 0) {
    std::snprintf(text, sizeof text,
                  "the file is cut short: the image record at payload offset %lld is %lld bytes "
                  "long, but only %lld of them are there",
                  static_cast<long long>(w.completeBytes), static_cast<long long>(w.cutLength),
                  left);
  } else {
    std::snprintf(text, sizeof text,
                  "the file is cut short: its last %lld bytes, from payload offset %lld, are too "
                  "few for an image record",
                  left, static_cast<long long>(w.completeBytes));
  }
  std::string sentence = text;
  if (r.packageChecked && r.packageError != 0) {
    sentence += "; an update would end with " + ErrorNumber(kRunDriverErrorBase + r.packageError);
  }
  return sentence;
}

}  // namespace

std::string InspectionVerdictText(const FirmwareInspection& r) {
  const std::string notOnModel =
      r.model != nullptr ? std::string("not installable on ") + r.model->name + ": "
                         : std::string("not installable: ");
  switch (r.blocker) {
    case InstallBlocker::kNone:
      return std::string("installable on ") + (r.model != nullptr ? r.model->name : "?");
    case InstallBlocker::kCantOpen:
      return "not installable: the file cannot be opened";
    case InstallBlocker::kHeaderRefused:
      return "not installable: its header is refused with " + ErrorNumber(r.error);
    case InstallBlocker::kNoUpdater:
      return notOnModel + "Flintgate has no updater for this model, so an update ends with " +
             ErrorNumber(kRunNoUpdater);
    case InstallBlocker::kNoFileStart:
      return notOnModel +
             "no \"# FileStart\" line ends the header, so the payload would be the whole file, "
             "header text included";
    case InstallBlocker::kEmptyPayload:
      return notOnModel + "the file holds no payload: nothing follows its \"# FileStart\" line";
    case InstallBlocker::kTruncated:
      return notOnModel + Truncation(r);
    case InstallBlocker::kPackageRefused:
      return notOnModel + PackageRefusal(r);
  }
  return notOnModel + "for a reason this version cannot name";
}

const char* InstallBlockerWord(InstallBlocker blocker) {
  switch (blocker) {
    case InstallBlocker::kNone: return nullptr;
    case InstallBlocker::kCantOpen: return "cannot-open";
    case InstallBlocker::kHeaderRefused: return "header-refused";
    case InstallBlocker::kNoUpdater: return "no-updater";
    case InstallBlocker::kNoFileStart: return "no-file-start";
    case InstallBlocker::kEmptyPayload: return "no-payload";
    case InstallBlocker::kTruncated: return "truncated";
    case InstallBlocker::kPackageRefused: return "package-refused";
  }
  return "unknown";
}

}  // namespace fg

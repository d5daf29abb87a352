// flintgate-cli inspect FILE [--json]: header, acceptance and image index of a firmware file,
// the package checks that need no instrument, and the verdict on the whole file. Reads only;
// never writes a file.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/commands.h"
#include "cli/word_wrap.h"
#include "firmware/file_acceptance.h"
#include "updater/firmware_inspection.h"
#include "sequence/file_selection.h"
#include "sequence/inspection_verdict.h"
#include "sequence/plan_report.h"
#include "sequence/update_run.h"
#include "updater/update_plan.h"
#include "util/bounded_text.h"

namespace fg::cli {

namespace {

using Json = nlohmann::ordered_json;

// Each byte of a text field becomes one code point (U+0000..U+00FF), so the JSON string gives
// back the stored bytes exactly; the output is written ASCII-only, with \u escapes.
std::string BytesAsCodePoints(const char* text, size_t capacity) {
  std::string utf8;
  size_t n = BoundedLength(text, capacity);
  for (size_t i = 0; i < n; ++i) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      utf8 += static_cast<char>(b);
    } else {
      utf8 += static_cast<char>(0xC0 | (b >> 6));
      utf8 += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return utf8;
}

template <size_t N>
std::string FieldText(const char (&field)[N]) {
  return BytesAsCodePoints(field, N);
}

// For the human form: printable ASCII as is, anything else as \xNN.
template <size_t N>
std::string Printable(const char (&field)[N]) {
  std::string s;
  size_t n = BoundedLength(field, N);
  for (size_t i = 0; i < n; ++i) {
    unsigned char b = static_cast<unsigned char>(field[i]);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      s += static_cast<char>(b);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", b);
      s += esc;
    }
  }
  return s;
}

// Exit status of a file whose header is accepted but which an update could not install.
constexpr int kExitNotInstallable = 3;

constexpr const char* kExitStatusHelp =
    "Exit status:\n"
    "  0  the file is installable on its model (the versions aside: only the instrument tells)\n"
    "  1  the header is refused, or the file cannot be read\n"
    "  2  bad usage\n"
    "  3  the header is accepted, but the file cannot be installed (the verdict says why)";

int ExitStatusOf(const FirmwareInspection& r) {
  if (r.blocker == InstallBlocker::kNone) return kExitOk;
  if (r.error != 0) return kExitFailed;
  return kExitNotInstallable;
}

const char* MessageFor(int32_t error) {
  if (error == 0) return nullptr;
  if (error == kInspectCantOpen) return kMsgCantOpenFile;
  return kMsgCorruptedFile;
}

Json InspectionJson(const char* path, const FirmwareInspection& r) {
  Json j;
  j["file"] = path;
  j["accepted"] = r.error == 0;
  j["error"] = r.error;
  const char* message = MessageFor(r.error);
  j["message"] = message != nullptr ? Json(message) : Json(nullptr);
  j["model"] = r.model != nullptr ? Json(r.model->name) : Json(nullptr);
  Json h;
  h["ImageRev"] = FieldText(r.header.ImageRev);
  h["ModelName"] = FieldText(r.header.ModelName);
  h["RevsNotSupport"] = FieldText(r.header.RevsNotSupport);
  h["UpdatedDescription"] = FieldText(r.header.UpdatedDescription);
  h["UtilityRev"] = FieldText(r.header.UtilityRev);
  h["payloadOffset"] = r.header.payloadOffset;
  j["header"] = h;
  j["payloadSize"] = r.payloadSize;
  Json images = Json::array();
  for (int32_t i = 0; i < r.index.imageCount; ++i) {
    const ImageIndexEntry& e = r.index.images[i];
    Json img;
    img["offset"] = e.offset;
    img["length"] = e.length;
    img["leadWord"] = e.leadWord;
    img["imageLength"] = e.imageLength;
    img["storedLength"] = e.storedLength;
    img["version"] = FieldText(e.version);
    img["tag"] = e.tag;
    img["trailerWord"] = e.trailerWord;
    img["blockId"] = e.blockId;
    img["trailerByte"] = e.trailerByte;
    images.push_back(img);
  }
  j["images"] = images;
  j["records"] = r.walk.walked ? Json(r.walk.records) : Json(nullptr);
  j["trailingBytes"] =
      r.walk.walked ? Json(r.payloadSize - r.walk.completeBytes) : Json(nullptr);
  if (r.packageChecked) {
    Json package;
    package["error"] = r.packageError;
    package["updateError"] =
        r.packageError != 0 ? Json(kRunDriverErrorBase + r.packageError) : Json(nullptr);
    package["programmerError"] = r.plan.programmerError;
    Json rules = Json::array();
    for (int32_t i = 0; i < r.plan.ruleCount && i < 6; ++i) {
      const ImagePlanRow& row = r.plan.rows[i];
      Json rule;
      rule["partition"] = FieldText(row.partitionName);
      rule["present"] = row.present;
      rule["check"] = row.check;
      rule["verdict"] = PlanVerdict(row);
      rules.push_back(rule);
    }
    package["rules"] = rules;
    j["package"] = package;
  } else {
    j["package"] = nullptr;
  }
  j["installable"] = r.blocker == InstallBlocker::kNone;
  const char* reason = InstallBlockerWord(r.blocker);
  j["reason"] = reason != nullptr ? Json(reason) : Json(nullptr);
  j["verdict"] = InspectionVerdictText(r);
  return j;
}

// The last line of every inspection, broken at words to fit the output.
void PrintVerdict(const FirmwareInspection& r) {
  const std::string text = InspectionVerdictText(r);
  std::fputs(WrapWords("Verdict:      ", text, 14, ReportColumns(stdout)).c_str(), stdout);
}

void PrintHuman(const char* path, const FirmwareInspection& r) {
  std::printf("File:         %s\n", path);
  if (r.error == kInspectCantOpen) {
    std::printf("Result:       rejected: %s\n", kMsgCantOpenFile);
    PrintVerdict(r);
    return;
  }
  const FirmwareHeader& h = r.header;
  const std::string model = Printable(h.ModelName);
  const char* note = ModelNote(r.error, r.model, h.ModelName);
  std::printf("Model:        %s%s%s\n", model.c_str(), model.empty() || !*note ? "" : "  ", note);
  std::printf("Revision:     %s\n", Printable(h.ImageRev).c_str());
  std::printf("Needs tool:   %s\n", Printable(h.UtilityRev).c_str());
  std::printf("Description:  %s\n", Printable(h.UpdatedDescription).c_str());
  std::printf("Payload:      %lld bytes from offset %d\n", static_cast<long long>(r.payloadSize),
              h.payloadOffset);
  if (r.indexed) {
    std::printf("Images:       %d (index holds at most %d)\n", r.index.imageCount, r.index.capacity);
    for (int32_t i = 0; i < r.index.imageCount; ++i) {
      const ImageIndexEntry& e = r.index.images[i];
      std::printf("  block %3d  offset %10d  length %10d  version \"%s\"\n", e.blockId, e.offset,
                  e.length, Printable(e.version).c_str());
    }
  }
  if (r.packageChecked) {
    std::printf("Package checks (no instrument asked, so no version check):\n%s",
                PlanTable(r.plan).c_str());
  }
  if (r.packageError != 0) {
    const std::string note = PlanFailureNote(r.plan);
    if (!note.empty()) std::printf("%s\n", note.c_str());
    std::printf("Package:      refused: an update would end with error number 0x%04X before "
                "programming anything\n",
                static_cast<unsigned>(kRunDriverErrorBase + r.packageError));
  }
  if (r.error == 0) {
    std::printf("Result:       accepted\n");
  } else {
    std::printf("Result:       rejected, error number 0x%04X: %s\n", static_cast<unsigned>(r.error),
                kMsgCorruptedFile);
  }
  PrintVerdict(r);
}

int RunInspect(const std::string& path, bool json) {
  auto result = std::make_unique<FirmwareInspection>();
  InspectFirmwareFile(path.c_str(), result.get());
  if (json) {
    std::printf("%s\n", InspectionJson(path.c_str(), *result)
                            .dump(2, ' ', true, Json::error_handler_t::replace)
                            .c_str());
  } else {
    PrintHuman(path.c_str(), *result);
  }
  return ExitStatusOf(*result);
}

}  // namespace

CommandAction RegisterInspectCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand(
      "inspect", "Read a firmware file's header, check it and index its image package");
  auto path = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  sub->add_option("FILE", *path, "Firmware file")->required();
  sub->add_flag("--json", *json, "Print one JSON object");
  sub->footer(kExitStatusHelp);
  return [path, json] { return RunInspect(*path, *json); };
}

}  // namespace fg::cli

#include "sequence/update_record.h"

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>

#include "link/resource_serial.h"
#include "sequence/failure_report.h"
#include "updater/update_plan.h"
#include "updater/updater_families.h"
#include "platform/record_stamp.h"
#include "util/bounded_text.h"
#include "util/sha256.h"

namespace fg {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kUpToDateReason = "the installed versions equal the package's";

// The driver's plan is its own only once its Update ran.
bool UpdateRan(int32_t code) { return code == 0 || code > kRunDriverErrorBase; }

struct StreamCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The package's images against what the instrument named at first, or against nothing.
bool PackagePlan(const RunRecordInput& run, const RecordedFile& file, UpdatePlan* plan) {
  int32_t result = 0;
  if (run.findings != nullptr && run.findings->identified) {
    return CheckPackageAgainstIdentity(run.driver, &file.index, run.findings->before, plan,
                                       &result) == 0;
  }
  return CheckPackagePlan(run.driver, &file.index, plan, &result) == 0;
}

std::string Text(const char* field, size_t capacity) {
  return std::string(field, BoundedLength(field, capacity));
}

}  // namespace

bool DescribeRecordedFile(const FileSelection& selection, RecordedFile* out) {
  *out = RecordedFile{};
  out->name = Text(selection.path, sizeof selection.path);
  out->size = selection.file.size();
  Sha256 hash;
  Sha256Start(&hash);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[1 << 16]);
  for (int64_t at = 0; at < out->size;) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(out->size - at, 1 << 16));
    const int64_t got = platform::ReadAt(selection.file.handle(), buffer.get(), want, at);
    if (got <= 0) return false;
    Sha256Feed(&hash, buffer.get(), static_cast<size_t>(got));
    at += got;
  }
  out->sha256 = Sha256Hex(Sha256Finish(&hash));
  out->index.capacity = ImageCapacityForModel(selection.selectedModel);
  std::unique_ptr<std::FILE, StreamCloser> stream(selection.file.OpenStream());
  if (!stream) return false;
  ParseImageIndexStream(&out->index, stream.get(), selection.header.payloadOffset);
  return true;
}

const char* RecordResultWord(int32_t code, bool dryRun) {
  switch (code) {
    case 0: return dryRun ? "checks passed" : "completed";
    case kRunUpToDate: return "up to date";
    case kRunOtherModel: return "refused";
    default: return "failed";
  }
}

UpdateRecord MakeUpdateRecord(const RunRecordInput& run, const RecordedFile& file,
                              const std::string& program, const std::string& host,
                              std::time_t endedAt) {
  UpdateRecord r;
  r.time = platform::UtcTimeText(endedAt);
  r.host = host;
  r.program = program;
  r.resource = run.resource;
  const bool identified = run.findings != nullptr && run.findings->identified;
  char serial[kIdentitySerialSize] = {};
  if (identified && run.findings->serial[0] != '\0') {
    CopyBounded(serial, run.findings->serial);
  } else {
    ResourceSerialField(run.resource.c_str(), serial, sizeof serial);
  }
  r.serial = serial;
  r.model = identified && run.findings->before.model[0] != '\0' ? run.findings->before.model
                                                                 : run.model;
  r.fileName = file.name;
  r.fileSize = file.size;
  r.fileSha256 = file.sha256;

  UpdatePlan before{};
  UpdatePlan ran{};
  // Another model's record names none of the file's images: none of them concern it.
  const bool haveBefore =
      run.driver != nullptr && run.code != kRunOtherModel && PackagePlan(run, file, &before);
  const bool haveRan = UpdateRan(run.code) && run.driver != nullptr &&
                       ReadUpdatePlan(run.driver, &ran) == 0 && ran.ruleCount == before.ruleCount;
  for (int32_t i = 0; haveBefore && i < before.ruleCount && i < 6; ++i) {
    const ImagePlanRow& row = before.rows[i];
    RecordImage image;
    image.partition = Text(row.partitionName, sizeof row.partitionName);
    image.inPackage = row.present;
    if (row.present) image.package = Text(row.version, sizeof row.version);
    // The writer's answer is what the version check went by, where the run got that far.
    const ImagePlanRow* installed = haveRan && ran.rows[i].installedRead ? &ran.rows[i] : &row;
    image.installedKnown = installed->versioned && installed->installedRead;
    if (image.installedKnown) image.installed = Text(installed->installed, sizeof row.installed);
    image.programmed = haveRan && ran.rows[i].programmed;
    r.images.push_back(image);
  }

  r.result = RecordResultWord(run.code, run.dryRun);
  r.errorNumber = run.code == kRunUpToDate ? 0 : run.code;
  r.programmerError = haveRan ? ran.programmerError : 0;
  if (run.code == kRunUpToDate) {
    r.reason = kUpToDateReason;
  } else if (run.code != 0) {
    r.reason = DescribeFailure(run.code, run.driver).reason;
  }
  r.seconds = run.seconds;
  return r;
}

std::string RecordLine(const UpdateRecord& record) {
  Json line;
  line["time"] = record.time;
  line["host"] = record.host;
  line["program"] = record.program;
  line["resource"] = record.resource;
  line["serial"] = record.serial;
  line["model"] = record.model;
  line["file"] = {{"name", record.fileName}, {"size", record.fileSize}, {"sha256", record.fileSha256}};
  Json images = Json::array();
  for (const RecordImage& image : record.images) {
    Json one;
    one["partition"] = image.partition;
    one["installed"] = image.installedKnown ? Json(image.installed) : Json(nullptr);
    one["package"] = image.inPackage ? Json(image.package) : Json(nullptr);
    one["programmed"] = image.programmed;
    images.push_back(one);
  }
  line["images"] = images;
  line["result"] = record.result;
  line["errorNumber"] = record.errorNumber;
  line["programmerError"] = record.programmerError;
  line["reason"] = record.reason;
  line["seconds"] = record.seconds;
  return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool RecordWriter::Open(const std::string& path, std::string* problem) {
  std::lock_guard<std::mutex> lock(mutex_);
  platform::CloseRecordFile(&file_);
  path_ = path;
  return platform::OpenRecordFile(path.c_str(), &file_, problem);
}

bool RecordWriter::Append(const UpdateRecord& record, std::string* problem) {
  const std::string line = RecordLine(record);
  std::lock_guard<std::mutex> lock(mutex_);
  return platform::AppendRecord(file_, line.data(), line.size(), problem);
}

}  // namespace fg

// The record of one instrument's update run, as the update and the station keep it for a
// laboratory's files: when and where, which instrument, what it held before and what the package
// brought, which file (name, size, SHA-256), which images were programmed, and how it ended.
// A record is written as one line of JSON (RecordLine); the records of many runs, from several
// programs at once, go into one file (RecordWriter).
#pragma once
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "catalog/updater_ops.h"
#include "firmware/image_index.h"
#include "platform/record_file.h"
#include "sequence/file_selection.h"
#include "sequence/update_run.h"

namespace fg {

// The firmware file every record of a session names: taken once, from the open file the
// session installs from.
struct RecordedFile {
  std::string name;    // the path as it was accepted
  int64_t size = 0;    // bytes
  std::string sha256;  // of the whole file, 64 lower-case hexadecimal digits
  ImageIndex index{};  // the package's images, for their versions
};

// Reads the accepted file once through its open descriptor (the bytes installed are the bytes
// named). False when it cannot be read to its size.
bool DescribeRecordedFile(const FileSelection& selection, RecordedFile* out);

struct RecordImage {
  std::string partition;
  bool installedKnown = false;  // the installed version was read from the instrument
  std::string installed;
  bool inPackage = false;       // the package carries this image
  std::string package;          // its version
  bool programmed = false;      // programmed in this run
};

struct UpdateRecord {
  std::string time;     // UTC, when the run ended: "2025-03-04T05:06:07Z"
  std::string host;
  std::string program;  // "flintgate-cli update", "flintgate-cli station"
  std::string resource;
  std::string serial;
  std::string model;    // the instrument's, as it named itself (else as the search knew it)
  std::string fileName;
  int64_t fileSize = 0;
  std::string fileSha256;
  std::vector<RecordImage> images;  // the file's model's images, in programming order
  std::string result;               // RecordResultWord
  int32_t errorNumber = 0;          // the run's result code; 0 for none
  int32_t programmerError = 0;      // the programmer's own number behind a failure, or 0
  std::string reason;               // one line; empty when the run completed
  double seconds = 0.0;
};

// "completed" (with a dry run "checks passed"), "up to date", "refused" (another model than the
// file's), or "failed".
const char* RecordResultWord(int32_t code, bool dryRun);

// What one run left behind, for its record.
struct RunRecordInput {
  int32_t code = 0;
  bool dryRun = false;
  const UpdaterOps* driver = nullptr;    // the run's driver: its plan names what it programmed
  const RunFindings* findings = nullptr;  // may be null: the run never asked the instrument
  std::string resource;
  std::string model;  // the model as the search knew it, when the instrument did not say
  double seconds = 0.0;
};

// The record of a run that ended at `endedAt` on `host`. The installed versions are the writer
// firmware's, as the driver read them, where the run got that far; else those of the
// instrument's first answer.
UpdateRecord MakeUpdateRecord(const RunRecordInput& run, const RecordedFile& file,
                              const std::string& program, const std::string& host,
                              std::time_t endedAt);

// One JSON object on one line, "\n" included. Text is UTF-8; bytes that are not become U+FFFD.
std::string RecordLine(const UpdateRecord& record);

// A record file that the threads of a process and other processes append to at once
// (platform/record_file.h): every Append writes one whole line and flushes it.
class RecordWriter {
 public:
  RecordWriter() = default;
  ~RecordWriter() { platform::CloseRecordFile(&file_); }
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Opens (or creates) `path` for appending. False with *problem set ("it cannot be ...").
  bool Open(const std::string& path, std::string* problem);
  bool isOpen() const { return file_.value != -1; }
  const std::string& path() const { return path_; }
  // Appends the record's line. False with *problem set; the file then holds no part of it,
  // unless the system itself failed half way.
  bool Append(const UpdateRecord& record, std::string* problem);

 private:
  platform::RecordFileHandle file_;
  std::string path_;
  std::mutex mutex_;  // the process's own threads: one line at a time through one descriptor
};

}  // namespace fg

// The flash of one simulated instrument: what each partition holds and the installed version of
// every version sub-field. Kept in memory, or mirrored into a state folder so that it survives a
// restart of the simulator.
//
// A partition's content is the run of bytes programmed from its first byte; everything after it
// is erased flash (0xFF), which is not stored. A never-programmed or erased partition is empty.
// A programmed partition holds exactly the data bytes the host sent: the whole image record, or,
// for block id 0 (whose first 8 bytes the host leaves out), the record from its offset 8 on.
//
// State folder: one file per partition, named after it (PartitionFileName), holding exactly its
// content, and the file "versions" holding the version run of the identification reply and a
// line feed. The folder is opened once, without following a link, and kept private (sim/
// state_folder.h); every file is read and written inside it and never through a link.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_family.h"
#include "sim/state_folder.h"

namespace fg::sim {

// "MAIN.bin", "STORED_DATA.bin": the partition's name with blanks as underscores.
std::string PartitionFileName(const PartitionInfo& row);

// Largest length of one installed version text.
inline constexpr size_t kMaxVersionText = 16;

class FlashStore {
 public:
  explicit FlashStore(const SimFamily& family);

  // Mirrors the store into `folder` (created 0700 when missing, as is its parent): loads the
  // files that exist there, then writes the whole state. False with *error set when the folder
  // is a link or another user's, or a file is unusable (a link, not a file, too large).
  bool Bind(const std::string& folder, std::string* error);
  const std::string& Folder() const { return state_.path(); }

  const SimFamily& Family() const { return *family_; }
  const std::vector<uint8_t>& Content(uint32_t row) const { return contents_.at(row); }

  // Erases the blocks the data covers and writes the data from the partition's first byte.
  void Program(uint32_t row, const uint8_t* data, size_t size);
  // Erases the first blockCount blocks of the partition.
  void EraseBlocks(uint32_t row, uint32_t blockCount);

  const std::string& Version(uint32_t subField) const { return versions_.at(subField); }
  void SetVersion(uint32_t subField, std::string_view text);
  // The sub-fields joined by hyphens, as the identification reply carries them.
  std::string VersionRun() const;
  // Sets every sub-field from a run such as "2.00-01-01-01-01-0100". Each sub-field holds 1 to
  // 16 characters, none of them a hyphen, comma, blank or control character.
  bool SetVersionRun(std::string_view run, std::string* error);

 private:
  void Save(uint32_t row);
  void SaveVersions();

  const SimFamily* family_;
  std::vector<std::vector<uint8_t>> contents_;
  std::vector<std::string> versions_;
  StateFolder state_;  // not open without Bind
};

}  // namespace fg::sim

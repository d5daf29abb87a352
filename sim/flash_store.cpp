#include "sim/flash_store.h"

#include <algorithm>
#include <cstring>

namespace fg::sim {

namespace {

bool ValidVersionText(std::string_view text) {
  if (text.empty() || text.size() > kMaxVersionText) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != '-' && c != ',';
  });
}

// 'text', built by appending: mingw's GCC 12 takes "'" + std::string(...) for an overlapping
// copy (a false -Wrestrict, GCC bug 105329).
std::string Quoted(std::string_view text) {
  std::string quoted(1, '\'');
  quoted.append(text);
  quoted += '\'';
  return quoted;
}

}  // namespace

std::string PartitionFileName(const PartitionInfo& row) {
  std::string name(row.name, strnlen(row.name, kPartitionNameSize));
  std::replace(name.begin(), name.end(), ' ', '_');
  return name + ".bin";
}

FlashStore::FlashStore(const SimFamily& family)
    : family_(&family), contents_(family.partitions.size()) {
  std::string ignored;
  SetVersionRun(family.defaultVersions, &ignored);
}

bool FlashStore::Bind(const std::string& folder, std::string* error) {
  StateFolder state;
  if (!state.Open(folder, error)) return false;
  for (uint32_t row = 0; row < contents_.size(); ++row) {
    bool exists = false;
    std::vector<uint8_t> content;
    if (!state.Read(PartitionFileName(family_->partitions[row]),
                    PartitionCapacity(family_->partitions[row]), &exists, &content, error)) {
      return false;
    }
    if (exists) contents_[row] = std::move(content);
  }
  bool exists = false;
  std::vector<uint8_t> bytes;
  if (!state.Read("versions", 256, &exists, &bytes, error)) return false;
  if (exists) {
    std::string run(bytes.begin(), bytes.end());
    while (!run.empty() && (run.back() == '\n' || run.back() == '\r')) run.pop_back();
    if (!SetVersionRun(run, error)) {
      *error = folder + "/versions: " + *error;
      return false;
    }
  }
  state_ = std::move(state);
  for (uint32_t row = 0; row < contents_.size(); ++row) Save(row);
  SaveVersions();
  return true;
}

void FlashStore::Program(uint32_t row, const uint8_t* data, size_t size) {
  const uint32_t blockSize = family_->partitions[row].blockSize;
  const auto blocks = static_cast<uint32_t>((size + blockSize - 1) / blockSize);
  EraseBlocks(row, blocks);
  std::vector<uint8_t>& content = contents_[row];
  if (content.size() < size) content.resize(size);
  std::copy(data, data + size, content.begin());
  Save(row);
}

void FlashStore::EraseBlocks(uint32_t row, uint32_t blockCount) {
  const uint64_t bytes = uint64_t{blockCount} * family_->partitions[row].blockSize;
  std::vector<uint8_t>& content = contents_[row];
  if (content.size() <= bytes) {
    content.clear();
  } else {
    std::fill(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(bytes), 0xFF);
  }
  Save(row);
}

void FlashStore::SetVersion(uint32_t subField, std::string_view text) {
  versions_.at(subField) = std::string(text.substr(0, kMaxVersionText));
  SaveVersions();
}

std::string FlashStore::VersionRun() const {
  std::string run;
  for (size_t i = 0; i < versions_.size(); ++i) {
    if (i != 0) run += '-';
    run += versions_[i];
  }
  return run;
}

bool FlashStore::SetVersionRun(std::string_view run, std::string* error) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t hyphen = run.find('-', start);
    const std::string_view field = run.substr(start, hyphen - start);
    if (!ValidVersionText(field)) {
      *error = Quoted(run) + ": each version holds 1 to 16 printable characters";
      return false;
    }
    fields.emplace_back(field);
    if (hyphen == std::string_view::npos) break;
    start = hyphen + 1;
  }
  if (fields.size() != family_->versionFields.size()) {
    *error = Quoted(run) + ": a " + family_->model + " has " +
             std::to_string(family_->versionFields.size()) + " version fields";
    return false;
  }
  versions_ = std::move(fields);
  SaveVersions();
  return true;
}

void FlashStore::Save(uint32_t row) {
  const std::vector<uint8_t>& content = contents_[row];
  state_.Write(PartitionFileName(family_->partitions[row]), content.data(), content.size());
}

void FlashStore::SaveVersions() {
  const std::string text = VersionRun() + "\n";
  state_.Write("versions", text.data(), text.size());
}

}  // namespace fg::sim

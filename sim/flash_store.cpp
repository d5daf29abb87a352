#include "sim/flash_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fg::sim {

namespace {

bool ValidVersionText(std::string_view text) {
  if (text.empty() || text.size() > kMaxVersionText) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != '-' && c != ',';
  });
}

bool ReadWholeFile(const std::filesystem::path& path, uint64_t limit, std::vector<uint8_t>* out,
                   std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path.string();
    return false;
  }
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(path, ec);
  if (ec || size > limit) {
    *error = path.string() + " is larger than its partition";
    return false;
  }
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// Writes through a temporary file and a rename, so a reader never sees half a partition.
void WriteWholeFile(const std::filesystem::path& path, const void* data, size_t size) {
  const std::filesystem::path temporary = path.string() + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "flintgate-sim: cannot write %s: %s\n", temporary.c_str(),
                 std::strerror(errno));
    return;
  }
  const bool ok = (size == 0 || std::fwrite(data, 1, size, file) == size);
  const bool closed = std::fclose(file) == 0;
  std::error_code ec;
  if (ok && closed) {
    std::filesystem::rename(temporary, path, ec);
  } else {
    std::filesystem::remove(temporary, ec);
    std::fprintf(stderr, "flintgate-sim: cannot write %s\n", path.c_str());
  }
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
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    *error = "cannot create " + folder + ": " + ec.message();
    return false;
  }
  const std::filesystem::path base(folder);
  for (uint32_t row = 0; row < contents_.size(); ++row) {
    const std::filesystem::path path = base / PartitionFileName(family_->partitions[row]);
    if (!std::filesystem::exists(path, ec)) continue;
    if (!ReadWholeFile(path, PartitionCapacity(family_->partitions[row]), &contents_[row], error)) {
      return false;
    }
  }
  const std::filesystem::path versionsPath = base / "versions";
  if (std::filesystem::exists(versionsPath, ec)) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(versionsPath, 256, &bytes, error)) return false;
    std::string run(bytes.begin(), bytes.end());
    while (!run.empty() && (run.back() == '\n' || run.back() == '\r')) run.pop_back();
    if (!SetVersionRun(run, error)) {
      *error = versionsPath.string() + ": " + *error;
      return false;
    }
  }
  folder_ = folder;
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
      *error = "'" + std::string(run) + "': each version holds 1 to 16 printable characters";
      return false;
    }
    fields.emplace_back(field);
    if (hyphen == std::string_view::npos) break;
    start = hyphen + 1;
  }
  if (fields.size() != family_->versionFields.size()) {
    *error = "'" + std::string(run) + "': a " + family_->model + " has " +
             std::to_string(family_->versionFields.size()) + " version fields";
    return false;
  }
  versions_ = std::move(fields);
  SaveVersions();
  return true;
}

void FlashStore::Save(uint32_t row) {
  if (folder_.empty()) return;
  const std::vector<uint8_t>& content = contents_[row];
  WriteWholeFile(std::filesystem::path(folder_) / PartitionFileName(family_->partitions[row]),
                 content.data(), content.size());
}

void FlashStore::SaveVersions() {
  if (folder_.empty()) return;
  const std::string text = VersionRun() + "\n";
  WriteWholeFile(std::filesystem::path(folder_) / "versions", text.data(), text.size());
}

}  // namespace fg::sim

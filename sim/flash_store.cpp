#include "sim/flash_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fg::sim {

namespace {

bool ValidVersionText(std::string_view text) {
  if (text.empty() || text.size() > kMaxVersionText) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != '-' && c != ',';
  });
}

// Reads a regular file of at most `limit` bytes in the folder, not through a link. *exists is
// false (and the result true) when there is no such file.
bool ReadWholeFile(int folderFd, const std::string& folder, const std::string& name,
                   uint64_t limit, bool* exists, std::vector<uint8_t>* out, std::string* error) {
  const std::string path = folder + "/" + name;
  const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  *exists = fd >= 0 || errno != ENOENT;
  if (fd < 0) {
    if (errno == ENOENT) return true;
    *error = errno == ELOOP ? path + " is a link, not a state file"
                            : "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!ok) {
    *error = path + " is not a file";
  } else if (static_cast<uint64_t>(info.st_size) > limit) {
    *error = path + " is larger than its partition";
    ok = false;
  }
  out->clear();
  uint8_t buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n < 0 || out->size() + static_cast<size_t>(n) > limit) {
      *error = "cannot read " + path;
      ok = false;
      break;
    }
    out->insert(out->end(), buffer, buffer + n);
  }
  ::close(fd);
  return ok;
}

// Writes through a fresh temporary file and a rename within the folder, so a reader never sees
// half a partition, and a link planted under either name is replaced, never followed.
void WriteWholeFile(int folderFd, const std::string& folder, const std::string& name,
                    const void* data, size_t size) {
  const std::string temporary = name + ".tmp";
  ::unlinkat(folderFd, temporary.c_str(), 0);
  const int fd = ::openat(folderFd, temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::fprintf(stderr, "flintgate-sim: cannot write %s/%s: %s\n", folder.c_str(),
                 temporary.c_str(), std::strerror(errno));
    return;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd, bytes + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  if (written == size && closed &&
      ::renameat(folderFd, temporary.c_str(), folderFd, name.c_str()) == 0) {
    return;
  }
  ::unlinkat(folderFd, temporary.c_str(), 0);
  std::fprintf(stderr, "flintgate-sim: cannot write %s/%s\n", folder.c_str(), name.c_str());
}

// Creates `folder` 0700 when missing and opens it, not through a link. -1 with *error set.
int OpenPrivateFolder(const std::string& folder, std::string* error) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot create " + folder + ": " + std::strerror(errno);
    return -1;
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = errno == ELOOP || errno == ENOTDIR
                 ? folder + " is not a folder (a link or a file)"
                 : "cannot open " + folder + ": " + std::strerror(errno);
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid()) {
    *error = folder + " belongs to another user";
    ::close(fd);
    return -1;
  }
  // A folder made by an earlier version may be open to others: the flash is ours alone.
  if ((info.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0) {
    *error = "cannot make " + folder + " private: " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
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
  // The folders above it (the --state folder) are made private too when this creates them.
  std::vector<std::filesystem::path> missing;
  for (std::filesystem::path p = std::filesystem::path(folder).parent_path();
       !p.empty() && p != p.root_path() && ::access(p.c_str(), F_OK) != 0; p = p.parent_path()) {
    missing.push_back(p);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) ::mkdir(it->c_str(), 0700);
  FolderFd fd(OpenPrivateFolder(folder, error));
  if (fd.get() < 0) return false;

  for (uint32_t row = 0; row < contents_.size(); ++row) {
    bool exists = false;
    std::vector<uint8_t> content;
    if (!ReadWholeFile(fd.get(), folder, PartitionFileName(family_->partitions[row]),
                       PartitionCapacity(family_->partitions[row]), &exists, &content, error)) {
      return false;
    }
    if (exists) contents_[row] = std::move(content);
  }
  bool exists = false;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(fd.get(), folder, "versions", 256, &exists, &bytes, error)) return false;
  if (exists) {
    std::string run(bytes.begin(), bytes.end());
    while (!run.empty() && (run.back() == '\n' || run.back() == '\r')) run.pop_back();
    if (!SetVersionRun(run, error)) {
      *error = folder + "/versions: " + *error;
      return false;
    }
  }
  folder_ = folder;
  folderFd_ = std::move(fd);
  for (uint32_t row = 0; row < contents_.size(); ++row) Save(row);
  SaveVersions();
  return true;
}

FlashStore::FolderFd& FlashStore::FolderFd::operator=(FolderFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FlashStore::FolderFd::~FolderFd() {
  if (fd_ >= 0) ::close(fd_);
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
  if (folderFd_.get() < 0) return;
  const std::vector<uint8_t>& content = contents_[row];
  WriteWholeFile(folderFd_.get(), folder_, PartitionFileName(family_->partitions[row]),
                 content.data(), content.size());
}

void FlashStore::SaveVersions() {
  if (folderFd_.get() < 0) return;
  const std::string text = VersionRun() + "\n";
  WriteWholeFile(folderFd_.get(), folder_, "versions", text.data(), text.size());
}

}  // namespace fg::sim

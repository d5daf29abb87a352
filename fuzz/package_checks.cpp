// Arbitrary bytes as an identification reply and an image package, through the package checks
// of a driver family. Byte 0: bit 0 picks the family, bit 1 the version check; byte 1 is the
// length of the reply that follows; the rest is the payload. A package the checks pass must
// never meet a record check of ProgramPartition: over a link whose first write fails, every
// present image must get as far as that write.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "catalog/updater_ops.h"
#include "firmware/image_index.h"
#include "updater/package_driver.h"
#include "programmer/programmer_errors.h"

namespace {

int32_t Open(void*, const char*) { return 1; }
int32_t FailWrite(void*, const uint8_t*, uint32_t* count) {
  *count = 0;
  return 0;
}
int32_t FailRead(void*, uint8_t*, uint32_t* count) {
  *count = 0;
  return 0;
}
void Close(void*) {}
int32_t Progress(void*, uint32_t) { return 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const fg::DriverFamily& family =
      (data[0] & 1) ? fg::kWx2050DriverFamily : fg::kWx2040DriverFamily;
  const int32_t flags = (data[0] & 2) ? fg::kUpdateCheckVersions : 0;
  const size_t replyLength = data[1] < size - 2 ? data[1] : size - 2;
  char reply[256];
  std::memcpy(reply, data + 2, replyLength);
  reply[replyLength] = '\0';
  const uint8_t* payload = data + 2 + replyLength;
  const size_t payloadSize = size - 2 - replyLength;
  if (payloadSize == 0) return 0;

  std::FILE* f = fmemopen(const_cast<uint8_t*>(payload), payloadSize, "rb");
  if (f == nullptr) return 0;
  fg::ImageIndex index{};
  index.capacity = family.indexCapacity;
  fg::ParseImageIndexStream(&index, f, 0);
  std::fclose(f);

  fg::RuleState states[fg::kMaxImageRules];
  const int32_t result = fg::CheckPackage(family, family.programmer, &index, reply, flags, states);

  int32_t first = 0;
  for (size_t i = 0; i < family.rules.size(); ++i) {
    const fg::RuleState& s = states[i];
    if (first == 0) first = s.check;
    if (s.entry != nullptr && s.entry != fg::FindImage(&index, family.rules[i].firstBlock)) __builtin_trap();
    // A refused version is an older one or one that could not be read, and nothing else.
    if (s.check == 9 && s.installedRead &&
        fg::CompareVersionText(s.entry->version, s.deviceVersion) >= 0) __builtin_trap();
    if (result == 0 && flags != 0 && s.entry != nullptr && family.rules[i].extractVersion &&
        !s.installedRead) __builtin_trap();
  }
  if (first != result) __builtin_trap();
  if (result != 0) return 0;

  fg::DeviceLink* link = fg::CreateDeviceLink(Open, FailWrite, FailRead, Close, Progress, nullptr);
  if (link == nullptr) return 0;
  for (size_t i = 0; i < family.rules.size(); ++i) {
    const fg::ImageIndexEntry* e = states[i].entry;
    if (e == nullptr) continue;
    const int32_t rc = family.programmer->ProgramPartition(
        link, family.rules[i].partition, payload + e->offset, static_cast<uint32_t>(e->length));
    if (rc != fg::kProgLinkFailed) __builtin_trap();
  }
  fg::FreeDeviceLink(link);
  return 0;
}

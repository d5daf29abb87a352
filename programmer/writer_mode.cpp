#include "programmer/writer_mode.h"

#include <cstdio>
#include <cstring>

#include "programmer/programmer_errors.h"
#include "programmer/programmer_ops.h"

namespace fg {

namespace {

constexpr size_t kWriterNameSize = 64;  // the rebuilt name is at most 44 characters

// Sleeps until `untilMs` on the clock (at once when it has passed).
void SleepUntil(const WaitClock& clock, int64_t untilMs) {
  for (int64_t now = clock.nowMilliseconds(clock.owner); now < untilMs;
       now = clock.nowMilliseconds(clock.owner)) {
    clock.sleepMilliseconds(clock.owner, static_cast<uint32_t>(untilMs - now));
  }
}

bool WriteText(DeviceLink* link, const char* text) {
  uint32_t count = static_cast<uint32_t>(std::strlen(text));
  return link->write(link->owner, reinterpret_cast<const uint8_t*>(text), &count) != 0;
}

// After the ':' at `colon`, the position two characters on (over "::"), or null when the name
// ends right after that ':'.
const char* SkipSeparator(const char* colon) {
  return colon[1] == '\0' ? nullptr : colon + 2;
}

}  // namespace

void WaitMilliseconds(const RunEnv* env, uint32_t milliseconds) {
  const WaitClock& clock = WaitClockOf(env);
  SleepUntil(clock, clock.nowMilliseconds(clock.owner) + milliseconds);
}

namespace programmer {

const char* ExtractSerialNumber(const ProgrammerFamily& family, const char* resourceName) {
  if (resourceName == nullptr || std::strncmp(resourceName, "USB", 3) != 0) return nullptr;
  const char* p = resourceName;
  for (int separators = 0; separators < 3; ++separators) {
    const char* colon = std::strchr(p, ':');
    if (colon == nullptr) return nullptr;
    p = SkipSeparator(colon);
    if (p == nullptr) return nullptr;
  }
  char* serial = family.serialBuffer();
  size_t n = 0;
  while (n + 1 < kSerialNumberSize && p[n] != '\0' && p[n] != ':') {
    serial[n] = p[n];
    ++n;
  }
  serial[n] = '\0';
  return serial;
}

int32_t EnterWriterMode(const ProgrammerFamily& family, DeviceLink* link, bool* switched,
                        int64_t* switchedAtMs) {
  if (switched != nullptr) *switched = false;
  if (!WriteText(link, kIdentityQuery)) return kProgLinkFailed;
  uint32_t count = kReplyBufferSize;
  if (link->read(link->owner, link->replyBuffer, &count) == 0) return kProgLinkFailed;
  link->replyBuffer[count < kReplyBufferSize ? count : kReplyBufferSize] = 0;
  const size_t prefix = std::strlen(kWriterIdentityPrefix);
  if (std::strncmp(reinterpret_cast<const char*>(link->replyBuffer), kWriterIdentityPrefix,
                   prefix) == 0) {
    NotifyWriterMode(link->env, WriterModeEvent::kFoundInWriterMode);
    return 0;  // already the writer firmware
  }
  // The instrument restarts into its writer without answering the command.
  if (!WriteText(link, family.updateCommand)) return kProgLinkFailed;
  const WaitClock& clock = WaitClockOf(link->env);
  const int64_t sentAt = clock.nowMilliseconds(clock.owner);
  if (switched != nullptr) *switched = true;
  if (switchedAtMs != nullptr) *switchedAtMs = sentAt;
  NotifyWriterMode(link->env, WriterModeEvent::kWaitingForRestart);
  SleepUntil(clock, sentAt + family.writerReturn.firstWaitMs);
  return 0;
}

int32_t Connect(const ProgrammerFamily& family, DeviceLink* link, const char* resourceName) {
  if (link == nullptr) return kProgNoLink;
  if (link->open(link->owner, resourceName) == 0) return kProgOpenFailed;
  bool switched = false;
  int64_t switchedAt = 0;
  const int32_t rc = EnterWriterMode(family, link, &switched, &switchedAt);
  if (rc != 0) return rc;
  link->close(link->owner);

  // A WX2040 writer keeps the normal firmware's product id and so its name; a WX2050 writer
  // comes back only under the writer-mode name built from the serial number.
  // The writer-mode name is built only once the old name failed; empty when there is none.
  char writerName[kWriterNameSize] = {};
  bool writerNameBuilt = false;
  const WriterReturnTiming& timing = family.writerReturn;
  const int64_t deadline = switchedAt + timing.deadlineMs;
  const WaitClock& clock = WaitClockOf(link->env);
  for (;;) {
    const int64_t attemptAt = clock.nowMilliseconds(clock.owner);
    if (link->open(link->owner, resourceName) != 0) return 0;
    if (!writerNameBuilt) {
      writerNameBuilt = true;
      if (const char* serial = ExtractSerialNumber(family, resourceName)) {
        std::snprintf(writerName, sizeof writerName, kWriterResourceFormat, serial);
        if (std::strcmp(writerName, resourceName) == 0) writerName[0] = '\0';  // just tried
      }
    }
    if (writerName[0] != '\0' && link->open(link->owner, writerName) != 0) return 0;
    // A restart is not waited for when none was asked for; nor past the deadline.
    if (!switched || clock.nowMilliseconds(clock.owner) >= deadline) break;
    const int64_t next = attemptAt + timing.retryIntervalMs;
    SleepUntil(clock, next < deadline ? next : deadline);
  }
  if (switched) NotifyWriterMode(link->env, WriterModeEvent::kDidNotReturn);
  return kProgOpenFailed;
}

int32_t Query(const ProgrammerFamily& family, DeviceLink* link, int32_t selector, void* out) {
  if (link == nullptr) return kProgNoLink;
  switch (static_cast<uint32_t>(selector)) {
    case QueryIdentity: {
      auto* reply = static_cast<ReplyText*>(out);
      if (!WriteText(link, kIdentityQuery)) return kProgLinkFailed;
      uint32_t count = reply->length;
      if (link->read(link->owner, reinterpret_cast<uint8_t*>(reply->buffer), &count) == 0)
        return kProgLinkFailed;
      reply->length = count;
      return 0;
    }
    case QueryPartitionCount:
      *static_cast<uint32_t*>(out) = static_cast<uint32_t>(family.partitions.size());
      return 0;
    case QueryPartitionTable:
      *static_cast<const PartitionInfo**>(out) = family.partitions.data();
      return 0;
    case QueryEnterWriterMode:
      return EnterWriterMode(family, link);
    case QueryOemPartition:
      *static_cast<uint32_t*>(out) = family.oemPartition;
      return 0;
    default:
      return kProgBadSelector;
  }
}

int32_t Close(DeviceLink* link) {
  if (link == nullptr) return kProgNoLink;
  link->close(link->owner);
  return 0;
}

}  // namespace programmer
}  // namespace fg

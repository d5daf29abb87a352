#include "programmer/writer_mode.h"

#include <cstdio>
#include <cstring>

#include "link/model_facts.h"
#include "link/resource_serial.h"
#include "programmer/command_frame.h"
#include "programmer/programmer_errors.h"
#include "programmer/programmer_ops.h"

namespace fg {

namespace {

// The rebuilt writer-mode name is a resource name: one that does not fit names no instrument.
constexpr size_t kWriterNameSize = kSerialNumberSize;

// Sleeps until `untilMs` on the clock (at once when it has passed).
void SleepUntil(const WaitClock& clock, int64_t untilMs) {
  for (int64_t now = clock.nowMilliseconds(clock.owner); now < untilMs;
       now = clock.nowMilliseconds(clock.owner)) {
    clock.sleepMilliseconds(clock.owner, static_cast<uint32_t>(untilMs - now));
  }
}

bool WriteText(DeviceLink* link, const char* text) {
  uint32_t count = static_cast<uint32_t>(std::strlen(text));
  return programmer::WriteBytes(link, reinterpret_cast<const uint8_t*>(text), &count);
}

// Asks "*IDN?" and parses the reply, which stays in the link's reply buffer; the run's facts
// note it. False when the link fails.
bool AskIdentity(const ProgrammerFamily& family, DeviceLink* link, const char* resourceName,
                 InstrumentIdentity* identity) {
  programmer::BeginExchange(link, kExchangeIdentity);
  if (!WriteText(link, kIdentityQuery)) return false;
  uint32_t count = 0;
  if (!programmer::ReadReply(link, &count)) return false;
  ParseIdentityReply(reinterpret_cast<const char*>(link->replyBuffer), count, identity);
  NoteIdentity(link->env, *identity, resourceName, family.name);
  return true;
}

// The programmer's number for what the model rule says; 0 when it allows the instrument.
int32_t ModelRefusal(const ProgrammerFamily& family, const DeviceLink* link,
                     const InstrumentIdentity& identity, const char* resourceName) {
  switch (CheckModel(link->env, identity, resourceName, family.name)) {
    case ModelVerdict::kAllowed: return 0;
    case ModelVerdict::kOtherModel: return kProgOtherModel;
    case ModelVerdict::kWriterNamesNoModel: return kProgWriterNamesNoModel;
  }
  return kProgOtherModel;
}

// After the switch and the reopen on `openedName`: the instrument must now answer as the writer
// firmware, and as a model that may receive the family's images. An instrument that ignored the
// update command answers as its normal firmware and must never see a frame.
int32_t CheckWriterCameBack(const ProgrammerFamily& family, DeviceLink* link,
                            const char* openedName) {
  InstrumentIdentity identity{};
  int32_t rc = 0;
  if (!AskIdentity(family, link, openedName, &identity)) {
    rc = kProgLinkFailed;
  } else if (!identity.writer) {
    NotifyWriterMode(link->env, WriterModeEvent::kDidNotReturn);
    rc = kProgNotWriter;
  } else {
    rc = ModelRefusal(family, link, identity, openedName);
  }
  if (rc != 0) link->close(link->owner);
  return rc;
}

}  // namespace

void WaitMilliseconds(const RunEnv* env, uint32_t milliseconds) {
  const WaitClock& clock = WaitClockOf(env);
  SleepUntil(clock, clock.nowMilliseconds(clock.owner) + milliseconds);
}

namespace programmer {

const char* ExtractSerialNumber(const ProgrammerFamily& family, const char* resourceName) {
  char* serial = family.serialBuffer();
  return ResourceSerialField(resourceName, serial, kSerialNumberSize) ? serial : nullptr;
}

int32_t EnterWriterMode(const ProgrammerFamily& family, DeviceLink* link, bool* switched,
                        int64_t* switchedAtMs, const char* resourceName) {
  if (switched != nullptr) *switched = false;
  InstrumentIdentity identity{};
  if (!AskIdentity(family, link, resourceName, &identity)) return kProgLinkFailed;
  // Another model's normal firmware never gets the update command, nor its writer a frame.
  const int32_t refused = ModelRefusal(family, link, identity, resourceName);
  if (refused != 0) return refused;
  if (identity.writer) {
    NotifyWriterMode(link->env, WriterModeEvent::kFoundInWriterMode);
    return 0;  // already the writer firmware
  }
  // The instrument restarts into its writer without answering the command.
  BeginExchange(link, kExchangeSwitch);
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
  BeginExchange(link, kExchangeNone);  // opening the instrument, before any exchange
  if (link->open(link->owner, resourceName) == 0) return kProgOpenFailed;
  bool switched = false;
  int64_t switchedAt = 0;
  const int32_t rc = EnterWriterMode(family, link, &switched, &switchedAt, resourceName);
  if (rc == kProgOtherModel || rc == kProgWriterNamesNoModel) link->close(link->owner);
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
    // An instrument that was already the writer was asked a moment ago; one that was switched
    // must show that it now is.
    if (link->open(link->owner, resourceName) != 0)
      return switched ? CheckWriterCameBack(family, link, resourceName) : 0;
    if (!writerNameBuilt) {
      writerNameBuilt = true;
      if (const char* serial = ExtractSerialNumber(family, resourceName)) {
        const int length =
            std::snprintf(writerName, sizeof writerName, kWriterResourceFormat, serial);
        if (length < 0 || static_cast<size_t>(length) >= sizeof writerName ||
            std::strcmp(writerName, resourceName) == 0) {  // too long, or just tried
          writerName[0] = '\0';
        }
      }
    }
    if (writerName[0] != '\0' && link->open(link->owner, writerName) != 0)
      return switched ? CheckWriterCameBack(family, link, writerName) : 0;
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
      BeginExchange(link, kExchangeIdentity);
      if (!WriteText(link, kIdentityQuery)) return kProgLinkFailed;
      uint32_t count = reply->length;
      if (link->read(link->owner, reinterpret_cast<uint8_t*>(reply->buffer), &count) == 0) {
        link->failedSlot = kReadFailed;
        return kProgLinkFailed;
      }
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

#include "updater/package_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "firmware/image_record.h"
#include "link/model_facts.h"
#include "platform/shared_file.h"
#include "programmer/programmer_errors.h"
#include "updater/driver_errors.h"
#include "util/bounded_text.h"
#include "util/endian.h"
#include "util/stop_notice.h"
#include "util/stop_request.h"

namespace fg {

namespace {

constexpr LinkSlots kVisaSlots = {VisaOpen<UpdaterContext>, VisaWrite<UpdaterContext>,
                                  VisaRead<UpdaterContext>, VisaClose<UpdaterContext>, nullptr};

constexpr const char* kDisplayClear = "DISP:TEXT:CLEAR\n";
constexpr uint32_t kPercentDone = 100;

// Closes a FILE when it goes out of scope.
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Appends the built-in OEM record (its own length: storedLength + 6) to the payload file. Every
// step is checked: a record that did not land whole would silently drop the OEM image.
int32_t AppendOemRecord(const char* payloadPath) {
  File file(platform::OpenSharedFile(payloadPath, "r+b"));
  if (!file) return kDriverPayloadUnreadable;
  const size_t length = std::min<size_t>(
      LoadBe32(kOemRecord + kRecordStoredLengthOffset) + kRecordTrailerSize, kOemRecordSize);
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return kDriverOemAppendFailed;
  if (std::fwrite(kOemRecord, 1, length, file.get()) != length) return kDriverOemAppendFailed;
  if (std::fclose(file.release()) != 0) return kDriverOemAppendFailed;
  return 0;
}

// The driver's number for a failed programmer Connect: a refused model keeps its own, anything
// else means the writer could not be reached.
int32_t WriterConnectFailure(int32_t programmerResult) {
  switch (programmerResult) {
    case kProgOtherModel: return kDriverOtherModel;
    case kProgWriterNamesNoModel: return kDriverWriterNamesNoModel;
    default: return kDriverNoWriter;
  }
}

// The model of the file being installed: the family's (null before Init).
const char* FileModelOf(const UpdaterContext* c) {
  return c->family != nullptr ? c->family->name : nullptr;
}

// Asks the instrument in its current firmware who it is, through the driver's own slots, and
// notes the reply in the run's facts. False when the link fails.
bool IdentifyConnected(UpdaterContext* c, const LinkSlots& slots, InstrumentIdentity* identity) {
  uint32_t count = static_cast<uint32_t>(std::strlen(kIdentityQuery));
  if (slots.write(c, reinterpret_cast<const uint8_t*>(kIdentityQuery), &count) == 0) return false;
  uint8_t reply[kReplyBufferSize + 1];
  count = kReplyBufferSize;
  if (slots.read(c, reply, &count) == 0) return false;
  ParseIdentityReply(reinterpret_cast<const char*>(reply), std::min(count, kReplyBufferSize),
                     identity);
  NoteIdentity(c->env, *identity, c->resourceName, FileModelOf(c));
  return true;
}

// The line a stop that ends the program in the middle of this image leaves: which partition is
// incomplete and what to do. Formatted here, before the image starts, for the signal handler.
void SetCutShortNotice(const UpdaterContext* c, const ImageRule& rule) {
  StopNotice* notice = c->env != nullptr ? c->env->stopNotice : nullptr;
  if (notice == nullptr) return;
  const char* partition = c->family->partitions[static_cast<size_t>(rule.partition)].name;
  char line[kStopNoticeCapacity];
  std::snprintf(line, sizeof line,
                "\n%s: stopped at once while programming %s (error number 0x%X): partition %s is "
                "left incomplete. The instrument stays in writer mode: run the same update again "
                "to program %s.\n",
                c->resourceName, partition,
                static_cast<unsigned>(kDriverErrorShownBase + kDriverCutShort), partition,
                partition);
  notice->Set(StopNotice::kImageLine, line);
}

void ClearCutShortNotice(const UpdaterContext* c) {
  if (c->env != nullptr && c->env->stopNotice != nullptr)
    c->env->stopNotice->Set(StopNotice::kImageLine, nullptr);
}

// Keeps where the programmer stopped (its exchange, the instrument's latest answer or how the
// link failed) and its number, for the description of the failure; `rule` is the index of the
// rule being programmed, or -1.
void NoteFailure(UpdaterContext* c, int32_t programmerResult, int32_t rule) {
  c->programmerError = programmerResult;
  const DeviceLink* link = c->link;
  FailurePoint& f = c->failure;
  f = FailurePoint{};
  f.noted = true;
  f.rule = rule;
  f.exchange = link->exchange;
  f.replies = link->exchangeReplies;
  f.failedSlot = link->failedSlot;
  f.linkStatus = c->ioStatus;
  if (f.failedSlot != kNoSlotFailed) {
    f.linkFault = LinkFaultOfStatus(c->ioStatus);
    if (f.linkFault == LinkFault::kNone) f.linkFault = LinkFault::kOther;  // slots without VISA
  }
  if (f.replies > 0) {
    f.replyLength = std::min(link->replyLength, kReplyBufferSize);
    const size_t kept = std::min<size_t>(f.replyLength, kFailureReplyCapacity);
    std::memcpy(f.reply, link->replyStorage, kept);
    f.reply[kept] = '\0';
  }
}

// The identification reply of the writer, read into the context and terminated.
int32_t ReadIdentity(UpdaterContext* c) {
  ReplyText reply{c->idnReply, kIdnReplyCapacity};
  if (const int32_t rc = c->programmer->Query(c->link, QueryIdentity, &reply); rc != 0) {
    NoteFailure(c, rc, -1);
    return kDriverProgramFailed;
  }
  c->idnReply[std::min(reply.length, kIdnReplyCapacity)] = '\0';
  return 0;
}

}  // namespace

int32_t CheckPackage(const DriverFamily& family, const ProgrammerOps* programmer,
                     const ImageIndex* index, const char* idnReply, int32_t flags,
                     RuleState* states) {
  int32_t first = 0;
  // Every rule gets its verdict, so that a plan can show them all; the first failure counts.
  for (size_t i = 0; i < family.rules.size(); ++i) {
    const ImageRule& rule = family.rules[i];
    RuleState& state = states[i];
    state = RuleState{};
    state.entry = FindImage(index, rule.firstBlock);
    if (rule.extractVersion && idnReply != nullptr)
      state.installedRead = rule.extractVersion(state.deviceVersion, idnReply);

    const ImageIndexEntry* entry = state.entry;
    if (entry == nullptr) {
      if (rule.optional == 0) state.check = family.errorBase + kDriverMissingImage;
    } else if (static_cast<uint32_t>(entry->length) > rule.maxSize) {
      state.check = family.errorBase + kDriverOversizeImage;
    } else if (programmer->CheckRecord != nullptr &&
               (state.recordCheck = programmer->CheckRecord(
                    rule.partition, static_cast<uint32_t>(entry->blockId),
                    static_cast<uint32_t>(entry->length))) != 0) {
      state.check = kDriverProgramFailed;
    } else if ((flags & kUpdateCheckVersions) && rule.extractVersion && idnReply != nullptr &&
               (!state.installedRead ||
                CompareVersionText(entry->version, state.deviceVersion) < 0)) {
      state.check = kDriverOlderImage;
    }
    if (first == 0) first = state.check;
  }
  return first;
}

const LinkSlots& DriverLinkSlotsOf(const RunEnv* env) {
  return env != nullptr && env->linkSlots != nullptr ? *env->linkSlots : kVisaSlots;
}

namespace updater {

int32_t Init(const DriverFamily& family, UpdaterContext* context, ProgressFn progressFn,
             void* progressOwner) {
  const RunEnv* env = context->env;
  const LinkSlots& slots = DriverLinkSlotsOf(env);
  DeviceLink* link =
      CreateDeviceLink(slots.open, slots.write, slots.read, slots.close, ReportProgress, context);
  if (link == nullptr) return kDriverNoLink;
  link->env = env;
  // The previous run's link is of no further use: release it (closing what it still had open).
  Destroy(context->link);
  *context = UpdaterContext{};
  context->env = env;
  context->link = link;
  context->programmer = family.programmer;
  context->progressFn = progressFn;
  context->progressOwner = progressOwner;
  context->index.capacity = family.indexCapacity;
  context->family = &family;
  return 0;
}

int32_t Connect(UpdaterContext* context, const char* resourceName) {
  if (resourceName == nullptr || std::strlen(resourceName) >= kResourceNameSize)
    return kDriverOpenFailed;
  CopyBounded(context->resourceName, resourceName);
  const LinkSlots& slots = DriverLinkSlotsOf(context->env);
  if (slots.open(context, context->resourceName) == 0) return kDriverOpenFailed;
  // Who it is comes first: another model's instrument is refused before the user is asked, and
  // its display is left alone.
  InstrumentIdentity identity{};
  if (!IdentifyConnected(context, slots, &identity)) {
    slots.close(context);
    return kDriverOpenFailed;
  }
  if (CheckModel(context->env, identity, context->resourceName, FileModelOf(context)) ==
      ModelVerdict::kOtherModel) {
    slots.close(context);
    return kDriverOtherModel;
  }
  // DISP:TEXT "<name>"\n: any name that fits resourceName fits here.
  char announcement[kResourceNameSize + 16];
  const int length = std::snprintf(announcement, sizeof announcement, "DISP:TEXT \"%s\"\n",
                                   context->resourceName);
  uint32_t count = static_cast<uint32_t>(length);
  if (slots.write(context, reinterpret_cast<const uint8_t*>(announcement), &count) == 0) {
    slots.close(context);
    return kDriverAnnounceFailed;
  }
  return 0;
}

int32_t Finish(UpdaterContext* context) {
  const LinkSlots& slots = DriverLinkSlotsOf(context->env);
  uint32_t count = static_cast<uint32_t>(std::strlen(kDisplayClear));
  slots.write(context, reinterpret_cast<const uint8_t*>(kDisplayClear), &count);
  slots.close(context);
  return 0;
}

void Destroy(DeviceLink* link) { FreeDeviceLink(link); }

int32_t Update(UpdaterContext* context, const char* payloadPath, int32_t flags) {
  const DriverFamily* family = context->family;
  if (family == nullptr || context->link == nullptr) return kDriverNoWriter;
  if (family->supplementUpTo != nullptr) {
    // Older main firmware needs the OEM image that later versions carry themselves.
    const ProgrammerOps* p = context->programmer;
    const int32_t connected = p->Connect(context->link, context->resourceName);
    if (connected != 0) {
      NoteFailure(context, connected, -1);
      return WriterConnectFailure(connected);
    }
    const int32_t rc = ReadIdentity(context);
    p->Close(context->link);
    if (rc != 0) return rc;
    // A main version that cannot be read is no old one: nothing is appended, and the version
    // check (when asked for) refuses the package.
    char mainVersion[kVersionTextSize];
    const bool read = family->rules[static_cast<size_t>(family->probeRule)].extractVersion(
        mainVersion, context->idnReply);
    if (read && CompareVersionText(mainVersion, family->supplementUpTo) <= 0) {
      const int32_t appended = AppendOemRecord(payloadPath);
      if (appended != 0) return appended;
    }
  }
  return CheckAndProgram(context, payloadPath, flags);
}

int32_t CheckAndProgram(UpdaterContext* context, const char* payloadPath, int32_t flags) {
  const DriverFamily& family = *context->family;
  const ProgrammerOps* p = context->programmer;
  context->programmerError = 0;
  context->failure = FailurePoint{};
  const int32_t connected = p->Connect(context->link, context->resourceName);
  if (connected != 0) {
    NoteFailure(context, connected, -1);
    return WriterConnectFailure(connected);
  }

  int32_t result = ReadIdentity(context);
  if (result == 0) {
    ParseImageIndex(&context->index, payloadPath);
    result = CheckPackage(family, p, &context->index, context->idnReply, flags, context->rules);
    if (result == kDriverProgramFailed) {  // a record the programmer would refuse
      for (size_t i = 0; i < family.rules.size() && context->programmerError == 0; ++i)
        context->programmerError = context->rules[i].recordCheck;
    }
    context->totalWeight = 0;
    context->doneWeight = 0;
    for (size_t i = 0; i < family.rules.size(); ++i)
      if (context->rules[i].entry != nullptr) context->totalWeight += family.rules[i].weight;
    // A dry run stops here, leaving the instrument as a failed check would.
    if (result == 0 && (flags & kUpdateDryRun) == 0) result = TransferImages(context, payloadPath);
  }
  p->Close(context->link);
  return result;
}

int32_t TransferImages(UpdaterContext* context, const char* payloadPath) {
  const DriverFamily& family = *context->family;
  File file(platform::OpenSharedFile(payloadPath, "rb"));
  if (!file) return kDriverPayloadUnreadable;
  // Every image is read before the first is programmed: a payload that cannot deliver one of
  // them must fail while the instrument still holds all of its old images.
  uint64_t total = 0;
  for (size_t i = 0; i < family.rules.size(); ++i)
    if (const ImageIndexEntry* entry = context->rules[i].entry) total += static_cast<uint32_t>(entry->length);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[total > 0 ? total : 1]);
  if (!buffer) return kDriverNoMemory;
  uint64_t at = 0;
  size_t start[kMaxImageRules] = {};
  for (size_t i = 0; i < family.rules.size(); ++i) {
    const ImageIndexEntry* entry = context->rules[i].entry;
    if (entry == nullptr) continue;
    const auto length = static_cast<uint32_t>(entry->length);
    if (std::fseek(file.get(), entry->offset, SEEK_SET) != 0 ||
        std::fread(buffer.get() + at, 1, length, file.get()) != length) {
      return kDriverPayloadUnreadable;
    }
    start[i] = static_cast<size_t>(at);
    at += length;
  }

  int32_t result = 0;
  // Stop signals and close attempts wait for the image in progress, then end the run here.
  const ProgrammingScope programming;
  for (size_t i = 0; i < family.rules.size() && result == 0; ++i) {
    RuleState& state = context->rules[i];
    if (state.entry == nullptr) continue;
    if (StopRequested()) {
      result = kDriverStopped;
      break;
    }
    const ImageRule& rule = family.rules[i];
    context->currentRule = &rule;
    SetCutShortNotice(context, rule);
    const int32_t rc = context->programmer->ProgramPartition(
        context->link, rule.partition, buffer.get() + start[i],
        static_cast<uint32_t>(state.entry->length));
    ClearCutShortNotice(context);
    if (rc != 0) {
      NoteFailure(context, rc, static_cast<int32_t>(i));
      result = kDriverProgramFailed;
    } else {
      state.programmed = true;
    }
  }
  context->currentRule = nullptr;
  return result;
}

int32_t ReportProgress(void* owner, uint32_t percent) {
  auto* context = static_cast<UpdaterContext*>(owner);
  const ImageRule* rule = context->currentRule;
  if (rule == nullptr || context->totalWeight == 0) return 0;  // not inside the transfer
  const uint32_t partial = rule->weight * percent / 100;
  uint32_t overall = (context->doneWeight + partial) * 100 / context->totalWeight;
  if (percent == kPercentDone) context->doneWeight += rule->weight;
  // The programmer's counter may overshoot when an instrument sends extra progress replies;
  // the overall percent stays within what a progress bar accepts.
  overall = std::min(overall, kPercentDone);
  if (context->progressFn) context->progressFn(context->progressOwner, static_cast<int32_t>(overall));
  return static_cast<int32_t>(overall);
}

}  // namespace updater
}  // namespace fg

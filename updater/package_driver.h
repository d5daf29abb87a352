// The package update driver: one implementation of UpdaterOps over a family table. It connects to
// the instrument, has the programmer switch it to writer mode, checks the image package of a
// payload file against the family's required-image rules and programs image after image, turning
// the programmer's per-image percent into a weighted overall percent.
#pragma once
#include <cstdint>
#include <span>

#include "catalog/updater_ops.h"
#include "firmware/image_index.h"
#include "link/device_link.h"
#include "programmer/partition_tables.h"
#include "programmer/programmer_ops.h"
#include "updater/failure_point.h"
#include "updater/version_fields.h"

namespace fg {

inline constexpr uint32_t kResourceNameSize = 256;  // 255 characters and a NUL
inline constexpr uint32_t kIdnReplyCapacity = 256;  // read capacity of the identification reply
inline constexpr int32_t kMaxImageRules = 6;

// One required-image rule. Blocks are 16 bits wide for both families (the WX2040's fit in 8).
struct ImageRule {
  uint16_t firstBlock;   // the record's block id must equal it
  uint16_t lastBlock;
  uint32_t blockSize;
  uint32_t maxSize;      // largest accepted record length: the region's size
  int32_t optional;      // 1: the package may lack this image
  int32_t partition;     // row of the family's partition table given to ProgramPartition
  uint32_t weight;       // the image's share of the overall progress
  VersionExtractor extractVersion;  // the region's installed version, or null
};

// What the latest Update found and did for one rule (index parallel to the family's rules).
struct RuleState {
  const ImageIndexEntry* entry;        // the package record for the rule, or null
  char deviceVersion[kVersionTextSize];  // the installed version the extractor read
  bool installedRead;                  // the extractor found that version in the reply
  int32_t check;                       // the rule's verdict: 0 or the number it fails with
  int32_t recordCheck;                 // the programmer's number behind a check of 8
  bool programmed;                     // ProgramPartition succeeded for it
};

struct DriverFamily;

// A family's state block, the `context` word of its UpdaterOps. Init clears all of it but `env`.
struct UpdaterContext {
  DeviceLink* link;                // created by Init; its owner is this context
  const ProgrammerOps* programmer;
  ProgressFn progressFn;           // may be null: no progress is reported
  void* progressOwner;
  ViSession rmSession;             // used only by the link's VISA slots
  ViSession session;
  ViStatus ioStatus;               // the VISA status of the slots' latest read or write
  char resourceName[kResourceNameSize];
  char idnReply[kIdnReplyCapacity + 1];  // room for the terminator of a full-length reply
  ImageIndex index;                // capacity: the family's 6 or 3
  const ImageRule* currentRule;    // the rule being programmed; null outside the transfer
  uint32_t totalWeight;            // weights of the images present in the package
  uint32_t doneWeight;             // weights of the images programmed so far
  // Bookkeeping of our own, for the package plan.
  const DriverFamily* family;
  RuleState rules[kMaxImageRules];
  int32_t programmerError;         // the programmer's number behind the latest failure 8 or 4
  FailurePoint failure;            // where the programmer stopped, noted at its failure
  // The run this driver serves (BindUpdaterEnv): its link slots, which Init puts into the link
  // and Connect and Finish call, and what the programmer finds through the link. Kept by Init;
  // null: the defaults.
  const RunEnv* env;
};

// What differs between the two driver families.
struct DriverFamily {
  const char* name;
  int32_t indexCapacity;                     // 6, 3
  std::span<const ImageRule> rules;          // in checking and programming order
  const ProgrammerOps* programmer;
  std::span<const PartitionInfo> partitions; // names of the rules' partitions
  int32_t errorBase;                         // 0x100, 0x200: missing / oversize image codes
  // The version probe: when the main version (read by rules[probeRule]) is at or below this text,
  // the built-in OEM record is appended to the payload. Null: no probe.
  const char* supplementUpTo;
  int32_t probeRule;
};

extern const DriverFamily kWx2040DriverFamily;
extern const DriverFamily kWx2050DriverFamily;

// The family behind a driver table (a family's own or an instance of it); null for any other.
const DriverFamily* DriverFamilyOf(const UpdaterOps* ops);

// The package checks of every rule over an index, before anything is written: the image is
// present (unless optional), no longer than the rule's maxSize, passes every record check of the
// programmer (`programmer->CheckRecord`: the result is then 8, the programmer's number goes to
// recordCheck) and, with kUpdateCheckVersions and an extractor, is not older than the installed
// version, which must be readable from `idnReply` (else 9 as well). A null `idnReply` means no
// instrument was asked: versions are then neither read nor compared. Fills states[0 ..
// rules.size()) (entry, deviceVersion, installedRead, check, recordCheck; programmed cleared)
// and returns the first failing rule's number in table order, or 0.
int32_t CheckPackage(const DriverFamily& family, const ProgrammerOps* programmer,
                     const ImageIndex* index, const char* idnReply, int32_t flags,
                     RuleState* states);

// The link slots of a driver's run: the env's, or the VISA slots over an UpdaterContext.
const LinkSlots& DriverLinkSlotsOf(const RunEnv* env);

namespace updater {

// Creates a new link with the slots of the context's env and hands it that env, then clears
// the context but its env. The link of the previous run is released here, so a session of many
// updates holds one link at a time. 0, or 1 when no link can be created (the context is then
// left as it was).
int32_t Init(const DriverFamily& family, UpdaterContext* context, ProgressFn progressFn,
             void* progressOwner);
// Opens the instrument, asks it "*IDN?" (the reply goes to the run's facts, where the run finds
// a writer that names no model), then shows its resource name on its display. 0; 2 the name is
// longer than 255 characters (nothing is opened), the resource cannot be opened or does not
// answer; 3 the display text cannot be written; 0x10 the instrument names another catalogue
// model than the family's (nothing but "*IDN?" was sent). Every failure closes the session.
int32_t Connect(UpdaterContext* context, const char* resourceName);
// Writer mode, the WX2040 probe and supplement, the package checks and the transfer.
// Flags: kUpdateCheckVersions, kUpdateDryRun. 0 or a number of updater/driver_errors.h; the
// programmer's model refusals come back as 0x10 (another model) and 0x11 (a writer that names no
// model, not vouched for), any other failure to reach the writer as 4. The
// supplement is appended only when the installed main version could be read and is at or
// below the family's limit; a failed append is 7.
int32_t Update(UpdaterContext* context, const char* payloadPath, int32_t flags);
// Clears the display and closes the session. Always 0.
int32_t Finish(UpdaterContext* context);
// Releases a link created by Init.
void Destroy(DeviceLink* link);

// The common core of Update: connect to the writer, read its identity, index the package, check
// every rule (CheckPackage), transfer (not on a dry run), close.
int32_t CheckAndProgram(UpdaterContext* context, const char* payloadPath, int32_t flags);
// Reads every present image first (5 when the payload no longer holds them, 6 without memory),
// then programs them in rule order, stopping at the first failure.
int32_t TransferImages(UpdaterContext* context, const char* payloadPath);
// The link's progress slot: per-image percent in, weighted overall percent (0..100) out, also
// handed to the context's progressFn.
int32_t ReportProgress(void* context, uint32_t percent);

}  // namespace updater
}  // namespace fg

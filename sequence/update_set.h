// Several instruments updated at once from one accepted file: one update run per instrument, each
// on a thread of its own with its own front end, driver context and payload file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "catalog/updater_ops.h"
#include "sequence/file_selection.h"
#include "sequence/front_end.h"
#include "sequence/update_run.h"

namespace fg {

struct SetMember {
  // The instrument's own front end; its device list holds the instrument's name, selected. Its
  // Confirm answers for the whole set, which was asked once before.
  const FrontEndOps* frontEnd = nullptr;
  // The instrument's own driver (CreateUpdaterInstance). Null ends its run with "cannot
  // initiate" (code 2): never the family's shared context, which another thread may be using.
  const UpdaterOps* updater = nullptr;
  std::string payloadPath;  // its own payload file (a PayloadFolder of its own)
  int32_t code = -1;        // the run's result code (update_run.h) once it ended
  RunFindings findings{};   // what the run learnt of the instrument before changing anything
};

// Told on a member's own thread as its run ends, its code and findings set.
struct SetMemberEnded {
  void* owner;
  void (*Ended)(void* owner, const SetMember& member);
};

// Runs the update of every member, at most `jobs` at a time (0: all at once), starting them in
// the members' order; returns when every run has ended. One member's failure ends nothing but
// its own run. The selection and the firmware file it names are only read.
// `ended` may be null.
void RunUpdateSet(const FileSelection* selection, std::span<SetMember> members, int32_t flags,
                  size_t jobs, const SetMemberEnded* ended = nullptr);

}  // namespace fg

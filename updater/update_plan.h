// A read-only view of a driver family's package plan, for front ends that show it (dry run, JSON,
// progress with the image's name, inspect). Reads the family's context and required-image table.
#pragma once
#include <cstdint>

#include "catalog/updater_ops.h"
#include "firmware/image_index.h"
#include "link/instrument_identity.h"
#include "updater/failure_point.h"

namespace fg {

struct ImagePlanRow {
  int32_t partition;         // partition index of the rule
  char partitionName[16];    // its name in the family's partition table
  bool optional;
  bool present;              // a record for the rule's block was found
  char version[5];           // the record's version text (present only)
  char installed[16];        // the installed version the rule's extractor read, or empty
  bool versioned;            // the rule has an installed version to compare with
  bool installedRead;        // ... and it could be read from the identification reply
  uint32_t length;           // the record's length (present only)
  uint32_t maxSize;
  uint32_t weight;           // the rule's share of the overall progress
  int32_t check;             // the package check's verdict: 0 or the driver's number
  int32_t recordCheck;       // the programmer's number behind a check of 8, else 0
  bool programmed;           // programmed successfully in the latest Update
};

struct UpdatePlan {
  int32_t ruleCount;
  ImagePlanRow rows[6];
  int32_t currentRule;       // index of the rule being programmed, or -1
  uint32_t totalWeight;
  uint32_t doneWeight;
  // The programmer's own number when it failed (reaching the writer, its identification, an
  // image's programming or a record check), or 0.
  int32_t programmerError;
  FailurePoint failure;      // where the programmer stopped (failure.noted), for a description
};

// Fills `plan` from the latest (or running) Update of the driver `ops` (a family's table or an
// instance of one: each reads its own context).
// Returns 0, or 1 when `ops` is no driver family of ours.
int32_t ReadUpdatePlan(const UpdaterOps* ops, UpdatePlan* plan);

// The package checks that need no instrument (presence, size, the programmer's record checks;
// no versions) over an index of a payload, as the family behind `ops` would run them. Fills
// `plan` and sets *result to the first failing check's number, or 0. Returns 0, or 1 when `ops`
// is no driver family of ours.
int32_t CheckPackagePlan(const UpdaterOps* ops, const ImageIndex* index, UpdatePlan* plan,
                         int32_t* result);

// CheckPackagePlan against the installed versions of an identification reply read outside the
// driver's Update (the normal firmware's, at Connect): each versioned rule's installed version
// is read from `identity`'s version run and compared as the version check compares it
// (kUpdateCheckVersions). Returns 0, or 1 when `ops` is no driver family of ours.
int32_t CheckPackageAgainstIdentity(const UpdaterOps* ops, const ImageIndex* index,
                                    const InstrumentIdentity& identity, UpdatePlan* plan,
                                    int32_t* result);

// True when the package would change nothing the installed versions tell of: every image that
// has an installed version is in the package with that version, as far as the instrument
// reports it (a field of 2 characters holds the first 2 of a record's 4). False when no image
// has one, or one of them could not be read.
bool PackageMatchesInstalled(const UpdatePlan& plan);

}  // namespace fg

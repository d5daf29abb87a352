// Words for a driver's package plan: the verdict of each rule, the dry-run table and the progress
// line that text front ends show.
#pragma once
#include <cstdint>
#include <string>

#include "updater/update_plan.h"

namespace fg {

// What the package checks make of one rule: "ok", "absent (optional)", "missing", "too large"
// or "older than installed" (the last only when `flags` asks for the version check). Versions
// compare as text, byte by byte, so equal versions pass.
const char* PlanVerdict(const ImagePlanRow& row, int32_t flags);

// One line per rule: image number, partition, installed and package version, size against
// maxSize, verdict. Lines end in "\n"; the first is a heading.
std::string PlanTable(const UpdatePlan& plan, int32_t flags);

// Bytes programmed so far: the images before the current one (images go in table order) and
// the share of the current one that the overall percent covers; and the bytes of every present
// image.
uint64_t PlanDoneBytes(const UpdatePlan& plan, int32_t percent);
uint64_t PlanTotalBytes(const UpdatePlan& plan);

// "[ 42%] MAIN  655360/2752512 bytes  0:13"; without a plan (null) only percent and time.
std::string ProgressText(int32_t percent, const UpdatePlan* plan, double seconds);

}  // namespace fg

// Words for a driver's package plan: the verdict of each rule, the dry-run table and the progress
// line that text front ends show.
#pragma once
#include <cstdint>
#include <string>

#include "updater/update_plan.h"

namespace fg {

// Words for the driver's verdict on one rule: "ok", "absent (optional)", "missing", "too large",
// "older than installed", "installed version unreadable", or the programmer's words for a record
// it would refuse ("image record too short", ...).
const char* PlanVerdict(const ImagePlanRow& row);

// One line per rule: image number, partition, installed and package version, size against
// maxSize, verdict. Lines end in "\n"; the first is a heading.
std::string PlanTable(const UpdatePlan& plan);

// What the log adds to a failed update's number when the plan can say more, or empty: that the
// installed versions could not be read, or which record the programmer would refuse (nothing
// was programmed then).
std::string PlanFailureNote(const UpdatePlan& plan);

// Bytes programmed so far: the images before the current one (images go in table order) and
// the share of the current one that the overall percent covers; and the bytes of every present
// image.
uint64_t PlanDoneBytes(const UpdatePlan& plan, int32_t percent);
uint64_t PlanTotalBytes(const UpdatePlan& plan);

// What a progress line shows: the overall percent, the image being programmed (empty without a
// plan or between images), the bytes programmed of all (only with an image) and whole seconds.
struct ProgressFigures {
  int32_t percent = 0;
  std::string image;
  uint64_t doneBytes = 0;
  uint64_t totalBytes = 0;
  long seconds = 0;
};
ProgressFigures ReadProgressFigures(int32_t percent, const UpdatePlan* plan, double seconds);

// "[ 42%] MAIN  655360/2752512 bytes  0:13"; without a plan (null) only percent and time.
std::string ProgressText(const ProgressFigures& figures);
std::string ProgressText(int32_t percent, const UpdatePlan* plan, double seconds);

}  // namespace fg

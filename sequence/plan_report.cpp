#include "sequence/plan_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "programmer/programmer_errors.h"
#include "updater/driver_errors.h"
#include "util/bounded_text.h"

namespace fg {

namespace {

template <size_t N>
std::string Field(const char (&text)[N]) {
  return std::string(text, BoundedLength(text, N));
}

// The row of the image being programmed, or null between images.
const ImagePlanRow* CurrentRow(const UpdatePlan& plan) {
  if (plan.currentRule < 0 || plan.currentRule >= plan.ruleCount || plan.currentRule >= 6) {
    return nullptr;
  }
  return &plan.rows[plan.currentRule];
}

}  // namespace

const char* PlanVerdict(const ImagePlanRow& row) {
  if (!row.present) return row.check != 0 ? "missing" : "absent (optional)";
  switch (row.check) {
    case 0: return "ok";
    case kDriverOlderImage:
      return row.versioned && !row.installedRead ? "installed version unreadable"
                                                 : "older than installed";
    case kDriverProgramFailed: return ProgrammerErrorText(row.recordCheck);
    default: break;
  }
  if ((row.check & 0xFF) == kDriverOversizeImage) return "too large";
  if ((row.check & 0xFF) == kDriverMissingImage) return "missing";
  return DriverErrorText(row.check);
}

std::string PlanFailureNote(const UpdatePlan& plan) {
  const int32_t count = plan.ruleCount < 0 ? 0 : (plan.ruleCount > 6 ? 6 : plan.ruleCount);
  for (int32_t i = 0; i < count; ++i) {
    const ImagePlanRow& row = plan.rows[i];
    if (row.check == 0) continue;
    // Only the first failing rule decides the update's number.
    if (row.check == kDriverOlderImage && row.versioned && !row.installedRead)
      return "The installed versions could not be read from the instrument's identification reply.";
    if (row.check == kDriverProgramFailed && row.recordCheck != 0) {
      char text[200];
      std::snprintf(text, sizeof text,
                    "The image for %s was refused before programming: %s (programmer error "
                    "0x%04X). Nothing was programmed.",
                    Field(row.partitionName).c_str(), ProgrammerErrorText(row.recordCheck),
                    static_cast<unsigned>(row.recordCheck));
      return text;
    }
    return "";
  }
  return "";
}

std::string PlanTable(const UpdatePlan& plan) {
  std::string out;
  char line[160];
  std::snprintf(line, sizeof line, "%-5s  %-9s  %-9s  %-7s  %-23s  %s\n", "image", "partition",
                "installed", "package", "size / maxSize", "verdict");
  out += line;
  const int32_t count = plan.ruleCount < 0 ? 0 : (plan.ruleCount > 6 ? 6 : plan.ruleCount);
  for (int32_t i = 0; i < count; ++i) {
    const ImagePlanRow& row = plan.rows[i];
    char size[48];
    if (row.present) {
      std::snprintf(size, sizeof size, "%u / %u", row.length, row.maxSize);
    } else {
      std::snprintf(size, sizeof size, "- / %u", row.maxSize);
    }
    const std::string installed = Field(row.installed);
    const std::string version = row.present ? Field(row.version) : std::string("-");
    std::snprintf(line, sizeof line, "%-5d  %-9s  %-9s  %-7s  %-23s  %s\n", i,
                  Field(row.partitionName).c_str(), installed.empty() ? "-" : installed.c_str(),
                  version.c_str(), size, PlanVerdict(row));
    out += line;
  }
  return out;
}

uint64_t PlanTotalBytes(const UpdatePlan& plan) {
  uint64_t total = 0;
  for (int32_t i = 0; i < plan.ruleCount && i < 6; ++i) {
    if (plan.rows[i].present) total += plan.rows[i].length;
  }
  return total;
}

uint64_t PlanDoneBytes(const UpdatePlan& plan, int32_t percent) {
  if (percent >= 100) return PlanTotalBytes(plan);
  uint64_t done = 0;
  uint64_t weightBefore = 0;  // of the images programmed before the current one
  for (int32_t i = 0; i < plan.currentRule && i < plan.ruleCount && i < 6; ++i) {
    if (!plan.rows[i].present) continue;
    done += plan.rows[i].length;
    weightBefore += plan.rows[i].weight;
  }
  const ImagePlanRow* row = CurrentRow(plan);
  if (row == nullptr || !row->present || row->weight == 0) return done;
  // The driver adds an image's weight to the done weight at its last report.
  if (plan.doneWeight > weightBefore) return done + row->length;
  // Otherwise the image counts with the share of its weight that the percent covers.
  const uint64_t reached = uint64_t{plan.totalWeight} * static_cast<uint64_t>(std::max(percent, 0));
  const uint64_t start = weightBefore * 100;
  const uint64_t whole = uint64_t{row->weight} * 100;
  const uint64_t partial = reached > start ? std::min(reached - start, whole) : 0;
  return done + uint64_t{row->length} * partial / whole;
}

ProgressFigures ReadProgressFigures(int32_t percent, const UpdatePlan* plan, double seconds) {
  ProgressFigures figures;
  figures.percent = percent;
  figures.seconds = seconds < 0 ? 0 : static_cast<long>(seconds);
  const ImagePlanRow* row = plan != nullptr ? CurrentRow(*plan) : nullptr;
  if (row != nullptr) {
    figures.image = Field(row->partitionName);
    figures.doneBytes = PlanDoneBytes(*plan, percent);
    figures.totalBytes = PlanTotalBytes(*plan);
  }
  return figures;
}

std::string ProgressText(const ProgressFigures& f) {
  char text[160];
  if (!f.image.empty()) {
    std::snprintf(text, sizeof text, "[%3d%%] %-7s  %llu/%llu bytes  %ld:%02ld", f.percent,
                  f.image.c_str(), static_cast<unsigned long long>(f.doneBytes),
                  static_cast<unsigned long long>(f.totalBytes), f.seconds / 60, f.seconds % 60);
  } else {
    std::snprintf(text, sizeof text, "[%3d%%]  %ld:%02ld", f.percent, f.seconds / 60,
                  f.seconds % 60);
  }
  return text;
}

std::string ProgressText(int32_t percent, const UpdatePlan* plan, double seconds) {
  return ProgressText(ReadProgressFigures(percent, plan, seconds));
}

}  // namespace fg

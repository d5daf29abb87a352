#include "sequence/plan_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "util/bounded_text.h"

namespace fg {

namespace {

// Byte-wise, as unsigned characters: the order the drivers check versions in.
bool OlderThan(const char* package, const char* installed) {
  return std::strcmp(package, installed) < 0;
}

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

const char* PlanVerdict(const ImagePlanRow& row, int32_t flags) {
  if (!row.present) return row.optional ? "absent (optional)" : "missing";
  if (row.length > row.maxSize) return "too large";
  if ((flags & 1) != 0) {
    const std::string version = Field(row.version);
    const std::string installed = Field(row.installed);
    if (OlderThan(version.c_str(), installed.c_str())) return "older than installed";
  }
  return "ok";
}

std::string PlanTable(const UpdatePlan& plan, int32_t flags) {
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
                  version.c_str(), size, PlanVerdict(row, flags));
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

std::string ProgressText(int32_t percent, const UpdatePlan* plan, double seconds) {
  const long whole = seconds < 0 ? 0 : static_cast<long>(seconds);
  char text[160];
  const ImagePlanRow* row = plan != nullptr ? CurrentRow(*plan) : nullptr;
  if (row != nullptr) {
    std::snprintf(text, sizeof text, "[%3d%%] %-7s  %llu/%llu bytes  %ld:%02ld", percent,
                  Field(row->partitionName).c_str(),
                  static_cast<unsigned long long>(PlanDoneBytes(*plan, percent)),
                  static_cast<unsigned long long>(PlanTotalBytes(*plan)), whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "[%3d%%]  %ld:%02ld", percent, whole / 60, whole % 60);
  }
  return text;
}

}  // namespace fg

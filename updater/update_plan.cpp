#include "updater/update_plan.h"

#include <cstring>

#include "updater/package_driver.h"
#include "util/bounded_text.h"

namespace fg {

int32_t ReadUpdatePlan(const UpdaterOps* ops, UpdatePlan* plan) {
  const UpdaterFamily* family = UpdaterFamilyOf(ops);
  if (family == nullptr || ops->context == nullptr) return 1;

  const UpdaterContext& c = *static_cast<const UpdaterContext*>(ops->context);
  *plan = UpdatePlan{};
  plan->ruleCount = static_cast<int32_t>(family->rules.size());
  plan->currentRule = -1;
  for (size_t i = 0; i < family->rules.size(); ++i) {
    const ImageRule& rule = family->rules[i];
    const RuleState& state = c.rules[i];
    ImagePlanRow& row = plan->rows[i];
    row.partition = rule.partition;
    CopyBounded(row.partitionName, sizeof row.partitionName,
                family->partitions[static_cast<size_t>(rule.partition)].name);
    row.optional = rule.optional != 0;
    row.present = state.entry != nullptr;
    if (row.present) {
      CopyBounded(row.version, state.entry->version);
      row.length = static_cast<uint32_t>(state.entry->length);
    }
    CopyBounded(row.installed, state.deviceVersion);
    row.maxSize = rule.maxSize;
    row.weight = rule.weight;
    row.programmed = state.programmed;
    if (c.currentRule == &rule) plan->currentRule = static_cast<int32_t>(i);
  }
  plan->totalWeight = c.totalWeight;
  plan->doneWeight = c.doneWeight;
  plan->programmerError = c.programmerError;
  return 0;
}

}  // namespace fg

#include "updater/update_plan.h"

#include <cstring>
#include <string>

#include "updater/driver_errors.h"
#include "updater/package_driver.h"
#include "util/bounded_text.h"

namespace fg {

namespace {

void FillRows(const DriverFamily& family, const RuleState* states, UpdatePlan* plan) {
  plan->ruleCount = static_cast<int32_t>(family.rules.size());
  plan->currentRule = -1;
  for (size_t i = 0; i < family.rules.size(); ++i) {
    const ImageRule& rule = family.rules[i];
    const RuleState& state = states[i];
    ImagePlanRow& row = plan->rows[i];
    row.partition = rule.partition;
    CopyBounded(row.partitionName, sizeof row.partitionName,
                family.partitions[static_cast<size_t>(rule.partition)].name);
    row.optional = rule.optional != 0;
    row.present = state.entry != nullptr;
    if (row.present) {
      CopyBounded(row.version, state.entry->version);
      row.length = static_cast<uint32_t>(state.entry->length);
    }
    CopyBounded(row.installed, state.deviceVersion);
    row.versioned = rule.extractVersion != nullptr;
    row.installedRead = state.installedRead;
    row.maxSize = rule.maxSize;
    row.weight = rule.weight;
    row.check = state.check;
    row.recordCheck = state.recordCheck;
    row.programmed = state.programmed;
  }
}

}  // namespace

int32_t ReadUpdatePlan(const UpdaterOps* ops, UpdatePlan* plan) {
  const DriverFamily* family = DriverFamilyOf(ops);
  if (family == nullptr || ops->context == nullptr) return 1;

  const UpdaterContext& c = *static_cast<const UpdaterContext*>(ops->context);
  *plan = UpdatePlan{};
  FillRows(*family, c.rules, plan);
  for (size_t i = 0; i < family->rules.size(); ++i)
    if (c.currentRule == &family->rules[i]) plan->currentRule = static_cast<int32_t>(i);
  plan->totalWeight = c.totalWeight;
  plan->doneWeight = c.doneWeight;
  plan->programmerError = c.programmerError;
  plan->failure = c.failure;
  return 0;
}

int32_t CheckPackagePlan(const UpdaterOps* ops, const ImageIndex* index, UpdatePlan* plan,
                         int32_t* result) {
  const DriverFamily* family = DriverFamilyOf(ops);
  if (family == nullptr) return 1;
  RuleState states[kMaxImageRules];
  *result = CheckPackage(*family, family->programmer, index, nullptr, 0, states);
  *plan = UpdatePlan{};
  FillRows(*family, states, plan);
  for (size_t i = 0; i < family->rules.size(); ++i) {
    if (states[i].entry != nullptr) plan->totalWeight += family->rules[i].weight;
    if (*result == kDriverProgramFailed && plan->programmerError == 0)
      plan->programmerError = states[i].recordCheck;
  }
  return 0;
}

int32_t CheckPackageAgainstIdentity(const UpdaterOps* ops, const ImageIndex* index,
                                    const InstrumentIdentity& identity, UpdatePlan* plan,
                                    int32_t* result) {
  const DriverFamily* family = DriverFamilyOf(ops);
  if (family == nullptr) return 1;
  // The extractors read the version run after the reply's third comma.
  const std::string reply = std::string(identity.maker) + "," + identity.model + "," +
                            identity.serial + "," + identity.versions;
  RuleState states[kMaxImageRules];
  *result = CheckPackage(*family, family->programmer, index, reply.c_str(), kUpdateCheckVersions,
                         states);
  *plan = UpdatePlan{};
  FillRows(*family, states, plan);
  for (size_t i = 0; i < family->rules.size(); ++i) {
    if (states[i].entry != nullptr) plan->totalWeight += family->rules[i].weight;
  }
  return 0;
}

bool PackageMatchesInstalled(const UpdatePlan& plan) {
  int32_t compared = 0;
  for (int32_t i = 0; i < plan.ruleCount && i < 6; ++i) {
    const ImagePlanRow& row = plan.rows[i];
    if (!row.versioned) continue;
    // Some version fields are shorter than a record's version ("02" of "0200"): the package's
    // version counts as far as the instrument reports it.
    const size_t reported = std::strlen(row.installed);
    if (!row.present || !row.installedRead || reported == 0 ||
        std::strncmp(row.version, row.installed, reported) != 0) {
      return false;
    }
    ++compared;
  }
  return compared > 0;
}

}  // namespace fg

// The two update-driver families: their required-image rules and differences as data, their
// static contexts, the UpdaterOps tables bound into the catalogue rows, and instances of those
// tables with contexts of their own.
#include "updater/updater_families.h"

#include <new>
#include <type_traits>

#include "programmer/programmer_errors.h"
#include "updater/package_driver.h"

namespace fg {

namespace {

// Checking and programming order. maxSize is each region's size in every row.
constexpr ImageRule kWx2040Rules[] = {
    {3, 3, 0x10000, 0x10000, 0, 2, 100, ExtractVersionField2},       // 1C3
    {4, 5, 0x10000, 0x20000, 0, 3, 200, ExtractVersionField3},       // 1C6DDS
    {6, 7, 0x10000, 0x20000, 0, 4, 200, ExtractVersionField4},       // 1C6POUT
    {14, 29, 0x10000, 0x100000, 0, 6, 1600, ExtractVersionField0},   // MAIN
    {8, 13, 0x10000, 0x60000, 0, 5, 600, ExtractVersionField5},      // HTTP
    {67, 68, 0x2000, 0x4000, 1, 16, 25, nullptr},                    // OEM
};
constexpr ImageRule kWx2050Rules[] = {
    {4, 11, 0x10000, 0x80000, 0, 1, 150, ExtractVersionField0},      // MAIN
    {254, 254, 0x28000, 0x28000, 0, 28, 500, ExtractVersionField2},  // XP2
    {75, 75, 0x1000, 0x1000, 1, 19, 4, nullptr},                     // OEM
};
static_assert(std::size(kWx2040Rules) <= kMaxImageRules && std::size(kWx2050Rules) <= kMaxImageRules);

// Every rule targets the partition that starts at its first block.
template <size_t N>
constexpr bool RulesMatchPartitions(const ImageRule (&rules)[N], std::span<const PartitionInfo> table) {
  for (const ImageRule& r : rules)
    if (r.partition < 0 || static_cast<size_t>(r.partition) >= table.size() ||
        table[static_cast<size_t>(r.partition)].firstBlock != r.firstBlock ||
        r.maxSize != (uint32_t{r.lastBlock} - r.firstBlock + 1) * r.blockSize || r.weight == 0)
      return false;
  return true;
}
static_assert(RulesMatchPartitions(kWx2040Rules, kWx2040PartitionTable));
static_assert(RulesMatchPartitions(kWx2050Rules, kWx2050PartitionTable));

UpdaterContext wx2040Context;
UpdaterContext wx2050Context;

}  // namespace

constexpr DriverFamily kWx2040DriverFamily = {
    "WX2040", kWx2040ImageCapacity, kWx2040Rules, &kWx2040ProgrammerOps, kWx2040PartitionTable, kWx2040ErrorBase,
    "2.00",   3,
};
constexpr DriverFamily kWx2050DriverFamily = {
    "WX2050", kWx2050ImageCapacity, kWx2050Rules, &kWx2050ProgrammerOps, kWx2050PartitionTable, kWx2050ErrorBase,
    nullptr,  0,
};

namespace {

template <const DriverFamily& F>
int32_t InitOf(void* context, ProgressFn progressFn, void* progressOwner) {
  return updater::Init(F, static_cast<UpdaterContext*>(context), progressFn, progressOwner);
}
int32_t ConnectOps(void* context, const char* resourceName) {
  return updater::Connect(static_cast<UpdaterContext*>(context), resourceName);
}
int32_t UpdateOps(void* context, const char* payloadPath, int32_t flags) {
  return updater::Update(static_cast<UpdaterContext*>(context), payloadPath, flags);
}
int32_t FinishOps(void* context) { return updater::Finish(static_cast<UpdaterContext*>(context)); }

}  // namespace

const UpdaterOps kWx2040UpdaterOps = {&wx2040Context, InitOf<kWx2040DriverFamily>, ConnectOps,
                                      UpdateOps, FinishOps, updater::Destroy};
const UpdaterOps kWx2050UpdaterOps = {&wx2050Context, InitOf<kWx2050DriverFamily>, ConnectOps,
                                      UpdateOps, FinishOps, updater::Destroy};

// The family is told by the Init slot, which binds it; the context may be any.
const DriverFamily* DriverFamilyOf(const UpdaterOps* ops) {
  if (ops == nullptr || ops->Init == nullptr) return nullptr;
  if (ops->Init == kWx2040UpdaterOps.Init) return &kWx2040DriverFamily;
  if (ops->Init == kWx2050UpdaterOps.Init) return &kWx2050DriverFamily;
  return nullptr;
}

namespace {

// The table comes first, so that a pointer to it is a pointer to the instance.
struct UpdaterInstance {
  UpdaterOps ops;
  UpdaterContext context;
};
static_assert(std::is_standard_layout_v<UpdaterInstance>);

}  // namespace

UpdaterOps* CreateUpdaterInstance(const UpdaterOps* family) {
  const DriverFamily* f = DriverFamilyOf(family);
  if (f == nullptr) return nullptr;
  auto* instance = new (std::nothrow) UpdaterInstance{};
  if (instance == nullptr) return nullptr;
  instance->ops = f == &kWx2040DriverFamily ? kWx2040UpdaterOps : kWx2050UpdaterOps;
  instance->ops.context = &instance->context;
  return &instance->ops;
}

int32_t ImageCapacityForModel(const ModelInfo* model) {
  const DriverFamily* family = model != nullptr ? DriverFamilyOf(model->updater) : nullptr;
  return family != nullptr ? family->indexCapacity : kImageIndexMaxCapacity;
}

int32_t BindUpdaterEnv(const UpdaterOps* driver, const RunEnv* env) {
  if (DriverFamilyOf(driver) == nullptr || driver->context == nullptr) return 1;
  auto* context = static_cast<UpdaterContext*>(driver->context);
  context->env = env;
  if (context->link != nullptr) context->link->env = env;
  return 0;
}

void ReleaseUpdaterInstance(UpdaterOps* instance) {
  if (instance == nullptr) return;
  auto* owner = reinterpret_cast<UpdaterInstance*>(instance);
  updater::Destroy(owner->context.link);
  delete owner;
}

}  // namespace fg

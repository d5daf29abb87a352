// The two programmer families: their differences as data, and their ProgrammerOps tables, each
// slot binding the one implementation to its family.
#include "programmer/command_frame.h"
#include "programmer/partition_ops.h"
#include "programmer/programmer_errors.h"
#include "programmer/programmer_ops.h"
#include "programmer/writer_mode.h"

namespace fg {

namespace {
char* Wx2040Serial() {
  thread_local char buffer[kSerialNumberSize];
  return buffer;
}
char* Wx2050Serial() {
  thread_local char buffer[kSerialNumberSize];
  return buffer;
}

// Both writers get the same time to come back: the full first wait, then a reopen every half
// second up to 20 s after the update command.
constexpr WriterReturnTiming kWriterReturnTiming = {kWriterModeWaitMs, 500, 20000};
}  // namespace

constexpr ProgrammerFamily kWx2040ProgrammerFamily = {
    "WX2040",          kWx2040ErrorBase,       kWx2040PartitionTable, Wx2040ProgramDivisor,
    "SYST:UPDATE WX2040\n", kWx2040OemPartition, Wx2040Serial, kWriterReturnTiming,
};
constexpr ProgrammerFamily kWx2050ProgrammerFamily = {
    "WX2050",          kWx2050ErrorBase,       kWx2050PartitionTable, Wx2050ProgramDivisor,
    "SYST:UPDATE WX2050\n", kWx2050OemPartition, Wx2050Serial, kWriterReturnTiming,
};

namespace {

template <const ProgrammerFamily& F>
int32_t ConnectOf(DeviceLink* link, const char* resourceName) {
  return programmer::Connect(F, link, resourceName);
}
template <const ProgrammerFamily& F>
int32_t ProgramPartitionOf(DeviceLink* link, int32_t index, const uint8_t* image, uint32_t length) {
  return programmer::ProgramPartition(F, link, index, image, length);
}
template <const ProgrammerFamily& F>
int32_t ErasePartitionOf(DeviceLink* link, int32_t index) {
  return programmer::ErasePartition(F, link, index);
}
template <const ProgrammerFamily& F>
int32_t QueryOf(DeviceLink* link, int32_t selector, void* out) {
  return programmer::Query(F, link, selector, out);
}

template <const ProgrammerFamily& F>
int32_t CheckRecordOf(int32_t index, uint32_t blockId, uint32_t length) {
  return programmer::CheckRecord(F, index, blockId, length);
}

template <const ProgrammerFamily& F>
constexpr ProgrammerOps OpsOf() {
  return {ConnectOf<F>, ProgramPartitionOf<F>, ErasePartitionOf<F>, QueryOf<F>, programmer::Close,
          CheckRecordOf<F>};
}

}  // namespace

constexpr ProgrammerOps kWx2040ProgrammerOps = OpsOf<kWx2040ProgrammerFamily>();
constexpr ProgrammerOps kWx2050ProgrammerOps = OpsOf<kWx2050ProgrammerFamily>();

}  // namespace fg

// Arbitrary bytes into the writer firmware of a simulated instrument: no crash, no hang, bounded
// memory, and every reply a whole line.
//
// Input: one byte of options (bit 0: WX2050 instead of WX2040; bit 1: start in the normal
// firmware), then operations. Each operation is one byte: its low two bits choose
//   0  a message of ((op >> 2) * 256 + next byte) bytes with end of message,
//   1  the same length without end of message (a transfer of a longer message),
//   2  a session event: close and reopen when bit 2 is set, else a device clear,
//   3  let time pass (op >> 2 hundred milliseconds) and collect what fell due.
// The bytes of a message follow its length byte; a message cut off by the end of the input is
// sent as far as it goes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sim/instrument_engine.h"

namespace {

using namespace fg::sim;

void Collect(InstrumentEngine& engine, uint64_t now) {
  Action action;
  while (engine.TakeDue(now, true, &action)) {
    if (action.kind == ActionKind::kReply &&
        (action.bytes.empty() || action.bytes.back() != '\n' || action.bytes.size() > 1100)) {
      std::abort();
    }
  }
  const FlashStore& flash = engine.Flash();
  for (uint32_t row = 0; row < engine.Family().partitions.size(); ++row) {
    if (flash.Content(row).size() > fg::PartitionCapacity(engine.Family().partitions[row])) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const SimFamily& family = (data[0] & 1) != 0 ? kWx2050SimFamily : kWx2040SimFamily;
  InstrumentSetup setup;
  setup.family = &family;
  setup.timing = SimTiming{};  // real flash times, on a clock of our own
  setup.faults.startInWriter = (data[0] & 2) == 0;
  InstrumentEngine engine(setup, FlashStore(family), 0);
  uint64_t now = 0;
  Collect(engine, now);
  engine.OnSessionOpened(now);

  size_t at = 1;
  while (at < size) {
    const uint8_t op = data[at++];
    switch (op & 3) {
      case 0:
      case 1: {
        if (at >= size) break;
        size_t length = (size_t{op} >> 2) * 256 + data[at++];
        if (length > size - at) length = size - at;
        engine.OnMessageOut(now, data + at, length, (op & 3) == 0);
        at += length;
        break;
      }
      case 2:
        if ((op & 4) != 0) {
          engine.OnSessionClosed(now);
          engine.OnSessionOpened(now);
        } else {
          engine.OnClear(now);
        }
        break;
      case 3:
        now += static_cast<uint64_t>(op >> 2) * 100;
        break;
    }
    Collect(engine, now);
  }
  // Whatever is still pending must fall due: a stream never runs forever.
  uint64_t due = 0;
  int rounds = 0;
  while (engine.NextDue(&due)) {
    if (++rounds > 100000) std::abort();
    Collect(engine, due);
  }
  return 0;
}

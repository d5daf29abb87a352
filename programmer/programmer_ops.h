// The flash programmer as the update drivers see it: one table per family, five operations on
// the instrument and a check of a record that needs none.
#pragma once
#include <cstdint>

#include "link/device_link.h"

namespace fg {

// Output record of QueryIdentity: the caller's buffer and, on entry, its capacity; on return the
// number of bytes read. The buffer needs one byte beyond the capacity for the terminator.
struct ReplyText {
  char* buffer;
  uint32_t length;
};

enum QuerySelector : int32_t {
  QueryIdentity = 0,         // out: ReplyText*, the "*IDN?" reply
  QueryPartitionCount = 1,   // out: uint32_t*
  QueryPartitionTable = 2,   // out: const PartitionInfo**, the first row of the family's table
  QueryEnterWriterMode = 3,  // out: unused; switches the instrument into writer mode
  QueryOemPartition = 4,     // out: uint32_t*, the row index of the partition "OEM"
};

// Every operation takes the family's link first and returns 0 on success, 7 when there is no
// link. All of them block on the link; none of them retries. What they need of the run (the
// writer-mode wait clock and observer, the deadline clock) they find in the link's env.
struct ProgrammerOps {
  // Opens resourceName, switches the instrument into writer mode unless it already is, and
  // reopens the link on the writer: on the same name, else on the writer-mode name rebuilt from
  // the serial number. 1 open failed or writer not found; 2 the link failed; 13 the instrument
  // names another model than the family's, 14 a writer that names none and is not vouched for by
  // the run's facts, 15 it came back but not as the writer (writer_mode.h). A refused
  // instrument never gets a frame; one refused before the switch gets nothing but "*IDN?".
  int32_t (*Connect)(DeviceLink* link, const char* resourceName);
  // Writes one whole image record into the partition of that row; reports 0..100 through the
  // link's progress slot, ending with exactly one 100 on success. Error numbers: programmer_errors.h.
  int32_t (*ProgramPartition)(DeviceLink* link, int32_t partitionIndex, const uint8_t* image,
                              uint32_t length);
  // Erases the partition of that row, with progress as above.
  int32_t (*ErasePartition)(DeviceLink* link, int32_t partitionIndex);
  // Identity, table facts or writer-mode entry by selector; 10 for an unknown selector (out is
  // then untouched); 2 when the identity exchange fails.
  int32_t (*Query)(DeviceLink* link, int32_t selector, void* out);
  // Closes the link's session. Never fails once there is a link.
  int32_t (*Close)(DeviceLink* link);
  // The checks ProgramPartition makes on a record (partition row, length, block id), run
  // without a link and without sending anything: 0, or the number ProgramPartition would give.
  // Lets a driver refuse a package before its first image is written.
  int32_t (*CheckRecord)(int32_t partitionIndex, uint32_t blockId, uint32_t length);
};

extern const ProgrammerOps kWx2040ProgrammerOps;
extern const ProgrammerOps kWx2050ProgrammerOps;

}  // namespace fg

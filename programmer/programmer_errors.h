// The programmer's result numbers. Step failures of a family are its error base (0x100 for the
// WX2040 family, 0x200 for the WX2050 family) plus a StepError offset (programmer/command_frame.h).
#pragma once
#include <cstdint>

namespace fg {

inline constexpr int32_t kProgOpenFailed = 1;       // Connect: the instrument could not be opened
inline constexpr int32_t kProgLinkFailed = 2;       // a write or read of the link failed
inline constexpr int32_t kProgRecordTooShort = 3;   // image record shorter than 26 bytes
inline constexpr int32_t kProgRecordTooLong = 4;    // image record beyond the partition's capacity
inline constexpr int32_t kProgBadPartition = 5;     // partition index beyond the family's table
inline constexpr int32_t kProgBlockMismatch = 6;    // record's block id is not the partition's
inline constexpr int32_t kProgNoLink = 7;
inline constexpr int32_t kProgEraseReply = 9;       // erasing: an unexpected reply
inline constexpr int32_t kProgBadSelector = 10;     // Query: unknown selector
inline constexpr int32_t kProgDeadlinePassed = 11;  // an erase or programming ran past its deadline
inline constexpr int32_t kProgTooManyReplies = 12;  // too many replies that moved nothing forward
// Connect: the instrument names another catalogue model than the family's; nothing more was sent.
inline constexpr int32_t kProgOtherModel = 13;
// Connect: a writer that names no model, and the run neither saw its normal firmware name the
// family's model nor has the user's confirmation for it; no frame was sent.
inline constexpr int32_t kProgWriterNamesNoModel = 14;
// Connect: after the switch the instrument answered, but not as the writer firmware.
inline constexpr int32_t kProgNotWriter = 15;

inline constexpr int32_t kWx2040ErrorBase = 0x100;
inline constexpr int32_t kWx2050ErrorBase = 0x200;

// A short English description of a programmer result number (either family), never null.
const char* ProgrammerErrorText(int32_t code);

}  // namespace fg

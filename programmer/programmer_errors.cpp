#include "programmer/programmer_errors.h"

#include "programmer/command_frame.h"

namespace fg {

const char* ProgrammerErrorText(int32_t code) {
  switch (code) {
    case 0: return "success";
    case kProgOpenFailed: return "the instrument could not be opened in writer mode";
    case kProgLinkFailed: return "the link failed to write or read";
    case kProgRecordTooShort: return "image record too short";
    case kProgRecordTooLong: return "image record larger than its partition";
    case kProgBadPartition: return "no such partition";
    case kProgBlockMismatch: return "image record belongs to another partition";
    case kProgNoLink: return "no link";
    case kProgEraseReply: return "unexpected reply while erasing";
    case kProgBadSelector: return "unknown query";
    case kProgDeadlinePassed: return "the instrument did not finish within the operation's deadline";
    case kProgTooManyReplies: return "the instrument sent too many replies that moved nothing forward";
    case kProgOtherModel: return "the instrument is another model";
    case kProgWriterNamesNoModel: return "the writer does not say which model it is";
    case kProgNotWriter: return "the instrument did not come back in writer mode";
    default: break;
  }
  const int32_t base = code & ~0xFF;
  if (base != kWx2040ErrorBase && base != kWx2050ErrorBase) return "unknown error";
  switch (code & 0xFF) {
    case kStepReset: return "reset not acknowledged";
    case kStepData: return "data transfer not acknowledged";
    case kStepDataEnd: return "end of data not acknowledged";
    case kStepBlockId: return "block id not acknowledged";
    case kStepSetupEnd: return "end of setup not acknowledged";
    case kStepSize: return "size not acknowledged";
    case kStepChecksum: return "checksum mismatch";
    case kStepLatest: return "the instrument reports the data is the latest update";
    case kStepEraseNg: return "the instrument failed to erase";
    case kStepProgramNg: return "the instrument failed to program";
    case kStepReturnNg: return "the instrument refused the operation";
    default: return "unknown error";
  }
}

}  // namespace fg

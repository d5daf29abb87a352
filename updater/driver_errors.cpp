#include "updater/driver_errors.h"

namespace fg {

const char* DriverErrorText(int32_t code) {
  switch (code) {
    case 0: return "success";
    case kDriverNoLink: return "the instrument link cannot be created";
    case kDriverOpenFailed: return "the instrument cannot be opened";
    case kDriverAnnounceFailed: return "the instrument's display cannot be written";
    case kDriverNoWriter: return "the instrument cannot be switched to or reached in writer mode";
    case kDriverPayloadUnreadable: return "the payload file cannot be opened or read";
    case kDriverNoMemory: return "no memory for an image";
    case kDriverOemAppendFailed: return "the built-in OEM record cannot be appended to the payload";
    case kDriverProgramFailed: return "the identification query or programming an image failed";
    case kDriverOlderImage:
      return "an image is older than the installed one, or the installed versions cannot be read";
    case kDriverStopped: return "stopped on request between two images";
    case kDriverOtherModel: return "the instrument is another model than the firmware file's";
    case kDriverWriterNamesNoModel:
      return "the instrument is in writer mode and does not say which model it is";
    case kDriverCutShort:
      return "stopped at once in the middle of an image; its partition is incomplete";
    case 0x100 + kDriverMissingImage:
    case 0x200 + kDriverMissingImage: return "a required image is missing from the package";
    case 0x100 + kDriverOversizeImage:
    case 0x200 + kDriverOversizeImage: return "an image is larger than its region";
    default: return "unknown error";
  }
}

}  // namespace fg

#include "link/identify_resource.h"

#include <cstring>

#include "link/device_link.h"
#include "visa/visa.h"

namespace fg {

int32_t IdentifyResource(const char* resourceName, InstrumentIdentity* out) {
  *out = InstrumentIdentity{};
  ViSession rm = 0;
  ViSession session = 0;
  if (resourceName == nullptr || VisaOpenSessions(&rm, &session, resourceName) == 0)
    return kIdentifyOpenFailed;
  visa::viSetAttribute(session, visa::VI_ATTR_TMO_VALUE, kIdentifyIoTimeoutMs);
  int32_t result = kIdentifyNoReply;
  uint32_t count = static_cast<uint32_t>(std::strlen(kIdentityQuery));
  if (VisaWriteSession(session, reinterpret_cast<const uint8_t*>(kIdentityQuery), &count) != 0) {
    uint8_t reply[kReplyBufferSize + 1];
    count = kReplyBufferSize;
    if (VisaReadSession(session, reply, &count) != 0) {
      ParseIdentityReply(reinterpret_cast<const char*>(reply), count, out);
      result = 0;
    }
  }
  VisaCloseSessions(&rm, &session);
  return result;
}

}  // namespace fg

#include "link/device_link.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "visa/visa.h"

namespace fg {

namespace {

constexpr visa::ViUInt32 kOpenTimeoutMs = 1000;
constexpr visa::ViUInt32 kIoTimeoutMs = 10000;
constexpr visa::ViUInt32 kReadBufferSize = 4096;

}  // namespace

DeviceLink* CreateDeviceLink(LinkOpenFn open, LinkWriteFn write, LinkReadFn read, LinkCloseFn close,
                             LinkProgressFn progress, void* owner) {
  auto* link = static_cast<DeviceLink*>(std::calloc(1, sizeof(DeviceLink)));
  if (link == nullptr) return nullptr;
  link->open = open;
  link->write = write;
  link->read = read;
  link->close = close;
  link->progress = progress;
  link->owner = owner;
  link->replyBuffer = link->replyStorage;
  return link;
}

void FreeDeviceLink(DeviceLink* link) {
  if (link == nullptr) return;
  if (link->close != nullptr) link->close(link->owner);
  std::free(link);
}

int32_t VisaOpenSessions(ViSession* rmSession, ViSession* session, const char* resourceName) {
  VisaCloseSessions(rmSession, session);
  ViStatus status = visa::viOpenDefaultRM(rmSession);
  if (status != visa::VI_SUCCESS) {
    // A warning still opens a resource manager session; close it rather than leave the pair
    // half open with a session nobody will close.
    VisaCloseSessions(rmSession, session);
    return 0;
  }
  status = visa::viOpen(*rmSession, resourceName, visa::VI_NULL, kOpenTimeoutMs, session);
  if (status != visa::VI_SUCCESS) {
    VisaCloseSessions(rmSession, session);
    return 0;
  }
  visa::viSetAttribute(*session, visa::VI_ATTR_TMO_VALUE, kIoTimeoutMs);
  visa::viSetBuf(*session, visa::VI_READ_BUF, kReadBufferSize);
  return 1;
}

int32_t VisaWriteSession(ViSession session, const uint8_t* bytes, uint32_t* count,
                         ViStatus* statusOut) {
  if (*count == 0) return 0;
  visa::ViUInt32 written = 0;
  ViStatus status = visa::viWrite(session, bytes, *count, &written);
  if (statusOut != nullptr) *statusOut = status;
  *count = written;
  return status == visa::VI_SUCCESS || status == visa::VI_SUCCESS_TERM_CHAR ? 1 : 0;
}

int32_t VisaReadSession(ViSession session, uint8_t* buffer, uint32_t* count, ViStatus* statusOut) {
  const uint32_t capacity = *count;
  visa::ViUInt32 received = 0;
  ViStatus status = visa::viRead(session, buffer, capacity, &received);
  if (statusOut != nullptr) *statusOut = status;
  // Never past the capacity, whatever a library reports: the terminator goes at buffer[count].
  *count = received > capacity ? capacity : received;
  if (status == visa::VI_SUCCESS || status == visa::VI_SUCCESS_TERM_CHAR ||
      status == visa::VI_SUCCESS_MAX_CNT) {
    buffer[*count] = 0;
    return 1;
  }
  return 0;
}

void VisaCloseSessions(ViSession* rmSession, ViSession* session) {
  if (*session != visa::VI_NULL) {
    visa::viClose(*session);
    *session = visa::VI_NULL;
  }
  if (*rmSession != visa::VI_NULL) {
    visa::viClose(*rmSession);
    *rmSession = visa::VI_NULL;
  }
}

}  // namespace fg

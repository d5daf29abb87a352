// The instrument link: the only path by which programmers and drivers talk to an instrument.
#pragma once
#include <cstdint>

#include "link/run_env.h"
#include "visa/visa_types.h"

namespace fg {

inline constexpr uint32_t kReplyBufferSize = 1024;  // the capacity every reply is read with

struct DeviceLink {
  // Opens a session to the named resource, closing what the owner had open first. 1 ok, 0 failed.
  int32_t (*open)(void* owner, const char* resourceName);
  // Sends *count bytes; *count becomes the number written. 1 ok, 0 failed (0 bytes always fails).
  int32_t (*write)(void* owner, const uint8_t* bytes, uint32_t* count);
  // Receives at most *count bytes; *count becomes the number received and, on success, a NUL is
  // written at buffer[*count], so the buffer needs *count + 1 bytes. 1 ok, 0 failed.
  int32_t (*read)(void* owner, uint8_t* buffer, uint32_t* count);
  // Closes whatever the owner has open. Idempotent.
  void (*close)(void* owner);
  // Reports the current image's percent; returns what the owner's handler returns.
  int32_t (*progress)(void* owner, uint32_t percent);
  void* owner;                 // first argument of every slot; never looked inside
  uint8_t* replyBuffer;        // points at replyStorage
  int32_t progressCounter;     // per-image percent, owned by the programmer
  // The run this link serves (its clocks and writer-mode observer); null: the defaults. Set by
  // the driver that created the link; the programmer only reads it.
  const RunEnv* env;
  // Where the programmer stands, kept so that a failure can be told afterwards: the exchange it
  // is in (its own numbering, programmer/command_frame.h), the replies read in that exchange so
  // far (the latest stays in replyStorage, replyLength bytes), and the slot whose call failed
  // last (LinkSlotFailure). Written once per exchange and per reply, never per data piece.
  int32_t exchange;
  uint32_t exchangeReplies;
  uint32_t replyLength;
  int32_t failedSlot;
  uint8_t replyStorage[kReplyBufferSize + 1];  // one byte more for a full-length reply's NUL
};

// Which slot call ended the programmer's latest exchange, if one did.
enum LinkSlotFailure : int32_t { kNoSlotFailed = 0, kWriteFailed = 1, kReadFailed = 2 };

// Allocates a zero-filled link (env null) with the given slots and owner; null when memory is
// exhausted.
DeviceLink* CreateDeviceLink(LinkOpenFn open, LinkWriteFn write, LinkReadFn read, LinkCloseFn close,
                             LinkProgressFn progress, void* owner);
// Closes the owner's sessions through the close slot, then releases the link. Null is ignored.
void FreeDeviceLink(DeviceLink* link);

// The VISA slot implementations work on the two session handles of a pair.
int32_t VisaOpenSessions(ViSession* rmSession, ViSession* session, const char* resourceName);
// `status` (may be null) gets the VISA status of the call, which tells a timeout from a lost
// connection.
int32_t VisaWriteSession(ViSession session, const uint8_t* bytes, uint32_t* count,
                         ViStatus* status = nullptr);
int32_t VisaReadSession(ViSession session, uint8_t* buffer, uint32_t* count,
                        ViStatus* status = nullptr);
void VisaCloseSessions(ViSession* rmSession, ViSession* session);

// The slots themselves serve any owner type that carries `rmSession` and `session` fields; an
// owner that also carries `ioStatus` gets the VISA status of every read and write there.
template <class Owner>
ViStatus* IoStatusOf(Owner* o) {
  if constexpr (requires { o->ioStatus; }) {
    return &o->ioStatus;
  } else {
    return nullptr;
  }
}
template <class Owner>
int32_t VisaOpen(void* owner, const char* resourceName) {
  auto* o = static_cast<Owner*>(owner);
  return VisaOpenSessions(&o->rmSession, &o->session, resourceName);
}
template <class Owner>
int32_t VisaWrite(void* owner, const uint8_t* bytes, uint32_t* count) {
  auto* o = static_cast<Owner*>(owner);
  return VisaWriteSession(o->session, bytes, count, IoStatusOf(o));
}
template <class Owner>
int32_t VisaRead(void* owner, uint8_t* buffer, uint32_t* count) {
  auto* o = static_cast<Owner*>(owner);
  return VisaReadSession(o->session, buffer, count, IoStatusOf(o));
}
template <class Owner>
void VisaClose(void* owner) {
  auto* o = static_cast<Owner*>(owner);
  VisaCloseSessions(&o->rmSession, &o->session);
}

}  // namespace fg

// The I/O functions of an instrument session: reads (with the termination character and a
// suppressed END shaping them), writes, device clear, flush, the status byte and the trigger.
// Every call that reaches the instrument runs one at a time per session and honours the other
// sessions' locks.
#include <cstdint>
#include <memory>
#include <mutex>

#include "visa/handle_table.h"
#include "visa/resource_locks.h"
#include "visa/terminated_read.h"
#include "visa/visa.h"

namespace fg::visa {

ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size) {
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  if (mask == 0 || (mask & ~(VI_READ_BUF | VI_WRITE_BUF | VI_IO_IN_BUF | VI_IO_OUT_BUF)) != 0) {
    return VI_ERROR_INV_MASK;
  }
  if (mask & (VI_READ_BUF | VI_IO_IN_BUF)) s->readBufferSize = size;
  if (mask & (VI_WRITE_BUF | VI_IO_OUT_BUF)) s->writeBufferSize = size;
  return VI_SUCCESS;
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  if (retCnt != nullptr) *retCnt = 0;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  if (buf == nullptr && cnt > 0) return VI_ERROR_USER_BUF;
  if (cnt == 0) return VI_SUCCESS_MAX_CNT;  // the count is filled before anything is read
  std::lock_guard<std::timed_mutex> lock(s->io);
  if (s->closing || !s->instr) return VI_ERROR_INV_OBJECT;  // closed while this call waited
  ViStatus access = CheckAccess(s->name.canonical, vi);
  if (access != VI_SUCCESS) return access;
  uint32_t received = 0;
  ViStatus status;
  if (!s->termCharEnabled && !s->suppressEnd && s->readBuffer.bytes.empty()) {
    status = s->instr->Read(buf, cnt, &received, s->timeoutMs);
  } else {
    ReadOptions options;
    options.termCharEnabled = s->termCharEnabled;
    options.termChar = s->termChar;
    options.suppressEnd = s->suppressEnd;
    status = TerminatedRead(*s->instr, s->readBuffer, options, buf, cnt, &received, s->timeoutMs);
  }
  // A backend that reports more than it could have read must not push the caller past `cnt`.
  if (retCnt != nullptr) *retCnt = received > cnt ? cnt : received;
  return CutShortByClose(*s, status);
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  if (retCnt != nullptr) *retCnt = 0;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  if (buf == nullptr && cnt > 0) return VI_ERROR_USER_BUF;
  std::lock_guard<std::timed_mutex> lock(s->io);
  if (s->closing || !s->instr) return VI_ERROR_INV_OBJECT;
  ViStatus access = CheckAccess(s->name.canonical, vi);
  if (access != VI_SUCCESS) return access;
  uint32_t written = 0;
  ViStatus status = s->instr->Write(buf, cnt, &written, s->timeoutMs);
  if (retCnt != nullptr) *retCnt = written > cnt ? cnt : written;
  return CutShortByClose(*s, status);
}

ViStatus viClear(ViSession vi) {
  return WithInstrument(vi, [](Session& s, InstrSession& instr) {
    s.readBuffer.Discard();
    return instr.Clear(s.timeoutMs);
  });
}

ViStatus viFlush(ViSession vi, ViUInt16 mask) {
  constexpr ViUInt16 kKnown = VI_READ_BUF | VI_WRITE_BUF | VI_READ_BUF_DISCARD |
                              VI_WRITE_BUF_DISCARD | VI_IO_IN_BUF | VI_IO_OUT_BUF |
                              VI_IO_IN_BUF_DISCARD | VI_IO_OUT_BUF_DISCARD;
  if (mask == 0 || (mask & ~kKnown) != 0 ||
      ((mask & VI_READ_BUF) && (mask & VI_READ_BUF_DISCARD)) ||
      ((mask & VI_IO_IN_BUF) && (mask & VI_IO_IN_BUF_DISCARD))) {
    return Handles().Get<Session>(vi, Kind::kSession) ? VI_ERROR_INV_MASK : VI_ERROR_INV_OBJECT;
  }
  return WithInstrument(vi, [mask](Session& s, InstrSession& instr) {
    const bool held = !s.readBuffer.bytes.empty();
    const bool messageGoesOn = held && !s.readBuffer.endsMessage;
    s.readBuffer.Discard();
    // Flushing (not only discarding) the read buffer also drops the rest of a message that the
    // buffer held the start of, so that the next read starts with a new message.
    if ((mask & (VI_READ_BUF | VI_IO_IN_BUF)) && messageGoesOn) {
      uint8_t scrap[4096];
      uint32_t got = 0;
      ViStatus status;
      do {
        status = instr.Read(scrap, sizeof scrap, &got, s.timeoutMs);
      } while (status == VI_SUCCESS_MAX_CNT);
      if (status < VI_SUCCESS) return status;
    }
    // Writes go out unbuffered: there is nothing to send or drop on the write side.
    return VI_SUCCESS;
  });
}

ViStatus viReadSTB(ViSession vi, ViPUInt16 status) {
  if (status == nullptr) {
    return Handles().Get<Session>(vi, Kind::kSession) ? VI_ERROR_USER_BUF : VI_ERROR_INV_OBJECT;
  }
  *status = 0;
  return WithInstrument(vi, [status](Session& s, InstrSession& instr) {
    uint8_t statusByte = 0;
    ViStatus result = instr.ReadStatusByte(&statusByte, s.timeoutMs);
    if (result >= VI_SUCCESS) *status = statusByte;
    return result;
  });
}

ViStatus viAssertTrigger(ViSession vi, ViUInt16 protocol) {
  if (protocol != VI_TRIG_PROT_DEFAULT) {
    return Handles().Get<Session>(vi, Kind::kSession) ? VI_ERROR_INV_PROT : VI_ERROR_INV_OBJECT;
  }
  return WithInstrument(vi, [](Session& s, InstrSession& instr) {
    return instr.AssertTrigger(s.timeoutMs);
  });
}

}  // namespace fg::visa

#include "visa/usbtmc/usbtmc_session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace fg::usbtmc {

namespace {
using visa::VI_ERROR_IO;
using visa::VI_ERROR_TMO;
using visa::VI_TMO_INFINITE;
using visa::VI_SUCCESS;
using visa::VI_SUCCESS_MAX_CNT;
using visa::VI_TMO_IMMEDIATE;

// A device that keeps answering with empty, unterminated transfers is broken, not slow.
constexpr int kMaxEmptyTransfers = 8;
// Rounds of a PENDING status before a recovery sequence gives up, and the pause between them.
constexpr int kMaxPendingRounds = 100;
constexpr auto kPendingPause = std::chrono::milliseconds(10);
// A drain reads at most this many transfers; a device that never stops talking is left alone.
constexpr int kMaxDrainTransfers = 64;
constexpr uint16_t kFallbackPacketSize = 64;

size_t RoundUp(size_t value, size_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

// Milliseconds left until `deadline`; VI_TMO_INFINITE stays infinite.
uint32_t Remaining(std::chrono::steady_clock::time_point deadline, uint32_t timeoutMs) {
  if (timeoutMs == VI_TMO_INFINITE) return VI_TMO_INFINITE;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() <= 0 ? 0 : static_cast<uint32_t>(left.count());
}

// Control requests are quick; a long I/O timeout does not make them wait longer, and
// VI_TMO_IMMEDIATE still gives the device time to answer.
uint32_t ControlTimeout(uint32_t timeoutMs) {
  return timeoutMs == VI_TMO_IMMEDIATE ? kControlTimeoutMs : std::min(timeoutMs, kControlTimeoutMs);
}
}  // namespace

UsbtmcSession::UsbtmcSession(std::unique_ptr<BulkTransport> transport)
    : transport_(std::move(transport)) {}

uint8_t UsbtmcSession::TakeTag() {
  uint8_t tag = nextTag_;
  nextTag_ = NextTag(nextTag_);
  return tag;
}

size_t UsbtmcSession::InCapacity(uint32_t want) const {
  uint16_t packet = transport_->MaxPacketSize();
  if (packet == 0) packet = kFallbackPacketSize;
  // Whole packets, so that a device sending full packets never overflows the buffer.
  return RoundUp(AlignedTransferLength(want), packet);
}

ViStatus UsbtmcSession::Open(uint32_t timeoutMs) { return Clear(timeoutMs); }

ViStatus UsbtmcSession::SendTransfer(uint8_t tag, size_t* sent, uint32_t timeoutMs) {
  *sent = 0;
  ViStatus status = transport_->BulkOut(out_.data(), out_.size(), sent, timeoutMs);
  if (status == VI_ERROR_TMO) {
    AbortBulkOut(tag);
  } else if (status == VI_ERROR_IO) {
    transport_->ClearHalt(Pipe::kBulkOut, kControlTimeoutMs);
  }
  return status;
}

ViStatus UsbtmcSession::Write(const uint8_t* data, uint32_t count, uint32_t* written,
                              uint32_t timeoutMs) {
  *written = 0;
  uint32_t offset = 0;
  while (offset < count) {
    const uint32_t chunk = std::min(count - offset, kMaxOutTransfer);
    const bool last = offset + chunk == count;
    const uint8_t tag = TakeTag();
    out_.assign(AlignedTransferLength(chunk), 0);
    BulkHeader header;
    header.msgId = kDevDepMsgOut;
    header.tag = tag;
    header.transferSize = chunk;
    header.attributes = last ? kAttrEndOfMessage : 0;
    EncodeBulkHeader(header, out_.data());
    std::memcpy(out_.data() + kBulkHeaderSize, data + offset, chunk);
    size_t sent = 0;
    ViStatus status = SendTransfer(tag, &sent, timeoutMs);
    if (status != VI_SUCCESS) {
      // Count the payload bytes the device took before the failure.
      if (sent > kBulkHeaderSize) {
        *written = offset + static_cast<uint32_t>(std::min<size_t>(sent - kBulkHeaderSize, chunk));
      }
      return status;
    }
    offset += chunk;
    *written = offset;
  }
  return VI_SUCCESS;
}

ViStatus UsbtmcSession::Read(uint8_t* data, uint32_t count, uint32_t* received,
                             uint32_t timeoutMs) {
  *received = 0;
  // The timeout bounds the whole read, not each of its transfers: a device that answers every
  // request with a byte or two, each just in time, must not stretch one read into hours.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int emptyTransfers = 0;
  while (*received < count) {
    const uint32_t want = std::min(count - *received, kMaxInTransfer);
    uint32_t got = 0;
    bool eom = false;
    ViStatus status =
        RequestTransfer(data + *received, want, &got, &eom, Remaining(deadline, timeoutMs));
    *received += got;
    if (status != VI_SUCCESS) return status;
    if (eom) return VI_SUCCESS;
    if (got == 0 && ++emptyTransfers >= kMaxEmptyTransfers) return VI_ERROR_IO;
  }
  // The caller's count filled before the end of the message: the rest stays in the device
  // and the next read continues it.
  return VI_SUCCESS_MAX_CNT;
}

ViStatus UsbtmcSession::RequestTransfer(uint8_t* dest, uint32_t want, uint32_t* got, bool* eom,
                                        uint32_t timeoutMs) {
  *got = 0;
  *eom = false;
  const uint8_t tag = TakeTag();
  out_.assign(kBulkHeaderSize, 0);
  BulkHeader request;
  request.msgId = kRequestDevDepMsgIn;
  request.tag = tag;
  request.transferSize = want;
  EncodeBulkHeader(request, out_.data());
  size_t sent = 0;
  ViStatus status = SendTransfer(tag, &sent, timeoutMs);
  if (status != VI_SUCCESS) return status;

  status = ReceiveTransfer(tag, dest, want, got, eom, timeoutMs);
  if (status == VI_ERROR_TMO || status == VI_ERROR_IO) {
    // The device may still hold our request or part of its reply: abort it so that the next
    // request starts on an empty pipe.
    AbortBulkIn(tag);
  }
  return status;
}

ViStatus UsbtmcSession::ReceiveTransfer(uint8_t tag, uint8_t* dest, uint32_t want, uint32_t* got,
                                        bool* eom, uint32_t timeoutMs) {
  const size_t capacity = InCapacity(want);
  in_.resize(capacity);
  size_t have = 0;
  BulkHeader header;
  bool headerKnown = false;
  int zeroLength = 0;
  // A transfer may arrive in several pieces (packets, or a device that splits it): keep reading
  // until the header and all TransferSize bytes are in, all of them within the timeout.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!headerKnown || have < kBulkHeaderSize + header.transferSize) {
    if (have == capacity) return VI_ERROR_IO;  // more than the request allowed
    size_t n = 0;
    ViStatus status = transport_->BulkIn(in_.data() + have, capacity - have, &n,
                                         Remaining(deadline, timeoutMs));
    if (status != VI_SUCCESS) return status;
    if (n == 0) {
      // A zero-length packet ends a transfer that filled whole packets; before a header it is
      // the tail of an earlier transfer and carries nothing.
      if (++zeroLength >= kMaxEmptyTransfers) return VI_ERROR_IO;
      if (headerKnown) return VI_ERROR_IO;  // the transfer ended short of its TransferSize
      continue;
    }
    have += n;
    if (!headerKnown && have >= kBulkHeaderSize) {
      if (!DecodeBulkHeader(in_.data(), &header)) return VI_ERROR_IO;
      if (header.msgId != kDevDepMsgIn || header.tag != tag) return VI_ERROR_IO;
      if (header.transferSize > want) return VI_ERROR_IO;
      headerKnown = true;
    }
  }
  // Anything past TransferSize in the last piece is alignment and is dropped.
  std::memcpy(dest, in_.data() + kBulkHeaderSize, header.transferSize);
  *got = header.transferSize;
  *eom = (header.attributes & kAttrEndOfMessage) != 0;
  return VI_SUCCESS;
}

void UsbtmcSession::DrainBulkIn() {
  const size_t capacity = InCapacity(kMaxInTransfer);
  in_.resize(capacity);
  for (int i = 0; i < kMaxDrainTransfers; ++i) {
    size_t n = 0;
    ViStatus status = transport_->BulkIn(in_.data(), capacity, &n, kDrainTimeoutMs);
    if (status != VI_SUCCESS || n < capacity) return;
  }
}

bool UsbtmcSession::InitiateAbort(uint8_t request, uint8_t endpoint, uint8_t tag,
                                  uint8_t checkRequest, ControlSetup* check, uint8_t* status) {
  ControlSetup initiate;
  initiate.requestType = kRequestTypeClassEndpointIn;
  initiate.request = request;
  initiate.value = tag;
  initiate.index = endpoint;
  initiate.length = kInitiateAbortReplyLength;
  uint8_t reply[kInitiateAbortReplyLength] = {};
  size_t n = 0;
  if (transport_->ControlIn(initiate, reply, &n, kControlTimeoutMs) != VI_SUCCESS || n < 1) {
    return false;
  }
  *status = reply[0];
  *check = initiate;
  check->request = checkRequest;
  check->value = 0;
  check->length = kCheckAbortReplyLength;
  return true;
}

void UsbtmcSession::AbortBulkIn(uint8_t tag) {
  ControlSetup check;
  uint8_t status = 0;
  if (!InitiateAbort(kInitiateAbortBulkIn, transport_->BulkInAddress(), tag,
                     kCheckAbortBulkInStatus, &check, &status)) {
    return;
  }
  if (status != kStatusSuccess) {
    // Nothing of ours in progress; stale data may still sit in the pipe.
    DrainBulkIn();
    return;
  }
  uint8_t reply[kCheckAbortReplyLength] = {};
  size_t n = 0;
  bool readAgain = true;
  for (int round = 0; round < kMaxPendingRounds; ++round) {
    if (readAgain) DrainBulkIn();
    n = 0;
    std::memset(reply, 0, sizeof reply);
    if (transport_->ControlIn(check, reply, &n, kControlTimeoutMs) != VI_SUCCESS ||
        n < kCheckAbortReplyLength) {
      return;
    }
    CheckAbortReply result = DecodeCheckAbortReply(reply);
    if (result.status != kStatusPending) return;
    readAgain = result.readAgain;
    if (!readAgain) std::this_thread::sleep_for(kPendingPause);
  }
}

void UsbtmcSession::AbortBulkOut(uint8_t tag) {
  ControlSetup check;
  uint8_t status = 0;
  if (!InitiateAbort(kInitiateAbortBulkOut, transport_->BulkOutAddress(), tag,
                     kCheckAbortBulkOutStatus, &check, &status)) {
    return;
  }
  if (status == kStatusSuccess) {
    uint8_t reply[kCheckAbortReplyLength] = {};
    size_t n = 0;
    for (int round = 0; round < kMaxPendingRounds; ++round) {
      n = 0;
      if (transport_->ControlIn(check, reply, &n, kControlTimeoutMs) != VI_SUCCESS ||
          n < kCheckAbortReplyLength || DecodeCheckAbortReply(reply).status != kStatusPending) {
        break;
      }
      std::this_thread::sleep_for(kPendingPause);
    }
  }
  transport_->ClearHalt(Pipe::kBulkOut, kControlTimeoutMs);
}

ViStatus UsbtmcSession::Clear(uint32_t timeoutMs) {
  const uint32_t controlTimeout = ControlTimeout(timeoutMs);
  ControlSetup initiate;
  initiate.requestType = kRequestTypeClassInterfaceIn;
  initiate.request = kInitiateClear;
  initiate.index = transport_->InterfaceNumber();
  initiate.length = kInitiateClearReplyLength;
  uint8_t reply[kCheckClearReplyLength] = {};
  size_t n = 0;
  ViStatus status = transport_->ControlIn(initiate, reply, &n, controlTimeout);
  if (status != VI_SUCCESS) return status;
  if (n < kInitiateClearReplyLength || reply[0] != kStatusSuccess) return VI_ERROR_IO;

  ControlSetup check = initiate;
  check.request = kCheckClearStatus;
  check.length = kCheckClearReplyLength;
  for (int round = 0;; ++round) {
    if (round == kMaxPendingRounds) return VI_ERROR_TMO;
    n = 0;
    status = transport_->ControlIn(check, reply, &n, controlTimeout);
    if (status != VI_SUCCESS) return status;
    if (n < kCheckClearReplyLength) return VI_ERROR_IO;
    CheckClearReply result = DecodeCheckClearReply(reply);
    if (result.status == kStatusSuccess) break;
    if (result.status != kStatusPending) return VI_ERROR_IO;
    if (result.readAgain) {
      DrainBulkIn();
    } else {
      std::this_thread::sleep_for(kPendingPause);
    }
  }
  // The clear leaves the bulk-OUT data toggle undefined until the halt is cleared.
  return transport_->ClearHalt(Pipe::kBulkOut, controlTimeout);
}

ViStatus UsbtmcSession::ReadStatusByte(uint8_t* statusByte, uint32_t timeoutMs) {
  *statusByte = 0;
  const uint32_t controlTimeout = ControlTimeout(timeoutMs);
  statusTag_ = NextStatusTag(statusTag_);
  ControlSetup request;
  request.requestType = kRequestTypeClassInterfaceIn;
  request.request = kReadStatusByte;
  request.value = statusTag_;
  request.index = transport_->InterfaceNumber();
  request.length = kReadStatusByteReplyLength;
  uint8_t reply[kReadStatusByteReplyLength] = {};
  size_t n = 0;
  ViStatus status = transport_->ControlIn(request, reply, &n, controlTimeout);
  if (status != VI_SUCCESS) return status;
  if (n < kReadStatusByteReplyLength || reply[0] != kStatusSuccess || reply[1] != statusTag_) {
    return VI_ERROR_IO;
  }
  if (transport_->InterruptInAddress() == 0) {
    *statusByte = reply[2];
    return VI_SUCCESS;
  }
  return AwaitNotification(static_cast<uint8_t>(0x80 | statusTag_), statusByte, timeoutMs);
}

ViStatus UsbtmcSession::AwaitNotification(uint8_t wanted, uint8_t* value, uint32_t timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    uint8_t packet[kNotificationSize] = {};
    size_t n = 0;
    ViStatus status =
        transport_->InterruptIn(packet, sizeof packet, &n, Remaining(deadline, timeoutMs));
    if (status != VI_SUCCESS) return status;
    if (n < kNotificationSize) continue;  // not a USB488 notification
    if (packet[0] == wanted) {
      *value = packet[1];
      return VI_SUCCESS;
    }
    if (packet[0] == kNotifyServiceRequest) serviceRequests_.push_back(packet[1]);
    // A status byte of an earlier request that gave up waiting is stale: dropped.
  }
}

ViStatus UsbtmcSession::WaitServiceRequest(uint8_t* statusByte, uint32_t timeoutMs) {
  *statusByte = 0;
  if (transport_->InterruptInAddress() == 0) return visa::VI_ERROR_NSUP_OPER;
  if (!serviceRequests_.empty()) {
    *statusByte = serviceRequests_.front();
    serviceRequests_.pop_front();
    return VI_SUCCESS;
  }
  return AwaitNotification(kNotifyServiceRequest, statusByte, timeoutMs);
}

ViStatus UsbtmcSession::AssertTrigger(uint32_t timeoutMs) {
  const uint8_t tag = TakeTag();
  out_.assign(kBulkHeaderSize, 0);
  BulkHeader header;
  header.msgId = kTrigger;
  header.tag = tag;
  EncodeBulkHeader(header, out_.data());
  size_t sent = 0;
  return SendTransfer(tag, &sent, timeoutMs);
}

}  // namespace fg::usbtmc

#include "visa/simbus/simbus_device_protocol.h"

#include <cstring>

#include "util/endian.h"
#include "visa/simbus/simbus_device_name.h"
#include "visa/usbtmc/usbtmc_messages.h"

namespace fg::simbus {

namespace {

using namespace fg::usbtmc;

// Status byte bit 4, "message available": a reply waits in the output queue.
constexpr uint8_t kMessageAvailable = 0x10;

}  // namespace

bool DeviceProtocol::Receive(HostConnection* c, const uint8_t* data, size_t size) {
  c->reader_.Feed(data, size);
  Frame frame;
  while (!Detached() && c->reader_.Take(&frame)) {
    if (!Handle(c, frame)) return false;
  }
  return !c->reader_.Broken();
}

void DeviceProtocol::EndConnection(HostConnection* c) {
  if (!c->opened_) return;
  c->opened_ = false;
  handler_->OnSessionClosed();
  // Replies nobody asked for yet must not leak into the next session.
  if (--openSessions_ == 0) DropReplies();
}

bool DeviceProtocol::QueueReply(const uint8_t* data, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Detached()) return false;
  replies_.push_back(QueuedReply{std::vector<uint8_t>(data, data + size), 0});
  return true;
}

void DeviceProtocol::DropReplies() {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.clear();
}

bool DeviceProtocol::Handle(HostConnection* c, const Frame& frame) {
  if (frame.kind == kFrameOpen) {
    if (c->opened_) return true;
    const bool accepted = handler_->OnSessionOpened();
    if (accepted) {
      c->opened_ = true;
      ++openSessions_;
    }
    const uint8_t answer = accepted ? kOpenAccepted : kOpenBusy;
    return Send(c, kFrameOpenReply, &answer, 1) && accepted;
  }
  if (!c->opened_) return false;  // nothing but a handshake before a session exists
  if (frame.kind == kFrameBulkOut) {
    HandleBulkOut(c, frame.payload);
    return true;
  }
  if (frame.kind == kFrameControl) return HandleControl(c, frame.payload);
  return false;
}

void DeviceProtocol::HandleBulkOut(HostConnection* c, const std::vector<uint8_t>& transfer) {
  BulkHeader header;
  // A malformed transfer is dropped, as a device would stall its pipe and forget it.
  if (transfer.size() < kBulkHeaderSize || !DecodeBulkHeader(transfer.data(), &header)) return;
  if (header.msgId == kDevDepMsgOut) {
    if (header.transferSize > transfer.size() - kBulkHeaderSize) return;
    handler_->OnMessageOut(transfer.data() + kBulkHeaderSize, header.transferSize,
                           (header.attributes & kAttrEndOfMessage) != 0);
  } else if (header.msgId == kTrigger) {
    handler_->OnTrigger();
  } else if (header.msgId == kRequestDevDepMsgIn) {
    c->requestPending_ = true;
    c->requestTag_ = header.tag;
    c->requestSize_ = header.transferSize;
  }
}

bool DeviceProtocol::HandleControl(HostConnection* c, const std::vector<uint8_t>& payload) {
  if (payload.size() != kControlIdSize + kControlSetupSize) return false;
  const ControlSetup setup = DecodeControlSetup(payload.data() + kControlIdSize);
  uint8_t data[kGetCapabilitiesReplyLength] = {};
  size_t length = 0;
  bool stall = false;
  switch (setup.request) {
    case kInitiateAbortBulkIn: {
      const uint8_t tag = static_cast<uint8_t>(setup.value);
      if (c->requestPending_ && c->requestTag_ == tag) {
        c->requestPending_ = false;  // the host gave up on it
        data[0] = kStatusSuccess;
        data[1] = tag;
      } else if (c->requestPending_) {
        data[0] = kStatusTransferNotInProgress;
        data[1] = c->requestTag_;
      } else {
        data[0] = kStatusFailed;
      }
      length = kInitiateAbortReplyLength;
      break;
    }
    case kCheckAbortBulkInStatus:
    case kCheckAbortBulkOutStatus:
      EncodeCheckAbortReply(CheckAbortReply{kStatusSuccess, false, 0}, data);
      length = kCheckAbortReplyLength;
      break;
    case kInitiateAbortBulkOut:
      // Bulk-OUT transfers arrive whole here: there is never one in progress.
      data[0] = kStatusFailed;
      data[1] = static_cast<uint8_t>(setup.value);
      length = kInitiateAbortReplyLength;
      break;
    case kInitiateClear:
      c->requestPending_ = false;
      DropReplies();
      handler_->OnClear();
      data[0] = kStatusSuccess;
      length = kInitiateClearReplyLength;
      break;
    case kCheckClearStatus:
      EncodeCheckClearReply(CheckClearReply{kStatusSuccess, false}, data);
      length = kCheckClearReplyLength;
      break;
    case kGetCapabilities:
      data[0] = kStatusSuccess;
      StoreLe16(data + 2, 0x0100);   // bcdUSBTMC 1.00; no optional USBTMC capabilities
      StoreLe16(data + 12, 0x0100);  // bcdUSB488 1.00
      data[14] = 0x05;               // USB488.2 interface that accepts TRIGGER
      length = kGetCapabilitiesReplyLength;
      break;
    case kReadStatusByte: {
      // No interrupt-IN pipe here: the status byte comes in the reply itself.
      const uint8_t tag = static_cast<uint8_t>(setup.value);
      if (tag < 2 || tag > 127) {
        data[0] = kStatusFailed;
      } else {
        bool available = false;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          available = !replies_.empty();
        }
        data[0] = kStatusSuccess;
        data[2] = static_cast<uint8_t>(handler_->OnReadStatusByte() |
                                       (available ? kMessageAvailable : 0));
      }
      data[1] = tag;
      length = kReadStatusByteReplyLength;
      break;
    }
    default:
      stall = true;
  }
  if (length > setup.length) length = setup.length;
  std::vector<uint8_t> reply(kControlReplyDataOffset + length);
  std::memcpy(reply.data(), payload.data(), kControlIdSize);
  reply[kControlReplyResultOffset] = stall ? kControlStall : kControlOk;
  if (length != 0) std::memcpy(reply.data() + kControlReplyDataOffset, data, length);
  return Send(c, kFrameControlReply, reply.data(), reply.size());
}

bool DeviceProtocol::ServeRequest(HostConnection* c) {
  if (!c->opened_ || !c->requestPending_) return true;
  std::vector<uint8_t> transfer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (replies_.empty()) return true;
    QueuedReply& reply = replies_.front();
    const size_t left = reply.bytes.size() - reply.sent;
    const size_t chunk = left < c->requestSize_ ? left : c->requestSize_;
    const bool last = chunk == left;
    transfer.assign(AlignedTransferLength(chunk), 0);
    BulkHeader header;
    header.msgId = kDevDepMsgIn;
    header.tag = c->requestTag_;
    header.transferSize = static_cast<uint32_t>(chunk);
    header.attributes = last ? kAttrEndOfMessage : 0;
    EncodeBulkHeader(header, transfer.data());
    if (chunk != 0) {
      std::memcpy(transfer.data() + kBulkHeaderSize, reply.bytes.data() + reply.sent, chunk);
    }
    reply.sent += chunk;
    if (last) replies_.pop_front();
  }
  c->requestPending_ = false;
  return Send(c, kFrameBulkIn, transfer.data(), transfer.size());
}

bool DeviceProtocol::Send(HostConnection* c, uint8_t kind, const uint8_t* payload, size_t size) {
  return c->SendFrame(EncodeFrame(kind, payload, size));
}

bool CheckAttachRequest(const SimDeviceIdentity& identity, const SimDeviceHandler* handler,
                        std::string* error) {
  if (handler == nullptr) {
    *error = "no device handler";
    return false;
  }
  if (!IsValidSimSerial(identity.serial)) {
    *error =
        "invalid serial \"" + identity.serial + "\": use 1 to 226 letters, digits, '.', '_' or '-'";
    return false;
  }
  return true;
}

}  // namespace fg::simbus

#include "visa/simbus/simbus_host_transport.h"

#include <algorithm>
#include <cstring>

#include "util/endian.h"

namespace fg::simbus {

namespace {
using namespace fg::visa;

// The handshake waits at least this long, so VI_TMO_IMMEDIATE still reaches a device whose
// thread is a moment late on a busy machine.
constexpr uint32_t kMinOpenWaitMs = 200;
}  // namespace

ViStatus SimBusTransport::Connect(const BusFolder& folder, const BusEntry& entry,
                                  uint32_t openTimeoutMs,
                                  std::unique_ptr<SimBusTransport>* transport) {
  // The connect and the handshake share the open timeout: a device that is stopped, wedged or
  // not accepting (its backlog full) fails the open instead of holding it.
  const Deadline deadline = Deadline::After(std::max(openTimeoutMs, kMinOpenWaitMs));
  std::unique_ptr<BusStream> stream;
  switch (OpenBusStream(folder, entry, deadline, &stream)) {
    case StreamOpenResult::kOk:
      break;
    case StreamOpenResult::kBusy:
      return VI_ERROR_RSRC_BUSY;
    case StreamOpenResult::kTimeout:
      return VI_ERROR_TMO;
    case StreamOpenResult::kGone:
      return VI_ERROR_RSRC_NFOUND;
    case StreamOpenResult::kFailed:
      return VI_ERROR_SYSTEM_ERROR;
  }
  std::unique_ptr<SimBusTransport> created(
      new SimBusTransport(std::move(stream), entry.identity.interfaceNumber));
  ViStatus status = created->SendFrame(kFrameOpen, nullptr, 0, deadline);
  if (status == VI_SUCCESS) status = created->PumpUntil(kFrameOpenReply, deadline);
  if (status == VI_ERROR_CONN_LOST) return VI_ERROR_RSRC_NFOUND;  // left before answering
  if (status != VI_SUCCESS) return status;
  const uint8_t answer = created->openReplies_.front();
  created->openReplies_.pop_front();
  if (answer == kOpenBusy) return VI_ERROR_RSRC_BUSY;
  if (answer != kOpenAccepted) return VI_ERROR_IO;
  *transport = std::move(created);
  return VI_SUCCESS;
}

SimBusTransport::~SimBusTransport() = default;

void SimBusTransport::Cancel() {
  canceled_ = true;
  stream_->Cancel();
}

ViStatus SimBusTransport::Failure() const { return lost_ ? VI_ERROR_CONN_LOST : VI_ERROR_IO; }

ViStatus SimBusTransport::Settled(ViStatus status) const {
  return status != VI_SUCCESS && canceled_ ? VI_ERROR_ABORT : status;
}

ViStatus SimBusTransport::SendFrame(uint8_t kind, const uint8_t* payload, size_t size,
                                    const Deadline& deadline) {
  if (lost_ || broken_) return Failure();
  std::vector<uint8_t> frame = EncodeFrame(kind, payload, size);
  size_t sent = 0;
  IoResult result = stream_->SendAll(frame.data(), frame.size(), deadline, &sent);
  if (result == IoResult::kOk) return VI_SUCCESS;
  if (result == IoResult::kClosed) {
    lost_ = true;
    return VI_ERROR_CONN_LOST;
  }
  if (sent != 0) broken_ = true;  // half a frame went out
  return result == IoResult::kTimeout ? VI_ERROR_TMO : VI_ERROR_IO;
}

ViStatus SimBusTransport::PumpUntil(uint8_t kind, const Deadline& deadline) {
  auto ready = [&] {
    switch (kind) {
      case kFrameBulkIn:
        return !bulkIn_.empty();
      case kFrameControlReply:
        return !controlReplies_.empty();
      case kFrameOpenReply:
        return !openReplies_.empty();
      default:
        return false;
    }
  };
  uint8_t chunk[16 * 1024];
  while (!ready()) {
    if (lost_ || broken_) return Failure();
    Frame frame;
    while (reader_.Take(&frame)) {
      switch (frame.kind) {
        case kFrameBulkIn:
          bulkIn_.push_back(std::move(frame.payload));
          break;
        case kFrameControlReply:
          controlReplies_.push_back(std::move(frame.payload));
          break;
        case kFrameOpenReply:
          if (frame.payload.size() != 1)
            broken_ = true;
          else
            openReplies_.push_back(frame.payload[0]);
          break;
        default:
          broken_ = true;  // not something a device sends
      }
    }
    if (reader_.Broken()) broken_ = true;
    if (broken_) return VI_ERROR_IO;
    if (ready()) break;
    size_t received = 0;
    IoResult result = stream_->ReceiveSome(chunk, sizeof chunk, deadline, &received);
    if (result == IoResult::kTimeout) return VI_ERROR_TMO;
    if (result == IoResult::kClosed) {
      lost_ = true;
      return VI_ERROR_CONN_LOST;
    }
    if (result != IoResult::kOk) return VI_ERROR_IO;
    reader_.Feed(chunk, received);
  }
  return VI_SUCCESS;
}

ViStatus SimBusTransport::BulkOut(const uint8_t* data, size_t size, size_t* sent,
                                  uint32_t timeoutMs) {
  *sent = 0;
  if (canceled_) return VI_ERROR_ABORT;
  ViStatus status = SendFrame(kFrameBulkOut, data, size, Deadline::After(timeoutMs));
  if (status == VI_SUCCESS) *sent = size;
  return Settled(status);
}

ViStatus SimBusTransport::BulkIn(uint8_t* buffer, size_t capacity, size_t* received,
                                 uint32_t timeoutMs) {
  *received = 0;
  if (canceled_) return VI_ERROR_ABORT;
  // Data already here is handed out even when the device has left since.
  if (bulkIn_.empty()) {
    ViStatus status = PumpUntil(kFrameBulkIn, Deadline::After(timeoutMs));
    if (status != VI_SUCCESS) return Settled(status);
  }
  const std::vector<uint8_t>& transfer = bulkIn_.front();
  const size_t n = std::min(capacity, transfer.size() - bulkInOffset_);
  if (n != 0) std::memcpy(buffer, transfer.data() + bulkInOffset_, n);
  bulkInOffset_ += n;
  *received = n;
  if (bulkInOffset_ == transfer.size()) {
    bulkIn_.pop_front();
    bulkInOffset_ = 0;
  }
  return VI_SUCCESS;
}

ViStatus SimBusTransport::ControlIn(const usbtmc::ControlSetup& setup, uint8_t* reply,
                                    size_t* received, uint32_t timeoutMs) {
  *received = 0;
  if (canceled_) return VI_ERROR_ABORT;
  const Deadline deadline = Deadline::After(timeoutMs);
  const uint32_t id = nextControlId_++;
  uint8_t request[kControlIdSize + usbtmc::kControlSetupSize];
  StoreLe32(request, id);
  usbtmc::EncodeControlSetup(setup, request + kControlIdSize);
  ViStatus status = SendFrame(kFrameControl, request, sizeof request, deadline);
  if (status != VI_SUCCESS) return Settled(status);
  // Replies to requests that timed out earlier may still arrive first: skip them by id.
  for (;;) {
    status = PumpUntil(kFrameControlReply, deadline);
    if (status != VI_SUCCESS) return Settled(status);
    std::vector<uint8_t> answer = std::move(controlReplies_.front());
    controlReplies_.pop_front();
    if (answer.size() < kControlReplyDataOffset) {
      broken_ = true;
      return VI_ERROR_IO;
    }
    if (LoadLe32(answer.data()) != id) continue;
    if (answer[kControlReplyResultOffset] != kControlOk) return VI_ERROR_IO;  // stalled
    const size_t n = std::min<size_t>(answer.size() - kControlReplyDataOffset, setup.length);
    if (n != 0) std::memcpy(reply, answer.data() + kControlReplyDataOffset, n);
    *received = n;
    return VI_SUCCESS;
  }
}

ViStatus SimBusTransport::ClearHalt(usbtmc::Pipe, uint32_t) {
  // Simulated pipes never halt; only a dead session has something to report.
  if (canceled_) return VI_ERROR_ABORT;
  return (lost_ || broken_) ? Failure() : VI_SUCCESS;
}

}  // namespace fg::simbus

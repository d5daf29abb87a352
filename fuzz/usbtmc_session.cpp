// A USBTMC session against a device whose every answer comes from the fuzzer: bulk-IN transfers
// (raw, or behind a header that matches the last request so that the body gets parsed),
// control replies, timeouts and stalls. Whatever it sends, the session must not crash, hang or
// report more bytes than the caller's buffer holds.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "visa/usbtmc/usbtmc_messages.h"
#include "visa/usbtmc/usbtmc_session.h"

namespace {

using namespace fg::usbtmc;
using fg::visa::ViStatus;

// Control transfers sleep between "pending" answers; a few per input keep each run short.
constexpr int kMaxControlReplies = 8;
constexpr int kMaxRounds = 16;

class FuzzedDevice final : public BulkTransport {
 public:
  explicit FuzzedDevice(FuzzedDataProvider* in) : in_(in) {}

  void Cancel() override {}  // every call returns at once: nothing is ever left to cut short

  ViStatus BulkOut(const uint8_t* data, size_t size, size_t* sent, uint32_t) override {
    *sent = 0;
    if (in_->remaining_bytes() == 0) return fg::visa::VI_ERROR_CONN_LOST;
    BulkHeader header;
    if (size >= kBulkHeaderSize && DecodeBulkHeader(data, &header)) lastTag_ = header.tag;
    switch (in_->ConsumeIntegralInRange<int>(0, 7)) {
      case 0: *sent = in_->ConsumeIntegralInRange<size_t>(0, size); return fg::visa::VI_ERROR_TMO;
      case 1: return fg::visa::VI_ERROR_IO;
      default: *sent = size; return fg::visa::VI_SUCCESS;
    }
  }

  ViStatus BulkIn(uint8_t* buffer, size_t capacity, size_t* received, uint32_t) override {
    *received = 0;
    if (in_->remaining_bytes() == 0) return fg::visa::VI_ERROR_CONN_LOST;
    const int kind = in_->ConsumeIntegralInRange<int>(0, 9);
    if (kind == 0) return fg::visa::VI_ERROR_TMO;
    if (kind == 1) return fg::visa::VI_ERROR_IO;
    std::vector<uint8_t> transfer;
    if (kind >= 5) {  // a header that answers the last request, then a fuzzed body
      BulkHeader header;
      header.msgId = in_->ConsumeBool() ? kDevDepMsgIn : in_->ConsumeIntegral<uint8_t>();
      header.tag = in_->ConsumeBool() ? lastTag_ : in_->ConsumeIntegral<uint8_t>();
      header.transferSize = in_->ConsumeIntegralInRange<uint32_t>(0, 2 * kMaxInTransfer);
      header.attributes = in_->ConsumeIntegral<uint8_t>();
      transfer.resize(kBulkHeaderSize);
      EncodeBulkHeader(header, transfer.data());
    }
    const std::vector<uint8_t> body =
        in_->ConsumeBytes<uint8_t>(in_->ConsumeIntegralInRange<size_t>(0, 3 * 512));
    transfer.insert(transfer.end(), body.begin(), body.end());
    const size_t n = transfer.size() < capacity ? transfer.size() : capacity;
    if (n > 0) std::memcpy(buffer, transfer.data(), n);
    *received = n;
    return fg::visa::VI_SUCCESS;
  }

  ViStatus ControlIn(const ControlSetup& setup, uint8_t* reply, size_t* received,
                     uint32_t) override {
    *received = 0;
    if (in_->remaining_bytes() == 0 || ++controlReplies_ > kMaxControlReplies) {
      return fg::visa::VI_ERROR_CONN_LOST;
    }
    if (in_->ConsumeIntegralInRange<int>(0, 7) == 0) return fg::visa::VI_ERROR_IO;
    const std::vector<uint8_t> bytes =
        in_->ConsumeBytes<uint8_t>(in_->ConsumeIntegralInRange<size_t>(0, setup.length));
    if (!bytes.empty()) std::memcpy(reply, bytes.data(), bytes.size());
    *received = bytes.size();
    return fg::visa::VI_SUCCESS;
  }

  ViStatus ClearHalt(Pipe, uint32_t) override { return fg::visa::VI_SUCCESS; }
  uint16_t MaxPacketSize() const override { return 512; }
  uint8_t BulkInAddress() const override { return 0x81; }
  uint8_t BulkOutAddress() const override { return 0x02; }
  uint8_t InterfaceNumber() const override { return 0; }

 private:
  FuzzedDataProvider* in_;
  uint8_t lastTag_ = 0;
  int controlReplies_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  UsbtmcSession session(std::make_unique<FuzzedDevice>(&in));
  if (in.ConsumeBool()) session.Open(1000);
  for (int round = 0; round < kMaxRounds && in.remaining_bytes() > 0; ++round) {
    if (in.ConsumeBool()) {
      static const uint8_t kQuery[] = "*IDN?\n";
      uint32_t written = 0;
      session.Write(kQuery, sizeof kQuery - 1, &written, 1000);
      if (written > sizeof kQuery - 1) __builtin_trap();
    }
    // A heap buffer of exactly the asked size: ASan sees any byte written past it.
    const uint32_t want = in.ConsumeIntegralInRange<uint32_t>(0, 3 * 1024);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[want == 0 ? 1 : want]);
    uint32_t received = 0;
    session.Read(want == 0 ? nullptr : buffer.get(), want, &received, 1000);
    if (received > want) __builtin_trap();
    const uint8_t tag = session.NextTagValue();
    if (tag == 0) __builtin_trap();  // bTag 0 is never used
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) session.Clear(1000);
  }
  return 0;
}

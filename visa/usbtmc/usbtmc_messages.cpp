#include "visa/usbtmc/usbtmc_messages.h"

#include <cstring>

#include "util/endian.h"

namespace fg::usbtmc {

namespace {
// Byte offsets of the bulk header fields.
constexpr size_t kOffMsgId = 0;
constexpr size_t kOffTag = 1;
constexpr size_t kOffTagInverse = 2;
constexpr size_t kOffTransferSize = 4;
constexpr size_t kOffAttributes = 8;
constexpr size_t kOffTermChar = 9;
static_assert(kOffTermChar + 3 == kBulkHeaderSize, "two reserved bytes end the header");
static_assert(AlignedTransferLength(0) == 12 && AlignedTransferLength(1) == 16 &&
              AlignedTransferLength(4) == 16 && AlignedTransferLength(5) == 20);
static_assert(NextTag(255) == 1 && NextTag(1) == 2 && NextTag(0) == 1);

// Byte offsets of the setup packet fields.
constexpr size_t kOffRequestType = 0;
constexpr size_t kOffRequest = 1;
constexpr size_t kOffValue = 2;
constexpr size_t kOffIndex = 4;
constexpr size_t kOffLength = 6;
static_assert(kOffLength + 2 == kControlSetupSize);

constexpr size_t kOffAbortByteCount = 4;
static_assert(kOffAbortByteCount + 4 == kCheckAbortReplyLength);
}  // namespace

void EncodeBulkHeader(const BulkHeader& header, uint8_t out[kBulkHeaderSize]) {
  std::memset(out, 0, kBulkHeaderSize);
  out[kOffMsgId] = header.msgId;
  out[kOffTag] = header.tag;
  out[kOffTagInverse] = static_cast<uint8_t>(~header.tag);
  StoreLe32(out + kOffTransferSize, header.transferSize);
  out[kOffAttributes] = header.attributes;
  out[kOffTermChar] = header.termChar;
}

bool DecodeBulkHeader(const uint8_t in[kBulkHeaderSize], BulkHeader* header) {
  if (in[kOffTag] == 0 || static_cast<uint8_t>(~in[kOffTag]) != in[kOffTagInverse]) return false;
  header->msgId = in[kOffMsgId];
  header->tag = in[kOffTag];
  header->transferSize = LoadLe32(in + kOffTransferSize);
  header->attributes = in[kOffAttributes];
  header->termChar = in[kOffTermChar];
  return true;
}

void EncodeControlSetup(const ControlSetup& setup, uint8_t out[kControlSetupSize]) {
  out[kOffRequestType] = setup.requestType;
  out[kOffRequest] = setup.request;
  StoreLe16(out + kOffValue, setup.value);
  StoreLe16(out + kOffIndex, setup.index);
  StoreLe16(out + kOffLength, setup.length);
}

ControlSetup DecodeControlSetup(const uint8_t in[kControlSetupSize]) {
  ControlSetup setup;
  setup.requestType = in[kOffRequestType];
  setup.request = in[kOffRequest];
  setup.value = LoadLe16(in + kOffValue);
  setup.index = LoadLe16(in + kOffIndex);
  setup.length = LoadLe16(in + kOffLength);
  return setup;
}

void EncodeCheckAbortReply(const CheckAbortReply& reply, uint8_t out[kCheckAbortReplyLength]) {
  std::memset(out, 0, kCheckAbortReplyLength);
  out[0] = reply.status;
  out[1] = reply.readAgain ? 1 : 0;
  StoreLe32(out + kOffAbortByteCount, reply.byteCount);
}

CheckAbortReply DecodeCheckAbortReply(const uint8_t in[kCheckAbortReplyLength]) {
  CheckAbortReply reply;
  reply.status = in[0];
  reply.readAgain = (in[1] & 1) != 0;
  reply.byteCount = LoadLe32(in + kOffAbortByteCount);
  return reply;
}

void EncodeCheckClearReply(const CheckClearReply& reply, uint8_t out[kCheckClearReplyLength]) {
  out[0] = reply.status;
  out[1] = reply.readAgain ? 1 : 0;
}

CheckClearReply DecodeCheckClearReply(const uint8_t in[kCheckClearReplyLength]) {
  return CheckClearReply{in[0], (in[1] & 1) != 0};
}

}  // namespace fg::usbtmc

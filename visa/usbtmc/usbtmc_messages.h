// USBTMC bulk headers, class control requests and their replies, as they travel on the wire.
// Every multi-byte field is little-endian. Each layout is declared once here; the session code
// and the simulated device build and check frames only through these codecs.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fg::usbtmc {

// MsgID of the 12-byte bulk header.
inline constexpr uint8_t kDevDepMsgOut = 1;        // host -> device: message bytes
inline constexpr uint8_t kRequestDevDepMsgIn = 2;  // host -> device: "send me up to N bytes"
inline constexpr uint8_t kDevDepMsgIn = 2;         // device -> host: reply bytes
inline constexpr uint8_t kVendorSpecificOut = 126;
inline constexpr uint8_t kRequestVendorSpecificIn = 127;
// USB488 subclass: host -> device, a header only (no payload): "trigger now", as GPIB GET.
inline constexpr uint8_t kTrigger = 128;

inline constexpr size_t kBulkHeaderSize = 12;
// bmTransferAttributes bit 0 of a DEV_DEP_MSG_OUT / DEV_DEP_MSG_IN: last transfer of a message.
inline constexpr uint8_t kAttrEndOfMessage = 0x01;
// bmTransferAttributes bit 1 of a REQUEST_DEV_DEP_MSG_IN: stop at TermChar.
inline constexpr uint8_t kAttrTermCharEnabled = 0x02;

// The common 12-byte header of every bulk transfer.
//   byte 0     MsgID
//   byte 1     bTag (1..255)
//   byte 2     bTagInverse (~bTag)
//   byte 3     reserved, 0
//   bytes 4-7  TransferSize, little-endian (payload bytes, alignment excluded)
//   byte 8     bmTransferAttributes
//   byte 9     TermChar (REQUEST_DEV_DEP_MSG_IN only)
//   bytes 10-11 reserved, 0
struct BulkHeader {
  uint8_t msgId = 0;
  uint8_t tag = 0;
  uint32_t transferSize = 0;
  uint8_t attributes = 0;
  uint8_t termChar = 0;
};

// Writes the 12 header bytes.
void EncodeBulkHeader(const BulkHeader& header, uint8_t out[kBulkHeaderSize]);
// Reads the 12 header bytes. False when bTagInverse does not match bTag or bTag is 0.
bool DecodeBulkHeader(const uint8_t in[kBulkHeaderSize], BulkHeader* header);

// Bytes on the wire for a payload of `size` bytes: header plus alignment to a multiple of 4.
constexpr size_t AlignedTransferLength(size_t size) {
  return kBulkHeaderSize + ((size + 3u) & ~size_t{3});
}

// The next bTag after `tag`: 1..255, never 0.
constexpr uint8_t NextTag(uint8_t tag) { return tag >= 255 ? uint8_t{1} : uint8_t(tag + 1); }

// Class-specific control requests (bRequest).
inline constexpr uint8_t kInitiateAbortBulkOut = 1;
inline constexpr uint8_t kCheckAbortBulkOutStatus = 2;
inline constexpr uint8_t kInitiateAbortBulkIn = 3;
inline constexpr uint8_t kCheckAbortBulkInStatus = 4;
inline constexpr uint8_t kInitiateClear = 5;
inline constexpr uint8_t kCheckClearStatus = 6;
inline constexpr uint8_t kGetCapabilities = 7;
// USB488 subclass requests, to the interface.
inline constexpr uint8_t kReadStatusByte = 128;

// bmRequestType of the class requests: device-to-host, class, to the endpoint or the interface.
inline constexpr uint8_t kRequestTypeClassEndpointIn = 0xA2;
inline constexpr uint8_t kRequestTypeClassInterfaceIn = 0xA1;

// USBTMC_status, first byte of every class request's reply.
inline constexpr uint8_t kStatusSuccess = 0x01;
inline constexpr uint8_t kStatusPending = 0x02;
inline constexpr uint8_t kStatusFailed = 0x80;
inline constexpr uint8_t kStatusTransferNotInProgress = 0x81;
inline constexpr uint8_t kStatusSplitNotInProgress = 0x82;
inline constexpr uint8_t kStatusSplitInProgress = 0x83;

// Reply lengths (wLength) of the class requests.
inline constexpr uint16_t kInitiateAbortReplyLength = 2;  // status, bTag
inline constexpr uint16_t kCheckAbortReplyLength = 8;  // status, bmAbort, 0, 0, NBYTES (4)
inline constexpr uint16_t kInitiateClearReplyLength = 1;  // status
inline constexpr uint16_t kCheckClearReplyLength = 2;     // status, bmClear
inline constexpr uint16_t kGetCapabilitiesReplyLength = 0x18;
// READ_STATUS_BYTE: status, bTag, status byte (0 when it comes on the interrupt-IN pipe).
inline constexpr uint16_t kReadStatusByteReplyLength = 3;

// bTag of READ_STATUS_BYTE (wValue): 2..127, its own sequence beside the bulk bTags.
constexpr uint8_t NextStatusTag(uint8_t tag) {
  return tag < 2 || tag >= 127 ? uint8_t{2} : uint8_t(tag + 1);
}

// A USB488 interrupt-IN notification: 2 bytes, bNotify1 and bNotify2.
//   bNotify1 0x81: a service request, bNotify2 the status byte.
//   bNotify1 0x80 | bTag: the status byte asked for by READ_STATUS_BYTE with that bTag.
inline constexpr size_t kNotificationSize = 2;
inline constexpr uint8_t kNotifyServiceRequest = 0x81;
constexpr bool IsStatusNotification(uint8_t notify1, uint8_t tag) {
  return notify1 == static_cast<uint8_t>(0x80 | tag);
}

// The 8-byte setup packet of a control transfer.
//   byte 0 bmRequestType, byte 1 bRequest, bytes 2-3 wValue, 4-5 wIndex, 6-7 wLength.
struct ControlSetup {
  uint8_t requestType = 0;
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  uint16_t length = 0;
};
inline constexpr size_t kControlSetupSize = 8;
void EncodeControlSetup(const ControlSetup& setup, uint8_t out[kControlSetupSize]);
ControlSetup DecodeControlSetup(const uint8_t in[kControlSetupSize]);

// Reply of CHECK_ABORT_BULK_IN_STATUS / CHECK_ABORT_BULK_OUT_STATUS.
//   byte 0 status, byte 1 bmAbortBulkIn (bit 0: the host must read the bulk-in pipe again),
//   bytes 2-3 reserved, bytes 4-7 NBYTES_RXD / NBYTES_TXD.
struct CheckAbortReply {
  uint8_t status = 0;
  bool readAgain = false;
  uint32_t byteCount = 0;
};
void EncodeCheckAbortReply(const CheckAbortReply& reply, uint8_t out[kCheckAbortReplyLength]);
CheckAbortReply DecodeCheckAbortReply(const uint8_t in[kCheckAbortReplyLength]);

// Reply of CHECK_CLEAR_STATUS: byte 0 status, byte 1 bmClear (bit 0: read the bulk-in pipe).
struct CheckClearReply {
  uint8_t status = 0;
  bool readAgain = false;
};
void EncodeCheckClearReply(const CheckClearReply& reply, uint8_t out[kCheckClearReplyLength]);
CheckClearReply DecodeCheckClearReply(const uint8_t in[kCheckClearReplyLength]);

}  // namespace fg::usbtmc

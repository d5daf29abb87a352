// The wire layouts, checked against bytes written out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "visa/usbtmc/usbtmc_messages.h"
#include "visa/usbtmc/usbtmc_resource_name.h"

namespace fg::usbtmc {
namespace {

std::vector<uint8_t> Encoded(const BulkHeader& header) {
  std::vector<uint8_t> bytes(kBulkHeaderSize);
  EncodeBulkHeader(header, bytes.data());
  return bytes;
}

TEST(BulkHeaderTest, HeadersMatchHandWrittenBytes) {
  struct Row {
    BulkHeader header;
    std::vector<uint8_t> bytes;
  };
  const Row rows[] = {
      // DEV_DEP_MSG_OUT, bTag 1, 5 bytes, EOM.
      {{kDevDepMsgOut, 1, 5, kAttrEndOfMessage, 0},
       {0x01, 0x01, 0xFE, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}},
      // REQUEST_DEV_DEP_MSG_IN, bTag 0x80, 0x00012345 bytes, no term char.
      {{kRequestDevDepMsgIn, 0x80, 0x12345, 0, 0},
       {0x02, 0x80, 0x7F, 0x00, 0x45, 0x23, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}},
      // bTag 255 with term char '\n' enabled.
      {{kRequestDevDepMsgIn, 0xFF, 0xFFFFFFFF, kAttrTermCharEnabled, '\n'},
       {0x02, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x0A, 0x00, 0x00}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Encoded(row.header), row.bytes);
    BulkHeader decoded;
    ASSERT_TRUE(DecodeBulkHeader(row.bytes.data(), &decoded));
    EXPECT_EQ(decoded.msgId, row.header.msgId);
    EXPECT_EQ(decoded.tag, row.header.tag);
    EXPECT_EQ(decoded.transferSize, row.header.transferSize);
    EXPECT_EQ(decoded.attributes, row.header.attributes);
    EXPECT_EQ(decoded.termChar, row.header.termChar);
  }
}

TEST(BulkHeaderTest, BadTagInverseOrZeroTagIsRefused) {
  std::vector<uint8_t> bytes = Encoded({kDevDepMsgIn, 7, 1, kAttrEndOfMessage, 0});
  BulkHeader decoded;
  bytes[2] ^= 0x01;
  EXPECT_FALSE(DecodeBulkHeader(bytes.data(), &decoded));
  bytes = {0x02, 0x00, 0xFF, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_FALSE(DecodeBulkHeader(bytes.data(), &decoded));
}

TEST(ControlLayoutTest, SetupAndCheckRepliesMatchHandWrittenBytes) {
  uint8_t setup[kControlSetupSize];
  EncodeControlSetup({kRequestTypeClassEndpointIn, kInitiateAbortBulkIn, 0x0042, 0x0081, 2}, setup);
  EXPECT_EQ(std::vector<uint8_t>(setup, setup + sizeof setup),
            (std::vector<uint8_t>{0xA2, 0x03, 0x42, 0x00, 0x81, 0x00, 0x02, 0x00}));
  ControlSetup back = DecodeControlSetup(setup);
  EXPECT_EQ(back.value, 0x42);
  EXPECT_EQ(back.index, 0x81);

  const uint8_t check[kCheckAbortReplyLength] = {0x02, 0x01, 0, 0, 0x10, 0x27, 0, 0};
  CheckAbortReply reply = DecodeCheckAbortReply(check);
  EXPECT_EQ(reply.status, kStatusPending);
  EXPECT_TRUE(reply.readAgain);
  EXPECT_EQ(reply.byteCount, 10000u);
}

TEST(ResourceNameTest, FormatsAndParsesUsbInstrumentNames) {
  EXPECT_EQ(FormatResourceName({0x2E5B, 0x3A01, "SN1", 0}), "USB0::0x2E5B::0x3A01::SN1::INSTR");
  EXPECT_EQ(FormatResourceName({0x2E5B, 0x3A10, "SN1", 3}), "USB0::0x2E5B::0x3A10::SN1::3::INSTR");
  struct Row {
    const char* name;
    bool ok;
    UsbInstrumentAddress address;
  };
  const Row rows[] = {
      {"USB0::0x2E5B::0x3A01::SN1::INSTR", true, {0x2E5B, 0x3A01, "SN1", 0}},
      {"usb0::0x2e5b::0x3a01::SN1::0::instr", true, {0x2E5B, 0x3A01, "SN1", 0}},
      {"USB::11867::14849::SN1::2::INSTR", true, {0x2E5B, 0x3A01, "SN1", 2}},
      {"USB0::0x2E5B::0x3A01::::INSTR", false, {}},
      {"USB0::0x12345::0x3A01::SN1::INSTR", false, {}},
      {"USB0::0x2E5B::0x3A01::SN1::256::INSTR", false, {}},
      {"USB0::0x2E5B::0x3A01::SN1::RAW", false, {}},
      {"GPIB0::12::INSTR", false, {}},
      {"USB0::0x2E5B::0x3A01::INSTR", false, {}},
  };
  for (const Row& row : rows) {
    UsbInstrumentAddress parsed;
    ASSERT_EQ(ParseResourceName(row.name, &parsed), row.ok) << row.name;
    if (row.ok) {
      EXPECT_TRUE(SameInstrument(parsed, row.address)) << row.name;
    }
  }
}

}  // namespace
}  // namespace fg::usbtmc

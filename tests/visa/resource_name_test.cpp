// Resource names: the forms VISA clients send, canonicalised; malformed ones refused.
#include <gtest/gtest.h>

#include "visa/resource_name.h"

namespace fg::visa {
namespace {

struct NameCase {
  const char* text;
  const char* canonical;
  ViUInt16 interfaceType;
  ViUInt16 board;
  const char* resourceClass;
};

const NameCase kNames[] = {
    {"USB0::0x2E5B::0x3A01::SN1::INSTR", "USB0::0x2E5B::0x3A01::SN1::INSTR", VI_INTF_USB, 0, "INSTR"},
    // An explicit interface 0, decimal ids, lower case, no board, no class.
    {"USB0::0x2E5B::0x3A01::SN1::0::INSTR", "USB0::0x2E5B::0x3A01::SN1::INSTR", VI_INTF_USB, 0, "INSTR"},
    {"USB0::11867::14849::SN1::INSTR", "USB0::0x2E5B::0x3A01::SN1::INSTR", VI_INTF_USB, 0, "INSTR"},
    {"usb::0x2e5b::0x3a01::SN1::instr", "USB0::0x2E5B::0x3A01::SN1::INSTR", VI_INTF_USB, 0, "INSTR"},
    {"USB::0x2E5B::0x3A01::SN1", "USB0::0x2E5B::0x3A01::SN1::INSTR", VI_INTF_USB, 0, "INSTR"},
    {"USB0::0x0957::0x0A07::X::INSTR", "USB0::0x0957::0x0A07::X::INSTR", VI_INTF_USB, 0, "INSTR"},
    {"USB0::0x57::0xA07::X::INSTR", "USB0::0x0057::0x0A07::X::INSTR", VI_INTF_USB, 0, "INSTR"},
    // Interface numbers other than 0 stay; the serial keeps its case; other boards stay.
    {"USB0::0x2E5B::0x3A01::sn1::2::INSTR", "USB0::0x2E5B::0x3A01::sn1::2::INSTR", VI_INTF_USB, 0, "INSTR"},
    {"USB3::0x2E5B::0x3A01::SN1::INSTR", "USB3::0x2E5B::0x3A01::SN1::INSTR", VI_INTF_USB, 3, "INSTR"},
    {"USB0::0x2E5B::0x3A01::SN1::RAW", "USB0::0x2E5B::0x3A01::SN1::RAW", VI_INTF_USB, 0, "RAW"},
    // Other interfaces: type, board and class.
    {"TCPIP::10.0.0.5::INSTR", "TCPIP0::10.0.0.5::INSTR", VI_INTF_TCPIP, 0, "INSTR"},
    {"TCPIP1::host::5025::SOCKET", "TCPIP1::host::5025::SOCKET", VI_INTF_TCPIP, 1, "SOCKET"},
    {"GPIB0::7", "GPIB0::7::INSTR", VI_INTF_GPIB, 0, "INSTR"},
    {"GPIB-VXI2::1::INSTR", "GPIB-VXI2::1::INSTR", VI_INTF_GPIB_VXI, 2, "INSTR"},
    {"ASRL4::INSTR", "ASRL4::INSTR", VI_INTF_ASRL, 4, "INSTR"},
};

TEST(ResourceName, ParsesAndCanonicalises) {
  for (const NameCase& c : kNames) {
    ResourceName parsed;
    ASSERT_EQ(ParseResourceName(c.text, &parsed), VI_SUCCESS) << c.text;
    EXPECT_EQ(parsed.canonical, c.canonical) << c.text;
    EXPECT_EQ(parsed.interfaceType, c.interfaceType) << c.text;
    EXPECT_EQ(parsed.board, c.board) << c.text;
    EXPECT_EQ(parsed.resourceClass, c.resourceClass) << c.text;
  }
}

TEST(ResourceName, UsbFieldsAreTakenApart) {
  ResourceName parsed;
  ASSERT_EQ(ParseResourceName("USB0::11867::0x3A10::AB-12::3::INSTR", &parsed), VI_SUCCESS);
  EXPECT_EQ(parsed.vendorId, 0x2E5B);
  EXPECT_EQ(parsed.productId, 0x3A10);
  EXPECT_EQ(parsed.serial, "AB-12");
  EXPECT_EQ(parsed.usbInterface, 3);
}

TEST(ResourceName, MalformedNamesAreRefused) {
  const std::string tooLong = "USB0::0x2E5B::0x3A01::" + std::string(250, 'S') + "::INSTR";
  for (const std::string& bad : std::initializer_list<std::string>{
           "", "USB0", "USB0::0x2E5B::0x3A01::INSTR",   // no serial
           "USB0::0x2E5B::0x3A01::::INSTR",             // empty serial
           "USB0::0x12345::0x3A01::SN::INSTR",          // id beyond 16 bits
           "USB0::65536::0x3A01::SN::INSTR", "USB0::0x::0x3A01::SN::INSTR",
           "USB0::0x2G5B::0x3A01::SN::INSTR", "USB0::0x2E5B::0x3A01::SN::256::INSTR",
           "USB0::0x2E5B::0x3A01::SN::x::INSTR", "USB0::0x2E5B::0x3A01::SN::1::2::INSTR",
           "USB0::0x2E5B::0x3A01::SN::SOCKET", "USBX::0x2E5B::0x3A01::SN::INSTR",
           "FOO0::1::INSTR", "USB0::0x2E5B::0x3A01::S\tN::INSTR", tooLong}) {
    ResourceName parsed;
    EXPECT_EQ(ParseResourceName(bad.c_str(), &parsed), VI_ERROR_INV_RSRC_NAME) << bad;
  }
  EXPECT_EQ(ParseResourceName(nullptr, nullptr), VI_ERROR_INV_RSRC_NAME);
}

}  // namespace
}  // namespace fg::visa

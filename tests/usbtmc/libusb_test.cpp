// The libusb side that runs without hardware: picking the USBTMC interface out of descriptors,
// and the provider on a machine without USB.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "visa/builtin_providers.h"
#include "visa/libusb/libusb_interface_scan.h"

namespace fg::usbtmc {
namespace {

libusb_endpoint_descriptor Endpoint(uint8_t address, uint8_t type, uint16_t maxPacket) {
  libusb_endpoint_descriptor e{};
  e.bEndpointAddress = address;
  e.bmAttributes = type;
  e.wMaxPacketSize = maxPacket;
  return e;
}

libusb_interface_descriptor Setting(uint8_t number, uint8_t alt, uint8_t cls, uint8_t sub,
                                    const std::vector<libusb_endpoint_descriptor>& endpoints) {
  libusb_interface_descriptor d{};
  d.bInterfaceNumber = number;
  d.bAlternateSetting = alt;
  d.bInterfaceClass = cls;
  d.bInterfaceSubClass = sub;
  d.bNumEndpoints = static_cast<uint8_t>(endpoints.size());
  d.endpoint = endpoints.data();
  return d;
}

TEST(UsbtmcInterfaceScanTest, FindsOnlyUsbtmcInterfacesWithBothBulkPipes) {
  const std::vector<libusb_endpoint_descriptor> full = {
      Endpoint(0x83, LIBUSB_TRANSFER_TYPE_INTERRUPT, 8),
      Endpoint(0x81, LIBUSB_TRANSFER_TYPE_BULK, 512),
      Endpoint(0x02, LIBUSB_TRANSFER_TYPE_BULK, 512)};
  const std::vector<libusb_endpoint_descriptor> inOnly = {
      Endpoint(0x84, LIBUSB_TRANSFER_TYPE_BULK, 64)};
  const std::vector<libusb_endpoint_descriptor> fullSpeed = {
      Endpoint(0x05, LIBUSB_TRANSFER_TYPE_BULK, 64), Endpoint(0x86, LIBUSB_TRANSFER_TYPE_BULK, 64)};

  // Interface 0: a vendor interface; 1: USBTMC lacking an OUT pipe; 2: USBTMC in its second
  // alternate setting; 3: USBTMC, two settings (the first counts).
  std::vector<libusb_interface_descriptor> i0 = {Setting(0, 0, 0xFF, 0x03, full)};
  std::vector<libusb_interface_descriptor> i1 = {Setting(1, 0, 0xFE, 0x03, inOnly)};
  std::vector<libusb_interface_descriptor> i2 = {Setting(2, 0, 0xFE, 0x01, full),
                                                 Setting(2, 1, 0xFE, 0x03, full)};
  i2[1].bInterfaceProtocol = 1;  // USB488
  std::vector<libusb_interface_descriptor> i3 = {Setting(3, 0, 0xFE, 0x03, fullSpeed),
                                                 Setting(3, 1, 0xFE, 0x03, full)};
  std::vector<libusb_interface> interfaces(4);
  const std::vector<libusb_interface_descriptor>* settings[] = {&i0, &i1, &i2, &i3};
  for (size_t i = 0; i < interfaces.size(); ++i) {
    interfaces[i].altsetting = settings[i]->data();
    interfaces[i].num_altsetting = static_cast<int>(settings[i]->size());
  }
  libusb_config_descriptor config{};
  config.bNumInterfaces = 4;
  config.interface = interfaces.data();

  std::vector<UsbtmcInterface> found = FindUsbtmcInterfaces(config);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].number, 2);
  EXPECT_EQ(found[0].altSetting, 1);
  EXPECT_EQ(found[0].bulkInAddress, 0x81);
  EXPECT_EQ(found[0].bulkOutAddress, 0x02);
  EXPECT_EQ(found[0].bulkInMaxPacket, 512);
  EXPECT_EQ(found[0].interruptInAddress, 0x83);
  EXPECT_EQ(found[0].protocol, 1);
  EXPECT_EQ(found[1].number, 3);
  EXPECT_EQ(found[1].altSetting, 0);
  EXPECT_EQ(found[1].bulkInAddress, 0x86);
  EXPECT_EQ(found[1].bulkOutAddress, 0x05);
  EXPECT_EQ(found[1].bulkInMaxPacket, 64);
  EXPECT_EQ(found[1].interruptInAddress, 0);
  EXPECT_EQ(found[1].protocol, 0);
}

TEST(UsbtmcProviderTest, MachineWithoutUsbSaysSoWithoutProblems) {
  struct stat info {};
  if (::stat("/dev/bus/usb", &info) == 0 || ::stat("/sys/bus/usb/devices", &info) == 0) {
    GTEST_SKIP() << "this machine has USB";
  }
  auto provider = visa::CreateUsbtmcProvider();
  EXPECT_STREQ(provider->Name(), "usbtmc");
  std::vector<std::string> names;
  provider->ListResources(&names);
  EXPECT_TRUE(names.empty());
  std::vector<visa::Diagnostic> diagnostics;
  provider->Diagnose(&diagnostics);
  EXPECT_TRUE(diagnostics.empty());
  const std::string description = provider->Describe();
  EXPECT_NE(description.find("libusb 1."), std::string::npos) << description;
  EXPECT_NE(description.find("no USB"), std::string::npos) << description;
  std::unique_ptr<visa::InstrSession> session;
  EXPECT_EQ(provider->Open("USB0::0x2E5B::0x3A01::SN1::INSTR", 1000, &session),
            visa::VI_ERROR_RSRC_NFOUND);
}

}  // namespace
}  // namespace fg::usbtmc

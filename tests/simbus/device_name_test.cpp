// The names of simulated devices: serials that could break a resource name or a file name are
// refused before anything touches the bus, and an entry name gives back the identity it was
// made from.
#include <gtest/gtest.h>

#include "tests/simbus/recording_handler.h"
#include "tests/visa/support/private_bus.h"
#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_device_name.h"

namespace fg {
namespace {

using testing::PrivateBus;
using testing::RecordingHandler;

TEST(DeviceNameTest, SerialsThatCouldBreakNamesAreRefused) {
  PrivateBus bus;
  RecordingHandler handler;
  // 227 characters: its instrument's resource name would pass 255.
  for (const std::string& serial : {std::string(), std::string("A::B"), std::string("a/b"),
                                    std::string("a\\b"), std::string("with space"),
                                    std::string("tab\t"), std::string(227, 'L')}) {
    std::string error;
    EXPECT_EQ(
        simbus::SimBusDevice::Attach(bus.path(), {0x2E5B, 0x3A01, serial, 0}, &handler, &error),
        nullptr)
        << serial;
    EXPECT_FALSE(error.empty());
  }
  simbus::SimDeviceIdentity parsed;
  EXPECT_TRUE(simbus::ParseDeviceEntryName(
      simbus::DeviceEntryName({0xABCD, 0x0102, "x-y_z.1", 17}), &parsed));
  EXPECT_EQ(parsed.vendorId, 0xABCD);
  EXPECT_EQ(parsed.productId, 0x0102);
  EXPECT_EQ(parsed.serial, "x-y_z.1");
  EXPECT_EQ(parsed.interfaceNumber, 17);
  // "usbtmc-2e5b-3a01-0-SN" and the system's suffix (".sock", or ".pipe" on Windows).
  const std::string entry = simbus::DeviceEntryName({0x2E5B, 0x3A01, "SN", 0});
  ASSERT_EQ(entry.rfind("usbtmc-2e5b-3a01-0-SN.", 0), 0u) << entry;
  const std::string suffix = entry.substr(entry.rfind('.'));
  for (const std::string& notAnEntry :
       {"usbtmc-2e5b-3a01-0-" + suffix, "usbtmc-2e5b-3a01-SN" + suffix,
        "usbtmc-2E5B-3a01-0-SN" + suffix, "notes-2e5b-3a01-0-SN" + suffix,
        std::string("usbtmc-2e5b-3a01-0-SN.txt")}) {
    EXPECT_FALSE(simbus::ParseDeviceEntryName(notAnEntry, &parsed)) << notAnEntry;
  }
}

}  // namespace
}  // namespace fg

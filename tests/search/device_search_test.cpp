// The window-free device search over scripted providers and over the simulated bus.
#include <gtest/gtest.h>

#include "link/device_search.h"
#include "tests/visa/support/env_guard.h"
#include "tests/visa/support/private_bus.h"
#include "tests/visa/support/scripted_fixture.h"

namespace fg {
namespace {

using namespace fg::visa;

ModelInfo Row(uint16_t vendor, uint16_t product) {
  ModelInfo row{};
  row.usbVendorId = vendor;
  row.usbProductId = product;
  return row;
}

TEST(EnumerationExpression, FourUpperCaseHexDigitsEach) {
  const struct {
    uint16_t vendor, product;
    const char* expression;
  } cases[] = {
      {0x2E5B, 0x3A01, "USB0::0x2E5B::0x3A01::?*::INSTR"},
      {0x2E5B, 0x3A02, "USB0::0x2E5B::0x3A02::?*::INSTR"},
      {0x0957, 0x0a07, "USB0::0x0957::0x0A07::?*::INSTR"},
      {0x0001, 0x00ab, "USB0::0x0001::0x00AB::?*::INSTR"},
      {0xFFFF, 0x0000, "USB0::0xFFFF::0x0000::?*::INSTR"},
  };
  for (const auto& c : cases) {
    ModelInfo row = Row(c.vendor, c.product);
    EXPECT_EQ(BuildEnumerationExpression(&row), c.expression);
  }
  EXPECT_EQ(BuildEnumerationExpression(FindModel("WX2040")), "USB0::0x2E5B::0x3A01::?*::INSTR");
}

class DeviceSearch : public fg::testing::ScriptedVisaTest {
 protected:
  static std::string Wx2040(const std::string& serial) {
    return "USB0::0x2E5B::0x3A01::" + serial + "::INSTR";
  }
  // A list that already holds something, so that emptying it is visible.
  void Prefill() {
    list_.ops()->AddString(list_.ops()->owner, "stale");
    list_.ops()->SetCurSel(list_.ops()->owner, 0);
  }
  SortedDeviceList list_;
  const ModelInfo* wx2040_ = FindModel("WX2040");
};

TEST_F(DeviceSearch, NoneOneTwoThreeInstruments) {
  const std::vector<std::string> serials = {"C300", "A100", "B200"};  // added out of order
  first_->AddResource("USB0::0x2E5B::0x3A02::OTHERMODEL::INSTR");
  first_->AddResource("USB0::0x1234::0x3A01::OTHERVENDOR::INSTR");
  for (size_t n = 0; n <= serials.size(); ++n) {
    if (n > 0) first_->AddResource(Wx2040(serials[n - 1]));
    Prefill();
    RefreshDeviceList(nullptr, list_.ops(), wx2040_);
    std::vector<std::string> expected;
    for (size_t i = 0; i < n; ++i) expected.push_back(Wx2040(serials[i]));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(list_.entries(), expected) << n << " instruments";
    // Exactly one is selected; with none or several the text stays empty.
    EXPECT_EQ(list_.text(), n == 1 ? expected[0] : "") << n << " instruments";
    EXPECT_EQ(EnumerateDevices(nullptr, list_.ops(), BuildEnumerationExpression(wx2040_).c_str()),
              static_cast<int32_t>(n));
  }
}

// Names as a VISA library may list an instrument's interfaces: the first one stands for it.
TEST(FirstInterfacesOnly, OneNamePerInstrument) {
  const std::vector<std::string> names = {
      "USB0::0x2E5B::0x3A01::A1::INSTR",       // interface 0
      "USB0::0x2E5B::0x3A01::A1::1::INSTR",    // its second interface
      "USB0::0x2E5B::0x3A01::B2::2::INSTR",    // B2's USBTMC interfaces are 2 and 1,
      "USB0::0x2E5B::0x3A01::B2::1::INSTR",    // listed in that order
      "usb0::11867::14849::A1::3::instr",      // A1 again, in decimal and lower case
      "USB1::0x2E5B::0x3A01::A1::1::INSTR",    // the same ids on another board: another one
      "USB0::0x2E5B::0x3A02::A1::1::INSTR",    // another product with the same serial
      "USB0::0x2E5B::0x3A01::a1::INSTR",       // serials compare exactly
      "GPIB0::12::INSTR",                      // not a USB name: kept
      "GPIB0::12::INSTR",
  };
  const std::vector<std::string> expected = {
      "USB0::0x2E5B::0x3A01::A1::INSTR",    "USB0::0x2E5B::0x3A01::B2::1::INSTR",
      "USB1::0x2E5B::0x3A01::A1::1::INSTR", "USB0::0x2E5B::0x3A02::A1::1::INSTR",
      "USB0::0x2E5B::0x3A01::a1::INSTR",    "GPIB0::12::INSTR",
      "GPIB0::12::INSTR",
  };
  EXPECT_EQ(FirstInterfacesOnly(names), expected);
  EXPECT_TRUE(FirstInterfacesOnly({}).empty());
}

TEST_F(DeviceSearch, AnInstrumentWithTwoInterfacesIsFoundOnce) {
  first_->AddResource(Wx2040("A100"));
  first_->AddResource("USB0::0x2E5B::0x3A01::A100::1::INSTR");
  first_->AddResource(Wx2040("B200"));
  RefreshDeviceList(nullptr, list_.ops(), wx2040_);
  EXPECT_EQ(list_.entries(), (std::vector<std::string>{Wx2040("A100"), Wx2040("B200")}));
  first_->AddResource("USB0::0x2E5B::0x3A01::C300::1::INSTR");  // its first USBTMC interface
  EXPECT_EQ(EnumerateDevices(nullptr, list_.ops(), BuildEnumerationExpression(wx2040_).c_str()), 3);
  std::vector<std::string> raw;
  EXPECT_EQ(FindResourceNames(BuildEnumerationExpression(wx2040_).c_str(), &raw), 4);
}

// A front end's own search (the window runs VISA off its thread) is what EnumerateDevices uses.
TEST_F(DeviceSearch, TheEnvsSearchIsUsed) {
  struct Calls {
    std::vector<std::string> expressions;
  } calls;
  const ResourceSearch search{&calls, [](void* owner, const char* expression,
                                         std::vector<std::string>* names) {
                                static_cast<Calls*>(owner)->expressions.push_back(expression);
                                return FindResourceNames(expression, names);
                              }};
  first_->AddResource(Wx2040("A100"));
  RunEnv env{};
  env.search = &search;
  RefreshDeviceList(&env, list_.ops(), wx2040_);
  EXPECT_EQ(calls.expressions, std::vector<std::string>{BuildEnumerationExpression(wx2040_)});
  EXPECT_EQ(list_.text(), Wx2040("A100"));
}

TEST_F(DeviceSearch, FailedResourceManagerGivesAnEmptyList) {
  first_->AddResource(Wx2040("A100"));
  for (ViStatus status : {VI_ERROR_SYSTEM_ERROR, VI_WARN_CONFIG_NLOADED}) {
    SetLayerFaultsForTesting({status, -1, 0});
    Prefill();
    EXPECT_EQ(EnumerateDevices(nullptr, list_.ops(), BuildEnumerationExpression(wx2040_).c_str()), 0);
    EXPECT_TRUE(list_.entries().empty());
    EXPECT_EQ(list_.text(), "");
    EXPECT_EQ(OpenHandleCountForTesting(), 0u);  // a warned session is closed, not leaked
  }
}

TEST_F(DeviceSearch, FindNextFailingAfterTheFirstOfThree) {
  for (const char* s : {"A100", "B200", "C300"}) first_->AddResource(Wx2040(s));
  SetLayerFaultsForTesting({0, 1, VI_ERROR_SYSTEM_ERROR});
  EXPECT_EQ(EnumerateDevices(nullptr, list_.ops(), BuildEnumerationExpression(wx2040_).c_str()), 1);
  EXPECT_EQ(list_.entries(), std::vector<std::string>{Wx2040("A100")});
  // In a refresh that one name counts as exactly one found, and is selected.
  RefreshDeviceList(nullptr, list_.ops(), wx2040_);
  EXPECT_EQ(list_.text(), Wx2040("A100"));
}

TEST_F(DeviceSearch, NoModelLeavesTheListAsItWas) {
  first_->AddResource(Wx2040("A100"));
  Prefill();
  RefreshDeviceList(nullptr, list_.ops(), nullptr);
  EXPECT_EQ(list_.entries(), std::vector<std::string>{"stale"});
  EXPECT_EQ(list_.text(), "stale");
  EXPECT_TRUE(first_->Events().empty());
}

TEST_F(DeviceSearch, LongNamesAreKeptWhole) {
  // 255 characters: the longest name that VISA's 256-byte find buffers hold.
  std::string longName = Wx2040(std::string(255 - Wx2040("").size(), 'S'));
  ASSERT_EQ(longName.size(), 255u);
  first_->AddResource(longName);
  first_->AddResource(Wx2040("SHORT"));
  EXPECT_EQ(EnumerateDevices(nullptr, list_.ops(), BuildEnumerationExpression(wx2040_).c_str()), 2);
  EXPECT_EQ(list_.entries(), (std::vector<std::string>{Wx2040("SHORT"), longName}));
  char text[kResourceNameCapacity];
  list_.ops()->SetCurSel(list_.ops()->owner, 1);
  list_.ops()->GetText(list_.ops()->owner, text, sizeof text);
  EXPECT_EQ(std::string(text), longName);
  char small[8];
  list_.ops()->GetText(list_.ops()->owner, small, sizeof small);
  EXPECT_STREQ(small, "USB0::0");
}

TEST_F(DeviceSearch, SortedListOrdersWithoutRegardToCase) {
  for (const char* name : {"b", "C", "a", "B"}) list_.ops()->AddString(list_.ops()->owner, name);
  EXPECT_EQ(list_.entries(), (std::vector<std::string>{"a", "B", "b", "C"}));
  EXPECT_EQ(list_.ops()->GetCount(list_.ops()->owner), 4);
  list_.ops()->SetCurSel(list_.ops()->owner, 7);
  EXPECT_EQ(list_.text(), "");
}

TEST(DeviceSearchOverSimBus, FindsTheSimulatedInstrumentsOfTheModel) {
  fg::testing::PrivateBus bus;
  ASSERT_FALSE(bus.path().empty());
  fg::testing::EnvGuard env{{"FLINTGATE_VISA_PROVIDERS", "simbus"}};
  auto answer = [](const std::string&) { return std::string(); };
  std::string error;
  auto b = fg::testing::EchoInstrument::Attach(bus, 0x3A01, "SIMB", answer, &error);
  auto a = fg::testing::EchoInstrument::Attach(bus, 0x3A01, "SIMA", answer, &error);
  auto other = fg::testing::EchoInstrument::Attach(bus, 0x3A02, "SIMC", answer, &error);
  ASSERT_TRUE(a && b && other) << error;

  SortedDeviceList list;
  RefreshDeviceList(nullptr, list.ops(), FindModel("WX2040"));
  EXPECT_EQ(list.entries(), (std::vector<std::string>{"USB0::0x2E5B::0x3A01::SIMA::INSTR",
                                                      "USB0::0x2E5B::0x3A01::SIMB::INSTR"}));
  EXPECT_EQ(list.text(), "");
  RefreshDeviceList(nullptr, list.ops(), FindModel("WX2050"));
  EXPECT_EQ(list.entries(), std::vector<std::string>{"USB0::0x2E5B::0x3A02::SIMC::INSTR"});
  EXPECT_EQ(list.text(), "USB0::0x2E5B::0x3A02::SIMC::INSTR");
  RefreshDeviceList(nullptr, list.ops(), FindModel("SB7300"));
  EXPECT_TRUE(list.entries().empty());
}

}  // namespace
}  // namespace fg

// The window-free device search over scripted providers and over the simulated bus.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "link/device_search.h"
#include "link/identify_resource.h"
#include "link/instrument_search.h"
#include "platform/private_folder.h"
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

// A private folder for the instrument locks of one test, removed with it.
class LockFolder {
 public:
  LockFolder() { platform::CreatePrivateTempFolder("fg-search-locks-", &path_); }
  ~LockFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

class DeviceSearch : public fg::testing::ScriptedVisaTest {
 protected:
  void SetUp() override {
    ScriptedVisaTest::SetUp();
    env_.search = &search_;
    env_.lockFolder = locks_.path();
  }
  static std::string Wx2040(const std::string& serial) {
    return "USB0::0x2E5B::0x3A01::" + serial + "::INSTR";
  }
  // The scripted instruments have nothing to say; every 0x3A01 one answers as a normal WX2040.
  static int32_t AnswerAsWx2040(void*, const char* resource, InstrumentIdentity* out) {
    const std::string reply = std::string("VANDRELL,WX2040,") + resource + ",1.00\n";
    ParseIdentityReply(reply.data(), reply.size(), out);
    return 0;
  }
  static int32_t Find(void*, const char* expression, std::vector<std::string>* names) {
    return FindResourceNames(expression, names);
  }
  LockFolder locks_;
  const ResourceSearch search_{nullptr, Find, AnswerAsWx2040};
  RunEnv env_{};
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
    RefreshDeviceList(&env_, list_.ops(), wx2040_);
    std::vector<std::string> expected;
    for (size_t i = 0; i < n; ++i) expected.push_back(Wx2040(serials[i]));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(list_.entries(), expected) << n << " instruments";
    // Exactly one is selected; with none or several the text stays empty.
    EXPECT_EQ(list_.text(), n == 1 ? expected[0] : "") << n << " instruments";
    EXPECT_EQ(EnumerateDevices(&env_, list_.ops(), wx2040_),
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
  RefreshDeviceList(&env_, list_.ops(), wx2040_);
  EXPECT_EQ(list_.entries(), (std::vector<std::string>{Wx2040("A100"), Wx2040("B200")}));
  first_->AddResource("USB0::0x2E5B::0x3A01::C300::1::INSTR");  // its first USBTMC interface
  EXPECT_EQ(EnumerateDevices(&env_, list_.ops(), wx2040_), 3);
  std::vector<std::string> raw;
  EXPECT_EQ(FindResourceNames(BuildEnumerationExpression(wx2040_).c_str(), &raw), 4);
}

// A front end's own search (the window runs VISA off its thread) is what EnumerateDevices uses.
TEST_F(DeviceSearch, TheEnvsSearchIsUsed) {
  struct Calls {
    std::vector<std::string> expressions;
  } calls;
  const ResourceSearch search{&calls,
                              [](void* owner, const char* expression,
                                 std::vector<std::string>* names) {
                                static_cast<Calls*>(owner)->expressions.push_back(expression);
                                return FindResourceNames(expression, names);
                              },
                              AnswerAsWx2040};
  first_->AddResource(Wx2040("A100"));
  RunEnv env = env_;
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
    EXPECT_EQ(EnumerateDevices(&env_, list_.ops(), wx2040_), 0);
    EXPECT_TRUE(list_.entries().empty());
    EXPECT_EQ(list_.text(), "");
    EXPECT_EQ(OpenHandleCountForTesting(), 0u);  // a warned session is closed, not leaked
  }
}

TEST_F(DeviceSearch, FindNextFailingAfterTheFirstOfThree) {
  for (const char* s : {"A100", "B200", "C300"}) first_->AddResource(Wx2040(s));
  SetLayerFaultsForTesting({0, 1, VI_ERROR_SYSTEM_ERROR});
  EXPECT_EQ(EnumerateDevices(&env_, list_.ops(), wx2040_), 1);
  EXPECT_EQ(list_.entries(), std::vector<std::string>{Wx2040("A100")});
  // In a refresh that one name counts as exactly one found, and is selected.
  RefreshDeviceList(&env_, list_.ops(), wx2040_);
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
  EXPECT_EQ(EnumerateDevices(&env_, list_.ops(), wx2040_), 2);
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

// What each instrument is, told from its ids and, under 0x3A01, from its reply: a scripted
// search and scripted replies, one instrument per kind.
class LabelledSearch : public ::testing::Test {
 protected:
  struct Scripted {
    std::map<std::string, std::vector<std::string>> names;  // by expression
    std::map<std::string, std::string> replies;             // by resource; none: no answer
    std::vector<std::string> expressions, asked;
    std::vector<std::string> heldWhileAsked;  // the lock text of each instrument as it was asked
    std::string lockFolder;
  };
  static int32_t Find(void* owner, const char* expression, std::vector<std::string>* names) {
    auto* s = static_cast<Scripted*>(owner);
    s->expressions.push_back(expression);
    *names = s->names[expression];
    return static_cast<int32_t>(names->size());
  }
  static int32_t Identify(void* owner, const char* resource, InstrumentIdentity* out) {
    auto* s = static_cast<Scripted*>(owner);
    s->asked.push_back(resource);
    std::string text, problem;
    platform::ProbeLock(s->lockFolder, "instrument-USB-SERIAL-" + Serial(resource) + ".lock",
                        &text, &problem);
    s->heldWhileAsked.push_back(text);
    auto it = s->replies.find(resource);
    if (it == s->replies.end()) return kIdentifyNoReply;
    ParseIdentityReply(it->second.data(), it->second.size(), out);
    return 0;
  }
  static std::string Serial(const std::string& resource) {
    const size_t end = resource.rfind("::INSTR");
    const size_t start = resource.rfind("::", end - 1) + 2;
    return resource.substr(start, end - start);
  }
  static std::string At(const char* product, const std::string& serial) {
    return std::string("USB0::0x2E5B::") + product + "::" + serial + "::INSTR";
  }

  void SetUp() override {
    scripted_.lockFolder = locks_.path();
    env_.search = &search_;
    env_.lockFolder = locks_.path();
    const std::string writers = "USB0::0x2E5B::0x3A01::?*::INSTR";
    scripted_.names[writers] = {At("0x3A01", "N2040"), At("0x3A01", "W2050"),
                                At("0x3A01", "W2040"), At("0x3A01", "WNONE"),
                                At("0x3A01", "MUTE"),  At("0x3A01", "HELD")};
    scripted_.names["USB0::0x2E5B::0x3A02::?*::INSTR"] = {At("0x3A02", "N2050")};
    scripted_.replies = {{At("0x3A01", "N2040"), "VANDRELL,WX2040,N2040,1.00-01-01-01-01-0100\n"},
                         {At("0x3A01", "W2050"), "WRITER,WX2050,W2050,1.10-01-02\n"},
                         {At("0x3A01", "W2040"), "WRITER,wx2040,W2040,1.00-01-01-01-01-0100\n"},
                         {At("0x3A01", "WNONE"), "WRITER\n"},
                         {At("0x3A01", "HELD"), "VANDRELL,WX2040,HELD,1.00\n"}};
  }

  LockFolder locks_;
  Scripted scripted_;
  const ResourceSearch search_{&scripted_, Find, Identify};
  RunEnv env_{};
};

TEST_F(LabelledSearch, LabelsEveryInstrumentAndOffersOnlyWhatFitsTheModel) {
  // An update of HELD with a WX2050 file runs in this process.
  ScopedInstrumentLock held;
  LockHolder holder{};
  std::string problem;
  ASSERT_EQ(LockInstrument(&env_, InstrumentKeyOfResource(At("0x3A01", "HELD").c_str()), "WX2050",
                           LockPurpose::kUpdate, held.get(), &holder, &problem),
            kInstrumentLocked)
      << problem;

  const struct {
    std::string resource;
    InstrumentMode mode;
    std::string model;
    bool for2040, for2050;
    std::string label;
  } expected[] = {
      {At("0x3A01", "N2040"), InstrumentMode::kNormal, "WX2040", true, false, ""},
      {At("0x3A01", "W2050"), InstrumentMode::kWriter, "WX2050", false, true,
       "writer mode, WX2050"},
      {At("0x3A01", "W2040"), InstrumentMode::kWriter, "wx2040", true, false,
       "writer mode, wx2040"},
      {At("0x3A01", "WNONE"), InstrumentMode::kWriter, "", true, true,
       "writer mode, model unknown"},
      {At("0x3A01", "MUTE"), InstrumentMode::kNoAnswer, "", true, false, "no answer"},
      {At("0x3A01", "HELD"), InstrumentMode::kBusy, "WX2050", false, true,
       "busy: " + platform::CurrentProgramName() + " (process " +
           std::to_string(platform::CurrentProcessId()) + ")"},
      {At("0x3A02", "N2050"), InstrumentMode::kNormal, "WX2050", false, true, ""},
  };
  const std::vector<FoundInstrument> found = SearchInstruments(&env_, nullptr);
  ASSERT_EQ(found.size(), std::size(expected));
  for (size_t i = 0; i < found.size(); ++i) {
    SCOPED_TRACE(expected[i].resource);
    EXPECT_EQ(found[i].resource, expected[i].resource);
    EXPECT_EQ(found[i].mode, expected[i].mode);
    EXPECT_STREQ(found[i].model, expected[i].model.c_str());
    EXPECT_EQ(OfferedFor(found[i], FindModel("WX2040")), expected[i].for2040);
    EXPECT_EQ(OfferedFor(found[i], FindModel("WX2050")), expected[i].for2050);
    EXPECT_FALSE(OfferedFor(found[i], FindModel("SB7300")));
    EXPECT_EQ(InstrumentLabel(found[i]), expected[i].label);
  }
  // Only 0x3A01 instruments are asked, none that an update holds, each while the search holds
  // its lock for itself.
  EXPECT_EQ(scripted_.asked, (std::vector<std::string>{At("0x3A01", "N2040"), At("0x3A01", "W2050"),
                                                       At("0x3A01", "W2040"), At("0x3A01", "WNONE"),
                                                       At("0x3A01", "MUTE")}));
  for (const std::string& text : scripted_.heldWhileAsked) {
    EXPECT_NE(text.find("purpose=search"), std::string::npos) << text;
  }

  // The device list of each model holds what is offered, with the records beside it.
  SortedDeviceList list;
  EXPECT_EQ(EnumerateDevices(&env_, list.ops(), FindModel("WX2050")), 4);
  EXPECT_EQ(list.entries(),
            (std::vector<std::string>{At("0x3A01", "HELD"), At("0x3A01", "W2050"),
                                      At("0x3A01", "WNONE"), At("0x3A02", "N2050")}));
  ASSERT_NE(list.InfoOf(At("0x3A01", "W2050")), nullptr);
  EXPECT_EQ(list.InfoOf(At("0x3A01", "W2050"))->mode, InstrumentMode::kWriter);
  EXPECT_EQ(scripted_.expressions.back(), "USB0::0x2E5B::0x3A01::?*::INSTR");
  RefreshDeviceList(&env_, list.ops(), FindModel("WX2040"));
  EXPECT_EQ(list.entries(),
            (std::vector<std::string>{At("0x3A01", "MUTE"), At("0x3A01", "N2040"),
                                      At("0x3A01", "W2040"), At("0x3A01", "WNONE")}));
  EXPECT_EQ(list.InfoOf(At("0x3A01", "W2050")), nullptr) << "emptied with the list";

  // Once the update is over, HELD is asked like any other.
  UnlockInstrument(held.get());
  scripted_.asked.clear();
  const std::vector<FoundInstrument> after = SearchInstruments(&env_, FindModel("WX2040"));
  EXPECT_EQ(scripted_.asked.back(), At("0x3A01", "HELD"));
  EXPECT_EQ(after.back().mode, InstrumentMode::kNormal);
}

// Over the simulated bus, as the front ends search: the 0x3A01 instruments are asked who they
// are, and a WX2050 in writer mode is found for WX2050 files only.
TEST(DeviceSearchOverSimBus, FindsTheSimulatedInstrumentsOfTheModel) {
  fg::testing::PrivateBus bus;
  ASSERT_FALSE(bus.path().empty());
  fg::testing::EnvGuard env{{"FLINTGATE_VISA_PROVIDERS", "simbus"}};
  auto identity = [](const std::string& reply) {
    return [reply](const std::string& message) {
      return message.rfind("*IDN?", 0) == 0 ? reply : std::string();
    };
  };
  std::string error;
  auto b = fg::testing::EchoInstrument::Attach(bus, 0x3A01, "SIMB",
                                               identity("WRITER,WX2050,SIMB,1.10-01-02\n"), &error);
  auto a = fg::testing::EchoInstrument::Attach(bus, 0x3A01, "SIMA",
                                               identity("VANDRELL,WX2040,SIMA,1.00\n"), &error);
  auto other = fg::testing::EchoInstrument::Attach(bus, 0x3A02, "SIMC", identity(""), &error);
  ASSERT_TRUE(a && b && other) << error;

  SortedDeviceList list;
  RefreshDeviceList(nullptr, list.ops(), FindModel("WX2040"));
  EXPECT_EQ(list.entries(), std::vector<std::string>{"USB0::0x2E5B::0x3A01::SIMA::INSTR"});
  EXPECT_EQ(list.text(), "USB0::0x2E5B::0x3A01::SIMA::INSTR");
  RefreshDeviceList(nullptr, list.ops(), FindModel("WX2050"));
  EXPECT_EQ(list.entries(), (std::vector<std::string>{"USB0::0x2E5B::0x3A01::SIMB::INSTR",
                                                      "USB0::0x2E5B::0x3A02::SIMC::INSTR"}));
  EXPECT_EQ(list.text(), "");
  ASSERT_NE(list.InfoOf("USB0::0x2E5B::0x3A01::SIMB::INSTR"), nullptr);
  EXPECT_EQ(InstrumentLabel(*list.InfoOf("USB0::0x2E5B::0x3A01::SIMB::INSTR")),
            "writer mode, WX2050");
  EXPECT_EQ(other->Received(), "") << "its product id says what it is";
  RefreshDeviceList(nullptr, list.ops(), FindModel("SB7300"));
  EXPECT_TRUE(list.entries().empty());
}

}  // namespace
}  // namespace fg

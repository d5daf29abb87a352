// Choosing the providers from the environment, and the layer's own injected faults.
#include <gtest/gtest.h>

#include "tests/visa/support/env_guard.h"
#include "tests/visa/support/scripted_fixture.h"

namespace fg::visa {
namespace {

using fg::testing::EnvGuard;

std::vector<std::string> ProviderNames() {
  std::vector<std::string> names;
  for (const auto& p : ActiveProviders()) names.push_back(p->Name());
  return names;
}

TEST(ProviderRegistry, EnvironmentRestrictsTheProviders) {
  {
    EnvGuard env{{"FLINTGATE_VISA_PROVIDERS", "simbus"}};
    EXPECT_EQ(ProviderNames(), std::vector<std::string>{"simbus"});
    EXPECT_NE(VendorSearchSummary().find("not searched"), std::string::npos);
    EXPECT_TRUE(RegistryNotes().empty());
  }
  {
    // An empty list names no provider. (Windows' C runtime cannot hold an empty variable: setting
    // one removes it, so a list of one blank stands for it there.)
#ifdef _WIN32
    EnvGuard env{{"FLINTGATE_VISA_PROVIDERS", " "}};
#else
    EnvGuard env{{"FLINTGATE_VISA_PROVIDERS", ""}};
#endif
    EXPECT_TRUE(ProviderNames().empty());
    ViSession rm = VI_NULL;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);  // a resource manager with nothing behind it
    char desc[VI_FIND_BUFLEN];
    EXPECT_EQ(viFindRsrc(rm, "?*", nullptr, nullptr, desc), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(viClose(rm), VI_SUCCESS);
  }
  {
    EnvGuard env{{"FLINTGATE_VISA_PROVIDERS", " simbus , gpib"}};
    EXPECT_EQ(ProviderNames(), std::vector<std::string>{"simbus"});
    std::vector<Diagnostic> notes = RegistryNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].problem.find("\"gpib\""), std::string::npos);
    EXPECT_FALSE(notes[0].advice.empty());
  }
}

TEST(ProviderRegistry, SessionsKeepTheirProvidersAcrossAReplacement) {
  auto old = std::make_shared<ScriptedProvider>("old");
  old->AddResource("USB0::0x2E5B::0x3A01::A::INSTR");
  old->QueueReply("USB0::0x2E5B::0x3A01::A::INSTR", "still here");
  InstallProvidersForTesting({old});
  ViSession rm = VI_NULL, vi = VI_NULL;
  ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
  ASSERT_EQ(viOpen(rm, "USB0::0x2E5B::0x3A01::A::INSTR", VI_NULL, 1000, &vi), VI_SUCCESS);
  InstallProvidersForTesting({});
  old.reset();  // the registry and this test let go; the session still holds it
  char reply[16];
  ViUInt32 n = 0;
  EXPECT_EQ(viRead(vi, reinterpret_cast<ViPBuf>(reply), sizeof reply, &n), VI_SUCCESS);
  EXPECT_EQ(std::string(reply, n), "still here");
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
  ResetProvidersForTesting();
}

class InjectedFaults : public fg::testing::ScriptedVisaTest {};

TEST_F(InjectedFaults, ResourceManagerFailuresAndWarnings) {
  SetLayerFaultsForTesting({VI_ERROR_SYSTEM_ERROR, -1, 0});
  ViSession rm = 0x77;
  EXPECT_EQ(viOpenDefaultRM(&rm), VI_ERROR_SYSTEM_ERROR);
  EXPECT_EQ(rm, VI_NULL);
  // A warning comes with an open session that must still be closed.
  SetLayerFaultsForTesting({VI_WARN_CONFIG_NLOADED, -1, 0});
  EXPECT_EQ(viOpenDefaultRM(&rm), VI_WARN_CONFIG_NLOADED);
  EXPECT_NE(rm, VI_NULL);
  EXPECT_EQ(OpenHandleCountForTesting(), 1u);
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

TEST_F(InjectedFaults, FindNextFailsAfterTheChosenNumberOfNames) {
  for (const char* serial : {"A", "B", "C"}) {
    first_->AddResource(std::string("USB0::0x2E5B::0x3A01::") + serial + "::INSTR");
  }
  SetLayerFaultsForTesting({0, 2, VI_ERROR_SYSTEM_ERROR});
  ViSession rm = OpenRm();
  ViFindList list = VI_NULL;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(viFindRsrc(rm, "?*", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(viFindNext(list, desc), VI_SUCCESS);
  EXPECT_EQ(viFindNext(list, desc), VI_ERROR_SYSTEM_ERROR);
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
}

}  // namespace
}  // namespace fg::visa

// The vendor-library provider: our own libflintgate-visa.so loaded through it and reaching a
// simulated instrument, another library's resources as it reports them, an incomplete library
// skipped with a diagnostic, and no interposition between two VISA libraries in one process.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "link/device_link.h"
#include "tests/visa/support/env_guard.h"
#include "tests/visa/support/private_bus.h"
#include "visa/builtin_providers.h"
#include "visa/provider_registry.h"
#include "visa/vendor/vendor_provider.h"
#include "visa/visa.h"

namespace fg::visa {
namespace {

using fg::testing::EnvGuard;

using OpenDefaultRmFn = ViStatus (*)(ViPSession);
using ParseRsrcFn = ViStatus (*)(ViSession, ViConstRsrc, ViPUInt16, ViPUInt16);
using CloseFn = ViStatus (*)(ViObject);

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(VendorLoader, OurSharedLibraryReachesASimulatedInstrument) {
  fg::testing::PrivateBus bus;
  ASSERT_FALSE(bus.path().empty());
  EnvGuard env{{"FLINTGATE_VISA_PROVIDERS", "simbus"}};  // what the library itself uses
  std::string error;
  auto instrument = fg::testing::EchoInstrument::Attach(
      bus, 0x3A01, "VEND1",
      [](const std::string& m) { return m == "*IDN?\n" ? "VANDRELL,WX2040,VEND1,1.00\n" : ""; },
      &error);
  ASSERT_NE(instrument, nullptr) << error;

  std::vector<Diagnostic> skipped;
  std::shared_ptr<Provider> vendor = LoadVendorLibrary(FG_VISA_SHARED_LIBRARY, &skipped);
  ASSERT_NE(vendor, nullptr);
  EXPECT_TRUE(skipped.empty());
  EXPECT_STREQ(vendor->Name(), "vendor");
  std::string description = vendor->Describe();
  EXPECT_TRUE(Contains(description, FG_VISA_SHARED_LIBRARY)) << description;
  EXPECT_TRUE(Contains(description, "by Flintgate, version 2.4.0")) << description;
  std::vector<std::string> names;
  vendor->ListResources(&names);
  EXPECT_EQ(names, std::vector<std::string>{instrument->name()});

  // The whole road: the instrument link over our VISA functions over the vendor provider over
  // the shared library's own VISA functions over the simulated bus.
  InstallProvidersForTesting({vendor});
  ViSession rm = VI_NULL, session = VI_NULL;
  ASSERT_EQ(VisaOpenSessions(&rm, &session, "USB0::0x2E5B::0x3A01::VEND1::0::INSTR"), 1);
  std::string query = "*IDN?\n";
  uint32_t count = static_cast<uint32_t>(query.size());
  ASSERT_EQ(VisaWriteSession(session, reinterpret_cast<const uint8_t*>(query.data()), &count), 1);
  // The status byte and the trigger pass through the library to the bus device: its own bits,
  // and MAV while the reply waits.
  ViUInt16 stb = 0;
  ASSERT_EQ(viReadSTB(session, &stb), VI_SUCCESS);
  EXPECT_EQ(stb, 0x11);
  EXPECT_EQ(viAssertTrigger(session, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
  uint8_t reply[65];
  count = 64;
  ASSERT_EQ(VisaReadSession(session, reply, &count), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(reply), "VANDRELL,WX2040,VEND1,1.00\n");
  EXPECT_EQ(instrument->Received(), "*IDN?\n");
  ASSERT_EQ(viReadSTB(session, &stb), VI_SUCCESS);
  EXPECT_EQ(stb, 0x01);
  EXPECT_EQ(instrument->Triggers(), 1);
  VisaCloseSessions(&rm, &session);
  EXPECT_EQ(OpenHandleCountForTesting(), 0u);
}

TEST(VendorLoader, OtherLibraryResourcesAreListedAsItReportsThem) {
  std::vector<Diagnostic> skipped;
  std::shared_ptr<Provider> vendor = LoadVendorLibrary(FG_OTHER_VISA_LIBRARY, &skipped);
  ASSERT_NE(vendor, nullptr);
  EXPECT_TRUE(Contains(vendor->Describe(), "by Other VISA, version 1.2.0")) << vendor->Describe();
  std::vector<std::string> names;
  vendor->ListResources(&names);
  EXPECT_EQ(names, std::vector<std::string>{"USB0::0x1234::0x5678::OTHER1::0::INSTR"});

  InstallProvidersForTesting({vendor});
  ViSession rm = VI_NULL, vi = VI_NULL;
  ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
  ASSERT_EQ(viOpen(rm, names[0].c_str(), VI_NULL, 1000, &vi), VI_SUCCESS);
  ViUInt32 n = 0;
  ASSERT_EQ(viWrite(vi, reinterpret_cast<ViConstBuf>("Q"), 1, &n), VI_SUCCESS);
  uint8_t reply[4];
  EXPECT_EQ(viRead(vi, reply, sizeof reply, &n), VI_SUCCESS_MAX_CNT);  // the library's own status
  ViUInt16 stb = 0;
  EXPECT_EQ(viReadSTB(vi, &stb), VI_ERROR_NSUP_OPER);  // the library has no viReadSTB
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), n), "OTHE");
  EXPECT_EQ(viClose(rm), VI_SUCCESS);
  ResetProvidersForTesting();
}

TEST(VendorLoader, UnusableLibrariesAreSkippedWithADiagnostic) {
  std::vector<Diagnostic> skipped;
  EXPECT_EQ(LoadVendorLibrary(FG_INCOMPLETE_VISA_LIBRARY, &skipped), nullptr);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0].provider, "vendor");
  EXPECT_TRUE(Contains(skipped[0].problem, FG_INCOMPLETE_VISA_LIBRARY));
  EXPECT_TRUE(Contains(skipped[0].problem, "lacks viFindRsrc, viFindNext, viOpen,")) << skipped[0].problem;
  EXPECT_FALSE(Contains(skipped[0].problem, "viOpenDefaultRM"));
  EXPECT_FALSE(skipped[0].advice.empty());

  skipped.clear();
  EXPECT_EQ(LoadVendorLibrary("/nonexistent/libvisa.so", &skipped), nullptr);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_TRUE(Contains(skipped[0].problem, "does not exist"));

  skipped.clear();  // a file that is no library at all
  EXPECT_EQ(LoadVendorLibrary(FG_SOURCE_DIR "/tests/visa/libs/other_visa.c", &skipped), nullptr);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_TRUE(Contains(skipped[0].problem, "cannot be loaded"));

  skipped.clear();  // a bare name the loader does not know: simply not installed
  EXPECT_EQ(LoadVendorLibrary("libflintgate-no-such-visa.so", &skipped), nullptr);
  EXPECT_TRUE(skipped.empty());

  // Named through the environment, the skipped library becomes a note of the registry.
  EnvGuard env{{"FLINTGATE_VISA_PROVIDERS", "vendor"},
               {"FLINTGATE_VISA_LIBRARY", FG_INCOMPLETE_VISA_LIBRARY}};
  EXPECT_TRUE(ActiveProviders().empty());
  std::vector<Diagnostic> notes = RegistryNotes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_TRUE(Contains(notes[0].problem, "lacks"));
}

TEST(VendorLoader, TwoVisaLibrariesDoNotInterpose) {
  // The other library goes into the global scope first, the worst case for us.
  void* other = dlopen(FG_OTHER_VISA_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(other, nullptr) << dlerror();
  void* ours = dlopen(FG_VISA_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(ours, nullptr) << dlerror();

  auto ourOpen = reinterpret_cast<OpenDefaultRmFn>(dlsym(ours, "viOpenDefaultRM"));
  auto ourParse = reinterpret_cast<ParseRsrcFn>(dlsym(ours, "viParseRsrc"));
  auto ourClose = reinterpret_cast<CloseFn>(dlsym(ours, "viClose"));
  auto otherParse = reinterpret_cast<ParseRsrcFn>(dlsym(other, "viParseRsrc"));
  ASSERT_TRUE(ourOpen && ourParse && ourClose && otherParse);
  EXPECT_NE(reinterpret_cast<void*>(ourParse), reinterpret_cast<void*>(otherParse));

  // Our viParseRsrc calls viParseRsrcEx by its exported name: it must reach our own.
  ViSession rm = VI_NULL;
  ASSERT_EQ(ourOpen(&rm), VI_SUCCESS);
  ViUInt16 type = 0, board = 9;
  ASSERT_EQ(ourParse(rm, "USB0::0x2E5B::0x3A01::SN::INSTR", &type, &board), VI_SUCCESS);
  EXPECT_EQ(type, VI_INTF_USB);
  EXPECT_EQ(board, 0);
  EXPECT_EQ(ourClose(rm), VI_SUCCESS);

  // The other library's internal call reaches its own, not ours.
  type = 0;
  ASSERT_EQ(otherParse(0x100, "USB0::1::2::3", &type, &board), VI_SUCCESS);
  EXPECT_EQ(type, 0x4242);

  // Loading through our loader puts nothing of ours into the global scope.
  void* global = dlopen(nullptr, RTLD_NOW);
  EXPECT_EQ(dlsym(global, "viStatusDesc"), nullptr);  // only ours exports it
  dlclose(global);
  // Both stay loaded, as the vendor loader keeps every library it used: unloading ours would
  // orphan its resource manager tables.
}

// The names a binary exports from its dynamic symbol table, read with nm.
std::set<std::string> ExportedNames(const std::string& path) {
  std::set<std::string> names;
  std::string command = "nm -D --defined-only '" + path + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    size_t space = text.rfind(' ');
    names.insert(space == std::string::npos ? text : text.substr(space + 1));
  }
  pclose(pipe);
  return names;
}

bool IsVisaName(const std::string& name) {
  return name.size() > 2 && name[0] == 'v' && name[1] == 'i' && name[2] >= 'A' && name[2] <= 'Z';
}

TEST(VendorLoader, OnlyTheSharedLibraryExportsVisaNames) {
  std::set<std::string> exported = ExportedNames(FG_VISA_SHARED_LIBRARY);
  ASSERT_FALSE(exported.empty()) << "nm found nothing in " << FG_VISA_SHARED_LIBRARY;
  const std::set<std::string> expected{
      "viOpenDefaultRM", "viFindRsrc",   "viFindNext", "viParseRsrc",    "viParseRsrcEx",
      "viOpen",          "viClose",      "viSetAttribute", "viGetAttribute", "viStatusDesc",
      "viSetBuf",        "viRead",       "viWrite",    "viClear",        "viDisableEvent",
      "viDiscardEvents", "viFlush",      "viReadSTB",  "viAssertTrigger", "viLock",
      "viUnlock",        "viEnableEvent", "viWaitOnEvent"};
  std::set<std::string> functions;
  for (const std::string& n : exported) {
    if (n.find('@') == std::string::npos && !n.empty() && n[0] != '_') functions.insert(n);
  }
  EXPECT_EQ(functions, expected);

  // This test program too (its path resolved here: in nm, /proc/self would be nm itself).
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  for (const std::string& binary : {std::string(FG_CLI_PATH), std::string(FG_SIM_PATH), self}) {
    std::set<std::string> names = ExportedNames(binary);
    ASSERT_FALSE(names.empty()) << "nm found nothing in " << binary;  // not a vacuous pass
    for (const std::string& name : names) {
      EXPECT_FALSE(IsVisaName(name)) << binary << " exports " << name;
    }
  }
}

}  // namespace
}  // namespace fg::visa

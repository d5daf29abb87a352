// flintgate-cli list and doctor, run as a user runs them, against a private simulated bus (and,
// where named, a small vendor library) so that no real USB device or VISA library is touched.
#include <gtest/gtest.h>
#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include "platform/user_only_access_win32.h"
#else
#include <sys/stat.h>
#endif

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/visa/support/env_guard.h"
#include "tests/visa/support/private_bus.h"
#include "tests/visa/support/run_program.h"

namespace fg {
namespace {

using fg::testing::ProgramRun;

// What the CLI's environment names: the bus folder, the providers and a vendor library.
struct CliEnvironment {
  std::string bus;
  std::string providers = "simbus";
  std::string library;  // none when empty
};

// Runs the CLI with the arguments (separated by blanks) in that environment; stderr is kept only
// when asked for, so that --json output parses.
ProgramRun RunCli(const CliEnvironment& environment, const std::string& arguments,
                  bool withStderr) {
  fg::testing::EnvGuard env{
      {"FLINTGATE_SIMBUS", environment.bus.c_str()},
      {"FLINTGATE_VISA_PROVIDERS", environment.providers.c_str()},
      {"FLINTGATE_VISA_LIBRARY",
       environment.library.empty() ? nullptr : environment.library.c_str()}};
  std::vector<std::string> argv{FG_CLI_PATH};
  std::istringstream words(arguments);
  for (std::string word; words >> word;) argv.push_back(word);
  return fg::testing::RunProgram(argv, withStderr);
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A library as the system names it once loaded (a full path with the system's separators).
std::string LibraryPath(const char* built) {
  return std::filesystem::absolute(built).make_preferred().string();
}

// A bus folder that others may enter, for the doctor to complain about. On POSIX the private bus
// itself, opened up until RestoreBusFolder; on Windows a folder inside it whose access list
// admits everybody to read.
std::string FolderOthersMayEnter(const std::string& bus) {
#ifdef _WIN32
  const std::string open = bus + "\\open";
  std::string user;
  platform::CurrentUserSid(&user);
  const std::string sddl = "D:P(A;OICI;FA;;;" + user + ")(A;OICI;FR;;;WD)";
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                           &descriptor, nullptr)) {
    attributes.lpSecurityDescriptor = descriptor;
    CreateDirectoryA(open.c_str(), &attributes);
    LocalFree(descriptor);
  }
  return open;
#else
  chmod(bus.c_str(), 0755);
  return bus;
#endif
}
void RestoreBusFolder(const std::string& bus) {
#ifndef _WIN32
  chmod(bus.c_str(), 0700);
#else
  (void)bus;
#endif
}

class CliSearch : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(bus_.path().empty()); }
  CliEnvironment Env(const std::string& providers = "simbus", const std::string& library = "") {
    return CliEnvironment{bus_.path(), providers, library};
  }
  // An instrument in its normal firmware: "*IDN?" is answered with the model of its id, or with
  // `reply` when one is given.
  std::unique_ptr<fg::testing::EchoInstrument> Attach(uint16_t product, const std::string& serial,
                                                      std::string reply = "") {
    const std::string model = product == 0x3A01 ? "WX2040" : product == 0x3A02 ? "WX2050" : "X";
    if (reply.empty()) reply = "VANDRELL," + model + "," + serial + ",1.00\n";
    std::string error;
    auto instrument = fg::testing::EchoInstrument::Attach(
        bus_, product, serial,
        [reply](const std::string& m) { return m.rfind("*IDN?", 0) == 0 ? reply : std::string(); },
        &error);
    EXPECT_NE(instrument, nullptr) << error;
    return instrument;
  }

  fg::testing::PrivateBus bus_;
};

TEST_F(CliSearch, ListWithoutInstrumentsSaysSoPlainly) {
  ProgramRun run = RunCli(Env(), "list", true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "No instruments found for any catalogue model.")) << run.output;
  run = RunCli(Env(), "list --json", false);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(nlohmann::json::parse(run.output), nlohmann::json::parse(R"({"instruments": []})"));
}

TEST_F(CliSearch, ListNamesModelResourceAndProvider) {
  auto wx2040 = Attach(0x3A01, "L2040");
  auto wx2050 = Attach(0x3A02, "L2050");
  auto foreign = Attach(0x7777, "L7777");  // no catalogue row has these ids

  ProgramRun run = RunCli(Env(), "list --json", false);
  ASSERT_EQ(run.exitCode, 0);
  nlohmann::json expected = nlohmann::json::parse(R"({"instruments": [
      {"model": "WX2040", "mode": "normal", "resource": "USB0::0x2E5B::0x3A01::L2040::INSTR",
       "provider": "simbus"},
      {"model": "WX2050", "mode": "normal", "resource": "USB0::0x2E5B::0x3A02::L2050::INSTR",
       "provider": "simbus"}]})");
  EXPECT_EQ(nlohmann::json::parse(run.output), expected);

  run = RunCli(Env(), "list --model WX2050", true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "WX2050   normal    simbus   USB0::0x2E5B::0x3A02::L2050::INSTR"))
      << run.output;
  EXPECT_FALSE(Has(run.output, "L2040"));

  run = RunCli(Env(), "list --model SB7300", true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "No instruments found for SB7300.")) << run.output;

  run = RunCli(Env(), "list --model WX9999", true);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(Has(run.output, "unknown model \"WX9999\"")) << run.output;
}

TEST_F(CliSearch, ListAllAddsEveryOtherUsbInstrument) {
  auto wx2040 = Attach(0x3A01, "A2040");
  ProgramRun run =
      RunCli(Env("simbus,vendor", LibraryPath(FG_OTHER_VISA_LIBRARY)), "list --all --json", false);
  ASSERT_EQ(run.exitCode, 0);
  nlohmann::json expected = nlohmann::json::parse(R"({"instruments": [
      {"model": "WX2040", "mode": "normal", "resource": "USB0::0x2E5B::0x3A01::A2040::INSTR",
       "provider": "simbus"},
      {"model": null, "mode": null, "resource": "USB0::0x1234::0x5678::OTHER1::0::INSTR",
       "provider": "vendor"}]})");
  EXPECT_EQ(nlohmann::json::parse(run.output), expected);
}

// An instrument with a second USBTMC interface is one instrument of its model; the second
// interface shows under --all only, with no model.
TEST_F(CliSearch, SecondInterfaceIsListedUnderAllOnly) {
  struct Silent : simbus::SimDeviceHandler {
    bool OnSessionOpened() override { return true; }
    void OnSessionClosed() override {}
    void OnMessageOut(const uint8_t*, size_t, bool) override {}
  } handler;
  auto first = Attach(0x3A01, "TWO");
  std::string error;
  auto second = simbus::SimBusDevice::Attach(bus_.path(), {0x2E5B, 0x3A01, "TWO", 1}, &handler,
                                             &error);
  ASSERT_NE(second, nullptr) << error;

  ProgramRun run = RunCli(Env(), "list --json", false);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(nlohmann::json::parse(run.output), nlohmann::json::parse(R"({"instruments": [
      {"model": "WX2040", "mode": "normal", "resource": "USB0::0x2E5B::0x3A01::TWO::INSTR",
       "provider": "simbus"}]})"));
  run = RunCli(Env(), "list --all --json", false);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(nlohmann::json::parse(run.output), nlohmann::json::parse(R"({"instruments": [
      {"model": "WX2040", "mode": "normal", "resource": "USB0::0x2E5B::0x3A01::TWO::INSTR",
       "provider": "simbus"},
      {"model": null, "mode": null, "resource": "USB0::0x2E5B::0x3A01::TWO::1::INSTR",
       "provider": "simbus"}]})"));
  second->Detach();
}

TEST_F(CliSearch, DoctorReportsProvidersInstrumentsAndProblems) {
  auto wx2040 = Attach(0x3A01, "D2040");
  ProgramRun run = RunCli(Env(), "doctor", true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "simbus   bus folder " + bus_.path())) << run.output;
  EXPECT_TRUE(Has(run.output, "simbus   USB0::0x2E5B::0x3A01::D2040::INSTR  WX2040")) << run.output;
  EXPECT_TRUE(Has(run.output, "Problems: none found")) << run.output;
  EXPECT_FALSE(Has(run.output, "What to check next")) << run.output;

  // A library lacking functions, and a bus folder others may enter: each a problem with advice.
  const std::string incomplete = LibraryPath(FG_INCOMPLETE_VISA_LIBRARY);
  CliEnvironment unsafe = Env("simbus,vendor", incomplete);
  unsafe.bus = FolderOthersMayEnter(bus_.path());
  run = RunCli(unsafe, "doctor", true);
  RestoreBusFolder(bus_.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "[vendor] " + incomplete + " lacks")) << run.output;
  EXPECT_TRUE(Has(run.output, "[simbus] ")) << run.output;
  EXPECT_TRUE(Has(run.output, "What to do: ")) << run.output;
  EXPECT_TRUE(Has(run.output, "Instruments: none found")) << run.output;  // the folder is ignored

  // The vendor library that loads is described by its path, maker and version.
  run = RunCli(Env("vendor", LibraryPath(FG_OTHER_VISA_LIBRARY)), "doctor", true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "by Other VISA, version 1.2.0")) << run.output;
}

// With nothing found, doctor says so as a problem and what to check next: the providers (none
// here), the vendor VISA and, on Linux, the udev rule and this user's access.
TEST_F(CliSearch, DoctorWithoutAnyProviderSaysWhatToCheckNext) {
  // A lone comma names no provider; an empty value would do on Linux only, as Windows drops
  // empty variables.
  ProgramRun run = RunCli(Env(","), "doctor", true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(Has(run.output, "Problems: none found")) << run.output;
  EXPECT_TRUE(Has(run.output, "Problems: 1 found\n  [search] No instrument of a catalogue model "
                              "was found.")) << run.output;
  EXPECT_TRUE(Has(run.output, "What to check next:\n  Providers: No provider searched: simbus,"))
      << run.output;
  EXPECT_TRUE(Has(run.output, "  Vendor VISA: not searched")) << run.output;
#ifdef _WIN32
  EXPECT_FALSE(Has(run.output, "udev rule")) << run.output;
  EXPECT_FALSE(Has(run.output, "USB access")) << run.output;
#else
  EXPECT_TRUE(Has(run.output, "  udev rule: ")) << run.output;
  EXPECT_TRUE(Has(run.output, "60-flintgate.rules")) << run.output;
  EXPECT_TRUE(Has(run.output, "  USB access: you are ")) << run.output;
#endif
}

TEST_F(CliSearch, DoctorNamesAnEmptySimulatedBus) {
  ProgramRun run = RunCli(Env(), "doctor", true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "Problems: 1 found")) << run.output;
  EXPECT_TRUE(Has(run.output, "  Providers: simbus searched and found nothing;")) << run.output;
  EXPECT_TRUE(Has(run.output, "  Simulated bus: FLINTGATE_SIMBUS=" + bus_.path() + " holds no"))
      << run.output;
}

// An instrument left in writer mode is a problem, counted in the summary, with the command that
// recovers it; an instrument was found, so there is nothing else to check.
TEST_F(CliSearch, DoctorCountsAWriterModeInstrumentAsAProblem) {
  auto writer = Attach(0x3A01, "W2050", "WRITER,WX2050,W2050,1.10-01-02\n");
  auto healthy = Attach(0x3A02, "H2050");
  ProgramRun run = RunCli(Env(), "doctor", true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(
      Has(run.output, "simbus   USB0::0x2E5B::0x3A01::W2050::INSTR  WX2050, in writer mode"))
      << run.output;
  EXPECT_TRUE(Has(run.output, "Problems: 1 found\n  [simbus] USB0::0x2E5B::0x3A01::W2050::INSTR "
                              "is in writer mode (WX2050)"))
      << run.output;
  EXPECT_TRUE(Has(run.output, "What to do: flintgate-cli update FILE --device "
                              "USB0::0x2E5B::0x3A01::W2050::INSTR, FILE being"))
      << run.output;
  EXPECT_FALSE(Has(run.output, "What to check next")) << run.output;
}

}  // namespace
}  // namespace fg

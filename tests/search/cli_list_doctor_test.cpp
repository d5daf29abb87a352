// flintgate-cli list and doctor, run as a user runs them, against a private simulated bus (and,
// where named, a small vendor library) so that no real USB device or VISA library is touched.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/visa/support/private_bus.h"

namespace fg {
namespace {

struct CliRun {
  int exitCode = -1;
  std::string output;
};

// Runs the CLI with the given environment entries ("NAME=value") set; stderr is kept only when
// asked for, so that --json output parses.
CliRun RunCli(const std::vector<std::string>& environment,
              const std::vector<std::string>& arguments, bool withStderr) {
  testing::ChildOptions options;
  options.args = {FG_CLI_PATH};
  options.args.insert(options.args.end(), arguments.begin(), arguments.end());
  options.env = environment;
  options.err = withStderr ? testing::ChildOutput::kToStdout : testing::ChildOutput::kDiscard;
  const testing::ChildRun run = testing::RunChild(options, 60000);
  return {run.status.Code(), run.out};
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class CliSearch : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(bus_.path().empty()); }
  std::vector<std::string> Env(const std::string& providers = "simbus",
                               const std::string& library = "") {
    std::vector<std::string> env = {"FLINTGATE_SIMBUS=" + bus_.path(),
                                    "FLINTGATE_VISA_PROVIDERS=" + providers};
    if (!library.empty()) env.push_back("FLINTGATE_VISA_LIBRARY=" + library);
    return env;
  }
  // An instrument in its normal firmware: "*IDN?" is answered with the model of its id.
  std::unique_ptr<fg::testing::EchoInstrument> Attach(uint16_t product, const std::string& serial) {
    const std::string model = product == 0x3A01 ? "WX2040" : product == 0x3A02 ? "WX2050" : "X";
    const std::string reply = "VANDRELL," + model + "," + serial + ",1.00\n";
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
  CliRun run = RunCli(Env(), {"list"}, true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "No instruments found for any catalogue model.")) << run.output;
  run = RunCli(Env(), {"list", "--json"}, false);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(nlohmann::json::parse(run.output), nlohmann::json::parse(R"({"instruments": []})"));
}

TEST_F(CliSearch, ListNamesModelResourceAndProvider) {
  auto wx2040 = Attach(0x3A01, "L2040");
  auto wx2050 = Attach(0x3A02, "L2050");
  auto foreign = Attach(0x7777, "L7777");  // no catalogue row has these ids

  CliRun run = RunCli(Env(), {"list", "--json"}, false);
  ASSERT_EQ(run.exitCode, 0);
  nlohmann::json expected = nlohmann::json::parse(R"({"instruments": [
      {"model": "WX2040", "mode": "normal", "resource": "USB0::0x2E5B::0x3A01::L2040::INSTR",
       "provider": "simbus"},
      {"model": "WX2050", "mode": "normal", "resource": "USB0::0x2E5B::0x3A02::L2050::INSTR",
       "provider": "simbus"}]})");
  EXPECT_EQ(nlohmann::json::parse(run.output), expected);

  run = RunCli(Env(), {"list", "--model", "WX2050"}, true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "WX2050   normal    simbus   USB0::0x2E5B::0x3A02::L2050::INSTR"))
      << run.output;
  EXPECT_FALSE(Has(run.output, "L2040"));

  run = RunCli(Env(), {"list", "--model", "SB7300"}, true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "No instruments found for SB7300.")) << run.output;

  run = RunCli(Env(), {"list", "--model", "WX9999"}, true);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(Has(run.output, "unknown model \"WX9999\"")) << run.output;
}

TEST_F(CliSearch, ListAllAddsEveryOtherUsbInstrument) {
  auto wx2040 = Attach(0x3A01, "A2040");
  CliRun run =
      RunCli(Env("simbus,vendor", FG_OTHER_VISA_LIBRARY), {"list", "--all", "--json"}, false);
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

  CliRun run = RunCli(Env(), {"list", "--json"}, false);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(nlohmann::json::parse(run.output), nlohmann::json::parse(R"({"instruments": [
      {"model": "WX2040", "mode": "normal", "resource": "USB0::0x2E5B::0x3A01::TWO::INSTR",
       "provider": "simbus"}]})"));
  run = RunCli(Env(), {"list", "--all", "--json"}, false);
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
  CliRun run = RunCli(Env(), {"doctor"}, true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "simbus   bus folder " + bus_.path())) << run.output;
  EXPECT_TRUE(Has(run.output, "simbus   USB0::0x2E5B::0x3A01::D2040::INSTR  WX2040")) << run.output;
  EXPECT_TRUE(Has(run.output, "Problems: none found")) << run.output;

  // A library lacking functions, and a bus folder others may enter: each a problem with advice.
  ASSERT_EQ(chmod(bus_.path().c_str(), 0755), 0);
  run = RunCli(Env("simbus,vendor", FG_INCOMPLETE_VISA_LIBRARY), {"doctor"}, true);
  chmod(bus_.path().c_str(), 0700);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "[vendor] " FG_INCOMPLETE_VISA_LIBRARY " lacks")) << run.output;
  EXPECT_TRUE(Has(run.output, "[simbus] ")) << run.output;
  EXPECT_TRUE(Has(run.output, "What to do: ")) << run.output;
  EXPECT_TRUE(Has(run.output, "Instruments: none found")) << run.output;  // the folder is ignored

  // The vendor library that loads is described by its path, maker and version.
  run = RunCli(Env("vendor", FG_OTHER_VISA_LIBRARY), {"doctor"}, true);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Has(run.output, "by Other VISA, version 1.2.0")) << run.output;
}

}  // namespace
}  // namespace fg

// Failures of the instrument during an update: the run ends with the driver's error, and the
// flash holds the images programmed before the failure and nothing after it.
#include "e2e_harness.h"

namespace fg::e2e {
namespace {

struct FaultCase {
  const char* name;
  const char* model;
  const char* serial;
  std::vector<std::string> fault;
  const char* number;
  std::vector<std::pair<int32_t, std::string>> programmed;  // block id, partition
  const char* failing;  // the partition whose programming failed part-way, or null
  int32_t failingBlock;  // its block id
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class InstrumentFault : public E2eTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(InstrumentFault, StopsAtTheFailingImage) {
  const FaultCase& c = GetParam();
  StartSim({c.model}, c.fault);
  const fs::path fw = MakeFirmware(c.model, "fw.fq");
  const ProcessResult r = Update(fw, {"--yes"});
  EXPECT_EQ(r.status, 1) << r.err;
  std::vector<std::string> log = DriverErrorLog(fw, c.number);
  if (c.fault == std::vector<std::string>{"--fault", "never-return"})  // named above "Updating"
    log.insert(log.begin() + 2, "The instrument did not come back in writer mode.");
  EXPECT_EQ(Lines(r.out), log);

  const auto records = RecordsOf(fw);
  std::map<std::string, std::string> expected;
  for (const auto& [block, partition] : c.programmed) expected[partition] = records.at(block);
  if (c.failing == nullptr) {
    ExpectFlash(c.serial, expected);
    return;
  }
  // The failing partition may have been erased part-way; it never holds the image.
  ExpectFlash(c.serial, expected, c.failing);
  EXPECT_NE(Partition(c.serial, c.failing), records.at(c.failingBlock));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, InstrumentFault,
    ::testing::Values(
        FaultCase{"WrongChecksumOnSecondImage", "WX2040", "SIM2040A", {"--fault", "wrong-checksum@2"},
                  "0x10008", {{3, "1C3"}}, nullptr, 0},
        FaultCase{"ProgramNgOnThirdImage", "WX2040", "SIM2040A", {"--fault", "final:program-ng@3"},
                  "0x10008", {{3, "1C3"}, {4, "1C6DDS"}}, "1C6POUT", 6},
        FaultCase{"NoReplyToTheFirstChecksum", "WX2040", "SIM2040A",
                  {"--fault", "no-reply:CmdChecksum@1"}, "0x10008", {}, nullptr, 0},
        FaultCase{"Wx2050RtnNgOnXp2", "WX2050", "SIM2050A", {"--fault", "final:rtn-ng@2"},
                  "0x10008", {{4, "MAIN"}}, "XP2", 254},
        FaultCase{"NoWriterAfterTheSwitch", "WX2040", "SIM2040A", {"--fault", "never-return"},
                  "0x10004", {}, nullptr, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fg::e2e

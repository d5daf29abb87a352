// Failures of the instrument during an update: the run ends with the driver's error, the log
// names the step, the partition and the instrument's answer and what the instrument now holds,
// and the flash holds the images programmed before the failure and nothing after it.
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
  std::vector<std::string> lines;  // what failed, then what the instrument holds and what to do
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class InstrumentFault : public E2eTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(InstrumentFault, StopsAtTheFailingImage) {
  const FaultCase& c = GetParam();
  StartSim({c.model}, c.fault);
  const fs::path fw = MakeFirmware(c.model, "fw.fq");
  const ProcessResult r = Update(fw, {"--yes"});
  EXPECT_EQ(r.status, 1) << r.err;
  std::vector<std::string> log = DriverErrorLog(fw, c.number, c.lines);
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
                  "0x10008", {{3, "1C3"}}, nullptr, 0,
                  {"1C6DDS, checksum: the instrument's checksum \"609406567\" differs from the "
                   "image's (programmer error 0x0107)",
                   "The instrument stays in writer mode: 1C3 has its new image; 1C6DDS, 1C6POUT, "
                   "MAIN, HTTP and OEM keep their old images. The image changed on its way to the "
                   "instrument: check the USB cable, then run the same update again."}},
        FaultCase{"ProgramNgOnThirdImage", "WX2040", "SIM2040A", {"--fault", "final:program-ng@3"},
                  "0x10008", {{3, "1C3"}, {4, "1C6DDS"}}, "1C6POUT", 6,
                  {"1C6POUT, erasing and programming: the instrument answered \"Program NG\" "
                   "(programmer error 0x010A)",
                   "The instrument stays in writer mode: 1C3 and 1C6DDS have their new images; "
                   "1C6POUT may be incomplete; MAIN, HTTP and OEM keep their old images. Run the "
                   "same update again; if 1C6POUT fails again, the instrument's flash may be "
                   "faulty: contact service with the error number."}},
        FaultCase{"NoReplyToTheFirstChecksum", "WX2040", "SIM2040A",
                  {"--fault", "no-reply:CmdChecksum@1"}, "0x10008", {}, nullptr, 0,
                  {"1C3, checksum: the instrument did not answer within the 10 s timeout "
                   "(programmer error 0x0002)",
                   "The instrument stays in writer mode: 1C3, 1C6DDS, 1C6POUT, MAIN, HTTP and OEM "
                   "keep their old images. Check that the instrument is on and its USB cable is "
                   "in, then run the same update again; it finds the instrument in writer mode."}},
        FaultCase{"Wx2050RtnNgOnXp2", "WX2050", "SIM2050A", {"--fault", "final:rtn-ng@2"},
                  "0x10008", {{4, "MAIN"}}, "XP2", 254,
                  {"XP2, erasing and programming: the instrument answered \"RtnNg\" (programmer "
                   "error 0x020B)",
                   "The instrument stays in writer mode: MAIN has its new image; XP2 may be "
                   "incomplete; OEM keeps its old image. Run the same update again; if XP2 fails "
                   "again, the instrument's flash may be faulty: contact service with the error "
                   "number."}},
        FaultCase{"NoWriterAfterTheSwitch", "WX2040", "SIM2040A", {"--fault", "never-return"},
                  "0x10004", {}, nullptr, 0,
                  {"Switch to writer mode: no writer answered before the wait ran out "
                   "(programmer error 0x0001)",
                   "Nothing was written: the instrument may still be restarting into its writer "
                   "firmware. Wait until flintgate-cli list shows it in writer mode, then run the "
                   "same update again; if it never shows, switch it off and on."}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fg::e2e

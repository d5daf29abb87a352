// The device library on a private simulated bus, reached through the real host side: our VISA
// functions, the VISA link slots and the flash programmer, exactly as an update reaches it.
#include <gtest/gtest.h>

#include <cstring>

#include "link/device_link.h"
#include "programmer/command_frame.h"
#include "programmer/partition_ops.h"
#include "programmer/programmer_errors.h"
#include "programmer/programmer_family.h"
#include "programmer/programmer_ops.h"
#include "sim/firmware_maker.h"
#include "sim/sim_instrument.h"
#include "tests/sim/engine_harness.h"
#include "tests/visa/support/private_bus.h"
#include "visa/visa.h"

namespace fg::sim {
namespace {

using namespace fg::visa;

// Waits that only a broken instrument would run into.
constexpr uint32_t kGenerousMs = 20000;

// The owner of the VISA link slots, as a driver's context is.
struct LinkOwner {
  ViSession rmSession = VI_NULL;
  ViSession session = VI_NULL;
  std::vector<uint32_t> progress;
};

int32_t RecordProgress(void* owner, uint32_t percent) {
  static_cast<LinkOwner*>(owner)->progress.push_back(percent);
  return 0;
}

class SimOverVisa : public ::testing::Test {
 protected:
  void TearDown() override {
    if (link_ != nullptr) FreeDeviceLink(link_);
    if (rm_ != VI_NULL) viClose(rm_);
    instrument_.reset();
  }

  SimInstrument* StartInstrument(const SimFamily& family, FaultPlan faults, const char* serial) {
    InstrumentSetup setup;
    setup.family = &family;
    setup.serial = serial;
    setup.timing = FastTiming();
    setup.faults = std::move(faults);
    std::string error;
    instrument_ = SimInstrument::Start(setup, FlashStore(family), bus_.path(), &error);
    EXPECT_NE(instrument_, nullptr) << error;
    return instrument_.get();
  }

  DeviceLink* Link() {
    link_ = CreateDeviceLink(VisaOpen<LinkOwner>, VisaWrite<LinkOwner>, VisaRead<LinkOwner>,
                             VisaClose<LinkOwner>, RecordProgress, &owner_);
    return link_;
  }

  // A raw session for exchanges the programmer does not make.
  ViSession Open(const std::string& name, ViStatus expected = VI_SUCCESS) {
    if (rm_ == VI_NULL) {
      EXPECT_EQ(viOpenDefaultRM(&rm_), VI_SUCCESS);
    }
    ViSession session = VI_NULL;
    EXPECT_EQ(viOpen(rm_, name.c_str(), VI_NULL, 2000, &session), expected) << name;
    viSetAttribute(session, VI_ATTR_TMO_VALUE, kGenerousMs);
    return session;
  }
  static ViStatus Write(ViSession session, const std::vector<uint8_t>& bytes) {
    ViUInt32 written = 0;
    return viWrite(session, bytes.data(), static_cast<ViUInt32>(bytes.size()), &written);
  }
  static ViStatus WriteText(ViSession session, const std::string& text) {
    return Write(session, std::vector<uint8_t>(text.begin(), text.end()));
  }
  static std::string Read(ViSession session, ViStatus* status, uint32_t count = kReplyBufferSize) {
    std::string buffer(count, '\0');
    ViUInt32 received = 0;
    *status = viRead(session, reinterpret_cast<ViBuf>(buffer.data()), count, &received);
    buffer.resize(received);
    return buffer;
  }
  std::string Ask(ViSession session, const std::string& text) {
    EXPECT_EQ(WriteText(session, text), VI_SUCCESS);
    ViStatus status = VI_SUCCESS;
    std::string reply = Read(session, &status);
    EXPECT_EQ(status, VI_SUCCESS);
    return reply;
  }
  static bool Found(const std::string& expression) {
    ViSession rm = VI_NULL;
    viOpenDefaultRM(&rm);
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    ViChar first[VI_FIND_BUFLEN] = {};
    const ViStatus status = viFindRsrc(rm, expression.c_str(), &list, &count, first);
    viClose(rm);
    return status == VI_SUCCESS && count == 1;
  }

  std::vector<uint8_t> Record(const SimFamily& family, uint32_t row, uint32_t length) {
    FirmwarePlan plan = DefaultFirmwarePlan(family);
    ImagePlan image{row, false, length, "0300", family.partitions[row].firstBlock};
    std::vector<uint8_t> record;
    std::string error;
    EXPECT_TRUE(BuildImageRecord(plan, image, &record, &error)) << error;
    return record;
  }

  fg::testing::PrivateBus bus_;
  std::unique_ptr<SimInstrument> instrument_;
  LinkOwner owner_;
  DeviceLink* link_ = nullptr;
  ViSession rm_ = VI_NULL;
};

TEST_F(SimOverVisa, IdentifiesAndRestartsIntoTheWriterUnderItsNewProductId) {
  SimInstrument* sim = StartInstrument(kWx2050SimFamily, {}, "VISA2050");
  ASSERT_NE(sim, nullptr);
  ASSERT_TRUE(Found("USB0::0x2E5B::0x3A02::VISA2050::INSTR"));
  ViSession session = Open("USB0::0x2E5B::0x3A02::VISA2050::INSTR");
  EXPECT_EQ(Ask(session, "*IDN?\n"), "VANDRELL,WX2050,VISA2050,1.10-01-01\n");
  EXPECT_EQ(WriteText(session, "DISP:TEXT \"hello\"\n"), VI_SUCCESS);
  EXPECT_EQ(WriteText(session, "SYST:UPDATE WX2050\n"), VI_SUCCESS);
  ASSERT_TRUE(sim->WaitOnBus(FirmwareMode::kWriter, kGenerousMs));
  // The old session went with the normal firmware.
  ViStatus status = VI_SUCCESS;
  WriteText(session, "*IDN?\n");
  Read(session, &status);
  EXPECT_NE(status, VI_SUCCESS);
  viClose(session);

  EXPECT_FALSE(Found("USB0::0x2E5B::0x3A02::?*::INSTR"));
  ASSERT_TRUE(Found("USB0::0x2E5B::0x3A01::VISA2050::INSTR"));
  EXPECT_EQ(sim->ResourceName(), "USB0::0x2E5B::0x3A01::VISA2050::INSTR");
  session = Open("USB0::0x2E5B::0x3A01::VISA2050::INSTR");
  EXPECT_EQ(Ask(session, "*IDN?\n"), "WRITER,WX2050,VISA2050,1.10-01-01\n");
  viClose(session);

  sim->PowerCycle();
  ASSERT_TRUE(sim->WaitOnBus(FirmwareMode::kNormal, kGenerousMs));
  EXPECT_TRUE(Found("USB0::0x2E5B::0x3A02::VISA2050::INSTR"));
}

TEST_F(SimOverVisa, TheProgrammersConnectFindsTheWriter) {
  // The host's own writer-mode entry: identity, update command, its fixed wait, the reopen on
  // the rebuilt writer name (a WX2050 changes its product id).
  SimInstrument* sim = StartInstrument(kWx2050SimFamily, {}, "CONN2050");
  ASSERT_NE(sim, nullptr);
  DeviceLink* link = Link();
  ASSERT_EQ(kWx2050ProgrammerOps.Connect(link, "USB0::0x2E5B::0x3A02::CONN2050::INSTR"), 0);
  char idn[257] = {};
  ReplyText reply{idn, 256};
  ASSERT_EQ(kWx2050ProgrammerOps.Query(link, QueryIdentity, &reply), 0);
  EXPECT_STREQ(idn, "WRITER,WX2050,CONN2050,1.10-01-01\n");
  EXPECT_EQ(sim->Mode(), FirmwareMode::kWriter);
  kWx2050ProgrammerOps.Close(link);
}

TEST_F(SimOverVisa, TheProgrammerWritesAndErasesPartitions) {
  FaultPlan writer;
  writer.startInWriter = true;
  SimInstrument* sim = StartInstrument(kWx2040SimFamily, writer, "PROG2040");
  ASSERT_NE(sim, nullptr);
  DeviceLink* link = Link();
  ASSERT_EQ(link->open(link->owner, "USB0::0x2E5B::0x3A01::PROG2040::INSTR"), 1);

  struct Case {
    uint32_t row;
    uint32_t length;
  };
  for (const Case& c : {Case{16, 7794}, Case{0, 5000}, Case{6, 0x100000}}) {
    SCOPED_TRACE(c.row);
    const std::vector<uint8_t> record = Record(kWx2040SimFamily, c.row, c.length);
    owner_.progress.clear();
    ASSERT_EQ(programmer::ProgramPartition(kWx2040ProgrammerFamily, link, static_cast<int32_t>(c.row),
                                           record.data(), c.length),
              0);
    const size_t skipped = kWx2040SimFamily.partitions[c.row].firstBlock == 0 ? 8 : 0;
    EXPECT_EQ(sim->PartitionContent(c.row),
              std::vector<uint8_t>(record.begin() + skipped, record.end()));
    // The instrument sent exactly the replies the host divides by: the last progress reply
    // brings the counter to 99 (fewer would leave it short, more would pass it), then "OK"
    // holds it there and the end sets 100.
    const std::vector<uint32_t>& p = owner_.progress;
    ASSERT_GE(p.size(), 4u);
    EXPECT_LT(p[p.size() - 4], 99u);
    EXPECT_EQ(p[p.size() - 3], 99u);
    EXPECT_EQ(p[p.size() - 2], 99u);
    EXPECT_EQ(p.back(), 100u);
  }
  EXPECT_EQ(programmer::ErasePartition(kWx2040ProgrammerFamily, link, 6), 0);
  EXPECT_TRUE(sim->PartitionContent(6).empty());
  EXPECT_EQ(sim->VersionRun(), "0300-01-01-01-01-0100");  // erasing MAIN keeps its version
  link->close(link->owner);
}

TEST_F(SimOverVisa, EveryFaultReachesTheProgrammerAsItsErrorNumber) {
  struct Case {
    const char* fault;
    int32_t result;
    bool onBus;
  };
  const Case cases[] = {
      {"reply:CmdReset=NG", 0x201, true},
      {"reply:CmdData=NG", 0x202, true},
      {"reply:CmdDataEnd=NG", 0x203, true},
      {"reply:CmdBlockId=NG", 0x204, true},
      {"reply:CmdSetupEnd=NG", 0x205, true},
      {"reply:CmdSize=NG", 0x206, true},
      {"wrong-checksum", 0x207, true},
      {"final:latest", 0x208, true},
      {"final:erase-ng", 0x209, true},
      {"final:program-ng", 0x20A, true},
      {"final:rtn-ng", 0x20B, true},
      {"long-reply:CmdReset", 0x202, true},  // the rest of the long reply is read as the next
      {"unplug:CmdChecksum", kProgLinkFailed, false},
      {"unplug-after:3000", kProgLinkFailed, false},
  };
  const std::vector<uint8_t> record = Record(kWx2050SimFamily, 19, 4096);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    FaultPlan faults;
    faults.startInWriter = true;
    std::string error;
    ASSERT_TRUE(ParseFaultSpec(c.fault, &faults, &error)) << error;
    SimInstrument* sim = StartInstrument(kWx2050SimFamily, faults, "FAULT2050");
    ASSERT_NE(sim, nullptr);
    DeviceLink* link = Link();
    ASSERT_EQ(link->open(link->owner, "USB0::0x2E5B::0x3A01::FAULT2050::INSTR"), 1);
    int32_t result = programmer::ProgramPartition(kWx2050ProgrammerFamily, link, 19, record.data(),
                                                  static_cast<uint32_t>(record.size()));
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(sim->WaitOffBus(c.onBus ? 0 : kGenerousMs), !c.onBus);
    EXPECT_TRUE(sim->PartitionContent(19).empty());
    link->close(link->owner);
    FreeDeviceLink(link);
    link_ = nullptr;
    instrument_.reset();
  }
}

TEST_F(SimOverVisa, SilenceLongRepliesRefusalsAndMalformedFrames) {
  FaultPlan faults;
  faults.startInWriter = true;
  faults.singleSession = true;
  std::string error;
  ASSERT_TRUE(ParseFaultSpec("no-reply:CmdDataEnd", &faults, &error));
  ASSERT_TRUE(ParseFaultSpec("long-reply:idn", &faults, &error));
  SimInstrument* sim = StartInstrument(kWx2040SimFamily, faults, "RAW2040");
  ASSERT_NE(sim, nullptr);
  const std::string name = "USB0::0x2E5B::0x3A01::RAW2040::INSTR";
  ViSession session = Open(name);
  Open(name, VI_ERROR_RSRC_BUSY);  // a second session while one is open

  ViStatus status = VI_SUCCESS;
  ASSERT_EQ(WriteText(session, "*IDN?\n"), VI_SUCCESS);
  const std::string head = Read(session, &status);
  EXPECT_EQ(status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(head.size(), kReplyBufferSize);
  const std::string tail = Read(session, &status);
  EXPECT_EQ(status, VI_SUCCESS);
  EXPECT_EQ(head.size() + tail.size(), kLongReplySize);

  // A frame of 13 bytes, then a proper reset.
  const std::vector<uint8_t> frame = testing::FrameBytes(CmdReset, 0, kResetFrameParameters);
  std::vector<uint8_t> longer = frame;
  longer.push_back(0);
  ASSERT_EQ(Write(session, longer), VI_SUCCESS);
  EXPECT_EQ(Read(session, &status), "NG\n");
  ASSERT_EQ(Write(session, frame), VI_SUCCESS);
  EXPECT_EQ(Read(session, &status), "OK\n");

  // No reply: the host's read times out (the instrument will never answer, so the short
  // timeout cannot be missed by a slow machine).
  const std::vector<uint8_t> record = Record(kWx2040SimFamily, 16, 100);
  ASSERT_EQ(Write(session, testing::FrameBytes(CmdData, 100)), VI_SUCCESS);
  ASSERT_EQ(Write(session, record), VI_SUCCESS);
  EXPECT_EQ(Read(session, &status), "OK\n");
  ASSERT_EQ(Write(session, testing::FrameBytes(CmdDataEnd, 0)), VI_SUCCESS);
  viSetAttribute(session, VI_ATTR_TMO_VALUE, 300);
  Read(session, &status);
  EXPECT_EQ(status, VI_ERROR_TMO);
  viClose(session);
  EXPECT_EQ(sim->Mode(), FirmwareMode::kWriter);
}

}  // namespace
}  // namespace fg::sim

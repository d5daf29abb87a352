// The normal firmware and the way into and out of the writer, driven directly on a test clock.
#include <gtest/gtest.h>

#include "tests/sim/engine_harness.h"

namespace fg::sim {
namespace {

using testing::EngineHarness;

TEST(EngineNormalMode, IdentifiesWithTheVersionRunOfItsFamily) {
  struct Case {
    const SimFamily* family;
    const char* reply;
    uint16_t productId;
  };
  const Case cases[] = {
      {&kWx2040SimFamily, "VANDRELL,WX2040,SIM2040A,2.00-01-01-01-01-0100\n", 0x3A01},
      {&kWx2050SimFamily, "VANDRELL,WX2050,SIM2050A,1.10-01-01\n", 0x3A02},
  };
  for (const Case& c : cases) {
    EngineHarness host(*c.family);
    ASSERT_EQ(host.busActions().size(), 1u);
    EXPECT_EQ(host.busActions()[0].kind, ActionKind::kJoin);
    EXPECT_EQ(host.busActions()[0].productId, c.productId);
    EXPECT_EQ(host.Ask("*IDN?\n"), c.reply);
    // Letter case of the header and a CR LF line end do not matter to a SCPI parser.
    EXPECT_EQ(host.Ask("*idn?\r\n"), c.reply);
  }
}

TEST(EngineNormalMode, KeepsTheDisplayTextUntilCleared) {
  EngineHarness host(kWx2040SimFamily);
  EXPECT_TRUE(host.Exchange(testing::Bytes(
                  "DISP:TEXT \"USB0::0x2E5B::0x3A01::SIM2040A::INSTR\"\n")).empty());
  EXPECT_EQ(host.engine().DisplayText(), "USB0::0x2E5B::0x3A01::SIM2040A::INSTR");
  host.SendText("*IDN?\n");
  host.Drain();
  EXPECT_EQ(host.engine().DisplayText(), "USB0::0x2E5B::0x3A01::SIM2040A::INSTR");
  host.SendText("DISP:TEXT 'it''s'\n");
  EXPECT_EQ(host.engine().DisplayText(), "it's");
  host.SendText("DISP:TEXT:CLEAR\n");
  EXPECT_EQ(host.engine().DisplayText(), "");
}

TEST(EngineNormalMode, IgnoresWhatItDoesNotUnderstand) {
  EngineHarness host(kWx2050SimFamily);
  for (const char* text : {"SYST:UPDATE WX2040\n", "SYST:UPDATE\n", "*RST\n", "MEAS:VOLT?\n",
                           "*IDN? now\n", "\x01\x02\xFF"}) {
    EXPECT_TRUE(host.Exchange(testing::Bytes(text)).empty()) << text;
  }
  // The normal firmware knows no frames.
  EXPECT_TRUE(host.Exchange(testing::FrameBytes(CmdReset, 0, kResetFrameParameters)).empty());
  EXPECT_EQ(host.engine().Mode(), FirmwareMode::kNormal);
  EXPECT_TRUE(host.engine().OnBus());
  // Several commands in one message are each handled.
  host.SendText("DISP:TEXT \"A\"\n*IDN?\n");
  EXPECT_EQ(host.Drain().size(), 1u);
  EXPECT_EQ(host.engine().DisplayText(), "A");
}

TEST(EngineNormalMode, UpdateCommandRestartsIntoTheWriterUnderProduct3A01) {
  struct Case {
    const SimFamily* family;
    const char* command;
  };
  for (const Case& c : {Case{&kWx2040SimFamily, "SYST:UPDATE WX2040\n"},
                        Case{&kWx2050SimFamily, "SYST:UPDATE WX2050\n"}}) {
    SimTiming timing;  // the default restart delay
    EngineHarness host(*c.family, {}, timing);
    host.Advance(1000);
    host.SendText("DISP:TEXT \"X\"\n");
    host.SendText(c.command);
    // It leaves at once and takes no input while away.
    EXPECT_FALSE(host.engine().OnBus());
    EXPECT_FALSE(host.engine().OnSessionOpened(host.now()));
    host.SendText("*IDN?\n");
    EXPECT_TRUE(host.Drain().empty());

    const std::vector<Action>& bus = host.busActions();
    ASSERT_EQ(bus.size(), 3u);
    EXPECT_EQ(bus[1].kind, ActionKind::kLeave);
    EXPECT_EQ(bus[1].dueMs, 1000u);
    EXPECT_EQ(bus[2].kind, ActionKind::kJoin);
    EXPECT_EQ(bus[2].dueMs, 2500u);
    EXPECT_EQ(bus[2].productId, kWriterProductId);
    EXPECT_EQ(host.engine().Mode(), FirmwareMode::kWriter);
    EXPECT_EQ(host.engine().DisplayText(), "");

    ASSERT_TRUE(host.engine().OnSessionOpened(host.now()));
    const std::string expected = std::string("WRITER,") + c.family->model + "," +
                                 c.family->defaultSerial + "," + c.family->defaultVersions + "\n";
    EXPECT_EQ(host.Ask("*IDN?\n"), expected);
    // The writer knows no text commands but the identity query.
    EXPECT_TRUE(host.Exchange(testing::Bytes(c.command)).empty());
    EXPECT_EQ(host.busActions().size(), 3u);
  }
}

TEST(EngineNormalMode, WriterStaysUntilPowerCycledOrAutoRestarted) {
  FaultPlan writer;
  writer.startInWriter = true;
  {
    EngineHarness host(kWx2040SimFamily, writer);
    EXPECT_EQ(host.engine().Mode(), FirmwareMode::kWriter);
    host.engine().OnSessionClosed(host.now());
    host.Drain();
    EXPECT_EQ(host.engine().Mode(), FirmwareMode::kWriter);  // no auto-restart by default
    host.engine().PowerCycle(host.now());
    host.Drain();
    EXPECT_EQ(host.engine().Mode(), FirmwareMode::kNormal);
    EXPECT_EQ(host.busActions().back().productId, 0x3A01);
  }
  {
    SimTiming timing = FastTiming();
    timing.autoRestartMs = 5000;
    EngineHarness host(kWx2050SimFamily, writer, timing);
    host.Advance(100);
    host.engine().OnSessionClosed(host.now());
    // A session opened before the time is up keeps the writer.
    host.Advance(4000);
    ASSERT_TRUE(host.engine().OnSessionOpened(host.now()));
    host.Advance(20000);
    EXPECT_EQ(host.engine().Mode(), FirmwareMode::kWriter);
    host.engine().OnSessionClosed(host.now());
    host.Advance(24999);
    EXPECT_EQ(host.engine().Mode(), FirmwareMode::kWriter);
    host.Advance(25000);
    EXPECT_EQ(host.engine().Mode(), FirmwareMode::kNormal);
    EXPECT_EQ(host.busActions().back().kind, ActionKind::kJoin);
    EXPECT_EQ(host.busActions().back().productId, 0x3A02);
  }
}

TEST(EngineNormalMode, RestartFaults) {
  struct Case {
    const char* fault;
    bool comesBack;
    uint64_t joinAt;
  };
  const Case cases[] = {
      {"never-return", false, 0},
      {"return-late", true, kLateReturnDelayMs},
      {"unplug:update", false, 0},
      {"no-reply:update", true, 0},  // the command is dropped: the instrument never leaves
  };
  for (const Case& c : cases) {
    FaultPlan faults;
    std::string error;
    ASSERT_TRUE(ParseFaultSpec(c.fault, &faults, &error)) << error;
    SimTiming timing;
    EngineHarness host(kWx2040SimFamily, faults, timing);
    host.SendText("SYST:UPDATE WX2040\n");
    host.Drain();
    EXPECT_EQ(host.engine().OnBus(), c.comesBack) << c.fault;
    if (c.joinAt != 0) {
      ASSERT_EQ(host.busActions().size(), 3u) << c.fault;
      EXPECT_EQ(host.busActions()[2].dueMs, c.joinAt) << c.fault;
    }
  }
}

TEST(EngineNormalMode, IdentityFaults) {
  struct Case {
    const char* fault;
    const char* normal;
    const char* writer;
  };
  const Case cases[] = {
      {"idn-no-versions", "VANDRELL,WX2050,SIM2050A\n", "WRITER,WX2050,SIM2050A\n"},
      {"idn-garbage", "VANDRELL#?!\x01\x7F~~%%\n", "WRITER#?!\x01\x7F~~%%\n"},
      {"reply:idn=HELLO", "HELLO\n", "HELLO\n"},
  };
  for (const Case& c : cases) {
    FaultPlan faults;
    std::string error;
    ASSERT_TRUE(ParseFaultSpec(c.fault, &faults, &error)) << error;
    EngineHarness host(kWx2050SimFamily, faults);
    EXPECT_EQ(host.Ask("*IDN?\n"), c.normal) << c.fault;
    host.SendText("SYST:UPDATE WX2050\n");
    host.Drain();
    ASSERT_TRUE(host.engine().OnSessionOpened(host.now()));
    EXPECT_EQ(host.Ask("*IDN?\n"), c.writer) << c.fault;
  }

  FaultPlan faults;
  std::string error;
  ASSERT_TRUE(ParseFaultSpec("long-reply:idn", &faults, &error));
  ASSERT_TRUE(ParseFaultSpec("no-reply:idn@2", &faults, &error));
  EngineHarness host(kWx2040SimFamily, faults);
  const std::string reply = host.Ask("*IDN?\n");
  EXPECT_EQ(reply.size(), kLongReplySize);
  EXPECT_EQ(reply.rfind("VANDRELL,WX2040,SIM2040A,2.00-01-01-01-01-0100", 0), 0u);
  EXPECT_EQ(reply.back(), '\n');
  EXPECT_TRUE(host.Exchange(testing::Bytes("*IDN?\n")).empty());  // the second one, dropped
  EXPECT_EQ(host.Ask("*IDN?\n").size(), kLongReplySize);

  FaultPlan unplug;
  ASSERT_TRUE(ParseFaultSpec("unplug:idn", &unplug, &error));
  EngineHarness gone(kWx2040SimFamily, unplug);
  EXPECT_TRUE(gone.Exchange(testing::Bytes("*IDN?\n")).empty());
  EXPECT_FALSE(gone.engine().OnBus());
  EXPECT_EQ(gone.busActions().back().kind, ActionKind::kLeave);
}

TEST(EngineNormalMode, SingleSessionFaultRefusesTheSecond) {
  FaultPlan faults;
  faults.singleSession = true;
  EngineHarness host(kWx2040SimFamily, faults);  // holds one session
  EXPECT_FALSE(host.engine().OnSessionOpened(host.now()));
  host.engine().OnSessionClosed(host.now());
  EXPECT_TRUE(host.engine().OnSessionOpened(host.now()));

  EngineHarness plain(kWx2040SimFamily);
  EXPECT_TRUE(plain.engine().OnSessionOpened(plain.now()));
  EXPECT_EQ(plain.engine().OpenSessions(), 2u);
}

TEST(EngineNormalMode, ClosingTheLastSessionDropsRepliesNobodyRead) {
  SimTiming slow;
  EngineHarness host(kWx2040SimFamily, {}, slow);
  host.SendText("*IDN?\n");
  host.engine().OnSessionClosed(host.now());
  EXPECT_TRUE(host.Drain().empty());
}

TEST(FaultSpecs, ParseEveryFormAndRefuseTheRest) {
  FaultPlan plan;
  std::string error;
  for (const char* spec :
       {"reply:CmdSize=NG", "reply:setupend@2=Nope", "no-reply:CmdProgram@3", "long-reply:CmdReset",
        "unplug:CmdData", "unplug-after:5000", "wrong-checksum", "wrong-checksum@2",
        "final:program-ng@2", "final:latest", "never-return", "return-late", "start-writer",
        "single-session", "idn-no-versions", "idn-garbage", "writer-no-model", "any-block-id",
        "ignore-update"}) {
    EXPECT_TRUE(ParseFaultSpec(spec, &plan, &error)) << spec << ": " << error;
  }
  EXPECT_EQ(plan.unplugAfterDataBytes, 5000u);
  EXPECT_TRUE(plan.neverReturn && plan.returnLate && plan.startInWriter && plan.singleSession);
  EXPECT_TRUE(plan.writerNamesNoModel && plan.anyBlockId && plan.ignoreUpdate);
  const CommandFault* reply = FindFault(plan, FaultKind::kReplyInstead, SimCommand::kSetupEnd, 2);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->text, "Nope");
  EXPECT_EQ(FindFault(plan, FaultKind::kReplyInstead, SimCommand::kSetupEnd, 1), nullptr);
  EXPECT_NE(FindFault(plan, FaultKind::kReplyInstead, SimCommand::kSize, 7), nullptr);
  const CommandFault* final = FindFault(plan, FaultKind::kFinalReply, SimCommand::kProgram, 2);
  ASSERT_NE(final, nullptr);
  EXPECT_EQ(final->text, "Program NG");

  for (const char* spec : {"", "reply:CmdSize", "no-reply:CmdBogus", "unplug:CmdData@0",
                           "final:maybe", "unplug-after:0", "unplug-after:x", "wrong-checksum@",
                           "no-reply:idn@-1", "everything"}) {
    FaultPlan ignored;
    EXPECT_FALSE(ParseFaultSpec(spec, &ignored, &error)) << spec;
    EXPECT_FALSE(error.empty()) << spec;
  }
}

}  // namespace
}  // namespace fg::sim

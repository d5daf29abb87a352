// The writer firmware's frames, driven directly on a test clock: whole programming runs, the
// erase stream, malformed and out-of-order input, and every writer-side fault.
#include <gtest/gtest.h>

#include <algorithm>

#include "programmer/partition_ops.h"
#include "sim/firmware_maker.h"
#include "tests/programmer/expected_checksum.h"
#include "tests/sim/engine_harness.h"

namespace fg::sim {
namespace {

using testing::Bytes;
using testing::EngineHarness;
using testing::FrameBytes;
using testing::ProgramReplies;
using testing::RunProgramSequence;
using testing::SizeField;

FaultPlan WriterFaults(std::initializer_list<const char*> specs = {}) {
  FaultPlan plan;
  plan.startInWriter = true;
  std::string error;
  for (const char* spec : specs) EXPECT_TRUE(ParseFaultSpec(spec, &plan, &error)) << error;
  return plan;
}

// A record for a partition of the family, with the given length, block id and version.
std::vector<uint8_t> Record(const SimFamily& family, uint32_t row, uint32_t length,
                            const char* version = "0300", int blockId = -1, uint32_t seed = 7) {
  FirmwarePlan plan = DefaultFirmwarePlan(family);
  plan.seed = seed;
  ImagePlan image;
  image.partition = row;
  image.recordLength = length;
  image.version = version;
  image.blockId = blockId >= 0 ? static_cast<uint32_t>(blockId) : family.partitions[row].firstBlock;
  std::vector<uint8_t> record;
  std::string error;
  EXPECT_TRUE(BuildImageRecord(plan, image, &record, &error)) << error;
  return record;
}

std::string Decimal(uint32_t value) { return std::to_string(value) + "\n"; }

TEST(EngineWriter, ProgramsAWholePartitionWithExactlyDProgressReplies) {
  struct Case {
    const char* name;
    const SimFamily* family;
    uint32_t row;
    uint32_t length;
    uint32_t replies;  // D, worked out by hand from the host's divisor
    uint32_t blocks;   // blocks the data covers
  };
  const Case cases[] = {
      {"WX2040 OEM, one block", &kWx2040SimFamily, 16, 7794, 4, 1},
      {"WX2040 1C6DDS, exactly one block", &kWx2040SimFamily, 3, 65536, 4, 1},
      {"WX2040 HTTP, remainder past half a block", &kWx2040SimFamily, 5, 105536, 6, 2},
      {"WX2040 MAIN, full", &kWx2040SimFamily, 6, 0x100000, 34, 16},
      {"WX2040 BOOT, block id 0", &kWx2040SimFamily, 0, 1000, 3, 1},
      {"WX2050 ARB1", &kWx2050SimFamily, 4, 7794, 5, 2},
      {"WX2050 XP2, full", &kWx2050SimFamily, 28, 0x28000, 81, 40},
      {"WX2050 BOOTER, block id 0", &kWx2050SimFamily, 0, 8200, 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> record = Record(*c.family, c.row, c.length);
    const PartitionInfo& partition = c.family->partitions[c.row];
    const bool bootBlock = partition.firstBlock == 0;
    const uint32_t n = static_cast<uint32_t>(record.size() - (bootBlock ? 8 : 0));
    // The host's own divisor agrees with the hand-worked count.
    const uint32_t hostDivisor = c.family == &kWx2040SimFamily
                                     ? Wx2040ProgramDivisor(n, partition.blockSize)
                                     : Wx2050ProgramDivisor(n, partition.blockSize);
    ASSERT_EQ(hostDivisor, c.replies);

    EngineHarness host(*c.family, WriterFaults());
    const ProgramReplies replies = RunProgramSequence(host, record);
    ASSERT_EQ(replies.steps.size(), 7u);
    for (size_t i = 0; i < replies.steps.size(); ++i) {
      if (i == 5) continue;
      EXPECT_EQ(replies.steps[i], "OK\n") << "step " << i;
    }
    EXPECT_EQ(replies.steps[5], Decimal(fg::test::ExpectedChecksum(record)));

    ASSERT_EQ(replies.program.size(), c.replies + 1);
    EXPECT_EQ(replies.program.back(), "OK\n");
    for (uint32_t i = 0; i < c.replies; ++i) {
      const std::string block = std::to_string(partition.firstBlock + i / 2);
      const std::string expected = i < 2 * c.blocks
                                       ? (i % 2 == 0 ? "eras:" : "prog:") + block + "\n"
                                       : std::string("RtnOk\n");
      EXPECT_EQ(replies.program[i], expected) << "reply " << i;
    }

    // The partition holds what the host sent: the record, less its first 8 bytes for block 0.
    const std::vector<uint8_t> expected(record.begin() + (bootBlock ? 8 : 0), record.end());
    EXPECT_EQ(host.engine().Flash().Content(c.row), expected);
  }
}

TEST(EngineWriter, ChecksumFollowsTheHostsWordCount) {
  // 30 bytes: W = (30 - 6) / 4 = 6, so 4 words from offset 8: bytes 8..23.
  std::vector<uint8_t> record(30, 0);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i);
  const uint32_t expected = 0x08090A0B + 0x0C0D0E0F + 0x10111213 + 0x14151617;
  EXPECT_EQ(RecordChecksum(record.data(), record.size(), 3), expected);
  // Block id 0: the same record arrives without its first 8 bytes and sums the same words.
  EXPECT_EQ(RecordChecksum(record.data() + 8, record.size() - 8, 0), expected);
  // 31 to 33 bytes: the odd tail bytes are not summed.
  record.resize(33, 0xFF);
  EXPECT_EQ(RecordChecksum(record.data(), record.size(), 3), expected);
  // Wrapping modulo 2^32: W = (34 - 6) / 4 = 7, five words of FFFFFFFF.
  std::vector<uint8_t> ones(26 + 8, 0xFF);
  EXPECT_EQ(RecordChecksum(ones.data(), ones.size(), 3), 0xFFFFFFFBu);
}

TEST(EngineWriter, ProgrammingSetsTheRegionsInstalledVersion) {
  EngineHarness host(kWx2040SimFamily, WriterFaults());
  RunProgramSequence(host, Record(kWx2040SimFamily, 6, 4000, "2.31"));  // MAIN: 4 characters
  RunProgramSequence(host, Record(kWx2040SimFamily, 2, 4000, "0105"));  // 1C3: 2 characters
  RunProgramSequence(host, Record(kWx2040SimFamily, 5, 4000, "07"));    // HTTP: NUL padded
  RunProgramSequence(host, Record(kWx2040SimFamily, 16, 4000, "9999")); // OEM: no version field
  EXPECT_EQ(host.engine().Flash().VersionRun(), "2.31-01-01-01-01-07");
  EXPECT_EQ(host.Ask("*IDN?\n"), "WRITER,WX2040,SIM2040A,2.31-01-01-01-01-07\n");

  EngineHarness wx2050(kWx2050SimFamily, WriterFaults());
  RunProgramSequence(wx2050, Record(kWx2050SimFamily, 28, 5000, "0312"));
  EXPECT_EQ(wx2050.engine().Flash().VersionRun(), "1.10-01-03");
}

TEST(EngineWriter, FlashTakesTheConfiguredTimePerBlockAndLaterRepliesWait) {
  SimTiming timing;  // 300 ms erase, 500 ms program per block
  EngineHarness host(kWx2050SimFamily, WriterFaults(), timing);
  const std::vector<uint8_t> record = Record(kWx2050SimFamily, 4, 7794);
  // The whole run at once, and an identity query right behind the start command.
  host.Send(FrameBytes(CmdReset, 0, kResetFrameParameters));
  host.Send(FrameBytes(CmdData, 7794));
  host.SendPieces(record.data(), record.size());
  host.Send(FrameBytes(CmdDataEnd, 0));
  host.Send(FrameBytes(CmdBlockId, 1));
  host.Send({29});
  host.Send(FrameBytes(CmdSize, kSizeFieldLength));
  host.Send(SizeField(7788));
  host.Send(FrameBytes(CmdChecksum, 0));
  host.Send(FrameBytes(CmdSetupEnd, 0));
  host.Send(FrameBytes(CmdProgram, 0));
  host.SendText("*IDN?\n");
  const std::vector<std::string> replies = host.Drain();
  ASSERT_EQ(replies.size(), 14u);
  EXPECT_EQ(replies[7], "eras:29\n");
  EXPECT_EQ(replies[12], "OK\n");
  EXPECT_EQ(replies[13], "WRITER,WX2050,SIM2050A,1.10-01-01\n");
  const std::vector<uint64_t>& t = host.replyTimes();
  EXPECT_EQ(t[6], 0u);     // the setup steps are answered at once
  EXPECT_EQ(t[7], 300u);   // eras:29
  EXPECT_EQ(t[8], 800u);   // prog:29
  EXPECT_EQ(t[9], 1100u);  // eras:30
  EXPECT_EQ(t[10], 1600u); // prog:30
  EXPECT_EQ(t[11], 1600u); // RtnOk
  EXPECT_EQ(t[12], 1600u); // OK
  EXPECT_EQ(t[13], 1600u); // the identity waited for the stream
}

TEST(EngineWriter, EraseStreamsOneReplyPerBlock) {
  EngineHarness host(kWx2040SimFamily, WriterFaults());
  RunProgramSequence(host, Record(kWx2040SimFamily, 6, 300000));
  ASSERT_FALSE(host.engine().Flash().Content(6).empty());

  EXPECT_EQ(host.Exchange(FrameBytes(CmdReset, 0, kResetFrameParameters)).at(0), "OK\n");
  host.Send(FrameBytes(CmdBlockId, 1));
  EXPECT_EQ(host.Exchange({14}).at(0), "OK\n");
  host.Send(FrameBytes(CmdSize, kSizeFieldLength));
  EXPECT_EQ(host.Exchange(SizeField(0x100000)).at(0), "OK\n");
  EXPECT_EQ(host.Exchange(FrameBytes(CmdSetupEnd, 0)).at(0), "OK\n");
  const std::vector<std::string> stream = host.Exchange(FrameBytes(CmdErase, 0));
  ASSERT_EQ(stream.size(), 17u);
  for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(stream[i], "eras:" + std::to_string(14 + i) + "\n");
  EXPECT_EQ(stream.back(), "OK\n");
  EXPECT_TRUE(host.engine().Flash().Content(6).empty());

  // The WX2050's COMM partition starts at block 396; its low byte, 140, starts no partition.
  EngineHarness wx2050(kWx2050SimFamily, WriterFaults());
  wx2050.Exchange(FrameBytes(CmdReset, 0, kResetFrameParameters));
  wx2050.Send(FrameBytes(CmdBlockId, 1));
  EXPECT_EQ(wx2050.Exchange({140}), std::vector<std::string>{"NG\n"});
}

// Messages of a programming run up to and including CmdDataEnd, for a record.
std::vector<std::vector<uint8_t>> UpToDataEnd(const std::vector<uint8_t>& record) {
  std::vector<std::vector<uint8_t>> messages = {FrameBytes(CmdReset, 0, kResetFrameParameters),
                                                FrameBytes(CmdData, static_cast<uint32_t>(record.size())),
                                                record, FrameBytes(CmdDataEnd, 0)};
  return messages;
}

std::vector<std::vector<uint8_t>> Then(std::vector<std::vector<uint8_t>> first,
                                       std::initializer_list<std::vector<uint8_t>> more) {
  first.insert(first.end(), more);
  return first;
}

TEST(EngineWriter, AnswersNgToMalformedOrOutOfOrderInputAndRecovers) {
  const std::vector<uint8_t> record = Record(kWx2040SimFamily, 16, 2000);
  const std::vector<uint8_t> wrongTrailer = Record(kWx2040SimFamily, 16, 2000, "0300", 66);
  const std::vector<uint8_t> tooShort = Record(kWx2040SimFamily, 16, 26);
  std::vector<uint8_t> longFrame = FrameBytes(CmdReset, 0, kResetFrameParameters);
  longFrame.push_back(0);
  std::vector<uint8_t> lengthSix = FrameBytes(CmdReset, 0, kResetFrameParameters);
  lengthSix[4] = 6;
  std::vector<uint8_t> noNul(12, '1');
  std::vector<uint8_t> letters = SizeField(1994);
  letters[1] = 'a';
  const std::vector<uint8_t> blockId = FrameBytes(CmdBlockId, 1);
  const std::vector<uint8_t> size = FrameBytes(CmdSize, kSizeFieldLength);
  const std::vector<uint8_t> reset = FrameBytes(CmdReset, 0, kResetFrameParameters);

  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> messages;
  };
  const Case cases[] = {
      {"frame of 11 bytes", {std::vector<uint8_t>(reset.begin(), reset.end() - 1)}},
      {"frame of 13 bytes", {longFrame}},
      {"length field below 7", {lengthSix}},
      {"unknown command", {FrameBytes(99, 0)}},
      {"reset without RESET!", {FrameBytes(CmdReset, 0)}},
      {"other frame with RESET!", {reset, FrameBytes(CmdDataEnd, 0, kResetFrameParameters)}},
      {"reset with a payload", {FrameBytes(CmdReset, 1, kResetFrameParameters), {0xAB}}},
      {"data before reset", {FrameBytes(CmdData, 10), std::vector<uint8_t>(10, 1)}},
      {"data of no bytes", {reset, FrameBytes(CmdData, 0)}},
      // The announced bytes are still consumed, so that the following frames are read as frames.
      {"data larger than any partition",
       {reset, FrameBytes(CmdData, 0x200000), std::vector<uint8_t>(0x200000, 0xAB)}},
      {"checksum right after reset", {reset, FrameBytes(CmdChecksum, 0)}},
      {"block id with two bytes", {reset, FrameBytes(CmdBlockId, 2), {67, 0}}},
      {"erase: block id starts no partition", {reset, blockId, {5}}},
      {"program: record carries another block id", Then(UpToDataEnd(wrongTrailer), {blockId, {67}})},
      {"program: record shorter than 26 bytes",
       Then(UpToDataEnd(std::vector<uint8_t>(tooShort.end() - 20, tooShort.end())), {blockId, {67}})},
      {"program: record larger than the partition",
       Then(UpToDataEnd(Record(kWx2040SimFamily, 2, 70000, "0300", 67)), {blockId, {67}})},
      {"program: size one short", Then(UpToDataEnd(record), {blockId, {67}, size, SizeField(1993)})},
      {"program: size without NUL", Then(UpToDataEnd(record), {blockId, {67}, size, noNul})},
      {"program: size with a letter", Then(UpToDataEnd(record), {blockId, {67}, size, letters})},
      {"program: setup end before checksum",
       Then(UpToDataEnd(record), {blockId, {67}, size, SizeField(1994), FrameBytes(CmdSetupEnd, 0)})},
      {"program: erase instead of program",
       Then(UpToDataEnd(record), {blockId, {67}, size, SizeField(1994), FrameBytes(CmdChecksum, 0),
                                  FrameBytes(CmdSetupEnd, 0), FrameBytes(CmdErase, 0)})},
      {"erase: size beyond the partition", {reset, blockId, {67}, size, SizeField(16385)}},
      {"erase: size zero", {reset, blockId, {67}, size, SizeField(0)}},
      {"program without setup", {reset, FrameBytes(CmdProgram, 0)}},
      {"payload longer than announced",
       {reset, FrameBytes(CmdData, 100), std::vector<uint8_t>(101, 1)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EngineHarness host(kWx2040SimFamily, WriterFaults());
    std::vector<std::string> replies;
    for (const std::vector<uint8_t>& message : c.messages) {
      const std::vector<std::string> answered = host.Exchange(message);
      replies.insert(replies.end(), answered.begin(), answered.end());
    }
    ASSERT_FALSE(replies.empty());
    EXPECT_EQ(replies.back(), "NG\n");
    EXPECT_EQ(std::count(replies.begin(), replies.end(), "NG\n"), 1);
    // The sequence has to start again, and can.
    EXPECT_EQ(host.Exchange(FrameBytes(CmdDataEnd, 0)), std::vector<std::string>{"NG\n"});
    const ProgramReplies again = RunProgramSequence(host, record);
    ASSERT_FALSE(again.program.empty());
    EXPECT_EQ(again.program.back(), "OK\n");
  }
}

TEST(EngineWriter, TextAndPiecesOfAnyShapeDoNotConfuseIt) {
  EngineHarness host(kWx2040SimFamily, WriterFaults());
  EXPECT_TRUE(host.Exchange(Bytes("DISP:TEXT \"x\"\n")).empty());
  EXPECT_TRUE(host.Exchange(std::vector<uint8_t>(5000, 0xAB)).size() == 1);  // one NG
  // A frame split over two transfers of one message is still one frame.
  const std::vector<uint8_t> reset = FrameBytes(CmdReset, 0, kResetFrameParameters);
  host.engine().OnMessageOut(host.now(), reset.data(), 5, false);
  host.engine().OnMessageOut(host.now(), reset.data() + 5, 7, true);
  EXPECT_EQ(host.Drain(), std::vector<std::string>{"OK\n"});
  // Data may come in pieces of any size; the acknowledgement follows the last byte.
  const std::vector<uint8_t> record = Record(kWx2040SimFamily, 16, 9000);
  host.Send(FrameBytes(CmdData, 9000));
  host.Send(std::vector<uint8_t>(record.begin(), record.begin() + 1));
  host.Send(std::vector<uint8_t>(record.begin() + 1, record.begin() + 8999));
  EXPECT_TRUE(host.Drain().empty());
  host.Send(std::vector<uint8_t>(record.begin() + 8999, record.end()));
  EXPECT_EQ(host.Drain(), std::vector<std::string>{"OK\n"});
  // A device clear forgets the sequence.
  host.engine().OnClear(host.now());
  EXPECT_EQ(host.Exchange(FrameBytes(CmdDataEnd, 0)), std::vector<std::string>{"NG\n"});
}

TEST(EngineWriter, FaultsShowTheHostWhatItWouldSee) {
  const std::vector<uint8_t> record = Record(kWx2040SimFamily, 16, 7794);
  const std::string checksum = Decimal(fg::test::ExpectedChecksum(record));
  const std::string wrong = Decimal(fg::test::ExpectedChecksum(record) + 1);
  const std::vector<std::string> ok7 = {"OK\n", "OK\n", "OK\n", "OK\n", "OK\n", checksum, "OK\n"};
  const std::vector<std::string> fullStream = {"eras:67\n", "prog:67\n", "RtnOk\n", "RtnOk\n", "OK\n"};

  struct Case {
    const char* fault;
    std::vector<std::string> steps;
    std::vector<std::string> program;
    bool programmed;
    bool onBus;
  };
  const Case cases[] = {
      {"reply:CmdSize=NG", {"OK\n", "OK\n", "OK\n", "OK\n", "NG\n"}, {}, false, true},
      {"reply:CmdReset=Ok\r", {"Ok\r\n", "OK\n", "OK\n", "OK\n", "OK\n", checksum, "OK\n"}, fullStream, true, true},
      {"no-reply:CmdDataEnd", {"OK\n", "OK\n", "<0>"}, {}, false, true},
      {"no-reply:CmdProgram", ok7, {}, false, true},
      {"wrong-checksum", {"OK\n", "OK\n", "OK\n", "OK\n", "OK\n", wrong, "OK\n"}, fullStream, true, true},
      {"final:erase-ng", ok7, {"Erase NG\n"}, false, true},
      {"final:program-ng", ok7, {"eras:67\n", "Program NG\n"}, false, true},
      {"final:rtn-ng", ok7, {"eras:67\n", "prog:67\n", "RtnNg\n"}, false, true},
      {"final:latest", ok7, {"Data is the latest update\n"}, false, true},
      {"reply:CmdProgram=Done", ok7, {"eras:67\n", "prog:67\n", "RtnOk\n", "RtnOk\n", "Done\n"}, true, true},
      {"unplug:CmdBlockId", {"OK\n", "OK\n", "OK\n", "<0>"}, {}, false, false},
      {"unplug-after:5000", {"OK\n", "<0>"}, {}, false, false},
      {"unplug:CmdProgram", ok7, {}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    EngineHarness host(kWx2040SimFamily, WriterFaults({c.fault}));
    const ProgramReplies replies = RunProgramSequence(host, record);
    EXPECT_EQ(replies.steps, c.steps);
    EXPECT_EQ(replies.program, c.program);
    EXPECT_EQ(host.engine().Flash().Content(16) == record, c.programmed);
    EXPECT_EQ(host.engine().OnBus(), c.onBus);
    if (!c.onBus) {
      EXPECT_EQ(host.busActions().back().kind, ActionKind::kLeave);
    }
  }

  // A long reply: the host's 1024-byte buffer cannot hold it in one read.
  EngineHarness longReply(kWx2040SimFamily, WriterFaults({"long-reply:CmdReset"}));
  const std::vector<std::string> reset =
      longReply.Exchange(FrameBytes(CmdReset, 0, kResetFrameParameters));
  ASSERT_EQ(reset.size(), 1u);
  EXPECT_EQ(reset[0].size(), kLongReplySize);
  EXPECT_EQ(reset[0].substr(0, 2), "OK");

  // Occurrences: only the second programming run fails.
  EngineHarness second(kWx2040SimFamily, WriterFaults({"final:program-ng@2"}));
  EXPECT_EQ(RunProgramSequence(second, record).program.back(), "OK\n");
  EXPECT_EQ(RunProgramSequence(second, record).program.back(), "Program NG\n");
  EXPECT_EQ(RunProgramSequence(second, record).program.back(), "OK\n");
}

TEST(EngineWriter, ProgramNgLeavesTheFirstBlockErased) {
  EngineHarness host(kWx2040SimFamily, WriterFaults());
  const std::vector<uint8_t> old = Record(kWx2040SimFamily, 16, 16384, "0300", -1, 1);
  RunProgramSequence(host, old);
  host.engine().SetFaults(WriterFaults({"final:program-ng"}));
  RunProgramSequence(host, Record(kWx2040SimFamily, 16, 100, "0300", -1, 2));
  const std::vector<uint8_t>& content = host.engine().Flash().Content(16);
  ASSERT_EQ(content.size(), 16384u);
  EXPECT_TRUE(std::all_of(content.begin(), content.begin() + 8192, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::equal(content.begin() + 8192, content.end(), old.begin() + 8192));
}

// A writer that takes any block id swallows another model's records: a WX2040 1C3 record (block
// 3) lands in the WX2050 partition whose blocks hold 3, cut to its size; MAIN starts at 4 in both.
// Without the fault the same record is refused.
TEST(EngineWriter, AnyBlockIdTakesAnotherModelsRecords) {
  const std::vector<uint8_t> wx2040Record = Record(kWx2040SimFamily, 2, 0x10000, "01");  // 1C3
  EngineHarness plain(kWx2050SimFamily, WriterFaults());
  EXPECT_EQ(RunProgramSequence(plain, wx2040Record).steps.back(), "NG\n");

  EngineHarness any(kWx2050SimFamily, WriterFaults({"any-block-id"}));
  const ProgramReplies replies = RunProgramSequence(any, wx2040Record);
  ASSERT_EQ(replies.steps.size(), 7u);
  EXPECT_EQ(replies.program.back(), "OK\n");
  const uint32_t booter = FindPartitionByName(kWx2050SimFamily, "BOOTER");
  const std::vector<uint8_t>& flash = any.engine().Flash().Content(booter);
  ASSERT_EQ(flash.size(), PartitionCapacity(kWx2050SimFamily.partitions[booter]));
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), wx2040Record.begin()));

  const std::vector<uint8_t> dds = Record(kWx2040SimFamily, 3, 0x20000, "02");  // block 4
  EXPECT_EQ(RunProgramSequence(any, dds).program.back(), "OK\n");
  const uint32_t main = FindPartitionByName(kWx2050SimFamily, "MAIN");
  EXPECT_EQ(any.engine().Flash().Content(main), dds);
}

// A writer whose identity names no model; its normal firmware still names it.
TEST(EngineWriter, WriterNoModelLeavesTheModelFieldEmpty) {
  FaultPlan faults;
  std::string error;
  ASSERT_TRUE(ParseFaultSpec("writer-no-model", &faults, &error)) << error;
  EngineHarness host(kWx2050SimFamily, faults);
  EXPECT_EQ(host.Ask("*IDN?\n"), "VANDRELL,WX2050,SIM2050A,1.10-01-01\n");
  host.SendText("SYST:UPDATE WX2050\n");
  host.Drain();
  ASSERT_TRUE(host.engine().OnSessionOpened(host.now()));
  EXPECT_EQ(host.Ask("*IDN?\n"), "WRITER,,SIM2050A,1.10-01-01\n");
}

// An instrument that ignores the update command stays on the bus as its normal firmware.
TEST(EngineWriter, IgnoreUpdateKeepsTheNormalFirmware) {
  FaultPlan faults;
  std::string error;
  ASSERT_TRUE(ParseFaultSpec("ignore-update", &faults, &error)) << error;
  EngineHarness host(kWx2040SimFamily, faults);
  host.SendText("SYST:UPDATE WX2040\n");
  host.Drain();
  EXPECT_TRUE(host.engine().OnBus());
  EXPECT_EQ(host.engine().Mode(), FirmwareMode::kNormal);
  EXPECT_TRUE(host.busActions().size() == 1) << "only the join at power-up";
  EXPECT_EQ(host.Ask("*IDN?\n").rfind("VANDRELL,WX2040,", 0), 0u);
}

}  // namespace
}  // namespace fg::sim

// The driver over the real programmer, against a small instrument that speaks the writer-mode
// protocol through a FakeLink: the whole chain from Connect to the images in flash.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "firmware/image_record.h"
#include "link/model_facts.h"
#include "programmer/command_frame.h"
#include "tests/programmer/expected_checksum.h"
#include "tests/updater/driver_fixture.h"
#include "util/endian.h"

namespace fg::test {
namespace {

// A command frame as the instrument reads it off the wire: 0xAB, the big-endian count of the
// bytes after the length field (command byte, six parameter bytes and the payload that follows
// the frame), the command byte. False for anything else.
bool ReadFrame(const Bytes& bytes, uint8_t* command, uint32_t* payloadLength) {
  if (bytes.size() != 12 || bytes[0] != 0xAB) return false;
  const uint32_t length = uint32_t{bytes[1]} << 24 | uint32_t{bytes[2]} << 16 |
                          uint32_t{bytes[3]} << 8 | uint32_t{bytes[4]};
  if (length < 7) return false;
  *command = bytes[5];
  *payloadLength = length - 7;
  return true;
}

// Normal firmware until "SYST:UPDATE", then the writer: acknowledges every command, answers the
// checksum of the data it received (summed by the test, not by the programmer under test) and
// keeps what it was told to program.
class FakeWriter {
 public:
  std::string normalIdentity;
  std::string writerIdentity;
  bool writerMode = false;
  std::vector<std::string> programReplies = {"prog:", "junk", "prog:", "OK"};
  std::map<uint32_t, Bytes> flash;  // block id -> the data programmed there

  explicit FakeWriter(FakeLink& fake) : fake_(fake) {
    fake.onWrite = [this](const Bytes& bytes) { OnWrite(bytes); };
    // A WX2050's writer has another product id: its normal name is gone after the switch.
    fake.canOpen = [this](const std::string& name) {
      return !(writerMode && name.find("0x3A02") != std::string::npos);
    };
  }

 private:
  void OnWrite(const Bytes& bytes) {
    if (expecting_ > 0) {
      payload_.insert(payload_.end(), bytes.begin(), bytes.end());
      expecting_ -= std::min<uint32_t>(expecting_, static_cast<uint32_t>(bytes.size()));
      if (expecting_ == 0) Complete();
      return;
    }
    const std::string text(bytes.begin(), bytes.end());
    if (text == "*IDN?\n") {
      fake_.replies.emplace_back(writerMode ? writerIdentity : normalIdentity);
      return;
    }
    if (text.rfind("SYST:UPDATE ", 0) == 0) {
      writerMode = true;
      return;
    }
    if (text.rfind("DISP:", 0) == 0) return;
    uint32_t length = 0;
    ASSERT_TRUE(ReadFrame(bytes, &command_, &length));
    ASSERT_TRUE(writerMode) << "a frame before writer mode";
    payload_.clear();
    expecting_ = length;
    if (length == 0) Complete();
  }

  void Complete() {
    switch (command_) {
      case CmdData: data_ = payload_; break;
      case CmdBlockId: block_ = payload_.at(0); break;
      case CmdChecksum: {
        // A block 0 record arrives without its first 8 bytes, which are not summed anyway.
        Bytes record(block_ == 0 ? 8 : 0, 0);
        record.insert(record.end(), data_.begin(), data_.end());
        fake_.replies.emplace_back(std::to_string(ExpectedChecksum(record)));
        return;
      }
      case CmdProgram:
        flash[block_] = data_;
        for (const auto& r : programReplies) fake_.replies.emplace_back(r);
        return;
      default: break;
    }
    fake_.replies.emplace_back("OK");
  }

  FakeLink& fake_;
  uint8_t command_ = 0;
  uint32_t expecting_ = 0;
  Bytes payload_;
  Bytes data_;
  uint8_t block_ = 0;
};

TEST_F(DriverTest, Wx2050UpdateThroughTheRebuiltWriterName) {
  FakeWriter writer(fake);
  writer.normalIdentity = "VANDRELL,WX2050,SN2,1.00-0-01";
  writer.writerIdentity = "WRITER,WX2050,SN2,1.00-0-01";
  const std::vector<Bytes> package = {Record(254, 5000, "02"), Record(4, 9000, "1.05"),
                                      Record(75, 100, "01")};
  const std::string payload = WritePayload(package);

  Start(kWx2050DriverFamily, false);
  ASSERT_EQ(updater::Connect(&context, "USB0::0x2E5B::0x3A02::SN2::INSTR"), 0);
  ASSERT_EQ(updater::Update(&context, payload.c_str(), kUpdateCheckVersions), 0);

  EXPECT_EQ(writer.flash, (std::map<uint32_t, Bytes>{{4, package[1]}, {254, package[0]}, {75, package[2]}}));
  EXPECT_NE(std::find(fake.events.begin(), fake.events.end(), "open USB0::0x2E5B::0x3A01::SN2::INSTR"),
            fake.events.end());
  EXPECT_EQ(fake.events.back(), "close");
  EXPECT_FALSE(fake.Wrote("DISP:TEXT:CLEAR\n")) << "Update leaves the display to the caller";
  EXPECT_TRUE(std::is_sorted(overall.begin(), overall.end()));
  EXPECT_EQ(overall.back(), 100);
  EXPECT_EQ(std::count(overall.begin(), overall.end(), 100), 1);
  EXPECT_TRUE(fake.replies.empty()) << "every reply was read";
}

TEST_F(DriverTest, Wx2040UpdateWithTheOemSupplement) {
  FakeWriter writer(fake);
  writer.normalIdentity = "VANDRELL,WX2040,SN1,2.00-0-01-02-03-0105";
  writer.writerIdentity = "WRITER,WX2040,SN1,2.00-0-01-02-03-0105";
  const std::vector<Bytes> package = {Record(3, 100, "01"), Record(4, 100, "02"),
                                      Record(6, 100, "03"), Record(14, 6000, "2.00"),
                                      Record(8, 100, "0105")};
  const std::string payload = WritePayload(package);

  Start(kWx2040DriverFamily, false);
  ASSERT_EQ(updater::Connect(&context, "USB0::0x2E5B::0x3A01::SN1::INSTR"), 0);
  ASSERT_EQ(updater::Update(&context, payload.c_str(), kUpdateCheckVersions), 0);

  ASSERT_EQ(writer.flash.size(), 6u);
  EXPECT_EQ(writer.flash[14], package[3]);
  EXPECT_EQ(writer.flash[67], Bytes(kOemRecord, kOemRecord + kOemRecordSize));
  EXPECT_EQ(overall.back(), 100);
  EXPECT_EQ(FakeClock::nowMs / 1000, 4) << "one writer-mode wait: the second connect finds WRITER";
}

// A record of `length` bytes (16 at least) with a version newer than any installed one, whose
// trailer, and so its block id, sits at its end.
Bytes ShortRecord(uint8_t blockId, uint32_t length) {
  Bytes r(length, '9');
  StoreBe32(&r[8], length - 6);
  r[length - 2] = blockId;
  return r;
}

bool AnyCommandFrame(const FakeLink& fake) {
  uint8_t command = 0;
  uint32_t length = 0;
  for (const Bytes& w : fake.writes)
    if (ReadFrame(w, &command, &length)) return true;
  return false;
}

// The fifth image in rule order is one the programmer refuses: the package is refused before
// the first frame goes out, so nothing is erased or programmed.
TEST_F(DriverTest, ARecordTheProgrammerRefusesStopsThePackageBeforeTheFirstFrame) {
  const struct {
    const DriverFamily* family;
    const char* identity;
    std::vector<Bytes> package;
  } cases[] = {
      {&kWx2040DriverFamily, "WRITER,WX2040,SN1,2.10-0-01-02-03-0105",
       {Record(3, 100, "01"), Record(4, 100, "02"), Record(6, 100, "03"),
        Record(14, 6000, "2.10"), ShortRecord(8, 24)}},
      {&kWx2050DriverFamily, "WRITER,WX2050,SN2,1.00-0-01",
       {Record(254, 500, "02"), Record(4, 500, "1.05"), ShortRecord(75, 24)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.family->name);
    fake.writes.clear();
    FakeWriter writer(fake);
    writer.writerMode = true;
    writer.writerIdentity = c.identity;
    const std::string payload = WritePayload(c.package);
    Start(*c.family, false);
    ASSERT_EQ(updater::Connect(&context, "USB0::0x2E5B::0x3A01::SN1::INSTR"), 0);
    EXPECT_EQ(updater::Update(&context, payload.c_str(), kUpdateCheckVersions), 8);
    EXPECT_EQ(context.programmerError, 3) << "the record is shorter than 26 bytes";
    EXPECT_TRUE(writer.flash.empty());
    EXPECT_FALSE(AnyCommandFrame(fake)) << "not even a reset went out";
  }
}

TEST_F(DriverTest, InstrumentRefusalStopsTheTransfer) {
  FakeWriter writer(fake);
  writer.writerMode = true;  // left in writer mode by an earlier attempt
  writer.writerIdentity = "WRITER,WX2050,SN2,1.00-0-01";
  writer.programReplies = {"prog:", "Program NG"};
  const std::string payload = WritePayload({Record(254, 500, "02"), Record(4, 500, "1.05")});

  Start(kWx2050DriverFamily, false);
  ASSERT_EQ(updater::Connect(&context, "USB0::0x2E5B::0x3A01::SN2::INSTR"), 0);
  EXPECT_EQ(updater::Update(&context, payload.c_str(), kUpdateCheckVersions), 8);
  EXPECT_EQ(context.programmerError, 0x20A);
  EXPECT_EQ(writer.flash.size(), 1u) << "MAIN was sent; XP2 was never tried";
  EXPECT_EQ(fake.events.back(), "close");
}

// This writer takes a record for any block id: whatever reaches it lands in its flash. A WX2040
// package must reach no writer but a WX2040's: one that names the other model, or none that the
// run can vouch for, gets no frame at all.
TEST_F(DriverTest, AWriterOfAnotherModelOrOfNoNamedModelGetsNoFrame) {
  const std::string name = "USB0::0x2E5B::0x3A01::SN2::INSTR";
  const std::vector<Bytes> package = {Record(3, 100, "01"), Record(4, 100, "02"),
                                      Record(6, 100, "03"), Record(14, 6000, "2.10"),
                                      Record(8, 100, "0105")};
  const struct {
    const char* name;
    const char* identity;
    const char* confirmed;  // the model the user confirmed for SN2, or null
    int32_t connect;
    int32_t update;
  } cases[] = {
      {"the other model's writer", "WRITER,WX2050,SN2,2.10-0-01-02-03-0105", nullptr, 0x10, 0x10},
      {"a writer naming no model", "WRITER,,SN2,2.10-0-01-02-03-0105", nullptr, 0, 0x11},
      {"confirmed as the other model", "WRITER,,SN2,2.10-0-01-02-03-0105", "WX2050", 0, 0x11},
      {"confirmed as the file's model", "WRITER,,SN2,2.10-0-01-02-03-0105", "WX2040", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake.writes.clear();
    FakeWriter writer(fake);
    writer.writerMode = true;
    writer.writerIdentity = c.identity;
    ModelFacts facts{};
    if (c.confirmed != nullptr) ConfirmWriterModel(&facts, "SN2", c.confirmed);
    env.modelFacts = &facts;
    const std::string payload = WritePayload(package);
    Start(kWx2040DriverFamily, false);
    EXPECT_EQ(updater::Connect(&context, name.c_str()), c.connect);
    // The programmer refuses on its own too, whatever Connect said.
    EXPECT_EQ(updater::Update(&context, payload.c_str(), kUpdateCheckVersions), c.update);
    env.modelFacts = nullptr;
    EXPECT_EQ(AnyCommandFrame(fake), c.update == 0);
    EXPECT_EQ(writer.flash.size(), c.update == 0 ? 5u : 0u);
    EXPECT_FALSE(fake.Wrote("SYST:UPDATE WX2040\n"));
  }
}

// The WX2050 in its normal firmware ignores "SYST:UPDATE WX2040" and would take the frames as
// text: the WX2040 file's driver refuses it at Connect, and its programmer before the command.
TEST_F(DriverTest, TheOtherModelsNormalFirmwareGetsNeitherTheCommandNorAFrame) {
  FakeWriter writer(fake);
  writer.normalIdentity = "VANDRELL,WX2050,SN2,1.00-0-01";
  writer.writerIdentity = "WRITER,WX2050,SN2,1.00-0-01";
  const std::string payload = WritePayload({Record(3, 100, "01")});
  Start(kWx2040DriverFamily, false);
  EXPECT_EQ(updater::Connect(&context, "USB0::0x2E5B::0x3A02::SN2::INSTR"), 0x10);
  EXPECT_EQ(updater::Update(&context, payload.c_str(), kUpdateCheckVersions), 0x10);
  for (size_t i = 0; i < fake.writes.size(); ++i) EXPECT_EQ(fake.WriteText(i), "*IDN?\n");
  EXPECT_FALSE(writer.writerMode);
}

}  // namespace
}  // namespace fg::test

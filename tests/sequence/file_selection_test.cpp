// Opening a firmware file: what the selection leaves in the front end and in the selection
// record for accepted, rejected and unreadable files, and when the device list is refreshed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>

#include <memory>
#include <string>
#include <vector>

#include "catalog/model_catalog.h"
#include "sequence/file_selection.h"
#include "sequence_fakes.h"
#include "scratch_folder.h"
#include "visa/simbus/simbus_device.h"

namespace fg::test {
namespace {

class FileSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override { PrivateBusFolder(); }

  int32_t Select(const std::string& path) { return SelectFirmwareFile(&fe.ops, &selection, path.c_str()); }

  ScratchFolder scratch;
  RecordingFrontEnd fe;
  FileSelection selection{};
};

struct AcceptedCase {
  const char* name;
  std::string model;
  std::string imageRev;
  std::string utilityRev;
  const char* shownModel;
  const char* shownRevision;
};

void PrintTo(const AcceptedCase& c, std::ostream* os) { *os << c.name; }

class AcceptedFile : public FileSelectionTest, public ::testing::WithParamInterface<AcceptedCase> {};

TEST_P(AcceptedFile, FillsFieldsArmsUpdateAndRefreshesTheList) {
  const AcceptedCase& c = GetParam();
  const std::string path =
      scratch.Write("fw.fq", FirmwareText(c.model, c.imageRev, c.utilityRev, " Fixes the sweep.", "\x01\x02"));
  EXPECT_EQ(Select(path), 0);
  EXPECT_EQ(fe.LogLines(), (std::vector<std::string>{"Open File: " + path}));
  EXPECT_TRUE(fe.Only("box ").empty());
  EXPECT_EQ(fe.Only("fields "), (Events{"fields " + path + "|" + c.shownModel + "|" +
                                        c.shownRevision + "| Fixes the sweep."}));
  EXPECT_EQ(fe.Only("state "), (Events{"state FileReady"}));
  EXPECT_EQ(selection.selectedModel, FindModel(c.shownModel));
  EXPECT_STREQ(selection.path, path.c_str());
  EXPECT_EQ(selection.header.payloadOffset,
            static_cast<int32_t>(FirmwareText(c.model, c.imageRev, c.utilityRev, " Fixes the sweep.", "").size()));
  // The search runs after the fields are set (nothing is attached to this private bus).
  EXPECT_GT(fe.IndexOf("list reset"), fe.IndexOf("state FileReady"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, AcceptedFile,
    ::testing::Values(AcceptedCase{"Wx2040", "WX2040", "1.05b", "2.04", "WX2040", "1.05B"},
                      AcceptedCase{"LowerCaseWx2050", "wx2050", "2.10", "1.99", "WX2050", "2.10"},
                      AcceptedCase{"SwitchBoxWithoutRevisions", "SB7300", "", "", "SB7300", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct RejectedCase {
  const char* name;
  std::string text;
  int32_t error;
  const char* errorLine;
  const char* detailLine;  // which rule refused the file; the box says "corrupted" for all
};

void PrintTo(const RejectedCase& c, std::ostream* os) { *os << c.name; }

class RejectedFile : public FileSelectionTest, public ::testing::WithParamInterface<RejectedCase> {};

TEST_P(RejectedFile, ClearsTheSelectionAfterTheBoxAndTheErrorNumber) {
  const RejectedCase& c = GetParam();
  // A previously accepted file is on screen; the rejected one must not leave a mix behind.
  const std::string good = scratch.Write("good.fq", FirmwareText("WX2040", "1.00", "2.04", " ok", "P"));
  ASSERT_EQ(Select(good), 0);
  fe.events.clear();
  fe.log.clear();

  const std::string path = scratch.Write("bad.fq", c.text);
  EXPECT_EQ(Select(path), c.error);
  EXPECT_EQ(fe.LogLines(),
            (std::vector<std::string>{"Open File: " + path, c.errorLine, c.detailLine}));
  EXPECT_EQ(fe.Only("box "), (Events{"box Error|The firmware revision file is corrupted.|error"}));
  EXPECT_LT(fe.IndexOf("box Error|The firmware revision file is corrupted.|error"),
            fe.IndexOf(std::string("line ") + c.errorLine));
  EXPECT_EQ(fe.Only("fields "), (Events{"fields |||"}));
  EXPECT_EQ(fe.Only("state "), (Events{"state NoFile"}));
  EXPECT_EQ(selection.selectedModel, nullptr);
  EXPECT_STREQ(selection.path, "");
  // No model is selected, so the refresh leaves the list alone.
  EXPECT_TRUE(fe.Only("list ").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, RejectedFile,
    ::testing::Values(
        RejectedCase{"UnknownModel", FirmwareText("WX2041", "1.00", "2.04", "", ""), 0x15,
                     "Error number: 0x0015",
                     "The file is for the model \"WX2041\", which is not in Flintgate's "
                     "catalogue (WX2040, WX2050 and SB7300)."},
        RejectedCase{"NoModelName", FirmwareText("", "1.00", "2.04", "", ""), 0x15,
                     "Error number: 0x0015", "The header names no model (ModelName)."},
        RejectedCase{"ForeignRevisionCharacter", FirmwareText("WX2040", "V1-05", "2.04", "", ""),
                     0x20, "Error number: 0x0020",
                     "The header's ImageRev \"V1-05\" holds a character other than 0-9, \".\" "
                     "and A-Z."},
        RejectedCase{"NeedsNewerTool", FirmwareText("WX2050", "1.00", "2.05", "", ""), 0x21,
                     "Error number: 0x0021",
                     "This file needs Flintgate 2.05 or later (its UtilityRev); this is "
                     "Flintgate 2.04: use a newer Flintgate."},
        RejectedCase{"ModelNameTooLong", FirmwareText(std::string(64, 'W'), "1.00", "2.04", "", ""),
                     0x11, "Error number: 0x0011",
                     "The header's ModelName is longer than 63 characters."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSelectionTest, UnopenableFileChangesNothingButTheLog) {
  const std::string good = scratch.Write("good.fq", FirmwareText("WX2050", "1.00", "2.04", " ok", "P"));
  ASSERT_EQ(Select(good), 0);
  fe.events.clear();
  fe.log.clear();

  const std::string tooLong = scratch.path() + "/" + std::string(5000, 'a');
  // Anything but a regular file reached without a link: a FIFO must not block the open, and a
  // directory is no file too large.
  const std::string fifo = scratch.File("fifo.fq");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string link = scratch.File("link.fq");
  ASSERT_EQ(symlink(good.c_str(), link.c_str()), 0);
  // The box stays the bare "Can't open file."; the log line after it says why.
  const struct {
    std::string path;
    const char* why;
  } cases[] = {
      {scratch.File("missing.fq"), "there is no such file"},
      {tooLong, "the path is longer than 4095 characters"},
      {fifo, "it is a pipe, socket or device, not a plain file"},
      {link,
       "it is a symbolic link; Flintgate opens only the file itself: choose the file it points to"},
      {scratch.path(), "it is a folder"},
      {"/dev/zero", "it is a pipe, socket or device, not a plain file"},
  };
  for (const auto& c : cases) {
    const std::string& path = c.path;
    fe.events.clear();
    fe.log.clear();
    EXPECT_EQ(Select(path), -1);
    EXPECT_EQ(fe.events, (Events{"line Open File: " + path, "box Error|Can't open file.|error",
                                 "line " + CantOpenFileLine(c.why)}));
    EXPECT_EQ(selection.selectedModel, FindModel("WX2050"));
    EXPECT_STREQ(selection.path, good.c_str());
    EXPECT_TRUE(selection.file.isOpen()) << "the accepted file stays open";
  }
}

// A file name may hold an escape sequence or a line feed: the log shows them escaped.
TEST_F(FileSelectionTest, TheNameIsLoggedEscaped) {
  const std::string path =
      scratch.Write("a\x1b[2J\nb.fq", FirmwareText("WX2040", "1.00", "2.04", "", ""));
  EXPECT_EQ(Select(path), 0);
  ASSERT_FALSE(fe.LogLines().empty());
  EXPECT_EQ(fe.LogLines()[0], "Open File: " + scratch.path() + "/a\\x1B[2J\\x0Ab.fq");
}

TEST_F(FileSelectionTest, FrontEndWithoutDeviceListIsNotSearched) {
  fe.ops.deviceList = nullptr;
  const std::string path = scratch.Write("fw.fq", FirmwareText("WX2040", "1.00", "2.04", "", ""));
  EXPECT_EQ(Select(path), 0);
  EXPECT_TRUE(fe.Only("list ").empty());
  EXPECT_EQ(fe.Only("state "), (Events{"state FileReady"}));
}

class SilentDevice : public simbus::SimDeviceHandler {
 public:
  bool OnSessionOpened() override { return true; }
  void OnSessionClosed() override {}
  void OnMessageOut(const uint8_t*, size_t, bool) override {}
};

TEST_F(FileSelectionTest, RefreshSearchesTheAcceptedModelAndSelectsASingleMatch) {
  SilentDevice handler;
  std::string error;
  auto wx2050 = simbus::SimBusDevice::Attach(
      PrivateBusFolder(), simbus::SimDeviceIdentity{0x2E5B, 0x3A02, "SIM2050A", 0}, &handler, &error);
  ASSERT_NE(wx2050, nullptr) << error;
  auto wx2040 = simbus::SimBusDevice::Attach(
      PrivateBusFolder(), simbus::SimDeviceIdentity{0x2E5B, 0x3A01, "SIM2040A", 0}, &handler, &error);
  ASSERT_NE(wx2040, nullptr) << error;

  const std::string path = scratch.Write("fw.fq", FirmwareText("wx2050", "1.00", "2.04", "", ""));
  ASSERT_EQ(Select(path), 0);
  EXPECT_EQ(fe.list.entries, (std::vector<std::string>{"USB0::0x2E5B::0x3A02::SIM2050A::INSTR"}));
  EXPECT_EQ(fe.list.text, "USB0::0x2E5B::0x3A02::SIM2050A::INSTR");
}

}  // namespace
}  // namespace fg::test

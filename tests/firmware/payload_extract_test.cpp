// Copying the payload behind the header into the temporary file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "firmware/firmware_header.h"
#include "tests/firmware/firmware_test_files.h"

namespace fg {
namespace {

// Opens the firmware file as the selection does, then extracts from it (a file that did not
// open is passed on closed).
int32_t Extract(const std::string& firmware, int32_t offset, const std::string& temp) {
  FirmwareFile file;
  file.Open(firmware.c_str());
  return ExtractPayload(file, offset, temp.c_str());
}

class ExtractPayloadTest : public ::testing::TestWithParam<size_t> {
 protected:
  test::TempDir dir_;
};

// Payload sizes around the 64-byte copy block: every byte arrives, the last partial block too.
TEST_P(ExtractPayloadTest, CopiesThePayloadExactly) {
  const std::string header = test::Lines({"#ModelName=WX2040", "#FileStart"});
  std::string payload;
  for (size_t i = 0; i < GetParam(); ++i) payload += static_cast<char>((i * 31 + 7) & 0xFF);
  const std::string firmware = dir_.File("fw.fq");
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(firmware, header + payload);

  ASSERT_EQ(Extract(firmware, static_cast<int32_t>(header.size()), temp),
            kExtractOk);
  EXPECT_EQ(test::ReadFile(temp), payload);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ExtractPayloadTest,
                         ::testing::Values(0, 1, 63, 64, 65, 128, 1000, 7794));

class ExtractFailureTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(ExtractFailureTest, OffsetZeroCopiesTheWholeFile) {
  const std::string firmware = dir_.File("fw.fq");
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(firmware, "#ModelName=WX2040\nbinary");
  ASSERT_EQ(Extract(firmware, 0, temp), kExtractOk);
  EXPECT_EQ(test::ReadFile(temp), "#ModelName=WX2040\nbinary");
}

TEST_F(ExtractFailureTest, ExistingTemporaryFileIsCutToThePayload) {
  const std::string firmware = dir_.File("fw.fq");
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(firmware, "#FileStart\nab");
  test::WriteFile(temp, std::string(500, 'x'));
  ASSERT_EQ(Extract(firmware, 11, temp), kExtractOk);
  EXPECT_EQ(test::ReadFile(temp), "ab");
}

TEST_F(ExtractFailureTest, MissingFirmwareLeavesTheTemporaryFileAlone) {
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(temp, "keep");
  EXPECT_EQ(Extract(dir_.File("absent.fq"), 0, temp),
            kExtractCantOpenFirmware);
  EXPECT_EQ(test::ReadFile(temp), "keep");
}

TEST_F(ExtractFailureTest, UncreatableTemporaryFileFails) {
  const std::string firmware = dir_.File("fw.fq");
  test::WriteFile(firmware, "#FileStart\nab");
  EXPECT_EQ(Extract(firmware, 11, dir_.File("no/such/dir/tmp")),
            kExtractCantCreateTemp);
}

TEST_F(ExtractFailureTest, FullDiskIsReportedNotHidden) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no device that fails every write";
#endif
  // /dev/full accepts the open and fails every write with ENOSPC.
  const std::string firmware = dir_.File("fw.fq");
  test::WriteFile(firmware, "#FileStart\n" + std::string(10000, 'p'));
  EXPECT_EQ(Extract(firmware, 11, "/dev/full"), kExtractWriteFailed);
}

// The copy ends at the size the file had when it was opened: a file cut short since is an error,
// one grown since gives no more than was checked.
TEST_F(ExtractFailureTest, ReadsTheSizeCheckedAtOpen) {
  const std::string firmware = dir_.File("fw.fq");
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(firmware, "#FileStart\n" + std::string(100, 'p'));
  FirmwareFile file;
  ASSERT_TRUE(file.Open(firmware.c_str()));
  test::WriteFile(firmware, "#FileStart\n" + std::string(200, 'q'));  // same file, rewritten
  ASSERT_EQ(ExtractPayload(file, 11, temp.c_str()), kExtractOk);
  EXPECT_EQ(test::ReadFile(temp), std::string(100, 'q'));
  test::WriteFile(firmware, "#FileStart\n");
  EXPECT_EQ(ExtractPayload(file, 11, temp.c_str()), kExtractReadFailed);
}

// The payload comes from the file that was opened, even once its name is gone (on Windows the
// open file must let others delete it, as POSIX does).
TEST_F(ExtractFailureTest, TheOpenFileIsExtractedAfterItsNameWasRemoved) {
  const std::string firmware = dir_.File("fw.fq");
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(firmware, "#FileStart\nchecked");
  FirmwareFile file;
  ASSERT_TRUE(file.Open(firmware.c_str()));
  std::error_code ec;
  ASSERT_TRUE(std::filesystem::remove(firmware, ec)) << ec.message();
  ASSERT_EQ(ExtractPayload(file, 11, temp.c_str()), kExtractOk);
  EXPECT_EQ(test::ReadFile(temp), "checked");
}

TEST_F(ExtractFailureTest, TheTemporaryFileIsNeverWrittenThroughALink) {
  const std::string firmware = dir_.File("fw.fq");
  const std::string target = dir_.File("target");
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(firmware, "#FileStart\nab");
  test::WriteFile(target, "keep");
#ifdef _WIN32
  if (!test::MakeSymbolicLink(target, temp)) GTEST_SKIP() << "no symbolic link can be made here";
#else
  ASSERT_TRUE(test::MakeSymbolicLink(target, temp));
#endif
  EXPECT_EQ(Extract(firmware, 11, temp), kExtractCantCreateTemp);
  EXPECT_EQ(test::ReadFile(target), "keep");
}

// The digest taken when the file was accepted pins its payload: the copy of an unchanged file
// passes, one with bytes overwritten in place (the size unchanged) is refused and removed. The
// digest covers exactly the payload, so the header in front of it does not count.
TEST_F(ExtractFailureTest, APayloadChangedInPlaceSinceItsDigestIsRefused) {
  const std::string header = "#ModelName=WX2040\n#FileStart\n";
  std::string payload;
  for (int i = 0; i < 40000; ++i) payload += static_cast<char>((i * 13 + 5) & 0xFF);
  const std::string firmware = dir_.File("fw.fq");
  const std::string temp = dir_.File("payload.tmp");
  test::WriteFile(firmware, header + payload);
  FirmwareFile file;
  ASSERT_TRUE(file.Open(firmware.c_str()));
  const auto offset = static_cast<int32_t>(header.size());
  Sha256Digest accepted{};
  ASSERT_EQ(DigestPayload(file, offset, &accepted), kExtractOk);

  Sha256 hash;
  Sha256Start(&hash);
  Sha256Feed(&hash, payload.data(), payload.size());
  EXPECT_EQ(accepted, Sha256Finish(&hash));
  ASSERT_EQ(ExtractPayload(file, offset, temp.c_str(), &accepted), kExtractOk);
  EXPECT_EQ(test::ReadFile(temp), payload);

  test::OverwriteInPlace(firmware, 3, 8);  // inside the header only
  EXPECT_EQ(ExtractPayload(file, offset, temp.c_str(), &accepted), kExtractOk);

  test::OverwriteInPlace(firmware, offset + 20000, 16);
  EXPECT_EQ(ExtractPayload(file, offset, temp.c_str(), &accepted), kExtractChanged);
  EXPECT_FALSE(std::filesystem::exists(temp)) << "the changed copy was left behind";
  EXPECT_EQ(ExtractPayload(file, offset, temp.c_str()), kExtractOk) << "without a digest to match";
}

TEST_F(ExtractFailureTest, NoDigestOfAClosedOrShortenedFile) {
  const std::string firmware = dir_.File("fw.fq");
  test::WriteFile(firmware, "#FileStart\n" + std::string(100, 'p'));
  Sha256Digest digest{};
  FirmwareFile file;
  EXPECT_EQ(DigestPayload(file, 11, &digest), kExtractCantOpenFirmware);
  ASSERT_TRUE(file.Open(firmware.c_str()));
  test::WriteFile(firmware, "#FileStart\n");
  EXPECT_EQ(DigestPayload(file, 11, &digest), kExtractReadFailed);
}

}  // namespace
}  // namespace fg

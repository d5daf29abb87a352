// The vendor provider on Windows: visa64.dll found by the system's library search, and libraries
// named by a Windows path.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/private_folder.h"
#include "visa/builtin_providers.h"
#include "visa/vendor/vendor_provider.h"

namespace fg::test {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string ProgramFolder() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path, length);
  return text.substr(0, text.find_last_of('\\'));
}

class VendorDll : public ::testing::Test {
 protected:
  void SetUp() override { _putenv_s("FLINTGATE_VISA_LIBRARY", ""); }
};

TEST_F(VendorDll, Visa64BesideTheProgramIsFoundByNameAndAnswers) {
  std::vector<visa::Diagnostic> skipped;
  std::unique_ptr<visa::Provider> vendor = visa::CreateVendorProvider(&skipped);
  ASSERT_NE(vendor, nullptr);
  EXPECT_TRUE(skipped.empty());
  const std::string description = vendor->Describe();
  // The file the system loaded, by its full path, then the library's own facts.
  EXPECT_TRUE(Contains(description, ProgramFolder() + "\\visa64.dll")) << description;
  EXPECT_TRUE(Contains(description, "by Other VISA, version 1.2.0")) << description;
  EXPECT_TRUE(Contains(visa::VendorSearchDescription(), "visa64.dll"));

  std::vector<std::string> names;
  vendor->ListResources(&names);
  ASSERT_EQ(names, std::vector<std::string>{"USB0::0x1234::0x5678::OTHER1::0::INSTR"});
  std::unique_ptr<visa::InstrSession> session;
  ASSERT_EQ(vendor->Open("USB0::0x1234::0x5678::OTHER1::INSTR", 1000, &session), visa::VI_SUCCESS);
  uint32_t written = 0, received = 0;
  const uint8_t query[] = "*IDN?\n";
  EXPECT_EQ(session->Write(query, 6, &written, 1000), visa::VI_SUCCESS);
  EXPECT_EQ(written, 6u);
  uint8_t reply[16] = {};
  EXPECT_EQ(session->Read(reply, sizeof reply, &received, 1000), visa::VI_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), received), "OTHER\n");
}

TEST_F(VendorDll, LibrariesNamedByAWindowsPathAreCheckedAndSkippedWithAReason) {
  const std::string folder = ProgramFolder();
  std::vector<visa::Diagnostic> skipped;

  const std::string incomplete = folder + "\\" + FG_INCOMPLETE_VISA_LIBRARY;
  EXPECT_EQ(visa::LoadVendorLibrary(incomplete, &skipped), nullptr);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_TRUE(Contains(skipped[0].problem, incomplete + " lacks viFindRsrc")) << skipped[0].problem;

  skipped.clear();
  EXPECT_EQ(visa::LoadVendorLibrary(folder + "\\no-such-folder\\visa64.dll", &skipped), nullptr);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_TRUE(Contains(skipped[0].problem, "does not exist")) << skipped[0].problem;

  std::string scratch;
  ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-dll-test-", &scratch));
  const std::string text = scratch + "\\visa64.dll";
  std::ofstream(text) << "not a library\n";
  skipped.clear();
  EXPECT_EQ(visa::LoadVendorLibrary(text, &skipped), nullptr);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_TRUE(Contains(skipped[0].problem, "cannot be loaded: ")) << skipped[0].problem;
  platform::RemoveFileNow(text.c_str());
  platform::RemoveFolderNow(scratch.c_str());

  // Named through the environment, a path wins over the search by name.
  _putenv_s("FLINTGATE_VISA_LIBRARY", incomplete.c_str());
  skipped.clear();
  EXPECT_EQ(visa::CreateVendorProvider(&skipped), nullptr);
  EXPECT_EQ(skipped.size(), 1u);
}

}  // namespace
}  // namespace fg::test

// The Windows platform pieces: the private folder and the payload folder in it, and terminal
// detection.
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <io.h>
// clang-format on

#include <cstdio>
#include <string>

#include "platform/private_folder.h"
#include "platform/shared_file.h"
#include "platform/terminal.h"
#include "sequence/payload_folder.h"

namespace fg::test {
namespace {

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string TempFolder() {
  char base[MAX_PATH + 1] = {};
  return std::string(base, GetTempPathA(sizeof base, base));
}

TEST(PrivateFolder, OnlyTheUserHasAccessAndNothingIsInherited) {
  std::string first, second;
  ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-win-test-", &first));
  ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-win-test-", &second));
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind(TempFolder() + "fg-win-test-", 0), 0u) << first;
  EXPECT_TRUE(IsFolder(first));
  const bool underWine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  if (underWine) {
    // Wine derives a folder's access list from its Unix mode instead of keeping the one given.
    platform::RemoveFolderNow(first.c_str());
    platform::RemoveFolderNow(second.c_str());
    GTEST_SKIP() << "wine does not keep the access lists of folders";
  }

  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(first.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "entries of the temporary folder reach inside";
  ASSERT_NE(dacl, nullptr) << "a missing list would let everybody in";
  ASSERT_EQ(dacl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);

  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  char user[256];
  DWORD size = sizeof user;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, size, &size));
  CloseHandle(token);
  EXPECT_TRUE(EqualSid(&allowed->SidStart, reinterpret_cast<TOKEN_USER*>(user)->User.Sid));
  LocalFree(descriptor);

  platform::RemoveFolderNow(first.c_str());
  platform::RemoveFolderNow(second.c_str());
  EXPECT_FALSE(IsFolder(first));
  EXPECT_FALSE(IsFolder(second));
}

TEST(PayloadFolder, PayloadPathLiesInAPrivateFolderThatIsRemovedWithIt) {
  const std::string path = PayloadTempPath();
  ASSERT_FALSE(path.empty());
  const std::string folder = path.substr(0, path.find_last_of('\\'));
  EXPECT_EQ(path, folder + "\\" + kPayloadFileName);
  EXPECT_EQ(folder.rfind(TempFolder() + "flintgate-", 0), 0u) << folder;
  EXPECT_TRUE(IsFolder(folder));
  std::FILE* payload = std::fopen(path.c_str(), "wb");
  ASSERT_NE(payload, nullptr);
  std::fputs("payload", payload);
  std::fclose(payload);

  RemovePayloadFolder();
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(IsFolder(folder));
  const std::string again = PayloadTempPath();
  EXPECT_NE(again, path) << "a fresh folder after removal";
  RemovePayloadFolder();
}

// The console control handler runs on a thread of its own while the update still has the payload
// open; the payload must go all the same.
TEST(SharedFile, AnOpenFileCanBeRemovedAndEveryModeWorks) {
  std::string folder;
  ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-win-test-", &folder));
  const std::string path = folder + "\\payload";
  std::FILE* out = platform::OpenSharedFile(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fputs("abc", out);
  std::fclose(out);
  std::FILE* more = platform::OpenSharedFile(path.c_str(), "r+b");
  ASSERT_NE(more, nullptr);
  std::fseek(more, 0, SEEK_END);
  std::fputs("de", more);
  std::fclose(more);

  std::FILE* in = platform::OpenSharedFile(path.c_str(), "rb");
  ASSERT_NE(in, nullptr);
  char text[8] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text, in), 5u);
  EXPECT_STREQ(text, "abcde");
  platform::RemoveFileNow(path.c_str());  // while open, as the handler does
  std::fclose(in);
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << "the payload stayed";

  EXPECT_EQ(platform::OpenSharedFile(path.c_str(), "rb"), nullptr);
  EXPECT_EQ(platform::OpenSharedFile(path.c_str(), "a"), nullptr);
  platform::RemoveFolderNow(folder.c_str());
  EXPECT_FALSE(IsFolder(folder));
}

TEST(Terminal, FilesAndTheNullDeviceAreNoTerminal) {
  std::FILE* null = std::fopen("NUL", "w");
  ASSERT_NE(null, nullptr);
  // The C runtime's own test takes every character device for a terminal.
  EXPECT_NE(_isatty(_fileno(null)), 0);
  EXPECT_FALSE(platform::IsTerminal(null));
  EXPECT_FALSE(platform::EnableInPlaceLine(null));
  platform::TerminalWidth width;
  width.stream = null;
  EXPECT_EQ(platform::TerminalColumns(&width), 0);  // nothing to fit the lines to
  std::fclose(null);

  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(platform::IsTerminal(file));
  std::fclose(file);
  EXPECT_FALSE(platform::IsTerminal(nullptr));
}

}  // namespace
}  // namespace fg::test

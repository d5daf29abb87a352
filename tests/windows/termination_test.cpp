// Ctrl-C and its kin on Windows: a program ended by a console event removes its payload folder.
// The test starts this program again as a child that ends that way.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/private_folder.h"
#include "sequence/payload_folder.h"

namespace fg::test {
namespace {

constexpr char kChildVariable[] = "FG_TERMINATION_CHILD";

// A file beside the payload folder, which the clean-up leaves alone.
void Mark(const char* name) {
  char temp[MAX_PATH + 1] = {};
  GetTempPathA(sizeof temp, temp);
  std::FILE* mark = std::fopen((std::string(temp) + name).c_str(), "wb");
  if (mark != nullptr) std::fclose(mark);
}

// The child: a payload written, the handler installed, then Ctrl-C on its own console.
TEST(Termination, ChildSide) {
  const char* event = std::getenv(kChildVariable);
  if (event == nullptr) GTEST_SKIP() << "runs as the child of ConsoleEventRemovesThePayload";
  RemovePayloadFolderOnTerminatingSignals();
  std::FILE* payload = std::fopen(PayloadTempPath().c_str(), "wb");
  ASSERT_NE(payload, nullptr);
  std::fputs("payload", payload);
  std::fclose(payload);
  Mark("started");
  ASSERT_TRUE(GenerateConsoleCtrlEvent(std::atoi(event), 0));
  Sleep(10000);
  Mark("survived");
}

// Runs the child with its temporary folder in `temp`.
void RunChild(const std::string& temp, DWORD event) {
  char self[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string command = std::string("\"") + self + "\" --gtest_filter=Termination.ChildSide";
  SetEnvironmentVariableA(kChildVariable, std::to_string(event).c_str());
  char oldTemp[MAX_PATH + 1] = {};
  GetEnvironmentVariableA("TMP", oldTemp, sizeof oldTemp);
  SetEnvironmentVariableA("TMP", temp.c_str());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE,
                     CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  SetEnvironmentVariableA(kChildVariable, nullptr);
  SetEnvironmentVariableA("TMP", oldTemp[0] != '\0' ? oldTemp : nullptr);
}

// Ctrl-Break, a closed console, log-off and shut-down take the same way through the handler.
TEST(Termination, ConsoleEventRemovesThePayload) {
  std::string temp;
  ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-term-test-", &temp));
  RunChild(temp, CTRL_C_EVENT);
  std::vector<std::string> left;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(temp, ec)) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"started"}) << "in " << temp;
  std::filesystem::remove_all(temp, ec);
}

}  // namespace
}  // namespace fg::test

// Ctrl-C and its kin on Windows: a program ended by a console event removes its payload folder;
// while partitions are programmed the first event is deferred and a second one within 3 s ends
// the program. The test starts this program again as a child that meets those events.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/private_folder.h"
#include "sequence/payload_folder.h"
#include "util/stop_request.h"

namespace fg::test {
namespace {

constexpr char kChildVariable[] = "FG_TERMINATION_CHILD";
constexpr char kProgrammingVariable[] = "FG_TERMINATION_WHILE_PROGRAMMING";

// A file beside the payload folder, which the clean-up leaves alone.
void Mark(const char* name) {
  char temp[MAX_PATH + 1] = {};
  GetTempPathA(sizeof temp, temp);
  std::FILE* mark = std::fopen((std::string(temp) + name).c_str(), "wb");
  if (mark != nullptr) std::fclose(mark);
}

// The child: a payload written, the handler installed, then Ctrl-C on its own console; while
// programming, a second one after the first was seen to be deferred.
TEST(Termination, ChildSide) {
  const char* event = std::getenv(kChildVariable);
  if (event == nullptr) GTEST_SKIP() << "runs as the child of the tests below";
  const bool programming = std::getenv(kProgrammingVariable) != nullptr;
  RemovePayloadFolderOnTerminatingSignals();
  std::FILE* payload = std::fopen(PayloadTempPath().c_str(), "wb");
  ASSERT_NE(payload, nullptr);
  std::fputs("payload", payload);
  std::fclose(payload);
  Mark("started");
  std::optional<ProgrammingScope> scope;
  if (programming) scope.emplace();
  ASSERT_TRUE(GenerateConsoleCtrlEvent(std::atoi(event), 0));
  if (programming) {
    // The handler runs on a thread of its own: wait for it to record the request.
    for (int i = 0; i < 500 && !StopRequested(); ++i) Sleep(10);
    if (!StopRequested()) return;
    Mark("deferred");
    ASSERT_TRUE(GenerateConsoleCtrlEvent(std::atoi(event), 0));
  }
  Sleep(10000);
  Mark("survived");
}

// Runs the child with its temporary folder in `temp`.
void RunChild(const std::string& temp, DWORD event, bool whileProgramming) {
  char self[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string command = std::string("\"") + self + "\" --gtest_filter=Termination.ChildSide";
  SetEnvironmentVariableA(kChildVariable, std::to_string(event).c_str());
  SetEnvironmentVariableA(kProgrammingVariable, whileProgramming ? "1" : nullptr);
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
  SetEnvironmentVariableA(kProgrammingVariable, nullptr);
  SetEnvironmentVariableA("TMP", oldTemp[0] != '\0' ? oldTemp : nullptr);
}

// What the child left in its temporary folder, which is then removed.
std::vector<std::string> LeftIn(const std::string& temp) {
  std::vector<std::string> left;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(temp, ec)) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  std::filesystem::remove_all(temp, ec);
  return left;
}

// Ctrl-Break, a closed console, log-off and shut-down take the same way through the handler.
TEST(Termination, ConsoleEventRemovesThePayload) {
  std::string temp;
  ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-term-test-", &temp));
  RunChild(temp, CTRL_C_EVENT, false);
  EXPECT_EQ(LeftIn(temp), std::vector<std::string>{"started"}) << "in " << temp;
}

TEST(Termination, WhileProgrammingTheFirstEventIsDeferredAndASecondEndsTheProgram) {
  std::string temp;
  ASSERT_TRUE(platform::CreatePrivateTempFolder("fg-term-test-", &temp));
  RunChild(temp, CTRL_C_EVENT, true);
  EXPECT_EQ(LeftIn(temp), (std::vector<std::string>{"deferred", "started"})) << "in " << temp;
}

}  // namespace
}  // namespace fg::test

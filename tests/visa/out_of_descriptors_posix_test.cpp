// A process that has used up its file descriptors: the resource manager, searches and opens
// answer VI_ERROR_ALLOC, not "not found", and all of them work again once descriptors are free.
// The limit is lowered in a child process (a death test), so the test runner keeps its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/visa/support/env_guard.h"
#include "tests/visa/support/private_bus.h"
#include "visa/provider_registry.h"
#include "visa/visa.h"

namespace fg::visa {
namespace {

// Opens files until the process may open no more; false when that is not EMFILE.
bool UseUpDescriptors(std::vector<int>* held) {
  for (;;) {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == EMFILE;
    held->push_back(fd);
  }
}

// Room for what one open of a simulated instrument needs at once: the bus folder and its walk,
// the listing, the probe and the session's socket.
void FreeSome(std::vector<int>* held) {
  for (int i = 0; i < 16 && !held->empty(); ++i) {
    ::close(held->back());
    held->pop_back();
  }
}

// The child's part: every check that fails is said on standard error, which the death test
// shows, and the exit status says whether any did.
[[noreturn]] void OpenWithoutDescriptors(const std::string& name) {
  int failures = 0;
  auto expect = [&failures](ViStatus got, ViStatus wanted, const char* what) {
    if (got == wanted) return;
    std::fprintf(stderr, "%s answered 0x%08X, not 0x%08X\n", what, static_cast<unsigned>(got),
                 static_cast<unsigned>(wanted));
    ++failures;
  };
  // Providers are chosen afresh in here, where doing so finds no descriptor to spare.
  ResetProvidersForTesting();
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = 64;
  std::vector<int> held;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0 || !UseUpDescriptors(&held)) {
    std::fprintf(stderr, "the descriptors could not be used up: %s\n", std::strerror(errno));
    _exit(2);
  }

  ViSession rm = VI_NULL;
  expect(viOpenDefaultRM(&rm), VI_ERROR_ALLOC, "viOpenDefaultRM while the providers are chosen");
  FreeSome(&held);
  expect(viOpenDefaultRM(&rm), VI_SUCCESS, "viOpenDefaultRM with descriptors free again");

  UseUpDescriptors(&held);
  ViSession vi = VI_NULL;
  expect(viOpen(rm, name.c_str(), VI_NULL, 2000, &vi), VI_ERROR_ALLOC, "viOpen");
  ViFindList list = VI_NULL;
  ViUInt32 count = 0;
  ViChar text[VI_FIND_BUFLEN];
  expect(viFindRsrc(rm, "USB?*INSTR", &list, &count, text), VI_ERROR_ALLOC, "viFindRsrc");
  expect(viStatusDesc(rm, VI_ERROR_ALLOC, text), VI_SUCCESS, "viStatusDesc");
  if (std::strstr(text, "file descriptors") == nullptr) {
    std::fprintf(stderr, "the text of VI_ERROR_ALLOC does not name descriptors: %s\n", text);
    ++failures;
  }

  FreeSome(&held);
  expect(viOpen(rm, name.c_str(), VI_NULL, 2000, &vi), VI_SUCCESS,
         "viOpen with descriptors free again");
  expect(viClose(rm), VI_SUCCESS, "viClose");
  _exit(failures == 0 ? 0 : 1);
}

TEST(OutOfDescriptorsDeathTest, OpensAnswerAllocUntilDescriptorsAreFree) {
#ifdef __SANITIZE_ADDRESS__
  // The sanitizer build pairs ASan with UBSan, whose check of a virtual call probes memory
  // through a pipe of its own: without a descriptor to spare it reports a bad object that is not.
  GTEST_SKIP() << "UBSan's vptr check needs descriptors of its own";
#endif
  fg::testing::PrivateBus bus;
  ASSERT_FALSE(bus.path().empty());
  fg::testing::EnvGuard env{{"FLINTGATE_VISA_PROVIDERS", "simbus"}};
  std::string error;
  auto instrument = fg::testing::EchoInstrument::Attach(
      bus, 0x3A01, "FDLIM1", [](const std::string&) { return std::string(); }, &error);
  ASSERT_NE(instrument, nullptr) << error;
  // The instrument's thread stays in this process and serves the child's connections.
  EXPECT_EXIT(OpenWithoutDescriptors(instrument->name()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace fg::visa

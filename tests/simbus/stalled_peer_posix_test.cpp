// A device that listens but never accepts (stopped, wedged): searches and opens of the bus end
// at once, and a full backlog reads as busy rather than as gone.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "tests/visa/support/private_bus.h"
#include "visa/builtin_providers.h"
#include "visa/simbus/simbus_device_name.h"
#include "visa/simbus/simbus_folder.h"
#include "visa/simbus/simbus_socket.h"

namespace fg {
namespace {

using testing::PrivateBus;

// Runs `body` in a child process and fails when it has not ended within `seconds`: a hang must
// fail the test, not stall the suite. The child's exit status is the body's verdict.
void ExpectEndsWithin(int seconds, const std::function<bool()>& body) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(body() ? 0 : 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      FAIL() << "still blocked after " << seconds << " s";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's checks failed";
}

// A device socket that listens with the smallest backlog and never accepts, its backlog
// filled by connections nobody will take.
class StalledDevice {
 public:
  StalledDevice(const std::string& folder, const simbus::SimDeviceIdentity& identity) {
    path_ = folder + "/" + simbus::DeviceEntryName(identity);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    bound_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
             ::listen(listener_, 0) == 0;
    for (int i = 0; bound_ && i < 64; ++i) {
      int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        full_ = errno == EAGAIN;
        ::close(fd);
        break;
      }
      queued_.push_back(fd);
    }
  }
  ~StalledDevice() {
    for (int fd : queued_) ::close(fd);
    ::close(listener_);
  }
  bool Ready() const { return bound_ && full_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int listener_ = -1;
  bool bound_ = false;
  bool full_ = false;
  std::vector<int> queued_;
};

TEST(StalledPeerTest, FullBacklogIsBusyAndNeverBlocks) {
  PrivateBus bus;
  const simbus::SimDeviceIdentity identity{0x2E5B, 0x3A01, "WEDGED", 0};
  StalledDevice device(bus.path(), identity);
  ASSERT_TRUE(device.Ready());

  ExpectEndsWithin(10, [&] {
    // The socket level: busy at once.
    const int fd = simbus::ConnectUnix(device.path(), simbus::Deadline::After(5000));
    if (fd >= 0 || errno != EAGAIN) return false;
    // The listing still shows the device: it is there, only not answering.
    std::string problem;
    const auto folder = simbus::BusFolder::Open(bus.path(), &problem);
    if (!folder || simbus::ListBusDevices(*folder).size() != 1) return false;
    auto provider = visa::CreateSimBusProvider();
    std::unique_ptr<visa::InstrSession> session;
    const auto start = std::chrono::steady_clock::now();
    const visa::ViStatus status =
        provider->Open("USB0::0x2E5B::0x3A01::WEDGED::INSTR", 1000, &session);
    return status == visa::VI_ERROR_RSRC_BUSY &&
           std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500);
  });
}

}  // namespace
}  // namespace fg

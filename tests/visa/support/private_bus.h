// Test support: a private simulated-bus folder (made as the program makes its own private
// folders: mode 0700, or an access list with only the user; FLINTGATE_SIMBUS points at it while
// it lives) and a minimal instrument on it that answers each message through a function.
#pragma once
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/private_folder.h"
#include "tests/visa/support/env_guard.h"
#include "visa/simbus/simbus_device.h"

namespace fg::testing {

class PrivateBus {
 public:
  PrivateBus() {
    if (platform::CreatePrivateTempFolder("fg-bus-", &path_)) {
      SetEnvironment("FLINTGATE_SIMBUS", path_.c_str());
    }
    // The instrument locks of the bus's instruments are private too (XDG_RUNTIME_DIR holds
    // them on Linux): other tests use the same serial numbers at the same time. Windows keeps
    // them under the user's temporary folder, and its tests run one program at a time.
    if (platform::CreatePrivateTempFolder("fg-visa-run-", &runtime_)) {
      SetEnvironment("XDG_RUNTIME_DIR", runtime_.c_str());
    }
  }
  ~PrivateBus() {
    SetEnvironment("FLINTGATE_SIMBUS", nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    if (!runtime_.empty()) std::filesystem::remove_all(runtime_, ignored);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string runtime_;
};

// Answers every whole message with answer(message); an empty answer sends nothing.
class EchoInstrument : public simbus::SimDeviceHandler {
 public:
  using Answer = std::function<std::string(const std::string&)>;

  static std::unique_ptr<EchoInstrument> Attach(const PrivateBus& bus, uint16_t productId,
                                                const std::string& serial, Answer answer,
                                                std::string* error) {
    std::unique_ptr<EchoInstrument> instrument(new EchoInstrument(std::move(answer)));
    simbus::SimDeviceIdentity identity{0x2E5B, productId, serial, 0};
    instrument->device_ = simbus::SimBusDevice::Attach(bus.path(), identity, instrument.get(), error);
    if (!instrument->device_) return nullptr;
    return instrument;
  }
  ~EchoInstrument() override {
    if (device_) device_->Detach();
  }

  simbus::SimBusDevice* device() { return device_.get(); }
  std::string name() const { return device_->ResourceName(); }
  std::string Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

  int Triggers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return triggers_;
  }
  void OnTrigger() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++triggers_;
  }
  uint8_t OnReadStatusByte() override { return 0x01; }
  bool OnSessionOpened() override { return true; }
  void OnSessionClosed() override {}
  void OnMessageOut(const uint8_t* data, size_t size, bool endOfMessage) override {
    std::string reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending_.append(reinterpret_cast<const char*>(data), size);
      if (!endOfMessage) return;
      received_ += pending_;
      reply = answer_(pending_);
      pending_.clear();
    }
    if (!reply.empty()) {
      device_->QueueReply(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
    }
  }

 private:
  explicit EchoInstrument(Answer answer) : answer_(std::move(answer)) {}
  Answer answer_;
  std::unique_ptr<simbus::SimBusDevice> device_;
  std::mutex mutex_;
  std::string pending_;
  std::string received_;
  int triggers_ = 0;
};

}  // namespace fg::testing

// A minimal simulated instrument for the bus tests: records every callback, answers each whole
// message with a reply chosen by the test, and can refuse sessions or leave the bus on cue.
#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "visa/simbus/simbus_device.h"

namespace fg::testing {

class RecordingHandler : public simbus::SimDeviceHandler {
 public:
  // Called with each complete message; returns the reply to queue ("" queues nothing).
  std::function<std::string(const std::string&)> answer;
  bool refuseSessions = false;
  simbus::SimBusDevice* device = nullptr;  // for replies and Detach from inside callbacks

  bool OnSessionOpened() override {
    Record(refuseSessions ? "refused" : "opened");
    return !refuseSessions;
  }
  void OnSessionClosed() override { Record("closed"); }
  void OnClear() override {
    partial_.clear();
    Record("clear");
  }
  void OnMessageOut(const uint8_t* data, size_t size, bool endOfMessage) override {
    std::string reply, message;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      partial_.append(reinterpret_cast<const char*>(data), size);
      transfers_.push_back(size);
      if (!endOfMessage) return;
      messages_.push_back(partial_);
      events_.push_back("message");
      message.swap(partial_);
    }
    changed_.notify_all();
    if (answer) reply = answer(message);
    if (!reply.empty() && device != nullptr) {
      device->QueueReply(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
    }
  }

  // Waits (generously) until `event` has been recorded `count` times.
  bool WaitFor(const std::string& event, size_t count = 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return Count(event) >= count; });
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<std::string> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  std::vector<size_t> TransferSizes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return transfers_;
  }

 private:
  void Record(const std::string& event) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(event);
    }
    changed_.notify_all();
  }
  size_t Count(const std::string& event) const {
    size_t n = 0;
    for (const std::string& e : events_) n += e == event ? 1 : 0;
    return n;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
  std::vector<std::string> messages_;
  std::vector<size_t> transfers_;
  std::string partial_;
};

}  // namespace fg::testing

// A simulated instrument on the simulated bus: an InstrumentEngine attached as a USBTMC device,
// with a thread that delivers its timed replies and carries out its restarts. This is the device
// library that tests use in-process and that flintgate-sim runs.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/instrument_engine.h"
#include "visa/simbus/simbus_device.h"

namespace fg::sim {

class SimInstrument {
 public:
  // Powers the instrument up on the bus in `busFolder` (normally simbus::DefaultBusFolder()).
  // Null with *error set when it cannot join the bus.
  static std::unique_ptr<SimInstrument> Start(InstrumentSetup setup, FlashStore flash,
                                              const std::string& busFolder, std::string* error);
  ~SimInstrument();  // leaves the bus
  SimInstrument(const SimInstrument&) = delete;
  SimInstrument& operator=(const SimInstrument&) = delete;

  // The resource name the host reaches it by in its current firmware.
  std::string ResourceName() const;
  FirmwareMode Mode() const;
  // On the bus, in the given firmware. Waits up to timeoutMs for that; true when it is so.
  bool WaitOnBus(FirmwareMode mode, uint32_t timeoutMs) const;
  // Waits up to timeoutMs until the instrument has left the bus.
  bool WaitOffBus(uint32_t timeoutMs) const;

  // Leaves the bus and comes back in the normal firmware after the restart delay.
  void PowerCycle();
  void SetFaults(FaultPlan faults);

  std::vector<uint8_t> PartitionContent(uint32_t row) const;
  std::string VersionRun() const;
  std::string DisplayText() const;
  uint32_t OpenSessions() const;

 private:
  class Handler;
  struct Attachment {
    std::unique_ptr<Handler> handler;  // outlives its device
    std::unique_ptr<simbus::SimBusDevice> device;
  };

  SimInstrument(InstrumentSetup setup, FlashStore flash, std::string busFolder);
  static uint64_t NowMs();
  bool Join(std::unique_lock<std::mutex>& lock, uint16_t productId, std::string* error);
  void Leave(std::unique_lock<std::mutex>& lock);
  void Run();
  // Queues the replies that are due, when the caller's attachment is the current one.
  void DeliverDue(uint32_t generation);

  // Called by the handler of attachment `generation`.
  bool SessionOpened(uint32_t generation);
  void SessionClosed(uint32_t generation);
  void MessageOut(uint32_t generation, const uint8_t* data, size_t size, bool endOfMessage);
  void Clear(uint32_t generation);
  void Trigger(uint32_t generation);

  const std::string busFolder_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  InstrumentEngine engine_;
  Attachment current_;
  uint32_t generation_ = 0;  // of current_; handlers of older attachments are ignored
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace fg::sim

#include "sim/sim_instrument.h"

#include <chrono>
#include <cstdio>

namespace fg::sim {

// Forwards the bus endpoint's callbacks, tagged with the attachment they belong to.
class SimInstrument::Handler final : public simbus::SimDeviceHandler {
 public:
  Handler(SimInstrument* owner, uint32_t generation) : owner_(owner), generation_(generation) {}
  bool OnSessionOpened() override { return owner_->SessionOpened(generation_); }
  void OnSessionClosed() override { owner_->SessionClosed(generation_); }
  void OnMessageOut(const uint8_t* data, size_t size, bool endOfMessage) override {
    owner_->MessageOut(generation_, data, size, endOfMessage);
  }
  void OnClear() override { owner_->Clear(generation_); }
  void OnTrigger() override { owner_->Trigger(generation_); }

 private:
  SimInstrument* const owner_;
  const uint32_t generation_;
};

uint64_t SimInstrument::NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

SimInstrument::SimInstrument(InstrumentSetup setup, FlashStore flash, std::string busFolder)
    : busFolder_(std::move(busFolder)), engine_(std::move(setup), std::move(flash), NowMs()) {}

std::unique_ptr<SimInstrument> SimInstrument::Start(InstrumentSetup setup, FlashStore flash,
                                                    const std::string& busFolder,
                                                    std::string* error) {
  std::unique_ptr<SimInstrument> instrument(
      new SimInstrument(std::move(setup), std::move(flash), busFolder));
  {
    // The power-up join is carried out here, so that a bus that refuses it is reported.
    std::unique_lock<std::mutex> lock(instrument->mutex_);
    Action action;
    if (!instrument->engine_.TakeDue(NowMs(), true, &action) || action.kind != ActionKind::kJoin) {
      *error = "the instrument did not power up";
      return nullptr;
    }
    if (!instrument->Join(lock, action.productId, error)) return nullptr;
  }
  instrument->worker_ = std::thread([raw = instrument.get()] { raw->Run(); });
  return instrument;
}

SimInstrument::~SimInstrument() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (worker_.joinable()) worker_.join();
  std::unique_lock<std::mutex> lock(mutex_);
  Leave(lock);
}

bool SimInstrument::Join(std::unique_lock<std::mutex>& lock, uint16_t productId,
                         std::string* error) {
  Leave(lock);
  const uint32_t generation = ++generation_;
  auto handler = std::make_unique<Handler>(this, generation);
  simbus::SimDeviceIdentity identity;
  identity.vendorId = kVendorId;
  identity.productId = productId;
  identity.serial = engine_.Serial();
  // The endpoint calls back on its own thread as soon as it exists, and those callbacks take
  // the lock; attach without holding it.
  lock.unlock();
  std::unique_ptr<simbus::SimBusDevice> device =
      simbus::SimBusDevice::Attach(busFolder_, identity, handler.get(), error);
  lock.lock();
  if (device == nullptr) return false;
  current_.handler = std::move(handler);
  current_.device = std::move(device);
  changed_.notify_all();
  return true;
}

void SimInstrument::Leave(std::unique_lock<std::mutex>& lock) {
  if (current_.device == nullptr) return;
  Attachment old = std::move(current_);
  current_ = Attachment{};
  ++generation_;
  // Destroying the endpoint joins its thread, which may be waiting for the lock in a callback.
  lock.unlock();
  old.device.reset();
  old.handler.reset();
  lock.lock();
  changed_.notify_all();
}

void SimInstrument::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    const uint64_t now = NowMs();
    Action action;
    if (engine_.TakeDue(now, true, &action)) {
      switch (action.kind) {
        case ActionKind::kReply:
          if (current_.device != nullptr) {
            current_.device->QueueReply(reinterpret_cast<const uint8_t*>(action.bytes.data()),
                                        action.bytes.size());
          }
          break;
        case ActionKind::kLeave:
          Leave(lock);
          break;
        case ActionKind::kJoin: {
          std::string error;
          if (!Join(lock, action.productId, &error)) {
            std::fprintf(stderr, "flintgate-sim: %s cannot rejoin the bus: %s\n",
                         engine_.Serial().c_str(), error.c_str());
          }
          break;
        }
      }
      continue;
    }
    uint64_t due = 0;
    if (engine_.NextDue(&due)) {
      changed_.wait_for(lock, std::chrono::milliseconds(due > now ? due - now : 0));
    } else {
      changed_.wait(lock);
    }
  }
}

void SimInstrument::DeliverDue(uint32_t generation) {
  if (generation == generation_ && current_.device != nullptr) {
    Action action;
    while (engine_.TakeDue(NowMs(), false, &action)) {
      current_.device->QueueReply(reinterpret_cast<const uint8_t*>(action.bytes.data()),
                                  action.bytes.size());
    }
  }
  // Later replies and bus changes are the worker's.
  changed_.notify_all();
}

bool SimInstrument::SessionOpened(uint32_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return false;
  const bool accepted = engine_.OnSessionOpened(NowMs());
  changed_.notify_all();
  return accepted;
}

void SimInstrument::SessionClosed(uint32_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return;
  engine_.OnSessionClosed(NowMs());
  changed_.notify_all();
}

void SimInstrument::MessageOut(uint32_t generation, const uint8_t* data, size_t size,
                               bool endOfMessage) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return;
  engine_.OnMessageOut(NowMs(), data, size, endOfMessage);
  DeliverDue(generation);
}

void SimInstrument::Clear(uint32_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return;
  engine_.OnClear(NowMs());
  changed_.notify_all();
}

void SimInstrument::Trigger(uint32_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return;
  engine_.OnTrigger(NowMs());
}

std::string SimInstrument::ResourceName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  char name[128];
  std::snprintf(name, sizeof name, "USB0::0x%04X::0x%04X::%s::INSTR", kVendorId,
                engine_.CurrentProductId(), engine_.Serial().c_str());
  return name;
}

FirmwareMode SimInstrument::Mode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return engine_.Mode();
}

bool SimInstrument::WaitOnBus(FirmwareMode mode, uint32_t timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return engine_.OnBus() && engine_.Mode() == mode && current_.device != nullptr;
  });
}

bool SimInstrument::WaitOffBus(uint32_t timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return !engine_.OnBus() && current_.device == nullptr;
  });
}

void SimInstrument::PowerCycle() {
  std::lock_guard<std::mutex> lock(mutex_);
  engine_.PowerCycle(NowMs());
  changed_.notify_all();
}

void SimInstrument::SetFaults(FaultPlan faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  engine_.SetFaults(std::move(faults));
}

std::vector<uint8_t> SimInstrument::PartitionContent(uint32_t row) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return engine_.Flash().Content(row);
}

std::string SimInstrument::VersionRun() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return engine_.Flash().VersionRun();
}

std::string SimInstrument::DisplayText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return engine_.DisplayText();
}

uint32_t SimInstrument::OpenSessions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return engine_.OpenSessions();
}

}  // namespace fg::sim

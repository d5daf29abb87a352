#include "tests/visa/support/scripted_provider.h"

#include <algorithm>
#include <cstring>

namespace fg::visa {

class ScriptedSession : public InstrSession {
 public:
  ScriptedSession(ScriptedProvider* provider, std::string name, uint64_t generation)
      : provider_(provider), name_(std::move(name)), generation_(generation) {}

  ~ScriptedSession() override {
    std::lock_guard<std::mutex> lock(provider_->mutex_);
    provider_->events_.push_back({ScriptedEvent::kClose, name_, {}, 0, 0});
    --provider_->openSessions_;
  }

  ViStatus Write(const uint8_t* data, uint32_t count, uint32_t* written,
                 uint32_t timeoutMs) override {
    std::lock_guard<std::mutex> lock(provider_->mutex_);
    *written = 0;
    std::vector<uint8_t> bytes(data, data + count);
    provider_->events_.push_back({ScriptedEvent::kWrite, name_, bytes, count, timeoutMs});
    ScriptedProvider::Device* device = Live();
    if (device == nullptr) return VI_ERROR_CONN_LOST;
    if (!device->writeSteps.empty()) {
      ScriptedStep step = std::move(device->writeSteps.front());
      device->writeSteps.pop_front();
      *written = step.reportedCount >= 0 ? static_cast<uint32_t>(step.reportedCount) : count;
      return step.status;
    }
    *written = count;
    if (device->responder) {
      std::string reply = device->responder(std::string(bytes.begin(), bytes.end()));
      if (!reply.empty()) device->replies.push_back(std::move(reply));
    }
    return VI_SUCCESS;
  }

  ViStatus Read(uint8_t* data, uint32_t count, uint32_t* received, uint32_t timeoutMs) override {
    std::lock_guard<std::mutex> lock(provider_->mutex_);
    *received = 0;
    provider_->events_.push_back({ScriptedEvent::kRead, name_, {}, count, timeoutMs});
    ScriptedProvider::Device* device = Live();
    if (device == nullptr) return VI_ERROR_CONN_LOST;
    if (!device->readSteps.empty()) {
      ScriptedStep step = std::move(device->readSteps.front());
      device->readSteps.pop_front();
      size_t n = std::min<size_t>(count, step.data.size());
      if (n > 0) std::memcpy(data, step.data.data(), n);
      *received = step.reportedCount >= 0 ? static_cast<uint32_t>(step.reportedCount)
                                          : static_cast<uint32_t>(n);
      return step.status;
    }
    if (device->replies.empty()) return VI_ERROR_TMO;
    const std::string& reply = device->replies.front();
    size_t left = reply.size() - device->replyOffset;
    size_t n = std::min<size_t>(count, left);
    if (n > 0) std::memcpy(data, reply.data() + device->replyOffset, n);
    *received = static_cast<uint32_t>(n);
    if (n < left) {
      device->replyOffset += n;
      return VI_SUCCESS_MAX_CNT;
    }
    device->replies.pop_front();
    device->replyOffset = 0;
    return VI_SUCCESS;
  }

  ViStatus Clear(uint32_t timeoutMs) override {
    std::lock_guard<std::mutex> lock(provider_->mutex_);
    provider_->events_.push_back({ScriptedEvent::kClear, name_, {}, 0, timeoutMs});
    ScriptedProvider::Device* device = Live();
    if (device == nullptr) return VI_ERROR_CONN_LOST;
    device->replies.clear();
    device->replyOffset = 0;
    return VI_SUCCESS;
  }

 private:
  // The device, while it has not left since this session was opened. Caller holds the mutex.
  ScriptedProvider::Device* Live() {
    auto it = provider_->devices_.find(name_);
    if (it == provider_->devices_.end() || !it->second.present ||
        it->second.generation != generation_) {
      return nullptr;
    }
    return &it->second;
  }

  ScriptedProvider* provider_;
  std::string name_;
  uint64_t generation_;
};

ScriptedProvider::ScriptedProvider(std::string name) : name_(std::move(name)) {}
ScriptedProvider::~ScriptedProvider() = default;

void ScriptedProvider::AddResource(const std::string& name, ViStatus openStatus) {
  std::lock_guard<std::mutex> lock(mutex_);
  Device& device = devices_[name];
  if (std::find(order_.begin(), order_.end(), name) == order_.end()) order_.push_back(name);
  device.openStatus = openStatus;
  device.present = true;
}

void ScriptedProvider::Unplug(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = devices_.find(name);
  if (it == devices_.end()) return;
  it->second.present = false;
  ++it->second.generation;
  it->second.replies.clear();
  it->second.replyOffset = 0;
}

void ScriptedProvider::QueueReply(const std::string& name, const std::string& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_[name].replies.push_back(reply);
}

void ScriptedProvider::SetResponder(const std::string& name,
                                    std::function<std::string(const std::string&)> responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_[name].responder = std::move(responder);
}

void ScriptedProvider::ScriptRead(const std::string& name, ScriptedStep step) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_[name].readSteps.push_back(std::move(step));
}

void ScriptedProvider::ScriptWrite(const std::string& name, ScriptedStep step) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_[name].writeSteps.push_back(std::move(step));
}

void ScriptedProvider::AddDiagnostic(Diagnostic diagnostic) {
  std::lock_guard<std::mutex> lock(mutex_);
  diagnostics_.push_back(std::move(diagnostic));
}

std::vector<ScriptedEvent> ScriptedProvider::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

size_t ScriptedProvider::OpenSessionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openSessions_;
}

void ScriptedProvider::ListResources(std::vector<std::string>* names) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& name : order_) {
    if (devices_[name].present) names->push_back(name);
  }
}

ViStatus ScriptedProvider::Open(const std::string& canonicalName, uint32_t openTimeoutMs,
                                std::unique_ptr<InstrSession>* session) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back({ScriptedEvent::kOpen, canonicalName, {}, 0, openTimeoutMs});
  auto it = devices_.find(canonicalName);
  if (it == devices_.end() || !it->second.present) return VI_ERROR_RSRC_NFOUND;
  if (it->second.openStatus < VI_SUCCESS) return it->second.openStatus;
  *session = std::make_unique<ScriptedSession>(this, canonicalName, it->second.generation);
  ++openSessions_;
  return it->second.openStatus;
}

void ScriptedProvider::Diagnose(std::vector<Diagnostic>* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  out->insert(out->end(), diagnostics_.begin(), diagnostics_.end());
}

std::string ScriptedProvider::Describe() {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t present = 0;
  for (const auto& [name, device] : devices_) present += device.present ? 1 : 0;
  return name_ + ": " + std::to_string(present) + " scripted resource(s)";
}

}  // namespace fg::visa

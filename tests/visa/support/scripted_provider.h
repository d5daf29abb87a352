// Test support: a provider whose instruments a test scripts: which resources exist, what opening
// them returns, the replies and the statuses of the next reads and writes. It records every call,
// so a test can check what the layer above did (and did not) send. Tests put it in place with
// InstallProvidersForTesting (visa/provider_registry.h); the product never builds it.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "visa/provider.h"

namespace fg::visa {

struct ScriptedEvent {
  enum Kind { kOpen, kWrite, kRead, kClear, kClose } kind;
  std::string resource;
  std::vector<uint8_t> data;  // kWrite: the bytes offered
  uint32_t count = 0;         // kWrite, kRead: the count asked for
  uint32_t timeoutMs = 0;     // kOpen: the open timeout; kWrite, kRead, kClear: the I/O timeout
};

// A forced outcome of the next read or write, consumed before normal behaviour resumes.
struct ScriptedStep {
  ViStatus status = VI_SUCCESS;
  std::vector<uint8_t> data;     // read: the bytes delivered (cut at the count asked for)
  int64_t reportedCount = -1;    // when >= 0, the count reported instead of the true one
};

class ScriptedProvider : public Provider {
 public:
  explicit ScriptedProvider(std::string name = "scripted");
  ~ScriptedProvider() override;

  // A resource this provider lists; opening it returns `openStatus`.
  void AddResource(const std::string& name, ViStatus openStatus = VI_SUCCESS);
  // The device leaves: gone from the list, and its open sessions fail with VI_ERROR_CONN_LOST.
  void Unplug(const std::string& name);
  // Queues a reply message. Reads deliver it like a device: VI_SUCCESS with its last byte,
  // VI_SUCCESS_MAX_CNT while the count fills first. A read with nothing queued times out.
  void QueueReply(const std::string& name, const std::string& reply);
  // Answers each written message with the responder's reply (none when it returns "").
  void SetResponder(const std::string& name,
                    std::function<std::string(const std::string& message)> responder);
  void ScriptRead(const std::string& name, ScriptedStep step);
  // A write step: `status`, and `reportedCount` (>= 0) bytes reported written, else all.
  void ScriptWrite(const std::string& name, ScriptedStep step);
  void AddDiagnostic(Diagnostic diagnostic);

  std::vector<ScriptedEvent> Events() const;
  size_t OpenSessionCount() const;

  // Provider.
  const char* Name() const override { return name_.c_str(); }
  void ListResources(std::vector<std::string>* names) override;
  ViStatus Open(const std::string& canonicalName, uint32_t openTimeoutMs,
                std::unique_ptr<InstrSession>* session) override;
  void Diagnose(std::vector<Diagnostic>* out) override;
  std::string Describe() override;

  struct Device {
    ViStatus openStatus = VI_SUCCESS;
    bool present = true;
    uint64_t generation = 0;  // bumped by Unplug: sessions of older generations are lost
    std::deque<std::string> replies;
    size_t replyOffset = 0;  // bytes of replies.front() already delivered
    std::deque<ScriptedStep> readSteps;
    std::deque<ScriptedStep> writeSteps;
    std::function<std::string(const std::string&)> responder;
  };

 private:
  friend class ScriptedSession;
  mutable std::mutex mutex_;
  std::string name_;
  std::vector<std::string> order_;  // resource names in the order added
  std::map<std::string, Device> devices_;
  std::vector<ScriptedEvent> events_;
  std::vector<Diagnostic> diagnostics_;
  size_t openSessions_ = 0;
};

}  // namespace fg::visa

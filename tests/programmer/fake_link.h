// A DeviceLink whose slots record every call and answer from queues: the programmer and driver
// tests script the instrument's side of a conversation with it.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/device_link.h"

namespace fg::test {

using Bytes = std::vector<uint8_t>;

// "AB 00 07" -> {0xAB, 0x00, 0x07}
inline Bytes Hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ') continue;
    out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    ++i;
  }
  return out;
}

inline Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

class FakeLink {
 public:
  DeviceLink link{};
  // "open NAME", "close", "write N" (N bytes handed over), "read".
  std::vector<std::string> events;
  std::vector<Bytes> writes;  // the bytes of every write call, as handed over
  // Replies of the next reads, in order; nullopt makes that read fail. An empty queue fails too,
  // so a scripted conversation cannot run on forever.
  std::deque<std::optional<std::string>> replies;
  // Results of the next opens, in order; when the queue is empty `canOpen` decides (default:
  // every name opens).
  std::deque<bool> openResults;
  std::function<bool(const std::string&)> canOpen;
  int failWriteAt = -1;  // index (in `writes`) of a write that fails
  // The count a write reports back for `handed` bytes (default: all of them).
  std::function<uint32_t(size_t index, uint32_t handed)> writtenCount;
  // Called after every successful write, e.g. to queue the instrument's answer.
  std::function<void(const Bytes&)> onWrite;
  std::vector<int32_t> progress;  // every value reported through the progress slot
  bool progressSlot = true;

  FakeLink() { Attach(&link, this); }
  FakeLink(const FakeLink&) = delete;
  FakeLink& operator=(const FakeLink&) = delete;

  // Points a link's slots at this fake (the link's owner becomes the fake).
  void Attach(DeviceLink* target, void* owner) {
    target->open = Open;
    target->write = Write;
    target->read = Read;
    target->close = Close;
    target->progress = progressSlot ? Progress : nullptr;
    target->owner = owner;
    target->replyBuffer = target->replyStorage;
  }

  void Queue(std::initializer_list<const char*> texts) {
    for (const char* t : texts) replies.emplace_back(t ? std::optional<std::string>(t) : std::nullopt);
  }
  void QueueOk(int n) {
    for (int i = 0; i < n; ++i) replies.emplace_back("OK");
  }

  std::string WriteText(size_t i) const {
    return i < writes.size() ? std::string(writes[i].begin(), writes[i].end()) : std::string();
  }
  bool Wrote(const std::string& text) const {
    for (const Bytes& w : writes)
      if (std::string(w.begin(), w.end()) == text) return true;
    return false;
  }

  // The fake behind a slot's owner. Tests whose link is owned by something else (a driver's
  // context) set `current` instead.
  static inline FakeLink* current = nullptr;
  static FakeLink* From(void* owner) { return current ? current : static_cast<FakeLink*>(owner); }

  static int32_t Open(void* owner, const char* name) {
    FakeLink* f = From(owner);
    f->events.push_back(std::string("open ") + name);
    if (f->openResults.empty()) return (!f->canOpen || f->canOpen(name)) ? 1 : 0;
    const bool ok = f->openResults.front();
    f->openResults.pop_front();
    return ok ? 1 : 0;
  }
  static int32_t Write(void* owner, const uint8_t* bytes, uint32_t* count) {
    FakeLink* f = From(owner);
    f->events.push_back("write " + std::to_string(*count));
    const size_t index = f->writes.size();
    f->writes.emplace_back(bytes, bytes + *count);
    if (*count == 0 || static_cast<int>(index) == f->failWriteAt) {
      *count = 0;
      return 0;
    }
    if (f->writtenCount) *count = f->writtenCount(index, *count);
    if (f->onWrite) f->onWrite(f->writes.back());
    return 1;
  }
  static int32_t Read(void* owner, uint8_t* buffer, uint32_t* count) {
    FakeLink* f = From(owner);
    f->events.push_back("read");
    if (f->replies.empty() || !f->replies.front()) {
      if (!f->replies.empty()) f->replies.pop_front();
      *count = 0;
      return 0;
    }
    std::string reply = *f->replies.front();
    f->replies.pop_front();
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(reply.size(), *count));
    std::memcpy(buffer, reply.data(), n);
    buffer[n] = 0;
    *count = n;
    return 1;
  }
  static void Close(void* owner) { From(owner)->events.push_back("close"); }
  static int32_t Progress(void* owner, uint32_t percent) {
    From(owner)->progress.push_back(static_cast<int32_t>(percent));
    return 0;
  }
};

}  // namespace fg::test

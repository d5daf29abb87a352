#include "util/stop_notice.h"

#include <atomic>
#include <thread>

#include "platform/termination.h"

namespace fg {

namespace {

// A slot's word: a generation counter above a two-bit kind, so that an owner never mistakes a
// slot given back and taken again for its own.
constexpr uint32_t kFree = 0;
constexpr uint32_t kWriting = 1;  // its owner is changing it: not to be read
constexpr uint32_t kReady = 2;
constexpr uint32_t kReading = 3;  // a handler is writing it out: not to be changed
constexpr uint32_t KindOf(uint32_t word) { return word & 3u; }
constexpr uint32_t With(uint32_t word, uint32_t kind) { return (word & ~3u) | kind; }
constexpr uint32_t NextGeneration(uint32_t word) { return (word & ~3u) + 4u; }

// How long a handler waits for a slot another thread is writing (a copy of at most two lines).
constexpr int kHandlerSpins = 1000000;

// Plain static storage, constant-initialised: nothing is made on first use.
struct NoticeSlot {
  std::atomic<uint32_t> word;
  char lines[2][kStopNoticeCapacity];
};
NoticeSlot g_slots[kStopNoticeSlots];
static_assert(std::atomic<uint32_t>::is_always_lock_free);

// Moves the slot from `from` to `to`, waiting while a handler on another thread reads it.
void Claim(NoticeSlot& slot, uint32_t from, uint32_t to) {
  uint32_t expected = from;
  while (!slot.word.compare_exchange_weak(expected, to)) {
    expected = from;
    std::this_thread::yield();
  }
}

size_t TextLength(const char* text) {
  size_t n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

}  // namespace

StopNotice::StopNotice() {
  const platform::StopEventsBlocked blocked;
  for (int32_t i = 0; i < kStopNoticeSlots; ++i) {
    NoticeSlot& slot = g_slots[i];
    uint32_t word = slot.word.load();
    if (KindOf(word) != kFree) continue;
    const uint32_t writing = With(NextGeneration(word), kWriting);
    if (!slot.word.compare_exchange_strong(word, writing)) continue;
    slot.lines[kRunLine][0] = '\0';
    slot.lines[kImageLine][0] = '\0';
    slot_ = i;
    tag_ = With(writing, kReady);
    slot.word.store(tag_);
    return;
  }
}

StopNotice::~StopNotice() {
  if (slot_ < 0) return;
  const platform::StopEventsBlocked blocked;
  NoticeSlot& slot = g_slots[slot_];
  Claim(slot, tag_, With(tag_, kWriting));
  slot.lines[kRunLine][0] = '\0';
  slot.lines[kImageLine][0] = '\0';
  slot.word.store(With(tag_, kFree));
}

void StopNotice::Set(Line line, const char* text) {
  if (slot_ < 0 || (line != kRunLine && line != kImageLine)) return;
  const platform::StopEventsBlocked blocked;
  NoticeSlot& slot = g_slots[slot_];
  Claim(slot, tag_, With(tag_, kWriting));
  char* out = slot.lines[line];
  size_t n = 0;
  for (; text != nullptr && text[n] != '\0' && n + 1 < kStopNoticeCapacity; ++n) out[n] = text[n];
  out[n] = '\0';
  slot.word.store(tag_);
}

void WriteStopNotices(void (*write)(const char* text, size_t size)) {
  for (NoticeSlot& slot : g_slots) {
    uint32_t word = slot.word.load();
    // Another thread is writing this slot; it has the stop events held back and is done soon.
    for (int spins = 0; KindOf(word) == kWriting && spins < kHandlerSpins; ++spins) {
      word = slot.word.load();
    }
    if (KindOf(word) != kReady) continue;
    if (!slot.word.compare_exchange_strong(word, With(word, kReading))) continue;
    const char* image = slot.lines[StopNotice::kImageLine];
    const char* line = image[0] != '\0' ? image : slot.lines[StopNotice::kRunLine];
    if (line[0] != '\0') write(line, TextLength(line));
    slot.word.store(word);
  }
}

}  // namespace fg

// What an update run leaves behind when a stop event ends the program at once (a second Ctrl-C,
// a signal outside the programming of images): an instrument in writer mode, a partition cut
// short. Each run writes its line ahead of time into a slot of a fixed table; the stop events'
// handler only writes the lines out, which is async-signal-safe.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fg {

inline constexpr size_t kStopNoticeCapacity = 1024;  // bytes of one line, its NUL included
inline constexpr int32_t kStopNoticeSlots = 64;     // runs at once that can keep lines

// One run's lines, in a slot of the table for as long as the object lives. Used by the run's
// own thread; a handler on another thread may read the slot at any time.
class StopNotice {
 public:
  // A run line says what stopping means for the run as a whole (set by the update run once the
  // instrument was switched); an image line what it means for the image in progress (set by the
  // driver around each image). The handler writes a run's image line when it has one, else its
  // run line.
  enum Line : int32_t { kRunLine = 0, kImageLine = 1 };

  // Takes a free slot; with all of them taken the run keeps no lines (held() is false).
  StopNotice();
  // Gives the slot back, and the lines with it.
  ~StopNotice();
  StopNotice(const StopNotice&) = delete;
  StopNotice& operator=(const StopNotice&) = delete;

  // Replaces a line; null or "" clears it. A longer text is cut to kStopNoticeCapacity - 1
  // bytes. The stop events are held back on this thread meanwhile; a handler reading the slot
  // on another thread is waited for.
  void Set(Line line, const char* text);
  bool held() const { return slot_ >= 0; }

 private:
  int32_t slot_ = -1;
  uint32_t tag_ = 0;  // the slot's word while this object holds it
};

// Hands the line of every run that has one to `write` (text and length, no NUL), in slot order.
// Async-signal-safe when `write` is: lock-free atomics over static storage, no allocation. A slot
// that another thread is writing is waited for briefly, then skipped.
void WriteStopNotices(void (*write)(const char* text, size_t size));

}  // namespace fg

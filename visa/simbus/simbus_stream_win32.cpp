// The host's end of a device connection over the device's named pipe, in overlapped mode so that
// every wait ends at its deadline.
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "visa/simbus/simbus_pipe_entry_win32.h"
#include "visa/simbus/simbus_stream.h"

namespace fg::simbus {

namespace {

// The largest piece one ReadFile or WriteFile call is given.
constexpr size_t kMaxPieceSize = 1u << 30;

DWORD WaitMs(const Deadline& deadline) {
  const int remaining = deadline.RemainingMs();
  return remaining < 0 ? INFINITE : static_cast<DWORD>(remaining);
}

IoResult Classify(DWORD error) {
  switch (error) {
    case ERROR_BROKEN_PIPE:         // the device closed its end
    case ERROR_PIPE_NOT_CONNECTED:  // the device disconnected it
    case ERROR_NO_DATA:             // the pipe is being closed
      return IoResult::kClosed;
    default:
      return IoResult::kError;
  }
}

class PipeStream final : public BusStream {
 public:
  explicit PipeStream(HANDLE pipe)
      : pipe_(pipe),
        readEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        writeEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~PipeStream() override {
    CloseHandle(pipe_);
    if (readEvent_ != nullptr) CloseHandle(readEvent_);
    if (writeEvent_ != nullptr) CloseHandle(writeEvent_);
  }
  PipeStream(const PipeStream&) = delete;
  PipeStream& operator=(const PipeStream&) = delete;

  bool Usable() const { return readEvent_ != nullptr && writeEvent_ != nullptr; }

  // Cancels whatever is pending on the pipe; an operation started after the flag was set sees it
  // and cancels itself (Finish), so none can slip in between and wait for its whole deadline.
  void Cancel() override {
    canceled_ = true;
    CancelIoEx(pipe_, nullptr);
  }

  IoResult SendAll(const uint8_t* data, size_t size, const Deadline& deadline,
                   size_t* sent) override {
    *sent = 0;
    while (*sent < size) {
      OVERLAPPED overlapped{};
      overlapped.hEvent = writeEvent_;
      const auto piece = static_cast<DWORD>(std::min(size - *sent, kMaxPieceSize));
      const BOOL started = WriteFile(pipe_, data + *sent, piece, nullptr, &overlapped);
      DWORD done = 0;
      const IoResult result = Finish(started, &overlapped, deadline, &done);
      *sent += done;
      if (result != IoResult::kOk) return result;
    }
    return IoResult::kOk;
  }

  IoResult ReceiveSome(uint8_t* buffer, size_t capacity, const Deadline& deadline,
                       size_t* received) override {
    *received = 0;
    for (;;) {
      OVERLAPPED overlapped{};
      overlapped.hEvent = readEvent_;
      const auto piece = static_cast<DWORD>(std::min(capacity, kMaxPieceSize));
      const BOOL started = ReadFile(pipe_, buffer, piece, nullptr, &overlapped);
      DWORD done = 0;
      const IoResult result = Finish(started, &overlapped, deadline, &done);
      if (result != IoResult::kOk) return result;
      // A zero-length write of the other end completes a read with nothing: read on.
      if (done != 0) {
        *received = done;
        return IoResult::kOk;
      }
    }
  }

 private:
  // Waits for an overlapped read or write until the deadline; one that is still pending then is
  // cancelled. *done receives the bytes it moved, also when it was cut short.
  IoResult Finish(BOOL started, OVERLAPPED* overlapped, const Deadline& deadline, DWORD* done) {
    *done = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING) return Classify(GetLastError());
    if (canceled_ || WaitForSingleObject(overlapped->hEvent, WaitMs(deadline)) != WAIT_OBJECT_0) {
      CancelIoEx(pipe_, overlapped);
    }
    // Waits for the cancel too: the operation may have completed meanwhile, and the buffer and
    // the OVERLAPPED must not be left to it.
    if (GetOverlappedResult(pipe_, overlapped, done, TRUE)) return IoResult::kOk;
    const DWORD error = GetLastError();
    *done = static_cast<DWORD>(overlapped->InternalHigh);
    return error == ERROR_OPERATION_ABORTED ? IoResult::kTimeout : Classify(error);
  }

  const HANDLE pipe_;
  const HANDLE readEvent_;
  const HANDLE writeEvent_;
  std::atomic<bool> canceled_{false};
};

}  // namespace

StreamOpenResult OpenBusStream(const BusFolder& folder, const BusEntry& entry,
                               const Deadline& deadline, std::unique_ptr<BusStream>* stream) {
  std::string pipeName;
  if (!ReadPipeEntry(folder, entry.entryName, &pipeName)) return StreamOpenResult::kGone;
  for (;;) {
    // Identification only: the device may learn who connects, never act as them.
    HANDLE pipe = CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                              nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      auto opened = std::make_unique<PipeStream>(pipe);
      if (!opened->Usable()) return StreamOpenResult::kFailed;
      *stream = std::move(opened);
      return StreamOpenResult::kOk;
    }
    if (GetLastError() != ERROR_PIPE_BUSY) return StreamOpenResult::kGone;
    // Every instance is taken: wait for one to come free, as long as the deadline allows.
    if (deadline.Passed()) return StreamOpenResult::kBusy;
    const DWORD wait = WaitMs(deadline);
    if (!WaitNamedPipeA(pipeName.c_str(), wait == INFINITE ? NMPWAIT_WAIT_FOREVER : wait) &&
        GetLastError() == ERROR_FILE_NOT_FOUND) {
      return StreamOpenResult::kGone;
    }
  }
}

}  // namespace fg::simbus

// The device end of the simulated bus on Windows: a named pipe only this user may open, named by
// the device's entry in the bus folder (simbus_pipe_entry_win32.h), and one thread that serves
// every host connection to it through the device protocol (simbus_device_protocol.h). The pipe
// works in overlapped mode: the thread waits for a new connection, the reads of all connections
// and a wake-up event at once.
#include <windows.h>

#include <list>
#include <thread>
#include <vector>

#include "platform/user_only_access_win32.h"
#include "visa/simbus/simbus_device.h"
#include "visa/simbus/simbus_device_name.h"
#include "visa/simbus/simbus_device_protocol.h"
#include "visa/simbus/simbus_folder.h"
#include "visa/simbus/simbus_pipe_entry_win32.h"

namespace fg::simbus {

namespace {

constexpr DWORD kPipeBufferSize = 64 * 1024;
// WaitForMultipleObjects waits for at most 64 handles: the wake-up event, the pipe instance
// waiting for a host, and one read per connection. Hosts beyond this find the device busy.
constexpr size_t kMaxConnections = MAXIMUM_WAIT_OBJECTS - 2;
constexpr DWORD kPipeMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT |
                            PIPE_REJECT_REMOTE_CLIENTS;

std::string ErrorNumber(DWORD error) { return "error " + std::to_string(error); }

class PipeConnection final : public HostConnection {
 public:
  explicit PipeConnection(HANDLE pipe)
      : pipe_(pipe),
        readEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        writeEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~PipeConnection() override {
    Close();
    if (readEvent_ != nullptr) CloseHandle(readEvent_);
    if (writeEvent_ != nullptr) CloseHandle(writeEvent_);
  }
  PipeConnection(const PipeConnection&) = delete;
  PipeConnection& operator=(const PipeConnection&) = delete;

  HANDLE readEvent() const { return readEvent_; }
  bool reading() const { return reading_; }
  const uint8_t* buffer() const { return buffer_; }

  // Starts the next read. False when the host is gone or the read cannot be started.
  bool StartRead() {
    if (readEvent_ == nullptr || writeEvent_ == nullptr) return false;
    readOverlapped_ = OVERLAPPED{};
    readOverlapped_.hEvent = readEvent_;
    // A read that completes at once still signals its event; the loop takes it from there.
    if (!ReadFile(pipe_, buffer_, sizeof buffer_, nullptr, &readOverlapped_) &&
        GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    reading_ = true;
    return true;
  }
  bool ReadDone() { return reading_ && HasOverlappedIoCompleted(&readOverlapped_); }
  // The bytes of the read that is done; false when it failed (the host is gone).
  bool TakeRead(DWORD* size) {
    reading_ = false;
    return GetOverlappedResult(pipe_, &readOverlapped_, size, FALSE) != FALSE;
  }

  bool SendFrame(const std::vector<uint8_t>& frame) override {
    OVERLAPPED overlapped{};
    overlapped.hEvent = writeEvent_;
    if (!WriteFile(pipe_, frame.data(), static_cast<DWORD>(frame.size()), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    if (WaitForSingleObject(writeEvent_, kDeviceSendTimeoutMs) != WAIT_OBJECT_0) {
      CancelIoEx(pipe_, &overlapped);
    }
    DWORD written = 0;
    return GetOverlappedResult(pipe_, &overlapped, &written, TRUE) && written == frame.size();
  }

  // Ends the connection: the host reads what was sent before, then its reads and writes fail.
  // (DisconnectNamedPipe would throw the unread bytes away, a refusal's "busy" among them.)
  void Close() {
    if (pipe_ == INVALID_HANDLE_VALUE) return;
    if (reading_) {
      CancelIoEx(pipe_, &readOverlapped_);
      DWORD ignored = 0;
      GetOverlappedResult(pipe_, &readOverlapped_, &ignored, TRUE);
      reading_ = false;
    }
    CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE pipe_;
  const HANDLE readEvent_;
  const HANDLE writeEvent_;
  OVERLAPPED readOverlapped_{};
  bool reading_ = false;
  uint8_t buffer_[16 * 1024];
};

class SimBusDeviceImpl final : public SimBusDevice {
 public:
  // Takes over the pipe's first instance, the entry file and the descriptor of the instances.
  SimBusDeviceImpl(std::unique_ptr<BusFolder> folder, const SimDeviceIdentity& identity,
                   SimDeviceHandler* handler, std::string pipeName,
                   PSECURITY_DESCRIPTOR descriptor, HANDLE firstInstance, HANDLE entry,
                   HANDLE wake, HANDLE connected)
      : folder_(std::move(folder)),
        identity_(identity),
        protocol_(handler),
        pipeName_(std::move(pipeName)),
        descriptor_(descriptor),
        entry_(entry),
        wake_(wake),
        connected_(connected),
        listener_(firstInstance) {
    thread_ = std::thread([this] { Run(); });
  }

  ~SimBusDeviceImpl() override {
    Detach();
    if (thread_.joinable()) thread_.join();
    CloseHandle(wake_);
    CloseHandle(connected_);
    LocalFree(descriptor_);
  }

  void QueueReply(const uint8_t* data, size_t size) override {
    if (protocol_.QueueReply(data, size)) SetEvent(wake_);
  }

  void Detach() override {
    if (!protocol_.MarkDetached()) return;
    // The entry is delete-on-close: gone from searches at once; the thread closes the sessions.
    CloseHandle(entry_);
    SetEvent(wake_);
    if (std::this_thread::get_id() != thread_.get_id() && thread_.joinable()) thread_.join();
  }

  std::string ResourceName() const override { return DeviceResourceName(identity_); }

 private:
  void Run() {
    Listen();
    std::vector<HANDLE> events;
    while (!protocol_.Detached()) {
      for (auto it = connections_.begin(); it != connections_.end();) {
        if (!it->reading() && !it->StartRead()) {
          EndConnection(it++);
        } else {
          ++it;
        }
      }
      events.assign({wake_, connected_});
      for (const PipeConnection& c : connections_) events.push_back(c.readEvent());
      if (WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                 INFINITE) == WAIT_FAILED) {
        break;
      }
      // Every read that is done, whichever event ended the wait.
      for (auto it = connections_.begin(); it != connections_.end() && !protocol_.Detached();) {
        DWORD size = 0;
        const bool keep = !it->ReadDone() ||
                          (it->TakeRead(&size) && protocol_.Receive(&*it, it->buffer(), size));
        if (!keep) {
          EndConnection(it++);
        } else {
          ++it;
        }
      }
      if (!protocol_.Detached()) Accept();
      if (!protocol_.Detached()) ServeRequests();
    }
    StopListening();
    while (!connections_.empty()) EndConnection(connections_.begin());
  }

  // Makes an instance wait for the next host, unless one already does or the connections are
  // at their limit.
  void Listen() {
    if (listenerConnected_ || connections_.size() >= kMaxConnections) return;
    if (listener_ == INVALID_HANDLE_VALUE) {
      SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor_, FALSE};
      listener_ = CreateNamedPipeA(pipeName_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   kPipeMode, PIPE_UNLIMITED_INSTANCES, kPipeBufferSize,
                                   kPipeBufferSize, 0, &attributes);
      if (listener_ == INVALID_HANDLE_VALUE) return;  // tried again after the next event
    }
    if (listening_) return;
    ResetEvent(connected_);
    connectOverlapped_ = OVERLAPPED{};
    connectOverlapped_.hEvent = connected_;
    if (ConnectNamedPipe(listener_, &connectOverlapped_)) {
      listenerConnected_ = true;
    } else if (GetLastError() == ERROR_IO_PENDING) {
      listening_ = true;
    } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
      listenerConnected_ = true;  // a host came between the creation and the wait
    } else {
      CloseHandle(listener_);
      listener_ = INVALID_HANDLE_VALUE;
      return;
    }
    if (listenerConnected_) SetEvent(connected_);
  }

  // Takes the host that connected to the waiting instance, if one did, and lets a fresh
  // instance wait.
  void Accept() {
    if (listening_ && HasOverlappedIoCompleted(&connectOverlapped_)) {
      listening_ = false;
      DWORD ignored = 0;
      listenerConnected_ = GetOverlappedResult(listener_, &connectOverlapped_, &ignored, FALSE) ||
                           GetLastError() == ERROR_PIPE_CONNECTED;
      if (!listenerConnected_) {
        CloseHandle(listener_);
        listener_ = INVALID_HANDLE_VALUE;
      }
    }
    if (listenerConnected_) {
      ResetEvent(connected_);
      connections_.emplace_back(listener_);
      listener_ = INVALID_HANDLE_VALUE;
      listenerConnected_ = false;
    }
    Listen();
  }

  void StopListening() {
    if (listener_ == INVALID_HANDLE_VALUE) return;
    if (listening_) {
      CancelIoEx(listener_, &connectOverlapped_);
      DWORD ignored = 0;
      GetOverlappedResult(listener_, &connectOverlapped_, &ignored, TRUE);
      listening_ = false;
    }
    DisconnectNamedPipe(listener_);
    CloseHandle(listener_);
    listener_ = INVALID_HANDLE_VALUE;
  }

  void EndConnection(std::list<PipeConnection>::iterator it) {
    it->Close();
    protocol_.EndConnection(&*it);
    connections_.erase(it);
  }

  void ServeRequests() {
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (!protocol_.ServeRequest(&*it)) {
        EndConnection(it++);
      } else {
        ++it;
      }
    }
  }

  const std::unique_ptr<BusFolder> folder_;  // the checked folder the entry lives in
  const SimDeviceIdentity identity_;
  DeviceProtocol protocol_;
  const std::string pipeName_;
  const PSECURITY_DESCRIPTOR descriptor_;  // of every pipe instance: this user alone
  const HANDLE entry_;                     // the entry file, delete-on-close
  const HANDLE wake_;                      // auto-reset: a reply was queued, or the device left
  const HANDLE connected_;                 // of the waiting instance's ConnectNamedPipe
  // The thread's own from here on.
  HANDLE listener_;  // the instance that waits for the next host, or none
  OVERLAPPED connectOverlapped_{};
  bool listening_ = false;          // its ConnectNamedPipe is pending
  bool listenerConnected_ = false;  // a host is connected to it, not yet taken
  std::list<PipeConnection> connections_;
  std::thread thread_;
};

// Creates the device's entry, holding the pipe name, delete-on-close; replaces a leftover entry
// whose pipe is gone. INVALID_HANDLE_VALUE with *error set.
HANDLE CreateEntry(const BusFolder& folder, const std::string& name, const std::string& pipeName,
                   PSECURITY_DESCRIPTOR descriptor, std::string* error) {
  const std::string path = folder.EntryPath(name);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  auto create = [&] {
    return CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                       &attributes, CREATE_NEW,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  };
  HANDLE entry = create();
  if (entry == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    std::string other;
    if (ReadPipeEntry(folder, name, &other) && ProbePipe(other) != PipeState::kGone) {
      *error = "a device with this identity is already on the bus (" + path + ")";
      return INVALID_HANDLE_VALUE;
    }
    DeleteFileA(path.c_str());
    entry = create();
  }
  if (entry == INVALID_HANDLE_VALUE) {
    *error = "cannot create " + path + ": " + ErrorNumber(GetLastError());
    return INVALID_HANDLE_VALUE;
  }
  const std::string content = pipeName + "\n";
  DWORD written = 0;
  if (!WriteFile(entry, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
      written != content.size()) {
    *error = "cannot write " + path + ": " + ErrorNumber(GetLastError());
    CloseHandle(entry);  // and so removed
    return INVALID_HANDLE_VALUE;
  }
  return entry;
}

}  // namespace

std::unique_ptr<SimBusDevice> SimBusDevice::Attach(const std::string& busFolder,
                                                   const SimDeviceIdentity& identity,
                                                   SimDeviceHandler* handler, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (!CheckAttachRequest(identity, handler, error)) return nullptr;
  std::string problem;
  std::unique_ptr<BusFolder> folder = BusFolder::Open(busFolder, &problem);
  if (!folder) {
    *error = problem;
    return nullptr;
  }
  PSECURITY_DESCRIPTOR descriptor = platform::NewUserOnlyDescriptor(false);
  if (descriptor == nullptr) {
    *error = "cannot make an access list for this user";
    return nullptr;
  }
  // The first instance claims the name: should anybody hold it already, this fails.
  const std::string pipeName = NewDevicePipeName();
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HANDLE first = CreateNamedPipeA(
      pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      kPipeMode, PIPE_UNLIMITED_INSTANCES, kPipeBufferSize, kPipeBufferSize, 0, &attributes);
  if (first == INVALID_HANDLE_VALUE) {
    *error = "cannot create the pipe " + pipeName + ": " + ErrorNumber(GetLastError());
    LocalFree(descriptor);
    return nullptr;
  }
  HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE connected = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE entry = wake != nullptr && connected != nullptr
                     ? CreateEntry(*folder, DeviceEntryName(identity), pipeName, descriptor, error)
                     : INVALID_HANDLE_VALUE;
  if (entry == INVALID_HANDLE_VALUE) {
    if (wake == nullptr || connected == nullptr) *error = "cannot create an event";
    if (wake != nullptr) CloseHandle(wake);
    if (connected != nullptr) CloseHandle(connected);
    CloseHandle(first);
    LocalFree(descriptor);
    return nullptr;
  }
  return std::make_unique<SimBusDeviceImpl>(std::move(folder), identity, handler, pipeName,
                                            descriptor, first, entry, wake, connected);
}

}  // namespace fg::simbus

#include "visa/vendor/vendor_provider.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/dynamic_library.h"
#include "visa/builtin_providers.h"

namespace fg::visa {

namespace {

#ifdef _WIN32
// Every vendor installs the standard library under this name into the system folder; the
// system's library search finds it.
constexpr const char* kLibraryNames[] = {sizeof(void*) == 8 ? "visa64.dll" : "visa32.dll"};
constexpr std::array<const char*, 0> kBareOnlyNames{};
constexpr std::array<const char*, 0> kLibraryFolders{};
#else
// Library names in the order tried; a trailing '*' is a pattern matched in each folder.
constexpr const char* kLibraryNames[] = {"libvisa.so", "libvisa.so.*", "libiovisa.so",
                                         "librsvisa.so"};
// Names tried through the loader's search path only.
constexpr const char* kBareOnlyNames[] = {"libvisa.so.0"};
// Where NI, Keysight and R&S install their libraries, after the loader's own search path.
constexpr const char* kLibraryFolders[] = {
    "/usr/lib/x86_64-linux-gnu", "/usr/local/lib", "/usr/lib", "/usr/lib64",
    "/usr/local/vxipnp/linux/lib64", "/opt/keysight/iolibs", "/opt/keysight/iolibs/lib",
    "/opt/rohde-schwarz/rsvisa/lib", "/opt/ni/lib64",
};
#endif

constexpr const char* kUsbInstrExpression = "USB?*INSTR";

// The C functions of the library that we call. All are required.
struct VendorApi {
  ViStatus (*viOpenDefaultRM)(ViPSession);
  ViStatus (*viFindRsrc)(ViSession, ViConstString, ViPFindList, ViPUInt32, ViChar*);
  ViStatus (*viFindNext)(ViFindList, ViChar*);
  ViStatus (*viOpen)(ViSession, ViConstRsrc, ViAccessMode, ViUInt32, ViPSession);
  ViStatus (*viClose)(ViObject);
  ViStatus (*viSetAttribute)(ViObject, ViAttr, ViAttrState);
  ViStatus (*viGetAttribute)(ViObject, ViAttr, void*);
  ViStatus (*viRead)(ViSession, ViPBuf, ViUInt32, ViPUInt32);
  ViStatus (*viWrite)(ViSession, ViConstBuf, ViUInt32, ViPUInt32);
  ViStatus (*viClear)(ViSession);
  // Optional: a library without them serves everything else.
  ViStatus (*viReadSTB)(ViSession, ViPUInt16);
  ViStatus (*viAssertTrigger)(ViSession, ViUInt16);
  ViStatus (*viEnableEvent)(ViSession, ViEventType, ViUInt16, ViEventFilter);
  ViStatus (*viWaitOnEvent)(ViSession, ViEventType, ViUInt32, ViPEventType, ViPEvent);
};

template <class Fn>
void Resolve(void* library, const char* name, Fn* slot, std::string* missing) {
  void* symbol = platform::FindSymbol(library, name);
  if (symbol == nullptr) {
    if (!missing->empty()) *missing += ", ";
    *missing += name;
  }
  *slot = reinterpret_cast<Fn>(symbol);
}

// Empty when every function was found, else their names.
std::string ResolveAll(void* library, VendorApi* api) {
  std::string missing;
  Resolve(library, "viOpenDefaultRM", &api->viOpenDefaultRM, &missing);
  Resolve(library, "viFindRsrc", &api->viFindRsrc, &missing);
  Resolve(library, "viFindNext", &api->viFindNext, &missing);
  Resolve(library, "viOpen", &api->viOpen, &missing);
  Resolve(library, "viClose", &api->viClose, &missing);
  Resolve(library, "viSetAttribute", &api->viSetAttribute, &missing);
  Resolve(library, "viGetAttribute", &api->viGetAttribute, &missing);
  Resolve(library, "viRead", &api->viRead, &missing);
  Resolve(library, "viWrite", &api->viWrite, &missing);
  Resolve(library, "viClear", &api->viClear, &missing);
  std::string optional;  // missing ones only narrow what the sessions offer
  Resolve(library, "viReadSTB", &api->viReadSTB, &optional);
  Resolve(library, "viAssertTrigger", &api->viAssertTrigger, &optional);
  Resolve(library, "viEnableEvent", &api->viEnableEvent, &optional);
  Resolve(library, "viWaitOnEvent", &api->viWaitOnEvent, &optional);
  if (api->viEnableEvent == nullptr || api->viWaitOnEvent == nullptr) {
    api->viEnableEvent = nullptr;
    api->viWaitOnEvent = nullptr;
  }
  return missing;
}

std::string Hex(ViStatus status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

// A loaded library and its resource manager session, shared by the provider and its sessions.
// The library is never unloaded: vendor libraries keep threads and exit handlers of their own.
struct VendorLibrary {
  std::string path;
  VendorApi api{};
  ViSession rm = VI_NULL;
  ~VendorLibrary() {
    if (rm != VI_NULL) api.viClose(rm);
  }
};

class VendorSession : public InstrSession {
 public:
  VendorSession(std::shared_ptr<VendorLibrary> library, ViSession vi)
      : library_(std::move(library)), vi_(vi) {}
  ~VendorSession() override {
    if (!libraryClosed_) library_->api.viClose(vi_);
  }

  ViStatus Write(const uint8_t* data, uint32_t count, uint32_t* written,
                 uint32_t timeoutMs) override {
    *written = 0;
    return Call([&] {
      ApplyTimeout(timeoutMs);
      ViUInt32 done = 0;
      ViStatus status = library_->api.viWrite(vi_, data, count, &done);
      *written = done > count ? count : done;
      return status;
    });
  }
  ViStatus Read(uint8_t* data, uint32_t count, uint32_t* received, uint32_t timeoutMs) override {
    *received = 0;
    return Call([&] {
      ApplyTimeout(timeoutMs);
      ViUInt32 done = 0;
      ViStatus status = library_->api.viRead(vi_, data, count, &done);
      *received = done > count ? count : done;
      return status;
    });
  }
  ViStatus Clear(uint32_t timeoutMs) override {
    return Call([&] {
      ApplyTimeout(timeoutMs);
      return library_->api.viClear(vi_);
    });
  }
  ViStatus ReadStatusByte(uint8_t* statusByte, uint32_t timeoutMs) override {
    *statusByte = 0;
    if (library_->api.viReadSTB == nullptr) return VI_ERROR_NSUP_OPER;
    return Call([&] {
      ApplyTimeout(timeoutMs);
      ViUInt16 value = 0;
      ViStatus status = library_->api.viReadSTB(vi_, &value);
      *statusByte = static_cast<uint8_t>(value);
      return status;
    });
  }
  ViStatus AssertTrigger(uint32_t timeoutMs) override {
    if (library_->api.viAssertTrigger == nullptr) return VI_ERROR_NSUP_OPER;
    return Call([&] {
      ApplyTimeout(timeoutMs);
      return library_->api.viAssertTrigger(vi_, VI_TRIG_PROT_DEFAULT);
    });
  }
  bool CanSignalServiceRequest() const override { return library_->api.viWaitOnEvent != nullptr; }
  // The library's own queue of service requests, enabled on first use; the status byte is read
  // after each one, as a service request handler would.
  ViStatus WaitServiceRequest(uint8_t* statusByte, uint32_t timeoutMs) override {
    *statusByte = 0;
    const VendorApi& api = library_->api;
    if (api.viWaitOnEvent == nullptr) return VI_ERROR_NSUP_OPER;
    ViStatus status = Call([&] {
      if (!serviceRequestsEnabled_) {
        ViStatus enabled = api.viEnableEvent(vi_, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL);
        if (enabled < VI_SUCCESS) return enabled;
        serviceRequestsEnabled_ = true;
      }
      ViEventType type = 0;
      ViEvent event = VI_NULL;
      ViStatus waited = api.viWaitOnEvent(vi_, VI_EVENT_SERVICE_REQ, timeoutMs, &type, &event);
      if (waited >= VI_SUCCESS && event != VI_NULL) api.viClose(event);
      return waited;
    });
    if (status < VI_SUCCESS) return status;
    return ReadStatusByte(statusByte, timeoutMs);
  }
  // VISA offers one way to end a synchronous call that waits on a session from another thread:
  // closing that session, which a VISA library must allow from any thread (its functions are
  // thread-safe). So a call in flight has the library's session closed under it. How soon it
  // then returns, and with what, is the library's affair: VISA promises thread safety, not that
  // the call ends early; the layer above reports VI_ERROR_ABORT for it. The library's viClose
  // may itself wait for that call, so it runs on a thread of its own and our close never waits
  // longer than the layer allows. Without a call in flight nothing needs ending early, and the
  // session is closed as usual when it is destroyed.
  void Cancel() override {
    {
      std::lock_guard<std::mutex> lock(callMutex_);
      canceled_ = true;
      if (callsInFlight_ == 0 || libraryClosed_) return;
      libraryClosed_ = true;
    }
    std::thread([library = library_, vi = vi_] { library->api.viClose(vi); }).detach();
  }
  int16_t UsbProtocol() const override {
    ViInt16 protocol = 1;
    return library_->api.viGetAttribute(vi_, VI_ATTR_USB_PROTOCOL, &protocol) >= VI_SUCCESS ? protocol
                                                                                            : 1;
  }
  std::string ManufacturerName() const override { return TextAttribute(VI_ATTR_MANF_NAME); }
  std::string ModelName() const override { return TextAttribute(VI_ATTR_MODEL_NAME); }

 private:
  // Runs one call into the library unless the session was cancelled, counted as in flight so
  // that Cancel knows whether there is a call to end. Between the count and the library's entry
  // a Cancel can still close the library's session: the call then meets a closed session and
  // fails at once.
  template <class LibraryCall>
  ViStatus Call(LibraryCall call) {
    {
      std::lock_guard<std::mutex> lock(callMutex_);
      if (canceled_) return VI_ERROR_ABORT;
      ++callsInFlight_;
    }
    const ViStatus status = call();
    std::lock_guard<std::mutex> lock(callMutex_);
    --callsInFlight_;
    return status;
  }

  std::string TextAttribute(ViAttr attr) const {
    ViChar text[VI_FIND_BUFLEN + 1] = {};
    if (library_->api.viGetAttribute(vi_, attr, text) < VI_SUCCESS) return {};
    text[VI_FIND_BUFLEN] = '\0';
    return text;
  }

  // The library keeps the timeout per session; set it only when it changes.
  void ApplyTimeout(uint32_t timeoutMs) {
    if (timeoutApplied_ && timeoutMs == timeoutMs_) return;
    if (library_->api.viSetAttribute(vi_, VI_ATTR_TMO_VALUE, timeoutMs) >= VI_SUCCESS) {
      timeoutApplied_ = true;
      timeoutMs_ = timeoutMs;
    }
  }

  std::shared_ptr<VendorLibrary> library_;
  ViSession vi_;
  bool timeoutApplied_ = false;
  bool serviceRequestsEnabled_ = false;
  uint32_t timeoutMs_ = 0;
  std::mutex callMutex_;  // guards the three below, which Cancel reads from another thread
  int callsInFlight_ = 0;
  bool canceled_ = false;
  bool libraryClosed_ = false;  // by Cancel: the destructor must not close the handle again
};

class VendorProvider : public Provider {
 public:
  explicit VendorProvider(std::shared_ptr<VendorLibrary> library) : library_(std::move(library)) {}

  const char* Name() const override { return "vendor"; }

  // The library's USB instrument resources, named as it reports them.
  void ListResources(std::vector<std::string>* names) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const VendorApi& api = library_->api;
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    ViChar desc[VI_FIND_BUFLEN + 1] = {};
    if (api.viFindRsrc(library_->rm, kUsbInstrExpression, &list, &count, desc) < VI_SUCCESS) {
      return;
    }
    names->emplace_back(desc);
    for (ViUInt32 n = 1; n < count; ++n) {
      desc[0] = '\0';
      if (api.viFindNext(list, desc) < VI_SUCCESS) break;
      names->emplace_back(desc);
    }
    if (list != VI_NULL) api.viClose(list);
  }

  ViStatus Open(const std::string& canonicalName, uint32_t openTimeoutMs,
                std::unique_ptr<InstrSession>* session) override {
    ViSession vi = VI_NULL;
    ViStatus status =
        library_->api.viOpen(library_->rm, canonicalName.c_str(), VI_NULL, openTimeoutMs, &vi);
    if (status < VI_SUCCESS) return status;
    *session = std::make_unique<VendorSession>(library_, vi);
    return VI_SUCCESS;
  }

  void Diagnose(std::vector<Diagnostic>*) override {}

  std::string Describe() override {
    const VendorApi& api = library_->api;
    std::string text = "vendor VISA library " + library_->path;
    ViChar manufacturer[VI_FIND_BUFLEN + 1] = {};
    if (api.viGetAttribute(library_->rm, VI_ATTR_RSRC_MANF_NAME, manufacturer) >= VI_SUCCESS) {
      manufacturer[VI_FIND_BUFLEN] = '\0';
      text += std::string(", by ") + manufacturer;
    }
    ViVersion version = 0;
    if (api.viGetAttribute(library_->rm, VI_ATTR_RSRC_IMPL_VERSION, &version) >= VI_SUCCESS) {
      char numbers[40];
      std::snprintf(numbers, sizeof numbers, ", version %u.%u.%u", version >> 20,
                    (version >> 8) & 0xFFFu, version & 0xFFu);
      text += numbers;
    }
    return text;
  }

 private:
  std::shared_ptr<VendorLibrary> library_;
  std::mutex mutex_;  // find lists of the shared resource manager session
};

// The files in `folder` called `name`, or starting with it up to a trailing '*', sorted.
std::vector<std::string> MatchingFiles(const std::string& folder, const std::string& name) {
  std::vector<std::string> matches;
  std::error_code ec;
  if (name.back() != '*') {
    const std::string path = folder + "/" + name;
    if (std::filesystem::exists(path, ec)) matches.push_back(path);
    return matches;
  }
  const std::string prefix = name.substr(0, name.size() - 1);
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    if (file.compare(0, prefix.size(), prefix) == 0) matches.push_back(folder + "/" + file);
  }
  std::sort(matches.begin(), matches.end());
  return matches;
}

// Candidate files: bare names first (the loader's path), then the folders, each file once.
std::vector<std::string> Candidates() {
  std::vector<std::string> found;
  std::vector<std::filesystem::path> realPaths;
  auto add = [&](const std::string& candidate, bool isPath) {
    if (isPath) {
      std::error_code ec;
      const std::filesystem::path resolved = std::filesystem::canonical(candidate, ec);
      if (ec) return;
      for (const std::filesystem::path& r : realPaths) {
        if (r == resolved) return;
      }
      realPaths.push_back(resolved);
    }
    found.push_back(candidate);
  };
  for (const char* name : kLibraryNames) {
    std::string n(name);
    if (n.back() != '*') add(n, false);
  }
  for (const char* name : kBareOnlyNames) add(name, false);
  for (const char* folder : kLibraryFolders) {
    for (const char* name : kLibraryNames) {
      for (const std::string& match : MatchingFiles(folder, name)) add(match, true);
    }
  }
  return found;
}

}  // namespace

std::string VendorSearchDescription() {
  std::string text;
  for (const char* name : kLibraryNames) text += std::string(text.empty() ? "" : ", ") + name;
  text += " in the loader's search path";
  for (const char* folder : kLibraryFolders) text += std::string(", ") + folder;
  return text;
}

std::unique_ptr<Provider> LoadVendorLibrary(const std::string& pathOrName,
                                            std::vector<Diagnostic>* skipped) {
  bool isPath = platform::NamesAFile(pathOrName);
  // Local binding: neither the library's names nor ours can interpose on the other.
  std::string why;
  void* handle = platform::OpenLibrary(pathOrName, &why);
  if (handle == nullptr) {
    // A bare name the loader does not know is simply not installed; a file that exists but
    // does not load is a problem worth reporting.
    struct stat info {};
    if (isPath && stat(pathOrName.c_str(), &info) == 0) {
      skipped->push_back({"vendor", pathOrName + " cannot be loaded: " + why,
                          "reinstall the VISA library, or remove it if it is left over"});
    } else if (isPath) {
      skipped->push_back({"vendor", pathOrName + " does not exist",
                          "check the path given in FLINTGATE_VISA_LIBRARY"});
    }
    return nullptr;
  }
  auto library = std::make_shared<VendorLibrary>();
  library->path = platform::LibraryFile(handle, pathOrName);
  std::string missing = ResolveAll(handle, &library->api);
  if (!missing.empty()) {
    skipped->push_back({"vendor", library->path + " lacks " + missing + "; skipped",
                        "install a complete VISA library (VISA 5 or later)"});
    library->api = VendorApi{};
    platform::CloseLibrary(handle);
    return nullptr;
  }
  ViStatus status = library->api.viOpenDefaultRM(&library->rm);
  if (status < VI_SUCCESS) {
    skipped->push_back({"vendor",
                        library->path + " cannot open its resource manager (status " +
                            Hex(status) + "); skipped",
                        "check the VISA library's installation and configuration"});
    library->rm = VI_NULL;
    library->api = VendorApi{};
    platform::CloseLibrary(handle);
    return nullptr;
  }
  return std::make_unique<VendorProvider>(std::move(library));
}

std::unique_ptr<Provider> CreateVendorProvider(std::vector<Diagnostic>* skipped) {
  if (const char* explicitPath = std::getenv("FLINTGATE_VISA_LIBRARY")) {
    if (*explicitPath != '\0') return LoadVendorLibrary(explicitPath, skipped);
  }
  for (const std::string& candidate : Candidates()) {
    std::unique_ptr<Provider> provider = LoadVendorLibrary(candidate, skipped);
    if (provider) return provider;
  }
  return nullptr;
}

}  // namespace fg::visa

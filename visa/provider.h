// A VISA provider: one backend that owns some instrument resources (a vendor VISA library, our
// USBTMC client over libusb, the simulated bus, a test provider). The VISA functions route every
// resource to the provider that owns it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "visa/visa_types.h"

namespace fg::visa {

// A problem a provider found, with what the user can do about it.
struct Diagnostic {
  std::string provider;  // the provider's name
  std::string problem;   // what is wrong, in a sentence
  std::string advice;    // what to do about it
};

// An open instrument session of a provider. Called from one thread at a time, except Cancel.
class InstrSession {
 public:
  virtual ~InstrSession() = default;
  // Called by viClose from its own thread, while an I/O call may be blocked in this session on
  // another: ends that call at once and makes every later one fail at once, so that a close
  // never waits out a read's timeout (or forever, for VI_TMO_INFINITE). Never blocks. The
  // session is destroyed only after the call it cut short has returned. A provider whose calls
  // cannot block (nothing to wait for) may leave it empty.
  virtual void Cancel() {}
  // Writes count bytes as one message (EOM on its last byte). *written receives the bytes sent.
  // VI_SUCCESS, VI_ERROR_TMO, VI_ERROR_IO or VI_ERROR_CONN_LOST.
  virtual ViStatus Write(const uint8_t* data, uint32_t count, uint32_t* written,
                         uint32_t timeoutMs) = 0;
  // Reads at most count bytes of the current message. VI_SUCCESS when the message ended,
  // VI_SUCCESS_MAX_CNT when count filled first (the rest stays for the next read),
  // VI_ERROR_TMO, VI_ERROR_IO or VI_ERROR_CONN_LOST. *received is set in every case.
  virtual ViStatus Read(uint8_t* data, uint32_t count, uint32_t* received, uint32_t timeoutMs) = 0;
  // Device clear: drops pending input and output on both sides.
  virtual ViStatus Clear(uint32_t timeoutMs) = 0;

  // The instrument's status byte (USB488 READ_STATUS_BYTE, or the vendor library's viReadSTB).
  // VI_ERROR_NSUP_OPER when the session cannot ask for it.
  virtual ViStatus ReadStatusByte(uint8_t* statusByte, uint32_t timeoutMs) {
    (void)timeoutMs;
    *statusByte = 0;
    return VI_ERROR_NSUP_OPER;
  }
  // A software trigger (USB488 TRIGGER). VI_ERROR_NSUP_OPER when the session cannot send one.
  virtual ViStatus AssertTrigger(uint32_t timeoutMs) {
    (void)timeoutMs;
    return VI_ERROR_NSUP_OPER;
  }
  // Whether the instrument can signal service requests (an interrupt-IN pipe).
  virtual bool CanSignalServiceRequest() const { return false; }
  // Waits for the next service request: VI_SUCCESS with its status byte, VI_ERROR_TMO,
  // VI_ERROR_IO or VI_ERROR_CONN_LOST. Only called when CanSignalServiceRequest().
  virtual ViStatus WaitServiceRequest(uint8_t* statusByte, uint32_t timeoutMs) {
    (void)timeoutMs;
    *statusByte = 0;
    return VI_ERROR_NSUP_OPER;
  }
  // bInterfaceProtocol of the USBTMC interface (VI_ATTR_USB_PROTOCOL): 1 for USB488, 0 for plain
  // USBTMC.
  virtual int16_t UsbProtocol() const { return 1; }
  // The instrument's own names (USB string descriptors), empty when it gives none.
  virtual std::string ManufacturerName() const { return {}; }
  virtual std::string ModelName() const { return {}; }
};

class Provider {
 public:
  virtual ~Provider() = default;
  // Short name shown by `flintgate-cli list` and `doctor`: "vendor", "usbtmc", "simbus", ...
  virtual const char* Name() const = 0;
  // Appends the INSTR resource names this provider can reach now, in their canonical form
  // ("USB0::0x2E5B::0x3A01::SERIAL::INSTR", "::<n>" before "::INSTR" only for interface n != 0).
  virtual void ListResources(std::vector<std::string>* names) = 0;
  // Opens a canonical resource name. VI_SUCCESS with *session set, VI_ERROR_RSRC_NFOUND when
  // this provider does not have it, VI_ERROR_RSRC_BUSY, VI_ERROR_TMO or another error.
  virtual ViStatus Open(const std::string& canonicalName, uint32_t openTimeoutMs,
                        std::unique_ptr<InstrSession>* session) = 0;
  // Appends what this provider found wrong (permissions, an unsafe folder, a skipped library).
  virtual void Diagnose(std::vector<Diagnostic>* out) = 0;
  // One line of facts for `doctor`: library path and version, devices seen, the bus folder.
  virtual std::string Describe() = 0;
  // Why this provider cannot search for instruments now, in a few words ("no USB on this
  // machine", an unsafe bus folder); empty when it can. Asked by `doctor` when nothing is found.
  virtual std::string Unavailable() { return {}; }
};

}  // namespace fg::visa

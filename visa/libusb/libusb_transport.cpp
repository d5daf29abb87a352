#include "visa/libusb/libusb_transport.h"

#include <climits>

namespace fg::usbtmc {

namespace {
using namespace fg::visa;

// libusb reads 0 as "wait forever"; VISA's 0 means "do not wait".
unsigned int LibusbTimeout(uint32_t timeoutMs) {
  if (timeoutMs == VI_TMO_INFINITE) return 0;
  return timeoutMs == 0 ? 1 : timeoutMs;
}

int ClampLength(size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }
}  // namespace

ViStatus StatusFromLibusb(int error) {
  switch (error) {
    case LIBUSB_SUCCESS:
      return VI_SUCCESS;
    case LIBUSB_ERROR_TIMEOUT:
      return VI_ERROR_TMO;
    case LIBUSB_ERROR_NO_DEVICE:
      return VI_ERROR_CONN_LOST;
    case LIBUSB_ERROR_BUSY:
      return VI_ERROR_RSRC_BUSY;
    case LIBUSB_ERROR_NOT_FOUND:
      return VI_ERROR_RSRC_NFOUND;
    case LIBUSB_ERROR_NO_MEM:
      return VI_ERROR_ALLOC;
    default:
      return VI_ERROR_IO;
  }
}

LibusbTransport::LibusbTransport(LibusbContext context, libusb_device_handle* handle,
                                 const UsbtmcInterface& interface, bool reattachKernelDriver)
    : context_(std::move(context)),
      handle_(handle),
      interface_(interface),
      reattachKernelDriver_(reattachKernelDriver) {}

LibusbTransport::~LibusbTransport() {
  libusb_release_interface(handle_, interface_.number);
  if (reattachKernelDriver_) libusb_attach_kernel_driver(handle_, interface_.number);
  libusb_close(handle_);
}

ViStatus LibusbTransport::BulkOut(const uint8_t* data, size_t size, size_t* sent,
                                  uint32_t timeoutMs) {
  int transferred = 0;
  int rc = libusb_bulk_transfer(handle_, interface_.bulkOutAddress, const_cast<uint8_t*>(data),
                                ClampLength(size), &transferred, LibusbTimeout(timeoutMs));
  *sent = transferred > 0 ? static_cast<size_t>(transferred) : 0;
  return StatusFromLibusb(rc);
}

ViStatus LibusbTransport::BulkIn(uint8_t* buffer, size_t capacity, size_t* received,
                                 uint32_t timeoutMs) {
  int transferred = 0;
  int rc = libusb_bulk_transfer(handle_, interface_.bulkInAddress, buffer, ClampLength(capacity),
                                &transferred, LibusbTimeout(timeoutMs));
  *received = transferred > 0 ? static_cast<size_t>(transferred) : 0;
  return StatusFromLibusb(rc);
}

ViStatus LibusbTransport::InterruptIn(uint8_t* buffer, size_t capacity, size_t* received,
                                      uint32_t timeoutMs) {
  *received = 0;
  if (interface_.interruptInAddress == 0) return VI_ERROR_NSUP_OPER;
  int transferred = 0;
  int rc = libusb_interrupt_transfer(handle_, interface_.interruptInAddress, buffer,
                                     ClampLength(capacity), &transferred, LibusbTimeout(timeoutMs));
  *received = transferred > 0 ? static_cast<size_t>(transferred) : 0;
  return StatusFromLibusb(rc);
}

ViStatus LibusbTransport::ControlIn(const ControlSetup& setup, uint8_t* reply, size_t* received,
                                    uint32_t timeoutMs) {
  *received = 0;
  int rc = libusb_control_transfer(handle_, setup.requestType, setup.request, setup.value,
                                   setup.index, reply, setup.length, LibusbTimeout(timeoutMs));
  if (rc < 0) return StatusFromLibusb(rc);
  *received = static_cast<size_t>(rc);
  return VI_SUCCESS;
}

ViStatus LibusbTransport::ClearHalt(Pipe pipe, uint32_t) {
  const uint8_t endpoint =
      pipe == Pipe::kBulkIn ? interface_.bulkInAddress : interface_.bulkOutAddress;
  return StatusFromLibusb(libusb_clear_halt(handle_, endpoint));
}

}  // namespace fg::usbtmc

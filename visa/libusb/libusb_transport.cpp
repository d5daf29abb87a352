#include "visa/libusb/libusb_transport.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace fg::usbtmc {

namespace {
using namespace fg::visa;

// libusb reads 0 as "wait forever"; VISA's 0 means "do not wait".
unsigned int LibusbTimeout(uint32_t timeoutMs) {
  if (timeoutMs == VI_TMO_INFINITE) return 0;
  return timeoutMs == 0 ? 1 : timeoutMs;
}

int ClampLength(size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

struct TransferFree {
  void operator()(libusb_transfer* transfer) const { libusb_free_transfer(transfer); }
};
using TransferRef = std::unique_ptr<libusb_transfer, TransferFree>;

// Runs on whichever thread handles the context's events; the waiting caller sees the flag.
void LIBUSB_CALL MarkCompleted(libusb_transfer* transfer) {
  *static_cast<int*>(transfer->user_data) = 1;
}
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

void LibusbTransport::Cancel() {
  std::lock_guard<std::mutex> lock(cancelMutex_);
  canceled_ = true;
  if (inFlight_ != nullptr) libusb_cancel_transfer(inFlight_);
}

ViStatus LibusbTransport::Run(libusb_transfer* transfer, int* transferred) {
  *transferred = 0;
  int completed = 0;
  transfer->user_data = &completed;
  transfer->callback = MarkCompleted;
  {
    std::lock_guard<std::mutex> lock(cancelMutex_);
    if (canceled_) return VI_ERROR_ABORT;
    const int rc = libusb_submit_transfer(transfer);
    if (rc != LIBUSB_SUCCESS) return StatusFromLibusb(rc);
    inFlight_ = transfer;
  }
  while (completed == 0) {
    const int rc = libusb_handle_events_completed(context_.get(), &completed);
    // When event handling itself fails, the transfer is cancelled and still waited for, as
    // libusb's synchronous calls do: it must not be freed while the kernel holds it.
    if (rc < 0 && rc != LIBUSB_ERROR_INTERRUPTED) libusb_cancel_transfer(transfer);
  }
  bool canceled = false;
  {
    std::lock_guard<std::mutex> lock(cancelMutex_);
    inFlight_ = nullptr;
    canceled = canceled_;
  }
  *transferred = transfer->actual_length > 0 ? transfer->actual_length : 0;
  switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED:
      return VI_SUCCESS;
    case LIBUSB_TRANSFER_TIMED_OUT:
      return VI_ERROR_TMO;
    case LIBUSB_TRANSFER_NO_DEVICE:
      return VI_ERROR_CONN_LOST;
    case LIBUSB_TRANSFER_CANCELLED:
      return canceled ? VI_ERROR_ABORT : VI_ERROR_IO;
    default:  // a stall, an overflow or a transfer error
      return VI_ERROR_IO;
  }
}

ViStatus LibusbTransport::BulkOut(const uint8_t* data, size_t size, size_t* sent,
                                  uint32_t timeoutMs) {
  *sent = 0;
  TransferRef transfer(libusb_alloc_transfer(0));
  if (!transfer) return VI_ERROR_ALLOC;
  libusb_fill_bulk_transfer(transfer.get(), handle_, interface_.bulkOutAddress,
                            const_cast<uint8_t*>(data), ClampLength(size), nullptr, nullptr,
                            LibusbTimeout(timeoutMs));
  int transferred = 0;
  const ViStatus status = Run(transfer.get(), &transferred);
  *sent = static_cast<size_t>(transferred);
  return status;
}

ViStatus LibusbTransport::BulkIn(uint8_t* buffer, size_t capacity, size_t* received,
                                 uint32_t timeoutMs) {
  *received = 0;
  TransferRef transfer(libusb_alloc_transfer(0));
  if (!transfer) return VI_ERROR_ALLOC;
  libusb_fill_bulk_transfer(transfer.get(), handle_, interface_.bulkInAddress, buffer,
                            ClampLength(capacity), nullptr, nullptr, LibusbTimeout(timeoutMs));
  int transferred = 0;
  const ViStatus status = Run(transfer.get(), &transferred);
  *received = static_cast<size_t>(transferred);
  return status;
}

ViStatus LibusbTransport::InterruptIn(uint8_t* buffer, size_t capacity, size_t* received,
                                      uint32_t timeoutMs) {
  *received = 0;
  if (interface_.interruptInAddress == 0) return VI_ERROR_NSUP_OPER;
  TransferRef transfer(libusb_alloc_transfer(0));
  if (!transfer) return VI_ERROR_ALLOC;
  libusb_fill_interrupt_transfer(transfer.get(), handle_, interface_.interruptInAddress, buffer,
                                 ClampLength(capacity), nullptr, nullptr,
                                 LibusbTimeout(timeoutMs));
  int transferred = 0;
  const ViStatus status = Run(transfer.get(), &transferred);
  *received = static_cast<size_t>(transferred);
  return status;
}

ViStatus LibusbTransport::ControlIn(const ControlSetup& setup, uint8_t* reply, size_t* received,
                                    uint32_t timeoutMs) {
  *received = 0;
  TransferRef transfer(libusb_alloc_transfer(0));
  if (!transfer) return VI_ERROR_ALLOC;
  // libusb takes the setup packet and the reply in one buffer, the setup first.
  std::vector<uint8_t> buffer(LIBUSB_CONTROL_SETUP_SIZE + setup.length);
  libusb_fill_control_setup(buffer.data(), setup.requestType, setup.request, setup.value,
                            setup.index, setup.length);
  libusb_fill_control_transfer(transfer.get(), handle_, buffer.data(), nullptr, nullptr,
                               LibusbTimeout(timeoutMs));
  int transferred = 0;
  const ViStatus status = Run(transfer.get(), &transferred);
  if (status != VI_SUCCESS) return status;
  const size_t n = static_cast<size_t>(transferred) < setup.length
                       ? static_cast<size_t>(transferred)
                       : setup.length;
  std::copy_n(buffer.begin() + LIBUSB_CONTROL_SETUP_SIZE, n, reply);
  *received = n;
  return VI_SUCCESS;
}

ViStatus LibusbTransport::ClearHalt(Pipe pipe, uint32_t) {
  {
    std::lock_guard<std::mutex> lock(cancelMutex_);
    if (canceled_) return VI_ERROR_ABORT;
  }
  const uint8_t endpoint =
      pipe == Pipe::kBulkIn ? interface_.bulkInAddress : interface_.bulkOutAddress;
  return StatusFromLibusb(libusb_clear_halt(handle_, endpoint));
}

}  // namespace fg::usbtmc

// viGetAttribute and viSetAttribute: the attributes of resource manager sessions, instrument
// sessions and event objects. Instrument facts are taken at open (see Session), so no attribute
// call reaches into a provider.
#include <string>

#include "util/bounded_text.h"
#include "visa/handle_table.h"
#include "visa/resource_locks.h"
#include "visa/visa.h"

namespace fg::visa {

namespace {

constexpr ViVersion kImplementationVersion = (2u << 20) | (4u << 8);  // 2.4.0
constexpr const char* kManufacturerName = "Flintgate";
// VI_ATTR_RSRC_MANF_ID: VXIplug&play assigns none to this layer; 0x3FFF is the unassigned id.
constexpr ViUInt16 kManufacturerId = 0x3FFF;

template <class T>
ViStatus Store(void* out, T value) {
  *static_cast<T*>(out) = value;
  return VI_SUCCESS;
}

ViStatus StoreText(void* out, const std::string& text) {
  CopyBounded(static_cast<char*>(out), VI_FIND_BUFLEN, text.c_str());
  return VI_SUCCESS;
}

bool IsResourceManagerAttribute(ViAttr attr) {
  return attr == VI_ATTR_RSRC_MANF_NAME || attr == VI_ATTR_RSRC_SPEC_VERSION ||
         attr == VI_ATTR_RSRC_IMPL_VERSION;
}

ViStatus GetResourceManagerAttribute(ViAttr attr, void* out) {
  switch (attr) {
    case VI_ATTR_RSRC_MANF_NAME: return StoreText(out, kManufacturerName);
    case VI_ATTR_RSRC_SPEC_VERSION: return Store<ViVersion>(out, VI_SPEC_VERSION);
    case VI_ATTR_RSRC_IMPL_VERSION: return Store<ViVersion>(out, kImplementationVersion);
    default: return VI_ERROR_NSUP_ATTR;
  }
}

ViStatus GetSessionAttribute(const Session& s, ViAttr attr, void* out) {
  switch (attr) {
    case VI_ATTR_TMO_VALUE: return Store<ViUInt32>(out, s.timeoutMs.load());
    case VI_ATTR_RSRC_NAME: return StoreText(out, s.name.canonical);
    case VI_ATTR_RSRC_CLASS: return StoreText(out, s.name.resourceClass);
    case VI_ATTR_RSRC_MANF_NAME: return StoreText(out, kManufacturerName);
    case VI_ATTR_RSRC_SPEC_VERSION: return Store<ViVersion>(out, VI_SPEC_VERSION);
    case VI_ATTR_RSRC_IMPL_VERSION: return Store<ViVersion>(out, kImplementationVersion);
    case VI_ATTR_RSRC_LOCK_STATE: return Store<ViAccessMode>(out, LockState(s.name.canonical));
    case VI_ATTR_RSRC_MANF_ID: return Store<ViUInt16>(out, kManufacturerId);
    case VI_ATTR_MANF_NAME: return StoreText(out, s.manufacturerName);
    case VI_ATTR_MODEL_NAME: return StoreText(out, s.modelName);
    case VI_ATTR_USB_PROTOCOL: return Store<ViInt16>(out, s.usbProtocol);
    case VI_ATTR_4882_COMPLIANT: return Store<ViBoolean>(out, s.usbProtocol == 1 ? VI_TRUE : VI_FALSE);
    case VI_ATTR_IO_PROT: return Store<ViUInt16>(out, VI_PROT_NORMAL);
    case VI_ATTR_SUPPRESS_END_EN: return Store<ViBoolean>(out, s.suppressEnd ? VI_TRUE : VI_FALSE);
    case VI_ATTR_RD_BUF_OPER_MODE: return Store<ViUInt16>(out, s.readBufferMode.load());
    case VI_ATTR_WR_BUF_OPER_MODE: return Store<ViUInt16>(out, s.writeBufferMode.load());
    case VI_ATTR_MAX_QUEUE_LENGTH: return Store<ViUInt32>(out, s.maxQueueLength.load());
    case VI_ATTR_USER_DATA: return Store<ViAttrState>(out, s.userData.load());
    case VI_ATTR_INTF_TYPE: return Store<ViUInt16>(out, s.name.interfaceType);
    case VI_ATTR_INTF_NUM: return Store<ViUInt16>(out, s.name.board);
    case VI_ATTR_MANF_ID: return Store<ViUInt16>(out, s.name.vendorId);
    case VI_ATTR_MODEL_CODE: return Store<ViUInt16>(out, s.name.productId);
    case VI_ATTR_USB_SERIAL_NUM: return StoreText(out, s.name.serial);
    case VI_ATTR_USB_INTFC_NUM: return Store<ViInt16>(out, static_cast<ViInt16>(s.name.usbInterface));
    case VI_ATTR_SEND_END_EN: return Store<ViBoolean>(out, VI_TRUE);
    case VI_ATTR_TERMCHAR: return Store<ViUInt8>(out, s.termChar.load());
    case VI_ATTR_TERMCHAR_EN: return Store<ViBoolean>(out, s.termCharEnabled ? VI_TRUE : VI_FALSE);
    case VI_ATTR_RD_BUF_SIZE: return Store<ViUInt32>(out, s.readBufferSize.load());
    case VI_ATTR_WR_BUF_SIZE: return Store<ViUInt32>(out, s.writeBufferSize.load());
    default: return VI_ERROR_NSUP_ATTR;
  }
}

ViStatus SetSessionAttribute(Session& s, ViAttr attr, ViAttrState value) {
  switch (attr) {
    case VI_ATTR_TMO_VALUE:
      if (value > VI_TMO_INFINITE) return VI_ERROR_NSUP_ATTR_STATE;
      s.timeoutMs = static_cast<ViUInt32>(value);
      return VI_SUCCESS;
    case VI_ATTR_TERMCHAR:
      if (value > 0xFF) return VI_ERROR_NSUP_ATTR_STATE;
      s.termChar = static_cast<ViUInt8>(value);
      return VI_SUCCESS;
    // Every write ends its message: sending without END is not supported.
    case VI_ATTR_SEND_END_EN:
      return value == VI_TRUE ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    case VI_ATTR_TERMCHAR_EN:
      if (value != VI_TRUE && value != VI_FALSE) return VI_ERROR_NSUP_ATTR_STATE;
      s.termCharEnabled = value == VI_TRUE;
      return VI_SUCCESS;
    case VI_ATTR_SUPPRESS_END_EN:
      if (value != VI_TRUE && value != VI_FALSE) return VI_ERROR_NSUP_ATTR_STATE;
      s.suppressEnd = value == VI_TRUE;
      return VI_SUCCESS;
    // Reads and writes are unbuffered: a read buffer is never flushed on its own, and
    // every write goes out at once.
    case VI_ATTR_RD_BUF_OPER_MODE:
      if (value != VI_FLUSH_ON_ACCESS && value != VI_FLUSH_DISABLE) return VI_ERROR_NSUP_ATTR_STATE;
      s.readBufferMode = static_cast<ViUInt16>(value);
      return VI_SUCCESS;
    case VI_ATTR_WR_BUF_OPER_MODE:
      if (value != VI_FLUSH_ON_ACCESS && value != VI_FLUSH_WHEN_FULL) return VI_ERROR_NSUP_ATTR_STATE;
      s.writeBufferMode = static_cast<ViUInt16>(value);
      return VI_SUCCESS;
    case VI_ATTR_MAX_QUEUE_LENGTH:
      if (value == 0 || value > 0xFFFFFFFFu) return VI_ERROR_NSUP_ATTR_STATE;
      s.maxQueueLength = static_cast<ViUInt32>(value);
      return VI_SUCCESS;
    case VI_ATTR_USER_DATA:
      s.userData = value;
      return VI_SUCCESS;
    case VI_ATTR_IO_PROT:
      return value == VI_PROT_NORMAL ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    case VI_ATTR_RSRC_MANF_ID:
    case VI_ATTR_MANF_NAME:
    case VI_ATTR_MODEL_NAME:
    case VI_ATTR_USB_PROTOCOL:
    case VI_ATTR_4882_COMPLIANT:
    case VI_ATTR_RSRC_NAME:
    case VI_ATTR_RSRC_CLASS:
    case VI_ATTR_RSRC_MANF_NAME:
    case VI_ATTR_RSRC_SPEC_VERSION:
    case VI_ATTR_RSRC_IMPL_VERSION:
    case VI_ATTR_RSRC_LOCK_STATE:
    case VI_ATTR_INTF_TYPE:
    case VI_ATTR_INTF_NUM:
    case VI_ATTR_MANF_ID:
    case VI_ATTR_MODEL_CODE:
    case VI_ATTR_USB_SERIAL_NUM:
    case VI_ATTR_USB_INTFC_NUM:
    case VI_ATTR_RD_BUF_SIZE:
    case VI_ATTR_WR_BUF_SIZE:
      return VI_ERROR_ATTR_READONLY;
    default:
      return VI_ERROR_NSUP_ATTR;
  }
}

ViStatus GetEventAttribute(const EventObject& e, ViAttr attr, void* out) {
  switch (attr) {
    case VI_ATTR_EVENT_TYPE: return Store<ViEventType>(out, e.type);
    case VI_ATTR_STATUS: return Store<ViStatus>(out, VI_SUCCESS);
    default: return VI_ERROR_NSUP_ATTR;
  }
}

}  // namespace

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
  if (std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession)) {
    return SetSessionAttribute(*s, attrName, attrValue);
  }
  if (Handles().Get<ResourceManager>(vi, Kind::kResourceManager)) {
    return IsResourceManagerAttribute(attrName) ? VI_ERROR_ATTR_READONLY : VI_ERROR_NSUP_ATTR;
  }
  if (Handles().Has(vi)) return VI_ERROR_NSUP_ATTR;
  return VI_ERROR_INV_OBJECT;
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
  if (std::shared_ptr<EventObject> e = Handles().Get<EventObject>(vi, Kind::kEvent)) {
    if (attrValue == nullptr) return VI_ERROR_USER_BUF;
    return GetEventAttribute(*e, attrName, attrValue);
  }
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  bool isRm = !s && Handles().Get<ResourceManager>(vi, Kind::kResourceManager) != nullptr;
  if (!s && !isRm) return Handles().Has(vi) ? VI_ERROR_NSUP_ATTR : VI_ERROR_INV_OBJECT;
  if (attrValue == nullptr) return VI_ERROR_USER_BUF;
  return s ? GetSessionAttribute(*s, attrName, attrValue)
           : GetResourceManagerAttribute(attrName, attrValue);
}

}  // namespace fg::visa

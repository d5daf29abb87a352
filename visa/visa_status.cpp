// viStatusDesc: the text of every status this layer returns, and of the other standard ones.
#include <cstdio>

#include "util/bounded_text.h"
#include "visa/visa.h"

namespace fg::visa {

namespace {

struct StatusText {
  ViStatus status;
  const char* text;
};

constexpr StatusText kStatusTexts[] = {
    {VI_SUCCESS, "VI_SUCCESS: Operation completed successfully."},
    {VI_SUCCESS_EVENT_EN, "VI_SUCCESS_EVENT_EN: Specified event is already enabled."},
    {VI_SUCCESS_EVENT_DIS, "VI_SUCCESS_EVENT_DIS: Specified event is already disabled."},
    {VI_SUCCESS_QUEUE_EMPTY, "VI_SUCCESS_QUEUE_EMPTY: The event queue was empty."},
    {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR: The termination character was read."},
    {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT: The number of bytes read equals the count asked for."},
    {VI_WARN_QUEUE_OVERFLOW, "VI_WARN_QUEUE_OVERFLOW: Events were lost because the queue was full."},
    {VI_WARN_CONFIG_NLOADED, "VI_WARN_CONFIG_NLOADED: The configuration could not be loaded."},
    {VI_SUCCESS_DEV_NPRESENT, "VI_SUCCESS_DEV_NPRESENT: The session opened, but the device does not respond."},
    {VI_SUCCESS_QUEUE_NEMPTY, "VI_SUCCESS_QUEUE_NEMPTY: Events remain in the queue."},
    {VI_WARN_NULL_OBJECT, "VI_WARN_NULL_OBJECT: The object reference is VI_NULL."},
    {VI_WARN_NSUP_ATTR_STATE, "VI_WARN_NSUP_ATTR_STATE: The attribute state is not supported, but was accepted."},
    {VI_WARN_UNKNOWN_STATUS, "VI_WARN_UNKNOWN_STATUS: The status code is not known."},
    {VI_WARN_NSUP_BUF, "VI_WARN_NSUP_BUF: The buffer setting is not supported."},
    {VI_SUCCESS_NESTED_SHARED, "VI_SUCCESS_NESTED_SHARED: The shared lock was taken again; the session holds it more than once."},
    {VI_SUCCESS_NESTED_EXCLUSIVE, "VI_SUCCESS_NESTED_EXCLUSIVE: The exclusive lock was taken again; the session holds it more than once."},
    {VI_SUCCESS_SYNC, "VI_SUCCESS_SYNC: The asynchronous operation completed synchronously."},
    {VI_WARN_EXT_FUNC_NIMPL, "VI_WARN_EXT_FUNC_NIMPL: The operation is not implemented by this library."},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR: Unknown system error."},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT: The given session or object reference is invalid."},
    {VI_ERROR_RSRC_LOCKED, "VI_ERROR_RSRC_LOCKED: The resource is locked by another session."},
    {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR: The search expression is invalid."},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND: No resource matches, or the resource is not present."},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME: The resource name is invalid."},
    {VI_ERROR_INV_ACC_MODE, "VI_ERROR_INV_ACC_MODE: The access mode is invalid."},
    {VI_ERROR_TMO, "VI_ERROR_TMO: The timeout expired before the operation completed."},
    {VI_ERROR_CLOSING_FAILED, "VI_ERROR_CLOSING_FAILED: The session or object could not be closed."},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR: The attribute is not supported by this object."},
    {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE: The attribute value is not supported."},
    {VI_ERROR_ATTR_READONLY, "VI_ERROR_ATTR_READONLY: The attribute is read-only."},
    {VI_ERROR_INV_LOCK_TYPE, "VI_ERROR_INV_LOCK_TYPE: The lock type is invalid."},
    {VI_ERROR_INV_ACCESS_KEY, "VI_ERROR_INV_ACCESS_KEY: The access key of the shared lock is invalid."},
    {VI_ERROR_INV_EVENT, "VI_ERROR_INV_EVENT: The event type is not supported by this resource."},
    {VI_ERROR_INV_MECH, "VI_ERROR_INV_MECH: The event mechanism is invalid."},
    {VI_ERROR_HNDLR_NINSTALLED, "VI_ERROR_HNDLR_NINSTALLED: No handler is installed for the event."},
    {VI_ERROR_INV_CONTEXT, "VI_ERROR_INV_CONTEXT: The event context or filter is invalid."},
    {VI_ERROR_NENABLED, "VI_ERROR_NENABLED: The session is not enabled for the event."},
    {VI_ERROR_ABORT, "VI_ERROR_ABORT: The operation was aborted."},
    {VI_ERROR_INV_SETUP, "VI_ERROR_INV_SETUP: The operation could not start because the setup is invalid."},
    {VI_ERROR_ALLOC, "VI_ERROR_ALLOC: Insufficient system resources (memory or file descriptors) for the operation."},
    {VI_ERROR_INV_MASK, "VI_ERROR_INV_MASK: The buffer mask is invalid."},
    {VI_ERROR_IO, "VI_ERROR_IO: An input/output error occurred."},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER: The operation is not supported by this object."},
    {VI_ERROR_USER_BUF, "VI_ERROR_USER_BUF: The user buffer is invalid or too small."},
    {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY: The resource is in use and cannot be opened now."},
    {VI_ERROR_INV_PARAMETER, "VI_ERROR_INV_PARAMETER: A parameter is invalid."},
    {VI_ERROR_INV_PROT, "VI_ERROR_INV_PROT: The protocol is invalid."},
    {VI_ERROR_INV_SIZE, "VI_ERROR_INV_SIZE: The size is invalid."},
    {VI_ERROR_NIMPL_OPER, "VI_ERROR_NIMPL_OPER: The operation is not implemented."},
    {VI_ERROR_INV_LENGTH, "VI_ERROR_INV_LENGTH: The length is invalid."},
    {VI_ERROR_SESN_NLOCKED, "VI_ERROR_SESN_NLOCKED: The session does not hold a lock on the resource."},
    {VI_ERROR_LIBRARY_NFOUND, "VI_ERROR_LIBRARY_NFOUND: A library the operation needs was not found."},
    {VI_ERROR_FILE_ACCESS, "VI_ERROR_FILE_ACCESS: The file could not be accessed."},
    {VI_ERROR_FILE_IO, "VI_ERROR_FILE_IO: A file input/output error occurred."},
    {VI_ERROR_NSUP_MECH, "VI_ERROR_NSUP_MECH: The event mechanism is not supported."},
    {VI_ERROR_INTF_NUM_NCONFIG, "VI_ERROR_INTF_NUM_NCONFIG: The interface number is not configured."},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST: The connection to the device was lost."},
    {VI_ERROR_NPERMISSION, "VI_ERROR_NPERMISSION: No permission to access the resource."},
};

}  // namespace

ViStatus viStatusDesc(ViObject, ViStatus status, ViChar desc[]) {
  if (desc == nullptr) return VI_ERROR_USER_BUF;
  for (const StatusText& entry : kStatusTexts) {
    if (entry.status == status) {
      CopyBounded(desc, VI_FIND_BUFLEN, entry.text);
      return VI_SUCCESS;
    }
  }
  std::snprintf(desc, VI_FIND_BUFLEN, "Unknown status code 0x%08X.", static_cast<unsigned>(status));
  return VI_WARN_UNKNOWN_STATUS;
}

}  // namespace fg::visa

// VISA's standard types and constants, with the standard numeric values.
#pragma once
#include <cstdint>

namespace fg::visa {

using ViUInt64 = uint64_t;
using ViInt64 = int64_t;
using ViUInt32 = uint32_t;
using ViInt32 = int32_t;
using ViUInt16 = uint16_t;
using ViInt16 = int16_t;
using ViUInt8 = uint8_t;
using ViInt8 = int8_t;
using ViChar = char;
using ViByte = unsigned char;
using ViBoolean = ViUInt16;
using ViStatus = ViInt32;
using ViObject = ViUInt32;
using ViSession = ViObject;
using ViFindList = ViObject;
using ViEvent = ViObject;
using ViEventType = ViUInt32;
using ViAttr = ViUInt32;
using ViAccessMode = ViUInt32;
using ViVersion = ViUInt32;
// 64 bits on 64-bit builds, 32 on 32-bit ones: wide enough to carry a pointer.
using ViAttrState = uintptr_t;
using ViString = char*;
using ViConstString = const char*;
using ViRsrc = char*;
using ViConstRsrc = const char*;
using ViBuf = unsigned char*;
using ViConstBuf = const unsigned char*;
using ViPBuf = unsigned char*;
using ViPUInt32 = ViUInt32*;
using ViPUInt16 = ViUInt16*;
using ViPSession = ViSession*;
using ViPEventType = ViEventType*;
using ViPEvent = ViEvent*;
using ViEventFilter = ViUInt32;
using ViKeyId = char*;
using ViConstKeyId = const char*;
using ViAddr = void*;
using ViPFindList = ViFindList*;

static_assert(sizeof(ViSession) == 4 && sizeof(ViStatus) == 4 && sizeof(ViBoolean) == 2);
static_assert(sizeof(ViAttrState) == sizeof(void*));

inline constexpr ViObject VI_NULL = 0;
inline constexpr ViBoolean VI_TRUE = 1;
inline constexpr ViBoolean VI_FALSE = 0;
inline constexpr ViUInt32 VI_FIND_BUFLEN = 256;  // room for any resource name, NUL included
inline constexpr ViVersion VI_SPEC_VERSION = 0x00500800u;  // VISA 5.8

// Access modes of viOpen.
inline constexpr ViAccessMode VI_NO_LOCK = 0;
inline constexpr ViAccessMode VI_EXCLUSIVE_LOCK = 1;
inline constexpr ViAccessMode VI_SHARED_LOCK = 2;
inline constexpr ViAccessMode VI_LOAD_CONFIG = 4;

inline constexpr ViUInt32 VI_TMO_IMMEDIATE = 0;
inline constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFFu;

// Buffer masks of viSetBuf and viFlush.
inline constexpr ViUInt16 VI_READ_BUF = 1;
inline constexpr ViUInt16 VI_WRITE_BUF = 2;
inline constexpr ViUInt16 VI_READ_BUF_DISCARD = 4;
inline constexpr ViUInt16 VI_WRITE_BUF_DISCARD = 8;
inline constexpr ViUInt16 VI_IO_IN_BUF = 16;
inline constexpr ViUInt16 VI_IO_OUT_BUF = 32;
inline constexpr ViUInt16 VI_IO_IN_BUF_DISCARD = 64;
inline constexpr ViUInt16 VI_IO_OUT_BUF_DISCARD = 128;

// Interface types (VI_ATTR_INTF_TYPE, viParseRsrc).
inline constexpr ViUInt16 VI_INTF_GPIB = 1;
inline constexpr ViUInt16 VI_INTF_VXI = 2;
inline constexpr ViUInt16 VI_INTF_GPIB_VXI = 3;
inline constexpr ViUInt16 VI_INTF_ASRL = 4;
inline constexpr ViUInt16 VI_INTF_PXI = 5;
inline constexpr ViUInt16 VI_INTF_TCPIP = 6;
inline constexpr ViUInt16 VI_INTF_USB = 7;

// Events and event mechanisms.
inline constexpr ViEventType VI_EVENT_IO_COMPLETION = 0x3FFF2009u;
inline constexpr ViEventType VI_EVENT_TRIG = 0xBFFF200Au;
inline constexpr ViEventType VI_EVENT_SERVICE_REQ = 0x3FFF200Bu;
inline constexpr ViEventType VI_EVENT_CLEAR = 0x3FFF200Du;
inline constexpr ViEventType VI_EVENT_EXCEPTION = 0xBFFF200Eu;
inline constexpr ViEventType VI_EVENT_USB_INTR = 0x3FFF2037u;
inline constexpr ViEventType VI_ALL_ENABLED_EVENTS = 0x3FFF7FFFu;
inline constexpr ViUInt16 VI_QUEUE = 1;
inline constexpr ViUInt16 VI_HNDLR = 2;
inline constexpr ViUInt16 VI_SUSPEND_HNDLR = 4;
inline constexpr ViUInt16 VI_ALL_MECH = 0xFFFF;

// Completion and warning codes.
inline constexpr ViStatus VI_SUCCESS = 0;
inline constexpr ViStatus VI_SUCCESS_EVENT_EN = 0x3FFF0002;
inline constexpr ViStatus VI_SUCCESS_EVENT_DIS = 0x3FFF0003;
inline constexpr ViStatus VI_SUCCESS_QUEUE_EMPTY = 0x3FFF0004;
inline constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
inline constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;
inline constexpr ViStatus VI_WARN_QUEUE_OVERFLOW = 0x3FFF000C;
inline constexpr ViStatus VI_WARN_CONFIG_NLOADED = 0x3FFF0077;
inline constexpr ViStatus VI_SUCCESS_DEV_NPRESENT = 0x3FFF007D;
inline constexpr ViStatus VI_SUCCESS_TRIG_MAPPED = 0x3FFF007E;
inline constexpr ViStatus VI_SUCCESS_QUEUE_NEMPTY = 0x3FFF0080;
inline constexpr ViStatus VI_WARN_NULL_OBJECT = 0x3FFF0082;
inline constexpr ViStatus VI_WARN_NSUP_ATTR_STATE = 0x3FFF0084;
inline constexpr ViStatus VI_WARN_UNKNOWN_STATUS = 0x3FFF0085;
inline constexpr ViStatus VI_WARN_NSUP_BUF = 0x3FFF0088;
inline constexpr ViStatus VI_SUCCESS_NCHAIN = 0x3FFF0098;
inline constexpr ViStatus VI_SUCCESS_NESTED_SHARED = 0x3FFF0099;
inline constexpr ViStatus VI_SUCCESS_NESTED_EXCLUSIVE = 0x3FFF009A;
inline constexpr ViStatus VI_SUCCESS_SYNC = 0x3FFF009B;
inline constexpr ViStatus VI_WARN_EXT_FUNC_NIMPL = 0x3FFF00A9;

// Error codes: the high bit set, so every error is negative.
constexpr ViStatus ViError(uint32_t code) { return static_cast<ViStatus>(0xBFFF0000u | code); }
inline constexpr ViStatus VI_ERROR_SYSTEM_ERROR = ViError(0x0000);
inline constexpr ViStatus VI_ERROR_INV_OBJECT = ViError(0x000E);
inline constexpr ViStatus VI_ERROR_INV_SESSION = VI_ERROR_INV_OBJECT;
inline constexpr ViStatus VI_ERROR_RSRC_LOCKED = ViError(0x000F);
inline constexpr ViStatus VI_ERROR_INV_EXPR = ViError(0x0010);
inline constexpr ViStatus VI_ERROR_RSRC_NFOUND = ViError(0x0011);
inline constexpr ViStatus VI_ERROR_INV_RSRC_NAME = ViError(0x0012);
inline constexpr ViStatus VI_ERROR_INV_ACC_MODE = ViError(0x0013);
inline constexpr ViStatus VI_ERROR_TMO = ViError(0x0015);
inline constexpr ViStatus VI_ERROR_CLOSING_FAILED = ViError(0x0016);
inline constexpr ViStatus VI_ERROR_INV_DEGREE = ViError(0x001B);
inline constexpr ViStatus VI_ERROR_INV_JOB_ID = ViError(0x001C);
inline constexpr ViStatus VI_ERROR_NSUP_ATTR = ViError(0x001D);
inline constexpr ViStatus VI_ERROR_NSUP_ATTR_STATE = ViError(0x001E);
inline constexpr ViStatus VI_ERROR_ATTR_READONLY = ViError(0x001F);
inline constexpr ViStatus VI_ERROR_INV_LOCK_TYPE = ViError(0x0020);
inline constexpr ViStatus VI_ERROR_INV_ACCESS_KEY = ViError(0x0021);
inline constexpr ViStatus VI_ERROR_INV_EVENT = ViError(0x0026);
inline constexpr ViStatus VI_ERROR_INV_MECH = ViError(0x0027);
inline constexpr ViStatus VI_ERROR_HNDLR_NINSTALLED = ViError(0x0028);
inline constexpr ViStatus VI_ERROR_INV_HNDLR_REF = ViError(0x0029);
inline constexpr ViStatus VI_ERROR_INV_CONTEXT = ViError(0x002A);
inline constexpr ViStatus VI_ERROR_QUEUE_OVERFLOW = ViError(0x002D);
inline constexpr ViStatus VI_ERROR_NENABLED = ViError(0x002F);
inline constexpr ViStatus VI_ERROR_ABORT = ViError(0x0030);
inline constexpr ViStatus VI_ERROR_RAW_WR_PROT_VIOL = ViError(0x0034);
inline constexpr ViStatus VI_ERROR_RAW_RD_PROT_VIOL = ViError(0x0035);
inline constexpr ViStatus VI_ERROR_OUTP_PROT_VIOL = ViError(0x0036);
inline constexpr ViStatus VI_ERROR_INP_PROT_VIOL = ViError(0x0037);
inline constexpr ViStatus VI_ERROR_BERR = ViError(0x0038);
inline constexpr ViStatus VI_ERROR_IN_PROGRESS = ViError(0x0039);
inline constexpr ViStatus VI_ERROR_INV_SETUP = ViError(0x003A);
inline constexpr ViStatus VI_ERROR_QUEUE_ERROR = ViError(0x003B);
inline constexpr ViStatus VI_ERROR_ALLOC = ViError(0x003C);
inline constexpr ViStatus VI_ERROR_INV_MASK = ViError(0x003D);
inline constexpr ViStatus VI_ERROR_IO = ViError(0x003E);
inline constexpr ViStatus VI_ERROR_INV_FMT = ViError(0x003F);
inline constexpr ViStatus VI_ERROR_NSUP_FMT = ViError(0x0041);
inline constexpr ViStatus VI_ERROR_LINE_IN_USE = ViError(0x0042);
inline constexpr ViStatus VI_ERROR_NSUP_MODE = ViError(0x0046);
inline constexpr ViStatus VI_ERROR_SRQ_NOCCURRED = ViError(0x004A);
inline constexpr ViStatus VI_ERROR_INV_SPACE = ViError(0x004E);
inline constexpr ViStatus VI_ERROR_INV_OFFSET = ViError(0x0051);
inline constexpr ViStatus VI_ERROR_INV_WIDTH = ViError(0x0052);
inline constexpr ViStatus VI_ERROR_NSUP_OFFSET = ViError(0x0054);
inline constexpr ViStatus VI_ERROR_NSUP_VAR_WIDTH = ViError(0x0055);
inline constexpr ViStatus VI_ERROR_WINDOW_NMAPPED = ViError(0x0057);
inline constexpr ViStatus VI_ERROR_RESP_PENDING = ViError(0x0059);
inline constexpr ViStatus VI_ERROR_NLISTENERS = ViError(0x005F);
inline constexpr ViStatus VI_ERROR_NCIC = ViError(0x0060);
inline constexpr ViStatus VI_ERROR_NSYS_CNTLR = ViError(0x0061);
inline constexpr ViStatus VI_ERROR_NSUP_OPER = ViError(0x0067);
inline constexpr ViStatus VI_ERROR_INTR_PENDING = ViError(0x0068);
inline constexpr ViStatus VI_ERROR_ASRL_PARITY = ViError(0x006A);
inline constexpr ViStatus VI_ERROR_ASRL_FRAMING = ViError(0x006B);
inline constexpr ViStatus VI_ERROR_ASRL_OVERRUN = ViError(0x006C);
inline constexpr ViStatus VI_ERROR_TRIG_NMAPPED = ViError(0x006E);
inline constexpr ViStatus VI_ERROR_NSUP_ALIGN_OFFSET = ViError(0x0070);
inline constexpr ViStatus VI_ERROR_USER_BUF = ViError(0x0071);
inline constexpr ViStatus VI_ERROR_RSRC_BUSY = ViError(0x0072);
inline constexpr ViStatus VI_ERROR_NSUP_WIDTH = ViError(0x0076);
inline constexpr ViStatus VI_ERROR_INV_PARAMETER = ViError(0x0078);
inline constexpr ViStatus VI_ERROR_INV_PROT = ViError(0x0079);
inline constexpr ViStatus VI_ERROR_INV_SIZE = ViError(0x007B);
inline constexpr ViStatus VI_ERROR_WINDOW_MAPPED = ViError(0x0080);
inline constexpr ViStatus VI_ERROR_NIMPL_OPER = ViError(0x0081);
inline constexpr ViStatus VI_ERROR_INV_LENGTH = ViError(0x0083);
inline constexpr ViStatus VI_ERROR_INV_MODE = ViError(0x0091);
inline constexpr ViStatus VI_ERROR_SESN_NLOCKED = ViError(0x009C);
inline constexpr ViStatus VI_ERROR_MEM_NSHARED = ViError(0x009D);
inline constexpr ViStatus VI_ERROR_LIBRARY_NFOUND = ViError(0x009E);
inline constexpr ViStatus VI_ERROR_NSUP_INTR = ViError(0x009F);
inline constexpr ViStatus VI_ERROR_INV_LINE = ViError(0x00A0);
inline constexpr ViStatus VI_ERROR_FILE_ACCESS = ViError(0x00A1);
inline constexpr ViStatus VI_ERROR_FILE_IO = ViError(0x00A2);
inline constexpr ViStatus VI_ERROR_NSUP_LINE = ViError(0x00A3);
inline constexpr ViStatus VI_ERROR_NSUP_MECH = ViError(0x00A4);
inline constexpr ViStatus VI_ERROR_INTF_NUM_NCONFIG = ViError(0x00A5);
inline constexpr ViStatus VI_ERROR_CONN_LOST = ViError(0x00A6);
inline constexpr ViStatus VI_ERROR_NPERMISSION = ViError(0x00A8);

// Attributes. Template attributes (0x3FFF....) are numbers; 0xBFFF.... ones are texts.
inline constexpr ViAttr VI_ATTR_RSRC_CLASS = 0xBFFF0001u;
inline constexpr ViAttr VI_ATTR_RSRC_NAME = 0xBFFF0002u;
inline constexpr ViAttr VI_ATTR_RSRC_IMPL_VERSION = 0x3FFF0003u;
inline constexpr ViAttr VI_ATTR_RSRC_LOCK_STATE = 0x3FFF0004u;
inline constexpr ViAttr VI_ATTR_MAX_QUEUE_LENGTH = 0x3FFF0005u;
inline constexpr ViAttr VI_ATTR_USER_DATA = 0x3FFF0007u;
inline constexpr ViAttr VI_ATTR_SEND_END_EN = 0x3FFF0016u;
inline constexpr ViAttr VI_ATTR_TERMCHAR = 0x3FFF0018u;
inline constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001Au;
inline constexpr ViAttr VI_ATTR_IO_PROT = 0x3FFF001Cu;
inline constexpr ViAttr VI_ATTR_RD_BUF_OPER_MODE = 0x3FFF002Au;
inline constexpr ViAttr VI_ATTR_RD_BUF_SIZE = 0x3FFF002Bu;
inline constexpr ViAttr VI_ATTR_WR_BUF_OPER_MODE = 0x3FFF002Du;
inline constexpr ViAttr VI_ATTR_WR_BUF_SIZE = 0x3FFF002Eu;
inline constexpr ViAttr VI_ATTR_SUPPRESS_END_EN = 0x3FFF0036u;
inline constexpr ViAttr VI_ATTR_TERMCHAR_EN = 0x3FFF0038u;
inline constexpr ViAttr VI_ATTR_MANF_NAME = 0xBFFF0072u;
inline constexpr ViAttr VI_ATTR_MODEL_NAME = 0xBFFF0077u;
inline constexpr ViAttr VI_ATTR_MANF_ID = 0x3FFF00D9u;
inline constexpr ViAttr VI_ATTR_MODEL_CODE = 0x3FFF00DFu;
inline constexpr ViAttr VI_ATTR_INTF_INST_NAME = 0xBFFF00E9u;
inline constexpr ViAttr VI_ATTR_RSRC_SPEC_VERSION = 0x3FFF0170u;
inline constexpr ViAttr VI_ATTR_INTF_TYPE = 0x3FFF0171u;
inline constexpr ViAttr VI_ATTR_RSRC_MANF_NAME = 0xBFFF0174u;
inline constexpr ViAttr VI_ATTR_RSRC_MANF_ID = 0x3FFF0175u;
inline constexpr ViAttr VI_ATTR_INTF_NUM = 0x3FFF0176u;
inline constexpr ViAttr VI_ATTR_USB_SERIAL_NUM = 0xBFFF01A0u;
inline constexpr ViAttr VI_ATTR_USB_INTFC_NUM = 0x3FFF01A1u;
inline constexpr ViAttr VI_ATTR_USB_PROTOCOL = 0x3FFF01A7u;
inline constexpr ViAttr VI_ATTR_USB_MAX_INTR_SIZE = 0x3FFF01AFu;
inline constexpr ViAttr VI_ATTR_4882_COMPLIANT = 0x3FFF019Fu;
inline constexpr ViAttr VI_ATTR_EVENT_TYPE = 0x3FFF4010u;
inline constexpr ViAttr VI_ATTR_STATUS = 0x3FFF4025u;
inline constexpr ViAttr VI_ATTR_RECV_INTR_SIZE = 0x3FFF41B0u;

// Values of VI_ATTR_RD_BUF_OPER_MODE and VI_ATTR_WR_BUF_OPER_MODE.
inline constexpr ViUInt16 VI_FLUSH_ON_ACCESS = 1;
inline constexpr ViUInt16 VI_FLUSH_WHEN_FULL = 2;
inline constexpr ViUInt16 VI_FLUSH_DISABLE = 4;

// Trigger protocol of viAssertTrigger.
inline constexpr ViUInt16 VI_TRIG_PROT_DEFAULT = 0;

// The default length of an event queue (VI_ATTR_MAX_QUEUE_LENGTH).
inline constexpr ViUInt32 VI_DEFAULT_QUEUE_LENGTH = 50;

// Values of VI_ATTR_IO_PROT.
inline constexpr ViUInt16 VI_PROT_NORMAL = 1;

}  // namespace fg::visa

namespace fg {
using visa::ViSession;
using visa::ViStatus;
}  // namespace fg

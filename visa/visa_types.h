// VISA's standard types and constants, with the standard numeric values.
#pragma once
#include <cstdint>

namespace fg::visa {

using ViUInt32 = uint32_t;
using ViInt32 = int32_t;
using ViUInt16 = uint16_t;
using ViInt16 = int16_t;
using ViUInt8 = uint8_t;
using ViChar = char;
using ViByte = unsigned char;
using ViBoolean = uint16_t;
using ViStatus = int32_t;
using ViObject = uint32_t;
using ViSession = uint32_t;
using ViFindList = uint32_t;
using ViEventType = uint32_t;
using ViAttr = uint32_t;
using ViAccessMode = uint32_t;
using ViAttrState = uintptr_t;  // 64 bits on 64-bit builds, as the standard's ULONG_PTR
using ViString = char*;
using ViConstString = const char*;
using ViRsrc = char*;
using ViConstRsrc = const char*;
using ViBuf = unsigned char*;
using ViConstBuf = const unsigned char*;
using ViPBuf = unsigned char*;
using ViPUInt32 = uint32_t*;
using ViPSession = ViSession*;
using ViPFindList = ViFindList*;

inline constexpr ViSession VI_NULL = 0;
inline constexpr ViUInt32 VI_FIND_BUFLEN = 256;
inline constexpr ViUInt32 VI_NO_LOCK = 0;
inline constexpr ViUInt32 VI_TMO_IMMEDIATE = 0;
inline constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFFu;
inline constexpr ViUInt16 VI_READ_BUF = 1;
inline constexpr ViUInt16 VI_WRITE_BUF = 2;
inline constexpr ViUInt16 VI_IO_IN_BUF = 16;
inline constexpr ViUInt16 VI_IO_OUT_BUF = 32;
inline constexpr ViUInt16 VI_INTF_USB = 7;
inline constexpr ViEventType VI_ALL_ENABLED_EVENTS = 0x3FFF7FFFu;
inline constexpr ViUInt16 VI_ALL_MECH = 0xFFFF;

// Completion and warning codes.
inline constexpr ViStatus VI_SUCCESS = 0;
inline constexpr ViStatus VI_SUCCESS_EVENT_EN = 0x3FFF0002;
inline constexpr ViStatus VI_SUCCESS_EVENT_DIS = 0x3FFF0003;
inline constexpr ViStatus VI_SUCCESS_QUEUE_EMPTY = 0x3FFF0004;
inline constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
inline constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;
inline constexpr ViStatus VI_WARN_UNKNOWN_STATUS = 0x3FFF0085;

// Error codes.
inline constexpr ViStatus VI_ERROR_SYSTEM_ERROR = static_cast<ViStatus>(0xBFFF0000u);
inline constexpr ViStatus VI_ERROR_INV_OBJECT = static_cast<ViStatus>(0xBFFF000Eu);
inline constexpr ViStatus VI_ERROR_RSRC_LOCKED = static_cast<ViStatus>(0xBFFF000Fu);
inline constexpr ViStatus VI_ERROR_INV_EXPR = static_cast<ViStatus>(0xBFFF0010u);
inline constexpr ViStatus VI_ERROR_RSRC_NFOUND = static_cast<ViStatus>(0xBFFF0011u);
inline constexpr ViStatus VI_ERROR_INV_RSRC_NAME = static_cast<ViStatus>(0xBFFF0012u);
inline constexpr ViStatus VI_ERROR_INV_ACC_MODE = static_cast<ViStatus>(0xBFFF0013u);
inline constexpr ViStatus VI_ERROR_TMO = static_cast<ViStatus>(0xBFFF0015u);
inline constexpr ViStatus VI_ERROR_CLOSING_FAILED = static_cast<ViStatus>(0xBFFF0016u);
inline constexpr ViStatus VI_ERROR_NSUP_ATTR = static_cast<ViStatus>(0xBFFF001Du);
inline constexpr ViStatus VI_ERROR_NSUP_ATTR_STATE = static_cast<ViStatus>(0xBFFF001Eu);
inline constexpr ViStatus VI_ERROR_ATTR_READONLY = static_cast<ViStatus>(0xBFFF001Fu);
inline constexpr ViStatus VI_ERROR_INV_EVENT = static_cast<ViStatus>(0xBFFF0026u);
inline constexpr ViStatus VI_ERROR_INV_SETUP = static_cast<ViStatus>(0xBFFF003Au);
inline constexpr ViStatus VI_ERROR_ALLOC = static_cast<ViStatus>(0xBFFF003Cu);
inline constexpr ViStatus VI_ERROR_IO = static_cast<ViStatus>(0xBFFF003Eu);
inline constexpr ViStatus VI_ERROR_NSUP_OPER = static_cast<ViStatus>(0xBFFF0067u);
inline constexpr ViStatus VI_ERROR_USER_BUF = static_cast<ViStatus>(0xBFFF0071u);
inline constexpr ViStatus VI_ERROR_RSRC_BUSY = static_cast<ViStatus>(0xBFFF0072u);
inline constexpr ViStatus VI_ERROR_INV_PARAMETER = static_cast<ViStatus>(0xBFFF0078u);
inline constexpr ViStatus VI_ERROR_LIBRARY_NFOUND = static_cast<ViStatus>(0xBFFF009Eu);
inline constexpr ViStatus VI_ERROR_CONN_LOST = static_cast<ViStatus>(0xBFFF00A6u);

// Attributes.
inline constexpr ViAttr VI_ATTR_RSRC_NAME = 0xBFFF0002u;
inline constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001Au;
inline constexpr ViAttr VI_ATTR_RSRC_MANF_NAME = 0xBFFF0174u;
inline constexpr ViAttr VI_ATTR_MANF_ID = 0x3FFF00D9u;
inline constexpr ViAttr VI_ATTR_MODEL_CODE = 0x3FFF00DFu;
inline constexpr ViAttr VI_ATTR_USB_SERIAL_NUM = 0xBFFF01A0u;
inline constexpr ViAttr VI_ATTR_USB_INTFC_NUM = 0x3FFF01A1u;

}  // namespace fg::visa

namespace fg {
using visa::ViSession;
using visa::ViStatus;
}  // namespace fg

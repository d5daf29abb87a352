/* Another complete VISA library with one USB instrument, written for the loader tests. It reports
 * its resource with an explicit "::0" interface number, as some libraries do, and its
 * viParseRsrc calls its own exported viParseRsrcEx, which marks the interface type 0x4242: a
 * caller that sees another value was bound to somebody else's viParseRsrcEx. */
#include <stdint.h>
#include <string.h>

typedef unsigned int ViUInt32;
typedef unsigned short ViUInt16;
typedef int ViStatus;
typedef char ViChar;
typedef uintptr_t ViAttrState;

#define OTHER_SUCCESS 0
#define OTHER_SUCCESS_MAX_CNT 0x3FFF0006
#define OTHER_ERROR_INV_OBJECT ((ViStatus)0xBFFF000Eu)
#define OTHER_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011u)
#define OTHER_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001Du)
#define OTHER_ERROR_TMO ((ViStatus)0xBFFF0015u)
#define OTHER_ATTR_RSRC_MANF_NAME 0xBFFF0174u
#define OTHER_ATTR_RSRC_IMPL_VERSION 0x3FFF0003u
#define OTHER_ATTR_TMO_VALUE 0x3FFF001Au

enum { kRm = 0x100, kList = 0x200, kSession = 0x300 };
static const char kListed[] = "USB0::0x1234::0x5678::OTHER1::0::INSTR";
static const char kCanonical[] = "USB0::0x1234::0x5678::OTHER1::INSTR";
static const char kReply[] = "OTHER\n";
static int replyPending;

ViStatus viOpenDefaultRM(ViUInt32* vi) {
  *vi = kRm;
  return OTHER_SUCCESS;
}

ViStatus viFindRsrc(ViUInt32 rm, const char* expr, ViUInt32* list, ViUInt32* count, ViChar* desc) {
  (void)expr;
  if (rm != kRm) return OTHER_ERROR_INV_OBJECT;
  if (list) *list = kList;
  if (count) *count = 1;
  if (desc) strcpy(desc, kListed);
  return OTHER_SUCCESS;
}

ViStatus viFindNext(ViUInt32 list, ViChar* desc) {
  (void)list;
  if (desc) desc[0] = '\0';
  return OTHER_ERROR_RSRC_NFOUND;
}

ViStatus viOpen(ViUInt32 rm, const char* name, ViUInt32 mode, ViUInt32 timeout, ViUInt32* vi) {
  (void)mode;
  (void)timeout;
  *vi = 0;
  if (rm != kRm) return OTHER_ERROR_INV_OBJECT;
  if (strcmp(name, kListed) != 0 && strcmp(name, kCanonical) != 0) return OTHER_ERROR_RSRC_NFOUND;
  *vi = kSession;
  return OTHER_SUCCESS;
}

ViStatus viClose(ViUInt32 vi) {
  (void)vi;
  return OTHER_SUCCESS;
}

ViStatus viSetAttribute(ViUInt32 vi, ViUInt32 attr, ViAttrState value) {
  (void)vi;
  (void)value;
  return attr == OTHER_ATTR_TMO_VALUE ? OTHER_SUCCESS : OTHER_ERROR_NSUP_ATTR;
}

ViStatus viGetAttribute(ViUInt32 vi, ViUInt32 attr, void* value) {
  if (vi != kRm) return OTHER_ERROR_NSUP_ATTR;
  if (attr == OTHER_ATTR_RSRC_MANF_NAME) {
    strcpy((char*)value, "Other VISA");
    return OTHER_SUCCESS;
  }
  if (attr == OTHER_ATTR_RSRC_IMPL_VERSION) {
    *(ViUInt32*)value = (1u << 20) | (2u << 8); /* 1.2.0 */
    return OTHER_SUCCESS;
  }
  return OTHER_ERROR_NSUP_ATTR;
}

ViStatus viWrite(ViUInt32 vi, const unsigned char* buf, ViUInt32 count, ViUInt32* written) {
  (void)buf;
  if (vi != kSession) return OTHER_ERROR_INV_OBJECT;
  replyPending = 1;
  if (written) *written = count;
  return OTHER_SUCCESS;
}

ViStatus viRead(ViUInt32 vi, unsigned char* buf, ViUInt32 count, ViUInt32* received) {
  ViUInt32 n = sizeof kReply - 1;
  if (received) *received = 0;
  if (vi != kSession) return OTHER_ERROR_INV_OBJECT;
  if (!replyPending) return OTHER_ERROR_TMO;
  replyPending = 0;
  if (n > count) n = count;
  memcpy(buf, kReply, n);
  if (received) *received = n;
  return n < sizeof kReply - 1 ? OTHER_SUCCESS_MAX_CNT : OTHER_SUCCESS;
}

ViStatus viClear(ViUInt32 vi) {
  (void)vi;
  replyPending = 0;
  return OTHER_SUCCESS;
}

ViStatus viParseRsrcEx(ViUInt32 rm, const char* name, ViUInt16* type, ViUInt16* board,
                       ViChar* cls, ViChar* expanded, ViChar* alias) {
  (void)rm;
  (void)name;
  (void)cls;
  (void)expanded;
  (void)alias;
  if (type) *type = 0x4242;
  if (board) *board = 0;
  return OTHER_SUCCESS;
}

ViStatus viParseRsrc(ViUInt32 rm, const char* name, ViUInt16* type, ViUInt16* board) {
  return viParseRsrcEx(rm, name, type, board, 0, 0, 0);
}

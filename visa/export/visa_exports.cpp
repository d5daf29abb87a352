// libflintgate-visa.so: our VISA functions under their standard C names, so that any VISA client
// can load this library as its VISA implementation. Only these names are exported (see
// flintgate-visa.map), and the library binds its own calls to itself (-Bsymbolic).
#include "visa/provider_registry.h"
#include "visa/visa.h"

namespace {

using namespace fg::visa;

// This library is a VISA library: it never loads another one (which could be itself).
__attribute__((constructor)) void ServeWithoutVendorLibraries() { AllowVendorLibraries(false); }

}  // namespace

#define FG_EXPORT extern "C" __attribute__((visibility("default")))

FG_EXPORT ViStatus viOpenDefaultRM(ViPSession vi) { return fg::visa::viOpenDefaultRM(vi); }

FG_EXPORT ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi,
                              ViPUInt32 retCnt, ViChar desc[]) {
  return fg::visa::viFindRsrc(sesn, expr, vi, retCnt, desc);
}

FG_EXPORT ViStatus viFindNext(ViFindList vi, ViChar desc[]) {
  return fg::visa::viFindNext(vi, desc);
}

FG_EXPORT ViStatus viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                                 ViPUInt16 intfNum, ViChar rsrcClass[],
                                 ViChar expandedUnaliasedName[], ViChar aliasIfExists[]) {
  return fg::visa::viParseRsrcEx(rmSesn, rsrcName, intfType, intfNum, rsrcClass,
                                 expandedUnaliasedName, aliasIfExists);
}

// Through the exported viParseRsrcEx on purpose: with -Bsymbolic this call binds to our own
// definition even when another VISA library exporting the same name was loaded globally first.
FG_EXPORT ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                               ViPUInt16 intfNum) {
  return ::viParseRsrcEx(rmSesn, rsrcName, intfType, intfNum, nullptr, nullptr, nullptr);
}

FG_EXPORT ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                          ViPSession vi) {
  return fg::visa::viOpen(sesn, name, mode, timeout, vi);
}

FG_EXPORT ViStatus viClose(ViObject vi) { return fg::visa::viClose(vi); }

FG_EXPORT ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
  return fg::visa::viSetAttribute(vi, attrName, attrValue);
}

FG_EXPORT ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
  return fg::visa::viGetAttribute(vi, attrName, attrValue);
}

FG_EXPORT ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]) {
  return fg::visa::viStatusDesc(vi, status, desc);
}

FG_EXPORT ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size) {
  return fg::visa::viSetBuf(vi, mask, size);
}

FG_EXPORT ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  return fg::visa::viRead(vi, buf, cnt, retCnt);
}

FG_EXPORT ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt) {
  return fg::visa::viWrite(vi, buf, cnt, retCnt);
}

FG_EXPORT ViStatus viClear(ViSession vi) { return fg::visa::viClear(vi); }

FG_EXPORT ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  return fg::visa::viDisableEvent(vi, eventType, mechanism);
}

FG_EXPORT ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  return fg::visa::viDiscardEvents(vi, eventType, mechanism);
}

FG_EXPORT ViStatus viFlush(ViSession vi, ViUInt16 mask) { return fg::visa::viFlush(vi, mask); }

FG_EXPORT ViStatus viReadSTB(ViSession vi, ViPUInt16 status) {
  return fg::visa::viReadSTB(vi, status);
}

FG_EXPORT ViStatus viAssertTrigger(ViSession vi, ViUInt16 protocol) {
  return fg::visa::viAssertTrigger(vi, protocol);
}

FG_EXPORT ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout,
                          ViConstKeyId requestedKey, ViKeyId accessKey) {
  return fg::visa::viLock(vi, lockType, timeout, requestedKey, accessKey);
}

FG_EXPORT ViStatus viUnlock(ViSession vi) { return fg::visa::viUnlock(vi); }

FG_EXPORT ViStatus viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism,
                                 ViEventFilter context) {
  return fg::visa::viEnableEvent(vi, eventType, mechanism, context);
}

FG_EXPORT ViStatus viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout,
                                 ViPEventType outEventType, ViPEvent outContext) {
  return fg::visa::viWaitOnEvent(vi, inEventType, timeout, outEventType, outContext);
}

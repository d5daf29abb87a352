// Our VISA layer: the standard functions by their standard names, in namespace fg::visa.
// Every resource is routed to the provider that owns it (visa/provider_registry.h). All functions
// are thread-safe; I/O on one session blocks only that session.
#pragma once
#include "visa/visa_types.h"

namespace fg::visa {

// Opens a new session to the default resource manager. The first call creates the providers;
// VI_ERROR_ALLOC when this process has no file descriptor to spare for that.
ViStatus viOpenDefaultRM(ViPSession vi);

// Finds the resources whose names match `expr` (VISA's regular expressions, case-insensitive).
// *retCnt receives the number of matches and `desc` (VI_FIND_BUFLEN bytes) the first one; with
// `vi` VI_NULL the find list is closed at once. VI_ERROR_RSRC_NFOUND when nothing matches;
// VI_ERROR_ALLOC instead when this process has run out of file descriptors (nothing was seen).
ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                    ViChar desc[]);
// The next match of a find list; VI_ERROR_RSRC_NFOUND when the list is exhausted.
ViStatus viFindNext(ViFindList vi, ViChar desc[]);

// Parses a resource name without opening it.
ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                     ViPUInt16 intfNum);
// As viParseRsrc, and also the class ("INSTR"), the canonical name and the alias (always empty).
// Each of the three texts may be VI_NULL; otherwise it has room for VI_FIND_BUFLEN bytes.
ViStatus viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                       ViPUInt16 intfNum, ViChar rsrcClass[], ViChar expandedUnaliasedName[],
                       ViChar aliasIfExists[]);

// Opens an instrument session. The name may give the board, decimal or hexadecimal ids and an
// explicit "::0" interface number; it is canonicalised before routing. `timeout` bounds the open.
// VI_ERROR_ALLOC when this process has run out of file descriptors, whatever the provider saw.
ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                ViPSession vi);
// Closes an instrument session, a find list or a resource manager session (and everything that
// was opened through it). VI_WARN_NULL_OBJECT for VI_NULL. An I/O call blocked in a session that
// closes, on another thread, ends at once with VI_ERROR_ABORT; the close does not wait it out.
ViStatus viClose(ViObject vi);

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
// `attrValue` points at storage of the attribute's type (texts: VI_FIND_BUFLEN bytes).
ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue);
// Text of a status code, into `desc` of at least VI_FIND_BUFLEN bytes.
// VI_WARN_UNKNOWN_STATUS (with a generic text) for a code this layer does not know.
ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]);

// Sets the sizes of a session's buffers (masks VI_READ_BUF, VI_WRITE_BUF, VI_IO_IN_BUF,
// VI_IO_OUT_BUF). Reads and writes are unbuffered whatever the size.
ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size);

// Reads at most `cnt` bytes: VI_SUCCESS when the message ended, VI_SUCCESS_MAX_CNT when `cnt`
// filled first (the rest stays for the next read), VI_ERROR_TMO, VI_ERROR_IO, VI_ERROR_CONN_LOST,
// VI_ERROR_ABORT when another thread closed the session meanwhile.
// With VI_ATTR_TERMCHAR_EN the read also ends after VI_ATTR_TERMCHAR (VI_SUCCESS_TERM_CHAR);
// with VI_ATTR_SUPPRESS_END_EN the message's end does not end it.
// *retCnt (when not VI_NULL) receives the bytes read in every case.
ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
// Writes `cnt` bytes as one message, EOM on the last byte.
ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt);
// Device clear; also drops what the session's read buffer held.
ViStatus viClear(ViSession vi);
// VI_READ_BUF_DISCARD drops the bytes held back after a termination character; VI_READ_BUF
// also reads and drops the rest of their message. Writes are unbuffered: nothing to flush.
ViStatus viFlush(ViSession vi, ViUInt16 mask);
// The instrument's status byte (USB488 READ_STATUS_BYTE).
ViStatus viReadSTB(ViSession vi, ViPUInt16 status);
// A software trigger (USB488 TRIGGER); `protocol` must be VI_TRIG_PROT_DEFAULT.
ViStatus viAssertTrigger(ViSession vi, ViUInt16 protocol);

// Locks among the sessions of this process (see visa/resource_locks.h). While a session holds a
// lock, other sessions' reads, writes, clears, triggers and status reads of the resource fail
// with VI_ERROR_RSRC_LOCKED. `accessKey` (VI_FIND_BUFLEN bytes) receives a shared lock's key.
ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout, ViConstKeyId requestedKey,
                ViKeyId accessKey);
ViStatus viUnlock(ViSession vi);

// Events: service requests (VI_EVENT_SERVICE_REQ) with the VI_QUEUE mechanism, on instruments
// with an interrupt-IN pipe. Elsewhere viEnableEvent answers VI_ERROR_INV_EVENT (the resource
// does not support the event), and handlers (VI_HNDLR) VI_ERROR_HNDLR_NINSTALLED.
ViStatus viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism,
                       ViEventFilter context);
ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism);
ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism);
// Waits for a queued event; *outContext (when not VI_NULL) receives an event object to close
// with viClose, whose VI_ATTR_EVENT_TYPE names the event.
ViStatus viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout,
                       ViPEventType outEventType, ViPEvent outContext);

}  // namespace fg::visa

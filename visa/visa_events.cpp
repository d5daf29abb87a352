// Events: service requests queued (VI_QUEUE) on instruments that can signal them through an
// interrupt-IN pipe. Every other event type is known but never raised here.
#include <cstdint>
#include <memory>

#include "visa/handle_table.h"
#include "visa/visa.h"

namespace fg::visa {

namespace {

// How many queued service requests viDiscardEvents drops at most in one call.
constexpr int kMaxDiscardedEvents = 64;

bool KnownEvent(ViEventType type) {
  constexpr ViEventType kEvents[] = {VI_ALL_ENABLED_EVENTS, VI_EVENT_IO_COMPLETION, VI_EVENT_TRIG,
                                     VI_EVENT_SERVICE_REQ,  VI_EVENT_CLEAR,         VI_EVENT_EXCEPTION,
                                     VI_EVENT_USB_INTR};
  for (ViEventType e : kEvents) {
    if (e == type) return true;
  }
  return false;
}

bool ValidMechanism(ViUInt16 mechanism) {
  if (mechanism == VI_ALL_MECH) return true;
  return mechanism != 0 && (mechanism & ~(VI_QUEUE | VI_HNDLR | VI_SUSPEND_HNDLR)) == 0;
}

// Event calls are accepted on resource managers and sessions alike.
ViStatus CheckEventCall(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  if (!Handles().Get<Session>(vi, Kind::kSession) &&
      !Handles().Get<ResourceManager>(vi, Kind::kResourceManager)) {
    return VI_ERROR_INV_OBJECT;
  }
  if (!KnownEvent(eventType)) return VI_ERROR_INV_EVENT;
  if (!ValidMechanism(mechanism)) return VI_ERROR_INV_MECH;
  return VI_SUCCESS;
}

}  // namespace

ViStatus viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism,
                       ViEventFilter context) {
  ViStatus checked = CheckEventCall(vi, eventType, mechanism);
  if (checked != VI_SUCCESS) return checked;
  if (context != VI_NULL) return VI_ERROR_INV_CONTEXT;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  // Service requests are the only events this layer raises, and only where the instrument
  // has an interrupt-IN pipe to signal them.
  if (!s || (eventType != VI_EVENT_SERVICE_REQ && eventType != VI_ALL_ENABLED_EVENTS) ||
      !s->canSignalServiceRequest) {
    return VI_ERROR_INV_EVENT;
  }
  if (mechanism == VI_ALL_MECH || (mechanism & (VI_HNDLR | VI_SUSPEND_HNDLR)) != 0) {
    return VI_ERROR_HNDLR_NINSTALLED;  // handlers cannot be installed here
  }
  return s->serviceRequestsQueued.exchange(true) ? VI_SUCCESS_EVENT_EN : VI_SUCCESS;
}

ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  ViStatus checked = CheckEventCall(vi, eventType, mechanism);
  if (checked != VI_SUCCESS) return checked;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s || (eventType != VI_EVENT_SERVICE_REQ && eventType != VI_ALL_ENABLED_EVENTS) ||
      (mechanism & VI_QUEUE) == 0) {
    return VI_SUCCESS_EVENT_DIS;
  }
  return s->serviceRequestsQueued.exchange(false) ? VI_SUCCESS : VI_SUCCESS_EVENT_DIS;
}

ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
  ViStatus checked = CheckEventCall(vi, eventType, mechanism);
  if (checked != VI_SUCCESS) return checked;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  // A session that does not queue service requests has an empty queue, and is answered without
  // waiting for the instrument: clients (pyvisa among them) disable and discard events right
  // before viClose, which must not be held up behind a read blocked on another thread.
  if (!s || !s->canSignalServiceRequest || !s->serviceRequestsQueued ||
      (eventType != VI_EVENT_SERVICE_REQ && eventType != VI_ALL_ENABLED_EVENTS) ||
      (mechanism & VI_QUEUE) == 0) {
    return VI_SUCCESS_QUEUE_EMPTY;
  }
  return WithInstrument(vi, [](Session&, InstrSession& instr) {
    // Service requests that arrived are taken off the interrupt pipe and dropped.
    uint8_t statusByte = 0;
    int dropped = 0;
    while (dropped < kMaxDiscardedEvents &&
           instr.WaitServiceRequest(&statusByte, VI_TMO_IMMEDIATE) == VI_SUCCESS) {
      ++dropped;
    }
    return dropped == 0 ? VI_SUCCESS_QUEUE_EMPTY : VI_SUCCESS;
  });
}

ViStatus viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout,
                       ViPEventType outEventType, ViPEvent outContext) {
  if (outEventType != nullptr) *outEventType = 0;
  if (outContext != nullptr) *outContext = VI_NULL;
  std::shared_ptr<Session> s = Handles().Get<Session>(vi, Kind::kSession);
  if (!s) return VI_ERROR_INV_OBJECT;
  if (!KnownEvent(inEventType)) return VI_ERROR_INV_EVENT;
  if ((inEventType != VI_EVENT_SERVICE_REQ && inEventType != VI_ALL_ENABLED_EVENTS) ||
      !s->serviceRequestsQueued) {
    return VI_ERROR_NENABLED;
  }
  uint8_t statusByte = 0;
  ViStatus status = WithInstrument(vi, [&](Session&, InstrSession& instr) {
    return instr.WaitServiceRequest(&statusByte, timeout);
  });
  if (status < VI_SUCCESS) return status;
  if (outEventType != nullptr) *outEventType = VI_EVENT_SERVICE_REQ;
  if (outContext == nullptr) return VI_SUCCESS;  // the caller wants no event object
  auto event = std::make_shared<EventObject>();
  event->statusByte = statusByte;
  event->parent = vi;
  ViObject handle = Handles().Add(event);
  if (handle == VI_NULL) return VI_ERROR_INV_OBJECT;
  *outContext = handle;
  return VI_SUCCESS;
}

}  // namespace fg::visa

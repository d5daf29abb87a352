// An update run's claim on its instrument: the instrument's lock, taken before the run sends it
// anything and held to the run's end, and what the run says about the state it found it in.
#pragma once
#include <cstdint>

#include "catalog/model_catalog.h"
#include "link/instrument_lock.h"
#include "sequence/front_end.h"

namespace fg {

// Takes the lock of the instrument `resource` reaches, naming `model` as what it is updated
// with. 0 when the run has it (also for an empty name, which reaches no instrument). Otherwise
// the message box and its log line are shown here, and the run ends with the number returned:
// kRunInstrumentBusy when another update holds it (the box names the holder), kRunNoInstrumentLock
// when no lock can be made. Nothing is sent to the instrument either way.
int32_t ClaimInstrument(const FrontEndOps* fe, const RunEnv* env, const char* resource,
                        const ModelInfo* model, InstrumentLock* lock);

// The note of an instrument the programmer found in writer mode before any switch, with the
// model its reply named when the device list's search learnt it.
void NoteFoundInWriterMode(const FrontEndOps* fe);

}  // namespace fg

// Which model the instrument of one update run is, as far as the run knows: what it answered
// last, the serial that named the file's model in its normal firmware before the switch, and a
// model the user confirmed for a writer that names none. Both writers enumerate under the same
// USB ids, so a writer's reply is the only thing that tells a WX2050 from a WX2040; these facts
// decide whether a writer that names no model may be written to.
//
// The run owns one record (RunEnv::modelFacts); the driver and the programmer read and add to it
// on the run's thread, through the run context their link carries.
#pragma once
#include <cstddef>

#include "link/instrument_identity.h"
#include "link/run_env.h"

namespace fg {

struct ModelFacts {
  bool identified;                     // `latest` holds a reply
  InstrumentIdentity latest;           // the instrument's latest reply to "*IDN?" in this run
  char latestSerial[kIdentitySerialSize];  // its serial (InstrumentSerial)
  // The serial whose normal firmware named the file's model in this run; empty: none did.
  char normalSerial[kIdentitySerialSize];
  // The serial and model the user confirmed for a writer that names no model; empty: none.
  char confirmedSerial[kIdentitySerialSize];
  char confirmedModel[kIdentityFieldSize];
};

// What the model rule says of a reply, for a firmware file's model.
enum class ModelVerdict : int {
  kAllowed = 0,             // it names the file's model, or is a normal firmware that names none
  kOtherModel = 1,          // it names another catalogue model: nothing of the file may reach it
  kWriterNamesNoModel = 2,  // a writer naming no model, not vouched for by this run's facts
};

// The instrument's serial number: the reply's serial field, else the resource name's (a writer
// that says nothing about itself is still reached under a name that carries it). Empty when
// neither has one.
void InstrumentSerial(const InstrumentIdentity& identity, const char* resourceName, char* out,
                      size_t capacity);

// The rule. A writer that names no model is allowed only when this run saw the same serial name
// the file's model in its normal firmware, or the user confirmed the file's model for it.
// `env` may be null (no facts: such a writer is never allowed).
ModelVerdict CheckModel(const RunEnv* env, const InstrumentIdentity& identity,
                        const char* resourceName, const char* fileModel);

// Records a reply of the run's instrument: it becomes `latest`, and a normal firmware that names
// the file's model vouches for its serial. Nothing happens without facts.
void NoteIdentity(const RunEnv* env, const InstrumentIdentity& identity, const char* resourceName,
                  const char* fileModel);

// The user's answer for a writer that names no model: it is a `model`.
void ConfirmWriterModel(ModelFacts* facts, const char* serial, const char* model);

}  // namespace fg

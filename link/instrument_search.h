// The instruments a search finds, each labelled with what it is. Both generators' writer
// firmwares enumerate under product id 0x3A01, the WX2040's normal id, so the ids alone cannot
// tell a WX2040 from a WX2050 left in writer mode: every 0x3A01 instrument is asked who it is,
// unless an update holds it, which is never talked to.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/model_catalog.h"
#include "link/instrument_identity.h"
#include "link/instrument_lock.h"
#include "link/run_env.h"

namespace fg {

// The ids under which either generator's writer firmware enumerates.
inline constexpr uint16_t kWriterVendorId = 0x2E5B;
inline constexpr uint16_t kWriterProductId = 0x3A01;

enum class InstrumentMode : int32_t {
  kNormal = 0,    // its normal firmware (by its reply, or by product id where it was not asked)
  kWriter = 1,    // its reply begins with "WRITER"
  kBusy = 2,      // an update holds it; it was not asked
  kNoAnswer = 3,  // asked, and it did not answer
};

inline constexpr size_t kFoundNameSize = 256;  // a resource name VISA can list, and its NUL

// One instrument of a search.
struct FoundInstrument {
  char resource[kFoundNameSize];     // its first USBTMC interface
  char serial[kFoundNameSize];       // from the resource name
  uint16_t productId;
  InstrumentMode mode;
  // The model it is: the one its reply names, else (normal, not asked) its product id's row;
  // for a busy one, the model its holder updates it with. Empty when unknown.
  char model[kIdentityFieldSize];
  LockHolder holder;                 // kBusy: who holds it
};

// Searches for the instruments of `model` (its normal product id), and for every instrument
// under the writer ids; null: of every catalogue row. Each is labelled; the order is the
// provider's, each instrument once. Blocks: each 0x3A01 instrument is asked through the env's
// search (ResourceSearch::Identify) while its lock is held for the search.
std::vector<FoundInstrument> SearchInstruments(const RunEnv* env, const ModelInfo* model);

// The two halves of SearchInstruments, for a caller that looks at each instrument once however
// often it searches (the station): the names of the instruments of `model` (null: of every row)
// and under the writer ids, each instrument once, in the provider's order; and the label of one
// of them, for which a 0x3A01 instrument is asked who it is.
std::vector<std::string> FindInstrumentNames(const RunEnv* env, const ModelInfo* model);
FoundInstrument LabelInstrument(const RunEnv* env, const std::string& name);

// Whether an update with a file of `model` may be offered the instrument: a normal one of that
// model; a writer that names that model or none (whether one that names none may be written is
// the update's question); a busy one its holder updates with that model or does not say (the
// update then names the holder); one under the model's product id that did not answer. Writers
// and busy ones that name no model only for a model with a driver: only those have a writer.
bool OfferedFor(const FoundInstrument& found, const ModelInfo* model);

// "normal", "writer", "busy", "no-answer": one word each, for tables that scripts split.
const char* ModeWord(InstrumentMode mode);
// The model as shown: the model, or "unknown".
const char* ModelWord(const FoundInstrument& found);
// A short label for lists: empty for a normal instrument; "writer mode, WX2050", "writer mode,
// model unknown", "busy: flintgate-cli (process 42)", "no answer".
std::string InstrumentLabel(const FoundInstrument& found);

}  // namespace fg

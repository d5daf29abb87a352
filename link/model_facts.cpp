#include "link/model_facts.h"

#include <cstring>

#include "link/resource_serial.h"
#include "util/bounded_text.h"

namespace fg {

namespace {

ModelFacts* FactsOf(const RunEnv* env) { return env != nullptr ? env->modelFacts : nullptr; }

bool SameModel(const char* a, const char* fileModel) {
  InstrumentIdentity named{};
  CopyBounded(named.model, a);
  return MatchModel(named, fileModel) == ModelMatch::kSame;
}

}  // namespace

void InstrumentSerial(const InstrumentIdentity& identity, const char* resourceName, char* out,
                      size_t capacity) {
  if (capacity == 0) return;
  if (identity.serial[0] != '\0') {
    CopyBounded(out, capacity, identity.serial);
    return;
  }
  if (!ResourceSerialField(resourceName, out, capacity)) out[0] = '\0';
}

ModelVerdict CheckModel(const RunEnv* env, const InstrumentIdentity& identity,
                        const char* resourceName, const char* fileModel) {
  switch (MatchModel(identity, fileModel)) {
    case ModelMatch::kSame: return ModelVerdict::kAllowed;
    case ModelMatch::kOther: return ModelVerdict::kOtherModel;
    case ModelMatch::kNone: break;
  }
  // A normal firmware that names no model is switched, and its writer is asked again.
  if (!identity.writer) return ModelVerdict::kAllowed;
  const ModelFacts* facts = FactsOf(env);
  char serial[kIdentitySerialSize];
  InstrumentSerial(identity, resourceName, serial, sizeof serial);
  if (facts == nullptr || serial[0] == '\0') return ModelVerdict::kWriterNamesNoModel;
  if (std::strcmp(facts->normalSerial, serial) == 0) return ModelVerdict::kAllowed;
  if (std::strcmp(facts->confirmedSerial, serial) == 0 &&
      SameModel(facts->confirmedModel, fileModel)) {
    return ModelVerdict::kAllowed;
  }
  return ModelVerdict::kWriterNamesNoModel;
}

void NoteIdentity(const RunEnv* env, const InstrumentIdentity& identity, const char* resourceName,
                  const char* fileModel) {
  ModelFacts* facts = FactsOf(env);
  if (facts == nullptr) return;
  facts->identified = true;
  facts->latest = identity;
  InstrumentSerial(identity, resourceName, facts->latestSerial, sizeof facts->latestSerial);
  if (!identity.writer && facts->latestSerial[0] != '\0' &&
      MatchModel(identity, fileModel) == ModelMatch::kSame) {
    CopyBounded(facts->normalSerial, facts->latestSerial);
  }
}

void ConfirmWriterModel(ModelFacts* facts, const char* serial, const char* model) {
  if (facts == nullptr) return;
  CopyBounded(facts->confirmedSerial, serial);
  CopyBounded(facts->confirmedModel, model);
}

}  // namespace fg

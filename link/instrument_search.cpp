#include "link/instrument_search.h"

#include <cstdio>

#include "link/device_search.h"
#include "link/identify_resource.h"
#include "util/bounded_text.h"
#include "visa/resource_name.h"
#include "visa/usbtmc/usbtmc_resource_name.h"

namespace fg {

namespace {

int32_t DefaultIdentify(void*, const char* resourceName, InstrumentIdentity* out) {
  return IdentifyResource(resourceName, out);
}

int32_t Identify(const RunEnv* env, const char* resourceName, InstrumentIdentity* out) {
  const ResourceSearch& search = ResourceSearchOf(env);
  return search.Identify != nullptr ? search.Identify(search.owner, resourceName, out)
                                    : DefaultIdentify(nullptr, resourceName, out);
}

const ModelInfo* RowOfIds(uint16_t vendorId, uint16_t productId) {
  for (int32_t i = 0; i < kModelCatalog.modelCount; ++i) {
    const ModelInfo& row = kModelCatalog.models[i];
    if (row.usbVendorId == vendorId && row.usbProductId == productId) return &row;
  }
  return nullptr;
}

std::string WriterExpression() {
  char expression[64];
  std::snprintf(expression, sizeof expression, "USB0::0x%04X::0x%04X::?*::INSTR",
                unsigned{kWriterVendorId}, unsigned{kWriterProductId});
  return expression;
}

// The names of every expression, each instrument once, in the order found.
std::vector<std::string> FindAll(const RunEnv* env, const std::vector<std::string>& expressions) {
  const ResourceSearch& search = ResourceSearchOf(env);
  std::vector<std::string> all;
  for (const std::string& expression : expressions) {
    std::vector<std::string> names;
    search.Find(search.owner, expression.c_str(), &names);
    for (const std::string& name : FirstInterfacesOnly(names)) {
      bool seen = false;
      for (const std::string& earlier : all) seen = seen || visa::SameResourceName(earlier, name);
      if (!seen) all.push_back(name);
    }
  }
  return all;
}

// Asks a 0x3A01 instrument who it is, holding its lock meanwhile; one that an update holds is
// only labelled busy.
void AskWhoItIs(const RunEnv* env, const ModelInfo* row, FoundInstrument* found) {
  const std::string key = InstrumentKeyOfResource(found->resource);
  ScopedInstrumentLock lock;
  std::string problem;
  const int32_t locked =
      LockInstrument(env, key, nullptr, LockPurpose::kSearch, lock.get(), &found->holder, &problem);
  if (locked == kInstrumentBusy) {
    found->mode = InstrumentMode::kBusy;
    CopyBounded(found->model, found->holder.model);
    return;
  }
  // Without a usable lock folder no update can hold the instrument either: ask it anyway.
  InstrumentIdentity identity{};
  if (Identify(env, found->resource, &identity) != 0) {
    found->mode = InstrumentMode::kNoAnswer;
    return;
  }
  found->mode = identity.writer ? InstrumentMode::kWriter : InstrumentMode::kNormal;
  if (MatchModel(identity, nullptr) == ModelMatch::kOther) {
    CopyBounded(found->model, identity.model);
  } else if (!identity.writer && row != nullptr) {
    CopyBounded(found->model, row->name);  // a normal firmware of the id's model names no model
  }
}

}  // namespace

std::vector<std::string> FindInstrumentNames(const RunEnv* env, const ModelInfo* model) {
  std::vector<std::string> expressions;
  if (model != nullptr) {
    expressions.push_back(BuildEnumerationExpression(model));
  } else {
    for (int32_t i = 0; i < kModelCatalog.modelCount; ++i) {
      expressions.push_back(BuildEnumerationExpression(&kModelCatalog.models[i]));
    }
  }
  const std::string writers = WriterExpression();
  bool listed = false;
  for (const std::string& e : expressions) listed = listed || e == writers;
  if (!listed) expressions.push_back(writers);
  return FindAll(env, expressions);
}

FoundInstrument LabelInstrument(const RunEnv* env, const std::string& name) {
  FoundInstrument f{};
  CopyBounded(f.resource, name.c_str());
  usbtmc::UsbInstrumentAddress address;
  if (usbtmc::ParseResourceName(name, &address)) {
    CopyBounded(f.serial, address.serial.c_str());
    f.productId = address.productId;
  }
  const ModelInfo* row = RowOfIds(address.vendorId, address.productId);
  if (address.vendorId == kWriterVendorId && address.productId == kWriterProductId) {
    AskWhoItIs(env, row, &f);
  } else {
    // Its ids say what it is; it is not talked to, but an update may hold it.
    std::string problem;
    const std::string key = InstrumentKeyOfResource(name.c_str());
    const bool busy = ProbeInstrument(env, key, &f.holder, &problem) == kInstrumentBusy;
    f.mode = busy ? InstrumentMode::kBusy : InstrumentMode::kNormal;
    CopyBounded(f.model, busy && f.holder.model[0] != '\0' ? f.holder.model
                         : row != nullptr                  ? row->name
                                                           : "");
  }
  return f;
}

std::vector<FoundInstrument> SearchInstruments(const RunEnv* env, const ModelInfo* model) {
  std::vector<FoundInstrument> found;
  for (const std::string& name : FindInstrumentNames(env, model)) {
    found.push_back(LabelInstrument(env, name));
  }
  return found;
}

bool OfferedFor(const FoundInstrument& found, const ModelInfo* model) {
  if (model == nullptr) return false;
  // Only the models with a driver have a writer firmware; the others' files find no writer.
  const bool writerModel = model->updater != nullptr;
  InstrumentIdentity named{};
  CopyBounded(named.model, found.model);
  const ModelMatch match = MatchModel(named, model->name);
  switch (found.mode) {
    case InstrumentMode::kNormal:
      return match == ModelMatch::kSame;
    case InstrumentMode::kWriter:
      return writerModel && match != ModelMatch::kOther;
    case InstrumentMode::kBusy:
      return match == ModelMatch::kSame || (writerModel && match == ModelMatch::kNone);
    case InstrumentMode::kNoAnswer:
      return found.productId == model->usbProductId;
  }
  return false;
}

const char* ModeWord(InstrumentMode mode) {
  switch (mode) {
    case InstrumentMode::kNormal: return "normal";
    case InstrumentMode::kWriter: return "writer";
    case InstrumentMode::kBusy: return "busy";
    case InstrumentMode::kNoAnswer: return "no-answer";
  }
  return "?";
}

const char* ModelWord(const FoundInstrument& found) {
  return found.model[0] != '\0' ? found.model : "unknown";
}

std::string InstrumentLabel(const FoundInstrument& found) {
  switch (found.mode) {
    case InstrumentMode::kNormal:
      return std::string();
    case InstrumentMode::kWriter:
      return found.model[0] != '\0' ? std::string("writer mode, ") + found.model
                                    : std::string("writer mode, model unknown");
    case InstrumentMode::kBusy:
      return "busy: " + HolderDescription(found.holder);
    case InstrumentMode::kNoAnswer:
      return "no answer";
  }
  return std::string();
}

}  // namespace fg

#include "sequence/instrument_claim.h"

#include <string>

#include "link/device_search.h"
#include "sequence/run_texts.h"
#include "sequence/update_run.h"
#include "visa/resource_name.h"

namespace fg {

int32_t ClaimInstrument(const FrontEndOps* fe, const RunEnv* env, const char* resource,
                        const ModelInfo* model, InstrumentLock* lock) {
  const std::string key = InstrumentKeyOfResource(resource);
  if (key.empty()) return 0;  // no instrument by that name: opening it fails as before
  LockHolder holder{};
  std::string problem;
  const int32_t rc = LockInstrument(env, key, model != nullptr ? model->name : nullptr,
                                    LockPurpose::kUpdate, lock, &holder, &problem);
  if (rc == kInstrumentLocked) return 0;
  // The serial number, which the user knows the instrument by; the name when it has none.
  visa::ResourceName parsed;
  const bool usb = visa::ParseResourceName(resource, &parsed) == visa::VI_SUCCESS &&
                   parsed.interfaceType == visa::VI_INTF_USB;
  const std::string instrument = usb ? parsed.serial : std::string(resource);
  const std::string text = rc == kInstrumentBusy
                               ? InstrumentBusyText(instrument, HolderDescription(holder))
                               : InstrumentLockFailedText(instrument, problem);
  fe->MessageBox(fe->owner, text.c_str(), kCaptionInstrumentInUse, BoxIcon::Error);
  fe->AppendLogLine(fe->owner, text.c_str());
  return rc == kInstrumentBusy ? kRunInstrumentBusy : kRunNoInstrumentLock;
}

void NoteFoundInWriterMode(const FrontEndOps* fe) {
  const DeviceListOps* list = fe->deviceList;
  FoundInstrument found{};
  bool known = false;
  if (list != nullptr && list->GetEntryInfo != nullptr) {
    char resource[kResourceNameCapacity];
    list->GetText(list->owner, resource, sizeof resource);
    known = list->GetEntryInfo(list->owner, resource, &found) &&
            found.mode == InstrumentMode::kWriter;
  }
  const std::string line = FoundInWriterModeText(known ? found.model : nullptr);
  fe->AppendNoteLine(fe->owner, line.c_str());
}

}  // namespace fg

#include "sequence/failure_report.h"

#include <cstdio>

#include "programmer/programmer_errors.h"
#include "sequence/update_run.h"
#include "updater/driver_errors.h"
#include "updater/update_plan.h"

namespace fg {

std::string RunCodeText(int32_t runCode) {
  switch (runCode) {
    case 0: return std::string();
    case kRunNoModel: return "no firmware file is selected";
    case kRunNoUpdater: return "Flintgate cannot update this model";
    case kRunNoPayload: return "the firmware file could not be read, or changed since it was opened";
    case kRunNoInstrument: return "no instrument of the file's model was found";
    case kRunDeclined: return "the update was declined";
    case kRunPickInstrument: return "several instruments were found and none was picked";
    case kRunInitFailed: return "the update driver could not start";
    case kRunConnectFailed: return "the instrument could not be opened or did not answer";
    case kRunOtherModel: return "the instrument is another model than the file's";
    case kRunWriterModelUnconfirmed:
      return "the instrument is in writer mode, names no model, and its model was not confirmed";
    case kRunInstrumentBusy: return "another update holds the instrument";
    case kRunNoInstrumentLock: return "the instrument could not be locked against a second update";
    default: break;
  }
  if (runCode > kRunDriverErrorBase) return DriverErrorText(runCode - kRunDriverErrorBase);
  char text[48];
  std::snprintf(text, sizeof text, "error number 0x%04X", static_cast<unsigned>(runCode));
  return text;
}

FailureReport DescribeFailure(int32_t runCode, const UpdaterOps* driver) {
  FailureReport report;
  report.reason = RunCodeText(runCode);
  if (runCode <= kRunDriverErrorBase || driver == nullptr) return report;
  UpdatePlan plan{};
  if (ReadUpdatePlan(driver, &plan) != 0 || plan.programmerError == 0) return report;
  // The programmer's own number says more than "programming failed".
  char text[160];
  std::snprintf(text, sizeof text, "%s (programmer error 0x%04X)",
                ProgrammerErrorText(plan.programmerError),
                static_cast<unsigned>(plan.programmerError));
  report.reason = text;
  return report;
}

}  // namespace fg

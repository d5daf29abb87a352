#include "cli/update_output.h"

#include <cctype>

#include "catalog/model_catalog.h"
#include "cli/commands.h"
#include "platform/terminal.h"
#include "sequence/failure_report.h"
#include "sequence/plan_report.h"
#include "sequence/update_run.h"
#include "updater/update_plan.h"
#include "util/bounded_text.h"

namespace fg::cli {

namespace {

std::string Text(const char* field, size_t capacity) {
  return std::string(field, BoundedLength(field, capacity));
}

Json PlanJson(const UpdatePlan& plan) {
  Json images = Json::array();
  for (int32_t i = 0; i < plan.ruleCount && i < 6; ++i) {
    const ImagePlanRow& row = plan.rows[i];
    Json image;
    image["partition"] = Text(row.partitionName, sizeof row.partitionName);
    image["partitionIndex"] = row.partition;
    image["optional"] = row.optional;
    image["present"] = row.present;
    image["version"] = row.present ? Json(Text(row.version, sizeof row.version)) : Json(nullptr);
    image["installed"] = Text(row.installed, sizeof row.installed);
    image["length"] = row.present ? Json(row.length) : Json(nullptr);
    image["maxSize"] = row.maxSize;
    image["programmed"] = row.programmed;
    images.push_back(image);
  }
  return images;
}

// The plan is the driver's only once Update ran.
bool UpdateCalled(int32_t code) { return code == 0 || code >= kRunDriverErrorBase; }

Json FailureJson(const FailureDetail& d) {
  Json failure;
  failure["step"] = d.step.empty() ? Json(nullptr) : Json(d.step);
  failure["partition"] = d.partition.empty() ? Json(nullptr) : Json(d.partition);
  failure["reply"] = d.answered ? Json(d.reply) : Json(nullptr);
  if (!d.noAnswer.empty()) failure["noAnswer"] = d.noAnswer;
  failure["programmerError"] = d.programmerError;
  failure["holds"] = d.holds;
  failure["next"] = d.next;
  return failure;
}

}  // namespace

bool ParseModelConfirmations(const std::vector<std::string>& values,
                             std::vector<ModelConfirmation>* out, std::string* error) {
  out->clear();
  for (const std::string& value : values) {
    const size_t equals = value.rfind('=');
    if (equals == std::string::npos || equals == 0) {
      *error = "--confirm-model " + value + ": write SERIAL=MODEL";
      return false;
    }
    std::string model = value.substr(equals + 1);
    for (char& c : model) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (FindModel(model.c_str()) == nullptr) {
      *error = "--confirm-model " + value + ": " + model + " is no model Flintgate knows";
      return false;
    }
    out->push_back({value.substr(0, equals), model});
  }
  return true;
}

int32_t UpdateFlags(const UpdateArgs& args) {
  return (args.allowDowngrade ? 0 : kUpdateCheckVersions) | (args.dryRun ? kUpdateDryRun : 0);
}

int ExitStatusForRun(int32_t code) {
  switch (code) {
    case 0: return kExitOk;
    case kRunNoInstrument: return kExitNoInstrument;
    case kRunDeclined:
    case kRunWriterModelUnconfirmed: return kExitNotConfirmed;
    default: return kExitFailed;
  }
}

ConsoleSettings UpdateConsoleSettings(const UpdateArgs& args) {
  std::FILE* logOut = args.json ? stderr : stdout;
  ConsoleSettings settings;
  settings.logOut = logOut;
  settings.messages = stderr;
  settings.answers = platform::AnswerStream();
  settings.logIsTerminal = platform::IsTerminal(logOut);
  settings.messagesIsTerminal = platform::EnableInPlaceLine(stderr);
  settings.assumeYes = args.yes;
  std::string ignored;  // checked when the command started
  ParseModelConfirmations(args.confirmModels, &settings.confirmedModels, &ignored);
  settings.quiet = args.quiet;
  return settings;
}

Json RunJson(const UpdateArgs& args, const char* model, const RunReport& run,
             const UpdaterOps* updater) {
  Json result;
  result["file"] = args.file;
  result["result"] = run.code;
  result["exitStatus"] = ExitStatusForRun(run.code);
  result["resource"] = run.resource;
  result["model"] = model != nullptr ? Json(model) : Json(nullptr);
  result["log"] = run.log;
  result["images"] = Json::array();
  result["seconds"] = run.seconds;
  result["programmingSeconds"] = run.programmingSeconds;
  UpdatePlan plan{};
  if (UpdateCalled(run.code) && ReadUpdatePlan(updater, &plan) == 0) {
    result["images"] = PlanJson(plan);
    result["programmerError"] = plan.programmerError;
  }
  AddFailure(&result, run.code, updater);
  return result;
}

void AddFailure(Json* result, int32_t code, const UpdaterOps* updater) {
  if (code == 0) return;
  const FailureReport report = DescribeFailure(code, UpdateCalled(code) ? updater : nullptr);
  (*result)["reason"] = report.reason;
  if (!report.what.empty() || !report.holds.empty()) (*result)["failure"] = FailureJson(report.detail);
}

void PrintDryRunPlan(const UpdateArgs& args, const UpdaterOps* updater, int32_t code) {
  UpdatePlan plan{};
  if (!args.dryRun || !UpdateCalled(code) || ReadUpdatePlan(updater, &plan) != 0) return;
  std::fprintf(args.json ? stderr : stdout, "Package plan (dry run, nothing programmed):\n%s",
               PlanTable(plan).c_str());
}

void PrintJson(const Json& object) {
  const std::string text = object.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void ReportLostOutput() {
  // A closed output (a pipe into `head`) never stopped the run; say so, keep its status.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "flintgate-cli: the standard output could not be written; the run "
                         "went on to its end regardless\n");
  }
}

}  // namespace fg::cli

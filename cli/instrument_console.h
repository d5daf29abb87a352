// The front end of one instrument among several updated at once: it keeps the run's log, times
// and device field as the single-instrument console does (without writing them itself), and
// reports state, progress, log lines and boxes to the shared board under the instrument's row.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "catalog/updater_ops.h"
#include "cli/console_front_end.h"
#include "cli/run_board.h"
#include "link/device_search.h"
#include "sequence/front_end.h"

namespace fg {

class InstrumentConsole {
 public:
  // `updater` is the instrument's own driver, whose plan names the image being programmed (may
  // be null). The device list holds `resource`, selected.
  // `confirmedModels` answer the question about a writer that names no model (nobody is asked
  // while several run).
  InstrumentConsole(RunBoard* board, size_t row, const std::string& resource,
                    const UpdaterOps* updater,
                    std::vector<ModelConfirmation> confirmedModels = {});
  InstrumentConsole(const InstrumentConsole&) = delete;
  InstrumentConsole& operator=(const InstrumentConsole&) = delete;

  const FrontEndOps* ops() const { return &ops_; }
  std::vector<std::string> LogLines() const { return console_.LogLines(); }
  const std::string& deviceField() const { return console_.deviceField(); }
  // Seconds of the run: from its start to its end, or to now while it runs.
  double Elapsed() const { return ended_ ? seconds_ : console_.Elapsed(); }
  double ProgressSpan() const { return console_.ProgressSpan(); }

 private:
  static InstrumentConsole* Self(void* owner) { return static_cast<InstrumentConsole*>(owner); }
  const FrontEndOps& Inner() const { return *console_.ops(); }
  void AppendLog(const char* text);
  void AppendLogLine(const char* text);
  void SetProgress(int32_t percent);

  RunBoard* board_;
  size_t row_;
  const UpdaterOps* updater_;
  ConsoleFrontEnd console_;
  SortedDeviceList list_;
  FrontEndOps ops_{};
  std::vector<ModelConfirmation> confirmedModels_;
  bool ended_ = false;
  double seconds_ = 0.0;
};

}  // namespace fg

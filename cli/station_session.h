// flintgate-cli station FILE: the production station. It watches the bus and updates every
// instrument of the file's model as it is plugged in, several at once, each on a thread of its
// own with its own driver, front end, payload folder and lock (as `update --all` does); refuses
// other models; leaves alone an instrument whose installed versions equal the package's (unless
// forced); takes an instrument once per session, and again only after it was unplugged and
// plugged in again; and records every run. Ctrl-C ends the session (sequence/stop_signals.h).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace fg::cli {

struct StationArgs {
  std::string file;
  size_t jobs = 0;             // instruments updated at the same time; 0: all that are there
  bool force = false;          // update instruments that are up to date as well
  bool yes = false;            // the session's confirmation
  bool allowDowngrade = false;
  std::string record;          // empty: flintgate-station-<date>.jsonl in the current folder
  std::vector<std::string> confirmModels;  // --confirm-model SERIAL=MODEL
};

// How often the bus is searched for instruments that were plugged in.
inline constexpr int kStationSearchIntervalMs = 1000;

// The session, from the file's selection to its summary: 0 when no instrument failed, 1 when
// any did (a refused instrument is no failure), 4 for a file that cannot be used, 5 when the
// session was not confirmed, kExitRecordFile when the record file cannot be written (before any
// instrument was touched, or later: then no further instrument is taken).
int RunStation(const StationArgs& args);

}  // namespace fg::cli

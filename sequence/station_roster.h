// What a production station knows of every instrument it saw in its session, keyed by serial
// number (the key of the instrument's lock, the same in both of its modes): which ones to update,
// which to refuse, and when one may be taken again. An instrument is taken once per session,
// and again only after it left the bus once its run had ended (unplugged and plugged in again):
// while its run goes on it leaves the bus for its own restart into writer mode, which counts for
// nothing. No I/O: the station hands in what its searches found.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/model_catalog.h"
#include "link/instrument_search.h"

namespace fg {

enum class RosterPhase : int32_t {
  kQueued = 0,   // to be updated, waiting for a free place among the runs
  kRunning = 1,
  kEnded = 2,    // its latest run ended
  kRefused = 3,  // another model than the file's: never talked to for the file
};

struct RosterEntry {
  std::string key;       // InstrumentKeyOfResource
  std::string serial;    // as its resource name gives it
  std::string resource;  // the name it was last seen under
  std::string model;     // as the search labelled it; empty when unknown
  InstrumentMode mode = InstrumentMode::kNormal;  // as the search found it
  RosterPhase phase = RosterPhase::kQueued;
  bool present = false;  // on the bus at the latest search
  bool goneSinceRun = false;  // left the bus after its latest run ended (or it was refused)
  int32_t runs = 0;      // runs taken this session
};

enum class RosterVerdict : int32_t {
  kTake = 0,    // update it: the entry is queued
  kRefuse = 1,  // another model: the entry says which
  kLater = 2,   // another program updates it: looked at again at the next search, no entry yet
};

class StationRoster {
 public:
  // The station installs a file of `model`.
  explicit StationRoster(const ModelInfo* model) : model_(model) {}

  // The names a search found on the bus now. Notes who left and who is there, and returns the
  // names to look at (LabelInstrument, then Consider): instruments never seen, and those plugged
  // in again after their run ended or after they were refused.
  std::vector<std::string> Present(const std::vector<std::string>& names);

  // What the station does with an instrument it looked at; *entry is its index (new entries are
  // appended, so an index never changes) unless kLater.
  RosterVerdict Consider(const FoundInstrument& found, size_t* entry);

  void RunStarted(size_t entry);
  void RunEnded(size_t entry);

  const std::vector<RosterEntry>& entries() const { return entries_; }

 private:
  // The entry of `key`, or entries_.size().
  size_t Find(const std::string& key) const;

  const ModelInfo* model_;
  std::vector<RosterEntry> entries_;
};

}  // namespace fg

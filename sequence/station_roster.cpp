#include "sequence/station_roster.h"

#include <algorithm>

#include "link/instrument_lock.h"
#include "link/resource_serial.h"

namespace fg {

namespace {

bool Settled(RosterPhase phase) {
  return phase == RosterPhase::kEnded || phase == RosterPhase::kRefused;
}

std::string SerialOf(const FoundInstrument& found) {
  if (found.serial[0] != '\0') return found.serial;
  char serial[kFoundNameSize];
  return ResourceSerialField(found.resource, serial, sizeof serial) ? serial : found.resource;
}

}  // namespace

size_t StationRoster::Find(const std::string& key) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].key == key) return i;
  }
  return entries_.size();
}

std::vector<std::string> StationRoster::Present(const std::vector<std::string>& names) {
  std::vector<std::string> keys;
  for (const std::string& name : names) keys.push_back(InstrumentKeyOfResource(name.c_str()));
  for (RosterEntry& e : entries_) {
    e.present = std::find(keys.begin(), keys.end(), e.key) != keys.end();
    if (!e.present && Settled(e.phase)) e.goneSinceRun = true;
  }
  std::vector<std::string> toLookAt;
  for (size_t i = 0; i < names.size(); ++i) {
    const size_t at = Find(keys[i]);
    if (at == entries_.size()) {
      toLookAt.push_back(names[i]);
      continue;
    }
    RosterEntry& e = entries_[at];
    e.resource = names[i];
    if (Settled(e.phase) && e.goneSinceRun) toLookAt.push_back(names[i]);
  }
  return toLookAt;
}

RosterVerdict StationRoster::Consider(const FoundInstrument& found, size_t* entry) {
  // Held by another program: not ours to take or refuse. Our own runs hold theirs too, but those
  // are never looked at while they run.
  if (found.mode == InstrumentMode::kBusy) return RosterVerdict::kLater;
  const std::string key = InstrumentKeyOfResource(found.resource);
  size_t at = Find(key);
  if (at == entries_.size()) {
    entries_.push_back(RosterEntry{});
    entries_.back().key = key;
  }
  RosterEntry& e = entries_[at];
  e.serial = SerialOf(found);
  e.resource = found.resource;
  e.model = found.model;
  e.mode = found.mode;
  e.present = true;
  e.goneSinceRun = false;
  *entry = at;
  if (!OfferedFor(found, model_)) {
    e.phase = RosterPhase::kRefused;
    return RosterVerdict::kRefuse;
  }
  e.phase = RosterPhase::kQueued;
  ++e.runs;
  return RosterVerdict::kTake;
}

void StationRoster::RunStarted(size_t entry) {
  if (entry < entries_.size()) entries_[entry].phase = RosterPhase::kRunning;
}

void StationRoster::RunEnded(size_t entry) {
  if (entry >= entries_.size()) return;
  entries_[entry].phase = RosterPhase::kEnded;
  entries_[entry].goneSinceRun = false;
}

}  // namespace fg

// The device list (control 1021) as the window holds it: VISA resource names in the list's
// order, the current entry, and what the search found out about each (writer mode, busy), shown
// as a label after the name. The device search fills it through its DeviceListOps; every change
// is handed to `changed`, which draws it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/dialog/dialog_view.h"
#include "link/device_search.h"

namespace fg::app {

class DeviceListModel {
 public:
  DeviceListModel();
  DeviceListModel(const DeviceListModel&) = delete;
  DeviceListModel& operator=(const DeviceListModel&) = delete;

  const DeviceListOps* ops() const { return &ops_; }
  // Called after every change of the entries or of the current entry.
  void SetChanged(std::function<void()> changed) { changed_ = std::move(changed); }

  // Inserts after every entry that does not sort after it (DeviceListOrder), so the list stays
  // sorted and equal names keep their order of arrival; the current entry stays the same name,
  // and an empty or unpicked list stays unpicked.
  void Add(const std::string& name);
  // What the search found out about an entry, given right after the entry was added.
  void AddInfo(const FoundInstrument& found);
  void Reset();
  // The user's pick, or a search's selection; -1 (or anything outside the list) picks none.
  void Select(int32_t index);

  int32_t count() const { return static_cast<int32_t>(names_.size()); }
  int32_t current() const { return current_; }
  const std::string& name(int32_t index) const { return names_[static_cast<size_t>(index)]; }
  // The current entry's name, or empty.
  std::string CurrentText() const;
  // The search's record of an entry, kept until the list is emptied; null when it has none.
  const FoundInstrument* InfoOf(const std::string& name) const;
  // "USB0::...::INSTR  (writer mode, WX2050)" for a labelled entry, else the name itself.
  std::string ShownText(const std::string& name) const;
  // Whether any entry carries a label.
  bool HasLabels() const;
  // Two or more entries and none picked: an update waits for the user's pick.
  bool NeedsPick() const { return count() >= 2 && current_ < 0; }

  // Hands the entries to the view (names and shown texts), with `placeholder` for a list
  // without a pick.
  void Draw(const DialogViewOps* view, const char* placeholder) const;

 private:
  void Changed() const {
    if (changed_) changed_();
  }

  DeviceListOps ops_;
  std::vector<std::string> names_;
  std::vector<FoundInstrument> infos_;
  int32_t current_ = -1;
  std::function<void()> changed_;
};

}  // namespace fg::app

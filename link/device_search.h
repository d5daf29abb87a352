// The window-free instrument search: expression of a catalogue row, and the device list it fills.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/model_catalog.h"
#include "link/instrument_search.h"
#include "link/run_env.h"

namespace fg {

// Room for any resource name VISA can write (VI_FIND_BUFLEN) and its terminator.
inline constexpr size_t kResourceNameCapacity = 256;

// A device list as the front ends hold it: a sorted list with a current text.
// Plain functions over an owner (the window's combo box, or SortedDeviceList below).
struct DeviceListOps {
  void* owner;
  void (*ResetContent)(void* owner);                     // remove all entries; empties the text
  void (*AddString)(void* owner, const char* name);      // insert in alphabetical order
  int32_t (*GetCount)(void* owner);
  void (*SetCurSel)(void* owner, int32_t index);         // the entry's text becomes the text
  // Copies the current text, bounded, terminated.
  void (*GetText)(void* owner, char* out, size_t capacity);
  // Optional, both or neither (null: the list keeps no labels). What the search found out
  // about an entry, given right after the entry was added; and that record again for a name,
  // false when the list has none for it. Never block.
  void (*SetEntryInfo)(void* owner, const FoundInstrument* found);
  bool (*GetEntryInfo)(void* owner, const char* name, FoundInstrument* out);
};

// "USB0::0x%04X::0x%04X::?*::INSTR" with the row's ids, four upper-case hex digits each.
std::string BuildEnumerationExpression(const ModelInfo* row);

// The VISA search itself, on the calling thread: every resource name VISA lists for the
// expression, in its order, up to the first failing viFindNext. Returns the number of names
// (0 when the resource manager or the search fails).
int32_t FindResourceNames(const char* expression, std::vector<std::string>* names);

// Of the names of one instrument's USBTMC interfaces (same board, vendor, product and serial),
// only the first interface's: an instrument with two interfaces is one instrument. Names that
// are not USB INSTR names are kept as they are. The order of the kept names is unchanged.
std::vector<std::string> FirstInterfacesOnly(const std::vector<std::string>& names);

// The search of `env`: its own, or the VISA search (FindResourceNames) when env or its search
// is null.
const ResourceSearch& ResourceSearchOf(const RunEnv* env);

// Empties the list, searches for the model's instruments (SearchInstruments, through the env's
// search) and adds the name of every one offered for the model (OfferedFor), its first USBTMC
// interface only, with its record when the list keeps them: the model's own in normal mode and
// the writers that name it or no model, never one that names another model. Returns the number
// of names added (0 when the resource manager or the search fails).
int32_t EnumerateDevices(const RunEnv* env, const DeviceListOps* list, const ModelInfo* model);

// No model: nothing. Else enumerate; exactly one found is selected, otherwise none is.
void RefreshDeviceList(const RunEnv* env, const DeviceListOps* list,
                       const ModelInfo* selectedModel);

// The order of a sorted device list: letter case ignored, then bytes as the tie-break.
bool DeviceListOrder(const std::string& a, const std::string& b);

// The device list of the window-free front ends (CLI, tests).
class SortedDeviceList {
 public:
  SortedDeviceList();
  const DeviceListOps* ops() const { return &ops_; }
  const std::vector<std::string>& entries() const { return entries_; }
  const std::string& text() const { return text_; }
  void SetText(const std::string& text) { text_ = text; }  // as a user's pick would
  // The search's record of an entry; null when it has none.
  const FoundInstrument* InfoOf(const std::string& name) const;

 private:
  DeviceListOps ops_;
  std::vector<std::string> entries_;
  std::vector<FoundInstrument> infos_;
  std::string text_;
};

}  // namespace fg

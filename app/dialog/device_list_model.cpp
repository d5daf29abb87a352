#include "app/dialog/device_list_model.h"

#include "util/bounded_text.h"

namespace fg::app {
namespace {

DeviceListModel* List(void* owner) { return static_cast<DeviceListModel*>(owner); }

void ResetContent(void* owner) { List(owner)->Reset(); }
void AddString(void* owner, const char* name) { List(owner)->Add(name != nullptr ? name : ""); }
int32_t GetCount(void* owner) { return List(owner)->count(); }
void SetCurSel(void* owner, int32_t index) { List(owner)->Select(index); }
void GetText(void* owner, char* out, size_t capacity) {
  CopyBounded(out, capacity, List(owner)->CurrentText().c_str());
}
void SetEntryInfo(void* owner, const FoundInstrument* found) { List(owner)->AddInfo(*found); }
bool GetEntryInfo(void* owner, const char* name, FoundInstrument* out) {
  const FoundInstrument* info = List(owner)->InfoOf(name);
  if (info != nullptr) *out = *info;
  return info != nullptr;
}

}  // namespace

DeviceListModel::DeviceListModel()
    : ops_{this, ResetContent, AddString, GetCount, SetCurSel, GetText, SetEntryInfo,
           GetEntryInfo} {}

void DeviceListModel::Add(const std::string& name) {
  size_t index = 0;
  while (index < names_.size() && !DeviceListOrder(name, names_[index])) ++index;
  names_.insert(names_.begin() + static_cast<std::ptrdiff_t>(index), name);
  if (current_ >= 0 && static_cast<size_t>(current_) >= index) ++current_;
  Changed();
}

void DeviceListModel::AddInfo(const FoundInstrument& found) {
  infos_.push_back(found);
  Changed();
}

void DeviceListModel::Reset() {
  names_.clear();
  infos_.clear();
  current_ = -1;
  Changed();
}

void DeviceListModel::Select(int32_t index) {
  current_ = index >= 0 && index < count() ? index : -1;
  Changed();
}

std::string DeviceListModel::CurrentText() const {
  return current_ >= 0 ? names_[static_cast<size_t>(current_)] : std::string();
}

const FoundInstrument* DeviceListModel::InfoOf(const std::string& name) const {
  for (const FoundInstrument& info : infos_) {
    if (name == info.resource) return &info;
  }
  return nullptr;
}

std::string DeviceListModel::ShownText(const std::string& name) const {
  const FoundInstrument* info = InfoOf(name);
  const std::string label = info != nullptr ? InstrumentLabel(*info) : std::string();
  return label.empty() ? name : name + "  (" + label + ")";
}

bool DeviceListModel::HasLabels() const {
  for (const FoundInstrument& info : infos_) {
    if (!InstrumentLabel(info).empty()) return true;
  }
  return false;
}

void DeviceListModel::Draw(const DialogViewOps* view, const char* placeholder) const {
  std::vector<std::string> shown;
  shown.reserve(names_.size());
  for (const std::string& name : names_) shown.push_back(ShownText(name));
  std::vector<DeviceEntryView> entries;
  entries.reserve(names_.size());
  for (size_t i = 0; i < names_.size(); ++i) entries.push_back({names_[i].c_str(), shown[i].c_str()});
  view->ShowDeviceEntries(view->owner, entries.data(), count(), current_, placeholder);
}

}  // namespace fg::app

#include "link/device_search.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "util/bounded_text.h"
#include "visa/usbtmc/usbtmc_resource_name.h"
#include "visa/visa.h"

namespace fg {

std::string BuildEnumerationExpression(const ModelInfo* row) {
  char expression[64];
  std::snprintf(expression, sizeof expression, "USB0::0x%04X::0x%04X::?*::INSTR",
                unsigned{row->usbVendorId}, unsigned{row->usbProductId});
  return expression;
}

int32_t FindResourceNames(const char* expression, std::vector<std::string>* names) {
  names->clear();
  ViSession rm = visa::VI_NULL;
  ViStatus status = visa::viOpenDefaultRM(&rm);
  if (status != visa::VI_SUCCESS) {
    // A warning may come with an open session: close it instead of leaking it.
    if (rm != visa::VI_NULL) visa::viClose(rm);
    return 0;
  }
  visa::ViFindList found = visa::VI_NULL;
  visa::ViUInt32 matches = 0;
  char name[kResourceNameCapacity] = {};
  static_assert(kResourceNameCapacity >= visa::VI_FIND_BUFLEN);
  status = visa::viFindRsrc(rm, expression, &found, &matches, name);
  if (status != visa::VI_SUCCESS) {
    visa::viClose(rm);
    return 0;
  }
  names->push_back(name);
  while (names->size() < matches) {
    if (visa::viFindNext(found, name) != visa::VI_SUCCESS) break;
    names->push_back(name);
  }
  visa::viClose(found);
  visa::viClose(rm);
  return static_cast<int32_t>(names->size());
}

namespace {

int32_t DefaultFind(void*, const char* expression, std::vector<std::string>* names) {
  return FindResourceNames(expression, names);
}
constexpr ResourceSearch kVisaSearch = {nullptr, DefaultFind, nullptr};

// "USB0" of "USB0::...", upper case, so that one instrument on two boards stays two.
std::string BoardOf(const std::string& name) {
  std::string board = name.substr(0, name.find("::"));
  for (char& c : board) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return board;
}

}  // namespace

const ResourceSearch& ResourceSearchOf(const RunEnv* env) {
  return env != nullptr && env->search != nullptr ? *env->search : kVisaSearch;
}

std::vector<std::string> FirstInterfacesOnly(const std::vector<std::string>& names) {
  struct Seen {
    std::string board;
    usbtmc::UsbInstrumentAddress address;
    size_t index;  // in `kept`
  };
  std::vector<std::string> kept;
  std::vector<Seen> seen;
  for (const std::string& name : names) {
    usbtmc::UsbInstrumentAddress address;
    if (!usbtmc::ParseResourceName(name, &address)) {
      kept.push_back(name);
      continue;
    }
    const std::string board = BoardOf(name);
    Seen* same = nullptr;
    for (Seen& s : seen) {
      if (s.board == board && s.address.vendorId == address.vendorId &&
          s.address.productId == address.productId && s.address.serial == address.serial) {
        same = &s;
      }
    }
    if (same == nullptr) {
      seen.push_back({board, address, kept.size()});
      kept.push_back(name);
    } else if (address.interfaceNumber < same->address.interfaceNumber) {
      kept[same->index] = name;  // a lower interface listed later is the first one
      same->address = address;
    }
  }
  return kept;
}

int32_t EnumerateDevices(const RunEnv* env, const DeviceListOps* list, const ModelInfo* model) {
  list->ResetContent(list->owner);
  int32_t added = 0;
  for (const FoundInstrument& found : SearchInstruments(env, model)) {
    if (!OfferedFor(found, model)) continue;
    list->AddString(list->owner, found.resource);
    if (list->SetEntryInfo != nullptr) list->SetEntryInfo(list->owner, &found);
    ++added;
  }
  return added;
}

void RefreshDeviceList(const RunEnv* env, const DeviceListOps* list,
                       const ModelInfo* selectedModel) {
  if (selectedModel == nullptr) return;
  if (EnumerateDevices(env, list, selectedModel) == 1) list->SetCurSel(list->owner, 0);
}

bool DeviceListOrder(const std::string& a, const std::string& b) {
  auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                           [&](char x, char y) { return lower(x) < lower(y); });
  bool greater = std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                              [&](char x, char y) { return lower(x) < lower(y); });
  return less || (!greater && a < b);
}

namespace {

SortedDeviceList* Self(void* owner) { return static_cast<SortedDeviceList*>(owner); }

}  // namespace

SortedDeviceList::SortedDeviceList() {
  ops_.owner = this;
  ops_.ResetContent = [](void* owner) {
    Self(owner)->entries_.clear();
    Self(owner)->infos_.clear();
    Self(owner)->text_.clear();
  };
  ops_.AddString = [](void* owner, const char* name) {
    std::vector<std::string>& entries = Self(owner)->entries_;
    std::string entry(name);
    entries.insert(std::upper_bound(entries.begin(), entries.end(), entry, DeviceListOrder),
                   entry);
  };
  ops_.GetCount = [](void* owner) {
    return static_cast<int32_t>(Self(owner)->entries_.size());
  };
  ops_.SetCurSel = [](void* owner, int32_t index) {
    std::vector<std::string>& entries = Self(owner)->entries_;
    std::string& text = Self(owner)->text_;
    if (index >= 0 && static_cast<size_t>(index) < entries.size()) {
      text = entries[static_cast<size_t>(index)];
    } else {
      text.clear();
    }
  };
  ops_.GetText = [](void* owner, char* out, size_t capacity) {
    CopyBounded(out, capacity, Self(owner)->text_.c_str());
  };
  ops_.SetEntryInfo = [](void* owner, const FoundInstrument* found) {
    Self(owner)->infos_.push_back(*found);
  };
  ops_.GetEntryInfo = [](void* owner, const char* name, FoundInstrument* out) {
    const FoundInstrument* info = Self(owner)->InfoOf(name);
    if (info != nullptr) *out = *info;
    return info != nullptr;
  };
}

const FoundInstrument* SortedDeviceList::InfoOf(const std::string& name) const {
  for (const FoundInstrument& info : infos_) {
    if (name == info.resource) return &info;
  }
  return nullptr;
}

}  // namespace fg

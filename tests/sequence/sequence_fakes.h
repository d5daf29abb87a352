// A front end that records what the sequences do to it, a device list that records its calls,
// and an update driver that follows a script. All events go into one ordered list so that tests
// can check the order of boxes, log lines, state changes and driver calls.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "catalog/model_catalog.h"
#include "catalog/updater_ops.h"
#include "sequence/front_end.h"
#include "util/bounded_text.h"

namespace fg::test {

using Events = std::vector<std::string>;

inline std::string IconName(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Error: return "error";
    case BoxIcon::Question: return "question";
    case BoxIcon::Information: return "information";
  }
  return "?";
}

inline std::string StateName(ControlState state) {
  switch (state) {
    case Busy: return "Busy";
    case NoFile: return "NoFile";
    case FileReady: return "FileReady";
  }
  return "?";
}

// A sorted list with a current text, like the window's hidden combo box.
struct RecordingDeviceList {
  Events* events = nullptr;
  std::vector<std::string> entries;
  std::string text;
  DeviceListOps ops{};

  explicit RecordingDeviceList(Events* e) : events(e) {
    ops.owner = this;
    ops.ResetContent = [](void* o) {
      auto* l = static_cast<RecordingDeviceList*>(o);
      l->entries.clear();
      l->text.clear();
      l->events->push_back("list reset");
    };
    ops.AddString = [](void* o, const char* name) {
      auto* l = static_cast<RecordingDeviceList*>(o);
      l->entries.insert(std::upper_bound(l->entries.begin(), l->entries.end(), std::string(name)),
                        name);
      l->events->push_back(std::string("list add ") + name);
    };
    ops.GetCount = [](void* o) {
      return static_cast<int32_t>(static_cast<RecordingDeviceList*>(o)->entries.size());
    };
    ops.SetCurSel = [](void* o, int32_t index) {
      auto* l = static_cast<RecordingDeviceList*>(o);
      l->text = index >= 0 && index < static_cast<int32_t>(l->entries.size()) ? l->entries[index] : "";
      l->events->push_back("list select " + std::to_string(index));
    };
    ops.GetText = [](void* o, char* out, size_t capacity) {
      CopyBounded(out, capacity, static_cast<RecordingDeviceList*>(o)->text.c_str());
    };
  }
  RecordingDeviceList(const RecordingDeviceList&) = delete;
  RecordingDeviceList& operator=(const RecordingDeviceList&) = delete;

  // One entry, selected: what a refresh that found exactly one instrument leaves.
  void Preselect(const std::string& name) {
    entries = {name};
    text = name;
  }
};

struct RecordingFrontEnd {
  Events events;
  std::string log;  // the log pane's text, "\r\n" after each line
  bool confirmAnswer = true;
  bool modelAnswer = false;  // the question about a writer that names no model
  RecordingDeviceList list{&events};
  FrontEndOps ops{};

  RecordingFrontEnd() {
    ops.owner = this;
    ops.AppendLog = [](void* o, const char* text) {
      auto* f = Self(o);
      f->log += text;
      f->events.push_back(std::string("log ") + text);
    };
    ops.AppendLogLine = [](void* o, const char* text) {
      auto* f = Self(o);
      f->log += std::string(text) + "\r\n";
      f->events.push_back(std::string("line ") + text);
    };
    // Above a pending partial line, as the window puts its notes.
    ops.AppendNoteLine = [](void* o, const char* text) {
      auto* f = Self(o);
      const size_t lastBreak = f->log.rfind("\r\n");
      f->log.insert(lastBreak == std::string::npos ? 0 : lastBreak + 2, std::string(text) + "\r\n");
      f->events.push_back(std::string("note ") + text);
    };
    ops.ClearLog = [](void* o) {
      Self(o)->log.clear();
      Self(o)->events.push_back("log cleared");
    };
    ops.MessageBox = [](void* o, const char* text, const char* caption, BoxIcon icon) {
      Self(o)->events.push_back(std::string("box ") + caption + "|" + text + "|" + IconName(icon));
    };
    ops.Confirm = [](void* o, const char* text, const char* caption) {
      auto* f = Self(o);
      f->events.push_back(std::string("confirm ") + caption + "|" + text);
      return f->confirmAnswer;
    };
    ops.ConfirmWriterModel = [](void* o, const char* text, const char* caption,
                                const char* serial, const char* model) {
      auto* f = Self(o);
      f->events.push_back(std::string("model? ") + caption + "|" + text + "|" + serial + "|" +
                          model);
      return f->modelAnswer;
    };
    ops.InitProgressBar = [](void* o) { Self(o)->events.push_back("bar init"); };
    ops.SetProgress = [](void* o, int32_t percent) {
      Self(o)->events.push_back("bar " + std::to_string(percent));
    };
    ops.PumpMessages = [](void* o) { Self(o)->events.push_back("pump"); };
    ops.SetControlState = [](void* o, ControlState state) {
      Self(o)->events.push_back("state " + StateName(state));
    };
    ops.SetFileFields = [](void* o, const char* path, const char* model, const char* revision,
                           const char* description) {
      Self(o)->events.push_back(std::string("fields ") + path + "|" + model + "|" + revision + "|" +
                                description);
    };
    ops.SetDeviceField = [](void* o, const char* text) {
      Self(o)->events.push_back(std::string("device ") + text);
    };
    ops.deviceList = &list.ops;
  }
  RecordingFrontEnd(const RecordingFrontEnd&) = delete;
  RecordingFrontEnd& operator=(const RecordingFrontEnd&) = delete;

  static RecordingFrontEnd* Self(void* o) { return static_cast<RecordingFrontEnd*>(o); }

  // The log as lines; "Connecting ... " and its "OK" make one line.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(log.substr(start, end - start));
    }
    if (start < log.size()) lines.push_back(log.substr(start));
    return lines;
  }

  // The events that start with `prefix`, in order.
  Events Only(const std::string& prefix) const {
    Events out;
    for (const auto& e : events) {
      if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    }
    return out;
  }

  // Position of the first event equal to `event`, or -1.
  int IndexOf(const std::string& event) const {
    auto it = std::find(events.begin(), events.end(), event);
    return it == events.end() ? -1 : static_cast<int>(it - events.begin());
  }
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

// An update driver that returns scripted results, reports scripted progress and records what it
// was given, including the payload file's bytes as Update sees them.
struct ScriptedDriver {
  Events* events = nullptr;
  int32_t initResult = 0;
  int32_t connectResult = 0;
  int32_t updateResult = 0;
  std::vector<int32_t> progress = {0, 50, 100};
  std::string appendOnUpdate;  // appended to the payload file, as the WX2040 driver does
  std::string payloadSeen;
  bool payloadExistedAtConnect = false;
  std::string payloadPathSeen;
  ProgressFn progressFn = nullptr;
  void* progressOwner = nullptr;
  UpdaterOps ops{};

  explicit ScriptedDriver(Events* e) : events(e) {
    ops.context = this;
    ops.Init = [](void* c, ProgressFn fn, void* owner) {
      auto* d = static_cast<ScriptedDriver*>(c);
      d->events->push_back("driver Init");
      if (d->initResult == 0) {
        d->progressFn = fn;
        d->progressOwner = owner;
      }
      return d->initResult;
    };
    ops.Connect = [](void* c, const char* resource) {
      auto* d = static_cast<ScriptedDriver*>(c);
      d->events->push_back(std::string("driver Connect ") + resource);
      return d->connectResult;
    };
    ops.Update = [](void* c, const char* path, int32_t flags) {
      auto* d = static_cast<ScriptedDriver*>(c);
      d->events->push_back("driver Update " + std::to_string(flags));
      d->payloadPathSeen = path;
      d->payloadSeen = ReadWholeFile(path);
      if (!d->appendOnUpdate.empty()) {
        std::FILE* f = std::fopen(path, "ab");
        if (f) {
          std::fwrite(d->appendOnUpdate.data(), 1, d->appendOnUpdate.size(), f);
          std::fclose(f);
        }
      }
      for (int32_t p : d->progress) {
        if (d->progressFn) d->progressFn(d->progressOwner, p);
      }
      return d->updateResult;
    };
    ops.Finish = [](void* c) {
      static_cast<ScriptedDriver*>(c)->events->push_back("driver Finish");
      return 0;
    };
    ops.Destroy = [](DeviceLink*) {};
  }
  ScriptedDriver(const ScriptedDriver&) = delete;
  ScriptedDriver& operator=(const ScriptedDriver&) = delete;
};

// A catalogue-shaped row bound to a given driver table (or none).
inline ModelInfo MakeModelRow(const char* name, uint16_t productId, const UpdaterOps* updater) {
  ModelInfo row{};
  CopyBounded(row.name, name);
  CopyBounded(row.fileExtension, "fq");
  CopyBounded(row.fileTypeName, name);
  row.usbVendorId = 0x2E5B;
  row.usbProductId = productId;
  row.updater = updater;
  return row;
}

}  // namespace fg::test

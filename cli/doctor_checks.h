// What `doctor` tells the user to check when it finds no instrument: which providers searched
// and which could not, the vendor VISA and where it was looked for, an empty simulated bus, the
// udev rule and whether this user may open USB devices (these two on Linux only).
#pragma once
#include <string>
#include <vector>

#include "platform/usb_access.h"

namespace fg {

// A provider that was asked: its name, why it could not search (empty when it could), and the
// instruments it lists.
struct ProviderState {
  std::string name;
  std::string unavailable;
  size_t resources = 0;
};

struct DoctorFacts {
  bool windows = false;
  std::vector<ProviderState> providers;  // the active ones, in routing order
  bool providersChosen = false;          // FLINTGATE_VISA_PROVIDERS is set ...
  std::string providersVariable;         // ... to this
  bool vendorFound = false;
  std::string vendorSummary;             // what was loaded, or what was looked for
  std::string simbusVariable;            // FLINTGATE_SIMBUS, empty when unset
  platform::UsbAccessFacts usb;          // usb.applies: Linux
  std::string ruleName;                  // "60-flintgate.rules"
  std::string sourceRule;                // the rule in the sources we were built from, if there
};

struct NextCheck {
  std::string label;  // "Providers", "Vendor VISA", "Simulated bus", "udev rule", "USB access"
  std::string text;   // facts and what to do, in sentences
};

std::vector<NextCheck> NextChecks(const DoctorFacts& facts);

}  // namespace fg

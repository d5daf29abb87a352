#include "cli/doctor_checks.h"

#include <algorithm>

namespace fg {

namespace {

// The providers the registry knows, in its routing order.
constexpr const char* kKnownProviders[] = {"simbus", "vendor", "usbtmc"};

const ProviderState* Active(const DoctorFacts& f, const std::string& name) {
  for (const ProviderState& p : f.providers)
    if (p.name == name) return &p;
  return nullptr;
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

// "a", "a and b", "a, b and c".
std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  }
  return text;
}

// Why the registry did not create a known provider on its own choice.
std::string NotCreated(const DoctorFacts& f, const std::string& name) {
  if (name == "usbtmc") {
    return f.windows ? "usbtmc is not built for Windows, where the vendor VISA reaches USB"
                     : "usbtmc was not used, since the vendor VISA library reaches USB";
  }
  if (name == "vendor") return "vendor found no library";
  return name + " was not created";
}

NextCheck Providers(const DoctorFacts& f) {
  std::vector<std::string> parts;
  for (const ProviderState& p : f.providers) {
    if (!p.unavailable.empty()) {
      parts.push_back(p.name + " could not search: " + p.unavailable);
    } else if (p.resources == 0) {
      parts.push_back(p.name + " searched and found nothing");
    } else {
      parts.push_back(p.name + " searched and found " + std::to_string(p.resources) +
                      (p.resources == 1 ? " resource" : " resources") + ", no instrument of ours");
    }
  }
  std::vector<std::string> leftOut;
  for (const char* name : kKnownProviders) {
    if (Active(f, name) != nullptr) continue;
    if (f.providersChosen) {
      leftOut.push_back(name);
    } else {
      parts.push_back(NotCreated(f, name));
    }
  }
  if (!leftOut.empty()) {
    parts.push_back(Listed(leftOut) + (leftOut.size() == 1 ? " was" : " were") +
                    " left out by FLINTGATE_VISA_PROVIDERS=\"" + f.providersVariable + "\"");
  }
  std::string text = Joined(parts, "; ") + ".";
  if (f.providers.empty()) text = "No provider searched: " + text;
  return {"Providers", text};
}

NextCheck VendorVisa(const DoctorFacts& f) {
  if (f.vendorFound) return {"Vendor VISA", f.vendorSummary + "; it lists no instrument of ours."};
  if (f.providersChosen && Active(f, "vendor") == nullptr) {
    return {"Vendor VISA", "not searched, as FLINTGATE_VISA_PROVIDERS leaves it out."};
  }
  std::string text = "none found where the line \"Vendor VISA library\" above says it looked.";
  text += f.windows
              ? " Real instruments need one: install NI-VISA, Keysight IO Libraries or R&S VISA "
                "(visa64.dll), or name one with FLINTGATE_VISA_LIBRARY."
              : " Install NI-VISA, Keysight IO Libraries or R&S VISA, or name a library with "
                "FLINTGATE_VISA_LIBRARY; without one, the built-in USBTMC client reaches the "
                "instruments.";
  return {"Vendor VISA", text};
}

NextCheck UdevRule(const DoctorFacts& f) {
  if (!f.usb.rule.empty()) {
    return {"udev rule", f.usb.rule + " is installed; replug an instrument that was plugged in "
                                      "before it was."};
  }
  std::string text = f.ruleName + " is in none of " + Joined(f.usb.ruleFolders, ", ") +
                     ": without it only root may open the instruments. ";
  if (!f.sourceRule.empty()) {
    text += "Install it: sudo cp " + f.sourceRule +
            " /etc/udev/rules.d/ && sudo udevadm control --reload-rules && sudo udevadm trigger, "
            "then replug the instrument.";
  } else {
    text += "Reinstall the flintgate package, which puts it in /lib/udev/rules.d, then replug "
            "the instrument.";
  }
  return {"udev rule", text};
}

NextCheck UsbAccess(const DoctorFacts& f) {
  const platform::UsbAccessFacts& u = f.usb;
  if (u.root) return {"USB access", "you are root, who may open every USB device."};
  const bool inPlugdev = std::find(u.groups.begin(), u.groups.end(), "plugdev") != u.groups.end();
  std::string text = "you are " + u.user + ", in the groups " + Joined(u.groups, ", ") + ". ";
  if (u.activeOnSeat) {
    return {"USB access", text + "You are the user logged in at the machine's seat, whom the "
                                 "rule's uaccess tag gives the instruments."};
  }
  text += u.seatUser.empty()
              ? "Nobody is logged in at the machine's seat (or logind does not run), so the "
                "rule's uaccess tag gives the instruments to nobody"
              : "The user logged in at the machine's seat is " + u.seatUser +
                    ", to whom the rule's uaccess tag gives the instruments, not you";
  text += ": log in at the machine, or add GROUP=\"plugdev\", MODE=\"0660\" to the rule's lines";
  text += inPlugdev ? " (you are in plugdev)." :
                      " and join plugdev (sudo usermod -aG plugdev " + u.user +
                          ", then log in again).";
  return {"USB access", text};
}

}  // namespace

std::vector<NextCheck> NextChecks(const DoctorFacts& f) {
  std::vector<NextCheck> checks{Providers(f), VendorVisa(f)};
  const ProviderState* simbus = Active(f, "simbus");
  if (simbus != nullptr && simbus->unavailable.empty() && simbus->resources == 0 &&
      !f.simbusVariable.empty()) {
    checks.push_back({"Simulated bus",
                      "FLINTGATE_SIMBUS=" + f.simbusVariable +
                          " holds no simulated instrument: start one there with flintgate-sim "
                          "WX2040, in a shell where FLINTGATE_SIMBUS is the same folder."});
  }
  if (f.usb.applies) {
    checks.push_back(UdevRule(f));
    checks.push_back(UsbAccess(f));
  }
  return checks;
}

}  // namespace fg

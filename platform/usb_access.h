// What decides whether this user may open the instruments' USB devices, for `doctor` when it
// finds no instrument: the udev rule that grants access, the groups of the user, and whether the
// user is the one logged in at the machine's seat, to whom the rule's uaccess tag gives access.
// Windows has none of these: the vendor VISA's driver opens the devices there.
#pragma once
#include <string>
#include <vector>

namespace fg::platform {

struct UsbAccessFacts {
  bool applies = false;              // false on Windows
  bool root = false;                 // root opens every device, rule or none
  std::string user;                  // the user's name, or "uid N"
  std::vector<std::string> groups;   // names (or numbers) of the user's groups, the primary first
  std::vector<std::string> ruleFolders;  // where the rule was looked for
  std::string rule;                  // the rule file found first, empty when none
  // The seat: "" when no seat is known (logind does not run, or no seat0), else the user active
  // there ("uid N" when the name is unknown).
  std::string seatUser;
  bool activeOnSeat = false;         // the seat's active user is this user
};

// The udev rules folders, in udev's order, with the folder our installation puts the rule in
// (`installFolder`, left out when empty or already listed) at its place among them.
std::vector<std::string> UdevRuleFolders(const std::string& installFolder);

// Reads the facts. `ruleName` is looked for in each of `ruleFolders`; `seatFile` is logind's
// record of seat0 (its ACTIVE_UID line names the user active there).
UsbAccessFacts ReadUsbAccessFacts(const std::string& ruleName,
                                  const std::vector<std::string>& ruleFolders,
                                  const std::string& seatFile);

// logind's record of seat0.
inline constexpr const char* kSeat0File = "/run/systemd/seats/seat0";

}  // namespace fg::platform

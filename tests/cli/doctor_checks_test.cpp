// What doctor tells the user to check when it finds no instrument, from the facts it gathered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/doctor_checks.h"

namespace fg {
namespace {

// A Linux machine as doctor sees it by default: the simulated bus searched, no vendor VISA, no
// USB, no rule installed, a user who is not at the seat.
DoctorFacts LinuxFacts() {
  DoctorFacts f;
  f.providers = {{"simbus", "", 0}, {"usbtmc", "no USB on this machine", 0}};
  f.vendorSummary = "no vendor VISA library found; looked for libvisa.so";
  f.ruleName = "60-flintgate.rules";
  f.sourceRule = "/src/packaging/60-flintgate.rules";
  f.usb.applies = true;
  f.usb.user = "ann";
  f.usb.groups = {"ann", "dialout"};
  f.usb.ruleFolders = {"/etc/udev/rules.d", "/lib/udev/rules.d"};
  return f;
}

// The text of the check with `label`, or "<none>".
std::string Check(const DoctorFacts& facts, const std::string& label) {
  for (const NextCheck& check : NextChecks(facts))
    if (check.label == label) return check.text;
  return "<none>";
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(DoctorChecks, NameEveryProviderAndWhyItFoundNothing) {
  DoctorFacts f = LinuxFacts();
  EXPECT_EQ(Check(f, "Providers"),
            "simbus searched and found nothing; usbtmc could not search: no USB on this machine; "
            "vendor found no library.");
  EXPECT_TRUE(Has(Check(f, "Vendor VISA"), "Install NI-VISA, Keysight IO Libraries or R&S VISA"));

  // A vendor library that loads serves USB; what it lists is not ours.
  f.providers = {{"simbus", "", 0}, {"vendor", "", 2}};
  f.vendorFound = true;
  f.vendorSummary = "vendor VISA library /opt/lib/libvisa.so";
  EXPECT_EQ(Check(f, "Providers"),
            "simbus searched and found nothing; vendor searched and found 2 resources, no "
            "instrument of ours; usbtmc was not used, since the vendor VISA library reaches USB.");
  EXPECT_EQ(Check(f, "Vendor VISA"),
            "vendor VISA library /opt/lib/libvisa.so; it lists no instrument of ours.");

  // FLINTGATE_VISA_PROVIDERS left every provider out.
  f.providers.clear();
  f.vendorFound = false;
  f.providersChosen = true;
  f.providersVariable = "";
  EXPECT_EQ(Check(f, "Providers"),
            "No provider searched: simbus, vendor and usbtmc were left out by "
            "FLINTGATE_VISA_PROVIDERS=\"\".");
  EXPECT_EQ(Check(f, "Vendor VISA"), "not searched, as FLINTGATE_VISA_PROVIDERS leaves it out.");
}

TEST(DoctorChecks, AnEmptySimulatedBusIsNamedWhenItWasConfigured) {
  DoctorFacts f = LinuxFacts();
  EXPECT_EQ(Check(f, "Simulated bus"), "<none>") << "the default bus of a user without simulator";
  f.simbusVariable = "/tmp/bus";
  EXPECT_TRUE(Has(Check(f, "Simulated bus"), "FLINTGATE_SIMBUS=/tmp/bus holds no simulated"));
  f.providers[0].unavailable = "The simulated bus folder /tmp/bus has mode 0755 instead of 0700.";
  EXPECT_EQ(Check(f, "Simulated bus"), "<none>") << "an unsafe folder is a problem of its own";
  EXPECT_TRUE(Has(Check(f, "Providers"), "simbus could not search: The simulated bus folder"));
}

TEST(DoctorChecks, TheUdevRuleWhereItIsOrHowToInstallIt) {
  DoctorFacts f = LinuxFacts();
  const std::string missing = Check(f, "udev rule");
  EXPECT_TRUE(Has(missing, "60-flintgate.rules is in none of /etc/udev/rules.d, /lib/udev/rules.d"))
      << missing;
  EXPECT_TRUE(Has(missing, "sudo cp /src/packaging/60-flintgate.rules /etc/udev/rules.d/"))
      << missing;
  f.sourceRule.clear();
  EXPECT_TRUE(Has(Check(f, "udev rule"), "Reinstall the flintgate package"));
  f.usb.rule = "/lib/udev/rules.d/60-flintgate.rules";
  EXPECT_TRUE(Has(Check(f, "udev rule"), "/lib/udev/rules.d/60-flintgate.rules is installed"));
}

TEST(DoctorChecks, WhetherThisUserMayOpenTheInstruments) {
  DoctorFacts f = LinuxFacts();
  std::string text = Check(f, "USB access");
  EXPECT_TRUE(Has(text, "you are ann, in the groups ann, dialout.")) << text;
  EXPECT_TRUE(Has(text, "Nobody is logged in at the machine's seat")) << text;
  EXPECT_TRUE(Has(text, "join plugdev (sudo usermod -aG plugdev ann")) << text;

  f.usb.seatUser = "bob";
  f.usb.groups.push_back("plugdev");
  text = Check(f, "USB access");
  EXPECT_TRUE(Has(text, "The user logged in at the machine's seat is bob")) << text;
  EXPECT_TRUE(Has(text, "(you are in plugdev).")) << text;

  f.usb.seatUser = "ann";
  f.usb.activeOnSeat = true;
  EXPECT_TRUE(Has(Check(f, "USB access"), "You are the user logged in at the machine's seat"));

  f.usb.root = true;
  EXPECT_EQ(Check(f, "USB access"), "you are root, who may open every USB device.");
}

TEST(DoctorChecks, WindowsHasNoUdevRuleNorGroups) {
  DoctorFacts f = LinuxFacts();
  f.windows = true;
  f.usb = platform::UsbAccessFacts{};  // what Windows reads
  f.providers = {{"simbus", "", 0}};
  std::vector<std::string> labels;
  for (const NextCheck& check : NextChecks(f)) labels.push_back(check.label);
  EXPECT_EQ(labels, (std::vector<std::string>{"Providers", "Vendor VISA"}));
  EXPECT_TRUE(Has(Check(f, "Providers"), "usbtmc is not built for Windows"));
  EXPECT_TRUE(Has(Check(f, "Vendor VISA"), "(visa64.dll)"));
}

}  // namespace
}  // namespace fg

// Who an access list lets in besides this user: the judgement behind the simulated bus folder and
// the state folders, over descriptors written in SDDL.
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <string>

#include "platform/user_only_access_win32.h"

namespace fg::test {
namespace {

// A descriptor from SDDL in which "ME" stands for this user's account.
class Descriptor {
 public:
  explicit Descriptor(std::string sddl) {
    std::string user;
    if (!platform::CurrentUserSid(&user)) return;
    for (size_t at = sddl.find("ME"); at != std::string::npos; at = sddl.find("ME", at)) {
      sddl.replace(at, 2, user);
    }
    ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                         &descriptor_, nullptr);
  }
  ~Descriptor() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  PSECURITY_DESCRIPTOR get() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

TEST(AccessList, OnlyOtherAccountsThatAreGrantedAccessCount) {
  struct Row {
    const char* sddl;
    const char* admitted;  // part of the answer; "" for nobody
  };
  const Row rows[] = {
      {"O:MED:P(A;;FA;;;ME)", ""},
      {"O:MED:P(A;OICI;FA;;;ME)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", ""},  // may open anything anyway
      {"O:MED:P(A;;FA;;;ME)(D;;FA;;;WD)", ""},                          // a denial admits nobody
      {"O:MED:P(A;;FA;;;ME)(A;OICIIO;FA;;;WD)", ""},  // passed on to new objects only
      {"O:MED:P(A;;FA;;;ME)(A;;FR;;;WD)", "S-1-1-0"},
      {"O:MED:(A;;FA;;;ME)(A;;0x1200a9;;;BU)", "S-1-5-32-545"},
      {"O:MED:P(A;;FA;;;ME)(A;;FA;;;S-1-5-21-1-2-3-1001)", "S-1-5-21-1-2-3-1001"},
      {"O:MED:P", ""},  // an empty list admits nobody at all
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sddl);
    Descriptor descriptor(row.sddl);
    ASSERT_NE(descriptor.get(), nullptr);
    const std::string admitted = platform::OthersAdmitted(descriptor.get());
    if (row.admitted[0] == '\0') {
      EXPECT_EQ(admitted, "");
    } else {
      EXPECT_NE(admitted.find(row.admitted), std::string::npos) << admitted;
    }
  }
}

// No access list at all is no restriction at all. (Made by hand: wine turns the SDDL for it into
// an empty list.)
TEST(AccessList, NoListAdmitsEverybody) {
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
  EXPECT_EQ(platform::OthersAdmitted(&descriptor), "everybody");
}

TEST(AccessList, OwnersOtherThanUsTheSystemAndTheAdministratorsAreForeign) {
  for (const char* ours : {"O:MED:P(A;;FA;;;ME)", "O:SYD:P(A;;FA;;;ME)", "O:BAD:P(A;;FA;;;ME)"}) {
    Descriptor descriptor(ours);
    ASSERT_NE(descriptor.get(), nullptr);
    EXPECT_EQ(platform::ForeignOwner(descriptor.get()), "") << ours;
  }
  Descriptor theirs("O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;ME)");
  ASSERT_NE(theirs.get(), nullptr);
  EXPECT_NE(platform::ForeignOwner(theirs.get()).find("S-1-5-21-1-2-3-1001"), std::string::npos);
}

}  // namespace
}  // namespace fg::test

#include "platform/user_only_access_win32.h"

// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

namespace fg::platform {

namespace {

// Accounts that may open anything on the machine whatever an access list says: access granted to
// them gives nobody anything new.
bool IsTrustedAccount(PSID sid, const std::string& user) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return false;
  const std::string id = text;
  LocalFree(text);
  return id == user || id == "S-1-5-18" /* SYSTEM */ || id == "S-1-5-32-544" /* Administrators */;
}

// "name (S-1-...)", or the bare identifier when the account has no name here.
std::string Describe(PSID sid) {
  char* text = nullptr;
  std::string id = "an unknown account";
  if (ConvertSidToStringSidA(sid, &text)) {
    id = text;
    LocalFree(text);
  }
  char name[256];
  char domain[256];
  DWORD nameSize = sizeof name;
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use;
  if (LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    return std::string(name) + " (" + id + ")";
  }
  return id;
}

}  // namespace

bool CurrentUserSid(std::string* sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  bool ok = size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  CloseHandle(token);
  if (!ok) return false;
  char* text = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    return false;
  }
  *sid = text;
  LocalFree(text);
  return true;
}

PSECURITY_DESCRIPTOR NewUserOnlyDescriptor(bool forFolder) {
  std::string sid;
  if (!CurrentUserSid(&sid)) return nullptr;
  const std::string sddl = std::string(forFolder ? "D:P(A;OICI;FA;;;" : "D:P(A;;FA;;;") + sid + ")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  return descriptor;
}

std::string OthersAdmitted(PSECURITY_DESCRIPTOR descriptor) {
  std::string user;
  if (!CurrentUserSid(&user)) return "everybody (this user cannot be told apart)";
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return "everybody";
  if (!present || dacl == nullptr) return "everybody";  // no access list: no restriction at all
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return "everybody";
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;  // denials admit nobody
    auto* sid = reinterpret_cast<PSID>(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart);
    if (!IsTrustedAccount(sid, user)) return Describe(sid);
  }
  return {};
}

std::string ForeignOwner(PSECURITY_DESCRIPTOR descriptor) {
  std::string user;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!CurrentUserSid(&user) || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      owner == nullptr) {
    return "an unknown account";
  }
  return IsTrustedAccount(owner, user) ? std::string() : Describe(owner);
}

}  // namespace fg::platform

#include "visa/simbus/simbus_device_name.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "visa/usbtmc/usbtmc_resource_name.h"

namespace fg::simbus {

namespace {

constexpr char kEntryPrefix[] = "usbtmc-";
#ifdef _WIN32
constexpr char kEntrySuffix[] = ".pipe";
#else
constexpr char kEntrySuffix[] = ".sock";
#endif
constexpr char kMarkerSuffix[] = ".long";
constexpr size_t kMaxSerialLength = 226;

// "usbtmc-vvvv-pppp-i-"
std::string NamePrefix(const SimDeviceIdentity& identity) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "%04x-%04x-%u-", identity.vendorId, identity.productId,
                static_cast<unsigned>(identity.interfaceNumber));
  return kEntryPrefix + std::string(ids);
}

// FNV-1a, 64 bits: a short, stable stand-in for a long serial in an entry name.
std::string SerialHash(const std::string& serial) {
  uint64_t hash = 0xCBF29CE484222325u;
  for (unsigned char c : serial) {
    hash ^= c;
    hash *= 0x100000001B3u;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(16, '0');
  for (size_t i = 16; i-- > 0; hash >>= 4) text[i] = kHex[hash & 0xF];
  return text;
}

bool ParseHex4(const std::string& text, uint16_t* value) {
  if (text.size() != 4) return false;
  unsigned v = 0;
  for (char c : text) {
    v <<= 4;
    if (c >= '0' && c <= '9') {
      v |= static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      v |= static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
  }
  *value = static_cast<uint16_t>(v);
  return true;
}

bool ParseSmallDecimal(const std::string& text, uint8_t* value) {
  if (text.empty() || text.size() > 3) return false;
  unsigned v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 255) return false;
  *value = static_cast<uint8_t>(v);
  return true;
}

}  // namespace

bool IsValidSimSerial(const std::string& serial) {
  if (serial.empty() || serial.size() > kMaxSerialLength) return false;
  return std::all_of(serial.begin(), serial.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
}

std::string DeviceEntryName(const SimDeviceIdentity& identity) {
  const std::string whole = NamePrefix(identity) + identity.serial + kEntrySuffix;
  if (whole.size() <= kMaxInlineEntryName) return whole;
  return NamePrefix(identity) + "~" + SerialHash(identity.serial) + kEntrySuffix;
}

std::string DeviceMarkerName(const SimDeviceIdentity& identity) {
  const std::string whole = NamePrefix(identity) + identity.serial + kEntrySuffix;
  if (whole.size() <= kMaxInlineEntryName) return std::string();
  return NamePrefix(identity) + identity.serial + kMarkerSuffix;
}

namespace {

// vvvv-pppp-i-serial between the prefix and `suffix`.
bool ParseIdentityName(const std::string& fileName, const std::string& suffix,
                       SimDeviceIdentity* identity) {
  const std::string prefix = kEntryPrefix;
  if (fileName.size() <= prefix.size() + suffix.size()) return false;
  if (fileName.compare(0, prefix.size(), prefix) != 0) return false;
  if (fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  std::string body =
      fileName.substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
  // vvvv-pppp-i-serial; the serial may itself contain '-'.
  size_t first = body.find('-');
  size_t second = first == std::string::npos ? first : body.find('-', first + 1);
  size_t third = second == std::string::npos ? second : body.find('-', second + 1);
  if (third == std::string::npos) return false;
  SimDeviceIdentity parsed;
  if (!ParseHex4(body.substr(0, first), &parsed.vendorId) ||
      !ParseHex4(body.substr(first + 1, second - first - 1), &parsed.productId) ||
      !ParseSmallDecimal(body.substr(second + 1, third - second - 1), &parsed.interfaceNumber)) {
    return false;
  }
  parsed.serial = body.substr(third + 1);
  if (!IsValidSimSerial(parsed.serial)) return false;
  *identity = parsed;
  return true;
}

}  // namespace

bool ParseDeviceEntryName(const std::string& fileName, SimDeviceIdentity* identity) {
  return ParseIdentityName(fileName, kEntrySuffix, identity);
}

bool ParseDeviceMarkerName(const std::string& fileName, SimDeviceIdentity* identity) {
  SimDeviceIdentity parsed;
  if (!ParseIdentityName(fileName, kMarkerSuffix, &parsed) || DeviceMarkerName(parsed) != fileName)
    return false;
  *identity = parsed;
  return true;
}

std::string DeviceResourceName(const SimDeviceIdentity& identity) {
  return usbtmc::FormatResourceName(usbtmc::UsbInstrumentAddress{
      identity.vendorId, identity.productId, identity.serial, identity.interfaceNumber});
}

}  // namespace fg::simbus

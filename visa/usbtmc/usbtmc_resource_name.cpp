#include "visa/usbtmc/usbtmc_resource_name.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace fg::usbtmc {

namespace {

bool EqualsIgnoreCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

// An unsigned number in hex ("0x2E5B") or decimal ("11867"), at most `limit`.
bool ParseNumber(const std::string& text, unsigned long limit, unsigned long* value) {
  size_t i = 0;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i == text.size()) return false;
  unsigned long result = 0;
  for (; i < text.size(); ++i) {
    int digit;
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return false;
    }
    result = result * static_cast<unsigned long>(base) + static_cast<unsigned long>(digit);
    if (result > limit) return false;
  }
  *value = result;
  return true;
}

std::vector<std::string> SplitOnDoubleColon(const std::string& name) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = name.find("::", start);
    parts.push_back(name.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 2;
  }
}

}  // namespace

std::string FormatResourceName(const UsbInstrumentAddress& address) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "USB0::0x%04X::0x%04X::", address.vendorId, address.productId);
  std::string name = ids + address.serial;
  if (address.interfaceNumber != 0) name += "::" + std::to_string(address.interfaceNumber);
  return name + "::INSTR";
}

bool ParseResourceName(const std::string& name, UsbInstrumentAddress* address) {
  std::vector<std::string> parts = SplitOnDoubleColon(name);
  if (parts.size() != 5 && parts.size() != 6) return false;
  const std::string& board = parts.front();
  if (board.size() < 3 || !EqualsIgnoreCase(board.substr(0, 3), "USB")) return false;
  for (size_t i = 3; i < board.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(board[i]))) return false;
  }
  if (!EqualsIgnoreCase(parts.back(), "INSTR")) return false;
  unsigned long vendor = 0, product = 0, interface = 0;
  if (!ParseNumber(parts[1], 0xFFFF, &vendor) || !ParseNumber(parts[2], 0xFFFF, &product)) {
    return false;
  }
  if (parts[3].empty()) return false;
  if (parts.size() == 6 && !ParseNumber(parts[4], 0xFF, &interface)) return false;
  address->vendorId = static_cast<uint16_t>(vendor);
  address->productId = static_cast<uint16_t>(product);
  address->serial = parts[3];
  address->interfaceNumber = static_cast<uint8_t>(interface);
  return true;
}

bool SameInstrument(const UsbInstrumentAddress& a, const UsbInstrumentAddress& b) {
  return a.vendorId == b.vendorId && a.productId == b.productId && a.serial == b.serial &&
         a.interfaceNumber == b.interfaceNumber;
}

}  // namespace fg::usbtmc

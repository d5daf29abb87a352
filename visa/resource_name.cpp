#include "visa/resource_name.h"

#include <cctype>
#include <cstdio>
#include <string_view>
#include <vector>

namespace fg::visa {

namespace {

struct InterfacePrefix {
  const char* text;
  ViUInt16 type;
};
// Longest first where one prefix starts another ("GPIB-VXI" before "GPIB").
constexpr InterfacePrefix kPrefixes[] = {
    {"GPIB-VXI", VI_INTF_GPIB_VXI}, {"GPIB", VI_INTF_GPIB}, {"VXI", VI_INTF_VXI},
    {"ASRL", VI_INTF_ASRL},         {"PXI", VI_INTF_PXI},   {"TCPIP", VI_INTF_TCPIP},
    {"USB", VI_INTF_USB},
};
constexpr const char* kClasses[] = {"INSTR", "INTFC", "BACKPLANE", "MEMACC",
                                    "SERVANT", "SOCKET", "RAW"};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::vector<std::string_view> SplitTokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  size_t start = 0;
  for (;;) {
    size_t sep = text.find("::", start);
    if (sep == std::string_view::npos) {
      tokens.push_back(text.substr(start));
      return tokens;
    }
    tokens.push_back(text.substr(start, sep - start));
    start = sep + 2;
  }
}

// A decimal number, or hexadecimal after "0x", that fits 16 bits.
bool ParseId(std::string_view text, ViUInt16* out) {
  unsigned base = 10;
  if (StartsWithNoCase(text, "0x")) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint32_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
      digit = std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
    } else {
      return false;
    }
    value = value * base + static_cast<uint32_t>(digit);
    if (value > 0xFFFF) return false;
  }
  *out = static_cast<ViUInt16>(value);
  return true;
}

bool ParseDecimal(std::string_view text, uint32_t limit, ViUInt16* out) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value > limit) return false;
  *out = static_cast<ViUInt16>(value);
  return true;
}

bool PrintableText(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

}  // namespace

std::string CanonicalUsbName(ViUInt16 board, ViUInt16 vendorId, ViUInt16 productId,
                             const std::string& serial, ViUInt16 usbInterface,
                             const char* resourceClass) {
  char head[48];
  std::snprintf(head, sizeof head, "USB%u::0x%04X::0x%04X::", unsigned{board}, unsigned{vendorId},
                unsigned{productId});
  std::string name = head + serial;
  if (usbInterface != 0) name += "::" + std::to_string(usbInterface);
  name += "::";
  name += resourceClass;
  return name;
}

ViStatus ParseResourceName(const char* text, ResourceName* out) {
  if (text == nullptr || out == nullptr) return VI_ERROR_INV_RSRC_NAME;
  std::string_view name(text);
  if (name.size() >= VI_FIND_BUFLEN) return VI_ERROR_INV_RSRC_NAME;
  std::vector<std::string_view> tokens = SplitTokens(name);
  for (std::string_view t : tokens) {
    if (!PrintableText(t)) return VI_ERROR_INV_RSRC_NAME;
  }

  ResourceName parsed;
  const InterfacePrefix* prefix = nullptr;
  for (const InterfacePrefix& p : kPrefixes) {
    if (StartsWithNoCase(tokens[0], p.text)) {
      prefix = &p;
      break;
    }
  }
  if (prefix == nullptr) return VI_ERROR_INV_RSRC_NAME;
  parsed.interfaceType = prefix->type;
  std::string_view boardText = tokens[0].substr(std::string_view(prefix->text).size());
  if (!boardText.empty() && !ParseDecimal(boardText, 0xFFFF, &parsed.board)) {
    return VI_ERROR_INV_RSRC_NAME;
  }

  // The class ends the name; INSTR when absent.
  parsed.resourceClass = "INSTR";
  if (tokens.size() > 1) {
    for (const char* cls : kClasses) {
      if (EqualsNoCase(tokens.back(), cls)) {
        parsed.resourceClass = cls;
        tokens.pop_back();
        break;
      }
    }
  }

  if (parsed.interfaceType == VI_INTF_USB) {
    // USB<board>::manufacturer id::model code::serial[::interface]
    if (parsed.resourceClass != "INSTR" && parsed.resourceClass != "RAW") {
      return VI_ERROR_INV_RSRC_NAME;
    }
    if (tokens.size() != 4 && tokens.size() != 5) return VI_ERROR_INV_RSRC_NAME;
    if (!ParseId(tokens[1], &parsed.vendorId) || !ParseId(tokens[2], &parsed.productId)) {
      return VI_ERROR_INV_RSRC_NAME;
    }
    parsed.serial = std::string(tokens[3]);
    if (tokens.size() == 5 && !ParseDecimal(tokens[4], 0xFF, &parsed.usbInterface)) {
      return VI_ERROR_INV_RSRC_NAME;
    }
    parsed.canonical = CanonicalUsbName(parsed.board, parsed.vendorId, parsed.productId,
                                        parsed.serial, parsed.usbInterface,
                                        parsed.resourceClass.c_str());
  } else {
    // Other interfaces are parsed for their type, board and class only.
    parsed.canonical = std::string(prefix->text) + std::to_string(parsed.board);
    for (size_t i = 1; i < tokens.size(); ++i) {
      parsed.canonical += "::";
      parsed.canonical += tokens[i];
    }
    parsed.canonical += "::" + parsed.resourceClass;
  }
  *out = std::move(parsed);
  return VI_SUCCESS;
}

bool SameResourceName(const std::string& a, const std::string& b) { return EqualsNoCase(a, b); }

}  // namespace fg::visa

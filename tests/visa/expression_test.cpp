// VISA search expressions: matching rules and malformed expressions.
#include <gtest/gtest.h>

#include "visa/visa_expression.h"

namespace fg::visa {
namespace {

struct MatchCase {
  const char* expression;
  const char* name;
  bool matches;
};

const MatchCase kMatchCases[] = {
    // The device search's own expression: that vendor and product, any serial, interface 0.
    {"USB0::0x2E5B::0x3A01::?*::INSTR", "USB0::0x2E5B::0x3A01::SN123::INSTR", true},
    {"USB0::0x2E5B::0x3A01::?*::INSTR", "USB0::0x2E5B::0x3A02::SN123::INSTR", false},
    {"USB0::0x2E5B::0x3A01::?*::INSTR", "USB0::0x2E5C::0x3A01::SN123::INSTR", false},
    {"USB0::0x2E5B::0x3A01::?*::INSTR", "USB0::0x2E5B::0x3A01::::INSTR", true},  // ?* may be empty
    {"USB0::0x2E5B::0x3A01::?*::INSTR", "USB0::0x2E5B::0x3A01::SN::RAW", false},
    {"USB0::0x2E5B::0x3A01::?*::INSTR", "USB0::0x2E5B::0x3A01::SN::INSTR2", false},  // whole name
    {"USB0::0x2E5B::0x3A01::?*::INSTR", "XUSB0::0x2E5B::0x3A01::SN::INSTR", false},
    {"USB0::0x2E5B::0x3A01::?*::INSTR", "usb0::0x2e5b::0x3a01::sn::instr", true},  // any case
    {"USB0::0x2E5B::0x3A01::?*::INSTR", "USB0::0x2E5B::0x3A01::SN::2::INSTR", true},
    {"USB0::0x2E5B::0x3A01::?*::INSTR", "USB0::0x2E5B::0x3A010::SN::INSTR", false},
    // Every USB instrument, every instrument.
    {"USB?*INSTR", "USB0::0x0957::0x1755::MY1::INSTR", true},
    {"USB?*INSTR", "TCPIP0::10.0.0.1::INSTR", false},
    {"?*INSTR", "TCPIP0::10.0.0.1::INSTR", true},
    {"?*", "", true},
    {"?", "", false},
    // `?` is exactly one character; `*` and `+` repeat what precedes.
    {"A?C", "ABC", true},
    {"A?C", "AC", false},
    {"A?C", "ABBC", false},
    {"AB*C", "AC", true},
    {"AB*C", "ABBBC", true},
    {"AB+C", "AC", false},
    {"AB+C", "ABBC", true},
    // Lists, ranges, negation, case-insensitive.
    {"GPIB[0-9]::?*", "GPIB7::3::INSTR", true},
    {"GPIB[0-9]::?*", "GPIBX::3::INSTR", false},
    {"[^A]B", "CB", true},
    {"[^A]B", "aB", false},
    {"[a-c]+", "CAB", true},
    {"[]]", "]", true},
    {"[^0-9]*", "ABC", true},
    {"[^0-9]*", "A1C", false},
    // Groups, alternatives, escapes.
    {"(GPIB|VXI)?*INSTR", "VXI0::1::INSTR", true},
    {"(GPIB|VXI)?*INSTR", "USB0::1::INSTR", false},
    {"(AB)+", "ABAB", true},
    {"(AB)+", "ABA", false},
    {"A\\*", "A*", true},
    {"A\\*", "AA", false},
    {"A\\?", "AB", false},
    {"USB|", "", true},
};

TEST(SearchExpression, MatchesAsVisaDefines) {
  for (const MatchCase& c : kMatchCases) {
    std::unique_ptr<SearchExpression> e = SearchExpression::Compile(c.expression);
    ASSERT_NE(e, nullptr) << c.expression;
    EXPECT_EQ(e->Matches(c.name), c.matches) << c.expression << " on " << c.name;
  }
}

TEST(SearchExpression, MalformedExpressionsAreRefused) {
  for (const char* bad : {"", "*", "+ABC", "(AB", "AB)", "[AB", "[z-a]", "A\\", "(*)", "|*"}) {
    EXPECT_EQ(SearchExpression::Compile(bad), nullptr) << bad;
  }
}

// The compiler descends once per group: depth and length are bounded before that can exhaust the
// stack of the host process (the exported viFindRsrc compiles what any client passes).
TEST(SearchExpression, DeepOrLongExpressionsAreRefused) {
  const auto nested = [](size_t depth) {
    return std::string(depth, '(') + "A" + std::string(depth, ')');
  };
  EXPECT_NE(SearchExpression::Compile(nested(kMaxExpressionDepth)), nullptr);
  EXPECT_EQ(SearchExpression::Compile(nested(kMaxExpressionDepth + 1)), nullptr);
  EXPECT_EQ(SearchExpression::Compile(nested(20000)), nullptr);
  // Groups side by side are not nesting.
  std::string flat;
  for (int i = 0; i < 100; ++i) flat += "(A)";
  EXPECT_NE(SearchExpression::Compile(flat), nullptr);

  EXPECT_NE(SearchExpression::Compile(std::string(kMaxExpressionLength, '?')), nullptr);
  EXPECT_EQ(SearchExpression::Compile(std::string(kMaxExpressionLength + 1, '?')), nullptr);
}

// Nested repetitions that make backtracking matchers exponential stay fast here.
TEST(SearchExpression, PathologicalPatternOnLongName) {
  std::unique_ptr<SearchExpression> e = SearchExpression::Compile("(A*)*(A*)*(A*)*B");
  ASSERT_NE(e, nullptr);
  EXPECT_FALSE(e->Matches(std::string(255, 'A')));
  EXPECT_TRUE(e->Matches(std::string(255, 'A') + "B"));
}

}  // namespace
}  // namespace fg::visa

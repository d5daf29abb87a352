// VISA's resource search expressions: `?` any one character, `*` and `+` zero-or-more and
// one-or-more of what precedes, `[list]` and `[^list]` with ranges, `(...)` groups, `|`
// alternatives and `\` escapes. Matching is case-insensitive and covers the whole name.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace fg::visa {

// Bounds on what Compile accepts: resource names have at most 256 characters, so no useful
// expression comes near them, and the compiler descends once per group.
inline constexpr size_t kMaxExpressionLength = 1024;
inline constexpr size_t kMaxExpressionDepth = 32;

class SearchExpression {
 public:
  // Null when the expression is malformed, longer than kMaxExpressionLength or nests groups
  // deeper than kMaxExpressionDepth (the caller reports VI_ERROR_INV_EXPR).
  static std::unique_ptr<SearchExpression> Compile(const std::string& expression);
  // Runs in time linear in the name's length: no backtracking.
  bool Matches(const std::string& name) const;

  struct State;  // one automaton state (defined in the .cpp)
  ~SearchExpression();

 private:
  SearchExpression() = default;
  std::vector<State> states_;
  int start_ = 0;
};

}  // namespace fg::visa

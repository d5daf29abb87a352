// VISA's resource search expressions: `?` any one character, `*` and `+` zero-or-more and
// one-or-more of what precedes, `[list]` and `[^list]` with ranges, `(...)` groups, `|`
// alternatives and `\` escapes. Matching is case-insensitive and covers the whole name.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace fg::visa {

class SearchExpression {
 public:
  // Null when the expression is malformed (the caller reports VI_ERROR_INV_EXPR).
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

// A Thompson automaton over byte classes, simulated state-set by state-set.
#include "visa/visa_expression.h"

#include <algorithm>
#include <bitset>
#include <cctype>

namespace fg::visa {

struct SearchExpression::State {
  enum Kind { kByte, kSplit, kEpsilon, kMatch } kind = kEpsilon;
  std::bitset<256> accepts;  // kByte: the bytes this state consumes
  int out = -1;
  int out2 = -1;  // kSplit only
};

namespace {

using State = SearchExpression::State;

// A piece of automaton with the outgoing edges still to be connected.
struct Fragment {
  int start;
  std::vector<int> dangling;  // state indices; negative -(i + 1) names state i's second edge
};

class Compiler {
 public:
  Compiler(const std::string& text, std::vector<State>* states) : text_(text), states_(states) {
  }

  bool Run(int* start) {
    Fragment whole;
    if (!Alternation(&whole) || pos_ != text_.size()) return false;
    int match = Add(State::kMatch);
    Patch(whole, match);
    *start = whole.start;
    return true;
  }

 private:
  int Add(State::Kind kind) {
    states_->push_back(State{});
    states_->back().kind = kind;
    return static_cast<int>(states_->size() - 1);
  }
  State& At(int i) { return (*states_)[static_cast<size_t>(i)]; }
  void Patch(const Fragment& f, int target) {
    for (int edge : f.dangling) {
      if (edge >= 0) {
        At(edge).out = target;
      } else {
        At(-edge - 1).out2 = target;
      }
    }
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }

  bool Alternation(Fragment* out) {
    Fragment left;
    if (!Sequence(&left)) return false;
    while (!AtEnd() && Peek() == '|') {
      ++pos_;
      Fragment right;
      if (!Sequence(&right)) return false;
      int split = Add(State::kSplit);
      At(split).out = left.start;
      At(split).out2 = right.start;
      left.start = split;
      left.dangling.insert(left.dangling.end(), right.dangling.begin(), right.dangling.end());
    }
    *out = std::move(left);
    return true;
  }

  bool Sequence(Fragment* out) {
    int empty = Add(State::kEpsilon);
    Fragment seq{empty, {empty}};
    while (!AtEnd() && Peek() != '|' && Peek() != ')') {
      Fragment term;
      if (!Term(&term)) return false;
      Patch(seq, term.start);
      seq.dangling = std::move(term.dangling);
    }
    *out = std::move(seq);
    return true;
  }

  bool Term(Fragment* out) {
    if (Peek() == '*' || Peek() == '+') return false;  // nothing to repeat
    Fragment atom;
    if (!Atom(&atom)) return false;
    while (!AtEnd() && (Peek() == '*' || Peek() == '+')) {
      bool oneOrMore = Peek() == '+';
      ++pos_;
      int split = Add(State::kSplit);
      At(split).out = atom.start;
      Patch(atom, split);
      atom = Fragment{oneOrMore ? atom.start : split, {-split - 1}};
    }
    *out = std::move(atom);
    return true;
  }

  bool Atom(Fragment* out) {
    char c = Peek();
    ++pos_;
    if (c == '(') {
      // Each group is one level of recursion: bounded, so no expression exhausts the stack.
      if (++depth_ > kMaxExpressionDepth) return false;
      Fragment inner;
      if (!Alternation(&inner) || AtEnd() || Peek() != ')') return false;
      ++pos_;
      --depth_;
      *out = std::move(inner);
      return true;
    }
    if (c == ')') return false;
    int s = Add(State::kByte);
    std::bitset<256>& set = At(s).accepts;
    if (c == '?') {
      set.set();
    } else if (c == '[') {
      if (!Class(&set)) return false;
    } else {
      if (c == '\\') {
        if (AtEnd()) return false;
        c = Peek();
        ++pos_;
      }
      AddNoCase(&set, static_cast<unsigned char>(c));
    }
    *out = Fragment{s, {s}};
    return true;
  }

  // After '[': [^]? items ']', an item being a character or a range a-z; a ']' right after
  // the opening is literal.
  bool Class(std::bitset<256>* set) {
    bool negate = !AtEnd() && Peek() == '^';
    if (negate) ++pos_;
    std::bitset<256> members;
    bool first = true;
    for (;;) {
      if (AtEnd()) return false;
      char c = Peek();
      ++pos_;
      if (c == ']' && !first) break;
      first = false;
      if (c == '\\') {
        if (AtEnd()) return false;
        c = Peek();
        ++pos_;
      }
      auto low = static_cast<unsigned char>(c);
      auto high = low;
      if (pos_ + 1 < text_.size() && Peek() == '-' && text_[pos_ + 1] != ']') {
        high = static_cast<unsigned char>(text_[pos_ + 1]);
        pos_ += 2;
        if (high < low) return false;
      }
      for (unsigned b = low; b <= high; ++b) AddNoCase(&members, static_cast<unsigned char>(b));
    }
    *set = negate ? ~members : members;
    return true;
  }

  static void AddNoCase(std::bitset<256>* set, unsigned char c) {
    set->set(c);
    set->set(static_cast<unsigned char>(std::tolower(c)));
    set->set(static_cast<unsigned char>(std::toupper(c)));
  }

  const std::string& text_;
  std::vector<State>* states_;
  size_t pos_ = 0;
  size_t depth_ = 0;  // groups open at pos_
};

void AddWithClosure(const std::vector<State>& states, int s, std::vector<char>* in,
                    std::vector<int>* list) {
  std::vector<int> stack{s};
  while (!stack.empty()) {
    int i = stack.back();
    stack.pop_back();
    if (i < 0 || (*in)[static_cast<size_t>(i)]) continue;
    (*in)[static_cast<size_t>(i)] = 1;
    const State& st = states[static_cast<size_t>(i)];
    if (st.kind == State::kEpsilon) {
      stack.push_back(st.out);
    } else if (st.kind == State::kSplit) {
      stack.push_back(st.out2);
      stack.push_back(st.out);
    } else {
      list->push_back(i);
    }
  }
}

}  // namespace

SearchExpression::~SearchExpression() = default;

std::unique_ptr<SearchExpression> SearchExpression::Compile(const std::string& expression) {
  if (expression.empty() || expression.size() > kMaxExpressionLength) return nullptr;
  std::unique_ptr<SearchExpression> compiled(new SearchExpression);
  Compiler compiler(expression, &compiled->states_);
  if (!compiler.Run(&compiled->start_)) return nullptr;
  return compiled;
}

bool SearchExpression::Matches(const std::string& name) const {
  std::vector<char> in(states_.size(), 0);
  std::vector<int> current;
  AddWithClosure(states_, start_, &in, &current);
  for (char ch : name) {
    auto c = static_cast<unsigned char>(ch);
    std::vector<int> next;
    std::fill(in.begin(), in.end(), 0);
    for (int s : current) {
      const State& st = states_[static_cast<size_t>(s)];
      if (st.kind == State::kByte && st.accepts.test(c)) AddWithClosure(states_, st.out, &in, &next);
    }
    if (next.empty()) return false;
    current = std::move(next);
  }
  for (int s : current) {
    if (states_[static_cast<size_t>(s)].kind == State::kMatch) return true;
  }
  return false;
}

}  // namespace fg::visa

// Arbitrary bytes as a VISA search expression, then as a resource name matched against it. The
// compiler must never exhaust the stack or accept more than its bounds; a compiled expression
// matches in bounded time, and its answer does not depend on the name's letter case.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <string>

#include "visa/visa_expression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string expression = in.ConsumeRandomLengthString(4096);
  const std::string name = in.ConsumeRandomLengthString(512);
  auto compiled = fg::visa::SearchExpression::Compile(expression);
  if (!compiled) return 0;
  if (expression.size() > fg::visa::kMaxExpressionLength) __builtin_trap();
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (compiled->Matches(name) != compiled->Matches(upper)) __builtin_trap();
  return 0;
}

#include "link/instrument_identity.h"

#include <cstring>

#include "catalog/model_catalog.h"

namespace fg {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Copies [begin, end) without the blanks around it into a field of `capacity`, bounded.
void CopyField(const char* begin, const char* end, char* field, size_t capacity) {
  while (begin < end && IsBlank(*begin)) ++begin;
  while (end > begin && IsBlank(end[-1])) --end;
  size_t n = 0;
  for (; begin < end && n + 1 < capacity; ++begin, ++n) {
    const auto c = static_cast<unsigned char>(*begin);
    field[n] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  field[n] = '\0';
}

bool EqualIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return *a == *b;
}

}  // namespace

void ParseIdentityReply(const char* reply, size_t length, InstrumentIdentity* out) {
  *out = InstrumentIdentity{};
  if (reply == nullptr) return;
  // A terminator inside the reply ends it, as it ends the text the programmer compares.
  if (const void* nul = std::memchr(reply, '\0', length))
    length = static_cast<size_t>(static_cast<const char*>(nul) - reply);
  const size_t prefix = std::strlen(kWriterMaker);
  out->writer = length >= prefix && std::memcmp(reply, kWriterMaker, prefix) == 0;

  char* const targets[] = {out->maker, out->model, out->serial, out->versions};
  const size_t capacities[] = {sizeof out->maker, sizeof out->model, sizeof out->serial,
                               sizeof out->versions};
  const char* end = reply + length;
  const char* start = reply;
  for (int32_t field = 0; field < 4 && start <= end; ++field) {
    const char* comma = static_cast<const char*>(std::memchr(start, ',', static_cast<size_t>(end - start)));
    const char* stop = comma != nullptr ? comma : end;
    CopyField(start, stop, targets[field], capacities[field]);
    out->fields = field + 1;
    if (comma == nullptr) break;
    start = comma + 1;
  }
}

ModelMatch MatchModel(const InstrumentIdentity& identity, const char* fileModel) {
  if (identity.model[0] == '\0') return ModelMatch::kNone;
  if (fileModel != nullptr && EqualIgnoringCase(identity.model, fileModel)) return ModelMatch::kSame;
  for (int32_t i = 0; i < kModelCatalog.modelCount; ++i) {
    if (EqualIgnoringCase(identity.model, kModelCatalog.models[i].name)) return ModelMatch::kOther;
  }
  return ModelMatch::kNone;
}

}  // namespace fg

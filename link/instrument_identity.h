// What an instrument says about itself in its reply to "*IDN?". Both firmwares answer in the
// field order of IEEE 488.2: maker (the writer firmware puts "WRITER" there), model, serial
// number, versions. The model field is the only way to tell a WX2050 in writer mode from a
// WX2040: both writers enumerate under the same USB ids.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fg {

inline constexpr size_t kIdentityFieldSize = 64;    // maker and model: 63 characters and a NUL
inline constexpr size_t kIdentitySerialSize = 256;  // as long as a resource name may hold
// The version run: six sub-fields of at most 16 characters and their hyphens fit.
inline constexpr size_t kIdentityVersionsSize = 128;
inline constexpr const char* kIdentityQuery = "*IDN?\n";
inline constexpr const char* kWriterMaker = "WRITER";

struct InstrumentIdentity {
  bool writer;                     // the reply begins with "WRITER": the writer firmware
  char maker[kIdentityFieldSize];  // first field, blanks around it removed
  char model[kIdentityFieldSize];  // second field; empty when the reply names none
  char serial[kIdentitySerialSize];
  // Fourth field: the installed versions as the reply carries them ("2.00-01-01-01-01-0100");
  // empty when it has none.
  char versions[kIdentityVersionsSize];
  int32_t fields;                  // comma-separated fields seen, at most 4
};

// Parses `length` bytes of a reply (it need not be terminated). Fields are cut at their
// capacity; bytes outside printable ASCII become '?', so a field can be logged as it is. Line
// ends and blanks around a field are dropped. Never fails: a reply without commas gives one
// field, the maker.
void ParseIdentityReply(const char* reply, size_t length, InstrumentIdentity* out);

// How the model an instrument names relates to the model of a firmware file.
enum class ModelMatch : int32_t {
  kSame = 0,   // it names the file's model
  kOther = 1,  // it names another catalogue model: nothing of the file may reach it
  kNone = 2,   // it names no model, or one the catalogue does not know
};
// Model names compare without regard to case, as the header parser upper-cases the file's.
ModelMatch MatchModel(const InstrumentIdentity& identity, const char* fileModel);

}  // namespace fg

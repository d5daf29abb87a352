// The writing side of the firmware formats: encodes image records in the layout of
// firmware/image_record.h and the text header that ParseFirmwareHeader reads. Used by
// `flintgate-sim make-firmware` and by tests that build their own packages.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fg {

// Every field of one record except its body. The trailer goes at T: storedLength when it is not
// 0, else imageLength.
struct ImageRecordFields {
  uint32_t leadWord = 0;
  uint32_t imageLength = 0;
  uint32_t storedLength = 0;
  uint8_t version[4] = {};  // four raw bytes, not terminated
  uint32_t tag = 0;         // bytes 16..19, stored big-endian
  uint32_t trailerWord = 0;
  uint8_t blockId = 0;
  uint8_t trailerByte = 0;
};

// Results of the encoders.
inline constexpr int32_t kRecordWriteOk = 0;
inline constexpr int32_t kRecordTrailerInsideHeader = 1;  // T below 20: not expressible as header + body
inline constexpr int32_t kRecordBodySizeMismatch = 2;     // the body is not T - 20 bytes
inline constexpr int32_t kHeaderValueUnwritable = 3;      // a header key or value holds '=' or a line feed

// T, the trailer offset the fields describe.
constexpr uint32_t RecordTrailerOffset(const ImageRecordFields& fields) {
  return fields.storedLength != 0 ? fields.storedLength : fields.imageLength;
}

// Appends one record (T + 6 bytes) to *out: the header, bodySize body bytes, the trailer.
// The body must be exactly T - 20 bytes; on any error *out is left unchanged.
int32_t EncodeImageRecord(const ImageRecordFields& fields, const uint8_t* body, size_t bodySize,
                          std::vector<uint8_t>* out);

// Fields for the common shape: the trailer right after a body of bodySize bytes
// (imageLength = 20 + bodySize, storedLength 0), the given block id, the other words 0.
ImageRecordFields PlainRecordFields(uint8_t blockId, size_t bodySize);

// Stores up to four characters of text as the version bytes, padding with NUL bytes.
void SetRecordVersion(ImageRecordFields* fields, std::string_view text);

// Four characters as a tag word (first character in the most significant byte), NUL padded.
uint32_t TagFromText(std::string_view text);

// Appends "# key = value\n". The parser strips blanks around both, so they are written for
// readability; a value that must keep its exact bytes (the description) uses AppendRawHeaderLine.
int32_t AppendHeaderLine(std::string* out, std::string_view key, std::string_view value);
// Appends "# key=value\n": the value's first byte follows the "=" directly.
int32_t AppendRawHeaderLine(std::string* out, std::string_view key, std::string_view value);

// The usual header of a firmware file. Empty fields are left out; "FileStart" ends it.
struct FirmwareHeaderText {
  std::string modelName;
  std::string imageRev;
  std::string utilityRev = "2.04";
  std::string description;
  std::string revsNotSupport;
};

// Appends the header lines and the closing "# FileStart" line to *out. On error *out is unchanged.
int32_t FormatFirmwareHeader(const FirmwareHeaderText& header, std::string* out);

}  // namespace fg

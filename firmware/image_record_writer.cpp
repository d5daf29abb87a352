#include "firmware/image_record_writer.h"

#include <cstring>

#include "firmware/image_record.h"
#include "util/endian.h"

namespace fg {

int32_t EncodeImageRecord(const ImageRecordFields& fields, const uint8_t* body, size_t bodySize,
                          std::vector<uint8_t>* out) {
  const uint32_t trailerOffset = RecordTrailerOffset(fields);
  if (trailerOffset < kRecordHeaderSize) return kRecordTrailerInsideHeader;
  if (bodySize != trailerOffset - kRecordHeaderSize) return kRecordBodySizeMismatch;

  const size_t start = out->size();
  out->resize(start + trailerOffset + kRecordTrailerSize);
  uint8_t* record = out->data() + start;
  StoreBe32(record + kRecordLeadWordOffset, fields.leadWord);
  StoreBe32(record + kRecordImageLengthOffset, fields.imageLength);
  StoreBe32(record + kRecordStoredLengthOffset, fields.storedLength);
  std::memcpy(record + kRecordVersionOffset, fields.version, sizeof fields.version);
  StoreBe32(record + kRecordTagOffset, fields.tag);
  if (bodySize != 0) std::memcpy(record + kRecordHeaderSize, body, bodySize);
  uint8_t* trailer = record + trailerOffset;
  StoreBe32(trailer, fields.trailerWord);
  trailer[kRecordTrailerBlockIdOffset] = fields.blockId;
  trailer[kRecordTrailerByteOffset] = fields.trailerByte;
  return kRecordWriteOk;
}

ImageRecordFields PlainRecordFields(uint8_t blockId, size_t bodySize) {
  ImageRecordFields fields;
  fields.imageLength = static_cast<uint32_t>(kRecordHeaderSize + bodySize);
  fields.blockId = blockId;
  return fields;
}

void SetRecordVersion(ImageRecordFields* fields, std::string_view text) {
  for (size_t i = 0; i < sizeof fields->version; ++i) {
    fields->version[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
  }
}

uint32_t TagFromText(std::string_view text) {
  uint8_t bytes[4] = {};
  for (size_t i = 0; i < sizeof bytes && i < text.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(text[i]);
  }
  return LoadBe32(bytes);
}

namespace {

// The parser ends a value at '=' and a line at a line feed, so neither can be written.
bool Writable(std::string_view text) {
  return text.find('=') == std::string_view::npos && text.find('\n') == std::string_view::npos;
}

int32_t AppendLine(std::string* out, std::string_view key, std::string_view separator,
                   std::string_view value) {
  if (!Writable(key) || !Writable(value)) return kHeaderValueUnwritable;
  out->append("# ").append(key).append(separator).append(value).append("\n");
  return kRecordWriteOk;
}

}  // namespace

int32_t AppendHeaderLine(std::string* out, std::string_view key, std::string_view value) {
  return AppendLine(out, key, " = ", value);
}

int32_t AppendRawHeaderLine(std::string* out, std::string_view key, std::string_view value) {
  return AppendLine(out, key, "=", value);
}

int32_t FormatFirmwareHeader(const FirmwareHeaderText& header, std::string* out) {
  std::string text;
  struct Line {
    const char* key;
    const std::string* value;
    bool raw;
  };
  const Line lines[] = {
      {"ModelName", &header.modelName, false},
      {"ImageRev", &header.imageRev, false},
      {"RevsNotSupport", &header.revsNotSupport, false},
      {"UtilityRev", &header.utilityRev, false},
      {"UpdatedDescription", &header.description, true},
  };
  for (const Line& line : lines) {
    if (line.value->empty()) continue;
    const int32_t rc = line.raw ? AppendRawHeaderLine(&text, line.key, *line.value)
                                : AppendHeaderLine(&text, line.key, *line.value);
    if (rc != kRecordWriteOk) return rc;
  }
  text.append("# FileStart\n");
  out->append(text);
  return kRecordWriteOk;
}

}  // namespace fg

// The installed versions that an instrument's identification reply carries: the fourth
// comma-separated field is a run of hyphen-separated version sub-fields, numbered from 0.
#pragma once
#include <cstddef>

namespace fg {

inline constexpr size_t kVersionTextSize = 16;  // destination size of every extractor

// Writes the installed version of one region into `destination` (kVersionTextSize bytes); false
// when the reply does not carry it.
using VersionExtractor = bool (*)(char* destination, const char* reply);

// Copies `count` characters of sub-field `subField` (fewer when the reply ends first, so a short
// sub-field brings the following hyphen along). A reply without three commas, without `subField`
// hyphens after the third comma, yields the empty text and false; so does an empty sub-field
// (one that starts with a hyphen, a comma or the end of the reply, whose text is still copied):
// the version could not be read, which must never pass for one older than every other.
bool ExtractVersionField(char* destination, const char* reply, int subField, size_t count);

bool ExtractVersionField0(char* destination, const char* reply);  // main firmware, 4 characters
bool ExtractVersionField2(char* destination, const char* reply);  // 2 characters
bool ExtractVersionField3(char* destination, const char* reply);  // 2 characters
bool ExtractVersionField4(char* destination, const char* reply);  // 2 characters
bool ExtractVersionField5(char* destination, const char* reply);  // 4 characters

// Orders version texts byte by byte as unsigned characters: text order, not numeric order
// ("10.0" < "2.00"). Negative, 0 or positive.
int CompareVersionText(const char* a, const char* b);

}  // namespace fg

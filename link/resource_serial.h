// The serial number field of a USB resource name: "USB0::vid::pid::SERIAL[::...]".
#pragma once
#include <cstddef>

namespace fg {

// Copies the field after the third "::" up to the next ':' or the name's end into `out`
// (`capacity` bytes, terminated). False, with `out` emptied, when the name does not begin with
// "USB", has fewer than three separators, has a ':' as its last character, or the field does not
// fit: a serial cut short would name another instrument. Never reads past the name's end.
bool ResourceSerialField(const char* resourceName, char* out, size_t capacity);

}  // namespace fg

// make_oem_record OUTPUT: writes the built-in OEM record (see oem_record_generator.h).
// Rebuild the checked-in file with:  cmake --build <build> --target regenerate_oem_record
#include <cstdio>

#include "resources/oem/oem_record_generator.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_oem_record OUTPUT\n");
    return 2;
  }
  static uint8_t record[fg::kOemRecordSize];
  fg::oem::BuildOemRecord(record);
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  bool ok = std::fwrite(record, 1, sizeof record, out) == sizeof record;
  ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "make_oem_record: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

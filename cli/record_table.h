// The update records of a record file as a table for people: one row per record, with the
// columns that tell runs apart, the programmed images and the reason last.
#pragma once
#include <nlohmann/json.hpp>
#include <string>

namespace fg::cli {

// TIME, SERIAL, MODEL, RESULT, ERROR (hexadecimal), SECONDS, PROGRAMMED (the partitions),
// REASON; each column as wide as its longest cell. A field a record lacks shows as "-".
std::string RecordTable(const nlohmann::ordered_json& records);

}  // namespace fg::cli

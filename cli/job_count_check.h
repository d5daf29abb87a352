// The check of --jobs, shared by update and station.
#pragma once
#include <CLI/CLI.hpp>

namespace fg::cli {

// A whole number of 1 or more. CLI11's own range check would print its bounds as floating-point
// numbers ("0.000000 to 1797693...").
CLI::Validator JobCountCheck();

}  // namespace fg::cli

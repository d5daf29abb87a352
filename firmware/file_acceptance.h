// Whether a parsed firmware header may be installed by this tool.
#pragma once
#include <cstdint>
#include <string>

#include "catalog/model_catalog.h"
#include "firmware/firmware_header.h"

namespace fg {

inline constexpr int32_t kErrModelNotInCatalog = 0x15;
inline constexpr int32_t kErrForeignRevisionChar = 0x20;
inline constexpr int32_t kErrNeedsNewerTool = 0x21;

// The tool's own version, against which UtilityRev is compared.
inline constexpr int kToolVersionMajor = 2;
inline constexpr int kToolVersionMinor = 4;

// The only characters a revision text (ImageRev, UtilityRev) may hold.
inline constexpr const char* kRevisionCharacters = "0123456789.ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Catalogue match, revision characters, tool version, in that order. Returns 0 with *matched set
// to the first equal catalogue row, or 0x15, 0x20 or 0x21. *matched is the matched row (or null
// for 0x15) in every case, so the caller can tell which model a rejected file named.
int32_t CheckFirmwareAcceptance(const FirmwareHeader* header, const ModelInfo** matched);

// Whether a file that requires tool version `utilityRev` needs a newer tool than this one.
//
// The value of a number is that of its leading decimal digits (0 when there are none). A text
// without "." has major number 0. "MAJOR.MINOR" is newer when MAJOR > 2, or MAJOR = 2 and
// MINOR > 4 ("2.04", "2.4", "2.00B" pass; "2.05", "2.10", "3.0" do not). A text with more than
// one "." is read as a dotted version and compared number by number with 2.4.0...: "2.04.0" and
// "1.99.9" pass, "2.04.1" and "2.05.1" need a newer tool, so a third number can never make a
// file for a newer tool look like one for this tool.
bool NeedsNewerTool(const char* utilityRev);

// The line a rejection adds to "The firmware revision file is corrupted." and its number, which
// is the same for every rejection: what is wrong with this file (which field is too long, which
// model it names, which character, which tool version it needs). Header texts are escaped. Empty
// for 0 and numbers of no rejection.
std::string FileRejectionDetail(int32_t error, const FirmwareHeader& header);

// What a description of the file says beside its ModelName: "" for a catalogue model,
// "(none given)", "(not in the catalogue)", or, when the header was refused before the catalogue
// was looked at (a parse error), "(not checked: the header was refused first)".
const char* ModelNote(int32_t error, const ModelInfo* model, const char* modelName);

}  // namespace fg

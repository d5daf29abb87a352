// Dialog template 102 as Windows reads it: the in-memory DLGTEMPLATE that
// DialogBoxIndirectParam builds the window from, made from the template table
// (app/dialog/dialog_template.h), so that the two toolkits share one list of controls.
#pragma once
#include <cstdint>
#include <vector>

#include "app/dialog/dialog_template.h"

namespace fg::app {

// The window's styles, the control classes and styles of each row, the caption, the font (point
// size and face) and the rectangles in dialog units. The words are DWORD-aligned as the format
// wants them; pass data() to DialogBoxIndirectParam.
std::vector<uint16_t> BuildWin32DialogTemplate(const DialogTemplate& dialog);

}  // namespace fg::app

// Dialog template 102: the main window's controls, their ids, texts, styles and rectangles in
// dialog units, and the fixed base units that turn dialog units into pixels.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fg::app {

// Control ids of the main dialog.
enum ControlId : int32_t {
  IDC_HELP_BUTTON = 1000,
  IDC_COPYRIGHT = 1001,
  IDC_SEPARATOR = 1002,
  IDC_CONNECTION_GROUP = 1003,
  IDC_METHOD = 1006,
  IDC_FILE_GROUP = 1007,
  IDC_FILE = 1008,
  IDC_CHOOSE_FILE = 1009,
  IDC_INFO_GROUP = 1010,
  IDC_MODEL = 1011,
  IDC_REVISION = 1012,
  IDC_DESCRIPTION = 1013,
  IDC_DEVICE = 1014,
  IDC_UPDATE_GROUP = 1015,
  IDC_PROGRESS = 1017,
  IDC_UPDATE = 1018,
  IDC_MORE_INFO = 1019,
  IDC_LOG = 1020,
  IDC_DEVICE_LIST = 1021,
  IDC_STATIC = -1,  // labels
};

inline constexpr int32_t kDialogTemplateId = 102;

enum class ControlKind : uint8_t {
  PushButton,
  Edit,           // single line
  MultiLineEdit,
  Label,
  Frame,          // black frame, used as a separator line
  GroupBox,
  ProgressBar,
  DropDownList,
};

// Style bits of a control.
enum ControlStyle : uint32_t {
  kStyleNone = 0,
  kReadOnly = 1u << 0,
  kCentered = 1u << 1,
  kRightAligned = 1u << 2,
  kNoBorder = 1u << 3,
  kVerticalScrollBar = 1u << 4,
  kAutoVerticalScroll = 1u << 5,
  kSorted = 1u << 6,
  kDisabled = 1u << 7,
  kTabStop = 1u << 8,
  kSmooth = 1u << 9,
};

struct DialogRect {
  int32_t x, y, width, height;
};

struct ControlTemplate {
  int32_t id;
  ControlKind kind;
  const char* text;
  DialogRect rect;
  uint32_t style;
};

struct DialogTemplate {
  int32_t id;
  const char* caption;
  const char* fontFamily;
  int32_t fontPointSize;
  int32_t width, height;  // dialog units
  const ControlTemplate* controls;
  size_t controlCount;
};

extern const DialogTemplate kMainDialogTemplate;

// Fixed dialog base units: one horizontal unit is 7/4 pixel and one vertical unit 2 pixels
// (a 7 x 16 pixel average character of Arial 10 pt at 96 dpi). With them the log's 70 units are
// the 140 pixels between the collapsed and the expanded window heights.
inline constexpr int32_t kBaseUnitX = 7;   // pixels per 4 horizontal units
inline constexpr int32_t kBaseUnitY = 16;  // pixels per 8 vertical units

// Rounds like the platform's dialog mapping: (value * base + divisor / 2) / divisor.
constexpr int32_t HorizontalUnitsToPixels(int32_t units) { return (units * kBaseUnitX + 2) / 4; }
constexpr int32_t VerticalUnitsToPixels(int32_t units) { return (units * kBaseUnitY + 4) / 8; }

struct PixelRect {
  int32_t x, y, width, height;
};

constexpr PixelRect DialogRectToPixels(const DialogRect& r) {
  // Right and bottom edges are mapped too, so that adjacent controls stay adjacent.
  const int32_t left = HorizontalUnitsToPixels(r.x);
  const int32_t top = VerticalUnitsToPixels(r.y);
  return {left, top, HorizontalUnitsToPixels(r.x + r.width) - left,
          VerticalUnitsToPixels(r.y + r.height) - top};
}

// The template row of a control id, or null (labels share id -1 and are not found).
const ControlTemplate* FindControlTemplate(int32_t id);

}  // namespace fg::app

#include "app/win32/dialog_template_win32.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

namespace fg::app {
namespace {

// Predefined control classes by their atoms (the DLGITEMTEMPLATE class ordinals).
constexpr uint16_t kButtonClass = 0x0080;
constexpr uint16_t kEditClass = 0x0081;
constexpr uint16_t kStaticClass = 0x0082;
constexpr uint16_t kComboBoxClass = 0x0085;

// The window: a pop-up with caption, system menu and minimise box, a modal frame, and the font
// of the template.
constexpr DWORD kDialogStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT;

class TemplateWriter {
 public:
  void Word(uint16_t word) { words_.push_back(word); }
  void Dword(uint32_t value) {
    Word(static_cast<uint16_t>(value & 0xFFFF));
    Word(static_cast<uint16_t>(value >> 16));
  }
  void Short(int32_t value) { Word(static_cast<uint16_t>(static_cast<int16_t>(value))); }
  // A text as the template stores it: UTF-16, terminated. The template's texts are ASCII.
  void Text(const char* text) {
    for (const char* c = text; c != nullptr && *c != '\0'; ++c) {
      Word(static_cast<uint16_t>(static_cast<unsigned char>(*c)));
    }
    Word(0);
  }
  void AlignToDword() {
    if (words_.size() % 2 != 0) Word(0);
  }
  std::vector<uint16_t> Take() { return std::move(words_); }

 private:
  std::vector<uint16_t> words_;
};

DWORD EditAlignment(uint32_t style) {
  if (style & kCentered) return ES_CENTER;
  if (style & kRightAligned) return ES_RIGHT;
  return ES_LEFT;
}

// The class (an atom, or a name) and the styles of a row.
struct Win32Control {
  uint16_t atom;          // 0: the class is `className`
  const char* className;
  DWORD style;
};

Win32Control ControlOf(const ControlTemplate& row) {
  const uint32_t s = row.style;
  const DWORD border = (s & kNoBorder) ? 0 : WS_BORDER;
  const DWORD readOnly = (s & kReadOnly) ? ES_READONLY : 0;
  const DWORD vscroll = (s & kVerticalScrollBar) ? WS_VSCROLL : 0;
  switch (row.kind) {
    case ControlKind::PushButton:
      return {kButtonClass, nullptr, BS_PUSHBUTTON};
    case ControlKind::Edit:
      return {kEditClass, nullptr, ES_AUTOHSCROLL | EditAlignment(s) | readOnly | border};
    case ControlKind::MultiLineEdit:
      return {kEditClass, nullptr,
              ES_MULTILINE | readOnly | vscroll | border |
                  ((s & kAutoVerticalScroll) ? ES_AUTOVSCROLL : 0)};
    case ControlKind::Label:
      return {kStaticClass, nullptr, static_cast<DWORD>((s & kRightAligned) ? SS_RIGHT : SS_LEFT)};
    case ControlKind::Frame:
      return {kStaticClass, nullptr, SS_BLACKFRAME};
    case ControlKind::GroupBox:
      return {kButtonClass, nullptr, BS_GROUPBOX};
    case ControlKind::ProgressBar:
      return {0, PROGRESS_CLASSA, static_cast<DWORD>(((s & kSmooth) ? PBS_SMOOTH : 0) | WS_BORDER)};
    case ControlKind::DropDownList:
      // The model keeps the entries in its own order, so the control does not sort them again.
      return {kComboBoxClass, nullptr, CBS_DROPDOWNLIST | vscroll};
  }
  return {kStaticClass, nullptr, 0};
}

}  // namespace

std::vector<uint16_t> BuildWin32DialogTemplate(const DialogTemplate& dialog) {
  TemplateWriter t;
  t.Dword(kDialogStyle);
  t.Dword(0);  // extended style
  t.Word(static_cast<uint16_t>(dialog.controlCount));
  t.Short(0);
  t.Short(0);
  t.Short(dialog.width);
  t.Short(dialog.height);
  t.Word(0);  // no menu
  t.Word(0);  // the predefined dialog class
  t.Text(dialog.caption);
  t.Word(static_cast<uint16_t>(dialog.fontPointSize));
  t.Text(dialog.fontFamily);
  for (size_t i = 0; i < dialog.controlCount; ++i) {
    const ControlTemplate& row = dialog.controls[i];
    const Win32Control control = ControlOf(row);
    DWORD style = WS_CHILD | WS_VISIBLE | control.style;
    if (row.style & kTabStop) style |= WS_TABSTOP;
    if (row.style & kDisabled) style |= WS_DISABLED;
    t.AlignToDword();
    t.Dword(style);
    t.Dword(0);
    t.Short(row.rect.x);
    t.Short(row.rect.y);
    t.Short(row.rect.width);
    t.Short(row.rect.height);
    t.Word(static_cast<uint16_t>(row.id));  // labels' -1 is 0xFFFF
    if (control.atom != 0) {
      t.Word(0xFFFF);
      t.Word(control.atom);
    } else {
      t.Text(control.className);
    }
    t.Text(row.text);
    t.Word(0);  // no creation data
  }
  return t.Take();
}

}  // namespace fg::app

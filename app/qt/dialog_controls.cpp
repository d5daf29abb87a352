#include "app/qt/dialog_controls.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "app/qt/device_combo.h"

namespace fg::app {
namespace {

constexpr int32_t kClosedDropDownHeightUnits = 12;  // same as a single-line field
constexpr int32_t kDropDownItemHeightUnits = 8;

Qt::Alignment HorizontalAlignment(uint32_t style) {
  if (style & kCentered) return Qt::AlignHCenter;
  if (style & kRightAligned) return Qt::AlignRight;
  return Qt::AlignLeft;
}

// Read-only fields are drawn on the window colour, as the platform draws them, so that they read
// as information rather than input.
void UseWindowBackground(QWidget* w) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Window));
  w->setPalette(pal);
}

QWidget* CreateWidget(const ControlTemplate& row, QWidget* parent) {
  const QString text = QString::fromLatin1(row.text);
  switch (row.kind) {
    case ControlKind::PushButton: {
      auto* b = new QPushButton(text, parent);
      b->setAutoDefault(false);
      return b;
    }
    case ControlKind::Edit: {
      auto* e = new QLineEdit(parent);
      e->setReadOnly(row.style & kReadOnly);
      e->setFrame(!(row.style & kNoBorder));
      e->setAlignment(HorizontalAlignment(row.style) | Qt::AlignVCenter);
      if (row.style & kNoBorder) UseWindowBackground(e);
      return e;
    }
    case ControlKind::MultiLineEdit: {
      auto* e = new QPlainTextEdit(parent);
      e->setReadOnly(row.style & kReadOnly);
      e->setVerticalScrollBarPolicy((row.style & kVerticalScrollBar) ? Qt::ScrollBarAlwaysOn
                                                                     : Qt::ScrollBarAsNeeded);
      e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      e->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      e->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
      return e;
    }
    case ControlKind::Label: {
      auto* l = new QLabel(text, parent);
      l->setAlignment(HorizontalAlignment(row.style) | Qt::AlignVCenter);
      return l;
    }
    case ControlKind::Frame: {
      auto* f = new QFrame(parent);
      f->setFrameStyle(QFrame::Box | QFrame::Plain);
      f->setLineWidth(1);
      QPalette pal = f->palette();
      pal.setColor(QPalette::WindowText, Qt::black);
      f->setPalette(pal);
      return f;
    }
    case ControlKind::GroupBox:
      return new QGroupBox(text, parent);
    case ControlKind::ProgressBar: {
      auto* p = new QProgressBar(parent);
      p->setTextVisible(false);
      p->setRange(0, 100);
      p->setValue(0);
      // An empty bar on the window colour, so that it does not pass for a text field.
      UseWindowBackground(p);
      return p;
    }
    case ControlKind::DropDownList: {
      auto* c = new DeviceCombo(parent);
      c->setMaxVisibleItems((row.rect.height - kClosedDropDownHeightUnits) /
                            kDropDownItemHeightUnits);
      return c;
    }
  }
  return nullptr;
}

}  // namespace

QWidget* CreateTemplateControl(const ControlTemplate& row, QWidget* parent) {
  QWidget* w = CreateWidget(row, parent);
  if (w == nullptr) return nullptr;
  PixelRect r = DialogRectToPixels(row.rect);
  if (row.kind == ControlKind::DropDownList) {
    r.height = VerticalUnitsToPixels(kClosedDropDownHeightUnits);
  }
  w->setGeometry(r.x, r.y, r.width, r.height);
  // Only the push buttons (and the device list, when shown) are reached with Tab; the fields
  // take focus on a click so that their text can be selected and copied.
  if (row.style & kTabStop) {
    w->setFocusPolicy(Qt::StrongFocus);
  } else if (row.kind == ControlKind::DropDownList) {
    w->setFocusPolicy(Qt::StrongFocus);
  } else if (row.kind == ControlKind::Edit || row.kind == ControlKind::MultiLineEdit) {
    w->setFocusPolicy(Qt::ClickFocus);
  } else {
    w->setFocusPolicy(Qt::NoFocus);
  }
  if (row.style & kDisabled) w->setEnabled(false);
  if (row.id != IDC_STATIC) w->setObjectName(QStringLiteral("control%1").arg(row.id));
  return w;
}

}  // namespace fg::app

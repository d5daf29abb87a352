#include "app/device_combo.h"

#include <QStyledItemDelegate>
#include <QStylePainter>
#include <algorithm>
#include <cctype>
#include <string>

#include "util/bounded_text.h"

namespace fg::app {
namespace {

DeviceCombo* Combo(void* owner) { return static_cast<DeviceCombo*>(owner); }

void ResetContent(void* owner) { Combo(owner)->ResetEntries(); }

void AddString(void* owner, const char* name) {
  Combo(owner)->AddSorted(QString::fromLatin1(name));
}

int32_t GetCount(void* owner) { return Combo(owner)->count(); }

void SetCurSel(void* owner, int32_t index) { Combo(owner)->setCurrentIndex(index); }

void GetText(void* owner, char* out, size_t capacity) {
  const QByteArray text = Combo(owner)->currentText().toLatin1();
  CopyBounded(out, capacity, text.constData());
}

void SetEntryInfo(void* owner, const FoundInstrument* found) { Combo(owner)->SetInfo(*found); }

bool GetEntryInfo(void* owner, const char* name, FoundInstrument* out) {
  const FoundInstrument* info = Combo(owner)->InfoOf(QString::fromLatin1(name));
  if (info != nullptr) *out = *info;
  return info != nullptr;
}

// The dropped-down entries show their labels too.
class LabelledEntries : public QStyledItemDelegate {
 public:
  explicit LabelledEntries(DeviceCombo* combo) : QStyledItemDelegate(combo), combo_(combo) {}

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = combo_->DisplayText(option->text);
  }

 private:
  DeviceCombo* combo_;
};

}  // namespace

DeviceCombo::DeviceCombo(QWidget* parent) : QComboBox(parent) {
  ops_ = {this, ResetContent, AddString, GetCount, SetCurSel, GetText, SetEntryInfo, GetEntryInfo};
  setInsertPolicy(QComboBox::NoInsert);
  setItemDelegate(new LabelledEntries(this));
}

void DeviceCombo::ResetEntries() {
  infos_.clear();
  clear();
}

const FoundInstrument* DeviceCombo::InfoOf(const QString& name) const {
  const QByteArray key = name.toLatin1();
  for (const FoundInstrument& info : infos_) {
    if (key == info.resource) return &info;
  }
  return nullptr;
}

void DeviceCombo::SetInfo(const FoundInstrument& found) {
  infos_.push_back(found);
  update();
}

QString DeviceCombo::DisplayText(const QString& name) const {
  const FoundInstrument* info = InfoOf(name);
  const std::string label = info != nullptr ? InstrumentLabel(*info) : std::string();
  if (label.empty()) return name;
  return name + QStringLiteral("  (") + QString::fromLatin1(label.c_str()) + QLatin1Char(')');
}

bool DeviceCombo::HasLabels() const {
  for (const FoundInstrument& info : infos_) {
    if (!InstrumentLabel(info).empty()) return true;
  }
  return false;
}

// QComboBox's own painting, with the label after the current name.
void DeviceCombo::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  painter.setPen(palette().color(QPalette::Text));
  QStyleOptionComboBox option;
  initStyleOption(&option);
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  if (currentIndex() < 0 && !placeholderText().isEmpty()) {
    option.palette.setBrush(QPalette::ButtonText, option.palette.placeholderText());
    option.currentText = placeholderText();
  } else {
    option.currentText = DisplayText(option.currentText);
  }
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void DeviceCombo::AddSorted(const QString& name) {
  const std::string key = name.toLatin1().toStdString();
  int index = 0;
  while (index < count() && !DeviceListOrder(key, itemText(index).toLatin1().toStdString())) {
    ++index;
  }
  // Inserting into an empty or unselected list must not select the new entry.
  const int selected = currentIndex();
  insertItem(index, name);
  if (selected < 0) {
    setCurrentIndex(-1);
  }
}

void DeviceCombo::showPopup() {
  emit dropDownOpening();
  QComboBox::showPopup();
}

}  // namespace fg::app

#include "app/qt/device_combo.h"

#include <QStyledItemDelegate>
#include <QStylePainter>

namespace fg::app {
namespace {

constexpr int kShownRole = Qt::UserRole + 1;

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
  setInsertPolicy(QComboBox::NoInsert);
  setItemDelegate(new LabelledEntries(this));
}

void DeviceCombo::SetEntries(const DeviceEntryView* entries, int32_t count, int32_t current,
                             const QString& placeholder) {
  clear();
  for (int32_t i = 0; i < count; ++i) {
    addItem(QString::fromLatin1(entries[i].name));
    setItemData(i, QString::fromLatin1(entries[i].shown), kShownRole);
  }
  setPlaceholderText(placeholder);
  setCurrentIndex(current);
  update();
}

QString DeviceCombo::DisplayText(const QString& name) const {
  const int index = findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (index < 0) return name;
  const QString shown = itemData(index, kShownRole).toString();
  return shown.isEmpty() ? name : shown;
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

void DeviceCombo::showPopup() {
  emit dropDownOpening();
  QComboBox::showPopup();
}

}  // namespace fg::app

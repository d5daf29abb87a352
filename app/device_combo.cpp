#include "app/device_combo.h"

#include <cstring>

#include "util/bounded_text.h"

namespace fg::app {
namespace {

DeviceCombo* Combo(void* owner) { return static_cast<DeviceCombo*>(owner); }

void ResetContent(void* owner) { Combo(owner)->clear(); }

void AddString(void* owner, const char* name) {
  Combo(owner)->AddSorted(QString::fromLatin1(name));
}

int32_t GetCount(void* owner) { return Combo(owner)->count(); }

void SetCurSel(void* owner, int32_t index) { Combo(owner)->setCurrentIndex(index); }

void GetText(void* owner, char* out, size_t capacity) {
  const QByteArray text = Combo(owner)->currentText().toLatin1();
  CopyBounded(out, capacity, text.constData());
}

}  // namespace

DeviceCombo::DeviceCombo(QWidget* parent) : QComboBox(parent) {
  ops_ = {this, ResetContent, AddString, GetCount, SetCurSel, GetText};
  setInsertPolicy(QComboBox::NoInsert);
}

void DeviceCombo::AddSorted(const QString& name) {
  const QByteArray key = name.toLatin1();
  int index = 0;
  while (index < count() && std::strcmp(itemText(index).toLatin1().constData(),
                                        key.constData()) <= 0) {
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

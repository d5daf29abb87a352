#include "app/device_combo.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "util/bounded_text.h"

namespace fg::app {
namespace {

// The order of a sorted list box, the same as the window-free front ends keep: letter case
// ignored, then bytes as the tie-break.
bool ListOrder(const std::string& a, const std::string& b) {
  auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  auto caseless = [&](char x, char y) { return lower(x) < lower(y); };
  const bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), caseless);
  const bool greater =
      std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), caseless);
  return less || (!greater && a < b);
}

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
  const std::string key = name.toLatin1().toStdString();
  int index = 0;
  while (index < count() && !ListOrder(key, itemText(index).toLatin1().toStdString())) {
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

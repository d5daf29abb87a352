// The device list (control 1021) as Qt draws it: the entries the model hands over, each shown
// with its label after its name, closed and dropped down; an entry's text, what an update takes,
// stays the resource name.
#pragma once
#include <QComboBox>

#include "app/dialog/dialog_view.h"

namespace fg::app {

class DeviceCombo : public QComboBox {
  Q_OBJECT

 public:
  explicit DeviceCombo(QWidget* parent = nullptr);

  // Replaces the entries; `current` -1 selects none and shows `placeholder`.
  void SetEntries(const DeviceEntryView* entries, int32_t count, int32_t current,
                  const QString& placeholder);
  // The text shown for an entry's name: the name and its label, if it has one.
  QString DisplayText(const QString& name) const;

  void showPopup() override;

 signals:
  // Sent when the list is about to drop down, before the entries are shown.
  void dropDownOpening();

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace fg::app

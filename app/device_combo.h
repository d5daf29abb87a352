// The device list (control 1021): a drop-down list of VISA resource names kept in alphabetical
// order, with the table of plain functions through which the device search fills it.
#pragma once
#include <QComboBox>

#include "link/device_search.h"

namespace fg::app {

class DeviceCombo : public QComboBox {
  Q_OBJECT

 public:
  explicit DeviceCombo(QWidget* parent = nullptr);

  const DeviceListOps* ops() const { return &ops_; }

  // Inserts after every entry that does not sort after it (letter case ignored, then bytes),
  // so the list stays sorted and equal names keep their order of arrival.
  void AddSorted(const QString& name);

  void showPopup() override;

 signals:
  // Sent when the list is about to drop down, before the entries are shown.
  void dropDownOpening();

 private:
  DeviceListOps ops_;
};

}  // namespace fg::app

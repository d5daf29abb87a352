// The device list (control 1021): a drop-down list of VISA resource names kept in alphabetical
// order, with the table of plain functions through which the device search fills it. An entry
// the search labelled (in writer mode, busy, not answering) shows its label after its name,
// closed and dropped down; its text, what an update takes, stays the resource name.
#pragma once
#include <QComboBox>
#include <vector>

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

  // Removes every entry and its record.
  void ResetEntries();
  // The search's record of an entry, kept until the list is emptied; null when it has none.
  const FoundInstrument* InfoOf(const QString& name) const;
  void SetInfo(const FoundInstrument& found);
  // "USB0::...::INSTR  (writer mode, WX2050)" for a labelled entry, else the name itself.
  QString DisplayText(const QString& name) const;
  // Whether any entry carries a label.
  bool HasLabels() const;

  void showPopup() override;

 signals:
  // Sent when the list is about to drop down, before the entries are shown.
  void dropDownOpening();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  DeviceListOps ops_;
  std::vector<FoundInstrument> infos_;
};

}  // namespace fg::app

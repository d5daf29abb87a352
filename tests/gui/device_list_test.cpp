// The device list in the window, with none, one and two simulated instruments of the file's
// model: what the refresh after a file open leaves in the list and on screen, and which
// instrument an update then asks about.
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "app/dialog_template.h"
#include "app/updater_dlg.h"
#include "catalog/model_catalog.h"
#include "gui_test_support.h"

using namespace fg;
using namespace fg::app;
using fg::guitest::LogLines;
using fg::guitest::PromptRecord;
using fg::guitest::ScriptedPrompts;

namespace {

constexpr const char* kSimA = "USB0::0x2E5B::0x3A01::SIMA::INSTR";
constexpr const char* kSimB = "USB0::0x2E5B::0x3A01::SIMB::INSTR";

QComboBox* List(CUpdaterDlg& dlg) { return static_cast<QComboBox*>(dlg.Control(IDC_DEVICE_LIST)); }
QString DeviceField(CUpdaterDlg& dlg) {
  return static_cast<QLineEdit*>(dlg.Control(IDC_DEVICE))->text();
}

}  // namespace

class DeviceListTest : public QObject {
  Q_OBJECT

 private:
  fg::guitest::PrivateBus bus_;
  QTemporaryDir dir_;
  std::string wx2040_;
  std::string wx2050_;

  void Open(CUpdaterDlg& dlg, ScriptedPrompts& prompts, const std::string& path) {
    prompts.QueueFile(path);
    dlg.OnChooseFile();
  }

 private slots:
  void initTestCase() {
    wx2040_ = guitest::MakeFirmware(dir_, "wx2040.fq", "WX2040");
    wx2050_ = guitest::MakeFirmware(dir_, "wx2050.fq", "WX2050");
    QVERIFY(!wx2040_.empty() && !wx2050_.empty());
  }

  void noInstrument() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    Open(dlg, prompts, wx2040_);
    QCOMPARE(dlg.controlState(), FileReady);
    QCOMPARE(List(dlg)->count(), 0);
    QCOMPARE(List(dlg)->currentText(), QString());
    QVERIFY(!List(dlg)->isVisibleTo(&dlg));
    QVERIFY(dlg.Control(IDC_DEVICE)->isVisibleTo(&dlg));
  }

  // One instrument: selected, and the list stays hidden behind the Device field.
  void oneInstrument() {
    auto a = guitest::StartInstrument(bus_, "WX2040", "SIMA");
    QVERIFY(a != nullptr);
    QCOMPARE(guitest::WaitForInstruments(&kModelCatalog.models[0], 1, 20000), 1);
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    Open(dlg, prompts, wx2040_);
    QCOMPARE(List(dlg)->count(), 1);
    QCOMPARE(List(dlg)->currentText(), QString::fromLatin1(kSimA));
    QVERIFY(!List(dlg)->isVisibleTo(&dlg));
    QVERIFY(dlg.Control(IDC_DEVICE)->isVisibleTo(&dlg));

    // A WX2050 file finds no WX2040.
    Open(dlg, prompts, wx2050_);
    QCOMPARE(List(dlg)->count(), 0);

    // At Update the Device field shows the instrument and the confirmation names it.
    Open(dlg, prompts, wx2040_);
    prompts.QueueAnswer(false);
    dlg.OnUpdate();
    QCOMPARE(DeviceField(dlg), QString::fromLatin1(kSimA));
    const auto asked = prompts.Of(PromptRecord::Confirm);
    QCOMPARE(asked.size(), size_t(1));
    QCOMPARE(asked[0].text, std::string("Are you sure you want to update ") + kSimA + "?");
  }

  // Two instruments: the list takes the Device field's place, sorted, none selected; the user's
  // pick is the instrument the update asks about.
  void twoInstruments() {
    auto b = guitest::StartInstrument(bus_, "WX2040", "SIMB");
    auto a = guitest::StartInstrument(bus_, "WX2040", "SIMA");
    QVERIFY(a != nullptr && b != nullptr);
    QCOMPARE(guitest::WaitForInstruments(&kModelCatalog.models[0], 2, 20000), 2);
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Open(dlg, prompts, wx2040_);

    QComboBox* list = List(dlg);
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->itemText(0), QString::fromLatin1(kSimA));
    QCOMPARE(list->itemText(1), QString::fromLatin1(kSimB));
    QCOMPARE(list->currentIndex(), -1);
    QCOMPARE(list->currentText(), QString());
    QVERIFY(list->isVisible());
    QVERIFY(list->isEnabled());
    QVERIFY(!dlg.Control(IDC_DEVICE)->isVisible());

    // Dropping the list down searches again: still both, none selected.
    list->showPopup();
    list->hidePopup();
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->currentIndex(), -1);

    list->setCurrentIndex(1);
    prompts.QueueAnswer(false);
    dlg.OnUpdate();
    const auto asked = prompts.Of(PromptRecord::Confirm);
    QCOMPARE(asked.size(), size_t(1));
    QCOMPARE(asked[0].text, std::string("Are you sure you want to update ") + kSimB + "?");
    QCOMPARE(DeviceField(dlg), QString::fromLatin1(kSimB));
    // The list stays for the next run.
    QVERIFY(list->isVisible());
    QCOMPARE(list->currentText(), QString::fromLatin1(kSimB));

    // A rejected file puts the Device field back.
    const std::string bad = guitest::WriteFile(dir_, "bad.fq", "# ModelName = NONE\n# FileStart\n");
    Open(dlg, prompts, bad);
    QCOMPARE(dlg.controlState(), NoFile);
    QVERIFY(!list->isVisible());
    QVERIFY(dlg.Control(IDC_DEVICE)->isVisible());
  }

  // Two instruments and no pick: no instrument is guessed, the connection fails with 0x31.
  void twoInstrumentsNoPick() {
    auto a = guitest::StartInstrument(bus_, "WX2040", "SIMA");
    auto b = guitest::StartInstrument(bus_, "WX2040", "SIMB");
    QVERIFY(a != nullptr && b != nullptr);
    QCOMPARE(guitest::WaitForInstruments(&kModelCatalog.models[0], 2, 20000), 2);
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    Open(dlg, prompts, wx2040_);
    dlg.OnUpdate();
    QCOMPARE(prompts.Of(PromptRecord::Confirm).size(), size_t(0));
    const auto boxes = prompts.Of(PromptRecord::Message);
    QCOMPARE(boxes.size(), size_t(1));
    QCOMPARE(boxes[0].text, std::string("Cannot connect to the device."));
    const auto lines = LogLines(dlg.LogText());
    QVERIFY(lines.size() >= 4);
    QCOMPARE(lines[lines.size() - 3], std::string("Update was cancelled."));
    QCOMPARE(lines[lines.size() - 2], std::string("Error number: 0x0031"));
    QCOMPARE(DeviceField(dlg), QString());
  }

  // No instrument when the file was opened, two at Update: the first in order is taken.
  void searchAtUpdateTakesTheFirst() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    Open(dlg, prompts, wx2040_);
    QCOMPARE(List(dlg)->count(), 0);
    auto b = guitest::StartInstrument(bus_, "WX2040", "SIMB");
    auto a = guitest::StartInstrument(bus_, "WX2040", "SIMA");
    QVERIFY(a != nullptr && b != nullptr);
    QCOMPARE(guitest::WaitForInstruments(&kModelCatalog.models[0], 2, 20000), 2);
    prompts.QueueAnswer(false);
    dlg.OnUpdate();
    QCOMPARE(DeviceField(dlg), QString::fromLatin1(kSimA));
    QCOMPARE(List(dlg)->count(), 2);
    QVERIFY(!List(dlg)->isVisibleTo(&dlg));
  }
};

QTEST_MAIN(DeviceListTest)
#include "device_list_test.moc"

// The device list in the window, with none, one and two simulated instruments of the file's
// model: what the refresh after a file open leaves in the list and on screen, and which
// instrument an update then asks about.
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "app/qt/device_combo.h"
#include "app/dialog/dialog_template.h"
#include "app/qt/updater_dlg.h"
#include "catalog/model_catalog.h"
#include "gui_test_support.h"
#include "sequence/run_texts.h"

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
    QCOMPARE(dlg.model().controlState(), FileReady);
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
    QVERIFY2(!dlg.Control(IDC_UPDATE)->isEnabled(), "Update waits for a pick");
    QCOMPARE(LogLines(dlg.model().LogText()).back(), std::string(kLogPickInstrument));

    // Dropping the list down searches again: still both, none selected.
    list->showPopup();
    list->hidePopup();
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->currentIndex(), -1);
    QVERIFY(!dlg.Control(IDC_UPDATE)->isEnabled());

    QTest::keyClick(list, Qt::Key_Down);  // the user picks the first, then the second
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(list->currentIndex(), 1);
    QVERIFY(dlg.Control(IDC_UPDATE)->isEnabled());
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
    QCOMPARE(dlg.model().controlState(), NoFile);
    QVERIFY(!list->isVisible());
    QVERIFY(dlg.Control(IDC_DEVICE)->isVisible());
  }

  // Two instruments found by the search at Update, or at file open and none picked: the run ends
  // before connecting, shows the list, says to pick one and keeps Update disabled until then.
  void twoInstrumentsWaitForAPick_data() {
    QTest::addColumn<bool>("atUpdate");
    QTest::newRow("found at file open") << false;
    QTest::newRow("found at Update") << true;
  }
  void twoInstrumentsWaitForAPick() {
    QFETCH(bool, atUpdate);
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    std::unique_ptr<sim::SimInstrument> a, b;
    auto attach = [&] {
      b = guitest::StartInstrument(bus_, "WX2040", "SIMB");
      a = guitest::StartInstrument(bus_, "WX2040", "SIMA");
      return a != nullptr && b != nullptr &&
             guitest::WaitForInstruments(&kModelCatalog.models[0], 2, 20000) == 2;
    };
    if (!atUpdate) QVERIFY(attach());
    Open(dlg, prompts, wx2040_);
    if (atUpdate) {
      QCOMPARE(List(dlg)->count(), 0);
      QVERIFY(dlg.Control(IDC_UPDATE)->isEnabled());
      QVERIFY(attach());
    }
    dlg.OnUpdate();  // as the button would (it is disabled when found at file open)

    QCOMPARE(prompts.records.size(), size_t(1));  // the Open File dialog only: no box, no question
    QCOMPARE(LogLines(dlg.model().LogText()).back(), std::string(kLogPickInstrument));
    QVERIFY(dlg.model().LogText().find("Connecting") == std::string::npos);
    QVERIFY(dlg.model().LogText().find("Error number") == std::string::npos);
    QCOMPARE(List(dlg)->count(), 2);
    QCOMPARE(List(dlg)->currentIndex(), -1);
    QVERIFY(List(dlg)->isVisibleTo(&dlg));
    QCOMPARE(dlg.model().controlState(), FileReady);
    QVERIFY(!dlg.Control(IDC_UPDATE)->isEnabled());
    QVERIFY(!QFileInfo::exists(QString::fromStdString(dlg.model().tempPath())));

    List(dlg)->setCurrentIndex(1);
    QVERIFY(dlg.Control(IDC_UPDATE)->isEnabled());
    prompts.QueueAnswer(false);
    dlg.OnUpdate();
    const auto asked = prompts.Of(PromptRecord::Confirm);
    QCOMPARE(asked.size(), size_t(1));
    QCOMPARE(asked[0].text, std::string("Are you sure you want to update ") + kSimB + "?");
  }

  // A WX2050 left in writer mode answers under the WX2040's product id: a WX2040 file does not
  // find it; a WX2050 file does, the list shows what it is, and one click of Update recovers it.
  void writerLeftBehindIsShownAndRecoveredWithOneClick() {
    sim::FaultPlan faults;
    faults.startInWriter = true;
    auto w = guitest::StartInstrument(bus_, "WX2050", "W2050", sim::FastTiming(), faults);
    QVERIFY(w != nullptr);
    QCOMPARE(guitest::WaitForInstruments(&kModelCatalog.models[1], 1, 20000), 1);
    const QString writer = QStringLiteral("USB0::0x2E5B::0x3A01::W2050::INSTR");
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    Open(dlg, prompts, wx2040_);
    QCOMPARE(List(dlg)->count(), 0);
    Open(dlg, prompts, wx2050_);
    auto* list = static_cast<DeviceCombo*>(List(dlg));
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->currentText(), writer);
    QVERIFY2(list->isVisible(), "a labelled instrument is shown with its label");
    QCOMPARE(list->DisplayText(writer), writer + QStringLiteral("  (writer mode, WX2050)"));
    QVERIFY(dlg.Control(IDC_UPDATE)->isEnabled());

    prompts.QueueAnswer(true);
    dlg.OnUpdate();
    const std::vector<std::string> log = LogLines(dlg.model().LogText());
    QVERIFY(std::find(log.begin(), log.end(), FoundInWriterModeText("WX2050")) != log.end());
    QVERIFY2(std::find(log.begin(), log.end(), std::string(kLogCompleted)) != log.end(),
             dlg.model().LogText().c_str());
  }

  // No device search runs on the window's thread: while a slow search runs (at file open here;
  // the search at Update and at drop-down go the same way), the window handles its events,
  // refuses to close and offers nothing to start.
  void searchKeepsTheWindowAnswering() {
    auto a = guitest::StartInstrument(bus_, "WX2040", "SIMA");
    QVERIFY(a != nullptr);
    QCOMPARE(guitest::WaitForInstruments(&kModelCatalog.models[0], 1, 20000), 1);
    struct Slow {
      static int32_t Find(void*, const char* expression, std::vector<std::string>* names) {
        QThread::msleep(300);
        return FindResourceNames(expression, names);
      }
    };
    const ResourceSearch slow{nullptr, Slow::Find, nullptr};
    RunEnv base{};
    base.search = &slow;
    {
      ScriptedPrompts prompts;
      // Its search runs the slow one on a worker thread.
      CUpdaterDlg dlg(prompts.ops(), nullptr, &base);
      std::vector<qint64> turns;
      bool refused = true;
      QElapsedTimer clock;
      QTimer turn;
      turn.setInterval(0);
      connect(&turn, &QTimer::timeout, this, [&] {
        if (dlg.model().controlState() != Busy) return;
        turns.push_back(clock.elapsed());
        refused = refused && !dlg.Control(IDC_CHOOSE_FILE)->isEnabled() &&
                  !dlg.Control(IDC_UPDATE)->isEnabled() && !dlg.close() && dlg.isVisible();
      });
      dlg.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dlg));
      turn.start();
      clock.start();
      Open(dlg, prompts, wx2040_);
      turn.stop();
      turns.push_back(clock.elapsed());
      QVERIFY(turns.size() > 10);
      qint64 longest = turns.front();
      for (size_t i = 1; i < turns.size(); ++i) longest = std::max(longest, turns[i] - turns[i - 1]);
      // A search on the window's thread would stop it for the whole 300 ms; a loaded machine
      // may hold it for tens of milliseconds anyway.
      QVERIFY2(longest < 200, qPrintable(QString::number(longest)));
      QVERIFY(refused);
      QCOMPARE(List(dlg)->currentText(), QString::fromLatin1(kSimA));
      QCOMPARE(dlg.model().controlState(), FileReady);
      QVERIFY(dlg.Control(IDC_UPDATE)->isEnabled());
    }
  }
};

QTEST_MAIN(DeviceListTest)
#include "device_list_test.moc"

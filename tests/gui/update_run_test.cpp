// Whole updates from the window against simulated instruments: the log of every outcome, the
// boxes, the progress bar, the Busy state refusing to close, and how long the window goes
// without handling events while the programmer sends an update.
#include <QElapsedTimer>
#include <QMessageBox>
#include <QFileInfo>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <unistd.h>

#include "programmer/writer_mode.h"

#include "app/dialog/dialog_texts.h"
#include "app/qt/close_signals.h"
#include "app/dialog/dialog_template.h"
#include "app/qt/qt_prompts.h"
#include "sim/sim_family.h"
#include "util/stop_request.h"
#include "app/qt/updater_dlg.h"
#include "catalog/model_catalog.h"
#include "gui_test_support.h"
#include "sequence/run_texts.h"
#include "tests/firmware/firmware_test_files.h"

using namespace fg;
using namespace fg::app;
using fg::guitest::LogLines;
using fg::guitest::PromptRecord;
using fg::guitest::ScriptedPrompts;

Q_DECLARE_METATYPE(std::string)

namespace {

constexpr const char* kSimA = "USB0::0x2E5B::0x3A01::SIMA::INSTR";
const ModelInfo* Wx2040() { return &kModelCatalog.models[0]; }

QProgressBar* Bar(CUpdaterDlg& dlg) { return static_cast<QProgressBar*>(dlg.Control(IDC_PROGRESS)); }

// The longest the window may go without handling events during a run. A run on the window's
// thread would stop it for seconds; a loaded test machine may stall it for tens of milliseconds.
constexpr qint64 kLongestGapMs = 250;

bool Exists(const std::string& path) { return QFileInfo::exists(QString::fromStdString(path)); }

// The log lines after the first one ("Open File: ...").
std::vector<std::string> RunLines(const CUpdaterDlg& dlg) {
  std::vector<std::string> lines = LogLines(dlg.model().LogText());
  if (!lines.empty() && lines[0].rfind("Open File: ", 0) == 0) lines.erase(lines.begin());
  return lines;
}

// The instrument handles what it receives on its own thread: waits until `done` holds.
template <class Predicate>
bool WaitUntil(Predicate done, int timeoutMs = 20000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QTest::qSleep(5);
  }
  return true;
}

// The longest stretch between two recorded event-loop turns.
qint64 LongestGap(const std::vector<qint64>& turns) {
  qint64 longest = 0;
  for (size_t i = 1; i < turns.size(); ++i) longest = std::max(longest, turns[i] - turns[i - 1]);
  return longest;
}

// Time twenty times as fast for the writer-mode wait, so that its 20 s deadline passes in one.
struct FastClock {
  static int64_t Now(void*) {
    return 20 * std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now().time_since_epoch())
                    .count();
  }
  static void Sleep(void*, uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::microseconds(ms * 50));
  }
};
constexpr WaitClock kFastClock = {nullptr, FastClock::Now, FastClock::Sleep};

// A QString, so that a failed comparison prints both logs.
QString Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += "[" + l + "]";
  return QString::fromStdString(out);
}

}  // namespace

class UpdateRunTest : public QObject {
  Q_OBJECT

 private:
  fg::guitest::PrivateBus bus_;
  QTemporaryDir dir_;
  std::string wx2040_;

  void Open(CUpdaterDlg& dlg, ScriptedPrompts& prompts, const std::string& path) {
    prompts.QueueFile(path);
    dlg.OnChooseFile();
  }

 private slots:
  void initTestCase() {
    wx2040_ = guitest::MakeFirmware(dir_, "wx2040.fq", "WX2040");
    QVERIFY(!wx2040_.empty());
  }

  // A complete update through the real writer-mode switch, then a second one with the same
  // file. From the Yes of the confirmation to the end of the run, a zero-interval timer records
  // every turn of the event loop, the writer-mode wait included; the first turn after the log
  // says the instrument restarts tries to close the window, Esc, a second Update and More Info.
  void completedUpdate() {
    auto instrument = guitest::StartInstrument(bus_, "WX2040", "SIMA");
    QVERIFY(instrument != nullptr);
    const std::string versionsBefore = instrument->VersionRun();
    QCOMPARE(guitest::WaitForInstruments(Wx2040(), 1, 20000), 1);

    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Open(dlg, prompts, wx2040_);
    QCOMPARE(dlg.model().controlState(), FileReady);

    QProgressBar* bar = Bar(dlg);
    bar->setValue(55);  // as a previous run might have left it
    std::vector<int> values;
    connect(bar, &QProgressBar::valueChanged, this, [&](int v) { values.push_back(v); });

    // Event-loop turns from Yes on, and what the window did during the writer-mode wait.
    QElapsedTimer clock;
    std::vector<qint64> turns;
    int barAtConfirm = -1;
    ControlState stateAtConfirm = NoFile;
    prompts.duringConfirm = [&] {
      barAtConfirm = bar->value();
      stateAtConfirm = dlg.model().controlState();
      clock.start();
      turns.push_back(0);  // the answer is given as this returns
    };
    prompts.QueueAnswer(true);

    bool triedDuringWait = false, closeRefused = false, escRefused = false;
    bool secondUpdateRefused = false, moreInfoWorked = false, buttonsDisabled = false;
    QTimer turn;
    turn.setInterval(0);
    connect(&turn, &QTimer::timeout, this, [&] {
      if (!dlg.model().updateRunning() || !clock.isValid()) return;
      turns.push_back(clock.elapsed());
      if (triedDuringWait || dlg.model().LogText().find(kLogWaitingForRestart) == std::string::npos) return;
      triedDuringWait = true;
      closeRefused = !dlg.close() && dlg.isVisible();
      QTest::keyClick(&dlg, Qt::Key_Escape);
      escRefused = dlg.isVisible();
      const size_t confirmations = prompts.Of(PromptRecord::Confirm).size();
      dlg.OnUpdate();
      secondUpdateRefused = prompts.Of(PromptRecord::Confirm).size() == confirmations;
      const bool before = dlg.model().moreInfo();
      QTest::mouseClick(dlg.Control(IDC_MORE_INFO), Qt::LeftButton);
      moreInfoWorked = dlg.model().moreInfo() != before && dlg.height() == 610;
      buttonsDisabled = !dlg.Control(IDC_CHOOSE_FILE)->isEnabled() &&
                        !dlg.Control(IDC_UPDATE)->isEnabled();
    });
    turn.start();
    QTest::mouseClick(dlg.Control(IDC_UPDATE), Qt::LeftButton);
    turn.stop();
    turns.push_back(clock.elapsed());  // the run's end: the completed line is in the log

    const std::vector<std::string> expected = {"Connecting ... OK", kLogWaitingForRestart,
                                               "Updating ... OK",
                                               "--------------- Completed ---------------", ""};
    QCOMPARE(Joined(RunLines(dlg)), Joined(expected));
    QCOMPARE(prompts.Of(PromptRecord::Message).size(), size_t(0));
    const auto asked = prompts.Of(PromptRecord::Confirm);
    QCOMPARE(asked.size(), size_t(1));
    QCOMPARE(asked[0].text, std::string("Are you sure you want to update ") + kSimA + "?");
    QCOMPARE(asked[0].caption, std::string("Confirm Firmware Update"));
    QCOMPARE(static_cast<QLineEdit*>(dlg.Control(IDC_DEVICE))->text(), QString::fromLatin1(kSimA));
    QCOMPARE(dlg.model().controlState(), FileReady);
    QVERIFY(!Exists(dlg.model().tempPath()));
    QVERIFY(instrument->VersionRun() != versionsBefore);

    // The bar: 0 at the start of the run, up to 100, never backwards.
    QCOMPARE(stateAtConfirm, Busy);
    QCOMPARE(barAtConfirm, 0);
    QVERIFY(values.size() > 2);
    QCOMPARE(values.front(), 0);
    QCOMPARE(values.back(), 100);
    QVERIFY(std::is_sorted(values.begin(), values.end()));
    QCOMPARE(bar->value(), 100);

    // The longest stretch without an event-loop turn from Yes to the end, the wait included.
    QVERIFY(turns.size() > 10);
    QVERIFY(turns.back() >= 4000);
    const qint64 longest = LongestGap(turns);
    qInfo("event-loop turns from Yes to the end: %zu over %lld ms; longest gap %lld ms",
          turns.size(), static_cast<long long>(turns.back()), static_cast<long long>(longest));
    QVERIFY2(longest < kLongestGapMs, "the window went too long without handling events");

    QVERIFY2(triedDuringWait, "the log never said that the instrument restarts");
    QVERIFY(closeRefused);
    QVERIFY(escRefused);
    QVERIFY(secondUpdateRefused);
    QVERIFY(moreInfoWorked);
    QVERIFY(buttonsDisabled);

    // Update again with the same file: the same instrument, now already in writer mode.
    values.clear();
    prompts.QueueAnswer(true);
    dlg.OnUpdate();
    // The list still holds what the search at file open learnt: a WX2040 in its normal firmware.
    const std::vector<std::string> twice = {
        "Connecting ... OK", kLogWaitingForRestart, "Updating ... OK",
        "--------------- Completed ---------------", "",
        "Connecting ... OK", FoundInWriterModeText(nullptr), "Updating ... OK",
        "--------------- Completed ---------------", ""};
    QCOMPARE(Joined(RunLines(dlg)), Joined(twice));
    QCOMPARE(prompts.Of(PromptRecord::Confirm).back().text,
             std::string("Are you sure you want to update ") + kSimA + "?");
    QCOMPARE(values.front(), 0);
    QCOMPARE(values.back(), 100);
  }

  // An instrument that takes a quarter of a second per flash block: while the window waits
  // for its progress replies it keeps handling events, well inside one block's time.
  void staysResponsiveWhileTheInstrumentFlashes() {
    sim::SimTiming slowFlash = sim::FastTiming();
    slowFlash.eraseMsPerBlock = 100;
    slowFlash.programMsPerBlock = 250;
    sim::FaultPlan inWriter;
    inWriter.startInWriter = true;  // no 4-second switch: the run goes straight to programming
    auto instrument = guitest::StartInstrument(bus_, "WX2040", "SIMA", slowFlash, inWriter);
    QVERIFY(instrument != nullptr);
    QCOMPARE(guitest::WaitForInstruments(Wx2040(), 1, 20000), 1);

    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Open(dlg, prompts, wx2040_);
    QCOMPARE(dlg.model().controlState(), FileReady);
    prompts.QueueAnswer(true);

    // Turns from the first progress report to the end of the run.
    QElapsedTimer clock;
    std::vector<qint64> turns;
    bool moreInfoWorked = false;
    QTimer turn;
    turn.setInterval(0);
    connect(&turn, &QTimer::timeout, this, [&] {
      if (!dlg.model().updateRunning() || Bar(dlg)->value() == 0) return;
      turns.push_back(clock.elapsed());
      if (turns.size() == 1) {
        QTest::mouseClick(dlg.Control(IDC_MORE_INFO), Qt::LeftButton);
        moreInfoWorked = dlg.model().moreInfo();
      }
    });
    clock.start();
    turn.start();
    dlg.OnUpdate();
    turn.stop();

    const std::vector<std::string> expected = {
        "Connecting ... OK", FoundInWriterModeText("WX2040"), "Updating ... OK",
        "--------------- Completed ---------------", ""};
    QCOMPARE(Joined(RunLines(dlg)), Joined(expected));
    QVERIFY(moreInfoWorked);
    QVERIFY(turns.size() > 10);
    const qint64 longest = LongestGap(turns);
    qInfo("event-loop turns while the instrument flashed: %zu over %lld ms; longest gap %lld ms",
          turns.size(), static_cast<long long>(turns.back() - turns.front()),
          static_cast<long long>(longest));
    // Without the pump a gap lasts a whole block (250 ms); with it, about the pump's interval.
    QVERIFY2(longest < slowFlash.programMsPerBlock / 2, "the window waited out a flash block");
  }

  // No at the confirmation: the driver clears the display and the run ends with 5. While the
  // question is open the window is Busy and neither closes nor takes Esc.
  // A WX2040 in writer mode whose identity names no model: before the update confirmation the
  // window asks in a warning box whether it is a WX2040. No ends the run with nothing written;
  // Yes, then Yes, updates it.
  void writerThatNamesNoModelIsAskedAboutFirst() {
    sim::FaultPlan faults;
    faults.startInWriter = true;
    faults.writerNamesNoModel = true;
    auto instrument = guitest::StartInstrument(bus_, "WX2040", "SIMQ", sim::FastTiming(), faults);
    QVERIFY(instrument != nullptr);
    QCOMPARE(guitest::WaitForInstruments(Wx2040(), 1, 20000), 1);
    const std::string resource = "USB0::0x2E5B::0x3A01::SIMQ::INSTR";
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Open(dlg, prompts, wx2040_);

    prompts.QueueAnswer(false);
    dlg.OnUpdate();
    QCOMPARE(prompts.unexpected, 0);
    const auto warnings = prompts.Of(PromptRecord::ConfirmWarning);
    QCOMPARE(warnings.size(), size_t{1});
    QCOMPARE(warnings[0].caption, std::string(kConfirmModelCaption));
    QCOMPARE(warnings[0].text, ConfirmWriterModelText(resource.c_str(), "SIMQ", "WX2040"));
    QVERIFY(prompts.Of(PromptRecord::Confirm).empty());
    const std::vector<std::string> refused = {"Connecting ... OK",
                                              WriterNamesNoModelLine(resource.c_str()),
                                              "Update was cancelled.", "Error number: 0x0033", ""};
    QCOMPARE(RunLines(dlg), refused);
    const uint32_t main = sim::FindPartitionByName(sim::kWx2040SimFamily, "MAIN");
    QVERIFY(instrument->PartitionContent(main).empty());

    prompts.records.clear();
    prompts.QueueAnswer(true);  // it is a WX2040
    prompts.QueueAnswer(true);  // update it
    Open(dlg, prompts, wx2040_);
    dlg.OnUpdate();
    QCOMPARE(prompts.unexpected, 0);
    QCOMPARE(prompts.Of(PromptRecord::ConfirmWarning).size(), size_t{1});
    QCOMPARE(prompts.Of(PromptRecord::Confirm).size(), size_t{1});
    QVERIFY2(dlg.model().LogText().find("Completed") != std::string::npos, dlg.model().LogText().c_str());
    QVERIFY(!instrument->PartitionContent(main).empty());
  }

  // The window's own box for that question: the warning icon, and No as the default, so that
  // Enter does not say Yes.
  void writerModelWarningDefaultsToNo() {
    QWidget parent;
    bool seen = false, warning = false, defaultNo = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || seen) return;
      seen = true;
      warning = box->icon() == QMessageBox::Warning;
      defaultNo = box->defaultButton() == box->button(QMessageBox::No);
      QTest::keyClick(box, Qt::Key_Return);
    });
    poll.start(10);
    const bool yes = QtPrompts()->ConfirmWarning(nullptr, &parent, "Is it a WX2040?",
                                                 kConfirmModelCaption);
    poll.stop();
    QVERIFY(seen);
    QVERIFY(warning);
    QVERIFY(defaultNo);
    QVERIFY(!yes);
  }

  void declined() {
    auto instrument = guitest::StartInstrument(bus_, "WX2040", "SIMA");
    QVERIFY(instrument != nullptr);
    QCOMPARE(guitest::WaitForInstruments(Wx2040(), 1, 20000), 1);
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Open(dlg, prompts, wx2040_);

    std::string display;
    bool busy = false, stayed = false;
    prompts.duringConfirm = [&] {
      WaitUntil([&] { return !instrument->DisplayText().empty(); });
      display = instrument->DisplayText();
      busy = dlg.model().controlState() == Busy && !dlg.Control(IDC_UPDATE)->isEnabled() &&
             !dlg.Control(IDC_CHOOSE_FILE)->isEnabled() &&
             !dlg.windowFlags().testFlag(Qt::WindowCloseButtonHint);
      const bool closed = dlg.close();
      QTest::keyClick(&dlg, Qt::Key_Escape);
      dlg.reject();
      stayed = !closed && dlg.isVisible();
    };
    prompts.QueueAnswer(false);
    dlg.OnUpdate();

    QVERIFY(busy);
    QVERIFY(stayed);
    QVERIFY2(display.find("SIMA") != std::string::npos, display.c_str());
    QVERIFY(WaitUntil([&] { return instrument->DisplayText().empty(); }));
    const std::vector<std::string> expected = {"Connecting ... OK", "Update was cancelled.",
                                               "Error number: 0x0005", ""};
    QCOMPARE(Joined(RunLines(dlg)), Joined(expected));
    QCOMPARE(prompts.Of(PromptRecord::Message).size(), size_t(0));
    QCOMPARE(dlg.model().controlState(), FileReady);
    QVERIFY(dlg.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  }

  // Codes 2, 3 and 4: a box, then only the three closing lines.
  void failuresBeforeConnecting_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<std::string>("box");
    QTest::addColumn<std::string>("caption");
    QTest::addColumn<int>("icon");
    QTest::addColumn<std::string>("errorLine");
    QTest::newRow("no updater") << "sb7300" << std::string("Cannot initiate the update.")
                                << std::string("Error") << int(BoxIcon::Error)
                                << std::string("Error number: 0x0002");
    QTest::newRow("file gone") << "gone" << std::string("Cannot initiate the update.")
                               << std::string("Error") << int(BoxIcon::Error)
                               << std::string("Error number: 0x0003");
    QTest::newRow("no instrument") << "empty bus" << std::string("No instrument found.")
                                   << std::string("Search Instrument")
                                   << int(BoxIcon::Information)
                                   << std::string("Error number: 0x0004");
  }
  void failuresBeforeConnecting() {
    QFETCH(QString, kind);
    QFETCH(std::string, box);
    QFETCH(std::string, caption);
    QFETCH(int, icon);
    QFETCH(std::string, errorLine);
    QCOMPARE(guitest::WaitForInstruments(Wx2040(), 0, 20000), 0);

    std::string path = wx2040_;
    if (kind == QLatin1String("sb7300")) {
      path = guitest::WriteFile(dir_, "sb7300.fq", "# ModelName = SB7300\n# FileStart\nxyz");
    } else if (kind == QLatin1String("gone")) {
      path = guitest::MakeFirmware(dir_, "gone.fq", "WX2040");
    }
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    Open(dlg, prompts, path);
    QCOMPARE(dlg.model().controlState(), FileReady);
    // The accepted file stays open, so removing it is not enough: cut it short instead.
    if (kind == QLatin1String("gone")) QVERIFY(truncate(path.c_str(), 10) == 0);

    bool payloadGoneAtBox = false;
    prompts.duringMessage = [&] { payloadGoneAtBox = !Exists(dlg.model().tempPath()); };
    dlg.OnUpdate();

    const auto boxes = prompts.Of(PromptRecord::Message);
    QCOMPARE(boxes.size(), size_t(1));
    QCOMPARE(boxes[0].text, box);
    QCOMPARE(boxes[0].caption, caption);
    QCOMPARE(int(boxes[0].icon), icon);
    QVERIFY(payloadGoneAtBox);
    QCOMPARE(prompts.Of(PromptRecord::Confirm).size(), size_t(0));
    const std::vector<std::string> expected = {"Update was cancelled.", errorLine, ""};
    QCOMPARE(Joined(RunLines(dlg)), Joined(expected));
    QCOMPARE(dlg.model().controlState(), FileReady);
    QCOMPARE(Bar(dlg)->value(), 0);
  }

  // The file opened in the window, then 16 bytes inside its MAIN image overwritten in place (the
  // size unchanged): Update refuses it before it connects, says why, and the instrument hears
  // nothing.
  void fileChangedInPlaceAfterOpening() {
    auto instrument = guitest::StartInstrument(bus_, "WX2040", "SIMA");
    QVERIFY(instrument != nullptr);
    QCOMPARE(guitest::WaitForInstruments(Wx2040(), 1, 20000), 1);
    const std::string versionsBefore = instrument->VersionRun();
    const std::string path = guitest::MakeFirmware(dir_, "changed.fq", "WX2040");
    const uint32_t mainRow = sim::FindPartitionByName(sim::kWx2040SimFamily, "MAIN");
    QVERIFY(mainRow != sim::kNoPartition);
    const int64_t mainRecord = test::ImageRecordOffset(
        path, static_cast<int32_t>(sim::kWx2040SimFamily.partitions[mainRow].firstBlock));
    QVERIFY(mainRecord > 0);

    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    Open(dlg, prompts, path);
    QCOMPARE(dlg.model().controlState(), FileReady);
    test::OverwriteInPlace(path, mainRecord + 100, 16);
    dlg.OnUpdate();

    const auto boxes = prompts.Of(PromptRecord::Message);
    QCOMPARE(boxes.size(), size_t(1));
    QCOMPARE(boxes[0].text, std::string("Cannot initiate the update."));
    QCOMPARE(prompts.Of(PromptRecord::Confirm).size(), size_t(0));
    const std::vector<std::string> expected = {kLogFileChanged, "Update was cancelled.",
                                               "Error number: 0x0003", ""};
    QCOMPARE(Joined(RunLines(dlg)), Joined(expected));
    QCOMPARE(dlg.model().controlState(), FileReady);
    QVERIFY(!Exists(dlg.model().tempPath()));
    QVERIFY(instrument->DisplayText().empty());
    QCOMPARE(instrument->VersionRun(), versionsBefore);
    QCOMPARE(instrument->OpenSessions(), 0u);
  }

  // An instrument that never comes back as its writer: the window keeps trying until the
  // deadline, says so, and the run fails with the driver's 4.
  void writerNeverComesBack() {
    sim::FaultPlan faults;
    faults.neverReturn = true;
    auto instrument = guitest::StartInstrument(bus_, "WX2040", "SIMA", sim::FastTiming(), faults);
    QVERIFY(instrument != nullptr);
    QCOMPARE(guitest::WaitForInstruments(Wx2040(), 1, 20000), 1);
    ScriptedPrompts prompts;
    RunEnv fast{};
    fast.waitClock = &kFastClock;
    CUpdaterDlg dlg(prompts.ops(), nullptr, &fast);
    Open(dlg, prompts, wx2040_);
    prompts.QueueAnswer(true);
    dlg.OnUpdate();

    const std::vector<std::string> expected = {
        "Connecting ... OK", kLogWaitingForRestart, kLogWriterDidNotReturn, "Updating ... FAILED",
        "Switch to writer mode: no writer answered before the wait ran out (programmer error "
        "0x0001)",
        "Nothing was written: the instrument may still be restarting into its writer firmware. "
        "Wait until flintgate-cli list shows it in writer mode, then run the same update again; if "
        "it never shows, switch it off and on.",
        "Update was cancelled.", "Error number: 0x10004", ""};
    QCOMPARE(Joined(RunLines(dlg)), Joined(expected));
    QCOMPARE(prompts.Of(PromptRecord::Message).size(), size_t(0));
    QCOMPARE(dlg.model().controlState(), FileReady);
  }

  // An instrument already in writer mode that takes `programMs` per flash block, and the window
  // with the WX2040 file open and the confirmation answered Yes.
  std::unique_ptr<sim::SimInstrument> SlowWriter(uint32_t programMs) {
    sim::SimTiming slowFlash = sim::FastTiming();
    slowFlash.programMsPerBlock = programMs;
    sim::FaultPlan inWriter;
    inWriter.startInWriter = true;  // no 4-second switch: the run goes straight to programming
    auto instrument = guitest::StartInstrument(bus_, "WX2040", "SIMA", slowFlash, inWriter);
    if (instrument != nullptr && guitest::WaitForInstruments(Wx2040(), 1, 20000) != 1) return {};
    return instrument;
  }

  // Runs Update with `turn` called at every turn of the event loop while images are programmed.
  void UpdateWhileProgramming(CUpdaterDlg& dlg, const std::function<void()>& turn) {
    QTimer timer;
    timer.setInterval(0);
    connect(&timer, &QTimer::timeout, this, [&] {
      if (dlg.model().programming()) turn();
    });
    timer.start();
    dlg.OnUpdate();
    timer.stop();
  }

  // The question box the window shows over itself, or null.
  static QMessageBox* QuestionBox(CUpdaterDlg& dlg) {
    for (QMessageBox* box : dlg.findChildren<QMessageBox*>()) {
      if (box->isVisible()) return box;
    }
    return nullptr;
  }

  // While images are programmed, the window's close button asks whether to stop (answered Yes
  // here; Esc asks the same, below), a signal does not ask: either way the log says so once, the
  // core is asked to stop between images, and the window closes once the run has ended, leaving
  // no payload behind. A second attempt right after adds nothing (a second signal within 3 s
  // would end the program).
  void closeWhileProgrammingWaitsForTheImage_data() {
    QTest::addColumn<QString>("attempt");
    QTest::newRow("window close") << "close";
    QTest::newRow("SIGTERM") << "signal";
  }
  void closeWhileProgrammingWaitsForTheImage() {
    QFETCH(QString, attempt);
    QVERIFY(CloseSignals::Install(qApp) != nullptr);
    auto instrument = SlowWriter(30);
    QVERIFY(instrument != nullptr);

    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Open(dlg, prompts, wx2040_);
    prompts.QueueAnswer(true);
    prompts.QueueQuestionAnswer(true);
    bool stayedWhileRunning = true;
    int attempts = 0;
    const int wanted = attempt == QLatin1String("signal") ? 1 : 2;
    UpdateWhileProgramming(dlg, [&] {
      if (attempts >= wanted) return;
      ++attempts;  // a second attempt right after the first
      if (attempt == QLatin1String("close")) {
        dlg.close();
      } else {
        std::raise(SIGTERM);
        QTest::qWait(20);  // the notification reaches the window through its event loop
      }
      stayedWhileRunning = stayedWhileRunning && dlg.isVisible() && dlg.model().updateRunning();
    });

    QCOMPARE(attempts, wanted);
    QVERIFY(stayedWhileRunning);
    const auto questions = prompts.Of(PromptRecord::Question);
    QCOMPARE(questions.size(), size_t(attempt == QLatin1String("signal") ? 0 : 1));
    for (const PromptRecord& q : questions) {
      QCOMPARE(q.caption, std::string(kStopQuestionCaption));
      QCOMPARE(q.text, std::string(kStopQuestionText));
    }
    const std::vector<std::string> lines = RunLines(dlg);
    QCOMPARE(std::count(lines.begin(), lines.end(), std::string(kLogFinishingImage)), 1);
    QVERIFY(std::find(lines.begin(), lines.end(), "Error number: 0x10020") != lines.end());
    QVERIFY(StopRequested());
    QVERIFY(!dlg.isVisible());
    QVERIFY(!Exists(dlg.model().tempPath()));
  }

  // Esc while images are programmed shows the program's own question box over the window, with
  // No (go on) as its default button; the update goes on while it is open, and Enter, answering
  // with the default, lets it complete with the window still open.
  void escAsksFirstAndTheDefaultGoesOn() {
    auto instrument = SlowWriter(100);
    QVERIFY(instrument != nullptr);
    ScriptedPrompts prompts;
    prompts.realQuestionBoxes = true;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Open(dlg, prompts, wx2040_);
    prompts.QueueAnswer(true);

    bool pressed = false, answered = false, defaultIsNo = false, windowModal = false;
    int barAtBox = -1, barAtAnswer = -1;
    UpdateWhileProgramming(dlg, [&] {
      if (!pressed) {
        pressed = true;
        QTest::keyClick(&dlg, Qt::Key_Escape);
        return;
      }
      QMessageBox* box = QuestionBox(dlg);
      if (answered || box == nullptr) return;
      if (barAtBox < 0) {
        barAtBox = Bar(dlg)->value();
        defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
        windowModal = box->windowModality() == Qt::WindowModal;
      }
      if (Bar(dlg)->value() <= barAtBox) return;  // the update goes on under the open box
      barAtAnswer = Bar(dlg)->value();
      answered = true;
      QTest::keyClick(box, Qt::Key_Return);
    });

    QVERIFY(answered);
    QVERIFY(defaultIsNo);
    QVERIFY(windowModal);
    QVERIFY(barAtAnswer > barAtBox);
    QCOMPARE(prompts.Of(PromptRecord::Question).size(), size_t(1));
    const std::vector<std::string> expected = {
        "Connecting ... OK", FoundInWriterModeText("WX2040"), "Updating ... OK",
        "--------------- Completed ---------------", ""};
    QCOMPARE(Joined(RunLines(dlg)), Joined(expected));
    QVERIFY(!StopRequested());
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.model().controlState(), FileReady);
  }

  // Yes in the question box stops the update between two images (0x10020) and then closes the
  // window.
  void yesInTheQuestionStopsBetweenImages() {
    auto instrument = SlowWriter(100);
    QVERIFY(instrument != nullptr);
    ScriptedPrompts prompts;
    prompts.realQuestionBoxes = true;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Open(dlg, prompts, wx2040_);
    prompts.QueueAnswer(true);

    bool pressed = false, answered = false;
    UpdateWhileProgramming(dlg, [&] {
      if (!pressed) {
        pressed = true;
        QTest::keyClick(&dlg, Qt::Key_Escape);
      } else if (QMessageBox* box = QuestionBox(dlg); box != nullptr && !answered) {
        answered = true;
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
      }
    });

    QVERIFY(answered);
    // Which images were done when Esc was pressed depends on timing: the line after FAILED says
    // which have their new image and which their old one.
    std::vector<std::string> lines = RunLines(dlg);
    QVERIFY(lines.size() > 4);
    const std::string holds = lines[4];
    QVERIFY2(holds.rfind("The instrument stays in writer mode: ", 0) == 0 &&
                 holds.find(" keep") != std::string::npos &&
                 holds.find("may be incomplete") == std::string::npos,
             holds.c_str());
    const std::string next =
        " Run the same update again to program the images that keep their old ones.";
    QVERIFY2(holds.size() > next.size() &&
                 holds.compare(holds.size() - next.size(), next.size(), next) == 0,
             holds.c_str());
    lines.erase(lines.begin() + 4);
    const std::vector<std::string> expected = {
        "Connecting ... OK",     FoundInWriterModeText("WX2040"), kLogFinishingImage,
        "Updating ... FAILED",   "Update was cancelled.",         "Error number: 0x10020",
        ""};
    QCOMPARE(Joined(lines), Joined(expected));
    QVERIFY(StopRequested());
    QVERIFY(!dlg.isVisible());
  }

  // A question still open when the run ends is moot: the box is closed unanswered and the window
  // stays. Asking again while it is open adds no second box.
  void anOpenQuestionIsWithdrawnWhenTheRunEnds() {
    auto instrument = SlowWriter(30);
    QVERIFY(instrument != nullptr);
    ScriptedPrompts prompts;
    prompts.realQuestionBoxes = true;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Open(dlg, prompts, wx2040_);
    prompts.QueueAnswer(true);

    int attempts = 0;
    UpdateWhileProgramming(dlg, [&] {
      if (attempts++ < 2) QTest::keyClick(&dlg, Qt::Key_Escape);
    });

    QCOMPARE(prompts.Of(PromptRecord::Question).size(), size_t(1));
    QCOMPARE(prompts.Of(PromptRecord::Withdrawn).size(), size_t(1));
    QTest::qWait(50);  // the withdrawn box is deleted later
    QVERIFY(QuestionBox(dlg) == nullptr);
    QVERIFY(dlg.findChildren<QMessageBox*>().isEmpty());
    QCOMPARE(RunLines(dlg).back(), std::string());
    QCOMPARE(RunLines(dlg)[RunLines(dlg).size() - 2], std::string(kLogCompleted));
    QVERIFY(!StopRequested());
    QVERIFY(dlg.isVisible());
  }

  // Update with no model selected (the button forced on): no box, code 1.
  void noModelSelected() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.model().SetControlState(FileReady);
    QTest::mouseClick(dlg.Control(IDC_UPDATE), Qt::LeftButton);
    const std::vector<std::string> expected = {"Update was cancelled.", "Error number: 0x0001", ""};
    QCOMPARE(Joined(LogLines(dlg.model().LogText())), Joined(expected));
    QVERIFY(prompts.records.empty());
  }

  // The instrument left after the file was opened: its name is still in the list, no new
  // search is made, the connection fails with 0x31. The box comes before the closing lines.
  void instrumentUnplugged() {
    auto instrument = guitest::StartInstrument(bus_, "WX2040", "SIMA");
    QVERIFY(instrument != nullptr);
    QCOMPARE(guitest::WaitForInstruments(Wx2040(), 1, 20000), 1);
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    Open(dlg, prompts, wx2040_);
    instrument.reset();
    QCOMPARE(guitest::WaitForInstruments(Wx2040(), 0, 20000), 0);

    std::string logAtBox;
    prompts.duringMessage = [&] { logAtBox = dlg.model().LogText(); };
    dlg.OnUpdate();

    const auto boxes = prompts.Of(PromptRecord::Message);
    QCOMPARE(boxes.size(), size_t(1));
    QCOMPARE(boxes[0].text, std::string("Cannot connect to the device."));
    QCOMPARE(boxes[0].caption, std::string("Error"));
    QVERIFY(boxes[0].icon == BoxIcon::Error);
    QVERIFY(logAtBox.size() >= 23 &&
            logAtBox.compare(logAtBox.size() - 23, 23, "Connecting ... FAILED\r\n") == 0);
    const std::vector<std::string> expected = {"Connecting ... FAILED", "Update was cancelled.",
                                               "Error number: 0x0031", ""};
    QCOMPARE(Joined(RunLines(dlg)), Joined(expected));
    QCOMPARE(static_cast<QLineEdit*>(dlg.Control(IDC_DEVICE))->text(), QString::fromLatin1(kSimA));
    QCOMPARE(dlg.model().controlState(), FileReady);
  }

  // Driver errors: no box, "Updating ... FAILED" and 0x10000 + n.
  void driverErrors_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<std::string>("errorLine");
    QTest::addColumn<std::string>("what");
    QTest::addColumn<std::string>("holds");
    QTest::newRow("required image missing")
        << "missing MAIN" << std::string("Error number: 0x10101")
        << std::string("Package check: the required image for MAIN is missing")
        << std::string("Nothing was programmed: the instrument is in writer mode with all its old "
                       "images. The file's package is not fit for this instrument: use another "
                       "firmware file of its model.");
    QTest::newRow("flash not written")
        << "program NG" << std::string("Error number: 0x10008")
        << std::string("1C3, erasing and programming: the instrument answered \"Program NG\" "
                       "(programmer error 0x010A)")
        << std::string("The instrument stays in writer mode: 1C3 may be incomplete; 1C6DDS, "
                       "1C6POUT, MAIN, HTTP and OEM keep their old images. Run the same update "
                       "again; if 1C3 fails again, the instrument's flash may be faulty: contact "
                       "service with the error number.");
  }
  void driverErrors() {
    QFETCH(QString, fault);
    QFETCH(std::string, errorLine);
    QFETCH(std::string, what);
    QFETCH(std::string, holds);
    std::string path = wx2040_;
    sim::FaultPlan faults;
    if (fault == QLatin1String("missing MAIN")) {
      path = guitest::MakeFirmware(dir_, "no-main.fq", "WX2040", [](sim::FirmwarePlan* plan) {
        sim::FindImagePlan(plan, "MAIN")->omitted = true;
      });
    } else {
      faults.commandFaults.push_back({sim::FaultKind::kFinalReply, sim::SimCommand::kProgram, 1,
                                      "Program NG"});
    }
    auto instrument = guitest::StartInstrument(bus_, "WX2040", "SIMA", sim::FastTiming(), faults);
    QVERIFY(instrument != nullptr);
    QCOMPARE(guitest::WaitForInstruments(Wx2040(), 1, 20000), 1);
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    Open(dlg, prompts, path);
    QCOMPARE(dlg.model().controlState(), FileReady);
    prompts.QueueAnswer(true);
    dlg.OnUpdate();

    QCOMPARE(prompts.Of(PromptRecord::Message).size(), size_t(0));
    // The window's log carries the lines that say what failed and what to do, as the CLI does.
    const std::vector<std::string> expected = {"Connecting ... OK",     kLogWaitingForRestart,
                                               "Updating ... FAILED",   what,
                                               holds,                   "Update was cancelled.",
                                               errorLine,               ""};
    QCOMPARE(Joined(RunLines(dlg)), Joined(expected));
    QCOMPARE(dlg.model().controlState(), FileReady);
    QVERIFY(!Exists(dlg.model().tempPath()));
  }
};

QTEST_MAIN(UpdateRunTest)
#include "update_run_test.moc"

// The Qt window without instruments: how it draws the model's start-up state, the template's
// geometry, the More Info layout, the log, the control states; closing, help, the Qt file filter
// and the application start-up.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTest>
#include <cstdio>

#include "app/qt/app_icon.h"
#include "app/dialog/dialog_template.h"
#include "app/qt/help_viewer.h"
#include "app/qt/qt_prompts.h"
#include "app/dialog/open_file_filter.h"
#include "app/qt/updater_app.h"
#include "app/qt/updater_dlg.h"
#include "gui_test_support.h"

using namespace fg;
using namespace fg::app;
using fg::guitest::PromptRecord;
using fg::guitest::ScriptedPrompts;

namespace {

bool FileExists(const std::string& path) { return QFileInfo::exists(QString::fromStdString(path)); }

bool IsBold(QWidget* w) { return w->font().weight() == QFont::Bold; }

bool FailingSockets() { return false; }

}  // namespace

class DialogTest : public QObject {
  Q_OBJECT

 private:
  fg::guitest::PrivateBus bus_;

 private slots:
  void initTestCase() { InstallFontSubstitutes(); }

  void startState() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    QCOMPARE(dlg.windowTitle(), QStringLiteral("Flintgate 2.04 "));
    QCOMPARE(dlg.height(), 470);
    QCOMPARE(dlg.width(), 495);
    QCOMPARE(dlg.model().controlState(), NoFile);

    // "...", Help and More Info are the only enabled buttons.
    QVERIFY(dlg.Control(IDC_CHOOSE_FILE)->isEnabled());
    QVERIFY(dlg.Control(IDC_HELP_BUTTON)->isEnabled());
    QVERIFY(dlg.Control(IDC_MORE_INFO)->isEnabled());
    QVERIFY(!dlg.Control(IDC_UPDATE)->isEnabled());
    QCOMPARE(static_cast<QPushButton*>(dlg.Control(IDC_MORE_INFO))->text(),
             QStringLiteral("More Info >>"));

    // The log is below the window's lower edge.
    QWidget* log = dlg.Control(IDC_LOG);
    QCOMPARE(log->pos(), QPoint(12, 470));
    QVERIFY(log->geometry().top() >= dlg.height());
    QCOMPARE(dlg.Control(IDC_COPYRIGHT)->pos(), QPoint(12, 420));
    QVERIFY(!static_cast<QLineEdit*>(dlg.Control(IDC_COPYRIGHT))->text().isEmpty());

    QCOMPARE(static_cast<QLineEdit*>(dlg.Control(IDC_METHOD))->text(), QStringLiteral("USB Only"));
    QVERIFY(dlg.Control(IDC_DEVICE)->isVisible());
    QVERIFY(!dlg.Control(IDC_DEVICE_LIST)->isVisible());
    QVERIFY(!dlg.Control(IDC_DEVICE_LIST)->isEnabled());
    QCOMPARE(dlg.model().selectedModel(), nullptr);

    // The fields are the program's to write.
    for (int id : {IDC_COPYRIGHT, IDC_METHOD, IDC_FILE, IDC_MODEL, IDC_REVISION, IDC_DEVICE}) {
      QVERIFY2(static_cast<QLineEdit*>(dlg.Control(id))->isReadOnly(), qPrintable(QString::number(id)));
    }
    QVERIFY(static_cast<QPlainTextEdit*>(dlg.Control(IDC_LOG))->isReadOnly());
    QVERIFY(static_cast<QPlainTextEdit*>(dlg.Control(IDC_DESCRIPTION))->isReadOnly());
  }

  void fontsAndIcon() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    const QFontInfo info(dlg.font());
    QVERIFY2(info.family() == QLatin1String("Arial") || info.family() == QLatin1String("Liberation Sans"),
             qPrintable(info.family()));
    QCOMPARE(dlg.font().pointSize(), 10);

    for (int id : {IDC_CONNECTION_GROUP, IDC_FILE_GROUP, IDC_INFO_GROUP, IDC_UPDATE_GROUP,
                   IDC_HELP_BUTTON, IDC_CHOOSE_FILE, IDC_LOG}) {
      QVERIFY2(IsBold(dlg.Control(id)), qPrintable(QString::number(id)));
    }
    for (int id : {IDC_UPDATE, IDC_MORE_INFO, IDC_FILE, IDC_MODEL, IDC_DEVICE}) {
      QVERIFY2(!IsBold(dlg.Control(id)), qPrintable(QString::number(id)));
    }

    const QList<QSize> sizes = dlg.windowIcon().availableSizes();
    QVERIFY(sizes.contains(QSize(16, 16)));
    QVERIFY(sizes.contains(QSize(32, 32)));
    QVERIFY(!dlg.windowIcon().pixmap(32, 32).isNull());
  }

  // Dialog units become pixels by 7/4 horizontally and 2 vertically.
  void templateGeometry() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    QCOMPARE(dlg.Control(IDC_HELP_BUTTON)->geometry(), QRect(420, 0, 67, 24));
    QCOMPARE(dlg.Control(IDC_FILE)->geometry(), QRect(98, 126, 366, 24));
    QCOMPARE(dlg.Control(IDC_CHOOSE_FILE)->geometry(), QRect(464, 126, 23, 24));
    QCOMPARE(dlg.Control(IDC_SEPARATOR)->geometry(), QRect(9, 406, 478, 2));
    QCOMPARE(dlg.Control(IDC_PROGRESS)->geometry(), QRect(98, 352, 308, 22));
    QCOMPARE(dlg.Control(IDC_LOG)->size(), QSize(478, 140));
    QCOMPARE(dlg.Control(IDC_COPYRIGHT)->size(), QSize(478, 24));
    // The device list lies over the Device field.
    QCOMPARE(dlg.Control(IDC_DEVICE_LIST)->geometry(), dlg.Control(IDC_DEVICE)->geometry());
    // Every id of the template has its control; labels have none.
    for (size_t i = 0; i < kMainDialogTemplate.controlCount; ++i) {
      const int id = kMainDialogTemplate.controls[i].id;
      if (id == IDC_STATIC) continue;
      QVERIFY2(dlg.Control(id) != nullptr, qPrintable(QString::number(id)));
    }
    QCOMPARE(dlg.Control(IDC_STATIC), nullptr);
    QCOMPARE(dlg.Control(1016), nullptr);
  }

  void moreInfoThereAndBack() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* button = static_cast<QPushButton*>(dlg.Control(IDC_MORE_INFO));
    QWidget* log = dlg.Control(IDC_LOG);
    QWidget* copyright = dlg.Control(IDC_COPYRIGHT);
    const QRect separator = dlg.Control(IDC_SEPARATOR)->geometry();
    const QPoint windowPos = dlg.pos();

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(dlg.model().moreInfo());
    QCOMPARE(button->text(), QStringLiteral("More Info <<"));
    QCOMPARE(dlg.height(), 610);
    QCOMPARE(dlg.width(), 495);
    QCOMPARE(log->pos(), QPoint(9, 571 - 140 - 24));
    QCOMPARE(copyright->pos(), QPoint(9, 560));
    QVERIFY(log->geometry().bottom() < dlg.height());
    QVERIFY(log->isVisible());
    QCOMPARE(log->size(), QSize(478, 140));
    QCOMPARE(dlg.Control(IDC_SEPARATOR)->geometry(), separator);

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!dlg.model().moreInfo());
    QCOMPARE(button->text(), QStringLiteral("More Info >>"));
    QCOMPARE(dlg.height(), 470);
    QCOMPARE(dlg.width(), 495);
    QCOMPARE(log->pos(), QPoint(12, 470));
    QCOMPARE(copyright->pos(), QPoint(12, 420));
    QCOMPARE(log->size(), QSize(478, 140));
    QCOMPARE(dlg.Control(IDC_SEPARATOR)->geometry(), separator);
    QCOMPARE(dlg.pos(), windowPos);
  }

  void logOperations() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    auto* log = static_cast<QPlainTextEdit*>(dlg.Control(IDC_LOG));

    dlg.model().AppendLog("Connecting ... ");
    dlg.model().AppendLogLine("OK");
    QCOMPARE(dlg.model().LogText(), std::string("Connecting ... OK\r\n"));
    QCOMPARE(log->toPlainText(), QStringLiteral("Connecting ... OK\n"));

    dlg.model().AppendLogLine("Open File: %s (%d)", "/tmp/a b.fq", 7);
    dlg.model().AppendLogLine("%s", "");
    QCOMPARE(dlg.model().LogText(), std::string("Connecting ... OK\r\nOpen File: /tmp/a b.fq (7)\r\n\r\n"));
    // A per-cent sign in an argument is text, not a format.
    dlg.model().AppendLogLine("%s", "100% done");
    QVERIFY(dlg.model().LogText().find("100% done\r\n") != std::string::npos);

    dlg.model().ClearLog();
    QCOMPARE(dlg.model().LogText(), std::string());
    QCOMPARE(log->toPlainText(), QString());

    // Many lines: the last one is scrolled into view.
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.model().ApplyMoreInfoLayout(true);
    for (int i = 0; i < 60; ++i) dlg.model().AppendLogLine("line %d", i);
    QScrollBar* bar = log->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
  }

  void controlStates_data() {
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("fileButton");
    QTest::addColumn<bool>("update");
    QTest::addColumn<bool>("deviceList");
    QTest::addColumn<bool>("close");
    QTest::newRow("Busy") << int(Busy) << false << false << false << false;
    QTest::newRow("NoFile") << int(NoFile) << true << false << false << true;
    QTest::newRow("FileReady") << int(FileReady) << true << true << true << true;
    QTest::newRow("unknown value") << 7 << false << false << false << false;
  }
  void controlStates() {
    QFETCH(int, state);
    QFETCH(bool, fileButton);
    QFETCH(bool, update);
    QFETCH(bool, deviceList);
    QFETCH(bool, close);
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    // From each other state, so that every control is really switched.
    for (ControlState from : {Busy, NoFile, FileReady}) {
      dlg.model().SetControlState(from);
      dlg.model().SetControlState(static_cast<ControlState>(state));
      QCOMPARE(dlg.Control(IDC_CHOOSE_FILE)->isEnabled(), fileButton);
      QCOMPARE(dlg.Control(IDC_UPDATE)->isEnabled(), update);
      QCOMPARE(dlg.Control(IDC_DEVICE_LIST)->isEnabled(), deviceList);
      QCOMPARE(dlg.windowFlags().testFlag(Qt::WindowCloseButtonHint), close);
      QCOMPARE(dlg.windowHandle()->flags().testFlag(Qt::WindowCloseButtonHint), close);
      QVERIFY(dlg.Control(IDC_HELP_BUTTON)->isEnabled());
      QVERIFY(dlg.Control(IDC_MORE_INFO)->isEnabled());
      // Switching the close button must not take the window down.
      QVERIFY(dlg.isVisible());
    }
  }

  void busyRefusesCloseAndEsc() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.model().SetControlState(Busy);

    QVERIFY(!dlg.close());
    QVERIFY(dlg.isVisible());
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());
    dlg.reject();
    dlg.accept();
    QVERIFY(dlg.isVisible());

    dlg.model().SetControlState(FileReady);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QVERIFY(prompts.records.empty());
  }

  void closeDeletesTheTemporaryFile() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    const std::string temp = dlg.model().tempPath();
    QVERIFY(!temp.empty());
    QVERIFY(temp.size() > 20 && temp.compare(temp.size() - 20, 20, "Flintgate_fw_temp204") == 0);
    // Never beside the program.
    QVERIFY(temp.rfind(dlg.appFolder(), 0) != 0);
    QCOMPARE(QString::fromStdString(dlg.appFolder()),
             QCoreApplication::applicationDirPath() + QLatin1Char('/'));

    std::FILE* f = std::fopen(temp.c_str(), "wb");
    QVERIFY(f != nullptr);
    std::fputs("payload", f);
    std::fclose(f);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(dlg.close());
    QVERIFY(!FileExists(temp));

    // No temporary file: the window closes without any message.
    CUpdaterDlg second(prompts.ops());
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    QVERIFY(second.close());
    QVERIFY(!second.isVisible());
    QVERIFY(prompts.records.empty());
  }

  void helpFileLookup() {
    QTemporaryDir root;
    const QString bin = root.filePath(QStringLiteral("bin"));
    const QString share = root.filePath(QStringLiteral("share/flintgate"));
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(QDir().mkpath(share));
    const QStringList candidates = HelpFileCandidates(bin);
    QVERIFY(candidates.size() >= 2);
    QCOMPARE(candidates[0], bin + QStringLiteral("/FlintgateHelp_204.html"));
    QCOMPARE(candidates[1], share + QStringLiteral("/FlintgateHelp_204.html"));

    // Nothing in either place: whatever is found lies outside this tree.
    QVERIFY(!FindHelpFile(bin).startsWith(root.path()));

    guitest::WriteFile(root, "share/flintgate/FlintgateHelp_204.html", "<html></html>");
    QCOMPARE(FindHelpFile(bin), candidates[1]);
    guitest::WriteFile(root, "bin/FlintgateHelp_204.html", "<html></html>");
    QCOMPARE(FindHelpFile(bin), candidates[0]);
  }

  void helpButtonShowsTheGuide() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY2(!FindHelpFile(QString::fromStdString(dlg.appFolder())).isEmpty(),
             "the guide is copied beside the test program");
    QTest::mouseClick(dlg.Control(IDC_HELP_BUTTON), Qt::LeftButton);
    QVERIFY(dlg.helpWindow() != nullptr);
    QVERIFY(dlg.helpWindow()->isVisible());
    QCOMPARE(dlg.helpWindow()->browser()->documentTitle(), QStringLiteral("Flintgate 2.04 Help"));
    // A second click reuses the window.
    HelpWindow* first = dlg.helpWindow();
    QTest::mouseClick(dlg.Control(IDC_HELP_BUTTON), Qt::LeftButton);
    QCOMPARE(dlg.helpWindow(), first);
    QVERIFY(prompts.records.empty());
  }

  // Every number the window can log is explained in the guide.
  void guideExplainsEveryErrorNumber() {
    QFile file(QStringLiteral(FG_SOURCE_DIR "/resources/help/FlintgateHelp_204.html"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString guide = QString::fromUtf8(file.readAll());
    const char* numbers[] = {"0x0010", "0x0011", "0x0012", "0x0013", "0x0014", "0x0015",
                             "0x0016", "0x0017", "0x0020", "0x0021", "0x0001", "0x0002", "0x0003",
                             "0x0004", "0x0005", "0x0030", "0x0031", "0x0032", "0x0033",
                             "0x0040", "0x0041", "0x10004", "0x10005", "0x10010", "0x10011",
                             "--confirm-model",
                             "0x10006", "0x10008", "0x10009", "0x10101", "0x10102", "0x10201",
                             "0x10202", "0x10B", "0x20B", "60-flintgate.rules",
                             "FLINTGATE_SIMBUS", "make-firmware"};
    for (const char* n : numbers) {
      QVERIFY2(guide.contains(QLatin1String(n)), n);
    }
  }

  void openFileFilter() {
    // The dialog opens on the entry of every model, whose files share one extension; each
    // model's own entry follows, labelled with its own name.
    QCOMPARE(QString::fromStdString(ToQtFilter(BuildCatalogFilter(kModelCatalog))),
             QStringLiteral(
                 "Firmware files of every model (*.fq);;WX2040 (*.fq);;WX2050 (*.fq);;SB7300 (*.fq)"));
    QCOMPARE(BuildCatalogFilter(kModelCatalog),
             std::string("Firmware files of every model|*.fq|WX2040 (*.fq)|*.fq|WX2050 (*.fq)|*.fq|"
                         "SB7300 (*.fq)|*.fq|"));
    QCOMPARE(ToQtFilter("Text|*.txt;*.log|"), std::string("Text (*.txt *.log)"));
    QCOMPARE(ToQtFilter("A (*.a)|*.a|B (*.b)|*.b|"), std::string("A (*.a);;B (*.b)"));
    QCOMPARE(ToQtFilter("A (*.a)|*.a|B only"), std::string("A (*.a)"));
    QCOMPARE(ToQtFilter(""), std::string());
  }

  // Cancelling the Open File dialog empties the log and changes nothing else.
  void cancelledFileDialog() {
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    dlg.model().AppendLogLine("old line");
    QTest::mouseClick(dlg.Control(IDC_CHOOSE_FILE), Qt::LeftButton);
    QCOMPARE(dlg.model().LogText(), std::string());
    QCOMPARE(prompts.records.size(), size_t(1));
    QVERIFY(prompts.records[0].kind == PromptRecord::OpenFile);
    QCOMPARE(prompts.records[0].text, BuildCatalogFilter(kModelCatalog));
    QCOMPARE(dlg.model().controlState(), NoFile);
    QCOMPARE(static_cast<QLineEdit*>(dlg.Control(IDC_FILE))->text(), QString());
  }

  void socketStartupFailure() {
    ScriptedPrompts prompts;
    CUpdaterApp app(prompts.ops(), FailingSockets);
    QVERIFY(!app.InitInstance());
    QVERIFY(!app.dialogRan());
    QCOMPARE(prompts.records.size(), size_t(1));
    QVERIFY(prompts.records[0].kind == PromptRecord::Message);
    QVERIFY(prompts.records[0].text.rfind("Windows sockets ", 0) == 0);
  }
};

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"

// Opening firmware files in the window: every acceptance and rejection, seen on the fields, the
// control state, the boxes and the log.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include "app/dialog/dialog_template.h"
#include "app/qt/updater_dlg.h"
#include "gui_test_support.h"
#include "sequence/file_selection.h"

using namespace fg;
using namespace fg::app;
using fg::guitest::LogLines;
using fg::guitest::PromptRecord;
using fg::guitest::ScriptedPrompts;

Q_DECLARE_METATYPE(std::string)

namespace {

QString Text(CUpdaterDlg& dlg, int id) {
  if (id == IDC_DESCRIPTION) {
    return static_cast<QPlainTextEdit*>(dlg.Control(id))->toPlainText();
  }
  return static_cast<QLineEdit*>(dlg.Control(id))->text();
}

std::string Header(const std::string& model, const std::string& imageRev,
                   const std::string& utilityRev, const std::string& extra = "") {
  std::string h;
  if (!model.empty()) h += "# ModelName = " + model + "\n";
  if (!imageRev.empty()) h += "# ImageRev = " + imageRev + "\n";
  if (!utilityRev.empty()) h += "# UtilityRev = " + utilityRev + "\n";
  h += "# UpdatedDescription = Test firmware\n";
  h += extra;
  h += "# FileStart\n";
  h += std::string("\x01\x02payload", 9);
  return h;
}

}  // namespace

class FileSelectionTest : public QObject {
  Q_OBJECT

 private:
  fg::guitest::PrivateBus bus_;  // an empty bus: no instrument is ever found here
  QTemporaryDir dir_;

 private slots:
  void accepted_data() {
    QTest::addColumn<std::string>("content");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("revision");
    QTest::newRow("plain") << Header("WX2040", "1.05", "2.04") << "WX2040" << "1.05";
    QTest::newRow("lower-case model") << Header("wx2050", "1.10", "2.04") << "WX2050" << "1.10";
    QTest::newRow("model without updater") << Header("SB7300", "3.00", "2.04") << "SB7300"
                                           << "3.00";
    QTest::newRow("utility 2.4") << Header("WX2040", "1.0", "2.4") << "WX2040" << "1.0";
    QTest::newRow("utility 1.99") << Header("WX2040", "1.0", "1.99") << "WX2040" << "1.0";
    QTest::newRow("utility 2") << Header("WX2040", "1.0", "2") << "WX2040" << "1.0";
    QTest::newRow("utility 2.00B") << Header("WX2040", "1.0", "2.00B") << "WX2040" << "1.0";
    QTest::newRow("no utility") << Header("WX2040", "1.0", "") << "WX2040" << "1.0";
    QTest::newRow("revision upper-cased") << Header("WX2040", "1.05b", "2.04") << "WX2040"
                                          << "1.05B";
    QTest::newRow("no revision") << Header("WX2040", "", "2.04") << "WX2040" << "";
    QTest::newRow("no FileStart") << std::string("# ModelName = WX2050\n# ImageRev = 2.0\n")
                                  << "WX2050" << "2.0";
  }
  void accepted() {
    QFETCH(std::string, content);
    QFETCH(QString, model);
    QFETCH(QString, revision);
    const std::string path = guitest::WriteFile(dir_, "accepted.fq", content);
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    prompts.QueueFile(path);
    QTest::mouseClick(dlg.Control(IDC_CHOOSE_FILE), Qt::LeftButton);

    QCOMPARE(dlg.model().controlState(), FileReady);
    QVERIFY(dlg.Control(IDC_UPDATE)->isEnabled());
    QCOMPARE(Text(dlg, IDC_FILE), QString::fromStdString(path));
    QCOMPARE(Text(dlg, IDC_MODEL), model);
    QCOMPARE(Text(dlg, IDC_REVISION), revision);
    QVERIFY(dlg.model().selectedModel() != nullptr);
    QCOMPARE(QString::fromLatin1(dlg.model().selectedModel()->name), model);
    QCOMPARE(prompts.Of(PromptRecord::Message).size(), size_t(0));
    // Exactly one line: the path.
    QCOMPARE(dlg.model().LogText(), "Open File: " + path + "\r\n");
    // No instrument on this bus: nothing to choose from.
    QVERIFY(dlg.Control(IDC_DEVICE)->isVisibleTo(&dlg));
    QVERIFY(!dlg.Control(IDC_DEVICE_LIST)->isVisibleTo(&dlg));
  }

  void descriptionKeepsItsText() {
    const std::string path = guitest::WriteFile(
        dir_, "description.fq",
        "# ModelName = WX2040\n#UpdatedDescription=  Fixes the Sweep mode  \n# FileStart\n");
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    prompts.QueueFile(path);
    dlg.OnChooseFile();
    QCOMPARE(dlg.model().controlState(), FileReady);
    QCOMPARE(Text(dlg, IDC_DESCRIPTION), QStringLiteral("  Fixes the Sweep mode  "));

    // A file with CR LF line ends: the carriage return stays in the header record but is no
    // text to show.
    const std::string crlf = guitest::WriteFile(
        dir_, "crlf.fq", "# ModelName = WX2050\r\n# UpdatedDescription = Line one\r\n# FileStart\r\n");
    prompts.QueueFile(crlf);
    dlg.OnChooseFile();
    QCOMPARE(dlg.model().controlState(), FileReady);
    QCOMPARE(std::string(dlg.model().header().UpdatedDescription), std::string(" Line one\r"));
    QCOMPARE(Text(dlg, IDC_DESCRIPTION), QStringLiteral(" Line one"));
    QCOMPARE(Text(dlg, IDC_MODEL), QStringLiteral("WX2050"));
  }

  void rejected_data() {
    QTest::addColumn<std::string>("content");
    QTest::addColumn<QString>("errorLine");
    QTest::newRow("ImageRev too long")
        << Header("WX2040", std::string(16, '1'), "2.04") << "Error number: 0x0010";
    QTest::newRow("ModelName too long")
        << Header(std::string(64, 'W'), "1.0", "2.04") << "Error number: 0x0011";
    QTest::newRow("RevsNotSupport too long")
        << Header("WX2040", "1.0", "2.04", "# RevsNotSupport = " + std::string(16, '1') + "\n")
        << "Error number: 0x0012";
    QTest::newRow("description too long")
        << Header("WX2040", "1.0", "2.04", "# UpdatedDescription = " + std::string(512, 'd') + "\n")
        << "Error number: 0x0013";
    QTest::newRow("UtilityRev too long")
        << Header("WX2040", "1.0", std::string(16, '2')) << "Error number: 0x0014";
    QTest::newRow("unknown model") << Header("WX9999", "1.0", "2.04") << "Error number: 0x0015";
    QTest::newRow("no model") << Header("", "1.0", "2.04") << "Error number: 0x0015";
    QTest::newRow("not a firmware file") << std::string("hello\nworld\n") << "Error number: 0x0015";
    QTest::newRow("blank in revision") << Header("WX2040", "1.05 B", "2.04") << "Error number: 0x0020";
    QTest::newRow("hyphen in revision") << Header("WX2040", "V1-05", "2.04") << "Error number: 0x0020";
    QTest::newRow("foreign utility char") << Header("WX2040", "1.0", "2,04") << "Error number: 0x0020";
    QTest::newRow("utility 2.05") << Header("WX2040", "1.0", "2.05") << "Error number: 0x0021";
    QTest::newRow("utility 2.10") << Header("WX2040", "1.0", "2.10") << "Error number: 0x0021";
    QTest::newRow("utility 3.0") << Header("WX2040", "1.0", "3.0") << "Error number: 0x0021";
    QTest::newRow("utility 10.1") << Header("WX2040", "1.0", "10.1") << "Error number: 0x0021";
  }
  // A rejected file after an accepted one: the fields are emptied, no model is selected and the
  // window is back in NoFile, so that Update cannot pair the old header with the new payload.
  void rejected() {
    QFETCH(std::string, content);
    QFETCH(QString, errorLine);
    const std::string good = guitest::WriteFile(dir_, "good.fq", Header("WX2040", "1.05", "2.04"));
    const std::string bad = guitest::WriteFile(dir_, "bad.fq", content);
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    prompts.QueueFile(good);
    prompts.QueueFile(bad);
    dlg.OnChooseFile();
    QCOMPARE(dlg.model().controlState(), FileReady);
    dlg.OnChooseFile();

    const auto boxes = prompts.Of(PromptRecord::Message);
    QCOMPARE(boxes.size(), size_t(1));
    QCOMPARE(boxes[0].text, std::string("The firmware revision file is corrupted."));
    QCOMPARE(boxes[0].caption, std::string("Error"));
    QVERIFY(boxes[0].icon == BoxIcon::Error);
    const auto lines = LogLines(dlg.model().LogText());
    // The third line says which rule refused the file (its texts are the core's, tested there).
    QCOMPARE(lines.size(), size_t(3));
    QCOMPARE(lines[0], "Open File: " + bad);
    QCOMPARE(QString::fromStdString(lines[1]), errorLine);

    QCOMPARE(dlg.model().controlState(), NoFile);
    QVERIFY(!dlg.Control(IDC_UPDATE)->isEnabled());
    QVERIFY(dlg.Control(IDC_CHOOSE_FILE)->isEnabled());
    QCOMPARE(dlg.model().selectedModel(), nullptr);
    for (int id : {IDC_FILE, IDC_MODEL, IDC_REVISION, IDC_DESCRIPTION}) {
      QVERIFY2(Text(dlg, id).isEmpty(), qPrintable(QString::number(id)));
    }
  }

  // A file that cannot be opened changes nothing but the log.
  void cannotOpen() {
    const std::string good = guitest::WriteFile(dir_, "kept.fq", Header("WX2050", "1.10", "2.04"));
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    prompts.QueueFile(good);
    dlg.OnChooseFile();
    const std::string missing = dir_.filePath(QStringLiteral("gone.fq")).toStdString();
    prompts.QueueFile(missing);
    dlg.OnChooseFile();

    const auto boxes = prompts.Of(PromptRecord::Message);
    QCOMPARE(boxes.size(), size_t(1));
    QCOMPARE(boxes[0].text, std::string("Can't open file."));
    QCOMPARE(boxes[0].caption, std::string("Error"));
    QCOMPARE(dlg.model().LogText(), "Open File: " + missing + "\r\n" +
                                CantOpenFileLine("there is no such file") + "\r\n");
    QCOMPARE(dlg.model().controlState(), FileReady);
    QCOMPARE(Text(dlg, IDC_FILE), QString::fromStdString(good));
    QCOMPARE(Text(dlg, IDC_MODEL), QStringLiteral("WX2050"));
    QVERIFY(dlg.model().selectedModel() != nullptr);
  }

  // A second accepted file replaces the first in every field.
  void secondFileReplacesFirst() {
    const std::string first = guitest::WriteFile(dir_, "first.fq", Header("WX2040", "1.05", "2.04"));
    const std::string second = guitest::WriteFile(dir_, "second.fq", Header("WX2050", "", "2.04"));
    ScriptedPrompts prompts;
    CUpdaterDlg dlg(prompts.ops());
    prompts.QueueFile(first);
    prompts.QueueFile(second);
    dlg.OnChooseFile();
    dlg.OnChooseFile();
    QCOMPARE(dlg.model().controlState(), FileReady);
    QCOMPARE(Text(dlg, IDC_FILE), QString::fromStdString(second));
    QCOMPARE(Text(dlg, IDC_MODEL), QStringLiteral("WX2050"));
    QCOMPARE(Text(dlg, IDC_REVISION), QString());
    QCOMPARE(dlg.model().LogText(), "Open File: " + second + "\r\n");
  }
};

QTEST_MAIN(FileSelectionTest)
#include "file_selection_test.moc"

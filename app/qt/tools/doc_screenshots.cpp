// Takes the screenshots of the user documentation: the real window against a simulated WX2040
// on a private bus, with the prompts answered by the program itself.
//   xvfb-run -a flintgate-doc-screenshots <folder>
// Writes window-start.png, window-file-accepted.png, window-updating.png (More Info open, the
// bar half way), window-completed.png and help-window.png.
#include <stdlib.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/dialog/dialog_template.h"
#include "app/qt/help_viewer.h"
#include "app/qt/updater_app.h"
#include "app/qt/updater_dlg.h"
#include "sim/firmware_maker.h"
#include "sim/sim_instrument.h"

namespace {

struct Answers {
  std::string file;
};

void NoBox(void*, void*, const char* text, const char*, fg::BoxIcon) {
  std::fprintf(stderr, "box: %s\n", text);
}
bool Yes(void*, void*, const char*, const char*) { return true; }
bool PickFile(void* owner, void*, const std::string&, std::string* path) {
  *path = static_cast<Answers*>(owner)->file;
  return true;
}

bool Save(QWidget* w, const QDir& folder, const char* name) {
  const QString path = folder.filePath(QString::fromLatin1(name));
  QApplication::processEvents();
  if (!w->grab().save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("wrote %s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: flintgate-doc-screenshots <folder>\n");
    return 2;
  }
  char scratch[] = "/tmp/flintgate-docs-XXXXXX";
  if (mkdtemp(scratch) == nullptr) return 1;
  const std::string bus = std::string(scratch) + "/bus";
  mkdir(bus.c_str(), 0700);
  setenv("FLINTGATE_SIMBUS", bus.c_str(), 1);

  QApplication app(argc, argv);
  fg::app::InstallFontSubstitutes();
  const QDir out(QString::fromLocal8Bit(argv[1]));
  int status = 1;
  {
    const fg::sim::SimFamily& family = *fg::sim::FindSimFamily("WX2040");
    fg::sim::InstrumentSetup setup;
    setup.family = &family;
    setup.serial = "LAB2040A";
    setup.timing = fg::sim::FastTiming();
    std::string error;
    auto instrument =
        fg::sim::SimInstrument::Start(setup, fg::sim::FlashStore(family), bus, &error);
    Answers answers{std::string(scratch) + "/WX2040_210.fq"};
    fg::sim::FirmwarePlan plan = fg::sim::DefaultFirmwarePlan(family);
    plan.header.description = "Adds the burst sweep mode and fixes the sync output delay.";
    if (instrument == nullptr || !instrument->WaitOnBus(fg::sim::FirmwareMode::kNormal, 20000) ||
        !fg::sim::WriteFirmwareFile(plan, answers.file, &error)) {
      std::fprintf(stderr, "cannot set up the simulated instrument: %s\n", error.c_str());
    } else {
      const fg::app::PromptOps prompts = {&answers, NoBox, Yes, PickFile, nullptr, nullptr, nullptr};
      fg::app::CUpdaterDlg dlg(&prompts);
      dlg.show();
      bool ok = Save(&dlg, out, "window-start.png");
      dlg.OnChooseFile();
      ok = ok && Save(&dlg, out, "window-file-accepted.png");
      dlg.OnMoreInfo();

      auto* bar = static_cast<QProgressBar*>(dlg.Control(fg::app::IDC_PROGRESS));
      bool midway = false;
      QObject::connect(bar, &QProgressBar::valueChanged, &dlg, [&](int value) {
        if (!midway && value >= 50) {
          midway = true;
          ok = Save(&dlg, out, "window-updating.png") && ok;
        }
      });
      dlg.OnUpdate();
      ok = ok && midway && Save(&dlg, out, "window-completed.png");
      dlg.OnHelpButton();
      ok = ok && dlg.helpWindow() != nullptr && Save(dlg.helpWindow(), out, "help-window.png");
      status = ok ? 0 : 1;
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  return status;
}

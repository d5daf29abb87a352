// Saves a picture of the whole screen of the X display as PNG, after a delay:
//   flintgate-screengrab <file.png> [delay-ms]
// scripts/gui.sh uses it to record the window when it runs under a virtual display.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: flintgate-screengrab <file.png> [delay-ms]\n");
    return 2;
  }
  const long delayMs = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
  if (delayMs > 0) QThread::msleep(static_cast<unsigned long>(delayMs));
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    std::fprintf(stderr, "no screen\n");
    return 1;
  }
  const QPixmap shot = screen->grabWindow(0);
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "cannot save %s\n", argv[1]);
    return 1;
  }
  return 0;
}

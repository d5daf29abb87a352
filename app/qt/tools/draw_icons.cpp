// Writes the program icon's PNG files (16, 32, 48 and 128 pixels) into a folder:
//   flintgate-draw-icons <folder>
// The committed files under resources/icons come from this tool.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

#include "app/qt/app_icon.h"

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: flintgate-draw-icons <folder>\n");
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  for (int size : {16, 32, 48, 128}) {
    const QString path = folder.filePath(QStringLiteral("flintgate-%1.png").arg(size));
    if (!fg::app::DrawAppIcon(size).save(path, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}

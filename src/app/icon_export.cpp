// Run by the build: writes the program icon as the PNG files of the hicolor
// icon theme, DIR/SIZExSIZE/apps/quillmere.png, for the installation.
//
//   quillmere-icon-export DIR
#include <QDir>
#include <QString>
#include <cstdio>

#include "app/icons.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: quillmere-icon-export DIR\n", stderr);
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString dir = QString("%1/%2x%2/apps").arg(root).arg(size);
    if (!QDir().mkpath(dir) || !qm::ProgramIconImage(size).save(dir + "/quillmere.png", "PNG")) {
      std::fprintf(stderr, "quillmere-icon-export: cannot write %s\n", qPrintable(dir));
      return 1;
    }
  }
  return 0;
}

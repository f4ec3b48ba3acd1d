#include "app/screenshots.h"

#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "app/builder.h"
#include "app/shutdown.h"

#include "app/settings_window.h"
#include "app/rating_page_window.h"

namespace qm {
namespace {

template <class W>
void PictureOwnedWindow(QWidget* owner, const std::string& dir) {
  auto* window = new W(owner);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->show();
  QTimer::singleShot(800, window, [window, dir] {
    SaveWindowPicture(window, dir);
    window->close();
  });
}

}  // namespace

bool SaveWindowPicture(QWidget* window, const std::string& dir) {
  QDir().mkpath(Q(dir));
  const QString path = QDir(Q(dir)).filePath(window->objectName() + ".png");
  const bool ok = window->grab().save(path, "PNG");
  std::fprintf(stderr, "quillmere: %s %s\n", ok ? "saved" : "could not save", path.toUtf8().constData());
  return ok;
}

void ScheduleWindowPictures(QWidget* mainWindow, const std::string& dir, int settleMs) {
  int at = settleMs;
  QTimer::singleShot(at, mainWindow, [mainWindow, dir] { SaveWindowPicture(mainWindow, dir); });
  at += 200;
  QTimer::singleShot(at, mainWindow, [mainWindow, dir] { PictureOwnedWindow<SettingsWindow>(mainWindow, dir); });
  at += 1200;
  at += 200;
  QTimer::singleShot(at, mainWindow, [mainWindow, dir] { PictureOwnedWindow<RatingPageWindow>(mainWindow, dir); });
  at += 2500;
  QTimer::singleShot(at + 200, mainWindow, [] { EndProgram(0); });
}

}  // namespace qm

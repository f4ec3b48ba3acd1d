#include "app/screenshots.h"

#include <QCursor>
#include <QDir>
#include <QTreeView>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "app/builder.h"
#include "app/main_window.h"
#include "app/shutdown.h"

#include "app/settings_window.h"
#include "app/rating_log_window.h"
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

bool SaveWindowPicture(QWidget* window, const std::string& dir, const QString& name) {
  QDir().mkpath(Q(dir));
  const QString path = QDir(Q(dir)).filePath((name.isEmpty() ? window->objectName() : name) + ".png");
  const bool ok = window->grab().save(path, "PNG");
  std::fprintf(stderr, "quillmere: %s %s\n", ok ? "saved" : "could not save", path.toUtf8().constData());
  return ok;
}

void ScheduleWindowPictures(MainWindow* mainWindow, const std::string& dir, const std::string& answerTid,
                            int settleMs) {
  // Each step starts when the one before has returned: an answer waits for
  // the marketplace inside its own call.
  auto others = [mainWindow, dir] {
    QTimer::singleShot(200, mainWindow, [mainWindow, dir] { PictureOwnedWindow<SettingsWindow>(mainWindow, dir); });
    QTimer::singleShot(1600, mainWindow, [mainWindow, dir] { PictureOwnedWindow<RatingPageWindow>(mainWindow, dir); });
    QTimer::singleShot(4300, mainWindow, [mainWindow, dir] { PictureOwnedWindow<RatingLogWindow>(mainWindow, dir); });
    QTimer::singleShot(5500, mainWindow, [] { EndProgram(0); });
  };
  QTimer::singleShot(settleMs, mainWindow, [mainWindow, dir, answerTid, others] {
    SaveWindowPicture(mainWindow, dir);
    // The title bar alone: the status line at the width it has.
    QDir().mkpath(Q(dir));
    mainWindow->grab(QRect(0, 0, mainWindow->width(), 44)).save(QDir(Q(dir)).filePath("StatusLine.png"), "PNG");
    OrderRows& rows = mainWindow->Book().BuyerRated();
    const int row = rows.Find(answerTid);
    if (answerTid.empty() || row < 0) {
      others();
      return;
    }
    QTreeView* list = mainWindow->BuyerRatedList().Widget();
    const QModelIndex index = list->model()->index(row, 0);
    list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    // The notice opens at the pointer's height, as after a real double-click.
    QCursor::setPos(list->viewport()->mapToGlobal(list->visualRect(index).center()));
    emit list->doubleClicked(index);
    QTimer::singleShot(300, mainWindow, [mainWindow, dir, others] {
      SaveWindowPicture(mainWindow, dir, "MainWindow-answer");
      others();
    });
  });
}

}  // namespace qm

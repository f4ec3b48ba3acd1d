#include "tools/window_driver.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <cstring>

#include "app/builder.h"

namespace qm::tools {
namespace {

// How long each window is given to paint (a web page to load) before its picture.
constexpr int kDialogSettleMs = 300;
constexpr int kBoxSettleMs = 400;
constexpr int kOwnedWindowSettleMs = 800;
constexpr int kLoginPageSettleMs = 3000;
constexpr int kMainWindowSettleMs = 1500;
// Between the main window's steps: the last one's results have painted.
constexpr int kStepGapMs = 300;
// The main window's title strip: the status line at the width it has.
constexpr int kStatusLineHeight = 44;

// A control of the window by its catalogue name, clicked as the mouse would.
void Click(QWidget* window, const char* name) {
  if (auto* button = Control<QPushButton>(window, name)) button->click();
}

QModelIndex FindRow(QAbstractItemModel* model, const QString& text) {
  for (int row = 0; row < model->rowCount(); ++row)
    for (int column = 0; column < model->columnCount(); ++column)
      if (model->index(row, column).data().toString() == text) return model->index(row, 0);
  return {};
}

}  // namespace

bool TakeDriveOptions(int& argc, char** argv, DriveOptions* options, QString* error) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    QString* target = std::strcmp(a, "--pictures") == 0 ? &options->picturesDir
                      : std::strcmp(a, "--answer") == 0  ? &options->answerTid
                      : std::strcmp(a, "--choose") == 0  ? &options->chooseNick
                                                         : nullptr;
    if (target != nullptr) {
      if (i + 1 >= argc) {
        *error = QString::fromUtf8(a) + " needs a value";
        return false;
      }
      *target = QString::fromUtf8(argv[++i]);
    } else if (std::strcmp(a, "--report") == 0) {
      options->report = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  return true;
}

QString WindowName(const QWidget* window) {
  if (const auto* box = qobject_cast<const QMessageBox*>(window)) {
    return box->icon() == QMessageBox::Question  ? "QuestionBox"
           : box->icon() == QMessageBox::Warning ? "WarningBox"
                                                 : "InformationBox";
  }
  return window->objectName();
}

bool SaveWindowPicture(QWidget* window, const QString& dir, const QString& name) {
  QDir().mkpath(dir);
  const QString path = QDir(dir).filePath(name + ".png");
  const bool ok = window->grab().save(path, "PNG");
  std::fprintf(stderr, "quillmere-drive: %s %s\n", ok ? "saved" : "could not save", path.toUtf8().constData());
  return ok;
}

WindowDriver::WindowDriver(DriveOptions options) : options_(std::move(options)) { clock_.start(); }

void WindowDriver::Report(const QString& line) {
  if (!options_.report) return;
  std::printf("%s %lld ms\n", line.toUtf8().constData(), static_cast<long long>(clock_.elapsed()));
  std::fflush(stdout);
}

bool WindowDriver::eventFilter(QObject* watched, QEvent* event) {
  if (!watched->isWidgetType()) return false;
  auto* widget = static_cast<QWidget*>(watched);
  switch (event->type()) {
    case QEvent::Show:
      if (widget->isWindow()) Shown(widget);
      if (widget->objectName() == "忙碌说明") busyShown_ = true;
      break;
    case QEvent::Hide:
      // The busy picture goes once the first load, its refresh and its first pass are done.
      if (busyShown_ && widget->objectName() == "忙碌说明") {
        busyShown_ = false;
        Report("loaded");
      }
      break;
    case QEvent::Paint:
      if (widget->isWindow() && seen_.count(widget) != 0 && painted_.insert(widget).second) FirstPainted(widget);
      break;
    case QEvent::Destroy:
      seen_.erase(widget);
      painted_.erase(widget);
      break;
    default:
      break;
  }
  return false;
}

void WindowDriver::FirstPainted(QWidget* window) {
  if (!WindowName(window).isEmpty()) Report("painted " + WindowName(window));
}

void WindowDriver::Shown(QWidget* window) {
  const bool first = seen_.insert(window).second;
  const QString name = WindowName(window);
  if (!name.isEmpty()) Report("shown " + name);
  const QString dir = options_.picturesDir;
  if (name == "AccountDialog" && !accountChosen_ && (Picturing() || !options_.chooseNick.isEmpty())) {
    accountChosen_ = true;
    // As the seller: the account typed into the box, then "登  录".
    QTimer::singleShot(Picturing() ? kDialogSettleMs : 0, window, [this, window, dir] {
      if (Picturing()) SaveWindowPicture(window, dir, "AccountDialog");
      if (options_.chooseNick.isEmpty()) return;
      if (auto* box = Control<QComboBox>(window, "组合框1")) box->setEditText(options_.chooseNick);
      Click(window, "超级按钮2");
    });
  } else if (name == "MainWindow" && first && !mainSeen_ && Picturing()) {
    mainSeen_ = true;
    QTimer::singleShot(kMainWindowSettleMs, window, [this, window] { MainWindowSettled(window); });
  } else if (!Picturing()) {
    // Only boxes need an answer when nothing is pictured: the end's question.
    if (finishing_ && qobject_cast<QMessageBox*>(window) != nullptr) {
      auto* box = static_cast<QMessageBox*>(window);
      QTimer::singleShot(0, box, [box] {
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
      });
    }
  } else if (name == "AuthWindow") {
    // The login window's picture once its page has loaded; then its "×".
    QTimer::singleShot(kLoginPageSettleMs, window, [window, dir] {
      SaveWindowPicture(window, dir, "AuthWindow");
      Click(window, "超级按钮1");
    });
  } else if (auto* box = qobject_cast<QMessageBox*>(window)) {
    // A box is answered with its default button.
    const QString picture = answering_ && box->icon() == QMessageBox::Question ? "AnswerQuestion" : name;
    if (picture != name) answering_ = false;
    QTimer::singleShot(kBoxSettleMs, box, [box, dir, name = picture] {
      SaveWindowPicture(box, dir, name);
      if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
    });
  } else if (name == "AccountSetupDialog") {
    // The first start's form is closed with its "×", which goes back to the
    // account box; its "×" ends the program.
    QTimer::singleShot(kBoxSettleMs, window, [window, dir] {
      SaveWindowPicture(window, dir, "AccountSetupDialog");
      QPointer<QWidget> accounts = window->parentWidget();
      Click(window, "超级按钮2");
      if (accounts) {
        QTimer::singleShot(kBoxSettleMs, accounts, [accounts] { Click(accounts, "超级按钮1"); });
      }
    });
  } else if (name == "SettingsWindow") {
    // Then its second page, 更多设置, which runs its own loop until pictured and closed.
    QTimer::singleShot(kOwnedWindowSettleMs, window, [window, dir, name] {
      SaveWindowPicture(window, dir, name);
      Click(window, "更多设置按钮");
      window->close();
    });
  } else if (name == "RunSettingsWindow") {
    // Then its own page, 提醒设置, the same way.
    QTimer::singleShot(kOwnedWindowSettleMs, window, [window, dir, name] {
      SaveWindowPicture(window, dir, name);
      Click(window, "提醒设置按钮");
      window->close();
    });
  } else if (name == "RatingLogWindow") {
    // Then its 统计, the same way.
    QTimer::singleShot(kOwnedWindowSettleMs, window, [window, dir, name] {
      SaveWindowPicture(window, dir, name);
      Click(window, "统计按钮");
      window->close();
    });
  } else if (name == "AlertSettingsWindow" || name == "RatingPageWindow" || name == "StatsWindow" ||
             name == "AlertListWindow") {
    QTimer::singleShot(kOwnedWindowSettleMs, window, [window, dir, name] {
      SaveWindowPicture(window, dir, name);
      window->close();
    });
  }
}

void WindowDriver::MainWindowSettled(QWidget* main) {
  const QString dir = options_.picturesDir;
  SaveWindowPicture(main, dir, "MainWindow");
  main->grab(QRect(0, 0, main->width(), kStatusLineHeight)).save(QDir(dir).filePath("StatusLine.png"), "PNG");
  // Each step starts when the one before has returned: a window opened from
  // the main window runs its own loop until the driver closes it.
  if (!options_.answerTid.isEmpty()) {
    steps_.push_back([this, main] { AnswerOrder(main); });
    // The answer's question was answered meanwhile; the notice is up now.
    steps_.push_back([main, dir] { SaveWindowPicture(main, dir, "MainWindow-answer"); });
  }
  // The unread alerts, when there are any.
  steps_.push_back([main] {
    if (auto* alerts = Control<QPushButton>(main, "差评提醒按钮"); alerts != nullptr && alerts->isVisible()) alerts->click();
  });
  steps_.push_back([main] { Click(main, "超级按钮4"); });
  steps_.push_back([main] { FindMenuItem(FindMenu(main, "空白右键"), "打开评价窗口")->trigger(); });
  steps_.push_back([main] { FindMenuItem(FindMenu(main, "托盘右键"), "评价记录")->trigger(); });
  steps_.push_back([this, main] {
    finishing_ = true;
    FindMenuItem(FindMenu(main, "托盘右键"), "退出")->trigger();
  });
  RunSteps();
}

void WindowDriver::RunSteps() {
  if (steps_.empty()) return;
  QTimer::singleShot(kStepGapMs, this, [this] {
    auto step = steps_.front();
    steps_.erase(steps_.begin());
    step();
    RunSteps();
  });
}

void WindowDriver::AnswerOrder(QWidget* main) {
  auto* list = Control<QTreeView>(main, "超级列表框2");
  const QModelIndex index = list ? FindRow(list->model(), options_.answerTid) : QModelIndex();
  if (!index.isValid()) {
    std::fprintf(stderr, "quillmere-drive: order %s is not in the buyer-rated list\n",
                 options_.answerTid.toUtf8().constData());
    return;
  }
  list->scrollTo(index);
  list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  // The notice opens at the pointer's height, as after a real double-click.
  const QPoint at = list->visualRect(index).center();
  QCursor::setPos(list->viewport()->mapToGlobal(at));
  // A double-click is a click and then the second press.
  answering_ = true;
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

void InstallWindowDriver(const DriveOptions& options) {
  auto* driver = new WindowDriver(options);
  driver->setParent(qApp);
  qApp->installEventFilter(driver);
}

}  // namespace qm::tools

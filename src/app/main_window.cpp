#include "app/main_window.h"

#include <QCloseEvent>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QWebEngineProfile>

#include "app/account_dialog.h"
#include "app/auth_window.h"
#include "app/builder.h"
#include "app/icons.h"
#include "app/shutdown.h"
#include "rating/startup.h"
#include "settings/app_session.h"
#include "settings/config.h"

#include "app/settings_window.h"
#include "rating/schedule.h"
#include "orders/sync.h"

namespace qm {

MainWindow::MainWindow() : autoTimer_(nullptr), refreshTimer_(nullptr) {
  BuildWindow(this, MainWindowLayout());
  unratedList_ = std::make_unique<QtOrderList>(Control<QTreeView>(this, "超级列表框1"), book_.Unrated());
  buyerRatedList_ = std::make_unique<QtOrderList>(Control<QTreeView>(this, "超级列表框2"), book_.BuyerRated());
  QTimer* timer1 = FindTimer(this, "时钟1");
  QTimer* timer2 = FindTimer(this, "时钟2");
  autoTimer_ = QtTimer(timer1);
  refreshTimer_ = QtTimer(timer2);
  title_ = Control<QLabel>(this, "标签5");
  status_ = Control<QLabel>(this, "标签3");
  notice_ = FindControl(this, "外形框3");
  noticeTitle_ = Control<QLabel>(this, "标签6");
  noticeBody_ = Control<QLabel>(this, "标签7");
  noticeClose_ = Control<QLabel>(this, "标签8");
  busy_ = FindControl(this, "图片框2");

  title_->setText("Quillmere 淘宝自动评价");
  title_->setStyleSheet("color: #ffffff;");
  status_->setStyleSheet("color: #e8f2ff;");
  for (const char* name : {"超级按钮1", "超级按钮2"}) Control<QPushButton>(this, name)->setStyleSheet("color: #ffffff;");
  noticeTitle_->setAlignment(Qt::AlignCenter);
  noticeBody_->setAlignment(Qt::AlignCenter);
  noticeBody_->setWordWrap(true);
  noticeClose_->setAlignment(Qt::AlignCenter);

  connect(Control<QPushButton>(this, "超级按钮2"), &QPushButton::clicked, this, &MainWindow::HideToTray);
  connect(Control<QPushButton>(this, "超级按钮1"), &QPushButton::clicked, this, &MainWindow::HideToTray);
  connect(Control<QPushButton>(this, "超级按钮4"), &QPushButton::clicked, this, &MainWindow::OpenSettings);

  // The notice box: its title and body drag it, "×" closes it.
  MakeDragHandle(noticeTitle_, notice_);
  MakeDragHandle(noticeBody_, notice_);
  noticeClose_->installEventFilter(this);

  QMenu* trayMenu = Menu("托盘右键");
  connect(FindMenuItem(trayMenu, "显示"), &QAction::triggered, this, [this] {
    showNormal();
    raise();
    activateWindow();
  });
  connect(FindMenuItem(trayMenu, "隐藏"), &QAction::triggered, this, &MainWindow::HideToTray);
  connect(FindMenuItem(trayMenu, "退出"), &QAction::triggered, this, &MainWindow::ConfirmExit);
  // The items of 表一鼠标右键, 表二鼠标右键 and 空白右键 belong to the order lists' actions.

  connect(timer1, &QTimer::timeout, this, [] { RunAutoRatingPass(); });
  connect(timer2, &QTimer::timeout, this, [] { refresh_cycle(); });

  tray_ = new QSystemTrayIcon(TrayIcon(), this);
  connect(tray_, &QSystemTrayIcon::activated, this, &MainWindow::OnTrayActivated);

  view_.autoTimer = &autoTimer_;
  view_.refreshTimer = &refreshTimer_;
  view_.prompts = &prompts_;
  view_.setStatus = [this](const std::string& text) {
    status_->setText(Q(text));
    status_->setToolTip(Q(text));  // the line is narrow; the whole text on hover
  };
  view_.showBusy = [this](bool shown) { busy_->setVisible(shown); };
  view_.clearWebCache = [] { QWebEngineProfile::defaultProfile()->clearHttpCache(); };
  view_.exitProgram = [](int code) { EndProgram(code); };
  SetMainView(&view_);
  SetOrderBook(&book_);
  SetBeforeEnd([this] {
    if (tray_ != nullptr) tray_->hide();
  });
}

MainWindow::~MainWindow() {
  SetBeforeEnd(nullptr);
  if (CurrentMainView() == &view_) SetMainView(nullptr);
  if (CurrentOrderBook() == &book_) SetOrderBook(nullptr);
}

QMenu* MainWindow::Menu(const char* name) const { return FindMenu(const_cast<MainWindow*>(this), name); }

bool MainWindow::TrayUsable() const { return tray_ != nullptr && tray_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable(); }

bool MainWindow::RunStartup() {
  AppSession& s = Session();
  {
    AccountDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted) return false;
  }
  title_->setText(Q("Quillmere 淘宝自动评价 — " + s.sellerNick));

  // No stored key, or one the platform refuses: the login window gets a new
  // one (its "×" ends the program) and the session is confirmed again.
  for (;;) {
    status_->setText("正在确认Session授权…");
    const StartupStep step = ConfirmAccount();
    switch (step.outcome) {
      case StartupOutcome::Ready:
        ShowTray();
        StartFirstLoadWhenReady();
        return true;
      case StartupOutcome::NoSessionKey:
      case StartupOutcome::SessionRefused:
        status_->setText("请登录淘宝并授权");
        if (!RunAuthWindow(this)) return false;
        continue;
      case StartupOutcome::NoCredentials:
        prompts_.Information(kEmptyKeyTitle, kEmptyKeyText);
        break;
      case StartupOutcome::CommentTooLong:
        prompts_.Information(kCommentTooLongTitle, step.reason + "\n程序将退出。");
        break;
      case StartupOutcome::DatabaseUnusable:
      default:
        prompts_.Information(kDatabaseFailedTitle, step.reason + "\n程序将退出。");
        break;
    }
    break;
  }
  EndProgram(0);
  return false;
}

void MainWindow::StartFirstLoadWhenReady() {
  InstallSchedule();
  // The first load: it empties and refills the seller's database, fills the
  // left list and at its end runs the two timer handlers once, which arms them.
  busy_->setVisible(true);
  StartFirstLoad();
}

void MainWindow::ShowTray() {
  tray_->setToolTip(Q("Quillmere — " + Session().sellerNick));
  tray_->show();
}

void MainWindow::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::DoubleClick:
      if (isVisible()) {
        hide();
      } else {
        showNormal();
        raise();
        activateWindow();
      }
      break;
    case QSystemTrayIcon::Context:
      Menu("托盘右键")->popup(QCursor::pos());
      break;
    default:  // a single click does nothing
      break;
  }
}

void MainWindow::HideToTray() {
  if (TrayUsable()) {
    hide();
  } else {
    // Without a notification area a hidden window could not be brought back.
    showMinimized();
  }
}

void MainWindow::ConfirmExit() {
  showNormal();
  raise();
  if (!prompts_.Question(kExitTitle, "要退出‘" + Session().sellerNick + "’吗?")) return;
  tray_->hide();
  EndProgram(0);
}

void MainWindow::OpenSettings() {
  SettingsWindow settings(this);
  settings.exec();
}

void MainWindow::CloseNotice() {
  notice_->hide();
  noticeTitle_->setText(QString());
  noticeBody_->setText(QString());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == noticeClose_ && event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    CloseNotice();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closing the window only puts it away; "退出" in the tray menu ends the program.
  event->ignore();
  HideToTray();
}

}  // namespace qm

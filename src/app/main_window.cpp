#include "app/main_window.h"

#include <QCloseEvent>
#include <QColor>
#include <algorithm>
#include <utility>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QWebEngineProfile>

#include "app/account_dialog.h"
#include "app/account_setup.h"
#include "app/alert_list_window.h"
#include "app/auth_window.h"
#include "app/builder.h"
#include "app/frame_grips.h"
#include "app/icons.h"
#include "app/shutdown.h"
#include "platform/platform_link.h"
#include "rating/startup.h"
#include "settings/app_session.h"
#include "settings/config.h"

#include "app/rating_log_window.h"
#include "app/rating_page_window.h"
#include "app/settings_window.h"
#include "rating/run_texts.h"
#include "rating/seller_run.h"
#include "util/event_pump.h"
#include "util/stop.h"
#include "platform/platform_time.h"
#include "platform/session_check.h"
#include "rating/keep_list.h"
#include "rating/manual_rating.h"
#include "rating/refresh_checks.h"
#include "rating/schedule.h"

namespace qm {

namespace {

// The lists' colours once loaded (0xRRGGBB): text red 0, green 96, blue 192.
constexpr unsigned kLoadedTextColour = 0x0060C0;
constexpr unsigned kLoadedBackgroundColour = 0xFFFFFF;

// What the busy picture's caption says once the orders are read.
constexpr const char* kBusyRefreshText = "正在读取买家已评价的订单…";
constexpr const char* kBusyPassText = "正在自动评价到期的订单…";
std::string BusyPassText(int rated) { return "正在自动评价到期的订单，已评价 " + std::to_string(rated) + " 笔"; }

}  // namespace

MainWindow::MainWindow(AppSession& session, ProgramEnd end)
    : end_(std::move(end)), session_(session), autoTimer_(nullptr), refreshTimer_(nullptr) {
  BuildWindow(this, MainWindowLayout());
  unratedView_ = Control<QTreeView>(this, "超级列表框1");
  buyerRatedView_ = Control<QTreeView>(this, "超级列表框2");
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
  unratedFrame_ = FindControl(this, "外形框1");
  buyerRatedFrame_ = FindControl(this, "外形框2");
  unratedTitle_ = Control<QLabel>(this, "标签1");
  buyerRatedTitle_ = Control<QLabel>(this, "标签2");
  minimiseButton_ = Control<QPushButton>(this, "超级按钮2");
  closeButton_ = Control<QPushButton>(this, "超级按钮1");
  settingsButton_ = Control<QPushButton>(this, "超级按钮4");
  // The layout's size is where the window starts and the least it takes.
  setMinimumSize(MainWindowLayout().width, MainWindowLayout().height);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);

  title_->setText("Quillmere 淘宝自动评价");
  title_->setStyleSheet("color: #ffffff;");
  status_->setStyleSheet("color: #e8f2ff;");
  for (const char* name : {"超级按钮1", "超级按钮2"}) Control<QPushButton>(this, name)->setStyleSheet("color: #ffffff;");
  noticeTitle_->setAlignment(Qt::AlignCenter);
  noticeBody_->setAlignment(Qt::AlignCenter);
  noticeBody_->setWordWrap(true);
  noticeClose_->setAlignment(Qt::AlignCenter);
  SetUpShell();
  // The title bar ends where the lists' frames begin.
  MakeResizable(this, unratedFrame_->y());

  connect(minimiseButton_, &QPushButton::clicked, this, &MainWindow::HideToTray);
  connect(closeButton_, &QPushButton::clicked, this, &MainWindow::CloseToTray);
  connect(Control<QPushButton>(this, "超级按钮4"), &QPushButton::clicked, this, &MainWindow::OpenSettings);

  // The notice box: its title and body drag it, "×" closes it.
  MakeDragHandle(noticeTitle_, notice_);
  MakeDragHandle(noticeBody_, notice_);
  noticeClose_->installEventFilter(this);

  QMenu* trayMenu = Menu("托盘右键");
  alertListItem_ = new QAction(kAlertTitle, trayMenu);
  alertListItem_->setObjectName("差评提醒");
  trayMenu->insertAction(FindMenuItem(trayMenu, "评价记录"), alertListItem_);
  connect(alertListItem_, &QAction::triggered, this, &MainWindow::OpenAlertList);
  connect(FindMenuItem(trayMenu, "显示"), &QAction::triggered, this, &MainWindow::BringToFront);
  connect(FindMenuItem(trayMenu, "隐藏"), &QAction::triggered, this, &MainWindow::HideToTray);
  connect(FindMenuItem(trayMenu, "退出"), &QAction::triggered, this, &MainWindow::ConfirmExit);
  ConnectListActions();

  connect(timer1, &QTimer::timeout, this, [this] {
    if (run_) run_->RunAutoRatingPass();
  });
  connect(timer2, &QTimer::timeout, this, [this] {
    if (run_) run_->refresh_cycle();
  });

  tray_ = new QSystemTrayIcon(TrayIcon(), this);
  connect(tray_, &QSystemTrayIcon::activated, this, &MainWindow::OnTrayActivated);
  connect(tray_, &QSystemTrayIcon::messageClicked, this, [this] {
    if (lastBalloonAlerts_) OpenAlertList();
  });
  alertBurst_ = new QTimer(this);
  alertBurst_->setSingleShot(true);
  connect(alertBurst_, &QTimer::timeout, this, &MainWindow::AnnounceAlerts);

  view_.prompts = &prompts_;
  view_.setStatus = [this](const std::string& text) { SetStatus(text); };
  view_.openRatingPage = [this] {
    // A flag left over from a window opened from a menu must not count for this one.
    session_.pageEdited = 0;
    const bool edited = OpenRatingPageWindow(session_, this) == 1;
    session_.pageEdited = 0;
    return edited;
  };
  view_.showNotice = [this](const Notice& notice) { ShowNotice(notice); };
  view_.notify = [this](const std::string& title, const std::string& text) { Notify(title, text); };
  view_.clipboard = &clipboard_;
}

MainWindow::~MainWindow() {
  // The alert list reads the run's alerts.
  delete alertWindow_.data();
  // The list views are children of the window and outlive the book the
  // models read: they must not ask for rows once the book is gone.
  for (QtOrderList* list : {unratedList_.get(), buyerRatedList_.get()}) {
    if (list != nullptr && list->Widget() != nullptr) list->Widget()->setModel(nullptr);
  }
  unratedList_.reset();
  buyerRatedList_.reset();
  outbox_.reset();
  run_.reset();
}

OrderBook& MainWindow::Book() { return run_->Book(); }

void MainWindow::End(int code) {
  RememberSize();
  // The program ends without closing the rating log: its file is made whole first.
  if (run_) run_->Log().Checkpoint();
  if (tray_ != nullptr) tray_->hide();
  end_(code);
}

void MainWindow::Notify(const std::string& title, const std::string& text) {
  if (TrayUsable()) {
    // Some notification servers render body markup; a buyer writes the text.
    tray_->showMessage(Q(title).toHtmlEscaped(), Q(text).toHtmlEscaped(), QSystemTrayIcon::Warning);
    lastBalloonAlerts_ = false;
  } else {
    KeepNotice(title + "：" + text);
  }
}

void MainWindow::LoadProgress(int tradesRead) {
  const std::string text = LoadingText(tradesRead);
  SetStatus(text);
  if (Busy()) ShowBusy(text);
}

void MainWindow::LoadReported(const LoadReport& report) {
  if (const std::string status = LoadStatusText(report, session_.link->Clock().Now()); !status.empty()) SetStatus(status);
  if (Busy() && report.kind == LoadKind::First) ShowBusy(kBusyRefreshText);
}

void MainWindow::RefreshReported(const RefreshReport&) {
  if (Busy()) ShowBusy(kBusyPassText);
}

void MainWindow::Started() {
  ShowBusy({});
  // The busy picture goes once the load, its refresh and its first pass are done.
  for (OrderList* list : {static_cast<OrderList*>(unratedList_.get()), static_cast<OrderList*>(buyerRatedList_.get())})
    list->SetColours(kLoadedTextColour, kLoadedBackgroundColour);
}

void MainWindow::PassEnded(int rated) { SetStatus(PassStatusText(rated, session_.link->Clock().Now())); }

void MainWindow::PassRated(const PassRating& rating) {
  if (Busy() && rating.removed) ShowBusy(BusyPassText(++busyRated_));
  if (rating.attempt.verdict == LedgerVerdict::NotLogged) SetStatus("评价记录无法写入，评价暂缓：" + rating.attempt.problem);
}

void MainWindow::KeepListUnusable(const std::string& problem, bool first) {
  SetStatus("不自动评价列表无法使用，自动评价已暂停：" + problem);
  if (first) Notify("自动评价已暂停", "不自动评价列表" + problem + "。修复后自动评价继续。");
}

void MainWindow::PlatformUnreachable() { Notify(kPlatformDownTitle, kPlatformDownText); }

void MainWindow::PlatformBack() { SetStatus(kPlatformBackText); }

void MainWindow::CallLimited(const CallLimitWait& wait) { SetStatus(CallLimitText(wait)); }
void MainWindow::NewsOld() { SetStatus(kNewsOldText); }

QMenu* MainWindow::Menu(const char* name) const { return FindMenu(const_cast<MainWindow*>(this), name); }

bool MainWindow::TrayUsable() const { return tray_ != nullptr && tray_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable(); }

bool MainWindow::RunStartup() {
  {
    AccountDialog dialog(session_, [this](int code) { End(code); }, this);
    if (!startAccount_.empty()) dialog.ChooseOnShow(std::exchange(startAccount_, std::string()));
    if (dialog.exec() != QDialog::Accepted) return false;
  }
  title_->setText(Q("Quillmere 淘宝自动评价 — " + session_.sellerNick));
  UpdateAlertCount();
  ListenForLaterStarts();
  RestoreSize();
  ConfirmSession();
  return true;
}

void MainWindow::ConfirmSession() {
  SetStatus("正在确认Session授权…");
  const auto unreachable = [this](int attempt, int pauseMs, const SessionTrouble& why) {
    // The seller sees why nothing happens yet, and can end the program from the tray.
    if (!isVisible()) show();
    if (!tray_->isVisible()) tray_->show();
    const std::string retry = std::to_string(pauseMs / 1000) + " 秒后自动重试（第 " + std::to_string(attempt) + " 次）";
    switch (why.kind) {
      case ReplyKind::Trouble:
        // A call limit or the platform's own failure: the key is fine, nothing for the seller to do.
        SetStatus("淘宝API服务器暂时不能使用，无需重新登录，" + retry + "。平台说：" + why.message);
        break;
      case ReplyKind::ClockRefused:
        SetStatus("淘宝API服务器不接受本机时间，请检查本机时间，" + retry + "。平台说：" + why.message);
        break;
      default:
        SetStatus("无法连接淘宝API服务器，" + retry + "。请检查网络连接、代理设置和本机时间。");
    }
  };
  confirmation_ = std::make_unique<AccountConfirmation>(session_, pump_, unreachable,
                                                        [this](const StartupStep& step) { Confirmed(step); });
}

// No stored key, or one the platform refuses: the login window gets a new
// one (its "×" ends the program) and the session is confirmed again.
void MainWindow::Confirmed(const StartupStep& step) {
  AppSession& s = session_;
  switch (step.outcome) {
    case StartupOutcome::Ready:
      SetStatus(ConfirmedStatus(step.seller));
      for (const std::string& note : step.notes) KeepNotice(note);
      if (!StartRun()) break;
      emit StartupEnded(true);
      return;
    case StartupOutcome::NoSessionKey:
    case StartupOutcome::SessionRefused:
      // Ended while the platform could not be reached: no login.
      if (StopRequested()) break;
      SetStatus("请登录淘宝并授权");
      if (!RunAuthWindow(session_, this, pump_, [this](int code) { End(code); })) {
        emit StartupEnded(false);
        return;
      }
      ConfirmSession();
      return;
    case StartupOutcome::NoCredentials: {
      // The account box sets up a name before it opens it; here the key went
      // meanwhile (the file edited by hand). The account is this run's by
      // now, so closing the form ends the start-up.
      prompts_.Warn(kNoKeyTitle, std::string(kEmptyKeyText) + "\n请在下一个窗口中填写本帐号的AppKey和AppSecret。");
      AccountSetupDialog setup(this, s.programDir, s.sellerNick, true);
      if (setup.exec() != QDialog::Accepted) break;
      s.AppKey = ReadAppKey(s.programDir, s.sellerNick);
      s.AppSecret = ReadAppSecret(s.programDir, s.sellerNick);
      ConfirmSession();
      return;
    }
    case StartupOutcome::CommentTooLong:
      prompts_.Warn(kCommentTooLongTitle, step.reason + "\n程序将退出。");
      break;
    case StartupOutcome::DatabaseUnusable:
    default:
      prompts_.Warn(kDatabaseFailedTitle, step.reason + "\n程序将退出。");
      break;
  }
  End(0);
  emit StartupEnded(false);
}

bool MainWindow::OpenRun() {
  if (run_) return true;
  RunPorts ports;
  ports.pump = &pump_;
  ports.autoTimer = &autoTimer_;
  ports.refreshTimer = &refreshTimer_;
  ports.clearWebCache = [] { QWebEngineProfile::defaultProfile()->clearHttpCache(); };
  ports.view = &view_;
  std::string error;
  run_ = SellerRun::Open(session_.RunAccount(), CurrentRunSettings(session_), ports, *this, &error);
  if (!run_) {
    prompts_.Warn(kDatabaseFailedTitle, error + "\n程序将退出。");
    return false;
  }
  unratedList_ = std::make_unique<QtOrderList>(unratedView_, run_->Book().Unrated());
  buyerRatedList_ = std::make_unique<QtOrderList>(buyerRatedView_, run_->Book().BuyerRated());
  DecorateLists();
  // The lists' titles count their rows.
  for (QtOrderList* list : {unratedList_.get(), buyerRatedList_.get()}) {
    QAbstractItemModel* model = list->Model();
    if (model == nullptr) continue;
    connect(model, &QAbstractItemModel::rowsInserted, this, &MainWindow::UpdateListTitles);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &MainWindow::UpdateListTitles);
    connect(model, &QAbstractItemModel::modelReset, this, &MainWindow::UpdateListTitles);
  }
  UpdateListTitles();
  // Alerts of earlier runs the seller has not seen yet.
  UpdateAlertCount();
  OpenOutbox();
  return true;
}

bool MainWindow::StartRun() {
  if (!OpenRun()) return false;
  ShowTray();
  // The first load: it empties and refills the seller's database, fills the
  // left list and at its end runs the refresh and the pass once, which arms
  // the two timers.
  busyRated_ = 0;
  ShowBusy(LoadingText(0));
  if (!run_->Start()) ShowBusy({});
  return true;
}

void MainWindow::ShowTray() {
  // The tip follows the left list: every change of it reaches the model.
  if (QAbstractItemModel* model = unratedList_->Model(); model != nullptr && !tipHooked_) {
    tipHooked_ = true;
    connect(model, &QAbstractItemModel::rowsInserted, this, &MainWindow::UpdateTrayTip);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &MainWindow::UpdateTrayTip);
    connect(model, &QAbstractItemModel::modelReset, this, &MainWindow::UpdateTrayTip);
  }
  UpdateTrayTip();
  tray_->show();
  UpdateListTitles();
}

void MainWindow::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      // A single click shows or hides the window, as other tray programs do.
      if (isVisible() && !isMinimized()) {
        HideToTray();
      } else {
        BringToFront();
      }
      break;
    case QSystemTrayIcon::DoubleClick:
      // The double-click's first click has already toggled it: it ends shown.
      BringToFront();
      break;
    case QSystemTrayIcon::Context:
      Menu("托盘右键")->popup(QCursor::pos());
      break;
    default:
      break;
  }
}

void MainWindow::HideToTray() {
  if (TrayUsable()) {
    RememberSize();
    hide();
    if (!toldAboutTray_) {
      toldAboutTray_ = true;
      tray_->showMessage("Quillmere", "程序仍在托盘中运行，继续自动评价。单击托盘图标可以重新打开窗口。",
                         QSystemTrayIcon::Information);
    }
  } else {
    // Without a notification area a hidden window could not be brought back.
    showMinimized();
  }
}

void MainWindow::CloseToTray() {
  if (TrayUsable()) {
    HideToTray();
  } else {
    // Nothing else would end the program.
    ConfirmExit();
  }
}

void MainWindow::BringToFront() {
  showNormal();
  raise();
  activateWindow();
}

void MainWindow::ConfirmExit() {
  showNormal();
  raise();
  if (!prompts_.Question(kExitTitle, "要退出‘" + session_.sellerNick + "’吗?\n退出后不再自动评价，到期的订单要等下次启动后才会评价。")) return;
  if (tray_ != nullptr) tray_->hide();
  End(0);
}

void MainWindow::OpenSettings() {
  SettingsWindow settings(session_, run_.get(), outbox_.get(), this);
  settings.exec();
}

void MainWindow::ConnectListActions() {
  QTreeView* unrated = unratedView_;
  QTreeView* buyerRated = buyerRatedView_;
  auto item = [this](const char* menu, const char* text, auto action) {
    connect(FindMenuItem(Menu(menu), text), &QAction::triggered, this, action);
  };
  const auto openRatingPage = [this] { OpenRatingPageWindow(session_, this); };
  item("表一鼠标右键", "复制订单编号", [this] { if (run_) CopyFromUnrated(*run_, CopyWhat::OrderNumber); });
  item("表一鼠标右键", "复制旺旺", [this] { if (run_) CopyFromUnrated(*run_, CopyWhat::Buyer); });
  item("表一鼠标右键", "提前评价", [this] { if (run_) rate_early_from_menu(*run_); });
  item("表一鼠标右键", "单独评语", [this] { if (run_) WriteOrderComment(*run_); });
  item("表二鼠标右键", "复制订单编号", [this] { if (run_) CopyFromBuyerRated(*run_, CopyWhat::OrderNumber); });
  item("表二鼠标右键", "复制买家旺旺", [this] { if (run_) CopyFromBuyerRated(*run_, CopyWhat::Buyer); });
  item("表二鼠标右键", "评价选中订单", [this] { if (run_) RateSelectedBuyerRated(*run_); });
  item("表二鼠标右键", "打开评价网页", openRatingPage);
  item("空白右键", "打开评价窗口", openRatingPage);
  item("表一鼠标右键", "不自动评价", [this] { if (run_) KeepCurrentOrder(*run_, true, false); });
  item("表一鼠标右键", "恢复自动评价", [this] { if (run_) KeepCurrentOrder(*run_, false, false); });
  item("表一鼠标右键", "不自动评价该买家", [this] { if (run_) KeepCurrentOrder(*run_, true, true); });
  item("表一鼠标右键", "恢复自动评价该买家", [this] { if (run_) KeepCurrentOrder(*run_, false, true); });
  for (const char* menu : {"表二鼠标右键", "空白右键", "托盘右键"}) item(menu, "评价记录", [this] { OpenRatingLog(); });

  connect(unrated, &QAbstractItemView::doubleClicked, this, [this] {
    if (run_) rate_on_first_list_double_click(*run_);
  });
  connect(buyerRated, &QAbstractItemView::doubleClicked, this, [this] {
    if (run_) answer_on_second_list_double_click(*run_);
  });
  // On a row the menu acts on the list's current order; on a blank part of
  // either list, on no order.
  connect(unrated, &QWidget::customContextMenuRequested, this, [this, unrated](const QPoint& at) {
    const bool onRow = unrated->indexAt(at).isValid() && unratedList_ && unratedList_->CurrentRow() >= 0;
    PopUpMenu(onRow ? "表一鼠标右键" : "空白右键");
  });
  connect(buyerRated, &QWidget::customContextMenuRequested, this, [this, buyerRated](const QPoint& at) {
    const bool onRow = buyerRated->indexAt(at).isValid() && buyerRatedList_ && buyerRatedList_->CurrentRow() >= 0;
    PopUpMenu(onRow ? "表二鼠标右键" : "空白右键");
  });
}

void MainWindow::DecorateLists() {
  // A kept order's deadline on hover; a neutral or bad buyer in the notice's colours.
  SellerRun& run = *run_;
  unratedList_->Model()->SetDecoration([&run](const OrderRow& row, int column, int role) -> QVariant {
    if (role != Qt::ToolTipRole || column != kColumnTimeLeft || !run.Keep().Keeps(row.order)) return {};
    const auto left = TimeLeftText(row.order.endTime, run.Clock().Now());
    return left ? PlainToolTip(Q("到期：" + *left)) : QVariant();
  });
  buyerRatedList_->Model()->SetDecoration([&run](const OrderRow& row, int, int role) -> QVariant {
    if (role != Qt::ForegroundRole && role != Qt::BackgroundRole) return {};
    const std::optional<NoticeStyle> style = AlertStyleOf(run.Log(), row.order.tid);
    if (!style) return {};
    return QColor::fromRgb(role == Qt::ForegroundRole ? style->textColour : style->background);
  });
}

void MainWindow::OpenRatingLog() {
  RatingLogWindow window(run_ ? &run_->Log() : nullptr, this);
  window.exec();
}

void MainWindow::PopUpMenu(const char* name) { Menu(name)->popup(QCursor::pos() + QPoint(3, 3)); }

void MainWindow::ShowNotice(const Notice& notice) {
  noticeTitle_->setText(Q(notice.line));
  noticeTitle_->setStyleSheet(QString("color: #%1; background: #%2;")
                                  .arg(notice.textColour & 0xFFFFFF, 6, 16, QChar('0'))
                                  .arg(notice.background & 0xFFFFFF, 6, 16, QChar('0')));
  noticeBody_->setText(Q(notice.text));
  const QString about = notice.about.empty() ? QString() : PlainToolTip(Q(notice.about));
  noticeTitle_->setToolTip(about);
  noticeBody_->setToolTip(about);
  // The box's top goes 5 pixels below the pointer, kept inside the frame that
  // holds it so that a double-click near the bottom still shows all of it.
  QWidget* frame = notice_->parentWidget();
  const int wanted = frame->mapFromGlobal(QCursor::pos()).y() + 5;
  const int top = std::clamp(wanted, 0, std::max(0, frame->height() - notice_->height()));
  notice_->move(notice_->x(), top);
  notice_->show();
  notice_->raise();
}

void MainWindow::CloseNotice() {
  notice_->hide();
  noticeTitle_->setText(QString());
  noticeBody_->setText(QString());
  noticeTitle_->setToolTip(QString());
  noticeBody_->setToolTip(QString());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == noticeClose_ && event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    CloseNotice();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closing the window puts it into the tray; without a tray it asks to end the program.
  event->ignore();
  CloseToTray();
}

}  // namespace qm

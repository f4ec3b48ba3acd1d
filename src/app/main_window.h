#pragma once
// The main window: the two order lists, the title and status lines, the
// notice box, the busy picture, the tray icon with its menu, the two timers,
// and the start-up sequence that runs before the window is first shown.
#include <QElapsedTimer>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "alerts/alert_outbox.h"
#include "app/alert_list_window.h"
#include "app/qt_ports.h"
#include "app/shutdown.h"
#include "orders/order_book.h"
#include "rating/rating_log.h"
#include "rating/run_observer.h"
#include "rating/startup.h"
#include "util/ports.h"

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QTreeView;
class QPushButton;

namespace qm {

class SellerRun;

inline constexpr const char* kExitTitle = "退出评价软件";
inline constexpr const char* kDatabaseFailedTitle = "订单数据库无法使用";
inline constexpr const char* kNoKeyTitle = "程序获取授权出错";
inline constexpr const char* kNoticesTitle = "提醒";
// The size the window had when the seller last closed it, per account ("宽,高").
inline constexpr const char* kKeyWindowSize = "窗口大小";
// The program's own notices kept where there is no tray to show them.
inline constexpr std::size_t kKeptNotices = 5;
// Buyers' alerts that come within this quiet time of each other are
// announced in one balloon, at most kAlertBurstLongestMs after the first.
inline constexpr int kAlertBurstQuietMs = 2000;
inline constexpr int kAlertBurstLongestMs = 10000;

class InstanceChannel;

// The window shows the seller's run and hears of its events (RunObserver).
class MainWindow : public QWidget, private RunObserver {
  Q_OBJECT
 public:
  // The window opens the account into `session`, the start-up record its
  // owner keeps for the whole program, and hands it to what needs it. `end`
  // ends the program; every end goes through End.
  MainWindow(AppSession& session, ProgramEnd end);
  ~MainWindow() override;

  // The start-up sequence: the account choice, then the rest of the core's
  // start-up (key and secret, session key, seller check, order database) with
  // a box for each refusal, the login window while there is no session key
  // the platform confirms, then the run, the tray icon and the first load.
  // False when the program was ended at the account choice. Otherwise the
  // rest goes on from the session check's report, and StartupEnded tells how
  // it ended: true once the run has started, false when the program was ended
  // on the way (End has been called).
  bool RunStartup();
  // `--account NICK`: the account dialog of RunStartup logs in with it once it shows.
  void ChooseAccountAtStart(const std::string& account) { startAccount_ = account; }

  // The window's tray events (double-click toggles, the right button opens
  // 托盘右键, a single click does nothing).
  void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
  // "─": into the tray (saying once that the program keeps working there),
  // or minimised where the desktop has no notification area.
  void HideToTray();
  // "×" and a close through the window system: into the tray; without one,
  // the exit question.
  void CloseToTray();
  // Shows the window in front (the tray, a second start of the account).
  void BringToFront();
  // 托盘右键 "退出": the question, then the end of the program.
  void ConfirmExit();
  // Ends the program with `code`, the window's size and the rating log kept
  // and the tray icon removed first. The windows it opens end the program
  // through it; so does the entry's stop on a signal.
  void End(int code);
  // 超级按钮4: the settings window, modal.
  void OpenSettings();
  // "评价记录" of the tray menu and the buyer-rated list's menus, modal.
  void OpenRatingLog();
  // The alert list 差评提醒 (the title bar's button, the tray menu, a click
  // on an alert's balloon): shown, or brought forward when it is open.
  void OpenAlertList();
  // Selects the order in the buyer-rated list and shows it; false (with a
  // status line) when the list no longer holds it.
  bool SelectBuyerRatedOrder(const std::string& tid);

  // Makes the run once the account is confirmed (RunStartup does) and shows
  // its lists; false after a box when it cannot be made (no event pump, or
  // its rating log cannot be opened). StartRun adds the tray and the first load.
  bool OpenRun();
  bool StartRun();

  MainView& View() { return view_; }
  // The seller's run, from RunStartup on (nullptr before).
  SellerRun* Run() const { return run_.get(); }
  AlertOutbox* Outbox() const { return outbox_.get(); }
  // The two lists, from RunStartup on: the run's book and their views in the window.
  OrderBook& Book();
  QtOrderList& UnratedList() { return *unratedList_; }
  QtOrderList& BuyerRatedList() { return *buyerRatedList_; }
  QSystemTrayIcon* Tray() const { return tray_; }
  QMenu* Menu(const char* name) const;
  // The status line 标签3: the whole text as tooltip, elided to the free
  // width of the title bar.
  void SetStatus(const std::string& text);
  QString StatusText() const { return statusText_; }
  // A notice of the program's own without a tray: kept (the last
  // kKeptNotices, oldest first) behind a "提醒" button in the title bar until
  // the seller has seen them. Buyers' ratings go to the alert list instead.
  void KeepNotice(const std::string& text);
  const std::deque<std::string>& KeptNotices() const { return notices_; }
  QPushButton* NoticesButton() const { return noticesButton_; }
  // "差评提醒（N）" in the title bar while N alerts are unseen, and in the tray menu.
  QPushButton* AlertListButton() const { return alertListButton_; }
  QAction* AlertListItem() const { return alertListItem_; }
  // The open alert list; nullptr while it is closed.
  AlertListWindow* AlertWindow() const { return alertWindow_; }
  // True when the tray can hold the window; false on a desktop without a
  // notification area (and on the offscreen platform).
  bool TrayUsable() const;

 signals:
  // The start-up after the account choice has ended: `started` when the run
  // has started, false when the program was ended on the way.
  void StartupEnded(bool started);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The session check of the start-up, and what follows its report.
  void ConfirmSession();
  void Confirmed(const StartupStep& step);
  void ShowTray();
  void ConnectListActions();
  void PopUpMenu(const char* name);
  void ShowNotice(const Notice& notice);
  void CloseNotice();
  void DecorateLists();
  void Notify(const std::string& title, const std::string& text);
  // The title bar's alert button, the lists' counts and Esc on the notice.
  void SetUpShell();
  // The window's parts placed for its size: the lists take what the layout's
  // size leaves, the title bar's buttons stay at its right.
  void LayOut();
  void LayOutTitleBar();
  // The busy picture with its caption, while the first load, its refresh and
  // its first pass run; an empty text puts both away.
  void ShowBusy(const std::string& doing);
  // Whether the busy picture is up, also while the window is in the tray.
  bool Busy() const { return !busy_->isHidden(); }
  void ShowKeptNotices();
  // The unseen count in the title bar's button and the window title, the
  // tray menu and the tray tip.
  void UpdateAlertCount();
  void UpdateTrayTip();
  // The one balloon (and status line) for the alerts that came together.
  void AnnounceAlerts();
  void UpdateListTitles();
  void RestoreSize();
  void RememberSize();
  // Listens for later starts of the account.
  void ListenForLaterStarts();

  // What the run tells the window.
  void LoadProgress(int tradesRead) override;
  void LoadReported(const LoadReport& report) override;
  void Started() override;
  void PassEnded(int rated) override;
  void PassRated(const PassRating& rating) override;
  void RefreshReported(const RefreshReport& report) override;
  void KeepListUnusable(const std::string& problem, bool first) override;
  void Alert(const Order& order, const BuyerVerdict& verdict) override;
  // The alerts' sends to the seller's phone and chats, with those left pending by an earlier run.
  void OpenOutbox();
  void PlatformUnreachable() override;
  void CallLimited(const CallLimitWait& wait) override;
  void PlatformBack() override;
  void NewsOld() override;

  // The run goes after the lists' views, which detach from its book first.
  std::string startAccount_;
  ProgramEnd end_;
  // Where the run's reports, the session check's and the alerts' reach the
  // window: queued calls on the UI thread. Before what posts to it, so that
  // it goes last.
  QtEventPump pump_;
  // The session check under way, from RunStartup until it has reported.
  std::unique_ptr<AccountConfirmation> confirmation_;
  std::unique_ptr<SellerRun> run_;
  // Alerts on their way to the seller's phone and chats; goes before the run.
  std::unique_ptr<AlertOutbox> outbox_;
  QTimer* summaryTimer_ = nullptr;  // looks each minute whether the daily summary is due
  std::unique_ptr<QtOrderList> unratedList_;     // 超级列表框1
  std::unique_ptr<QtOrderList> buyerRatedList_;  // 超级列表框2
  QTreeView* unratedView_ = nullptr;
  QTreeView* buyerRatedView_ = nullptr;
  AppSession& session_;
  QtTimer autoTimer_;
  QtTimer refreshTimer_;
  QtPrompts prompts_;
  QtClipboard clipboard_;
  MainView view_;
  QSystemTrayIcon* tray_ = nullptr;
  bool tipHooked_ = false;  // the tray tip follows 超级列表框1
  QLabel* title_ = nullptr;
  QLabel* status_ = nullptr;
  QWidget* notice_ = nullptr;
  QLabel* noticeTitle_ = nullptr;
  QLabel* noticeBody_ = nullptr;
  QLabel* noticeClose_ = nullptr;
  QWidget* busy_ = nullptr;
  QLabel* busyCaption_ = nullptr;  // what the first load is doing, under the busy picture
  int busyRated_ = 0;              // ratings of the first pass so far
  QWidget* unratedFrame_ = nullptr;      // 外形框1
  QWidget* buyerRatedFrame_ = nullptr;   // 外形框2
  QLabel* unratedTitle_ = nullptr;       // 标签1
  QLabel* buyerRatedTitle_ = nullptr;    // 标签2
  QPushButton* minimiseButton_ = nullptr;  // 超级按钮2
  QPushButton* closeButton_ = nullptr;     // 超级按钮1
  QPushButton* settingsButton_ = nullptr;  // 超级按钮4
  QPushButton* noticesButton_ = nullptr;    // 提醒按钮
  QPushButton* alertListButton_ = nullptr;  // 差评提醒按钮
  QAction* alertListItem_ = nullptr;        // 托盘右键 差评提醒
  QPointer<AlertListWindow> alertWindow_;
  QTimer* alertBurst_ = nullptr;   // the wait before a burst's balloon
  QElapsedTimer alertBurstAge_;    // since the burst's first alert
  std::vector<BuyerAlert> alertsToAnnounce_;
  bool lastBalloonAlerts_ = false;  // a click on the balloon opens the alert list
  QString statusText_;
  std::deque<std::string> notices_;
  bool toldAboutTray_ = false;  // the balloon after the first hide
  InstanceChannel* channel_ = nullptr;
};

}  // namespace qm

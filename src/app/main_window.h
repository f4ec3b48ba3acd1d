#pragma once
// The main window: the two order lists, the title and status lines, the
// notice box, the busy picture, the tray icon with its menu, the two timers,
// and the start-up sequence that runs before the window is first shown.
#include <QSystemTrayIcon>
#include <QWidget>
#include <memory>

#include "app/qt_ports.h"
#include "orders/order_book.h"
#include "rating/run_observer.h"
#include "util/ports.h"

class QLabel;
class QMenu;
class QTreeView;

namespace qm {

class SellerRun;

inline constexpr const char* kExitTitle = "退出评价软件";
inline constexpr const char* kDatabaseFailedTitle = "订单数据库无法使用";

// The window shows the seller's run and hears of its events (RunObserver).
class MainWindow : public QWidget, private RunObserver {
  Q_OBJECT
 public:
  MainWindow();
  ~MainWindow() override;

  // The start-up sequence: the account choice, then the rest of the core's
  // start-up (key and secret, session key, seller check, order database) with
  // a box for each refusal, the login window while there is no session key
  // the platform confirms, then the run, the tray icon and the first load.
  // False when the program was ended on the way (EndProgram has been called).
  bool RunStartup();

  // The window's tray events (double-click toggles, the right button opens
  // 托盘右键, a single click does nothing).
  void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);
  // "─", "×" and a close through the window system: into the tray, or
  // minimised where the desktop has no notification area.
  void HideToTray();
  // 托盘右键 "退出": the question, then the end of the program.
  void ConfirmExit();
  // 超级按钮4: the settings window, modal.
  void OpenSettings();
  // "评价记录" of the tray menu and the buyer-rated list's menus, modal.
  void OpenRatingLog();

  // Makes the run once the account is confirmed (RunStartup does), shows its
  // lists and starts its first load; false after a box when it cannot be made.
  bool StartRun();

  MainView& View() { return view_; }
  // The seller's run, from RunStartup on (nullptr before).
  SellerRun* Run() const { return run_.get(); }
  // The two lists, from RunStartup on: the run's book and their views in the window.
  OrderBook& Book();
  QtOrderList& UnratedList() { return *unratedList_; }
  QtOrderList& BuyerRatedList() { return *buyerRatedList_; }
  QSystemTrayIcon* Tray() const { return tray_; }
  QMenu* Menu(const char* name) const;
  // True when the tray can hold the window; false on a desktop without a
  // notification area (and on the offscreen platform).
  bool TrayUsable() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowTray();
  void ConnectListActions();
  void PopUpMenu(const char* name);
  void ShowNotice(const Notice& notice);
  void CloseNotice();
  void DecorateLists();
  void SetStatus(const std::string& text);
  void Notify(const std::string& title, const std::string& text);

  // What the run tells the window.
  void LoadProgress(int tradesRead) override;
  void LoadReported(const LoadReport& report) override;
  void Started() override;
  void PassEnded(int rated) override;
  void PassRated(const PassRating& rating) override;
  void KeepListUnusable(const std::string& problem, bool first) override;
  void Alert(const Order& order, const BuyerVerdict& verdict) override;
  void PlatformUnreachable() override;
  void PlatformBack() override;

  // The run goes after the lists' views, which detach from its book first.
  std::unique_ptr<SellerRun> run_;
  std::unique_ptr<QtOrderList> unratedList_;     // 超级列表框1
  std::unique_ptr<QtOrderList> buyerRatedList_;  // 超级列表框2
  QTreeView* unratedView_ = nullptr;
  QTreeView* buyerRatedView_ = nullptr;
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
};

}  // namespace qm

#pragma once
// One seller's run: it owns the order book, the rating ledger, the keep list,
// the rating log with the alerts kept in it, the order loader and the scheduler. Both front ends build
// one after the account is confirmed, hand it the few ports it needs (the two
// timers, the boxes, the browser cache) and an observer, and destroy it
// before anything it was given. Everything runs on the UI thread but the
// network work, which runs on the run's worker and reports back.
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "orders/order_book.h"
#include "orders/order_loader.h"
#include "platform/platform_link.h"
#include "rating/alert_list.h"
#include "rating/keep_list.h"
#include "rating/rating_ledger.h"
#include "rating/rating_log.h"
#include "rating/run_observer.h"
#include "rating/run_settings.h"
#include "rating/run_worker.h"
#include "rating/scheduler.h"

namespace qm {

class EventPump;
class Prompts;
class Timer;
struct MainView;

// What the run reaches of its front end besides the observer.
struct RunPorts {
  EventPump* pump = nullptr;      // required: the UI thread's pump
  Timer* autoTimer = nullptr;     // 时钟1
  Timer* refreshTimer = nullptr;  // 时钟2
  std::function<void()> clearWebCache;  // the embedded browser's HTTP cache; may be empty
  // The pauses before a failed listing page or time check is asked again.
  std::vector<int> pageRetryPausesMs = kDefaultPageRetryPausesMs;
  std::vector<int> timeCheckPausesMs = kDefaultTimeCheckPausesMs;
  // What the seller's own actions show and ask in; may be null (nothing is
  // asked, so nothing the seller starts goes out).
  MainView* view = nullptr;
};

class SellerRun {
 public:
  // The run of the account's seller with the settings it starts from: opens
  // its rating log. nullptr with the reason in *error when the log cannot be
  // opened.
  static std::unique_ptr<SellerRun> Open(const Account& account, const RunSettings& settings, const RunPorts& ports,
                                         RunObserver& observer, std::string* error);
  ~SellerRun();
  SellerRun(const SellerRun&) = delete;
  SellerRun& operator=(const SellerRun&) = delete;

  // Who the run acts for: copied when the run is built; its network work
  // takes copies of it.
  const Account& RunAccount() const { return account_; }
  // What the seller set: copied when the run is built; changed here when the
  // seller saves new settings, and read by the next step that needs them.
  const RunSettings& Settings() const { return settings_; }
  void ChangeSettings(const RunSettings& settings) { settings_ = settings; }
  // The standing comment for the next "good": the first one, or each in
  // turn, or one at random, as the seller chose.
  std::string NextComment();
  OrderBook& Book() { return book_; }
  RunWorker& Worker() { return worker_; }
  RatingLedger& Ledger() { return ledger_; }
  KeepList& Keep() { return keep_; }
  RatingLog& Log() { return log_; }
  // The platform's clock, as the account's link keeps it.
  PlatformClock& Clock() const { return ClockOf(account_); }
  // Buyers' neutral and bad ratings the seller has not seen yet.
  AlertList& Alerts() { return alerts_; }
  OrderLoader& Loader() { return loader_; }
  Scheduler& Schedule() { return scheduler_; }
  RunObserver& Observer() { return observer_; }
  // The platform's call limits of the run's key (its requests of the day among them).
  CallLimits& Limits() { return *limits_; }
  const RunPorts& Ports() const { return ports_; }

  // The first load; false when it cannot start.
  bool Start() { return scheduler_.Start(); }
  // What 时钟1 and 时钟2 run.
  void RunAutoRatingPass() { scheduler_.RunAutoRatingPass(); }
  void refresh_cycle() { scheduler_.refresh_cycle(); }

 private:
  SellerRun(const Account& account, const RunSettings& settings, const RunPorts& ports, RunObserver& observer);
  // The platform's limits of the run's key, heard on the UI thread.
  void HearCallLimits();
  // Adds the requests counted since the last time to the log's per-day record.
  void RecordRequests();

  RunPorts ports_;
  RunObserver& observer_;
  Account account_;
  RunSettings settings_;
  std::shared_ptr<CallLimits> limits_;
  // False once the run is being taken apart: a limit heard on another thread
  // reaches the observer only while the run lasts.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::map<std::string, long> unrecorded_;  // requests by day not yet in the log
  std::size_t commentTurn_ = 0;
  std::minstd_rand commentDraw_;
  OrderBook book_;
  RatingLog log_;
  AlertList alerts_;
  RatingLedger ledger_;
  KeepList keep_;
  OrderLoader loader_;
  Scheduler scheduler_;
  // Last, so it goes first: no report of the network work runs on a run
  // that is being taken apart.
  RunWorker worker_;
};

}  // namespace qm

#include "rating/scheduler.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "orders/order_book.h"
#include "platform/call_limits.h"
#include "platform/platform_time.h"
#include "platform/reply.h"
#include "platform/request.h"
#include "platform/time_check.h"
#include "platform/transport.h"
#include "rating/received_ratings.h"
#include "rating/refresh_checks.h"
#include "rating/run_worker.h"
#include "rating/seller_run.h"
#include "settings/app_session.h"
#include "util/ports.h"
#include "util/stop.h"

namespace qm {
namespace {

void SetInterval(Timer* timer, int ms) {
  if (timer != nullptr) timer->SetInterval(ms);
}

}  // namespace

bool check_platform_time(const Account& account) { return SyncPlatformClock(account); }

bool PlatformAnswersTime(RunWorker& worker, const Account& account, const std::vector<int>& pausesMs) {
  for (std::size_t attempt = 0;; ++attempt) {
    if (check_platform_time(account)) return true;
    if (attempt >= pausesMs.size() || !worker.Pause(pausesMs[attempt])) return false;
  }
}

Scheduler::Scheduler(SellerRun& run) : run_(run), pass_(run) {}

PlatformClock& Scheduler::Clock() const { return run_.Clock(); }

bool Scheduler::Ending() const { return phase_ == RunPhase::Ended || StopRequested(); }

bool Scheduler::PassRunning() const { return pass_.Running(); }

bool Scheduler::Quiet() const {
  return (phase_ == RunPhase::Idle || phase_ == RunPhase::Ended) && !refreshing_ && !pass_.Running() &&
         !run_.Loader().Running() && run_.Worker().Idle();
}

bool Scheduler::Start() {
  if (Ending() || run_.Loader().Running()) return false;
  if (!run_.Loader().Start(LoadKind::First)) return false;
  phase_ = RunPhase::FirstLoad;
  lastLoadStart_ = Clock().Now();
  return true;
}

void Scheduler::OnLoadDone(const LoadReport& report) {
  if (Ending()) return;
  // Rows a full listing did not bring are asked about before the load is over.
  if (!report.notListed.empty()) return AskNotListed(report);
  const bool first = report.kind == LoadKind::First;
  lastLoad_ = report;
  lastLoadEnd_ = Clock().Now();
  lastLoadComplete_ = report.Completed();
  if (lastLoadComplete_) {
    // What changed from here on is what the next reload of the changes asks for.
    changesSince_ = lastLoadStart_ - kChangesOverlapSeconds;
    if (!report.changesOnly) lastFullStart_ = lastLoadStart_;
  }
  if (!report.changesOnly) lastFullFailed_ = lastLoadComplete_ ? 0 : lastLoadStart_;
  if (report.databaseOk) loadedOnce_ = true;
  run_.Observer().LoadReported(report);
  if (Ending()) return;
  if (first) {
    // The first load's end runs the refresh once, then the pass once, which
    // arms both timers.
    phase_ = RunPhase::FirstRefresh;
    RunRefresh();
    return;
  }
  phase_ = RunPhase::Idle;
  Decide();
}

void Scheduler::AskNotListed(LoadReport report) {
  std::vector<Order> rows = std::move(report.notListed);
  report.notListed.clear();
  // Beyond the first ones, rows stay until a later full listing asks again.
  std::vector<Order> asked(rows.begin(), rows.begin() + std::min<std::ptrdiff_t>(
                                                            static_cast<std::ptrdiff_t>(rows.size()), kMostNotListedQuestions));
  RunWorker& worker = run_.Worker();
  worker.Run<std::vector<TradeStanding>>(
      [&worker, asked, account = run_.RunAccount()] {
        std::vector<TradeStanding> found;
        for (const Order& order : asked) {
          if (worker.Ending() || StopRequested()) break;
          found.push_back(AskTrade(order.tid, account));
        }
        return found;
      },
      [this, rows = std::move(rows), report = std::move(report)](std::vector<TradeStanding> found) mutable {
        if (Ending()) return;
        OrderBook& book = run_.Book();
        for (std::size_t i = 0; i < found.size(); ++i) {
          const Order& order = rows[i];
          const bool leaves = found[i] == TradeStanding::SellerRated || found[i] == TradeStanding::NotRatable ||
                              found[i] == TradeStanding::BuyerRated;
          if (!leaves || !book.Unrated().Remove(order.tid)) continue;
          ++report.dropped;
          // The buyer-rated list has it until the next refresh lists it there itself.
          if (found[i] == TradeStanding::BuyerRated) book.BuyerRated().Append({order});
        }
        report.keptNotListed = static_cast<int>(
            std::count_if(rows.begin(), rows.end(), [&book](const Order& o) { return book.Unrated().Contains(o.tid); }));
        report.unrated = book.Unrated().RowCount();
        OnLoadDone(report);
      });
}

void Scheduler::refresh_cycle() {
  if (Ending()) return;
  SetInterval(run_.Ports().refreshTimer, 0);
  refreshDue_ = true;
  Decide();
}

void Scheduler::Decide() {
  if (Ending() || phase_ != RunPhase::Idle || refreshing_ || pass_.Running() || run_.Loader().Running()) return;
  if (refreshDue_) {
    RunRefresh();
  } else if (ReloadDue()) {
    // Without a complete load there are no changes to ask for. A full
    // listing that did not complete waits a while before it goes again:
    // through an outage it would page through every waiting order each time.
    const double now = Clock().Now();
    const bool fullWaits = lastFullFailed_ > 0 && now < lastFullFailed_ + kFullRetrySeconds;
    const bool full = changesSince_ <= 0 || (now >= lastFullStart_ + kFullReloadSeconds && !fullWaits);
    StartReload(!lastLoadComplete_     ? ReloadReason::AfterIncomplete
                : !full                ? ReloadReason::Changes
                : changesSince_ > 0    ? ReloadReason::Daily
                                       : ReloadReason::Interval,
                full);
  }
}

bool Scheduler::ReloadDue() const {
  // While the platform does not answer, the refresh is what asks.
  if (platformDown_) return false;
  const double now = Clock().Now();
  if (!lastLoadComplete_) return now >= lastLoadStart_ + kRefreshIntervalMs / 1000.0;
  const int minutes = run_.Settings().reloadMinutes;
  return minutes > 0 && lastLoadEnd_ > 0 && now >= lastLoadEnd_ + 60.0 * minutes;
}

void Scheduler::StartReload(ReloadReason why, bool full) {
  const bool started = full ? run_.Loader().Start(LoadKind::Reload) : run_.Loader().StartChanges(changesSince_);
  if (!started) return;
  phase_ = RunPhase::Reloading;
  lastLoadStart_ = Clock().Now();
  run_.Observer().ReloadStarted(why, run_.Settings().reloadMinutes);
}

void Scheduler::RunRefresh() {
  if (Ending()) return;
  refreshDue_ = false;
  refreshing_ = true;
  if (phase_ != RunPhase::FirstRefresh) phase_ = RunPhase::Refreshing;
  SetInterval(run_.Ports().refreshTimer, 0);
  refresh_ = RefreshReport{};
  const double now = Clock().Now();
  const bool full = fullListingDue_ || ratingsSeenUntil_ <= 0 || now >= lastFullListing_ + kFullReloadSeconds ||
                    now < ratingsSeenUntil_ - kChangesOverlapSeconds;
  if (!full) {
    refresh_.changesOnly = true;
    Look([this](RatingsLook look) { OnRatingsLook(std::move(look)); });
    return;
  }
  lookStart_ = now;
  RunWorker& worker = run_.Worker();
  worker.Run<BuyerRatedListing>(
      [&worker, account = run_.RunAccount(), pauses = run_.Loader().RetryPauses()] {
        return ListBuyerRated(account, pauses, [&worker] { return worker.Ending(); });
      },
      [this](BuyerRatedListing listing) { OnBuyerRatedListing(std::move(listing)); });
}

void Scheduler::OnBuyerRatedListing(BuyerRatedListing listing) {
  if (Ending()) return;
  refresh_.listing = ApplyBuyerRatedListing(run_.Book(), std::move(listing));
  lastRefresh_ = refresh_.listing;
  buyerRatedComplete_ = refresh_.listing.Complete();
  if (buyerRatedComplete_) {
    // What was rated from a little before its start on is the next look's.
    ratingsSeenUntil_ = std::max(ratingsSeenUntil_, lookStart_);
    lastFullListing_ = lookStart_;
    fullListingDue_ = false;
  }
  CheckTime();
}

void Scheduler::Look(std::function<void(RatingsLook)> then) {
  looking_ = true;
  const double now = Clock().Now();
  lookStart_ = now;
  // From a few minutes before the last look began to a few minutes ahead of
  // now: a platform clock a little off either way hides no rating. A look
  // that began "later" than now began before the platform clock was set back.
  const double from = std::min(ratingsSeenUntil_, now) - kChangesOverlapSeconds, to = now + kChangesOverlapSeconds;
  RunWorker& worker = run_.Worker();
  worker.Run<RatingsLook>(
      [&worker, account = run_.RunAccount(), pauses = run_.Loader().RetryPauses(), from, to] {
        return LookAtRatingsReceived(account, from, to, pauses, [&worker] { return worker.Ending(); });
      },
      [this, then = std::move(then)](RatingsLook look) {
        looking_ = false;
        if (Ending()) return;
        ApplyRatingsLook(run_, look);
        if (look.complete) {
          ratingsSeenUntil_ = std::max(ratingsSeenUntil_, look.seenUntil);
        } else {
          // Nothing is concluded from it: the next refresh lists in full.
          fullListingDue_ = true;
        }
        then(std::move(look));
      });
}

void Scheduler::OnRatingsLook(RatingsLook look) {
  FetchStats& stats = refresh_.listing;
  stats.pages = look.requests;
  stats.tradesRead = static_cast<int>(look.ratings.size());
  stats.kept = run_.Book().BuyerRated().RowCount();
  stats.end = look.complete ? ListingEnd::LastPage : ListingEnd::GaveUp;
  lastRefresh_ = stats;
  buyerRatedComplete_ = look.complete;
  // A complete look says the platform answers; its time is asked again
  // once an hour, and after any trouble.
  if (look.complete && !platformDown_ && lastTimeCheck_ > 0 && Clock().Now() >= lastTimeCheck_ &&
      Clock().Now() < lastTimeCheck_ + kTimeCheckSeconds)
    return OnTimeCheck(true);
  CheckTime();
}

bool Scheduler::RatingsSeenRecently() const { return RatingsSeenWithin(kMostLookAgeSeconds); }

bool Scheduler::RatingsSeenWithin(double seconds) const {
  return ratingsSeenUntil_ > 0 && !newsOld_ && Clock().Now() - ratingsSeenUntil_ <= seconds;
}

bool Scheduler::LookForPass(std::function<void(bool complete)> done) {
  if (Ending() || looking_ || refreshing_ || ratingsSeenUntil_ <= 0) return false;
  if (passLookFailed_ > 0 && Clock().Now() < passLookFailed_ + kPassLookPauseSeconds) return false;
  Look([this, done = std::move(done)](RatingsLook look) {
    passLookFailed_ = look.complete ? 0 : Clock().Now();
    if (!look.complete) buyerRatedComplete_ = false;
    done(look.complete);
  });
  return true;
}

void Scheduler::CheckTime() {
  RunWorker& worker = run_.Worker();
  worker.Run<bool>([&worker, account = run_.RunAccount(), pauses = run_.Ports().timeCheckPausesMs] {
    return PlatformAnswersTime(worker, account, pauses);
  },
                   [this](bool up) {
                     if (up) lastTimeCheck_ = Clock().Now();
                     OnTimeCheck(up);
                   });
}

void Scheduler::OnTimeCheck(bool platformUp) {
  // A check cut short by a stop says nothing about the platform.
  if (Ending()) return;
  refresh_.platformUp = platformUp;
  if (!platformUp) {
    if (!platformDown_) {
      platformDown_ = true;
      run_.Observer().PlatformUnreachable();
    }
    EndRefresh();
    return;
  }
  if (platformDown_) {
    platformDown_ = false;
    run_.Observer().PlatformBack();
  }
  if (run_.Ports().clearWebCache) run_.Ports().clearWebCache();
  RunRefreshChecks(run_, [this] { EndRefresh(); });
}

bool Scheduler::ClockMoved() {
  const double elapsed = Clock().Elapsed();
  const double wallLead = Clock().Local() - elapsed;
  const bool moved = looked_ && (elapsed - lookElapsed_ > kClockGapSeconds ||
                                 std::fabs(wallLead - lookWallLead_) > kClockJumpSeconds);
  looked_ = true;
  lookElapsed_ = elapsed;
  lookWallLead_ = wallLead;
  return moved;
}

void Scheduler::MarkNewsOld() {
  refreshDue_ = true;
  if (!std::exchange(newsOld_, true)) run_.Observer().NewsOld();
}

bool Scheduler::NewsIsOld() {
  // Stopped, asleep, or the machine's clock set: even a refresh under way
  // may have listed before it, so another one follows, in full.
  bool found = ClockMoved();
  if (found) fullListingDue_ = true;
  // The refresh that should have run by now and has not started (a timer that
  // fired late, or not at all while the process was stopped).
  if (!refreshing_ && lastRefreshEnd_ > 0 &&
      std::fabs(Clock().Now() - lastRefreshEnd_) > kRefreshIntervalMs / 1000.0 + kRefreshOverdueSeconds)
    found = true;
  if (found) MarkNewsOld();
  return newsOld_;
}

void Scheduler::EndRefresh() {
  if (Ending()) return;
  // Renewed, or tried: a listing that failed leaves each post's own question
  // about its buyer, and the next refresh at its interval. Unless the clocks
  // moved during this refresh.
  newsOld_ = false;
  lastRefreshEnd_ = Clock().Now();
  if (ClockMoved()) {
    fullListingDue_ = true;
    MarkNewsOld();
  }
  refresh_.buyerRated = run_.Book().BuyerRated().RowCount();
  refresh_.unrated = run_.Book().Unrated().RowCount();
  refresh_.requestsToday = run_.Limits().RequestsToday();
  refreshing_ = false;
  run_.Observer().RefreshReported(refresh_);
  if (Ending()) return;
  SetInterval(run_.Ports().refreshTimer, kRefreshIntervalMs);
  if (phase_ == RunPhase::FirstRefresh) {
    StartPass();
    return;
  }
  phase_ = RunPhase::Idle;
  Decide();
}

void Scheduler::RunAutoRatingPass() {
  // 时钟1 stops before anything else: the pass's end arms it again.
  SetInterval(run_.Ports().autoTimer, 0);
  if (Ending()) return;
  if (pass_.Running()) return;
  // Old news is renewed first: the refresh starts now, or right after the
  // load under way.
  const bool old = NewsIsOld();
  Decide();
  if (refreshing_ || old) {
    // The pass waits for the refresh's listing rather than decide on half of it.
    SetInterval(run_.Ports().autoTimer, kAutoPassIntervalMs);
    return;
  }
  StartPass();
}

void Scheduler::StartPass() {
  pass_.Start([this](int rated) { OnPassEnded(rated); });
}

void Scheduler::OnPassEnded(int rated) {
  if (Ending()) return;
  run_.Book().Unrated().Repaint();
  run_.Book().BuyerRated().Repaint();
  if (rated > 0) {
    // A burst of entries: the log's file is made whole again.
    run_.Log().Checkpoint();
    run_.Observer().PassEnded(rated);
  }
  if (Ending()) return;
  SetInterval(run_.Ports().autoTimer, kAutoPassIntervalMs);
  if (phase_ == RunPhase::FirstRefresh) {
    phase_ = RunPhase::Idle;
    run_.Observer().Started();
    if (Ending()) return;
  }
  Decide();
}

}  // namespace qm

#include "rating/schedule.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "orders/order_book.h"
#include "orders/sync.h"
#include "platform/platform_time.h"
#include "platform/reply.h"
#include "platform/request.h"
#include "platform/transport.h"
#include "rating/post_rating.h"
#include "rating/keep_list.h"
#include "rating/rating_ledger.h"
#include "rating/refresh_checks.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/delay.h"
#include "util/event_pump.h"
#include "util/ports.h"
#include "util/stop.h"

namespace qm {
namespace {

// Set once the program has been told to end; a pass or refresh that is still
// unwinding (the runner's loop ends after the handler returns) does no more.
// A stop signal ends them the same way.
bool g_ending = false;
// The last load did not complete: the next refresh loads again.
bool g_reloadDue = false;
// A refresh is running (its waits let passes run, which must not start a reload).
bool g_refreshRunning = false;
// A reload runs; the refresh that comes meanwhile is left to its end.
bool g_reloading = false;
bool g_refreshAfterReload = false;
// Platform time of the end of the last load (first or reload), for the interval.
double g_lastLoadEnd = 0;
std::vector<int> g_timeCheckPauses = kDefaultTimeCheckPausesMs;

// check_platform_time with its retries; false once every one has failed.
bool Ending() { return g_ending || StopRequested(); }

bool PlatformAnswersTime() {
  const std::vector<int> pauses = g_timeCheckPauses;
  for (std::size_t attempt = 0;; ++attempt) {
    if (check_platform_time()) return true;
    if (attempt >= pauses.size() || Ending()) return false;
    DelayWithEvents(pauses[attempt]);
  }
}

void Log(MainView* view, const std::string& line) {
  if (view && view->log) view->log(line);
}

std::size_t CodePoints(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The time-left texts of one pass, by hours (most rows share a few hundred values).
class TimeLeftTexts {
 public:
  const std::string& For(std::int64_t hours) {
    if (hours >= 0 && hours < kCached) {
      auto& slot = cache_[static_cast<std::size_t>(hours)];
      if (slot.empty()) slot = FormatTimeLeft(static_cast<std::int32_t>(hours));
      return slot;
    }
    other_ = FormatTimeLeft(Clamp(hours));
    return other_;
  }

 private:
  static constexpr std::int64_t kCached = 24 * 400;
  static std::int32_t Clamp(std::int64_t h) {
    if (h > INT32_MAX) return INT32_MAX;
    if (h < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(h);
  }
  std::vector<std::string> cache_ = std::vector<std::string>(static_cast<std::size_t>(kCached));
  std::string other_;
};

// The walk of one pass over the unrated list, from the last row to the first.
// A rating call waits for the network while other handlers run, and they may
// remove orders meanwhile; after each wait the walk finds its place again by
// the rated row's serial (rows keep their order, so the rows still to visit
// are those that came before it) and removes the rated order by its number.
class PassWalk {
 public:
  PassWalk(OrderRows& list, MainView* view) : list_(list), view_(view) {}

  void Run() {
    now_ = PlatformNow();
    // The kept orders and buyers, read again when the file changed.
    Kept().Refresh();
    if (!Kept().Usable()) return StopForKeepList();
    list_.BeginTimeLeftChanges();
    int i = list_.RowCount() - 1;
    while (i >= 0 && !Ending()) i = Visit(i);
    list_.EndTimeLeftChanges();
  }

 private:
  // Any order might be one the seller kept: nothing is rated until the list reads.
  void StopForKeepList() {
    const std::string& problem = Kept().Problem();
    if (view_->setStatus) view_->setStatus("不自动评价列表无法使用，自动评价已暂停：" + problem);
    if (!Kept().ProblemIsNew()) return;
    if (view_->notify) view_->notify("自动评价已暂停", "不自动评价列表" + problem + "。修复后自动评价继续。");
    Log(view_, "pass: stopped: the keep list cannot be used: " + problem +
                   "; nothing is rated automatically until it reads again");
  }

  // Handles row i; returns the next row to visit.
  int Visit(int i) {
    const OrderRow& row = list_.Row(i);
    if (row.order.endTime.empty()) return i - 1;
    const auto hours = HoursLeft(row.order.endTime, now_);
    // An end time that is not a time gives no deadline: the row is left alone
    // rather than rated at once.
    if (!hours) return i - 1;
    if (!Kept().Empty() && Kept().Keeps(row.order)) {
      list_.SetTimeLeft(i, kKeptTimeLeft);
      return i - 1;
    }
    const float lead = Session().ratingHours;
    if (static_cast<double>(*hours) - static_cast<double>(lead) > 0.0000001) {
      list_.SetTimeLeft(i, texts_.For(*hours));
      return i - 1;
    }
    // Another handler is posting this very order (this pass runs inside its
    // wait): leave the row to that handler.
    if (RatingInFlight(row.order.tid)) return i - 1;
    return Rate(row);
  }

  int Rate(const OrderRow& row) {
    const Order order = row.order;  // the row may be gone after the wait
    const std::uint64_t serial = row.serial;

    // The window may paint during the wait: it hears of the texts so far.
    list_.EndTimeLeftChanges();
    const RatingAttempt attempt =
        Ledger().Rate(order.tid, kResultGood, Session().autoContent, {order.buyerNick, RatingStart::Automatic});
    list_.BeginTimeLeftChanges();

    now_ = PlatformNow();
    const bool removed = attempt.Done() && list_.Remove(order.tid);
    const std::string head = "rating order=" + order.tid + " buyer=" + order.buyerNick;
    const std::string next = FormatPlatformTime(static_cast<std::int64_t>(std::ceil(attempt.nextTry)));
    switch (attempt.verdict) {
      case LedgerVerdict::Rated:
      case LedgerVerdict::Confirmed:
        Log(view_, head + " result=good outcome=" + (attempt.verdict == LedgerVerdict::Rated ? "rated" : "confirmed") +
                       (attempt.verdict == LedgerVerdict::Confirmed ? " (already rated on the platform)" : "") +
                       (!removed ? " (row already removed)" : ""));
        break;
      case LedgerVerdict::Refused:
        Log(view_, head + " result=good outcome=refused; next try at " + next);
        break;
      case LedgerVerdict::Unknown:
        Log(view_, head + " result=good outcome=unknown (no readable reply); asking the platform at " + next +
                       " before any new post");
        break;
      case LedgerVerdict::CheckUnanswered:
        Log(view_, head + " check=unanswered; asking again at " + next);
        break;
      case LedgerVerdict::Waiting:
        if (attempt.firstWait)
          Log(view_, head + " skipped: waiting until " + next +
                         (attempt.awaitsCheck ? " to ask the platform" : " after a refusal"));
        break;
      case LedgerVerdict::Busy: break;
      case LedgerVerdict::NotLogged:
        if (view_->setStatus) view_->setStatus("评价记录无法写入，评价暂缓：" + attempt.problem);
        Log(view_, head + " not posted: the rating log cannot be written (" + attempt.problem +
                       "); trying again at a later pass");
        break;
    }
    return list_.RowsBefore(serial) - 1;
  }

  OrderRows& list_;
  MainView* view_;
  double now_ = 0;
  TimeLeftTexts texts_;
};

}  // namespace

std::string FormatTimeLeft(std::int32_t hours) {
  const float days = static_cast<float>(hours) / 24.0f;
  // Two decimals, rounded half away from zero.
  const double scaled = std::round(static_cast<double>(days) * 100.0);
  const bool negative = scaled < 0 || (scaled == 0 && days < 0);
  const double magnitude = std::fabs(scaled);
  const long long whole = static_cast<long long>(magnitude / 100.0);
  const int fraction = static_cast<int>(magnitude - static_cast<double>(whole) * 100.0);

  const long long hoursPart = std::llround(fraction / 100.0 * 24.0);
  // Each part at least two digits.
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, negative ? "-%lld天%02lld小时" : "%02lld天%02lld小时", whole,
                hoursPart);
  return buffer;
}

std::optional<std::string> TimeLeftText(std::string_view endTime, double now) {
  const auto hours = HoursLeft(endTime, now);
  if (!hours) return std::nullopt;
  return FormatTimeLeft(static_cast<std::int32_t>(std::clamp<std::int64_t>(*hours, 0, INT32_MAX)));
}

float ParseRatingHours(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return kDefaultRatingHours;
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return kDefaultRatingHours;
  if (!std::isfinite(value) || value < 0 || value > 1e6) return kDefaultRatingHours;
  return static_cast<float>(value);
}

void LoadRatingHours(const std::string& nick) {
  Session().ratingHours = ParseRatingHours(ReadRatingHoursSetting(nick));
}

bool ScheduleStopped() { return g_ending; }
void ResumeSchedule() {
  g_ending = false;
  g_reloadDue = false;
  g_refreshRunning = false;
  g_reloading = false;
  g_refreshAfterReload = false;
  g_lastLoadEnd = 0;
}

namespace {

bool ReloadDue() {
  const int minutes = Session().reloadMinutes;
  return minutes > 0 && g_lastLoadEnd > 0 && PlatformNow() >= g_lastLoadEnd + 60.0 * minutes;
}

// The reload of the interval, started from the pass: never beside another
// load or inside a refresh.
void StartReloadWhenDue(MainView* view) {
  if (!ReloadDue() || g_refreshRunning || FirstLoadRunning()) return;
  if (StartReload()) {
    g_reloading = true;
    Log(view, "reload: loading the unrated orders again (every " + std::to_string(Session().reloadMinutes) +
                  " minutes)");
  }
}

void OnReloadDone(const ReloadResult& result) {
  g_reloading = false;
  MainView* view = CurrentMainView();
  g_lastLoadEnd = PlatformNow();
  g_reloadDue = !result.completed;
  const SyncResult load = LastSyncResult();
  std::string line = "reload: added=" + std::to_string(result.added) + " dropped=" + std::to_string(result.dropped);
  if (!load.databaseOk) {
    line += "; the order database cannot be used: " + load.error;
  } else if (!load.gaveUp.empty()) {
    line += "; gave up at " + load.gaveUp + ", loading again at the next refresh";
  }
  Log(view, line);
  if (g_refreshAfterReload && !Ending()) {
    g_refreshAfterReload = false;
    refresh_cycle();
  }
}

}  // namespace

void SetTimeCheckRetryPauses(std::vector<int> pausesMs) { g_timeCheckPauses = std::move(pausesMs); }

void RunAutoRatingPass() {
  MainView* view = CurrentMainView();
  if (!view || Ending()) return;
  StartReloadWhenDue(view);
  if (view->autoTimer) view->autoTimer->SetInterval(0);
  OrderBook* book = CurrentOrderBook();
  if (book != nullptr) PassWalk(book->Unrated(), view).Run();
  if (Ending()) return;
  book = CurrentOrderBook();
  if (book != nullptr) {
    book->Unrated().Repaint();
    book->BuyerRated().Repaint();
  }
  if (view->autoTimer) view->autoTimer->SetInterval(kAutoPassIntervalMs);
}

bool check_platform_time() {
  const std::string reply = decode_reply(web_get_simple(TimeGetUrl()));
  return CodePoints(extract_between(reply, "<time>", "<")) == 19;
}

void refresh_cycle() {
  MainView* view = CurrentMainView();
  if (!view || Ending()) return;
  if (view->refreshTimer) view->refreshTimer->SetInterval(0);
  // The refresh and a reload never run side by side: a reload's older
  // listing could bring back an order whose buyer the refresh has just seen
  // rate it. The reload's end runs the refresh.
  if (g_reloading) {
    g_refreshAfterReload = true;
    return;
  }
  if (g_reloadDue && !FirstLoadRunning()) {
    g_reloadDue = false;
    if (StartReload()) {
      g_reloading = true;
      Log(view, "refresh: the last load did not complete; loading the unrated orders again");
      g_refreshAfterReload = true;
      return;
    }
  }
  struct Running {
    Running() { g_refreshRunning = true; }
    ~Running() { g_refreshRunning = false; }
  } running;
  if (OrderBook* book = CurrentOrderBook()) book->BuyerRated().Clear();
  RefreshBuyerRatedList();
  if (Ending()) return;
  if (LastRefreshStats().end == ListingEnd::GaveUp)
    Log(view, "refresh: the buyer-rated listing gave up at page " + std::to_string(LastRefreshStats().failedPage));
  const bool platformUp = PlatformAnswersTime();
  // Ended by a handler during a pause, or a check cut short by a stop, which
  // says nothing about the platform.
  if (Ending()) return;
  if (!platformUp) {
    Log(view, "refresh: the platform did not answer taobao.time.get; ending");
    if (view->prompts) view->prompts->Information(kPlatformDownTitle, kPlatformDownText);
    g_ending = true;
    if (view->exitProgram) {
      view->exitProgram(kPlatformDownExitCode);
    } else {
      std::exit(kPlatformDownExitCode);
    }
    return;
  }
  if (view->clearWebCache) view->clearWebCache();
  RunRefreshChecks();
  if (Ending()) return;
  const OrderBook* book = CurrentOrderBook();
  Log(view, "refresh: buyer-rated=" + std::to_string(book ? book->BuyerRated().RowCount() : 0) +
                " unrated=" + std::to_string(book ? book->Unrated().RowCount() : 0) + " platform=ok");
  if (view->refreshTimer) view->refreshTimer->SetInterval(kRefreshIntervalMs);
}

void InstallSchedule() {
  SetFirstLoadDoneHandler([] { RunFirstLoadFollowUp(); });
  SetReloadDoneHandler(OnReloadDone);
}

void RunFirstLoadFollowUp() {
  EventPump* pump = CurrentEventPump();
  if (pump && !pump->OnOwnerThread()) {
    pump->Post([] { RunFirstLoadFollowUp(); });
    return;
  }
  if (StopRequested()) return;
  MainView* view = CurrentMainView();
  const OrderBook* book = CurrentOrderBook();
  Log(view, "orders loaded: unrated=" + std::to_string(book ? book->Unrated().RowCount() : 0));
  g_lastLoadEnd = PlatformNow();
  refresh_cycle();
  g_reloadDue = !LastSyncResult().Completed();
  RunAutoRatingPass();
}

}  // namespace qm

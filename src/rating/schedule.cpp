#include "rating/schedule.h"

#include <charconv>
#include <functional>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "orders/sync.h"
#include "platform/platform_time.h"
#include "platform/reply.h"
#include "platform/request.h"
#include "platform/transport.h"
#include "rating/post_rating.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/event_pump.h"
#include "util/ports.h"

namespace qm {
namespace {

// Set once the program has been told to end; a pass or refresh that is still
// unwinding (the runner's loop ends after the handler returns) does no more.
bool g_ending = false;

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

// The walk of one pass over 超级列表框1, from the last row to the first.
//
// Rows are only ever removed from this list after the first load (by a
// rating, or by the refresh when the buyer has rated), and removal keeps the
// order of the rest. So at every moment the rows this pass has visited form
// the bottom of the list and the rows still to visit form the top. A rating
// call waits for the network while other handlers run, and they may delete
// rows; after each wait the walk finds its place again by order number: it
// keeps the order numbers of the visited rows (bottom up) and matches them
// against the bottom of the list. The numbers are recorded only when a rating
// is about to wait, so a pass without due orders copies nothing.
class PassWalk {
 public:
  PassWalk(OrderList& list, MainView* view) : list_(list), view_(view) {}

  void Run() {
    recordedFrom_ = list_.RowCount();
    now_ = PlatformNow();
    int i = list_.RowCount() - 1;
    while (i >= 0 && !g_ending) {
      if (i >= list_.RowCount()) i = list_.RowCount() - 1;
      if (i < 0) break;
      i = Visit(i);
    }
  }

 private:
  // Handles row i; returns the next row to visit.
  int Visit(int i) {
    const std::string end = list_.Cell(i, 2);
    if (end.empty()) return i - 1;
    const auto hours = HoursLeft(end, now_);
    // An end time that is not a time gives no deadline: the row is left alone
    // rather than rated at once.
    if (!hours) return i - 1;
    const float lead = Session().ratingHours;
    if (static_cast<double>(*hours) - static_cast<double>(lead) > 0.0000001) {
      const std::string& text = texts_.For(*hours);
      if (list_.Cell(i, 3) != text) list_.SetCell(i, 3, text);
      return i - 1;
    }
    return Rate(i);
  }

  int Rate(int i) {
    const std::string tid = list_.Cell(i, 0);
    // Another handler is posting this very order (this pass runs inside its
    // wait): leave the row to that handler.
    if (RatingInFlight(tid)) return i - 1;
    const std::string buyer = list_.Cell(i, 1);
    Record(i, tid);
    const int countBefore = list_.RowCount();

    const bool ok = post_rating(tid, kResultGood, kRoleSeller, Session().autoContent);

    now_ = PlatformNow();
    int row = -1;  // where the rated order is now; -1 when another handler removed it
    if (list_.RowCount() == countBefore && list_.Cell(i, 0) == tid) {
      row = i;
    } else {
      row = Realign();
    }
    if (ok && row >= 0) {
      list_.DeleteRow(row);
      visited_.pop_back();
      recordedFrom_ = row;
    }
    Log(view_, std::string("rating order=") + tid + " buyer=" + buyer + " result=good outcome=" +
                   (ok ? "rated" : "refused") + (ok || row >= 0 ? "" : " (row already removed)"));
    return recordedFrom_ - 1;
  }

  // Records the order numbers of rows visited since the last wait, then row i.
  void Record(int i, const std::string& tid) {
    for (int r = recordedFrom_ - 1; r > i; --r) visited_.push_back(list_.Cell(r, 0));
    visited_.push_back(tid);
    recordedFrom_ = i;
  }

  // After rows went missing during a wait: matches the recorded visited rows
  // (bottom up) against the bottom of the list, drops those that are gone,
  // and sets recordedFrom_ to the topmost surviving one. Returns the row of
  // the order being rated (the last recorded), or -1 when it is gone.
  int Realign() {
    std::vector<std::string> survivors;
    survivors.reserve(visited_.size());
    int j = list_.RowCount() - 1;
    int current = -1;
    for (std::size_t k = 0; k < visited_.size(); ++k) {
      if (j >= 0 && list_.Cell(j, 0) == visited_[k]) {
        if (k + 1 == visited_.size()) current = j;
        survivors.push_back(std::move(visited_[k]));
        --j;
      }
    }
    visited_.swap(survivors);
    recordedFrom_ = j + 1;
    return current;
  }

  OrderList& list_;
  MainView* view_;
  std::vector<std::string> visited_;  // order numbers of visited rows, bottom up
  int recordedFrom_ = 0;              // rows [recordedFrom_, end) are recorded in visited_
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
void ResumeSchedule() { g_ending = false; }

void RunAutoRatingPass() {
  MainView* view = CurrentMainView();
  if (!view || g_ending) return;
  if (view->autoTimer) view->autoTimer->SetInterval(0);
  if (view->unrated) PassWalk(*view->unrated, view).Run();
  if (g_ending) return;
  if (view->unrated) view->unrated->Repaint();
  if (view->buyerRated) view->buyerRated->Repaint();
  if (view->autoTimer) view->autoTimer->SetInterval(kAutoPassIntervalMs);
}

bool check_platform_time() {
  const std::string reply = decode_reply(web_get_simple(TimeGetUrl()));
  return CodePoints(extract_between(reply, "<time>", "<")) == 19;
}

void refresh_cycle() {
  MainView* view = CurrentMainView();
  if (!view || g_ending) return;
  if (view->refreshTimer) view->refreshTimer->SetInterval(0);
  if (view->buyerRated) view->buyerRated->DeleteAllRows();
  RefreshBuyerRatedList();
  if (g_ending) return;
  if (!check_platform_time()) {
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
  Log(view, "refresh: buyer-rated=" + std::to_string(view->buyerRated ? view->buyerRated->RowCount() : 0) +
                " unrated=" + std::to_string(view->unrated ? view->unrated->RowCount() : 0) +
                " platform=ok");
  if (view->refreshTimer) view->refreshTimer->SetInterval(kRefreshIntervalMs);
}

void InstallSchedule() { SetFirstLoadDoneHandler([] { RunFirstLoadFollowUp(); }); }

void RunFirstLoadFollowUp() {
  EventPump* pump = CurrentEventPump();
  if (pump && !pump->OnOwnerThread()) {
    pump->Post([] { RunFirstLoadFollowUp(); });
    return;
  }
  MainView* view = CurrentMainView();
  Log(view, "orders loaded: unrated=" + std::to_string(view && view->unrated ? view->unrated->RowCount() : 0));
  refresh_cycle();
  RunAutoRatingPass();
}

}  // namespace qm

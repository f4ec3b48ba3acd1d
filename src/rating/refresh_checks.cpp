#include "rating/refresh_checks.h"

#include <vector>

#include "orders/order_book.h"
#include "rating/post_rating.h"
#include "rating/rating_ledger.h"
#include "rating/rating_log.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/ports.h"
#include "util/stop.h"

namespace qm {
namespace {

void Log(MainView* view, const std::string& line) {
  if (view != nullptr && view->log) view->log(line);
}

bool Unfavourable(const std::string& result) { return result == "neutral" || result == "bad"; }

void SettleUnansweredPosts(MainView* view) {
  RatingLog* log = CurrentRatingLog();
  if (log == nullptr) return;
  for (const std::string& tid : log->Unsettled(kChecksPerRefresh)) {
    // An order the ledger holds is asked about before its next post anyway.
    if (Ledger().Holds(tid) || RatingInFlight(tid)) continue;
    const SellerRatingCheck check = CheckSellerRating(tid);
    if (StopRequested() || (log = CurrentRatingLog()) == nullptr) return;
    if (check == SellerRatingCheck::Exists) {
      log->Settle(tid, kLogRated, "confirmed by the platform");
      Log(view, "rating-log: order=" + tid + " settled=rated (the platform holds the rating)");
    } else if (check == SellerRatingCheck::Missing) {
      log->Settle(tid, kLogNotTaken, "not on the platform");
      Log(view, "rating-log: order=" + tid + " settled=not taken");
    }
  }
}

void CheckNewBuyerRatings(MainView* view) {
  RatingLog* log = CurrentRatingLog();
  OrderBook* book = CurrentOrderBook();
  if (log == nullptr || book == nullptr || !BadRatingAlertsOn(Session().sellerNick)) return;
  std::vector<Order> fresh;
  const OrderRows& rows = book->BuyerRated();
  for (int i = 0; i < rows.RowCount() && static_cast<int>(fresh.size()) < kChecksPerRefresh; ++i) {
    if (log->KnownVerdict(rows.Row(i).order.tid) == nullptr) fresh.push_back(rows.Row(i).order);
  }
  bool coloured = false;
  for (const Order& order : fresh) {
    const std::optional<BuyerVerdict> verdict = QueryBuyerRating(order.tid);
    if (StopRequested() || (log = CurrentRatingLog()) == nullptr) return;
    if (!verdict) continue;
    log->RememberVerdict(order.tid, verdict->result + kVerdictSeparator + verdict->comment);
    if (!Unfavourable(verdict->result)) continue;
    const std::string grade = verdict->result == "bad" ? "差评" : "中评";
    const std::string comment = verdict->comment.empty() ? std::string(kNoBuyerComment) : verdict->comment;
    Log(view, "alert: order=" + order.tid + " buyer=" + order.buyerNick + " result=" + verdict->result +
                  " comment=" + comment);
    if (view != nullptr && view->notify) {
      view->notify(kAlertTitle, "买家‘" + order.buyerNick + "’给了订单 " + order.tid + " " + grade + "：" + comment);
    }
    coloured = true;
  }
  if (coloured && (book = CurrentOrderBook()) != nullptr) book->BuyerRated().Repaint();
}

}  // namespace

void RunRefreshChecks() {
  MainView* view = CurrentMainView();
  SettleUnansweredPosts(view);
  if (!StopRequested()) CheckNewBuyerRatings(view);
}

std::optional<NoticeStyle> AlertStyleOf(const std::string& tid) {
  const RatingLog* log = CurrentRatingLog();
  const std::string* verdict = log ? log->KnownVerdict(tid) : nullptr;
  if (verdict == nullptr) return std::nullopt;
  const std::string result = SplitVerdict(*verdict).result;
  return Unfavourable(result) ? NoticeStyleFor(result) : std::nullopt;
}

}  // namespace qm

#include "rating/refresh_checks.h"

#include <vector>

#include "orders/order_book.h"
#include "rating/post_rating.h"
#include "rating/rating_ledger.h"
#include "rating/rating_log.h"
#include "rating/seller_run.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/ports.h"
#include "util/stop.h"

namespace qm {
namespace {

bool Unfavourable(const std::string& result) { return result == "neutral" || result == "bad"; }

void SettleUnansweredPosts(SellerRun& run) {
  RatingLog& log = run.Log();
  for (const std::string& tid : log.Unsettled(kChecksPerRefresh)) {
    // An order the ledger holds is asked about before its next post anyway.
    if (run.Ledger().Holds(tid) || RatingInFlight(tid)) continue;
    const SellerRatingCheck check = CheckSellerRating(tid);
    if (StopRequested()) return;
    if (check == SellerRatingCheck::Exists) {
      log.Settle(tid, kLogRated, "confirmed by the platform");
      run.Observer().Settled(tid, true);
    } else if (check == SellerRatingCheck::Missing) {
      log.Settle(tid, kLogNotTaken, "not on the platform");
      run.Observer().Settled(tid, false);
    }
  }
}

void CheckNewBuyerRatings(SellerRun& run) {
  RatingLog* log = &run.Log();
  if (!BadRatingAlertsOn(Session().sellerNick)) return;
  std::vector<Order> fresh;
  const OrderRows& rows = run.Book().BuyerRated();
  for (int i = 0; i < rows.RowCount() && static_cast<int>(fresh.size()) < kChecksPerRefresh; ++i) {
    if (log->KnownVerdict(rows.Row(i).order.tid) == nullptr) fresh.push_back(rows.Row(i).order);
  }
  bool coloured = false;
  for (const Order& order : fresh) {
    const std::optional<BuyerVerdict> verdict = QueryBuyerRating(order.tid);
    if (StopRequested()) return;
    if (!verdict) continue;
    log->RememberVerdict(order.tid, verdict->result + kVerdictSeparator + verdict->comment);
    if (!Unfavourable(verdict->result)) continue;
    run.Observer().Alert(order, *verdict);
    coloured = true;
  }
  if (coloured) run.Book().BuyerRated().Repaint();
}

}  // namespace

void RunRefreshChecks(SellerRun& run) {
  SettleUnansweredPosts(run);
  if (!StopRequested()) CheckNewBuyerRatings(run);
}

FetchStats RefreshBuyerRatedList(OrderBook& book, const std::vector<int>& retryPausesMs) {
  book.BuyerRated().Clear();
  int listed = 0;
  FetchStats stats = PageThrough({kRateBuyerUnseller, kBuyerRatedFields, false, retryPausesMs, {}},
                                 [&](std::vector<Order>&& trades) {
                                   listed += static_cast<int>(trades.size());
                                   std::vector<std::string> rated;
                                   rated.reserve(trades.size());
                                   for (const auto& t : trades) rated.push_back(t.tid);
                                   book.BuyerRated().Append(std::move(trades));
                                   book.Unrated().RemoveAll(rated);
                                 });
  stats.kept = listed;
  return stats;
}

std::optional<NoticeStyle> AlertStyleOf(const RatingLog& log, const std::string& tid) {
  const std::string* verdict = log.KnownVerdict(tid);
  if (verdict == nullptr) return std::nullopt;
  const std::string result = SplitVerdict(*verdict).result;
  return Unfavourable(result) ? NoticeStyleFor(result) : std::nullopt;
}

}  // namespace qm

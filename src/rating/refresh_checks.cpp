#include "rating/refresh_checks.h"

#include <utility>

#include "orders/order_book.h"
#include "rating/post_rating.h"
#include "rating/rating_ledger.h"
#include "rating/rating_log.h"
#include "rating/received_ratings.h"
#include "rating/run_worker.h"
#include "rating/seller_run.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/stop.h"

namespace qm {
namespace {

bool RunEnded(SellerRun& run) { return StopRequested() || run.Schedule().Phase() == RunPhase::Ended; }

using Settlements = std::vector<std::pair<std::string, SellerRatingCheck>>;
using Verdicts = std::vector<std::pair<Order, std::optional<BuyerVerdict>>>;

void CheckNewBuyerRatings(SellerRun& run, std::function<void()> done) {
  if (!run.Settings().badRatingAlerts) return done();
  std::vector<Order> fresh;
  const OrderRows& rows = run.Book().BuyerRated();
  for (int i = 0; i < rows.RowCount() && static_cast<int>(fresh.size()) < kChecksPerRefresh; ++i) {
    if (run.Log().KnownVerdict(rows.Row(i).order.tid) == nullptr) fresh.push_back(rows.Row(i).order);
  }
  if (fresh.empty()) return done();
  run.Worker().Run<Verdicts>(
      [fresh = std::move(fresh), account = run.RunAccount()] {
        Verdicts found;
        for (const Order& order : fresh) {
          if (StopRequested()) break;
          found.emplace_back(order, QueryBuyerRating(order.tid, account));
        }
        return found;
      },
      [&run, done = std::move(done)](Verdicts found) {
        if (RunEnded(run)) return done();
        bool coloured = false;
        for (const auto& [order, verdict] : found) {
          if (!verdict) continue;
          if (!verdict->Unfavourable()) {
            run.Log().RememberVerdict(order.tid, *verdict);
            continue;
          }
          coloured = true;
          if (run.Alerts().Raise(order, *verdict)) run.Observer().Alert(order, *verdict);
        }
        if (coloured) run.Book().BuyerRated().Repaint();
        done();
      });
}

void SettleUnansweredPosts(SellerRun& run, std::function<void()> done) {
  std::vector<std::string> asked;
  for (const std::string& tid : run.Log().Unsettled(kChecksPerRefresh)) {
    // An order the ledger holds is asked about before its next post anyway;
    // one in flight is being answered right now.
    if (run.Ledger().Holds(tid) || !run.Ledger().Claim(tid)) continue;
    asked.push_back(tid);
  }
  if (asked.empty()) return done();
  run.Worker().Run<Settlements>(
      [asked, account = run.RunAccount()] {
        Settlements found;
        for (const std::string& tid : asked) {
          if (StopRequested()) break;
          found.emplace_back(tid, CheckSellerRating(tid, account));
        }
        return found;
      },
      [&run, asked, done = std::move(done)](Settlements found) {
        for (const std::string& tid : asked) run.Ledger().Release(tid);
        if (RunEnded(run)) return done();
        for (const auto& [tid, check] : found) {
          if (run.Ledger().Settle(tid, check)) run.Observer().Settled(tid, check == SellerRatingCheck::Exists);
        }
        done();
      });
}

}  // namespace

void RunRefreshChecks(SellerRun& run, std::function<void()> done) {
  SettleUnansweredPosts(run, [&run, done = std::move(done)]() mutable {
    if (RunEnded(run)) return done();
    CheckNewBuyerRatings(run, std::move(done));
  });
}

BuyerRatedListing ListBuyerRated(const Account& account, const std::vector<int>& retryPausesMs,
                                 std::function<bool()> cancelled) {
  BuyerRatedListing listing;
  listing.stats = PageThrough({kRateBuyerUnseller, kBuyerRatedFields, false, retryPausesMs, std::move(cancelled), {}, {}, account},
                              [&](std::vector<Order>&& trades) {
                                for (Order& t : trades) listing.orders.push_back(std::move(t));
                              });
  return listing;
}

FetchStats ApplyBuyerRatedListing(OrderBook& book, BuyerRatedListing listing) {
  FetchStats stats = std::move(listing.stats);
  stats.kept = static_cast<int>(listing.orders.size());
  std::vector<std::string> rated;
  rated.reserve(listing.orders.size());
  for (const auto& t : listing.orders) rated.push_back(t.tid);
  book.BuyerRated().Clear();
  book.BuyerRated().Append(std::move(listing.orders));
  book.Unrated().RemoveAll(rated);
  return stats;
}

FetchStats RefreshBuyerRatedList(const Account& account, OrderBook& book, const std::vector<int>& retryPausesMs) {
  return ApplyBuyerRatedListing(book, ListBuyerRated(account, retryPausesMs));
}

int ApplyRatingsLook(SellerRun& run, const RatingsLook& look) {
  OrderRows& unrated = run.Book().Unrated();
  OrderRows& buyerRated = run.Book().BuyerRated();
  int moved = 0;
  bool coloured = false;
  for (const ReceivedRating& r : look.ratings) {
    const int row = unrated.Find(r.order.tid);
    Order order = r.order;
    // The row's own texts (its end time, the nick as listed) go with it.
    if (row >= 0) order = unrated.Row(row).order;
    if (row >= 0 && unrated.Remove(order.tid)) ++moved;
    bool listed = buyerRated.Contains(order.tid);
    if (!listed && (row >= 0 || !run.Ledger().SawRated(order.tid))) {
      buyerRated.Append({order});
      listed = true;
    }
    if (!listed || run.Log().KnownVerdict(order.tid) != nullptr) continue;
    if (r.verdict.Unfavourable() && run.Settings().badRatingAlerts) {
      coloured = true;
      if (run.Alerts().Raise(order, r.verdict)) run.Observer().Alert(order, r.verdict);
    } else {
      run.Log().RememberVerdict(order.tid, r.verdict);
    }
  }
  if (coloured) buyerRated.Repaint();
  return moved;
}

std::optional<NoticeStyle> AlertStyleOf(const RatingLog& log, const std::string& tid) {
  const BuyerVerdict* verdict = log.KnownVerdict(tid);
  if (verdict == nullptr || !verdict->Unfavourable()) return std::nullopt;
  return NoticeStyleFor(verdict->result);
}

}  // namespace qm

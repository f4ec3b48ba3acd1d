#pragma once
// What each ten-minute refresh asks the platform besides the lists:
// - posts of earlier runs that got no answer are settled in the rating log
//   (does the platform hold the seller's rating of that order?);
// - the buyer ratings of orders new to the buyer-rated list are read once,
//   remembered per order in the rating log (a restart does not ask again),
//   and a neutral or bad one is kept in the run's alert list until the
//   seller has seen it, announced (RunObserver::Alert: the window's balloon
//   and list, the runner's "alert:" line) and colours its row. A query without a complete answer is neither
//   remembered nor announced: it is asked again at the next refresh.
// Each kind asks at most kChecksPerRefresh orders; the rest wait for the next
// refresh. The questions go out on the run's worker; what they found is
// applied on the UI thread when they are back.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orders/listing.h"
#include "orders/order.h"
#include "rating/buyer_verdict.h"

namespace qm {

class OrderBook;
class RatingLog;
class SellerRun;
struct RatingsLook;

inline constexpr int kChecksPerRefresh = 20;

// Both checks in turn; `done` runs on the UI thread when they are over.
void RunRefreshChecks(SellerRun& run, std::function<void()> done);

// The orders the buyer has rated and the seller has not, page by page (reply
// order, each order number once). Blocks: it runs on a worker.
struct BuyerRatedListing {
  FetchStats stats;
  std::vector<Order> orders;
};
BuyerRatedListing ListBuyerRated(const Account& account,
                                 const std::vector<int>& retryPausesMs = kDefaultPageRetryPausesMs,
                                 std::function<bool()> cancelled = {});
// The listing into the book: the buyer-rated list is made of it anew, and its
// orders leave the unrated list. The listing's stats, with `kept` its orders.
FetchStats ApplyBuyerRatedListing(OrderBook& book, BuyerRatedListing listing);
// Both at once, for the runner's one-shot listing.
FetchStats RefreshBuyerRatedList(const Account& account, OrderBook& book, const std::vector<int>& retryPausesMs = kDefaultPageRetryPausesMs);

// A look at the ratings received into the book: each order a buyer rated
// leaves the unrated list for the buyer-rated one (one on neither list joins
// the buyer-rated one, as the full listing would show it, unless the run
// rated it itself), and its verdict is remembered, a neutral or bad one
// alerted as the refresh's own check would. The orders that left the
// unrated list.
int ApplyRatingsLook(SellerRun& run, const RatingsLook& look);

// The colours of a buyer-rated order whose buyer's rating `log` knows to be
// neutral or bad; nullopt for every other order.
std::optional<NoticeStyle> AlertStyleOf(const RatingLog& log, const std::string& tid);

}  // namespace qm

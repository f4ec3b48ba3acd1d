#pragma once
// What each ten-minute refresh asks the platform besides the lists:
// - posts of earlier runs that got no answer are settled in the rating log
//   (does the platform hold the seller's rating of that order?);
// - the buyer ratings of orders new to the buyer-rated list are read once,
//   remembered per order in the rating log (a restart does not ask again),
//   and a neutral or bad one is announced (MainView::notify and an "alert:"
//   line) and colours its row. A query without a complete answer is neither
//   remembered nor announced: it is asked again at the next refresh.
// Each kind asks at most kChecksPerRefresh orders; the rest wait for the next refresh.
#include <optional>
#include <string>
#include <vector>

#include "orders/listing.h"
#include "rating/manual_rating.h"

namespace qm {

class OrderBook;
class RatingLog;
class SellerRun;

inline constexpr int kChecksPerRefresh = 20;

void RunRefreshChecks(SellerRun& run);

// Pages through the orders the buyer has rated and the seller has not into
// the buyer-rated list (emptied first; reply order, each order number once),
// and takes each page's orders out of the unrated list before the next
// page's wait: a pass that runs inside that wait must not rate "good" an
// order whose buyer has just rated it.
FetchStats RefreshBuyerRatedList(OrderBook& book, const std::vector<int>& retryPausesMs = kDefaultPageRetryPausesMs);

// The colours of a buyer-rated order whose buyer's rating `log` knows to be
// neutral or bad; nullopt for every other order.
std::optional<NoticeStyle> AlertStyleOf(const RatingLog& log, const std::string& tid);

}  // namespace qm

#pragma once
// The buyers' ratings received in a window of times ("taobao.traderates.get",
// rate_type "get", role "buyer", start_date and end_date), page by page. The
// ten-minute refresh asks it for what buyers rated since its last look, and
// the automatic pass asks it right before it posts, instead of asking every
// order's buyer. The platform lists at most kMostRatesPerWindow ratings of
// one window: a window that brings that many is asked again in two halves,
// so a long gap (a stop, a night off) is asked in parts. A look whose pages
// did not all come back whole is incomplete: the ratings it did read are
// true, but nothing is concluded from what it did not bring.
#include <functional>
#include <string>
#include <vector>

#include "orders/listing.h"
#include "orders/order.h"
#include "rating/buyer_verdict.h"
#include "settings/app_session.h"

namespace qm {

inline constexpr int kRatesPageSize = 150;         // the largest page the method gives
inline constexpr int kMostRatesPerWindow = 1500;   // the most it lists of one window
inline constexpr const char* kRatesReceivedFields = "tid,nick,result,content,created";

struct ReceivedRating {
  Order order;  // order number and buyer nick
  BuyerVerdict verdict;
};

struct RatingsLook {
  double from = 0, to = 0;  // the window asked, platform times
  int requests = 0;         // pages asked, retries and call limits included
  int windows = 0;          // windows asked (a window that was too full counts with its halves)
  bool complete = false;    // every page of every window came back whole
  // Platform time at which the first page of the newest window went out: a
  // rating given after it may be missing from the look (the pages are newest
  // first), one given before is in it.
  double seenUntil = 0;
  std::vector<ReceivedRating> ratings;  // each order once, newest rating first within a window
};

// One page of the look: the signed URL.
std::string RatesReceivedUrl(const Account& account, const std::string& startDate, const std::string& endDate,
                             int pageNo);

// Asks for the ratings given from `from` to `to` (platform times). Blocks: it
// runs on the run's worker. A failed page is asked again after each of
// `retryPausesMs`; after the last the look ends incomplete.
RatingsLook LookAtRatingsReceived(const Account& account, double from, double to,
                                  const std::vector<int>& retryPausesMs = kDefaultPageRetryPausesMs,
                                  const std::function<bool()>& cancelled = {});

}  // namespace qm

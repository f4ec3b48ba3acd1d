#pragma once
// Paging through one listing of the seller's finished trades: every page is
// asked with its own timestamp and signature, read, and its trades that the
// listing has not brought before are handed on. A page that still fails
// after its retries is skipped and the listing goes on with the next one, so
// one bad page cannot hide the orders of every page behind it; two failed
// pages in a row (the platform is not answering) end the listing. A page
// skipped in a listing that reached its last page is asked once more at the
// end, with the pages beside it to show that the listing did not move past
// it meanwhile. A listing that still lacks a page, or was handed a page that
// repeats an earlier one, is incomplete: what it brought is listed, but nothing is concluded from
// what it did not bring.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orders/order.h"
#include "orders/order_db.h"
#include "settings/app_session.h"

namespace qm {

inline constexpr const char* kRateUnbuyer = "RATE_UNBUYER";
inline constexpr const char* kRateUnseller = "RATE_UNSELLER";
inline constexpr const char* kRateBuyerUnseller = "RATE_BUYER_UNSELLER";
inline constexpr const char* kUnratedFields = "tid,buyer_nick,end_time";
inline constexpr const char* kBuyerRatedFields = "tid,buyer_nick";
// The listing of the changes: every finished trade modified in a window,
// whatever its rate status, with both sides' rating flags.
inline constexpr const char* kChangedFields = "tid,buyer_nick,end_time,buyer_rate,seller_rate";
inline constexpr const char* kChangesListing = "changes";

// How a listing ended.
enum class ListingEnd {
  LastPage,  // a page said has_next other than "true"
  Repeated,  // a page brought no order number the listing had not seen
  PageLimit, // kMaxListingPages pages
  GaveUp,    // two pages in a row failed after their retries (or the run stopped)
};

// A listing never asks for more pages than this: at 100 trades a page, a
// million trades, some twenty times the trades a large shop finishes in the
// fifteen days of the rating period, so only a gateway that keeps inventing
// orders reaches it.
inline constexpr int kMaxListingPages = 10000;

// The pauses before a failed page (no reply, an error reply, anything but a
// whole listing page) is asked for again; after the last the page is skipped.
inline const std::vector<int> kDefaultPageRetryPausesMs = {1000, 2000, 4000};

// What one paging run did. Seconds are wall time: `networkSeconds` waiting
// for replies (the next page travels while a page is read and stored, so only
// the wait beyond that work counts), `localSeconds` the run's own work.
struct FetchStats {
  int pages = 0;  // requests made, retries included
  int retries = 0;
  int limited = 0;  // pages the platform's call limit turned away (asked again after the wait)
  // Pages asked for ahead and dropped unread: past the last page, or
  // travelling when the listing moved. Counted in `pages` too.
  int wasted = 0;
  int rechecked = 0;  // pages asked again: the listing moved while paged, or a page was skipped
  ListingEnd end = ListingEnd::LastPage;
  std::vector<int> skippedPages;  // pages that failed after every retry, ascending
  int failedPage = 0;             // GaveUp: the page it ended on
  int tradesRead = 0;
  int kept = 0;  // stored (table fetches) or listed (the buyer-rated list)
  double networkSeconds = 0;
  double localSeconds = 0;
  // Processor time of the run's own work (waiting excluded).
  double localCpuSeconds = 0;

  // Every page was read and none repeated: what is not listed is not there.
  bool Complete() const { return end == ListingEnd::LastPage && skippedPages.empty(); }
};

// "RATE_UNSELLER page 5" / "RATE_UNSELLER pages 5, 7" for the pages a
// listing skipped or ended on, "RATE_UNSELLER repeated page 3" for one
// handed a repeated page; empty for a complete listing.
std::string ListingProblem(const std::string& rateStatus, const FetchStats& stats);

// How to page through one listing.
struct ListingRequest {
  std::string rateStatus;  // empty: every rate status (the incremental listing only)
  const char* fields = kUnratedFields;
  bool withEndTime = true;
  std::vector<int> retryPausesMs = kDefaultPageRetryPausesMs;
  // Asked between pages and before each retry; true ends the listing (GaveUp).
  std::function<bool()> cancelled;
  // When set, only the trades modified from the one time to the other (the
  // platform's texts, at most a day apart), through the incremental listing.
  std::string startModified, endModified;
  // Who asks.
  Account account;
  // Pages that may travel at once. Above 1 the next pages are asked for
  // before the earlier ones are back (up to this many after a few pages),
  // read in page order, and those past the last page dropped unread.
  int pagesInFlight = 1;
};

// The most pages of one listing that travel at once, and what the loads ask:
// a listing of many pages then waits about a third of its round trips.
inline constexpr int kMostPagesInFlight = 8;
inline constexpr int kLoadPagesInFlight = 3;

// The longest window the incremental listing accepts.
inline constexpr std::int64_t kMostModifiedWindowSeconds = 24 * 3600;

// One page of the incremental listing ("taobao.trades.sold.increment.get"):
// the full listing's parameters and the window of modification times.
std::string TradesSoldIncrementUrl(const Account& account, const std::string& rateStatus, int pageNo,
                                   const std::string& fields, const std::string& startModified,
                                   const std::string& endModified);

// What the platform says of one order asked about by itself
// ("taobao.trade.get", fields tid, status, buyer_rate, seller_rate).
enum class TradeStanding {
  Unrated,      // finished, neither side has rated
  SellerRated,  // the seller's rating of it is there
  BuyerRated,   // the buyer has rated, the seller not
  NotRatable,   // no longer a finished trade
  Unknown,      // no whole answer about this very order (an error reply too)
};
TradeStanding AskTrade(const std::string& tid, const Account& account);

// Pages through the listing and hands each page's new trades to `onPage`
// (never an empty batch), in page order. The next page is asked for as soon
// as a page has been read, so that handling one page happens while the next
// one travels; with `pagesInFlight` above 1, further pages travel beside it.
// When pages travelled at once and a page then brings trades listed before
// (trades came in ahead of it while the listing was paged), a page answered
// before that moment may have missed the trades pushed onto it: the pages
// that travelled beside it are asked again (their new trades handed on after
// it) and the rest goes one page at a time, so a growing listing loses no
// trade that paging one page at a time would have brought.
FetchStats PageThrough(const ListingRequest& request, const std::function<void(std::vector<Order>&&)>& onPage);

// Stores the trades of one page of an unrated listing in one transaction,
// those older than fifteen days at `now` left out; `trades` keeps the ones stored, in
// their order (none when the transaction failed), and their number is returned.
int StoreUnratedPage(OrderDatabase& db, OrderTable table, std::vector<Order>& trades, double now);

// Pages through one rate status ("RATE_UNBUYER" or "RATE_UNSELLER") of the account and
// stores every trade of the last fifteen days in `table`, one transaction per
// page, each order number once. `onPage` (may be empty) hears the number of
// trades read so far.
FetchStats FetchUnratedTrades(const Account& account, OrderDatabase& db, const std::string& rateStatus, OrderTable table,
                              const std::function<void(int)>& onPage = {},
                              const std::vector<int>& retryPausesMs = kDefaultPageRetryPausesMs);

}  // namespace qm

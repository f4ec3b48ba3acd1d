#pragma once
// The first load and the buyer-rated refresh.
//
// The first load (SyncUnratedOrders) runs at start-up, and again at a refresh
// while no load has completed, on a worker thread of its own, holding
// Session().loadLock throughout: it empties the account's two tables, pages
// through the seller's finished trades that the buyer has not rated and those
// the seller has not rated (both listings at once, each on a thread of its
// own and page after page; failed pages asked for again), has the worker, the
// database's only writer, store each page in a transaction of its own
// (trades older than fifteen days left out), and fills the book's unrated
// list (超级列表框1) with the orders on both sides, oldest end time first. The
// worker makes the list ready; everything that touches the book, the status
// line or the busy picture is handed to the UI thread (PostToUi). At its end
// the first load runs the first-load-done handler on the UI thread (the
// ten-minute refresh and the automatic pass start the timers from there),
// hides the busy picture and gives both lists their colours.
//
// RefreshBuyerRatedList pages through the orders the buyer has rated and the
// seller has not; each page is appended to the book's buyer-rated list
// (超级列表框2) and its orders leave the unrated one while the next page is on
// its way. It runs on the UI thread (its network waits keep the windows
// answering); from another thread its list work is handed to the UI thread.
#include <functional>
#include <string>
#include <vector>

#include "orders/order_db.h"

namespace qm {

inline constexpr const char* kRateUnbuyer = "RATE_UNBUYER";
inline constexpr const char* kRateUnseller = "RATE_UNSELLER";
inline constexpr const char* kRateBuyerUnseller = "RATE_BUYER_UNSELLER";
inline constexpr const char* kUnratedFields = "tid,buyer_nick,end_time";
inline constexpr const char* kBuyerRatedFields = "tid,buyer_nick";

// The lists' colours once loaded (0xRRGGBB): text red 0, green 96, blue 192.
inline constexpr unsigned kLoadedTextColour = 0x0060C0;
inline constexpr unsigned kLoadedBackgroundColour = 0xFFFFFF;

// How a listing ended. A listing stopped because a page brought no order
// number it had not seen, or at kMaxListingPages, counts as complete: the
// platform gave what it had, only not in the way its has_next promised.
enum class ListingEnd { LastPage, NoNewOrders, PageLimit, GaveUp };

// A listing never asks for more pages than this: at 100 trades a page, a
// million trades, some twenty times the trades a large shop finishes in the
// fifteen days of the rating period (a few thousand a day), so only a gateway
// that keeps inventing orders reaches it.
inline constexpr int kMaxListingPages = 10000;

// A page that fails (no reply, an error reply, anything but a whole listing
// page) is asked for again after each of these pauses in turn (events keep
// running meanwhile); after the last the listing gives up. Tests shorten them.
void SetPageRetryPauses(std::vector<int> pausesMs);
inline const std::vector<int> kDefaultPageRetryPausesMs = {1000, 2000, 4000};

// What one paging run did. Seconds are wall time: `networkSeconds` waiting
// for replies (the next page travels while a page is read and stored, so only
// the wait beyond that work counts), `localSeconds` the run's own work: for
// a side of the first load, reading its pages on its thread and storing them
// on the writer.
struct FetchStats {
  int pages = 0;  // requests made, retries included
  int retries = 0;
  ListingEnd end = ListingEnd::LastPage;
  int failedPage = 0;  // the page it gave up on
  int tradesRead = 0;
  int kept = 0;  // stored (table fetches) or listed (the buyer-rated list)
  double networkSeconds = 0;
  double localSeconds = 0;
  // Processor time of the run's own work (waiting excluded), which does not
  // depend on what else the machine is doing.
  double localCpuSeconds = 0;
};

struct SyncResult {
  bool databaseOk = false;
  std::string error;  // why the database could not be used; empty when it could
  FetchStats buyerSide;
  FetchStats sellerSide;
  int listed = 0;            // orders given to the unrated list
  double joinSeconds = 0;    // the join, read into rows
  double joinCpuSeconds = 0; // processor time of the same
  double fillSeconds = 0;    // handing the list to the book on the UI thread
  double totalSeconds = 0;   // from taking the lock to handing over the rows
  bool finished = false;
  // Where a listing gave up ("RATE_UNSELLER page 5"); empty when both ended
  // well. The orders stored until then are still listed.
  std::string gaveUp;
  bool Completed() const { return databaseOk && gaveUp.empty(); }
};

// Pages through one rate status ("RATE_UNBUYER" or "RATE_UNSELLER") and
// stores every trade of the last fifteen days in `table`, one transaction per
// page, each order number once. `onPage` (may be empty) hears the number of trades read so far.
FetchStats FetchUnratedTrades(OrderDatabase& db, const std::string& rateStatus, OrderTable table,
                              const std::function<void(int)>& onPage = {});

// The whole first load; see above. Called on the worker thread (from
// StartFirstLoad, or by a runner that starts its own thread).
void SyncUnratedOrders();

// A reload makes the same requests and stores the same tables as the first
// load, but leaves the lists in place: the orders that finished since are
// appended, the ones that left both-unrated removed, every other row kept as
// it is (its place, the selection, a post in flight). It shows no busy
// picture and runs the reload-done handler instead of the first-load one.
enum class LoadKind { First, Reload };
void SyncUnratedOrders(LoadKind kind);

struct ReloadResult {
  int added = 0;
  int dropped = 0;
  bool completed = false;  // both listings ended well (LastSyncResult has the details)
};
// Starts a reload on the worker thread (after noting the orders listed now);
// false while any load runs, or without an order book.
bool StartReload();
// Runs on the UI thread at a reload's end.
void SetReloadDoneHandler(std::function<void(const ReloadResult&)> handler);
// What the last SyncUnratedOrders did (for the runner and the benchmarks).
SyncResult LastSyncResult();

// Appends the buyer-rated orders to the buyer-rated list (reply order, each
// order number once) and removes the same orders from the unrated list by
// their numbers.
void RefreshBuyerRatedList();
// What the last RefreshBuyerRatedList did.
FetchStats LastRefreshStats();

// Start-up: makes the account's database when it is missing, creates
// Session().loadLock when it has none, shows the busy picture and starts
// SyncUnratedOrders on its worker thread. False when a first load is already
// running or the thread cannot start (the busy picture is hidden again).
bool StartFirstLoad();
// True from StartFirstLoad or StartReload until its worker has finished:
// one load at a time.
bool FirstLoadRunning();
// What runs on the UI thread when the first load has filled 超级列表框1, before
// the busy picture goes: the rating engine installs its refresh and first pass.
void SetFirstLoadDoneHandler(std::function<void()> handler);

}  // namespace qm

#pragma once
// The loads of the unrated orders. A load runs on a worker thread of its own:
// it empties the account's two tables, pages through the seller's finished
// trades that the buyer has not rated and those the seller has not rated
// (both listings at once, each on a thread of its own), stores each page in a
// transaction of its own (trades older than fifteen days left out; the
// worker is the database's only writer) and joins what both sides stored
// into the orders unrated on both sides, oldest end time first. It then
// posts its report to the UI thread and ends: the UI thread fills or merges
// the book's unrated list and hears of the report. No thread waits for the UI thread, and nothing is held
// across what the UI thread does with the report.
//
// The first load fills the list. A reload leaves the list in place: the
// orders that finished since are appended, every other row is kept as it is
// (its place, the selection, a post in flight). A row leaves only with proof
// for that order: the listing of the changes holds its record saying a side
// has rated it; or a complete full listing did not bring it and the platform,
// asked about that order alone, says so (the run asks; see `notListed`); or
// its rating period is over. An order listed when the reload started and gone
// since (rated meanwhile) is not brought back.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orders/listing.h"
#include "orders/order_book.h"

namespace qm {

class EventPump;

enum class LoadKind { First, Reload };

struct LoadReport {
  LoadKind kind = LoadKind::First;
  // A reload of the changes only: the trades modified from `changesFrom` to
  // `changesTo` (platform times), asked in `windows` windows of a day at most.
  bool changesOnly = false;
  double changesFrom = 0, changesTo = 0;
  int windows = 0;
  bool databaseOk = false;
  std::string error;  // why the database could not be used; empty when it could
  FetchStats buyerSide;
  FetchStats sellerSide;
  // What the listings did not bring ("RATE_UNSELLER page 5"); empty when both
  // were complete. The orders they did bring are listed all the same.
  std::string problem;
  int listed = 0;   // orders unrated on both sides, as the listings gave them
  int added = 0;    // rows the list gained (the first load: every row)
  int dropped = 0;  // rows a reload removed
  // Rows a complete full listing did not bring, whose rating period is not
  // over: they stay until the platform, asked about each, says it is rated
  // or no longer ratable. Asking is the run's (UpdateNotListed).
  std::vector<Order> notListed;
  int keptNotListed = 0;  // of those, rows that stayed (still unrated, not asked, or no answer)
  int unrated = 0;  // rows of the unrated list afterwards
  double joinSeconds = 0;     // the join, read into rows
  double joinCpuSeconds = 0;  // processor time of the same
  double fillSeconds = 0;     // handing the list to the book on the UI thread
  double totalSeconds = 0;    // from the start to the report's posting

  bool Completed() const { return databaseOk && problem.empty(); }
  int TradesRead() const { return buyerSide.tradesRead + sellerSide.tradesRead; }
  // The first listing page that failed (skipped or ended on); 0 for none.
  int FailedPage() const;
};

class OrderLoader {
 public:
  using Done = std::function<void(const LoadReport&)>;
  using Progress = std::function<void(int tradesRead)>;

  // `book` is the run's; the listings ask for `account` and store in its
  // seller's database; `done` and `progress` run on the UI thread (the
  // pump's owner) and never after the loader is gone.
  // A failed page is asked again after each of `retryPausesMs`.
  OrderLoader(OrderBook& book, EventPump& pump, const Account& account, std::vector<int> retryPausesMs, Done done,
              Progress progress);
  ~OrderLoader();
  OrderLoader(const OrderLoader&) = delete;
  OrderLoader& operator=(const OrderLoader&) = delete;

  // Starts a load on its worker; false while one runs or when no thread can
  // be had. Called on the UI thread.
  bool Start(LoadKind kind);
  // A reload of the trades modified from `since` (platform time) to now.
  bool StartChanges(double since);
  bool Running() const { return running_.load(); }
  const std::vector<int>& RetryPauses() const { return retryPauses_; }

 private:
  struct Shared;
  // The worker's part of a load: the listings, the tables, the join; then
  // the report goes to the UI thread.
  void SyncUnratedOrders(LoadKind kind, std::shared_ptr<const OrderIndex> listedAtStart, double since, double until,
                         std::vector<int> pauses);
  bool Launch(LoadKind kind, double since);

  OrderBook& book_;
  EventPump& pump_;
  const Account account_;  // the worker reads this copy only
  Done done_;
  Progress progress_;
  const std::vector<int> retryPauses_;
  // Held by a load's worker while it lists and stores, never while the UI
  // thread takes over the orders.
  std::mutex loadMutex_;
  std::atomic<bool> running_{false};
  std::shared_ptr<Shared> shared_;
  std::thread worker_;
};

// The orders unrated on both sides from what the two tables were given, as
// the database's join (kUnratedJoinSql) reads them back: the rows of
// `buyerSide` (in storing order) whose order number `sellerSide` holds,
// oldest end time first, equal times in storing order. The load joins in
// memory what it has just stored instead of reading the tables back.
std::vector<Order> JoinListings(std::vector<Order> buyerSide, const OrderIndex& sellerSide);

// Appends the orders of `fresh` not listed and not listed at the start; after
// complete listings, for a reload of the changes removes the rows listed at
// the start that `ratedSide` holds, and for a full reload puts the rows
// listed at the start that `fresh` no longer holds into `report.notListed`
// (or removes them when their rating period is over at `now`); fills
// `report.added` and `report.dropped`.
void MergeReload(OrderRows& rows, std::vector<Order> fresh, const OrderIndex& listedAtStart, LoadReport& report,
                 double now, const std::vector<std::string>& ratedSide = {});

// The incremental listing of every finished trade modified from `from` to
// `to` (platform times), day by day, with both sides' rating flags: into
// *orders the trades whose record says neither side has rated (of the last
// fifteen days, oldest end first), into *ratedSide those whose record says
// a side has. Fills the report's buyerSide (the one listing), problem and windows.
void ListChanges(const Account& account, double from, double to, LoadReport& report, std::vector<Order>* orders,
                 std::vector<std::string>* ratedSide, const std::vector<int>& retryPauses,
                 const std::function<bool()>& cancelled = {});

}  // namespace qm

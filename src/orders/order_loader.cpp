#include "orders/order_loader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "orders/order_db.h"
#include "orders/timing.h"
#include "platform/platform_link.h"
#include "platform/platform_time.h"
#include "settings/app_session.h"
#include "util/event_pump.h"

namespace qm {
namespace {

using Clock = LoadClock;

// One page of an unrated listing on its way to the writer.
struct ListedPage {
  int side = 0;  // 0 the buyer side, 1 the seller side
  std::vector<Order> trades;
  int readSoFar = 0;  // trades the listing has read up to this page
};

// The pages that the two listings have read and the one writer has not
// stored yet. A listing that gets this many pages ahead of the writer waits,
// so a fast gateway cannot pile a whole listing up in memory.
class PageQueue {
 public:
  static constexpr std::size_t kMostWaiting = 16;
  explicit PageQueue(int listings) : open_(listings) {}

  void Push(ListedPage page) {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return pages_.size() < kMostWaiting; });
    pages_.push_back(std::move(page));
    ready_.notify_one();
  }
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    --open_;
    ready_.notify_one();
  }
  // The next page; false once every listing has ended and no page waits.
  bool Pop(ListedPage& page) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return !pages_.empty() || open_ == 0; });
    if (pages_.empty()) return false;
    page = std::move(pages_.front());
    pages_.pop_front();
    room_.notify_one();
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::deque<ListedPage> pages_;
  int open_;
};

// The two unrated listings at once, each page after page on its own thread,
// while this thread, the only one that writes to `db`, stores every page in
// a transaction of its own as it comes. The listings do not depend on each
// other, so the load waits for the slower one instead of for both in turn.
// What the tables now hold is kept beside them: the buyer side's rows in
// storing order in *buyerSide, the seller side's order numbers in *sellerSide.
void FetchBothSides(const Account& account, OrderDatabase& db, LoadReport& report, const std::vector<int>& pauses,
                    const std::function<bool()>& cancelled, const std::function<void(int)>& progress,
                    std::vector<Order>* buyerSide, OrderIndex* sellerSide) {
  struct Side {
    const char* rateStatus;
    OrderTable table;
    FetchStats* stats;  // the listing's own, written by its thread once it has ended
    int stored = 0;     // written by this thread, the writer
    double storeSeconds = 0;
    double storeCpuSeconds = 0;
    int read = 0;
  };
  Side sides[2] = {{kRateUnbuyer, OrderTable::BuyerUnrated, &report.buyerSide},
                   {kRateUnseller, OrderTable::SellerUnrated, &report.sellerSide}};
  PageQueue queue(2);
  std::vector<std::thread> listings;
  listings.reserve(2);
  for (int i = 0; i < 2; ++i) {
    Side& side = sides[i];
    auto list = [&account, &queue, &side, &pauses, &cancelled, i] {
      ListingRequest request{side.rateStatus, kUnratedFields, true, pauses, cancelled};
      request.account = account;
      request.pagesInFlight = kLoadPagesInFlight;
      int read = 0;
      *side.stats = PageThrough(request, [&](std::vector<Order>&& trades) {
        read += static_cast<int>(trades.size());
        queue.Push(ListedPage{i, std::move(trades), read});
      });
      queue.Close();
    };
    try {
      listings.emplace_back(list);
    } catch (const std::system_error&) {
      // No thread for it: the listing counts as given up on its first page.
      side.stats->end = ListingEnd::GaveUp;
      side.stats->failedPage = 1;
      queue.Close();
    }
  }

  if (progress) progress(0);
  ListedPage page;
  while (queue.Pop(page)) {
    Side& side = sides[page.side];
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    side.stored += StoreUnratedPage(db, side.table, page.trades, ClockOf(account).Now());
    for (Order& order : page.trades) {
      if (page.side == 0) {
        buyerSide->push_back(std::move(order));
      } else {
        sellerSide->Insert(order.tid, 0);
      }
    }
    side.storeCpuSeconds += ThreadCpuSeconds() - cpuStart;
    side.storeSeconds += SecondsSince(start);
    side.read = page.readSoFar;
    if (progress) progress(sides[0].read + sides[1].read);
  }
  for (std::thread& t : listings) t.join();
  for (Side& side : sides) {
    side.stats->kept = side.stored;
    side.stats->localSeconds += side.storeSeconds;
    side.stats->localCpuSeconds += side.storeCpuSeconds;
  }
}

// The listings, stored, then joined: the part of a load on its worker.
void ListAndStore(const Account& account, LoadReport& report, std::vector<Order>& orders,
                  const std::vector<int>& pauses, const std::function<bool()>& cancelled,
                  const std::function<void(int)>& progress) {
  const auto start = Clock::now();
  OrderDatabase db;
  std::string error;
  if (!PrepareOrderDatabase(account.dataDir, account.sellerNick, &error)) {
    report.error = error;
  } else if (!db.Open(account.PathOf(OrderDbFileName(account.sellerNick))) || !db.ClearTables()) {
    // A database whose old rows cannot be cleared would list stale orders.
    report.error = db.LastError();
    db.Close();
  } else {
    report.databaseOk = true;
  }
  if (report.databaseOk) {
    // Both listings run even when one gives up: the orders found on both
    // sides can be rated until a reload completes.
    std::vector<Order> buyerSide;
    OrderIndex sellerSide;
    FetchBothSides(account, db, report, pauses, cancelled, progress, &buyerSide, &sellerSide);
    report.problem = ListingProblem(kRateUnbuyer, report.buyerSide);
    if (const std::string seller = ListingProblem(kRateUnseller, report.sellerSide); !seller.empty())
      report.problem += (report.problem.empty() ? "" : ", ") + seller;
    const auto joinStart = Clock::now();
    const double joinCpuStart = ThreadCpuSeconds();
    orders = JoinListings(std::move(buyerSide), sellerSide);
    report.joinSeconds = SecondsSince(joinStart);
    report.joinCpuSeconds = ThreadCpuSeconds() - joinCpuStart;
    report.listed = static_cast<int>(orders.size());
    // Closing copies the log back into the file before the worker ends.
    db.Close();
  }
  report.totalSeconds = SecondsSince(start);
}

// A reload of the changes reaches back no further than this: fifteen days of
// the rating period and a day's margin.
constexpr double kMostChangesSeconds = 16 * 24 * 3600.0;

// Adds what one window's listing did to the side's figures so far.
void Accumulate(FetchStats& total, const FetchStats& window) {
  total.pages += window.pages;
  total.retries += window.retries;
  total.limited += window.limited;
  total.wasted += window.wasted;
  total.rechecked += window.rechecked;
  total.skippedPages.insert(total.skippedPages.end(), window.skippedPages.begin(), window.skippedPages.end());
  if (total.end == ListingEnd::LastPage && window.end != ListingEnd::LastPage) {
    total.end = window.end;
    total.failedPage = window.failedPage;
  }
  total.tradesRead += window.tradesRead;
  total.kept += window.kept;
  total.networkSeconds += window.networkSeconds;
  total.localSeconds += window.localSeconds;
  total.localCpuSeconds += window.localCpuSeconds;
}

}  // namespace

int LoadReport::FailedPage() const {
  for (const FetchStats* side : {&buyerSide, &sellerSide}) {
    if (!side->skippedPages.empty()) return side->skippedPages.front();
    if (side->end != ListingEnd::LastPage && side->failedPage > 0) return side->failedPage;
  }
  return 0;
}

// What the loader's worker and the closures it posts share: they may outlive
// the loader, and then do nothing.
struct OrderLoader::Shared {
  std::atomic<bool> alive{true};
};

OrderLoader::OrderLoader(OrderBook& book, EventPump& pump, const Account& account, std::vector<int> retryPausesMs,
                         Done done, Progress progress)
    : book_(book),
      pump_(pump),
      account_(account),
      done_(std::move(done)),
      progress_(std::move(progress)),
      retryPauses_(std::move(retryPausesMs)),
      shared_(std::make_shared<Shared>()) {}

OrderLoader::~OrderLoader() {
  // The listings end at their next page or pause; the posted report is dropped.
  shared_->alive = false;
  if (worker_.joinable()) worker_.join();
}

bool OrderLoader::Start(LoadKind kind) { return Launch(kind, 0); }

bool OrderLoader::StartChanges(double since) { return since > 0 && Launch(LoadKind::Reload, since); }

bool OrderLoader::Launch(LoadKind kind, double since) {
  if (running_.exchange(true)) return false;
  if (worker_.joinable()) worker_.join();  // the last load's worker, ended
  std::shared_ptr<OrderIndex> atStart;
  if (kind == LoadKind::Reload) {
    atStart = std::make_shared<OrderIndex>();
    const OrderRows& rows = book_.Unrated();
    atStart->Reserve(static_cast<std::size_t>(rows.RowCount()));
    for (int i = 0; i < rows.RowCount(); ++i) atStart->Insert(rows.Row(i).order.tid, static_cast<std::uint32_t>(i));
  }
  try {
    // The window ends now on the UI thread's clock, the one the run schedules by;
    // the worker gets its own copy of the pauses (the UI thread may set new ones).
    const double until = since > 0 ? ClockOf(account_).Now() : 0;
    worker_ = std::thread([this, kind, atStart, since, until, pauses = retryPauses_] {
      SyncUnratedOrders(kind, atStart, since, until, pauses);
    });
  } catch (const std::system_error&) {
    running_ = false;
    return false;
  }
  return true;
}

void OrderLoader::SyncUnratedOrders(LoadKind kind, std::shared_ptr<const OrderIndex> listedAtStart, double since,
                                    double until, std::vector<int> pauses) {
  std::shared_ptr<Shared> shared = shared_;
  auto cancelled = [shared] { return !shared->alive.load(); };
  std::function<void(int)> progress;
  if (kind == LoadKind::First && progress_) {
    progress = [this, shared](int read) {
      pump_.Post([this, shared, read] {
        if (shared->alive) progress_(read);
      });
    };
  }
  auto report = std::make_shared<LoadReport>();
  report->kind = kind;
  auto orders = std::make_shared<std::vector<Order>>();
  auto ratedSide = std::make_shared<std::vector<std::string>>();
  {
    std::lock_guard hold(loadMutex_);
    if (since > 0) {
      ListChanges(account_, since, until, *report, orders.get(), ratedSide.get(), pauses, cancelled);
    } else {
      ListAndStore(account_, *report, *orders, pauses, cancelled, progress);
    }
  }
  // The list and its index are made here, so the UI thread only takes them over.
  auto contents = std::make_shared<OrderRows::Contents>();
  if (kind == LoadKind::First) *contents = OrderRows::Prepare(std::move(*orders));
  pump_.Post([this, shared, report, orders, ratedSide, contents, listedAtStart] {
    if (!shared->alive) return;
    OrderRows& rows = book_.Unrated();
    if (report->kind == LoadKind::First) {
      const auto fillStart = Clock::now();
      rows.Fill(std::move(*contents));
      report->fillSeconds = SecondsSince(fillStart);
      report->added = rows.RowCount();
    } else if (report->databaseOk && listedAtStart) {
      MergeReload(rows, std::move(*orders), *listedAtStart, *report, ClockOf(account_).Now(), *ratedSide);
    }
    report->unrated = rows.RowCount();
    // The load is over before its report is heard: the report may start the next one.
    running_ = false;
    if (done_) done_(*report);
  });
}

std::vector<Order> JoinListings(std::vector<Order> buyerSide, const OrderIndex& sellerSide) {
  std::erase_if(buyerSide, [&](const Order& order) { return sellerSide.Find(order.tid) == OrderIndex::kNone; });
  // The end times are the platform's fixed-width texts: their text order is
  // their time order, and a stable sort keeps equal times in storing order.
  std::stable_sort(buyerSide.begin(), buyerSide.end(),
                   [](const Order& a, const Order& b) { return a.endTime < b.endTime; });
  return buyerSide;
}

void MergeReload(OrderRows& rows, std::vector<Order> fresh, const OrderIndex& listedAtStart, LoadReport& report,
                 double at, const std::vector<std::string>& ratedSide) {
  OrderIndex now;
  now.Reserve(fresh.size());
  std::vector<Order> added;
  std::uint32_t n = 0;
  for (Order& order : fresh) {
    now.Insert(order.tid, n++);
    if (listedAtStart.Find(order.tid) == OrderIndex::kNone && !rows.Contains(order.tid)) added.push_back(std::move(order));
  }
  std::vector<std::string> dropped;
  if (report.Completed() && report.changesOnly) {
    // The changes say nothing of the rows they do not hold; of those they
    // hold, only a record that says a side has rated takes a row out.
    for (const std::string& tid : ratedSide)
      if (listedAtStart.Find(tid) != OrderIndex::kNone && rows.Contains(tid)) dropped.push_back(tid);
  } else if (report.Completed()) {
    // A full listing pages while the shop goes on: a trade that leaves it
    // between two pages moves the later ones up a place, and the first of
    // the next page goes unseen. Not being listed proves nothing, so each
    // row it did not bring is asked about by itself (the caller asks); only
    // a row whose rating period is over goes at once, as nothing can rate it.
    for (int i = 0; i < rows.RowCount(); ++i) {
      const Order& order = rows.Row(i).order;
      if (listedAtStart.Find(order.tid) == OrderIndex::kNone || now.Find(order.tid) != OrderIndex::kNone) continue;
      if (ParsePlatformTime(order.endTime) && !WithinRatingPeriod(order.endTime, at)) {
        dropped.push_back(order.tid);
      } else {
        report.notListed.push_back(order);
      }
    }
  }
  report.added = rows.Append(std::move(added));
  report.dropped = rows.RemoveAll(dropped);
}

void ListChanges(const Account& account, double from, double to, LoadReport& report, std::vector<Order>* orders,
                 std::vector<std::string>* ratedSide, const std::vector<int>& retryPauses,
                 const std::function<bool()>& cancelled) {
  const auto start = Clock::now();
  report.changesOnly = true;
  report.changesFrom = from;
  report.changesTo = to;
  report.databaseOk = true;  // nothing of the tables is used
  // One listing of every finished trade modified in the window, each with
  // both sides' rating flags: what a trade's record says of both sides was
  // said at one moment. (Two listings, one per side, read a trade at two
  // moments; one modified in between for any reason leaves the second
  // listing's window and would look rated on one side.)
  std::unordered_map<std::string, Order> listed;
  // Nothing modified before the rating period of the oldest ratable trade
  // began can matter; whole seconds, so that no window is a fraction longer
  // than the platform takes.
  from = std::max(from, to - kMostChangesSeconds);
  const auto first = static_cast<std::int64_t>(std::floor(from));
  const auto last = std::max(first, static_cast<std::int64_t>(std::ceil(to)));
  for (std::int64_t at = first;;) {
    const std::int64_t until = std::min(last, at + kMostModifiedWindowSeconds);
    ++report.windows;
    ListingRequest request{"", kChangedFields, true, retryPauses, cancelled,
                           FormatPlatformTime(at), FormatPlatformTime(until), account};
    const FetchStats window = PageThrough(request, [&](std::vector<Order>&& trades) {
      for (Order& t : trades) listed.insert_or_assign(t.tid, std::move(t));
    });
    Accumulate(report.buyerSide, window);
    // A platform that stopped answering answers no later window either.
    if (window.end == ListingEnd::GaveUp || until >= last) break;
    at = until;
  }
  report.problem = ListingProblem(kChangesListing, report.buyerSide);

  const double now = ClockOf(account).Now();
  std::vector<Order> both;
  for (auto& [tid, order] : listed) {
    using Said = Order::Said;
    if (order.buyerRated == Said::Yes || order.sellerRated == Said::Yes) {
      // The trade's own record says a side has rated it.
      ratedSide->push_back(tid);
    } else if (order.buyerRated == Said::No && order.sellerRated == Said::No && WithinRatingPeriod(order.endTime, now)) {
      both.push_back(std::move(order));
    }
  }
  std::sort(both.begin(), both.end(), [](const Order& a, const Order& b) {
    return a.endTime != b.endTime ? a.endTime < b.endTime : a.tid < b.tid;
  });
  report.buyerSide.kept = static_cast<int>(listed.size());
  report.listed = static_cast<int>(both.size());
  *orders = std::move(both);
  report.totalSeconds = SecondsSince(start);
}

}  // namespace qm

#include "orders/sync.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "orders/order_book.h"
#include "orders/trade_page.h"
#include "platform/platform_time.h"
#include "platform/reply.h"
#include "platform/request.h"
#include "platform/transport.h"
#include "settings/app_session.h"
#include "util/delay.h"
#include "util/event_pump.h"
#include "util/locks.h"
#include "util/ports.h"
#include "util/stop.h"
#include "util/threads.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time the calling thread has used.
double ThreadCpuSeconds() {
  timespec ts{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::mutex g_mutex;  // guards the six below
std::function<void()> g_doneHandler;
std::function<void(const ReloadResult&)> g_reloadDoneHandler;
// The orders listed when the running reload started.
std::shared_ptr<const std::unordered_set<std::string>> g_listedAtReload;
ReloadResult g_lastReload;
SyncResult g_lastSync;
FetchStats g_lastRefresh;
std::vector<int> g_retryPauses = kDefaultPageRetryPausesMs;
std::atomic<bool> g_firstLoadRunning{false};

bool OnUiThread() {
  EventPump* pump = CurrentEventPump();
  return pump == nullptr || pump->OnOwnerThread();
}

// Runs `fn` on the UI thread: at once when called there, queued otherwise.
void RunOnUi(std::function<void()> fn) {
  if (OnUiThread()) {
    fn();
  } else {
    PostToUi(std::move(fn));
  }
}

// Runs `fn` on the UI thread and waits until it has run. When the UI drops the
// queued call without running it (its loop went away), the wait ends too.
void RunOnUiAndWait(std::function<void()> fn) {
  if (OnUiThread()) {
    fn();
    return;
  }
  struct Signal {
    std::promise<void> promise;
    std::once_flag once;
    void Fire() {
      std::call_once(once, [this] { promise.set_value(); });
    }
    ~Signal() { Fire(); }
  };
  auto signal = std::make_shared<Signal>();
  std::future<void> done = signal->promise.get_future();
  PostToUi([signal, fn = std::move(fn)] {
    fn();
    signal->Fire();
  });
  signal.reset();
  done.wait();
}

void ShowStatus(std::string text) {
  RunOnUi([text = std::move(text)] {
    MainView* view = CurrentMainView();
    if (view != nullptr && view->setStatus) view->setStatus(text);
  });
}

std::vector<int> RetryPauses() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_retryPauses;
}

// The order numbers a listing has brought so far. The platform's order
// numbers are decimal numbers: those are kept as numbers in an open table,
// without an allocation each, and anything else as text.
class SeenOrders {
 public:
  // True when `tid` had not been seen (it has now).
  bool Insert(const std::string& tid) {
    std::uint64_t key = 0;
    if (!AsNumber(tid, &key)) return texts_.insert(tid).second;
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    if (!Place(slots_, key)) return false;
    ++count_;
    return true;
  }

 private:
  static bool AsNumber(const std::string& s, std::uint64_t* key) { return OrderNumberKey(s, key); }
  // False when `key` is there already.
  static bool Place(std::vector<std::uint64_t>& slots, std::uint64_t key) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = (key * 0x9E3779B97F4A7C15ull) >> 20 & mask;; i = (i + 1) & mask) {
      if (slots[i] == key) return false;
      if (slots[i] == 0) {
        slots[i] = key;
        return true;
      }
    }
  }
  void Grow() {
    std::vector<std::uint64_t> bigger(slots_.empty() ? 8192 : slots_.size() * 2, 0);
    for (std::uint64_t key : slots_)
      if (key != 0) Place(bigger, key);
    slots_ = std::move(bigger);
  }

  std::vector<std::uint64_t> slots_;
  std::size_t count_ = 0;
  std::unordered_set<std::string> texts_;
};

// Pages through one rate status: every page is requested with its own
// timestamp and signature, read, and its trades not seen before in this
// listing are handed to `onPage`. Paging goes on while a page says has_next
// "true" and brings an order number not seen before, up to kMaxListingPages,
// so a platform that keeps saying "true" cannot hold the load forever nor
// have an order stored twice. A page that is not a whole listing page is
// asked for again after each retry pause; after the last the listing gives up
// (stats.end). The next page is asked for as soon as a page has been read, so
// that storing one page happens while the next one travels.
template <class OnPage>
void PageThrough(const std::string& rateStatus, const char* fields, bool withEndTime, FetchStats& stats,
                 OnPage&& onPage) {
  const double cpuStart = ThreadCpuSeconds();
  double cpuWaiting = 0;
  const std::vector<int> pauses = RetryPauses();
  auto ask = [&](int page) {
    return start_web_request(WebRequest::Get(TradesSoldGetUrl(rateStatus, page, fields)));
  };
  SeenOrders seen;
  PendingRequest next = ask(1);
  for (int page = 1;; ++page) {
    TradePage read;
    for (std::size_t attempt = 0;; ++attempt) {
      const auto waited = Clock::now();
      const double cpuBefore = ThreadCpuSeconds();
      const WebReply reply = next.Take();
      cpuWaiting += ThreadCpuSeconds() - cpuBefore;
      stats.networkSeconds += SecondsSince(waited);
      ++stats.pages;
      if (reply.arrived) {
        read = ReadTradePage(DecodeWholeReply(reply.body), withEndTime);
        if (read.whole) break;
      }
      if (attempt >= pauses.size() || StopRequested()) {
        stats.end = ListingEnd::GaveUp;
        stats.failedPage = page;
        stats.localCpuSeconds = ThreadCpuSeconds() - cpuStart - cpuWaiting;
        return;
      }
      ++stats.retries;
      const auto paused = Clock::now();
      const double cpuPause = ThreadCpuSeconds();
      DelayWithEvents(pauses[attempt]);
      cpuWaiting += ThreadCpuSeconds() - cpuPause;
      stats.networkSeconds += SecondsSince(paused);
      next = ask(page);
    }
    stats.tradesRead += static_cast<int>(read.trades.size());
    std::erase_if(read.trades, [&seen](const Order& t) { return !seen.Insert(t.tid); });
    const bool fresh = !read.trades.empty();
    const bool more = read.hasNext && fresh && page < kMaxListingPages && !StopRequested();
    if (more) next = ask(page + 1);
    if (fresh) onPage(std::move(read.trades));
    if (!more) {
      stats.end = !read.hasNext ? ListingEnd::LastPage : !fresh ? ListingEnd::NoNewOrders : ListingEnd::PageLimit;
      break;
    }
  }
  stats.localCpuSeconds = ThreadCpuSeconds() - cpuStart - cpuWaiting;
}

// Stores the trades of one page of an unrated listing in one transaction,
// those older than fifteen days left out; how many were stored.
int StorePage(OrderDatabase& db, OrderTable table, const std::vector<Order>& trades) {
  const double now = PlatformNow();
  int stored = 0;
  const bool inTransaction = db.BeginTransaction();
  for (const auto& t : trades) {
    if (!WithinRatingPeriod(t.endTime, now)) continue;
    if (db.Insert(table, t.tid, t.buyerNick, t.endTime)) ++stored;
  }
  return !inTransaction || db.CommitTransaction() ? stored : 0;
}

// One page of an unrated listing on its way to the writer.
struct ListedPage {
  int side = 0;  // 0 the buyer side, 1 the seller side
  std::vector<Order> trades;
  int readSoFar = 0;  // trades the listing has read up to this page
};

// The pages that the two listings of the first load have read and the one
// writer has not stored yet. A listing that gets this many pages ahead of the
// writer waits, so a fast gateway cannot pile a whole listing up in memory.
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
  // A listing has ended.
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

// What the writer spent on one side's pages.
struct StoreTime {
  double seconds = 0;
  double cpuSeconds = 0;
};

// "RATE_UNSELLER page 5" for a listing that gave up; empty otherwise.
std::string GaveUpAt(const std::string& rateStatus, const FetchStats& stats) {
  if (stats.end != ListingEnd::GaveUp) return {};
  return rateStatus + " page " + std::to_string(stats.failedPage);
}

std::string LoadingText(int read) { return "正在读取订单，已读取 " + std::to_string(read) + " 笔"; }


}  // namespace

FetchStats FetchUnratedTrades(OrderDatabase& db, const std::string& rateStatus, OrderTable table,
                              const std::function<void(int)>& onPage) {
  FetchStats stats;
  const auto start = Clock::now();
  PageThrough(rateStatus, kUnratedFields, true, stats, [&](std::vector<Order>&& trades) {
    stats.kept += StorePage(db, table, trades);
    if (onPage) onPage(stats.tradesRead);
  });
  stats.localSeconds = SecondsSince(start) - stats.networkSeconds;
  return stats;
}

namespace {

// "MM-DD HH:MM" of the platform's clock, for the status line.
std::string ClockText() { return FormatPlatformTime(static_cast<std::int64_t>(PlatformNow())).substr(5, 11); }

// The reload's end on the UI thread: the orders that finished since the last
// load are appended, the ones that left both-unrated are removed, and every
// other row stays as it is (its place, the selection, a post in flight). An
// order listed when the reload started and gone since (rated, or rated by
// its buyer, meanwhile) is not brought back by the reload's older listing;
// a listing that gave up removes nothing.
ReloadResult MergeReload(std::vector<Order> fresh, const std::unordered_set<std::string>& listedAtStart,
                         bool complete) {
  ReloadResult merged;
  OrderBook* book = CurrentOrderBook();
  if (book == nullptr) return merged;
  OrderRows& rows = book->Unrated();
  std::unordered_set<std::string> now;
  now.reserve(fresh.size());
  std::vector<Order> added;
  for (Order& order : fresh) {
    now.insert(order.tid);
    if (listedAtStart.count(order.tid) == 0 && !rows.Contains(order.tid)) added.push_back(std::move(order));
  }
  std::vector<std::string> dropped;
  if (complete) {
    for (int i = 0; i < rows.RowCount(); ++i) {
      const std::string& tid = rows.Row(i).order.tid;
      if (listedAtStart.count(tid) != 0 && now.count(tid) == 0) dropped.push_back(tid);
    }
  }
  merged.added = rows.Append(std::move(added));
  merged.dropped = rows.RemoveAll(dropped);
  return merged;
}

// The two unrated listings at once, each page after page on its own thread,
// while this thread, the only one that writes to `db`, stores every page in
// a transaction of its own as it comes. The listings do not depend on each
// other, so the load waits for the slower one instead of for both in turn.
void FetchBothSides(OrderDatabase& db, SyncResult& result, bool showProgress) {
  struct Side {
    const char* rateStatus;
    OrderTable table;
    FetchStats* stats;
    StoreTime store;
    double wallSeconds = 0;
    int read = 0;
  };
  Side sides[2] = {{kRateUnbuyer, OrderTable::BuyerUnrated, &result.buyerSide, {}},
                   {kRateUnseller, OrderTable::SellerUnrated, &result.sellerSide, {}}};
  PageQueue queue(2);
  std::vector<std::thread> listings;
  listings.reserve(2);
  for (int i = 0; i < 2; ++i) {
    Side& side = sides[i];
    auto list = [&queue, &side, i] {
      const auto start = Clock::now();
      PageThrough(side.rateStatus, kUnratedFields, true, *side.stats, [&](std::vector<Order>&& trades) {
        queue.Push(ListedPage{i, std::move(trades), side.stats->tradesRead});
      });
      side.wallSeconds = SecondsSince(start);
      queue.Close();
    };
    try {
      listings.emplace_back(list);
    } catch (const std::system_error&) {
      // No thread for it: the listing counts as given up on its first page,
      // and the next refresh loads again.
      side.stats->end = ListingEnd::GaveUp;
      side.stats->failedPage = 1;
      queue.Close();
    }
  }

  if (showProgress) ShowStatus(LoadingText(0));
  ListedPage page;
  while (queue.Pop(page)) {
    Side& side = sides[page.side];
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    side.stats->kept += StorePage(db, side.table, page.trades);
    side.store.cpuSeconds += ThreadCpuSeconds() - cpuStart;
    side.store.seconds += SecondsSince(start);
    side.read = page.readSoFar;
    if (showProgress) ShowStatus(LoadingText(sides[0].read + sides[1].read));
  }
  for (std::thread& t : listings) t.join();
  for (Side& side : sides) {
    side.stats->localSeconds = side.wallSeconds - side.stats->networkSeconds + side.store.seconds;
    side.stats->localCpuSeconds += side.store.cpuSeconds;
  }
}

}  // namespace

void SyncUnratedOrders() { SyncUnratedOrders(LoadKind::First); }

void SyncUnratedOrders(LoadKind kind) {
  const bool reload = kind == LoadKind::Reload;
  const AppSession& session = Session();
  LockGuard hold(session.loadLock);
  const auto start = Clock::now();
  SyncResult result;

  OrderDatabase db;
  std::string error;
  const std::string name = OrderDbFileName(session.sellerNick);
  if (!PrepareOrderDatabase(session.sellerNick, &error)) {
    result.error = error;
  } else if (!db.Open(session.PathOf(name)) || !db.ClearTables()) {
    // A database whose old rows cannot be cleared would list stale orders.
    result.error = db.LastError();
    db.Close();
  } else {
    result.databaseOk = true;
  }

  OrderRows::Contents listed;
  std::vector<Order> reloaded;
  if (result.databaseOk) {
    // Both listings run even when one gives up: the orders found on both
    // sides can be rated until a reload completes. A reload works in the
    // background: the status line keeps what it says until its end.
    FetchBothSides(db, result, !reload);
    result.gaveUp = GaveUpAt(kRateUnbuyer, result.buyerSide);
    if (const std::string seller = GaveUpAt(kRateUnseller, result.sellerSide); !seller.empty())
      result.gaveUp += (result.gaveUp.empty() ? "" : ", ") + seller;

    const auto joinStart = Clock::now();
    const double joinCpuStart = ThreadCpuSeconds();
    // The list and its index are made here, so the UI thread only takes them over.
    if (reload) {
      reloaded = db.UnratedOrders();
    } else {
      listed = OrderRows::Prepare(db.UnratedOrders());
    }
    result.joinSeconds = SecondsSince(joinStart);
    result.joinCpuSeconds = ThreadCpuSeconds() - joinCpuStart;
    result.listed = static_cast<int>(reload ? reloaded.size() : listed.rows.size());
  }
  result.totalSeconds = SecondsSince(start);

  if (reload) {
    std::shared_ptr<const std::unordered_set<std::string>> atStart;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      atStart = g_listedAtReload;
    }
    RunOnUiAndWait([&] {
      ReloadResult merged;
      if (result.databaseOk && atStart) merged = MergeReload(std::move(reloaded), *atStart, result.gaveUp.empty());
      merged.completed = result.Completed();
      if (!result.databaseOk) {
        ShowStatus("订单数据库无法使用：" + result.error);
      } else if (merged.completed) {
        OrderBook* book = CurrentOrderBook();
        ShowStatus("订单重新读取完成（" + ClockText() + "），新增 " + std::to_string(merged.added) + " 笔，移除 " +
                   std::to_string(merged.dropped) + " 笔，双方未评价 " +
                   std::to_string(book ? book->Unrated().RowCount() : 0) + " 笔");
      }
      std::lock_guard<std::mutex> lock(g_mutex);
      g_lastSync = result;
      g_lastSync.finished = true;
      g_lastReload = merged;
    });
    db.Close();
    return;
  }

  RunOnUiAndWait([&] {
    OrderBook* book = CurrentOrderBook();
    if (book != nullptr) {
      const auto fillStart = Clock::now();
      book->Unrated().Fill(std::move(listed));
      result.fillSeconds = SecondsSince(fillStart);
    }
    const int read = result.buyerSide.tradesRead + result.sellerSide.tradesRead;
    const std::string counts =
        "共读取 " + std::to_string(read) + " 笔，双方未评价 " + std::to_string(result.listed) + " 笔";
    if (!result.databaseOk) {
      ShowStatus("订单数据库无法使用：" + result.error);
    } else if (!result.gaveUp.empty()) {
      const FetchStats& failed =
          result.buyerSide.end == ListingEnd::GaveUp ? result.buyerSide : result.sellerSide;
      ShowStatus("订单读取未完成：第 " + std::to_string(failed.failedPage) + " 页多次读取失败，" + counts +
                 "，下次刷新时重新读取");
    } else {
      ShowStatus("订单读取完成（" + ClockText() + "），" + counts);
    }
    std::function<void()> handler;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_lastSync = result;
      handler = g_doneHandler;
    }
    // The handler starts the timed work (the pass rates orders): not once the
    // program is stopping.
    if (handler && !StopRequested()) handler();
    MainView* view = CurrentMainView();
    if (view != nullptr && view->showBusy) view->showBusy(false);
    book = CurrentOrderBook();
    if (book != nullptr) {
      for (OrderRows* list : {&book->Unrated(), &book->BuyerRated()})
        list->SetColours(kLoadedTextColour, kLoadedBackgroundColour);
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lastSync.finished = true;
  });
  // Closing copies the log back into the file; the lists need not wait for it.
  db.Close();
}

SyncResult LastSyncResult() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_lastSync;
}

void RefreshBuyerRatedList() {
  FetchStats stats;
  const auto start = Clock::now();
  PageThrough(kRateBuyerUnseller, kBuyerRatedFields, false, stats, [&](std::vector<Order>&& trades) {
    stats.kept += static_cast<int>(trades.size());
    std::vector<std::string> rated;
    rated.reserve(trades.size());
    for (const auto& t : trades) rated.push_back(t.tid);
    // Out of 超级列表框1 with the page that lists them, before the next page's
    // wait: a pass that runs inside it must not rate "good" an order whose
    // buyer has just rated it. The next page is on its way meanwhile.
    RunOnUi([page = std::move(trades), rated = std::move(rated)]() mutable {
      if (OrderBook* book = CurrentOrderBook()) {
        book->BuyerRated().Append(std::move(page));
        book->Unrated().RemoveAll(rated);
      }
    });
  });
  stats.localSeconds = SecondsSince(start) - stats.networkSeconds;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lastRefresh = stats;
}

void SetPageRetryPauses(std::vector<int> pausesMs) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_retryPauses = std::move(pausesMs);
}

FetchStats LastRefreshStats() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_lastRefresh;
}

bool StartFirstLoad() {
  if (g_firstLoadRunning.exchange(true)) return false;
  AppSession& session = Session();
  if (session.loadLock == 0) session.loadLock = CreateLock();
  MainView* view = CurrentMainView();
  if (view != nullptr && view->showBusy) view->showBusy(true);
  const bool started = StartThread([](std::uint32_t) -> std::uint32_t {
    SyncUnratedOrders();
    g_firstLoadRunning = false;
    return 0;
  });
  if (!started) {
    g_firstLoadRunning = false;
    if (view != nullptr && view->showBusy) view->showBusy(false);
  }
  return started;
}

bool StartReload() {
  OrderBook* book = CurrentOrderBook();
  if (book == nullptr || g_firstLoadRunning.exchange(true)) return false;
  AppSession& session = Session();
  if (session.loadLock == 0) session.loadLock = CreateLock();
  auto atStart = std::make_shared<std::unordered_set<std::string>>();
  const OrderRows& rows = book->Unrated();
  atStart->reserve(static_cast<std::size_t>(rows.RowCount()));
  for (int i = 0; i < rows.RowCount(); ++i) atStart->insert(rows.Row(i).order.tid);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_listedAtReload = std::move(atStart);
  }
  const bool started = StartThread([](std::uint32_t) -> std::uint32_t {
    SyncUnratedOrders(LoadKind::Reload);
    // The handler may start the next load or the refresh: the load is over first.
    g_firstLoadRunning = false;
    RunOnUi([] {
      std::function<void(const ReloadResult&)> handler;
      ReloadResult merged;
      {
        std::lock_guard<std::mutex> lock(g_mutex);
        handler = g_reloadDoneHandler;
        merged = g_lastReload;
      }
      if (handler && !StopRequested()) handler(merged);
    });
    return 0;
  });
  if (!started) g_firstLoadRunning = false;
  return started;
}

void SetReloadDoneHandler(std::function<void(const ReloadResult&)> handler) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_reloadDoneHandler = std::move(handler);
}

bool FirstLoadRunning() { return g_firstLoadRunning.load(); }

void SetFirstLoadDoneHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_doneHandler = std::move(handler);
}

}  // namespace qm

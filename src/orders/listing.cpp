#include "orders/listing.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <unordered_set>
#include <utility>

#include "orders/order_book.h"
#include "orders/timing.h"
#include "orders/trade_page.h"
#include "platform/call_limits.h"
#include "platform/platform_link.h"
#include "platform/platform_time.h"
#include "platform/reply.h"
#include "platform/request.h"
#include "platform/transport.h"
#include "util/delay.h"
#include "util/stop.h"

namespace qm {
namespace {

// Two skipped pages in a row: the platform is not answering this listing.
constexpr int kMostSkippedInARow = 2;

}  // namespace

std::string ListingProblem(const std::string& rateStatus, const FetchStats& stats) {
  std::string pages;
  for (int page : stats.skippedPages) pages += (pages.empty() ? "" : ", ") + std::to_string(page);
  if (stats.end == ListingEnd::GaveUp && stats.failedPage > 0 &&
      (stats.skippedPages.empty() || stats.skippedPages.back() != stats.failedPage))
    pages += (pages.empty() ? "" : ", ") + std::to_string(stats.failedPage);
  std::string text;
  if (!pages.empty()) text = rateStatus + (pages.find(',') == std::string::npos ? " page " : " pages ") + pages;
  if (stats.end == ListingEnd::Repeated || stats.end == ListingEnd::PageLimit) {
    text += (text.empty() ? rateStatus : std::string(",")) +
            (stats.end == ListingEnd::Repeated ? " repeated page " : " stopped at page ") + std::to_string(stats.failedPage);
  }
  return text;
}

std::string TradesSoldIncrementUrl(const Account& account, const std::string& rateStatus, int pageNo,
                                   const std::string& fields, const std::string& startModified,
                                   const std::string& endModified) {
  RequestParams own = {{"page_no", std::to_string(pageNo)}, {"page_size", "100"}};
  if (!rateStatus.empty()) own.emplace_back("rate_status", rateStatus);
  own.insert(own.end(), {{"status", "TRADE_FINISHED"},
                         {"use_has_next", "true"},
                         {"fields", fields},
                         {"start_modified", startModified},
                         {"end_modified", endModified}});
  return build_gateway_url(account, GatewayParams(account, "taobao.trades.sold.increment.get", make_timestamp(ClockOf(account)), std::move(own)));
}

namespace {

// One page asked for and not read yet.
struct AskedPage {
  int page = 0;
  // Asked again after the listing moved: it may hold trades that moved into
  // it from a page answered earlier. It decides nothing about the end.
  bool recheck = false;
  PendingRequest reply;
};

// Reads one listing page after page, with up to `most` pages travelling at
// once. Pages are read in page order whatever order their replies come in.
class Pager {
 public:
  Pager(const ListingRequest& request, const std::function<void(std::vector<Order>&&)>& onPage)
      : request_(request),
        onPage_(onPage),
        incremental_(!request.startModified.empty()),
        account_(request.account),
        method_(incremental_ ? "taobao.trades.sold.increment.get" : "taobao.trades.sold.get"),
        limits_(LimitsOf(account_)),
        most_(std::clamp(request.pagesInFlight, 1, kMostPagesInFlight)) {}

  FetchStats Run();

 private:
  bool Cancelled() const { return StopRequested() || (request_.cancelled && request_.cancelled()); }
  PendingRequest Ask(int page);
  void Send(int page, bool recheck) { inFlight_.push_back({page, recheck, Ask(page)}); }
  // Asks for the next pages of the listing until `window_` of them travel.
  void TopUp();
  // Pages travelling that will not be read: their calls went out all the same.
  void DropInFlight();
  // The reply of one page, asked again after a failure or a call limit;
  // false when it never came whole (or the run stopped: `stopped_`).
  bool Read(AskedPage& asked, TradePage& read);
  FetchStats& Finish(ListingEnd end, int page);
  // Asks the skipped pages of a listing that reached its last page once more.
  void SecondChance(int lastPage, OrderIndex& seen, std::uint32_t& seenCount);

  const ListingRequest& request_;
  const std::function<void(std::vector<Order>&&)>& onPage_;
  const bool incremental_;
  const Account account_;
  const char* method_;
  const std::shared_ptr<CallLimits> limits_;
  int most_;        // pages that may travel at once; 1 after the listing moved
  int window_ = 1;  // grows page by page up to most_, so a short listing wastes little
  int nextPage_ = 1;
  bool aheadUsed_ = false;  // two pages of the listing have travelled at once
  int firstAhead_ = 0;      // the first page sent while another travelled
  bool stopped_ = false;
  std::deque<AskedPage> inFlight_;
  // The first and the last order number of each page as first read (empty:
  // not read, or no trade): where a page asked again must reach to.
  std::vector<std::pair<std::string, std::string>> edges_;
  FetchStats stats_;
  const LoadClock::time_point start_ = LoadClock::now();
  const double cpuStart_ = ThreadCpuSeconds();
  double cpuWaiting_ = 0;
};

PendingRequest Pager::Ask(int page) {
  // A call limit in force is waited out before the page goes out; the
  // wait counts as time spent on the network (asleep: it takes no processor time).
  const auto waited = LoadClock::now();
  const bool clear = limits_->WaitBefore(method_, [this] { return Cancelled(); });
  stats_.networkSeconds += SecondsSince(waited);
  if (!clear) return PendingRequest();
  return start_web_request(Through(
      account_, WebRequest::Get(incremental_ ? TradesSoldIncrementUrl(account_, request_.rateStatus, page, request_.fields,
                                                                      request_.startModified, request_.endModified)
                                             : TradesSoldGetUrl(request_.rateStatus, page, request_.fields, account_))));
}

void Pager::TopUp() {
  int travelling = 0;
  for (const AskedPage& asked : inFlight_) travelling += asked.recheck ? 0 : 1;
  while (travelling < window_ && nextPage_ <= kMaxListingPages && !Cancelled()) {
    if (++travelling > 1 && !aheadUsed_) {
      aheadUsed_ = true;
      firstAhead_ = nextPage_;
    }
    Send(nextPage_++, false);
  }
}

void Pager::DropInFlight() {
  for (AskedPage& asked : inFlight_) {
    if (!asked.reply.Valid()) continue;
    ++stats_.pages;
    ++stats_.wasted;
    limits_->Met(method_, {});
  }
  inFlight_.clear();
}

bool Pager::Read(AskedPage& asked, TradePage& read) {
  for (std::size_t attempt = 0;; ++attempt) {
    const auto waited = LoadClock::now();
    // The wait for a reply begins with a short spin, which is not the listing's own work.
    const double cpuBefore = ThreadCpuSeconds();
    const WebReply reply = asked.reply.Take();
    cpuWaiting_ += ThreadCpuSeconds() - cpuBefore;
    stats_.networkSeconds += SecondsSince(waited);
    ++stats_.pages;
    const std::string text = reply.arrived ? DecodeWholeReply(reply.body) : std::string();
    if (limits_->Met(method_, text)) {
      // Not a failed page: the platform did not carry the call out. The
      // same page goes out again once the limit has passed.
      ++stats_.limited;
      if ((stopped_ = Cancelled())) return false;
      asked.reply = Ask(asked.page);
      --attempt;
      continue;
    }
    if (reply.arrived) {
      read = ReadTradePage(text, request_.withEndTime, incremental_ ? kSoldIncrementResponse : kSoldGetResponse);
      if (read.whole) return true;
    }
    if ((stopped_ = Cancelled())) return false;
    if (attempt >= request_.retryPausesMs.size()) return false;
    ++stats_.retries;
    const auto paused = LoadClock::now();
    PauseUnlessCancelled(request_.retryPausesMs[attempt], [this] { return Cancelled(); });
    stats_.networkSeconds += SecondsSince(paused);
    asked.reply = Ask(asked.page);
  }
}

FetchStats& Pager::Finish(ListingEnd end, int page) {
  DropInFlight();
  stats_.end = end;
  if (end != ListingEnd::LastPage) stats_.failedPage = page;
  stats_.localCpuSeconds = ThreadCpuSeconds() - cpuStart_ - cpuWaiting_;
  stats_.localSeconds = SecondsSince(start_) - stats_.networkSeconds;
  return stats_;
}

FetchStats Pager::Run() {
  // The order numbers seen so far, in the book's own index.
  OrderIndex seen;
  std::uint32_t seenCount = 0;
  int skippedInARow = 0;
  // How the listing ends, and on which page; set by the page that ends it.
  std::optional<std::pair<ListingEnd, int>> ending;
  TopUp();
  while (!inFlight_.empty()) {
    AskedPage asked = std::move(inFlight_.front());
    inFlight_.pop_front();
    const int page = asked.page;
    TradePage read;
    if (!Read(asked, read)) {
      if (stopped_) return Finish(ListingEnd::GaveUp, page);
      const auto at = std::lower_bound(stats_.skippedPages.begin(), stats_.skippedPages.end(), page);
      if (at == stats_.skippedPages.end() || *at != page) stats_.skippedPages.insert(at, page);
      if (asked.recheck) continue;
      // The page's has_next is unknown: the next page says whether there is more.
      if (++skippedInARow >= kMostSkippedInARow || page >= kMaxListingPages || Cancelled())
        return Finish(ListingEnd::GaveUp, page);
      TopUp();
      continue;
    }
    const bool anyTrade = !read.trades.empty();
    if (!asked.recheck && anyTrade) {
      if (edges_.size() <= static_cast<std::size_t>(page)) edges_.resize(page + 1);
      edges_[page] = {read.trades.front().tid, read.trades.back().tid};
    }
    stats_.tradesRead += static_cast<int>(read.trades.size());
    const std::size_t before = read.trades.size();
    std::erase_if(read.trades, [&](const Order& t) { return !seen.Insert(t.tid, seenCount++); });
    const bool fresh = !read.trades.empty();
    if (asked.recheck) {
      if (fresh) onPage_(std::move(read.trades));
      continue;
    }
    skippedInARow = 0;
    // A page of orders all listed before (a gateway that repeats a page, or
    // one that goes on saying "true" with nothing new) is no proof of the end.
    const bool repeated = !fresh && (anyTrade || read.hasNext);
    const bool more = read.hasNext && fresh && page < kMaxListingPages && !Cancelled();
    const bool moved = fresh && read.trades.size() < before && aheadUsed_ && most_ > 1;
    if (moved) {
      // The listing moved down while it was paged (trades came in ahead of
      // this page). A page answered before the move, travelling beside one
      // answered after it, may have missed the trades pushed across their
      // border: the pages that travelled beside this one are asked again,
      // and the rest of the listing goes one page at a time.
      DropInFlight();
      const int first = std::max(1, page - most_ + 1);
      for (int earlier = first; earlier < page; ++earlier) Send(earlier, true);
      stats_.rechecked += page - first;
      most_ = window_ = 1;
      nextPage_ = page + 1;
    } else if (more) {
      // A listing of two pages goes as before; from the third on, more travel.
      window_ = std::min(most_, page);
    }
    if (more) TopUp();
    if (fresh) onPage_(std::move(read.trades));
    if (!more) {
      const ListingEnd end = repeated                   ? ListingEnd::Repeated
                             : !read.hasNext            ? ListingEnd::LastPage
                             : page >= kMaxListingPages ? ListingEnd::PageLimit
                                                        : ListingEnd::GaveUp;
      ending = std::pair{end, page};
      if (!moved && end == ListingEnd::LastPage && aheadUsed_ && most_ > 1 && page >= firstAhead_) {
        // A trade that joined the listing inside a page answered after the
        // page behind it pushes its last trade onto that page, which was
        // read without it; with no later page to repeat a trade, nothing
        // shows the move. The last two pages, sent while others travelled,
        // are asked once more.
        DropInFlight();
        const int first = std::max(firstAhead_, page - 1);
        for (int again = first; again <= page; ++again) Send(again, true);
        stats_.rechecked += page - first + 1;
        most_ = window_ = 1;
        continue;
      }
      // What travels now is past the end, or pages asked again before it ends.
      if (!moved) break;
    }
  }
  if (ending && ending->first == ListingEnd::LastPage && !stats_.skippedPages.empty() && !Cancelled()) {
    DropInFlight();
    SecondChance(ending->second, seen, seenCount);
  }
  return ending ? Finish(ending->first, ending->second) : Finish(ListingEnd::GaveUp, nextPage_ - 1);
}

void Pager::SecondChance(int lastPage, OrderIndex& seen, std::uint32_t& seenCount) {
  // One skipped page of a long listing would otherwise leave the whole
  // listing incomplete, and the next full listing pages through everything
  // again. The listing may have moved since the page failed (orders rated
  // leave it, new ones join), so the page is asked with the pages on either
  // side, and counts as read only when those bring both the last trade of the
  // page before it and the first trade of the page after it: the listing
  // keeps its order, so every trade still between the two came with them,
  // as surely as with pages read one after the other.
  std::vector<int> pages;
  for (int skipped : stats_.skippedPages) {
    for (int page = std::max(1, skipped - 1); page <= std::min(skipped + 1, lastPage); ++page)
      if (pages.empty() || pages.back() < page) pages.push_back(page);
  }
  std::vector<int> whole;  // pages read again, ascending
  std::unordered_set<std::string> brought;
  bool lastSaidMore = true;  // what the last page, read again, said of a next one
  for (int page : pages) {
    if (Cancelled()) return;
    Send(page, true);
    AskedPage asked = std::move(inFlight_.front());
    inFlight_.pop_front();
    ++stats_.rechecked;
    TradePage read;
    if (!Read(asked, read)) {
      if (stopped_) return;
      continue;
    }
    whole.push_back(page);
    if (page == lastPage) lastSaidMore = read.hasNext;
    for (const Order& trade : read.trades) brought.insert(trade.tid);
    std::erase_if(read.trades, [&](const Order& t) { return !seen.Insert(t.tid, seenCount++); });
    // Only what the listing had not brought counts as read.
    stats_.tradesRead += static_cast<int>(read.trades.size());
    if (!read.trades.empty()) onPage_(std::move(read.trades));
  }
  const auto edge = [&](int page) -> const std::pair<std::string, std::string>* {
    return page < static_cast<int>(edges_.size()) && !edges_[page].first.empty() ? &edges_[page] : nullptr;
  };
  const auto readAgain = [&](int page) { return std::binary_search(whole.begin(), whole.end(), page); };
  std::erase_if(stats_.skippedPages, [&](int skipped) {
    const int before = skipped - 1, after = skipped + 1;
    if (!readAgain(skipped) || (before >= 1 && !readAgain(before)) || !readAgain(after)) return false;
    const bool fromStart = before < 1 || (edge(before) && brought.contains(edge(before)->second));
    // A page after it that held no trade was the end; it must still be.
    const bool toEnd = edge(after) ? brought.contains(edge(after)->first) : after == lastPage && !lastSaidMore;
    return fromStart && toEnd;
  });
}

}  // namespace

FetchStats PageThrough(const ListingRequest& request, const std::function<void(std::vector<Order>&&)>& onPage) {
  return Pager(request, onPage).Run();
}

TradeStanding AskTrade(const std::string& tid, const Account& account) {
  // Counted with the run's other calls; a call limit is waited out.
  const std::string reply = CallPlatform(account, "taobao.trade.get", [&] {
                              return WebRequest::Get(build_gateway_url(
                                  account, GatewayParams(account, "taobao.trade.get", make_timestamp(ClockOf(account)),
                                                         {{"fields", "tid,status,buyer_rate,seller_rate"}, {"tid", tid}})));
                            }).text;
  const auto answer = AnswerBody(reply, "trade_get_response");
  if (!answer) return TradeStanding::Unknown;
  const TradePage page = ReadTradePage(*answer, false, {});
  // An answer about another order, or about several, is no answer about this one.
  if (page.trades.size() != 1 || page.trades[0].tid != tid) return TradeStanding::Unknown;
  const Order& trade = page.trades[0];
  using Said = Order::Said;
  if (trade.sellerRated == Said::Yes) return TradeStanding::SellerRated;
  if (ElementText(extract_between(*answer, "<status>", "<")) != "TRADE_FINISHED") {
    return answer->find("<status>") == std::string_view::npos ? TradeStanding::Unknown : TradeStanding::NotRatable;
  }
  if (trade.buyerRated == Said::Yes) return TradeStanding::BuyerRated;
  if (trade.sellerRated == Said::No && trade.buyerRated == Said::No) return TradeStanding::Unrated;
  return TradeStanding::Unknown;
}

int StoreUnratedPage(OrderDatabase& db, OrderTable table, std::vector<Order>& trades, double now) {
  const bool inTransaction = db.BeginTransaction();
  std::erase_if(trades, [&](const Order& t) {
    return !WithinRatingPeriod(t.endTime, now) || !db.Insert(table, t.tid, t.buyerNick, t.endTime);
  });
  if (inTransaction && !db.CommitTransaction()) trades.clear();
  return static_cast<int>(trades.size());
}

FetchStats FetchUnratedTrades(const Account& account, OrderDatabase& db, const std::string& rateStatus, OrderTable table,
                              const std::function<void(int)>& onPage, const std::vector<int>& retryPausesMs) {
  int kept = 0, read = 0;
  FetchStats stats = PageThrough({rateStatus, kUnratedFields, true, retryPausesMs, {}, {}, {}, account}, [&](std::vector<Order>&& trades) {
    read += static_cast<int>(trades.size());
    kept += StoreUnratedPage(db, table, trades, ClockOf(account).Now());
    if (onPage) onPage(read);
  });
  stats.kept = kept;
  return stats;
}

}  // namespace qm

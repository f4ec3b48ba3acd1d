#include "orders/listing.h"

#include "orders/order_book.h"
#include "orders/timing.h"
#include "orders/trade_page.h"
#include "platform/call_limits.h"
#include "platform/platform_time.h"
#include "platform/reply.h"
#include "platform/request.h"
#include "platform/transport.h"
#include "util/delay.h"
#include "util/stop.h"

namespace qm {
namespace {

using Clock = LoadClock;

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
  return build_gateway_url(account, GatewayParams(account, "taobao.trades.sold.increment.get", make_timestamp(), std::move(own)));
}

FetchStats PageThrough(const ListingRequest& request, const std::function<void(std::vector<Order>&&)>& onPage) {
  FetchStats stats;
  const auto start = Clock::now();
  const double cpuStart = ThreadCpuSeconds();
  double cpuWaiting = 0;
  auto cancelled = [&] { return StopRequested() || (request.cancelled && request.cancelled()); };
  const bool incremental = !request.startModified.empty();
  const Account& account = request.account;
  const char* method = incremental ? "taobao.trades.sold.increment.get" : "taobao.trades.sold.get";
  const std::shared_ptr<CallLimits> limits = CallLimits::Of(account);
  auto ask = [&](int page) {
    // A call limit in force is waited out before the page goes out; the
    // wait counts as time spent on the network.
    const auto waited = Clock::now();
    const double cpuBefore = ThreadCpuSeconds();
    const bool clear = limits->WaitBefore(method, cancelled);
    cpuWaiting += ThreadCpuSeconds() - cpuBefore;
    stats.networkSeconds += SecondsSince(waited);
    if (!clear) return PendingRequest();
    return start_web_request(WebRequest::Get(
        incremental ? TradesSoldIncrementUrl(account, request.rateStatus, page, request.fields, request.startModified,
                                             request.endModified)
                    : TradesSoldGetUrl(request.rateStatus, page, request.fields, account)));
  };
  auto finish = [&] {
    stats.localCpuSeconds = ThreadCpuSeconds() - cpuStart - cpuWaiting;
    stats.localSeconds = SecondsSince(start) - stats.networkSeconds;
    return stats;
  };
  // The order numbers seen so far, in the book's own index.
  OrderIndex seen;
  std::uint32_t seenCount = 0;
  int skippedInARow = 0;
  PendingRequest next = ask(1);
  for (int page = 1;; ++page) {
    TradePage read;
    bool failed = false;
    for (std::size_t attempt = 0;; ++attempt) {
      const auto waited = Clock::now();
      const double cpuBefore = ThreadCpuSeconds();
      const WebReply reply = next.Take();
      cpuWaiting += ThreadCpuSeconds() - cpuBefore;
      stats.networkSeconds += SecondsSince(waited);
      ++stats.pages;
      const std::string text = reply.arrived ? DecodeWholeReply(reply.body) : std::string();
      if (limits->Met(method, text)) {
        // Not a failed page: the platform did not carry the call out. The
        // same page goes out again once the limit has passed.
        ++stats.limited;
        if (cancelled()) {
          stats.end = ListingEnd::GaveUp;
          stats.failedPage = page;
          return finish();
        }
        next = ask(page);
        --attempt;
        continue;
      }
      if (reply.arrived) {
        read = ReadTradePage(text, request.withEndTime, incremental ? kSoldIncrementResponse : kSoldGetResponse);
        if (read.whole) break;
      }
      if (cancelled()) {
        stats.end = ListingEnd::GaveUp;
        stats.failedPage = page;
        return finish();
      }
      if (attempt >= request.retryPausesMs.size()) {
        failed = true;
        break;
      }
      ++stats.retries;
      const auto paused = Clock::now();
      const double cpuPause = ThreadCpuSeconds();
      PauseUnlessCancelled(request.retryPausesMs[attempt], cancelled);
      cpuWaiting += ThreadCpuSeconds() - cpuPause;
      stats.networkSeconds += SecondsSince(paused);
      next = ask(page);
    }
    if (failed) {
      // The page's has_next is unknown: the next page says whether there is more.
      stats.skippedPages.push_back(page);
      if (++skippedInARow >= kMostSkippedInARow || page >= kMaxListingPages || cancelled()) {
        stats.end = ListingEnd::GaveUp;
        stats.failedPage = page;
        return finish();
      }
      next = ask(page + 1);
      continue;
    }
    skippedInARow = 0;
    const bool anyTrade = !read.trades.empty();
    stats.tradesRead += static_cast<int>(read.trades.size());
    std::erase_if(read.trades, [&](const Order& t) { return !seen.Insert(t.tid, seenCount++); });
    const bool fresh = !read.trades.empty();
    // A page of orders all listed before (a gateway that repeats a page, or
    // one that goes on saying "true" with nothing new) is no proof of the end.
    const bool repeated = !fresh && (anyTrade || read.hasNext);
    const bool more = read.hasNext && fresh && page < kMaxListingPages && !cancelled();
    if (more) next = ask(page + 1);
    if (fresh) onPage(std::move(read.trades));
    if (!more) {
      stats.end = repeated      ? ListingEnd::Repeated
                  : !read.hasNext ? ListingEnd::LastPage
                  : page >= kMaxListingPages ? ListingEnd::PageLimit
                                             : ListingEnd::GaveUp;
      if (stats.end != ListingEnd::LastPage) stats.failedPage = page;
      return finish();
    }
  }
}

TradeStanding AskTrade(const std::string& tid, const Account& account) {
  // Counted with the run's other calls; a call limit is waited out.
  const std::string reply = CallPlatform(account, "taobao.trade.get", [&] {
                              return WebRequest::Get(build_gateway_url(
                                  account, GatewayParams(account, "taobao.trade.get", make_timestamp(),
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

int StoreUnratedPage(OrderDatabase& db, OrderTable table, const std::vector<Order>& trades) {
  const double now = PlatformNow();
  int stored = 0;
  const bool inTransaction = db.BeginTransaction();
  for (const auto& t : trades) {
    if (!WithinRatingPeriod(t.endTime, now)) continue;
    if (db.Insert(table, t.tid, t.buyerNick, t.endTime)) ++stored;
  }
  return !inTransaction || db.CommitTransaction() ? stored : 0;
}

FetchStats FetchUnratedTrades(const Account& account, OrderDatabase& db, const std::string& rateStatus, OrderTable table,
                              const std::function<void(int)>& onPage, const std::vector<int>& retryPausesMs) {
  int kept = 0, read = 0;
  FetchStats stats = PageThrough({rateStatus, kUnratedFields, true, retryPausesMs, {}, {}, {}, account}, [&](std::vector<Order>&& trades) {
    read += static_cast<int>(trades.size());
    kept += StoreUnratedPage(db, table, trades);
    if (onPage) onPage(read);
  });
  stats.kept = kept;
  return stats;
}

}  // namespace qm

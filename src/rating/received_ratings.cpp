#include "rating/received_ratings.h"

#include <cmath>
#include <unordered_set>

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

constexpr const char* kRatesMethod = "taobao.traderates.get";
constexpr int kMostRatesPageNo = 200;

struct RatesPage {
  bool whole = false;
  bool hasNext = false;
  std::vector<ReceivedRating> ratings;
};

// A whole answer of the method: its ratings, each with an order number, and
// whether has_next holds exactly "true".
RatesPage ReadRatesPage(const std::string& reply) {
  RatesPage page;
  const auto answer = AnswerBody(reply, "traderates_get_response");
  if (!answer) return page;
  std::size_t from = 0;
  for (;;) {
    const std::size_t open = answer->find("<trade_rate>", from);
    if (open == std::string_view::npos) break;
    const std::size_t close = answer->find("</trade_rate>", open);
    if (close == std::string_view::npos) return page;  // cut inside: not whole
    from = close + 1;
    const std::string_view rate = answer->substr(open, close - open);
    ReceivedRating r;
    r.order.tid = ElementText(extract_between(rate, "<tid>", "<"));
    // A rating that names no order cannot move one: the page is no proof.
    if (r.order.tid.empty()) return page;
    r.order.buyerNick = ElementText(extract_between(rate, "<nick>", "<"));
    r.verdict.result = ElementText(extract_between(rate, "<result>", "<"));
    r.verdict.comment = ElementText(extract_between(rate, "<content>", "<"));
    // Unrated is no rating: such a record says nothing of the order.
    if (!r.verdict.Rated()) continue;
    page.ratings.push_back(std::move(r));
  }
  page.hasNext = extract_between(*answer, "<has_next>", "<") == "true";
  page.whole = true;
  return page;
}

}  // namespace

std::string RatesReceivedUrl(const Account& account, const std::string& startDate, const std::string& endDate,
                             int pageNo) {
  return build_gateway_url(account, GatewayParams(account, kRatesMethod, make_timestamp(ClockOf(account)),
                                                  {{"rate_type", "get"},
                                                   {"role", "buyer"},
                                                   {"fields", kRatesReceivedFields},
                                                   {"start_date", startDate},
                                                   {"end_date", endDate},
                                                   {"page_no", std::to_string(pageNo)},
                                                   {"page_size", std::to_string(kRatesPageSize)},
                                                   {"use_has_next", "true"}}));
}

RatingsLook LookAtRatingsReceived(const Account& account, double from, double to,
                                  const std::vector<int>& retryPausesMs, const std::function<bool()>& cancelled) {
  RatingsLook look;
  look.from = from;
  look.to = to;
  auto stopped = [&] { return StopRequested() || (cancelled && cancelled()); };
  std::unordered_set<std::string> seen;
  // Windows still to ask, whole seconds, both ends included.
  const auto newest = static_cast<std::int64_t>(std::ceil(to));
  std::vector<std::pair<std::int64_t, std::int64_t>> windows = {{static_cast<std::int64_t>(std::floor(from)), newest}};
  while (!windows.empty()) {
    const auto [first, last] = windows.back();
    windows.pop_back();
    ++look.windows;
    const std::string startDate = FormatPlatformTime(first), endDate = FormatPlatformTime(last);
    int read = 0;
    for (int pageNo = 1;; ++pageNo) {
      RatesPage page;
      for (std::size_t attempt = 0;; ++attempt) {
        if (stopped()) return look;
        // A call limit is waited out first, so that the time taken is the send's.
        if (!LimitsOf(account)->WaitBefore(kRatesMethod, stopped)) return look;
        const double sentAt = ClockOf(account).Now();
        const PlatformAnswer answer = CallPlatform(
            account, kRatesMethod, [&] { return WebRequest::Get(RatesReceivedUrl(account, startDate, endDate, pageNo)); },
            stopped);
        ++look.requests;
        if (!answer.sent) return look;
        page = ReadRatesPage(answer.text);
        if (page.whole) {
          if (pageNo == 1 && last == newest) look.seenUntil = sentAt;
          break;
        }
        if (attempt >= retryPausesMs.size()) return look;
        PauseUnlessCancelled(retryPausesMs[attempt], stopped);
      }
      read += static_cast<int>(page.ratings.size());
      for (ReceivedRating& r : page.ratings) {
        if (seen.insert(r.order.tid).second) look.ratings.push_back(std::move(r));
      }
      if (!page.hasNext) break;
      // More said and nothing brought, or past the last page the method
      // serves: a gateway that cannot be paged to its end.
      if (page.ratings.empty() || pageNo >= kMostRatesPageNo) return look;
    }
    if (read >= kMostRatesPerWindow) {
      // The platform stopped at its limit: the rest of the window is asked in
      // two halves (what was read stays). A second that alone holds more
      // cannot be split: the look is incomplete.
      if (last - first < 1) return look;
      const std::int64_t middle = first + (last - first) / 2;
      windows.emplace_back(middle + 1, last);
      windows.emplace_back(first, middle);
    }
  }
  look.complete = true;
  return look;
}

}  // namespace qm

#include "rating/buyer_verdict.h"

#include "orders/trade_page.h"
#include "platform/call_limits.h"
#include "platform/reply.h"
#include "platform/request.h"
#include "platform/transport.h"
#include "rating/post_rating.h"

namespace qm {

std::optional<BuyerVerdict> QueryBuyerRating(const std::string& tid, const Account& account) {
  if (!IsOrderNumber(tid)) return std::nullopt;
  const std::string reply =
      CallPlatform(account, "taobao.traderates.get", [&] { return WebRequest::Get(TradeRatesGetUrl(tid, account)); })
          .text;
  const auto answer = AnswerBody(reply, "traderates_get_response");
  if (!answer) return std::nullopt;
  // Only a rating of this very order counts; one that names no order says
  // nothing of which order it is, so the question counts as unanswered.
  std::size_t from = 0;
  for (;;) {
    const std::size_t open = answer->find("<trade_rate>", from);
    if (open == std::string_view::npos) break;
    const std::size_t close = answer->find("</trade_rate>", open);
    if (close == std::string_view::npos) return std::nullopt;
    from = close + 1;
    const std::string_view rate = answer->substr(open, close - open);
    if (rate.find("<tid>") == std::string_view::npos) return std::nullopt;
    if (ElementText(extract_between(rate, "<tid>", "<")) != tid) continue;
    // Element texts: the blanks of a pretty-printed reply dropped, the escapes
    // of markup in a buyer's comment decoded to what the buyer wrote.
    return BuyerVerdict{ElementText(extract_between(rate, "<result>", "<")),
                        ElementText(extract_between(rate, "<content>", "<"))};
  }
  // A whole answer without a rating of this order: the buyer has not rated.
  return BuyerVerdict{};
}

std::string check_buyer_rating(const std::string& tid, const Account& account) {
  // A failed, timed-out or cut-off query reads as a rating without result
  // or comment; a text that is no order number is never sent.
  const BuyerVerdict verdict = QueryBuyerRating(tid, account).value_or(BuyerVerdict{});
  return BuyerVerdict{verdict.result.empty() ? std::string(kUnfavourableVerdict) : verdict.result,
                      verdict.comment.empty() ? std::string(kNoBuyerComment) : verdict.comment}
      .Text();
}

BuyerVerdict SplitVerdict(const std::string& verdict) {
  const std::size_t at = verdict.find(kVerdictSeparator);
  if (at == std::string::npos) return {verdict, {}};
  return {verdict.substr(0, at), verdict.substr(at + std::char_traits<char>::length(kVerdictSeparator))};
}

std::optional<NoticeStyle> NoticeStyleFor(const std::string& result) {
  if (result == "neutral") return NoticeStyle{"客户给了你‘中评’", 0xFF0000, 0xFFFF00};
  if (result == "bad") return NoticeStyle{"客户给了你‘差评’", 0xFFFFFF, 0x000000};
  if (result == kUnfavourableVerdict) return NoticeStyle{kUnfavourableVerdict, 0xFFFFFF, 0x606060};
  return std::nullopt;
}

}  // namespace qm

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
  if (!CompleteElement(reply, "traderates_get_response")) return std::nullopt;
  // Element texts: the blanks of a pretty-printed reply dropped, the escapes
  // of markup in a buyer's comment decoded to what the buyer wrote.
  return BuyerVerdict{ElementText(extract_between(reply, "<result>", "<")),
                      ElementText(extract_between(reply, "<content>", "<"))};
}

std::string check_buyer_rating(const std::string& tid) {
  // A failed, timed-out or cut-off query reads as a rating without result
  // or comment; a text that is no order number is never sent.
  const BuyerVerdict verdict = QueryBuyerRating(tid).value_or(BuyerVerdict{});
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

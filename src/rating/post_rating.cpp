#include "rating/post_rating.h"

#include "orders/trade_page.h"
#include "platform/call_limits.h"
#include "platform/reply.h"
#include "platform/request.h"
#include "platform/transport.h"
#include "settings/app_session.h"
#include "util/stop.h"

namespace qm {
namespace {

constexpr std::string_view kRatingResponse = "traderate_list_add_response";

}  // namespace

bool IsOrderNumber(const std::string& tid) {
  if (tid.empty()) return false;
  for (char c : tid)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string BuildRatingForm(const std::string& appKey, const std::string& appSecret,
                            const std::string& tid, const std::string& result,
                            const std::string& role, const std::string& comment,
                            const std::string& sessionKey) {
  std::string body;
  body.reserve(200 + appKey.size() + appSecret.size() + tid.size() + comment.size() * 3);
  body += "format=xml&method=taobao.traderate.list.add&restId=2&api_soure=1&app_key=";
  body += appKey;
  body += "&app_secret=";
  body += appSecret;
  body += "&sip_http_method=POST&codeType=JAVA&tid=";
  body += tid;
  body += "&result=";
  body += result;
  body += "&role=";
  body += role;
  body += "&content=";
  body += percent_encode(to_utf8(comment));
  body += "&anony=&session=";
  body += sessionKey;
  body += "&ua=";
  return body;
}

bool post_rating(const Account& account, const std::string& tid, const std::string& result, const std::string& role,
                 const std::string& comment) {
  return PostRating(tid, result, role, comment, nullptr, account) == RatingOutcome::Rated;
}

RatingOutcome PostRating(const std::string& tid, const std::string& result, const std::string& role,
                         const std::string& comment, std::string* refusal, const Account& account) {
  if (!IsOrderNumber(tid)) return RatingOutcome::Refused;
  // Once the program is told to stop, nothing more is sent.
  if (StopRequested()) return RatingOutcome::Busy;
  const std::string url = account.endpoints.apitools + kRatingPath;
  const std::string form =
      BuildRatingForm(account.appKey, account.appSecret, tid, result, role, comment, account.sessionKey);
  // A call limit is waited out and the form sent again: the platform did not take it.
  const PlatformAnswer call = CallPlatform(account, kRatingFormMethod, [&] { return WebRequest::Post(url, form); });
  if (!call.sent) return RatingOutcome::Busy;
  const std::string& reply = call.text;
  // Only a whole error reply says the rating was not taken; half of one, an
  // error page of a proxy or nothing at all say nothing. An error reply may
  // echo the call's arguments, this order number among them: whole or cut
  // off, it is never taken for a rating.
  if (CompleteElement(reply, "error_response")) {
    if (refusal != nullptr) {
      const std::string msg = ElementText(extract_between(reply, "<msg>", "<"));
      const std::string sub = ElementText(extract_between(reply, "<sub_msg>", "<"));
      *refusal = sub.empty() ? msg : msg + " (" + sub + ")";
    }
    if (ElementText(extract_between(reply, "<sub_code>", "<")) == kRatedAlreadyCode) return RatingOutcome::AlreadyRated;
    return RatingOutcome::Refused;
  }
  // Rated is the rating method's own whole answer, for this order.
  const auto answer = AnswerBody(reply, kRatingResponse);
  if (answer && ElementText(extract_between(*answer, "<tid>", "<")) == tid) return RatingOutcome::Rated;
  return RatingOutcome::Unknown;
}

SellerRatingCheck CheckSellerRating(const std::string& tid, const Account& account) {
  if (!IsOrderNumber(tid)) return SellerRatingCheck::Unknown;
  const std::string reply = CallPlatform(account, "taobao.traderates.get", [&] {
                              return WebRequest::Get(TradeRatesGetUrl(tid, "give", "seller", "tid,result,created", account));
                            }).text;
  const auto answer = AnswerBody(reply, "traderates_get_response");
  if (!answer) return SellerRatingCheck::Unknown;
  // The answer may list other orders as well; only this one's counts.
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    const std::string found = extract_between_from(*answer, "<tid>", "<", &pos);
    if (pos != std::string::npos && ElementText(found) == tid) return SellerRatingCheck::Exists;
  }
  return SellerRatingCheck::Missing;
}

}  // namespace qm

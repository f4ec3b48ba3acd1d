// The API test-tool endpoint, POST "/apitools/getResult.do": performs
// taobao.traderate.list.add for the seller whose key, secret and session the
// form carries, and echoes the order number in <tid> when the rating was
// recorded.
#include "context.h"
#include "text.h"
#include "xml_reply.h"

namespace qm::sandbox {

namespace {

constexpr std::size_t kContentLimit = 500;  // characters

std::string Refusal(int code, const std::string& msg, const std::string& subCode, const std::string& subMsg,
                    bool pretty) {
  return ErrorXml(code, msg, subCode, subMsg, pretty);
}

std::string RateAdd(Context& ctx, const std::string& body, bool pretty) {
  const FormFields form = ParseForm(body);
  auto field = [&](const char* name) { return FormValue(form, name).value_or(std::string()); };
  const std::string method = field("method");
  if (method.empty()) return Refusal(21, "Missing method", "", "", pretty);
  if (method != "taobao.traderate.list.add") return Refusal(22, "Invalid method", "", "", pretty);
  const std::string appKey = field("app_key");
  if (appKey.empty()) return Refusal(28, "Missing app key", "", "", pretty);
  const int seller = ctx.market.SellerByAppKey(appKey);
  if (seller < 0) return Refusal(29, "Invalid app Key", "", "", pretty);
  const auto sellerData = ctx.market.SellerAt(seller);
  if (field("app_secret") != sellerData->appSecret)
    return Refusal(25, "Invalid signature", "", "the app secret does not belong to this app key", pretty);
  const std::string session = field("session");
  if (session.empty()) return Refusal(26, "Missing session", "", "", pretty);
  if (session != sellerData->session)
    return Refusal(27, "Invalid session", "invalid-sessionkey", "session does not belong to this app", pretty);

  const std::string tid = field("tid");
  if (tid.empty()) return Refusal(40, "Missing required arguments:tid", "", "", pretty);
  if (!IsDigits(tid)) return Refusal(41, "Invalid arguments:tid", "isv.invalid-parameter", "", pretty);
  const std::string role = field("role");
  if (role.empty()) return Refusal(40, "Missing required arguments:role", "", "", pretty);
  if (role != "seller")
    return Refusal(41, "Invalid arguments:role", "isv.invalid-parameter", "only the seller's role is open", pretty);
  const std::string resultText = field("result");
  if (resultText.empty()) return Refusal(40, "Missing required arguments:result", "", "", pretty);
  const auto result = ParseRate(resultText);
  if (!result) return Refusal(41, "Invalid arguments:result", "isv.invalid-parameter", "", pretty);
  const std::string content = field("content");
  if (!IsValidUtf8(content))
    return Refusal(41, "Invalid arguments:content", "isv.invalid-parameter", "content is not UTF-8", pretty);
  if (Utf8Length(content) > kContentLimit)
    return Refusal(41, "Invalid arguments:content", "isv.invalid-parameter", "content is longer than 500", pretty);
  if (content.empty() && *result != Rate::Good)
    return Refusal(40, "Missing required arguments:content", "", "neutral and bad ratings need a comment", pretty);

  const std::time_t now = ctx.clock.Now();
  const RateOutcome outcome = ctx.market.RateAsSeller(seller, tid, *result, content, now);
  if (outcome != RateOutcome::Ok) {
    const char* subCode = "isv.rate-failed";
    switch (outcome) {
      case RateOutcome::NoSuchTrade: subCode = "isv.trade-not-exist"; break;
      case RateOutcome::NotYourTrade: subCode = "isv.trade-not-belong-to-seller"; break;
      case RateOutcome::NotFinished: subCode = "isv.trade-status-error"; break;
      case RateOutcome::PeriodOver: subCode = "isv.rate-period-expired"; break;
      case RateOutcome::AlreadyRated:
        subCode = "isv.trade-rate-exist";
        ++ctx.repeatedRatings;
        break;
      default: break;
    }
    return Refusal(15, "Remote service error", subCode, OutcomeText(outcome), pretty);
  }
  XmlWriter w(pretty);
  w.Open("traderate_list_add_response");
  w.Open("trade_rate");
  w.Element("created", FormatBeijingTime(now));
  w.Element("tid", tid);
  w.Close("trade_rate");
  w.Close("traderate_list_add_response");
  return w.Text();
}

}  // namespace

void RegisterApiTool(httplib::Server& server, Context& ctx) {
  server.Post("/apitools/getResult.do", Served(ctx, [&ctx](const httplib::Request& req, httplib::Response& res) {
                res.set_content(RateAdd(ctx, req.body, ctx.GetQuirks().pretty), kXmlContentType);
              }));
}

}  // namespace qm::sandbox

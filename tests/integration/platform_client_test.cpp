// The platform client against the sandbox marketplace, which checks every
// signature with its own code: the four gateway calls are accepted, the
// transport's rules hold against its stalls and faults, and the start-up
// session check reads the seller.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

#include "platform/reply.h"
#include "platform/request.h"
#include "platform/session_check.h"
#include "platform/transport.h"
#include "settings/app_session.h"
#include "support/sandbox_process.h"
#include "util/event_pump.h"
#include "util/ports.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The first "tid" of an admin answer such as {"tids":["123"]}.
std::string FirstTid(const std::string& json) {
  const auto open = json.find("[\"");
  if (open == std::string::npos) return "";
  const auto close = json.find('"', open + 2);
  return close == std::string::npos ? "" : json.substr(open + 2, close - open - 2);
}

class PlatformClient : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox_.Ok());
    sandbox_.UseInSession(session_);
  }

  std::string Call(const std::string& url, int timeout = 0) {
    return decode_reply(web_request(WebRequest::Get(url).timeout(timeout)).body);
  }

  test::Sandbox sandbox_;
  AppSession session_;
};

TEST_F(PlatformClient, EveryGatewayCallIsAcceptedWithItsSignature) {
  const std::string time = extract_between(Call(TimeGetUrl(session_.RunAccount())), "<time>", "<");
  EXPECT_EQ(time.size(), 19u) << time;

  const std::string seller = Call(SellerGetUrl(session_.RunAccount()));
  EXPECT_EQ(extract_between(seller, "<nick>", "<"), sandbox_.Seller().nick) << seller;

  const std::string added = sandbox_.AdminPost(
      "trades", R"({"trades":[{"ended_hours_ago":30,"buyer_rate":"neutral","buyer_comment":"还行 & 一般"}]})");
  const std::string tid = FirstTid(added);
  ASSERT_FALSE(tid.empty()) << added;
  const std::string rates = Call(TradeRatesGetUrl(tid, session_.RunAccount()));
  EXPECT_EQ(extract_between(rates, "<result>", "<"), "neutral") << rates;

  const std::string page = Call(TradesSoldGetUrl("RATE_BUYER_UNSELLER", 1, "tid,buyer_nick", session_.RunAccount()));
  EXPECT_NE(page.find("<tid>" + tid + "<"), std::string::npos) << page;
  EXPECT_NE(page.find("<has_next>"), std::string::npos) << page;
}

TEST_F(PlatformClient, WrongSecretIsRefusedByTheGateway) {
  session_.AppSecret += "x";
  const std::string reply = Call(SellerGetUrl(session_.RunAccount()));
  EXPECT_EQ(reply.find("<nick>"), std::string::npos) << reply;
}

TEST_F(PlatformClient, UrlWithoutSchemeReachesTheGateway) {
  std::string url = TimeGetUrl(session_.RunAccount());
  ASSERT_EQ(url.rfind("http://", 0), 0u);
  url.erase(0, 7);
  sandbox_.AdminPost("log/clear", "{}");
  EXPECT_EQ(extract_between(Call(url), "<time>", "<").size(), 19u);
  const std::string log = sandbox_.AdminGet("log");
  EXPECT_NE(log.find("taobao.time.get"), std::string::npos) << log;
}

TEST_F(PlatformClient, StallTimesOutAtThreeSecondsAndTheNextCallGetsItsOwnReply) {
  sandbox_.AdminPost("faults", R"({"path":"/router/rest","stall_ms":5000,"first_n":1})");
  const auto start = Clock::now();
  EXPECT_FALSE(web_request(WebRequest::Get(SellerGetUrl(session_.RunAccount())).timeout(3)).arrived);
  const double waited = SecondsSince(start);
  EXPECT_GE(waited, 2.9);
  EXPECT_LT(waited, 3.9);
  // The fault was for one request only: the next call is answered at once,
  // and with its own reply.
  const std::string reply = Call(TimeGetUrl(session_.RunAccount()));
  EXPECT_EQ(extract_between(reply, "<time>", "<").size(), 19u) << reply;
  EXPECT_EQ(reply.find("<nick>"), std::string::npos);
}

TEST_F(PlatformClient, CutAndResetRepliesGiveEmptyBytes) {
  for (const char* fault : {R"({"path":"/router/rest","truncate_rate":1,"first_n":1})",
                            R"({"path":"/router/rest","reset_rate":1,"first_n":1})"}) {
    sandbox_.AdminPost("faults", fault);
    const WebReply reply = web_request(WebRequest::Get(SellerGetUrl(session_.RunAccount())));
    EXPECT_FALSE(reply.arrived) << fault;
    EXPECT_EQ(reply.body, "") << fault;
  }
}

TEST_F(PlatformClient, SimpleGetFetchesTheTime) {
  const std::string reply = decode_reply(web_get_simple(TimeGetUrl(session_.RunAccount())));
  EXPECT_EQ(extract_between(reply, "<time>", "<").size(), 19u) << reply;
}

TEST_F(PlatformClient, SessionCheckReadsTheSeller) {
  SellerIdentity who;
  ASSERT_EQ(confirm_session(session_.RunAccount(), &who), SessionCheck::Confirmed);
  EXPECT_EQ(who.nick, sandbox_.Seller().nick);
  EXPECT_EQ(who.userId, sandbox_.Seller().userId);
  EXPECT_EQ(who.avatar, sandbox_.Seller().avatar);
}

TEST_F(PlatformClient, SessionCheckFailsWithoutANick) {
  session_.SessionKey = "not-a-session";
  SellerIdentity who;
  who.nick = "unchanged";
  EXPECT_EQ(confirm_session(session_.RunAccount(), &who), SessionCheck::Refused);
  EXPECT_EQ(who.nick, "unchanged");

  // A gateway that answers with its server's error page, or not at all, says
  // nothing about the key; the platform's own refusal does.
  sandbox_.UseInSession(session_);
  sandbox_.AdminPost("faults", R"({"path":"/router/rest","error_rate":1,"first_n":1})");
  EXPECT_EQ(confirm_session(session_.RunAccount()), SessionCheck::Unreachable);
  sandbox_.AdminPost("faults", R"({"path":"/router/rest","refuse_rate":1,"first_n":1})");
  EXPECT_EQ(confirm_session(session_.RunAccount()), SessionCheck::Refused);
  // A call limit, the platform's own failure and a cut-off reply say nothing
  // about the key either: asked again later, never a login.
  for (const char* body :
       {"<error_response><code>7</code><msg>App Call Limited</msg><sub_code>accesscontrol.limited-by-app-access-count"
        "</sub_code><sub_msg>This ban will last for 71 more seconds</sub_msg></error_response>",
        "<error_response><code>15</code><msg>Remote service error</msg><sub_code>isp.remote-service-error</sub_code>"
        "</error_response>",
        "<user_seller_get_response><user><nick>cut</nick><user_id>1"}) {
    sandbox_.AdminPost("faults", nlohmann::json{{"path", "/router/rest"}, {"reply_body", body}, {"first_n", 1}}.dump());
    EXPECT_EQ(confirm_session(session_.RunAccount()), SessionCheck::Unreachable) << body;
  }
  session_.endpoints = Endpoints::AtBase("http://127.0.0.1:1");
  EXPECT_EQ(confirm_session(session_.RunAccount()), SessionCheck::Unreachable);
}

}  // namespace
}  // namespace qm

// The sandbox's REST gateway: what it refuses, what it answers, paging and
// the escaping of awkward buyer nicks.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/platform_time.h"
#include "support/sandbox_calls.h"
#include "support/time_zone.h"

namespace qm::test {
namespace {

std::string ErrorCode(const HttpResult& r) {
  if (r.body.find("<error_response>") == std::string::npos) return {};
  return FirstValue(r.body, "<code>");
}

TEST(SandboxGateway, AnswersACorrectlySignedCall) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  HttpResult r = Gateway(sandbox, "taobao.time.get", {});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(FirstValue(r.body, "<time>").size(), 19u) << r.body;
  EXPECT_EQ(ErrorCode(r), "");

  r = Gateway(sandbox, "taobao.user.seller.get", {{"fields", "user_id,nick,avatar"}});
  EXPECT_EQ(XmlUnescape(FirstValue(r.body, "<nick>")), sandbox.Seller().nick);
  EXPECT_EQ(FirstValue(r.body, "<user_id>"), sandbox.Seller().userId);
  EXPECT_EQ(FirstValue(r.body, "<avatar>"), sandbox.Seller().avatar);
  // Only the fields asked for.
  r = Gateway(sandbox, "taobao.user.seller.get", {{"fields", "nick"}});
  EXPECT_NE(r.body.find("<nick>"), std::string::npos);
  EXPECT_EQ(r.body.find("<user_id>"), std::string::npos);
  EXPECT_EQ(r.body.find("<avatar>"), std::string::npos);
}

TEST(SandboxGateway, RefusesBadSignaturesCredentialsAndTimes) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  const Params own = {{"fields", "user_id,nick,avatar"}};
  auto refused = [&](const SignOptions& o) {
    HttpResult r = Gateway(sandbox, "taobao.user.seller.get", own, o);
    EXPECT_TRUE(r.ok);
    // No relied-on element in a refusal.
    EXPECT_EQ(r.body.find("<nick>"), std::string::npos) << r.body;
    EXPECT_NE(FirstValue(r.body, "<msg>"), "") << r.body;
    return ErrorCode(r);
  };
  SignOptions unsorted;
  unsorted.keepGivenOrder = true;  // app_key, format, method, partner_id, session, timestamp, v, fields
  EXPECT_EQ(refused(unsorted), "25");
  SignOptions secretTwice;
  secretTwice.secretAlsoAtEnd = true;
  EXPECT_EQ(refused(secretTwice), "25");
  SignOptions lower;
  lower.lowerCaseHex = true;
  EXPECT_EQ(refused(lower), "25");
  SignOptions wrongSecret;
  wrongSecret.secret = "0123456789abcdef0123456789abcdef";
  EXPECT_EQ(refused(wrongSecret), "25");
  SignOptions stale;
  stale.timestamp = TimestampAt(std::time(nullptr) - 11 * 60);
  EXPECT_EQ(refused(stale), "31");
  SignOptions future;
  future.timestamp = TimestampAt(std::time(nullptr) + 11 * 60);
  EXPECT_EQ(refused(future), "31");
  SignOptions malformed;
  malformed.timestamp = "2014-9-19 9:05:03";
  EXPECT_EQ(refused(malformed), "31");
  SignOptions wrongSession;
  wrongSession.session = sandbox.Seller().session + "0";
  EXPECT_EQ(refused(wrongSession), "27");
  SignOptions noSession;
  noSession.session = "";
  EXPECT_EQ(refused(noSession), "26");
  SignOptions wrongKey;
  wrongKey.appKey = "12345678";
  EXPECT_EQ(refused(wrongKey), "29");

  // Nine minutes off is still inside the window.
  SignOptions nearlyStale;
  nearlyStale.timestamp = TimestampAt(std::time(nullptr) - 9 * 60);
  HttpResult ok = Gateway(sandbox, "taobao.user.seller.get", own, nearlyStale);
  EXPECT_EQ(ErrorCode(ok), "") << ok.body;

  // No sign at all, and an unknown method.
  HttpResult unsigned_ = HttpGet(sandbox, "/router/rest?method=taobao.time.get&app_key=" + sandbox.Seller().appKey +
                                              "&timestamp=" + UrlEncode(TimestampAt(std::time(nullptr))) + "&v=2.0");
  EXPECT_EQ(ErrorCode(unsigned_), "24");
  EXPECT_EQ(ErrorCode(Gateway(sandbox, "taobao.no.such.method", {})), "22");
}

TEST(SandboxGateway, KeepsBeijingTimeWhateverTheMachinesZone) {
  for (const auto& zone : kZoneCases) {
    ScopedTimeZone scoped(zone.zone);  // the sandbox inherits it
    ASSERT_EQ(ScopedTimeZone::LocalOffsetHours(kZoneProbeInstant), zone.offsetHours) << zone.zone;
    Sandbox::Options options;
    options.trades = 0;
    Sandbox sandbox(options);
    ASSERT_TRUE(sandbox.Ok());
    const auto now = static_cast<double>(std::time(nullptr));
    // A Beijing timestamp is inside the window, and the answer is Beijing time.
    const HttpResult r = Gateway(sandbox, "taobao.time.get", {});
    EXPECT_EQ(ErrorCode(r), "") << zone.zone << r.body;
    const auto answered = ParsePlatformTime(FirstValue(r.body, "<time>"));
    ASSERT_TRUE(answered.has_value()) << r.body;
    EXPECT_NEAR(static_cast<double>(*answered), now, 5.0) << zone.zone;
    const std::string tid = AddTrade(sandbox, "{\"ended_hours_ago\":100}");
    int listed = 0;
    for (const auto& t : nlohmann::json::parse(sandbox.AdminGet("trades"))) {
      if (t["tid"] != tid) continue;
      ++listed;
      const auto end = ParsePlatformTime(t["end_time"].get<std::string>());
      ASSERT_TRUE(end.has_value()) << t.dump();
      EXPECT_NEAR(static_cast<double>(*end), now - 100 * 3600, 5.0) << zone.zone;
    }
    EXPECT_EQ(listed, 1) << zone.zone;
  }
}

TEST(SandboxGateway, TheSignedTextCoversEveryParameter) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  // Change a parameter after signing: the signature no longer fits.
  std::string q = SignedQuery(sandbox, "taobao.user.seller.get", {{"fields", "nick"}});
  std::size_t at = q.find("fields=nick");
  ASSERT_NE(at, std::string::npos);
  q.replace(at, 11, "fields=user_id");
  EXPECT_EQ(ErrorCode(HttpGet(sandbox, "/router/rest?" + q)), "25");
}

TEST(SandboxGateway, PagesThroughTradesWithHasNext) {
  Sandbox::Options options;
  options.trades = 0;
  Sandbox sandbox(options);
  ASSERT_TRUE(sandbox.Ok());
  std::string list;
  for (int i = 0; i < 250; ++i) {
    if (i) list += ",";
    list += "{\"ended_hours_ago\":" + std::to_string(i % 300) + "}";
  }
  ASSERT_FALSE(sandbox.AdminPost("trades", "{\"trades\":[" + list + "]}").empty());

  std::vector<std::string> seen;
  int pages = 0;
  for (int page = 1; page < 10; ++page) {
    HttpResult r = SoldPage(sandbox, "RATE_UNSELLER", page);
    ASSERT_EQ(ErrorCode(r), "") << r.body;
    ++pages;
    for (const std::string& t : Elements(r.body, "trade")) {
      seen.push_back(FirstValue(t, "<tid>"));
      EXPECT_EQ(FirstValue(t, "<end_time>").size(), 19u);
      EXPECT_NE(FirstValue(t, "<buyer_nick>"), "");
    }
    if (FirstValue(r.body, "<has_next>") != "true") break;
  }
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(seen.size(), 250u);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
  for (const std::string& tid : seen) {
    EXPECT_GE(tid.size(), 15u);
    EXPECT_LE(tid.size(), 16u);
  }

  // Exactly 100 on the last page: has_next says false there.
  ASSERT_FALSE(sandbox.AdminPost("reset", "{\"seed\":3,\"trades\":0}").empty());
  list.clear();
  for (int i = 0; i < 100; ++i) list += std::string(i ? "," : "") + "{}";
  ASSERT_FALSE(sandbox.AdminPost("trades", "{\"trades\":[" + list + "]}").empty());
  HttpResult r = SoldPage(sandbox, "RATE_UNBUYER", 1);
  EXPECT_EQ(Elements(r.body, "trade").size(), 100u);
  EXPECT_EQ(FirstValue(r.body, "<has_next>"), "false");
  EXPECT_TRUE(Elements(SoldPage(sandbox, "RATE_UNBUYER", 2).body, "trade").empty());
}

TEST(SandboxGateway, RefusesPagesLargerThanAHundredAndOddArguments) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  EXPECT_EQ(ErrorCode(SoldPage(sandbox, "RATE_UNSELLER", 1, "tid", 101)), "41");
  EXPECT_EQ(ErrorCode(SoldPage(sandbox, "RATE_UNSELLER", 0)), "41");
  EXPECT_EQ(ErrorCode(SoldPage(sandbox, "RATE_SOMETHING", 1)), "41");
  EXPECT_EQ(ErrorCode(SoldPage(sandbox, "RATE_UNSELLER", 1, "")), "40");
}

TEST(SandboxGateway, ReturnsOnlyTheRequestedTradeFields) {
  Sandbox::Options options;
  options.trades = 40;
  Sandbox sandbox(options);
  ASSERT_TRUE(sandbox.Ok());
  HttpResult r = SoldPage(sandbox, "RATE_BUYER_UNSELLER", 1, "tid,buyer_nick");
  auto trades = Elements(r.body, "trade");
  ASSERT_FALSE(trades.empty()) << r.body;
  for (const std::string& t : trades) {
    EXPECT_EQ(t.find("<end_time>"), std::string::npos);
    EXPECT_EQ(t.find("<status>"), std::string::npos);
    EXPECT_NE(t.find("<tid>"), std::string::npos);
  }
}

TEST(SandboxGateway, EscapesHostileNicksAndComments) {
  Sandbox::Options options;
  options.trades = 0;
  Sandbox sandbox(options);
  ASSERT_TRUE(sandbox.Ok());
  const std::vector<std::string> nicks = {"<b>x</b>", "a&b", "say \"hi\"", "it's", "张 三", "猫😀", "&amp;", "x</tid>y"};
  std::map<std::string, std::string> byTid;
  for (const std::string& nick : nicks) {
    const std::string tid =
        AddTrade(sandbox, nlohmann::json{{"buyer_nick", nick}, {"buyer_rate", "bad"}, {"buyer_comment", nick}}.dump());
    ASSERT_FALSE(tid.empty());
    byTid[tid] = nick;
  }
  HttpResult r = SoldPage(sandbox, "RATE_BUYER_UNSELLER", 1);
  auto trades = Elements(r.body, "trade");
  ASSERT_EQ(trades.size(), nicks.size()) << r.body;
  for (const std::string& t : trades) {
    const std::string tid = FirstValue(t, "<tid>");
    const std::string raw = FirstValue(t, "<buyer_nick>");
    // The value runs up to the closing tag: no markup of the nick leaks out.
    EXPECT_NE(t.find("<buyer_nick>" + raw + "</buyer_nick>"), std::string::npos) << t;
    EXPECT_EQ(XmlUnescape(raw), byTid[tid]);
    HttpResult rate = Gateway(sandbox, "taobao.traderates.get",
                              {{"fields", "tid,content,result"}, {"rate_type", "get"}, {"role", "buyer"}, {"tid", tid}});
    EXPECT_EQ(FirstValue(rate.body, "<result>"), "bad");
    EXPECT_EQ(XmlUnescape(FirstValue(rate.body, "<content>")), byTid[tid]);
  }
}

TEST(SandboxGateway, RateStatusesFollowTheRatings) {
  Sandbox::Options options;
  options.trades = 0;
  Sandbox sandbox(options);
  ASSERT_TRUE(sandbox.Ok());
  const std::string tid = AddTrade(sandbox, "{\"ended_hours_ago\":30}");
  ASSERT_FALSE(tid.empty());
  auto listed = [&](const char* status) {
    for (const std::string& t : Elements(SoldPage(sandbox, status, 1).body, "trade")) {
      if (FirstValue(t, "<tid>") == tid) return true;
    }
    return false;
  };
  EXPECT_TRUE(listed("RATE_UNBUYER"));
  EXPECT_TRUE(listed("RATE_UNSELLER"));
  EXPECT_FALSE(listed("RATE_BUYER_UNSELLER"));

  ASSERT_FALSE(sandbox.AdminPost("buyer-rate", nlohmann::json{{"tid", tid}, {"result", "neutral"},
                                                              {"content", "发货太慢"}}.dump())
                   .empty());
  EXPECT_FALSE(listed("RATE_UNBUYER"));
  EXPECT_TRUE(listed("RATE_UNSELLER"));
  EXPECT_TRUE(listed("RATE_BUYER_UNSELLER"));
  // The buyer rates once.
  EXPECT_TRUE(sandbox.AdminPost("buyer-rate", nlohmann::json{{"tid", tid}, {"result", "good"}}.dump()).empty());

  HttpResult rate = Gateway(sandbox, "taobao.traderates.get",
                            {{"fields", "tid,content,result"}, {"rate_type", "get"}, {"role", "buyer"}, {"tid", tid}});
  EXPECT_EQ(FirstValue(rate.body, "<result>"), "neutral");
  EXPECT_EQ(FirstValue(rate.body, "<content>"), "发货太慢");

  ASSERT_EQ(FirstValue(PostRating(sandbox, tid, "bad", "%E6%9D%A5").body, "<tid>"), tid);
  EXPECT_FALSE(listed("RATE_UNSELLER"));
  EXPECT_FALSE(listed("RATE_BUYER_UNSELLER"));
}

TEST(SandboxGateway, AnUnratedOrderHasNoBuyerResult) {
  Sandbox::Options options;
  options.trades = 0;
  Sandbox sandbox(options);
  ASSERT_TRUE(sandbox.Ok());
  const std::string tid = AddTrade(sandbox, "{}");
  HttpResult rate = Gateway(sandbox, "taobao.traderates.get",
                            {{"fields", "tid,content,result"}, {"rate_type", "get"}, {"role", "buyer"}, {"tid", tid}});
  EXPECT_EQ(rate.body.find("<result>"), std::string::npos) << rate.body;
  EXPECT_EQ(FirstValue(rate.body, "<total_results>"), "0");
}


// The ratings received in a window of times, as the platform documents them:
// 150 a page at most, page 200 at most, and no more than 1,500 of one window,
// newest first; has_next ends there.
TEST(SandboxGateway, RatingsReceivedArePagedWithinTheLimitsOfOneWindow) {
  Sandbox::Options options;
  options.trades = 0;
  Sandbox sandbox(options);
  ASSERT_TRUE(sandbox.Ok());
  nlohmann::json trades = nlohmann::json::array();
  for (int i = 0; i < 1600; ++i) trades.push_back({{"ended_hours_ago", 2.0 + i / 100.0}, {"buyer_rate", "good"}});
  ASSERT_FALSE(sandbox.AdminPost("trades", nlohmann::json{{"trades", trades}}.dump()).empty());
  auto page = [&](const std::string& no, const std::string& size) {
    return Gateway(sandbox, "taobao.traderates.get",
                   {{"fields", "tid,result,created"}, {"rate_type", "get"}, {"role", "buyer"},
                    {"start_date", "2000-01-01 00:00:00"}, {"end_date", "2099-01-01 00:00:00"},
                    {"page_no", no}, {"page_size", size}, {"use_has_next", "true"}}).body;
  };
  auto count = [](const std::string& body) {
    int n = 0;
    for (std::size_t at = 0; (at = body.find("<trade_rate>", at)) != std::string::npos; ++at) ++n;
    return n;
  };
  const std::string first = page("1", "150");
  EXPECT_EQ(count(first), 150);
  EXPECT_EQ(FirstValue(first, "<has_next>"), "true");
  const std::string tenth = page("10", "150");
  EXPECT_EQ(count(tenth), 150);
  EXPECT_EQ(FirstValue(tenth, "<has_next>"), "false");  // 1,500 listed, 100 more not
  EXPECT_EQ(count(page("11", "150")), 0);
  EXPECT_NE(page("1", "151").find("<error_response>"), std::string::npos);
  EXPECT_NE(page("201", "10").find("<error_response>"), std::string::npos);
  // Newest first: the first page's first rating is no older than the tenth page's last.
  EXPECT_GE(FirstValue(first, "<created>"), FirstValue(tenth.substr(tenth.rfind("<trade_rate>")), "<created>"));
}

}  // namespace
}  // namespace qm::test

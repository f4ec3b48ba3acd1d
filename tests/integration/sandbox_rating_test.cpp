// The sandbox's test-tool endpoint: which seller ratings it records and echoes,
// and how it reads the form.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/sandbox_calls.h"

namespace qm::test {
namespace {

class SandboxRating : public ::testing::Test {
 protected:
  SandboxRating() : sandbox_(Options()) {}
  static Sandbox::Options Options() {
    Sandbox::Options o;
    o.trades = 0;
    return o;
  }
  nlohmann::json Ratings() { return nlohmann::json::parse(sandbox_.AdminGet("ratings")); }
  Sandbox sandbox_;
};

TEST_F(SandboxRating, EchoesTheOrderOnceAndRefusesASecondRating) {
  ASSERT_TRUE(sandbox_.Ok());
  const std::string tid = AddTrade(sandbox_, "{\"ended_hours_ago\":48}");
  HttpResult r = PostRating(sandbox_, tid, "good", "%E5%A5%BD%E8%AF%84");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(FirstValue(r.body, "<tid>"), tid) << r.body;
  auto ratings = Ratings();
  ASSERT_EQ(ratings.size(), 1u);
  EXPECT_EQ(ratings[0]["tid"], tid);
  EXPECT_EQ(ratings[0]["result"], "good");
  EXPECT_EQ(ratings[0]["content"], "好评");
  EXPECT_EQ(ratings[0]["time"].get<std::string>().size(), 19u);

  HttpResult again = PostRating(sandbox_, tid, "bad", "x");
  EXPECT_EQ(again.body.find("<tid>"), std::string::npos) << again.body;
  EXPECT_NE(again.body.find("<error_response>"), std::string::npos);
  EXPECT_EQ(Ratings().size(), 1u);
  EXPECT_EQ(Ratings()[0]["result"], "good");
}

TEST_F(SandboxRating, RefusesOrdersOutsideTheRatingPeriod) {
  ASSERT_TRUE(sandbox_.Ok());
  const std::string expired = AddTrade(sandbox_, "{\"ended_hours_ago\":361}");  // 15 days and an hour
  const std::string inside = AddTrade(sandbox_, "{\"ended_hours_ago\":359}");
  EXPECT_EQ(FirstValue(PostRating(sandbox_, expired, "good", "").body, "<tid>"), "");
  EXPECT_EQ(FirstValue(PostRating(sandbox_, inside, "good", "").body, "<tid>"), inside);
}

TEST_F(SandboxRating, RefusesForeignUnfinishedAndUnknownOrders) {
  ASSERT_TRUE(sandbox_.Ok());
  const std::string foreign = AddTrade(sandbox_, "{\"seller\":\"other\"}");
  const std::string open = AddTrade(sandbox_, "{\"status\":\"WAIT_BUYER_CONFIRM_GOODS\"}");
  const std::string closed = AddTrade(sandbox_, "{\"status\":\"TRADE_CLOSED\"}");
  ASSERT_FALSE(foreign.empty());
  for (const std::string& tid : {foreign, open, closed, std::string("123456789012345")}) {
    HttpResult r = PostRating(sandbox_, tid, "good", "");
    EXPECT_EQ(r.body.find("<tid>"), std::string::npos) << tid << ": " << r.body;
    EXPECT_NE(FirstValue(r.body, "<sub_msg>"), "");
  }
  EXPECT_TRUE(Ratings().empty());
}

TEST_F(SandboxRating, ChecksKeySecretAndSession) {
  ASSERT_TRUE(sandbox_.Ok());
  const std::string tid = AddTrade(sandbox_, "{}");
  SandboxSeller s = sandbox_.Seller();
  auto post = [&](const SandboxSeller& who) {
    return HttpPost(sandbox_, "/apitools/getResult.do", RatingForm(who, tid, "good", "ok")).body;
  };
  SandboxSeller wrongSecret = s;
  wrongSecret.appSecret = "x";
  SandboxSeller wrongSession = s;
  wrongSession.session = "6100";
  SandboxSeller wrongKey = s;
  wrongKey.appKey = "00000000";
  SandboxSeller noSession = s;
  noSession.session.clear();
  for (const auto& who : {wrongSecret, wrongSession, wrongKey, noSession}) {
    const std::string body = post(who);
    EXPECT_EQ(body.find("<tid>"), std::string::npos) << body;
    EXPECT_NE(FirstValue(body, "<code>"), "");
  }
  EXPECT_EQ(FirstValue(post(s), "<tid>"), tid);
}

TEST_F(SandboxRating, DecodesTheFormAsABrowserDoes) {
  ASSERT_TRUE(sandbox_.Ok());
  const std::string a = AddTrade(sandbox_, "{}");
  const std::string b = AddTrade(sandbox_, "{}");
  const std::string c = AddTrade(sandbox_, "{}");
  // Encoded separators stay inside the comment; '+' is a space.
  ASSERT_EQ(FirstValue(PostRating(sandbox_, a, "bad", "a%26b%3Dc%2Bd+e%0D%0Af").body, "<tid>"), a);
  // The client's pairing of bytes after a multi-byte character: %E5%A5%BD%61 is 好a.
  ASSERT_EQ(FirstValue(PostRating(sandbox_, b, "neutral", "%E5%A5%BD%61%7E").body, "<tid>"), b);
  // A lone '%' stays as it is.
  ASSERT_EQ(FirstValue(PostRating(sandbox_, c, "bad", "100%").body, "<tid>"), c);
  auto ratings = Ratings();
  ASSERT_EQ(ratings.size(), 3u);
  EXPECT_EQ(ratings[0]["content"], "a&b=c+d e\r\nf");
  EXPECT_EQ(ratings[0]["result"], "bad");
  EXPECT_EQ(ratings[1]["content"], "好a~");
  EXPECT_EQ(ratings[2]["content"], "100%");
}

TEST_F(SandboxRating, RefusesBadResultsAndComments) {
  ASSERT_TRUE(sandbox_.Ok());
  const std::string tid = AddTrade(sandbox_, "{}");
  EXPECT_EQ(PostRating(sandbox_, tid, "great", "x").body.find("<tid>"), std::string::npos);
  // A bad rating needs a comment; the comment must be UTF-8.
  EXPECT_EQ(PostRating(sandbox_, tid, "bad", "").body.find("<tid>"), std::string::npos);
  EXPECT_EQ(PostRating(sandbox_, tid, "bad", "%C3%28").body.find("<tid>"), std::string::npos);
  std::string longText;
  for (int i = 0; i < 501; ++i) longText += "%E5%A5%BD";
  EXPECT_EQ(PostRating(sandbox_, tid, "bad", longText).body.find("<tid>"), std::string::npos);
  EXPECT_TRUE(Ratings().empty());
  // Five hundred characters are fine.
  longText.resize(longText.size() - 9);
  EXPECT_EQ(FirstValue(PostRating(sandbox_, tid, "bad", longText).body, "<tid>"), tid);
}

TEST_F(SandboxRating, TheRatingPageShowsAndChangesRatings) {
  ASSERT_TRUE(sandbox_.Ok());
  const std::string tid = AddTrade(sandbox_, "{\"buyer_nick\":\"<i>x</i>\",\"buyer_rate\":\"good\",\"buyer_comment\":\"a&b\"}");
  ASSERT_EQ(FirstValue(PostRating(sandbox_, tid, "bad", "%E6%9D%A5").body, "<tid>"), tid);
  HttpResult page = HttpGet(sandbox_, "/myRate.htm");
  ASSERT_EQ(page.status, 200);
  EXPECT_NE(page.body.find(tid), std::string::npos);
  EXPECT_NE(page.body.find("&lt;i&gt;x&lt;/i&gt;"), std::string::npos);
  EXPECT_EQ(page.body.find("<i>x</i>"), std::string::npos);
  EXPECT_NE(page.body.find("a&amp;b"), std::string::npos);

  HttpResult change = HttpPost(sandbox_, "/myRate.htm", "tid=" + tid + "&result=good&content=%E5%A5%BD");
  EXPECT_EQ(change.status, 303);
  auto ratings = Ratings();
  ASSERT_EQ(ratings.size(), 1u);
  EXPECT_EQ(ratings[0]["result"], "good");
  EXPECT_EQ(ratings[0]["content"], "好");
  // An order the seller has not rated cannot be changed.
  const std::string unrated = AddTrade(sandbox_, "{}");
  HttpPost(sandbox_, "/myRate.htm", "tid=" + unrated + "&result=good&content=x");
  EXPECT_EQ(Ratings().size(), 1u);
}

}  // namespace
}  // namespace qm::test

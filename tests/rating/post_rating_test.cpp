// The rating form and the rating call against the sandbox marketplace.
#include "rating/post_rating.h"

#include <gtest/gtest.h>

#include <optional>

#include "settings/app_session.h"
#include "support/rating_world.h"

namespace qm {
namespace {

TEST(RatingForm, IsTheEightLiteralsWithTheValuesInOrder) {
  EXPECT_EQ(BuildRatingForm("K", "S", "123", "good", "seller", "好评", "T"),
            "format=xml&method=taobao.traderate.list.add&restId=2&api_soure=1&app_key=K"
            "&app_secret=S&sip_http_method=POST&codeType=JAVA&tid=123&result=good&role=seller"
            "&content=%E5%A5%BD%E8%AF%84&anony=&session=T&ua=");
}

TEST(RatingForm, EncodesOnlyTheComment) {
  const std::string form = BuildRatingForm("K+1", "S=2", "9", "bad", "seller", "a&b=c+d\r\ne", "T&");
  EXPECT_NE(form.find("&content=a%26b%3Dc%2Bd%0D%0Ae&anony="), std::string::npos);
  EXPECT_NE(form.find("&app_key=K+1&app_secret=S=2&"), std::string::npos);
  EXPECT_NE(form.find("&session=T&&ua="), std::string::npos);
  EXPECT_NE(BuildRatingForm("K", "S", "9", "good", "seller", "", "T").find("&content=&anony=&session=T&ua="),
            std::string::npos);
}

class PostRating : public ::testing::Test {
 protected:
  test::RatingWorld world;
};

TEST_F(PostRating, RatesTheOrderWithTheCommentAsWritten) {
  ASSERT_TRUE(world.Market().Ok());
  const std::string tid = world.AddTrade(100, "买家");
  const std::string comment = "谢谢 & 再见 = 100% <b>\"好\"</b>\n第二行";
  EXPECT_TRUE(post_rating(world.Session().RunAccount(), tid, "good", "seller", comment));
  const auto ratings = world.Ratings();
  ASSERT_EQ(ratings.size(), 1u);
  EXPECT_EQ(ratings[0].tid, tid);
  EXPECT_EQ(ratings[0].result, "good");
  EXPECT_EQ(ratings[0].content, comment);
  EXPECT_EQ(world.RatingPosts(tid), 1);
}

TEST_F(PostRating, IsFalseWhenThePlatformDoesNotEchoTheOrder) {
  const std::string tid = world.AddTrade(100, "买家");
  EXPECT_FALSE(post_rating(world.Session().RunAccount(), "999999999999", "good", "seller", "x"));  // no such trade
  EXPECT_TRUE(post_rating(world.Session().RunAccount(), tid, "bad", "seller", "x"));
  EXPECT_FALSE(post_rating(world.Session().RunAccount(), tid, "bad", "seller", "x"));  // rated already
  world.Session().SessionKey = "not-a-session";
  const std::string other = world.AddTrade(100, "买家");
  EXPECT_FALSE(post_rating(world.Session().RunAccount(), other, "good", "seller", "x"));
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","reset_rate":1})"));
  world.Market().UseInSession(world.Session());
  EXPECT_FALSE(post_rating(world.Session().RunAccount(), other, "good", "seller", "x"));
}

TEST_F(PostRating, SendsNothingForATextThatIsNotAnOrderNumber) {
  ASSERT_FALSE(world.Market().AdminPost("log/clear", "{}").empty());
  for (const char* bad : {"", "12a", "1&result=bad", " 12", "１２"}) EXPECT_FALSE(post_rating(world.Session().RunAccount(), bad, "good", "seller", "x"));
  EXPECT_EQ(world.RequestsTo("/apitools/getResult.do"), 0);
}

TEST_F(PostRating, TheLedgerNeverPostsOneOrderTwiceAtOnce) {
  const std::string tid = world.AddTrade(100, "买家");
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","latency_ms":200})"));
  // A second action asks for the same order while the first one's post travels.
  std::optional<RatingAttempt> first, second;
  world.Run().Ledger().Rate({tid, "good", "first", {}}, [&](const RatingAttempt& a) { first = a; });
  EXPECT_TRUE(world.Run().Ledger().InFlight(tid));
  world.Run().Ledger().Rate({tid, "good", "second", {}}, [&](const RatingAttempt& a) { second = a; });
  ASSERT_TRUE(second);  // at once, nothing sent
  EXPECT_EQ(second->verdict, LedgerVerdict::Busy);
  EXPECT_FALSE(first);  // the first one's answer comes back through the event loop
  world.AwaitQuiet();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->verdict, LedgerVerdict::Rated);
  EXPECT_FALSE(world.Run().Ledger().InFlight(tid));
  EXPECT_EQ(world.RatingPosts(tid), 1);
  ASSERT_EQ(world.Ratings().size(), 1u);
  EXPECT_EQ(world.Ratings()[0].content, "first");
}

// An error reply that echoes the call's arguments, this order number among
// them, is a refusal, never a rating.
TEST_F(PostRating, AnErrorReplyThatEchoesTheOrderIsARefusal) {
  const std::string tid = world.AddTrade(100, "买家");
  ASSERT_TRUE(world.Faults(std::string(R"({"path":"/apitools/getResult.do","reply_body":")") +
                           "<error_response><code>15</code><msg>Remote service error</msg><sub_code>isp.remote-service-timeout</sub_code>"
                           "<args><tid>" + tid + R"(</tid></args></error_response>"})"));
  std::string refusal;
  EXPECT_EQ(qm::PostRating(tid, "good", "seller", "x", &refusal, world.Session().RunAccount()), RatingOutcome::Refused);
  EXPECT_NE(refusal.find("Remote service error"), std::string::npos);
}

// Rated, refused and unknown, and the question that settles an unknown one,
// also through replies with line breaks inside every element.
TEST_F(PostRating, TellsALostAnswerFromARefusalAndAsksThePlatform) {
  const std::string tid = world.AddTrade(100, "买家"), other = world.AddTrade(100, "买家");
  ASSERT_FALSE(world.Market().AdminPost("quirks", R"({"pretty":true})").empty());
  EXPECT_EQ(CheckSellerRating(tid, world.Session().RunAccount()), SellerRatingCheck::Missing);
  EXPECT_EQ(qm::PostRating(tid, "good", "seller", "x", nullptr, world.Session().RunAccount()), RatingOutcome::Rated);
  EXPECT_EQ(qm::PostRating(tid, "good", "seller", "x", nullptr, world.Session().RunAccount()), RatingOutcome::AlreadyRated);
  EXPECT_EQ(qm::PostRating("999999999999", "good", "seller", "x", nullptr, world.Session().RunAccount()), RatingOutcome::Refused);  // no such trade
  EXPECT_EQ(CheckSellerRating(tid, world.Session().RunAccount()), SellerRatingCheck::Exists);
  EXPECT_EQ(CheckSellerRating(other, world.Session().RunAccount()), SellerRatingCheck::Missing);

  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","truncate_rate":1,"first_n":1})"));
  EXPECT_EQ(qm::PostRating(other, "good", "seller", "x", nullptr, world.Session().RunAccount()), RatingOutcome::Unknown);
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","error_rate":1,"first_n":1})"));
  EXPECT_EQ(CheckSellerRating(other, world.Session().RunAccount()), SellerRatingCheck::Unknown);
  EXPECT_EQ(CheckSellerRating(other, world.Session().RunAccount()), SellerRatingCheck::Exists);
  EXPECT_EQ(world.RatingPosts(other), 1);
}

}  // namespace
}  // namespace qm

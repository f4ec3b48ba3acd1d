// The time-left texts, the deadline arithmetic, the lead-time setting and the
// automatic pass against the sandbox marketplace.
#include "rating/schedule.h"
#include "rating/scheduler.h"

#include <gtest/gtest.h>

#include <optional>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/platform_time.h"
#include "rating/comments.h"
#include "rating/post_rating.h"
#include "rating/rating_ledger.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "support/rating_world.h"
#include "support/temp_dir.h"
#include "support/time_zone.h"

namespace qm {
namespace {

using test::RatingWorld;

TEST(FormatTimeLeft, ShowsTheTableTexts) {
  EXPECT_EQ(FormatTimeLeft(1), "00天01小时");
  EXPECT_EQ(FormatTimeLeft(25), "01天01小时");
  EXPECT_EQ(FormatTimeLeft(47), "01天23小时");
  EXPECT_EQ(FormatTimeLeft(100), "04天04小时");
  EXPECT_EQ(FormatTimeLeft(240), "10天00小时");
  EXPECT_EQ(FormatTimeLeft(2400), "100天00小时");
  EXPECT_EQ(FormatTimeLeft(0), "00天00小时");
}

TEST(FormatTimeLeft, GivesWholeDaysAndRemainingHoursForEveryHourCount) {
  for (int h = 0; h <= 24 * 1000; ++h) {
    char expected[48];
    std::snprintf(expected, sizeof expected, "%02d天%02d小时", h / 24, h % 24);
    ASSERT_EQ(FormatTimeLeft(h), expected) << "hours " << h;
  }
}

TEST(RatingHoursSetting, ReadsNumbersAndFallsBackOtherwise) {
  EXPECT_FLOAT_EQ(ParseRatingHours("24"), 24.0f);
  EXPECT_FLOAT_EQ(ParseRatingHours(" 24.5 "), 24.5f);
  EXPECT_FLOAT_EQ(ParseRatingHours("0"), 0.0f);
  EXPECT_FLOAT_EQ(ParseRatingHours("+6"), 6.0f);
  for (const char* odd : {"", "  ", "abc", "-5", "1e400", "nan", "inf", "24小时", "24,5", "2 4"})
    EXPECT_FLOAT_EQ(ParseRatingHours(odd), kDefaultRatingHours) << odd;
}

TEST(RatingHoursSetting, ComesFromTheSellersSection) {
  test::TempDir dir;
  ASSERT_TRUE(WriteRatingHoursSetting(dir.str(), "卖家甲", "36.5"));
  EXPECT_FLOAT_EQ(ReadRatingHours(dir.str(), "卖家甲"), 36.5f);
  EXPECT_FLOAT_EQ(ReadRatingHours(dir.str(), "卖家乙"), kDefaultRatingHours);  // no such section
}

class AutoPass : public ::testing::Test {
 protected:
  RatingWorld world;
  std::vector<std::string> RatedTids() {
    std::vector<std::string> tids;
    for (const auto& r : world.Ratings()) tids.push_back(r.tid);
    return tids;
  }
  std::vector<std::string> ListedTids() { return RatingWorld::Column(world.Unrated(), kColumnOrderNumber); }
};

TEST_F(AutoPass, PostsDueOrdersBottomUpAndShowsTheTimeLeftOfTheOthers) {
  ASSERT_TRUE(world.Market().Ok());
  // Hours left: 360 - ended - 0.5 rounded toward zero.
  const auto tids = world.AddTrades({{300, "早"}, {337, "到期甲"}, {100, "晚"}, {363, "过期三小时"}, {334, "差一点"}});
  ASSERT_EQ(tids.size(), 5u);
  const int ago[] = {300, 337, 100, 363, 334};
  const char* buyers[] = {"早", "到期甲", "晚", "过期三小时", "差一点"};
  for (int i = 0; i < 5; ++i) world.AddUnratedRow(tids[i], buyers[i], ago[i]);
  world.Unrated().Append({{"555", "无时间", ""}, {"556", "坏时间", "yesterday"}});
  // The refresh's look at the buyers' ratings comes first: no "good" without one.
  world.Pass();
  EXPECT_TRUE(world.Ratings().empty());
  world.Refresh();
  world.log.clear();

  int intervalDuringPass = -1;
  world.Loop().Post([&] { intervalDuringPass = world.autoTimer.Interval(); });
  world.autoTimer.SetInterval(5000);
  const int repaints1 = world.unratedView.Repaints(), repaints2 = world.buyerRatedView.Repaints();
  world.Pass();

  EXPECT_EQ(intervalDuringPass, 0);
  EXPECT_EQ(world.autoTimer.Interval(), kAutoPassIntervalMs);
  EXPECT_GT(world.unratedView.Repaints(), repaints1);
  EXPECT_GT(world.buyerRatedView.Repaints(), repaints2);
  // The deadline-passed order (lower row) is posted first, then the 22-hour
  // one; the platform refuses the late one, so its row stays for the next pass.
  EXPECT_EQ(RatedTids(), (std::vector<std::string>{tids[1]}));
  EXPECT_EQ(world.RatingPosts(tids[3]), 1);
  for (const auto& r : world.Ratings()) {
    EXPECT_EQ(r.result, "good");
    EXPECT_EQ(r.content, "欢迎再次光临！");
  }
  EXPECT_EQ(ListedTids(), (std::vector<std::string>{tids[0], tids[2], tids[3], tids[4], "555", "556"}));
  EXPECT_EQ(world.Unrated().Cell(0, 3), FormatTimeLeft(59));
  EXPECT_EQ(world.Unrated().Cell(1, 3), FormatTimeLeft(259));
  EXPECT_EQ(world.Unrated().Cell(2, 3), "");
  EXPECT_EQ(world.Unrated().Cell(3, 3), "01天01小时");
  EXPECT_EQ(world.Unrated().Cell(4, 3), "");
  EXPECT_EQ(world.Unrated().Cell(5, 3), "");
  ASSERT_EQ(world.log.size(), 2u);
  EXPECT_NE(world.log[0].find("order=" + tids[3] + " buyer=过期三小时 result=good outcome=refused"),
            std::string::npos);
  EXPECT_NE(world.log[1].find("order=" + tids[1] + " buyer=到期甲 result=good outcome=rated"), std::string::npos);
}

// The standing comments as a seller keeps them: the comment file an editor
// saved (UTF-8 with line breaks at its end) and two more from 更多设置, used
// in turn. Each automatic "good" takes the next one, none ends in a line
// break, and a change of the settings counts from the next post on.
TEST_F(AutoPass, StandingCommentsTakeTurnsWithoutTheEditorsLineBreaks) {
  AppSession& record = world.Session();
  const std::string nick = record.sellerNick;
  ASSERT_TRUE(test::WriteFileBytes(record.PathOf(AutoCommentFileName(nick)), "谢谢惠顾，欢迎再来\n\n"));
  ASSERT_TRUE(LoadAutoComment(record.programDir, nick, &record.autoContent));
  ASSERT_TRUE(SaveMoreComments(record.programDir, nick, {"第二条", "第三条"}));
  ASSERT_TRUE(WriteSetting(record.programDir, nick, kKeyCommentUse, kCommentsInTurn));
  world.Restart();  // a run takes the seller's settings when it is built
  const auto tids = world.AddTrades({{340, "a"}, {339, "b"}, {338, "c"}, {337, "d"}});
  for (std::size_t i = 0; i < tids.size(); ++i) world.AddUnratedRow(tids[i], std::string(1, char('a' + i)), 340 - int(i));
  world.Refresh();
  world.Pass();
  std::vector<std::string> sent;
  for (const auto& r : world.Ratings()) sent.push_back(r.content);
  EXPECT_EQ(sent, (std::vector<std::string>{"谢谢惠顾，欢迎再来", "第二条", "第三条", "谢谢惠顾，欢迎再来"}));

  world.ChangeSettings([](RunSettings& s) { s.commentUse = CommentUse::FirstOnly; s.comments.insert(s.comments.begin(), "新的第一条"); });
  const std::string later = world.AddTrade(338, "e");
  world.AddUnratedRow(later, "e", 338);
  world.Pass();
  ASSERT_EQ(world.Ratings().size(), 5u);
  EXPECT_EQ(world.Ratings().back().content, "新的第一条");
  // What the comment file cannot hold in GBK is saved as UTF-8 and read back whole.
  ASSERT_TRUE(SaveAutoComment(record.programDir, nick, "谢谢 😀\n"));
  ASSERT_TRUE(LoadAutoComment(record.programDir, nick, &record.autoContent));
  EXPECT_EQ(record.autoContent, "谢谢 😀");
}

TEST_F(AutoPass, FractionalLeadTimeRatesTwentyFourHoursAndShowsTwentyFive) {
  world.ChangeSettings([](RunSettings& s) { s.ratingHours = 24.5f; });
  const auto tids = world.AddTrades({{335, "a"}, {334, "b"}});  // 24 and 25 whole hours left
  world.AddUnratedRow(tids[0], "a", 335);
  world.AddUnratedRow(tids[1], "b", 334);
  world.Refresh();
  world.Pass();
  EXPECT_EQ(RatedTids(), (std::vector<std::string>{tids[0]}));
  EXPECT_EQ(ListedTids(), (std::vector<std::string>{tids[1]}));
  EXPECT_EQ(world.Unrated().Cell(0, 3), "01天01小时");
}

// The rows hold Beijing times as the platform sends them: the machine's zone
// must not move a deadline.
TEST(AutoPassZones, SameDueOrdersAndTimeLeftUnderEveryZone) {
  for (const auto& zone : test::kZoneCases) {
    test::ScopedTimeZone scoped(zone.zone);
    ASSERT_EQ(test::ScopedTimeZone::LocalOffsetHours(test::kZoneProbeInstant), zone.offsetHours) << zone.zone;
    RatingWorld world;
    const auto tids = world.AddTrades({{337, "到期"}, {334, "未到"}, {100, "早"}});
    ASSERT_EQ(tids.size(), 3u);
    world.AddUnratedRow(tids[0], "到期", 337);
    world.AddUnratedRow(tids[1], "未到", 334);
    world.AddUnratedRow(tids[2], "早", 100);
    world.Refresh();
    world.Pass();
    const auto ratings = world.Ratings();
    ASSERT_EQ(ratings.size(), 1u) << zone.zone;
    EXPECT_EQ(ratings[0].tid, tids[0]) << zone.zone;
    ASSERT_EQ(world.Unrated().RowCount(), 2) << zone.zone;
    EXPECT_EQ(world.Unrated().Cell(0, 3), "01天01小时") << zone.zone;
    EXPECT_EQ(world.Unrated().Cell(1, 3), "10天19小时") << zone.zone;
  }
}

TEST_F(AutoPass, EmptyListOnlyRepaintsAndRearms) {
  world.Pass();
  EXPECT_EQ(world.autoTimer.Interval(), kAutoPassIntervalMs);
  EXPECT_EQ(world.unratedView.Repaints(), 1);
  EXPECT_TRUE(world.Ratings().empty());
}

// The platform clock of a test, moved by hand; the sandbox's clock follows,
// so that the signed timestamps stay within its tolerance.
class MovedClock {
 public:
  explicit MovedClock(RatingWorld& world) : world_(world), start_(std::floor(world.Clock().Now())) {
    world.Machine().Set([this] { return start_ + static_cast<double>(offset_); });
  }
  ~MovedClock() { world_.Machine().Set(nullptr); }
  void AdvanceTo(long long seconds) {
    offset_ = seconds;
    world_.Market().AdminPost("clock", "{\"offset_seconds\":" + std::to_string(seconds) + "}");
  }

 private:
  RatingWorld& world_;
  double start_;
  std::atomic<long long> offset_{0};
};

std::size_t LinesWith(const std::vector<std::string>& log, const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

// When a post without an answer is first asked about.
constexpr long long kAsk = static_cast<long long>(kFirstCheckDelaySeconds);

// An error page is no answer: the platform is asked before the order is
// posted again, and says the rating is not there.
TEST_F(AutoPass, AnUnreadableAnswerIsAskedAboutBeforeTheOrderIsPostedAgain) {
  MovedClock clock(world);
  const std::string tid = world.AddTrade(340, "拒绝");
  world.AddUnratedRow(tid, "拒绝", 340);
  world.Refresh();  // a complete look at the buyers' ratings
  world.log.clear();
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","error_rate":1,"first_n":1})"));
  world.Pass();
  EXPECT_EQ(ListedTids(), (std::vector<std::string>{tid}));
  EXPECT_TRUE(world.Ratings().empty());
  EXPECT_NE(world.log.back().find("result=good outcome=unknown"), std::string::npos);
  clock.AdvanceTo(kAsk);
  world.Pass();
  EXPECT_TRUE(ListedTids().empty());
  EXPECT_EQ(RatedTids(), (std::vector<std::string>{tid}));
  EXPECT_EQ(world.RatingPosts(tid), 2);
  EXPECT_NE(world.log.back().find("result=good outcome=rated"), std::string::npos);
}

TEST_F(AutoPass, CutOffAnswersArePostedOnceAndConfirmedByAskingThePlatform) {
  MovedClock clock(world);
  const auto tids = world.AddTrades({{340, "甲"}, {341, "乙"}, {342, "丙"}, {343, "丁"}});
  ASSERT_EQ(tids.size(), 4u);
  for (int i = 0; i < 4; ++i) world.AddUnratedRow(tids[i], "买家" + std::to_string(i), 340 + i);
  world.Refresh();
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","truncate_rate":1})"));
  world.Pass();
  // The platform took every rating; the program read none of the answers.
  EXPECT_EQ(RatedTids().size(), 4u);
  EXPECT_EQ(ListedTids().size(), 4u);
  EXPECT_EQ(LinesWith(world.log, "result=good outcome=unknown"), 4u);

  // Passes before the question is due send nothing and say so once per order.
  clock.AdvanceTo(kAsk - 3);
  world.Pass();
  world.Pass();
  EXPECT_EQ(LinesWith(world.log, "skipped: waiting until"), 4u);

  // One question is cut off as well: that order waits again, unposted.
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","truncate_rate":1,"first_n":1})"));
  clock.AdvanceTo(kAsk);
  world.Pass();
  EXPECT_EQ(ListedTids(), (std::vector<std::string>{tids[3]}));  // the bottom row is asked first
  EXPECT_EQ(LinesWith(world.log, "order=" + tids[3] + " buyer=买家3 check=unanswered"), 1u);
  EXPECT_EQ(LinesWith(world.log, "result=good outcome=confirmed"), 3u);
  clock.AdvanceTo(kAsk + 4);
  world.Pass();
  EXPECT_EQ(ListedTids().size(), 1u);
  clock.AdvanceTo(kAsk + 5);
  world.Pass();
  EXPECT_TRUE(ListedTids().empty());
  EXPECT_EQ(LinesWith(world.log, "result=good outcome=confirmed"), 4u);
  for (const auto& tid : tids) EXPECT_EQ(world.RatingPosts(tid), 1) << tid;
  auto rated = RatedTids(), expected = tids;
  std::sort(rated.begin(), rated.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(rated, expected);
}

// The platform records the rating, then answers after the program's limit.
TEST_F(AutoPass, AnAnswerLaterThanTheLimitIsAskedAboutNotPostedAgain) {
  MovedClock clock(world);
  const auto tids = world.AddTrades({{340, "快"}, {341, "慢"}});
  world.AddUnratedRow(tids[0], "快", 340);
  world.AddUnratedRow(tids[1], "慢", 341);
  world.Refresh();
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","stall_after_ms":10500,"first_n":1})"));
  world.Pass();
  EXPECT_EQ(ListedTids(), (std::vector<std::string>{tids[1]}));
  EXPECT_EQ(LinesWith(world.log, "order=" + tids[1] + " buyer=慢 result=good outcome=unknown"), 1u);
  EXPECT_EQ(RatedTids().size(), 2u);
  clock.AdvanceTo(kAsk);
  world.Pass();
  EXPECT_TRUE(ListedTids().empty());
  EXPECT_EQ(LinesWith(world.log, "order=" + tids[1] + " buyer=慢 result=good outcome=confirmed"), 1u);
  EXPECT_EQ(world.RatingPosts(tids[1]), 1);
}

TEST_F(AutoPass, ARefusedOrderIsTriedAgainOnlyAfterGrowingPauses) {
  MovedClock clock(world);
  const std::string tid = world.AddTrade(363, "过期");  // the period is over: always refused
  world.AddUnratedRow(tid, "过期", 363);
  world.Refresh();
  struct Step {
    long long at;  // seconds after the first pass
    int posts;     // forms sent by then
  };
  for (const Step& step : {Step{0, 1}, {4, 1}, {5, 2}, {34, 2}, {35, 3}, {154, 3}, {155, 4}, {754, 4}, {755, 5},
                           {1354, 5}, {1355, 6}}) {
    clock.AdvanceTo(step.at);
    world.Pass();
    EXPECT_EQ(world.RatingPosts(tid), step.posts) << "at " << step.at;
  }
  EXPECT_EQ(ListedTids(), (std::vector<std::string>{tid}));
  EXPECT_EQ(LinesWith(world.log, "result=good outcome=refused; next try at"), 6u);
  EXPECT_EQ(LinesWith(world.log, "skipped: waiting until"), 5u);
  EXPECT_EQ(LinesWith(world.log, "check="), 0u);
}

TEST_F(AutoPass, RefreshInsideARatingCallRemovesRowsWithoutMisplacingThePass) {
  // Top to bottom: A due, B buyer-rated, C due, D buyer-rated, E due.
  const auto tids = world.AddTrades({{340, "A"}, {200, "B"}, {341, "C"}, {100, "D"}, {342, "E"}});
  ASSERT_EQ(tids.size(), 5u);
  const int ago[] = {340, 200, 341, 100, 342};
  for (int i = 0; i < 5; ++i) world.AddUnratedRow(tids[i], std::string(1, static_cast<char>('A' + i)), ago[i]);
  world.Refresh();
  // The buyers of B and D rate; 时钟2 fires during the first rating call and
  // the refresh runs at the pass's end.
  for (int i : {1, 3})
    ASSERT_FALSE(world.Market().AdminPost("buyer-rate", R"({"tid":")" + tids[i] + R"(","result":"good","content":"ok"})").empty());
  bool refreshed = false;
  world.Loop().Post([&] {
    world.Refresh();
    refreshed = true;
  });
  world.Pass();
  ASSERT_TRUE(refreshed);
  EXPECT_TRUE(ListedTids().empty());
  EXPECT_EQ(RatedTids(), (std::vector<std::string>{tids[4], tids[2], tids[0]}));
  for (int i : {0, 2, 4}) EXPECT_EQ(world.RatingPosts(tids[i]), 1);
  ASSERT_EQ(world.BuyerRated().RowCount(), 2);
  EXPECT_EQ(world.refreshTimer.Interval(), kRefreshIntervalMs);
}

TEST_F(AutoPass, LeavesAnOrderThatTheSellerIsPostingAlone) {
  const auto tids = world.AddTrades({{340, "手动"}, {341, "自动"}});
  world.AddUnratedRow(tids[0], "手动", 340);
  world.AddUnratedRow(tids[1], "自动", 341);
  world.Refresh();
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","latency_ms":200})"));
  // The seller's own rating of the first order is on its way when the pass runs.
  std::optional<RatingAttempt> manual;
  world.Run().Ledger().Rate({tids[0], "good", "手动评价", {"手动", RatingStart::Early}},
                            [&](const RatingAttempt& a) { manual = a; });
  world.Pass();
  ASSERT_TRUE(manual);
  EXPECT_EQ(manual->verdict, LedgerVerdict::Rated);
  EXPECT_EQ(world.RatingPosts(tids[0]), 1);
  EXPECT_EQ(world.RatingPosts(tids[1]), 1);
  // Once the seller's answer is back, the pass takes the order as rated and
  // never posts it again.
  EXPECT_TRUE(ListedTids().empty());
  world.Pass();
  EXPECT_EQ(world.RatingPosts(tids[0]), 1);
}

}  // namespace
}  // namespace qm

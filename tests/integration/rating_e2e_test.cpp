// The main job end to end against the sandbox marketplace: the first load,
// its refresh and first pass, later passes, with and without faults.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "orders/order_db.h"
#include "orders/order_loader.h"
#include "platform/platform_time.h"
#include "rating/manual_rating.h"
#include "rating/schedule.h"
#include "rating/scheduler.h"
#include "settings/app_session.h"
#include "support/rating_world.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

constexpr const char* kStanding = "好评！感谢 & 再见 100% <b>";

class FirstLoad : public ::testing::Test {
 protected:
  test::RatingWorld world;

  void SetUp() override {
    ASSERT_TRUE(world.Market().Ok());
    world.Session().autoContent = kStanding;
    world.ChangeSettings([](RunSettings& s) { s.comments = {kStanding}; });
  }

  // The start-up's last steps, then events until the first pass has armed 时钟1.
  void Load() {
    std::string error;
    ASSERT_TRUE(PrepareOrderDatabase(world.Session().programDir, world.Session().sellerNick, &error)) << error;
    ASSERT_TRUE(world.Run().Start());
    const auto limit = std::chrono::steady_clock::now() + 60s;
    while ((world.autoTimer.Interval() == 0 || world.Run().Loader().Running()) && std::chrono::steady_clock::now() < limit)
      world.Loop().WaitAndRun(50ms);
    ASSERT_EQ(world.autoTimer.Interval(), kAutoPassIntervalMs);
    ASSERT_FALSE(world.Run().Loader().Running());
  }
  std::set<std::string> RatedSet() {
    std::set<std::string> s;
    for (const auto& r : world.Ratings()) s.insert(r.tid);
    return s;
  }
  static std::vector<std::string> Column(const OrderRows& list, int column) { return test::RatingWorld::Column(list, column); }
};

TEST_F(FirstLoad, RatesExactlyTheOrdersWithinTheLeadTimeAndShowsTheRest) {
  const auto due = world.AddTrades({{340, "到期一"}, {359, "到期二"}, {345, "到期三"}});
  const auto later = world.AddTrades({{10, "新单"}, {200, "中间"}, {330, "快到期"}});
  const std::string buyerGood = world.AddTrade(340, "买家好评", "good");
  const std::string buyerBad = world.AddTrade(100, "买家差评", "bad");
  const auto old = world.AddTrades({{370, "过期"}});
  ASSERT_EQ(due.size() + later.size() + old.size(), 7u);

  Load();

  EXPECT_EQ(RatedSet(), std::set<std::string>(due.begin(), due.end()));
  for (const auto& r : world.Ratings()) {
    EXPECT_EQ(r.result, "good");
    EXPECT_EQ(r.content, kStanding);
  }
  // Oldest end time first; "到期" shows 359 - hours ago whole hours.
  EXPECT_EQ(Column(world.Unrated(), 0), (std::vector<std::string>{later[2], later[1], later[0]}));
  EXPECT_EQ(Column(world.Unrated(), 3), (std::vector<std::string>{"01天05小时", "06天15小时", "14天13小时"}));
  const auto buyerRated = Column(world.BuyerRated(), 0);
  EXPECT_EQ(std::set<std::string>({buyerGood, buyerBad}),
            std::set<std::string>(buyerRated.begin(), buyerRated.end()));
  EXPECT_EQ(world.refreshTimer.Interval(), kRefreshIntervalMs);
  for (const auto& tid : later) EXPECT_EQ(world.RatingPosts(tid), 0);
  EXPECT_EQ(world.RatingPosts(buyerGood), 0);

  // The next pass posts nothing more.
  world.Pass();
  EXPECT_EQ(RatedSet().size(), due.size());
  for (const auto& tid : due) EXPECT_EQ(world.RatingPosts(tid), 1);
}

TEST_F(FirstLoad, FaultsNeverRateAnOrderTwiceNorLoseOne) {
  std::vector<std::pair<int, std::string>> trades;
  for (int i = 0; i < 30; ++i) trades.push_back({337 + i % 20, "到期买家" + std::to_string(i)});
  const auto due = world.AddTrades(trades);
  const auto later = world.AddTrades({{20, "不到期"}, {300, "也不到期"}});
  ASSERT_EQ(due.size(), 30u);
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","reset_rate":0.2,"error_rate":0.2,"truncate_rate":0.2})"));

  // Each pass 700 s after the last, past every pause of the orders that wait;
  // the sandbox's clock follows, so that signed timestamps stay acceptable.
  const double start = std::floor(world.Clock().Now());
  std::atomic<long long> offset{0};
  world.Machine().Set([&] { return start + static_cast<double>(offset.load()); });
  auto nextPass = [&] {
    offset += 700;
    world.Market().AdminPost("clock", "{\"offset_seconds\":" + std::to_string(offset.load()) + "}");
    world.Pass();
  };
  Load();
  for (int pass = 0; pass < 10; ++pass) nextPass();

  std::map<std::string, int> timesRated;
  for (const auto& r : world.Ratings()) ++timesRated[r.tid];
  const auto listed = Column(world.Unrated(), 0);
  for (const auto& tid : due) {
    EXPECT_LE(timesRated[tid], 1) << tid;
    const bool stillListed = std::find(listed.begin(), listed.end(), tid) != listed.end();
    EXPECT_TRUE(timesRated[tid] == 1 || stillListed) << tid << " is neither rated nor listed";
  }
  // The faults did strike: some orders needed more than one post.
  int posts = 0;
  for (const auto& tid : due) posts += world.RatingPosts(tid);
  EXPECT_GT(posts, static_cast<int>(due.size()));
  for (const auto& tid : later) {
    EXPECT_EQ(timesRated[tid], 0);
    EXPECT_NE(std::find(listed.begin(), listed.end(), tid), listed.end());
  }
  // Faults cleared, what is still unrated goes at the next pass.
  world.Faults("{}");
  nextPass();
  world.Machine().Set(nullptr);  // before the clock's variables go
  const auto rated = RatedSet();
  for (const auto& tid : due) EXPECT_EQ(rated.count(tid), 1u) << tid;
  EXPECT_EQ(Column(world.Unrated(), 0).size(), later.size());
}

// The buyer's side of an order as the answer flow reads it, whatever the
// platform says or fails to say.
TEST(BuyerRatingCheck, VerdictsForEveryKindOfAnswer) {
  test::RatingWorld world;
  ASSERT_TRUE(world.Market().Ok());
  const std::string bad = world.AddTrade(100, "差评买家", "bad");
  const std::string none = world.AddTrade(100, "未评买家");
  EXPECT_EQ(check_buyer_rating(bad, world.Session().RunAccount()), "bad|:|无");
  // An order without the buyer's rating: no result in the answer.
  EXPECT_EQ(check_buyer_rating(none, world.Session().RunAccount()), "客户给了不好的评价|:|无");
  const int asked = world.RequestsTo("/router/rest");
  // A text that is no order number is never sent.
  EXPECT_EQ(check_buyer_rating("1&rate_type=give", world.Session().RunAccount()), "客户给了不好的评价|:|无");
  EXPECT_EQ(world.RequestsTo("/router/rest"), asked);
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","error_rate":1})"));
  EXPECT_EQ(check_buyer_rating(bad, world.Session().RunAccount()), "客户给了不好的评价|:|无");
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","truncate_rate":1})"));
  EXPECT_EQ(SplitVerdict(check_buyer_rating(bad, world.Session().RunAccount())).result, "客户给了不好的评价");
}

}  // namespace
}  // namespace qm

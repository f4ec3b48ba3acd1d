// The run on a machine clock the test sets: a stopped process or a sleeping
// machine, and a clock set by hand, against the sandbox marketplace whose
// own clock is the platform's.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/platform_time.h"
#include "rating/schedule.h"
#include "rating/scheduler.h"
#include "support/rating_world.h"

namespace qm {
namespace {

constexpr double kHour = 3600, kDay = 86400;

class MachineClock : public ::testing::Test {
 protected:
  test::RatingWorld world;
  // The machine's wall clock is base + passed + set; its elapsed clock base +
  // passed. The platform's clock (the sandbox's) moves with `passed` only.
  double base = std::floor(world.Clock().Local()), passed = 0, set = 0;

  void SetUp() override {
    world.Machine().Set([this] { return base + passed + set; }, [this] { return base + passed; });
  }

  void TimePasses(double seconds) {
    passed += seconds;
    world.Market().AdminPost("clock", nlohmann::json{{"offset_seconds", static_cast<long long>(passed)}}.dump());
  }
  void Start() {
    ASSERT_TRUE(world.Run().Start());
    world.AwaitLoad();
  }
  // What reached the sandbox since the last call, in order: the gateway's
  // method and rate status, or "rate" for a rating form.
  std::vector<std::string> Calls() {
    std::vector<std::string> calls;
    for (const auto& e : nlohmann::json::parse(world.Market().AdminGet("log"))) {
      if (e.value("path", "") == "/apitools/getResult.do") {
        calls.push_back("rate");
        continue;
      }
      const std::string query = e.value("query", "");
      const std::size_t status = query.find("rate_status=");
      calls.push_back(e.value("api_method", "") +
                      (status == std::string::npos ? "" : " " + query.substr(status + 12, query.find('&', status) - status - 12)));
    }
    world.Market().AdminPost("log/clear", "{}");
    return calls;
  }
  int Lines(const std::string& start) const {
    return static_cast<int>(std::count_if(world.log.begin(), world.log.end(),
                                          [&](const std::string& l) { return l.rfind(start, 0) == 0; }));
  }
  static std::ptrdiff_t IndexOf(const std::vector<std::string>& calls, const std::string& call) {
    const auto it = std::find(calls.begin(), calls.end(), call);
    return it == calls.end() ? -1 : it - calls.begin();
  }
  std::string TimeLeftOf(const std::string& tid) {
    for (int i = 0; i < world.Unrated().RowCount(); ++i)
      if (world.Unrated().Cell(i, 0) == tid) return world.Unrated().Row(i).timeLeft;
    return "(not listed)";
  }
};

// The process is stopped for a day and a half (or the machine sleeps): an
// order falls due meanwhile and its buyer rates it "bad". The first tick
// after renews the buyer-rated list (and the platform's time) before any
// post; the order goes to the seller's answer, never a "good", and the
// silent buyer's order is rated at the next tick.
TEST_F(MachineClock, AfterAStopTheBuyerRatedListIsRenewedBeforeAnyPost) {
  const std::string bad = world.AddTrade(320, "停后差评");
  const std::string silent = world.AddTrade(320, "停后未评");
  Start();
  ASSERT_EQ(world.Unrated().RowCount(), 2);
  TimePasses(5);
  world.Pass();
  EXPECT_TRUE(world.Ratings().empty());
  EXPECT_EQ(Lines("refresh: the buyer-rated list is out of date"), 0);

  TimePasses(1.5 * kDay);
  ASSERT_FALSE(world.Market()
                   .AdminPost("buyer-rate", nlohmann::json{{"tid", bad}, {"result", "bad"}, {"content", "太慢"}}.dump())
                   .empty());
  Calls();
  world.Pass();  // the first tick after: the refresh, then the pass at the next
  world.AwaitLoad();
  const auto calls = Calls();
  const auto listing = IndexOf(calls, "taobao.trades.sold.get RATE_BUYER_UNSELLER");
  const auto timeCheck = IndexOf(calls, "taobao.time.get");
  const auto firstPost = IndexOf(calls, "rate");
  ASSERT_GE(listing, 0);
  ASSERT_GE(timeCheck, 0);
  ASSERT_GE(firstPost, 0);
  EXPECT_LT(listing, firstPost);
  EXPECT_LT(timeCheck, firstPost);
  EXPECT_EQ(Lines("refresh: the buyer-rated list is out of date"), 1);

  ASSERT_EQ(world.Ratings().size(), 1u);
  EXPECT_EQ(world.Ratings()[0].tid, silent);
  EXPECT_EQ(world.RatingPosts(bad), 0);
  EXPECT_EQ(world.BuyerRated().RowCount(), 1);
  EXPECT_EQ(world.BuyerRated().Cell(0, 0), bad);
  EXPECT_EQ(world.Unrated().RowCount(), 0);

  // The refresh merely late (its timer did not fire) counts the same, a
  // minute a tick.
  for (int i = 0; i < 12; ++i) {
    TimePasses(60);
    world.Pass();
  }
  EXPECT_EQ(Lines("refresh: the buyer-rated list is out of date"), 2);
}

// The machine's clock is set a day ahead, then a day behind, while the
// platform's time goes on: deadlines stay the platform's (no order rated a
// day early, none a day late), no request is refused for its timestamp, and
// each setting renews the buyer-rated list.
TEST_F(MachineClock, AClockSetByHandMovesNoDeadline) {
  const std::string tid = world.AddTrade(330, "设钟");  // 29.5 hours left
  Start();
  const std::string timeLeft = TimeLeftOf(tid);
  ASSERT_NE(timeLeft, "");

  set = kDay;
  world.Pass();
  EXPECT_TRUE(world.Run().Schedule().LastRefresh().Complete());
  EXPECT_TRUE(world.Ratings().empty());
  EXPECT_EQ(TimeLeftOf(tid), timeLeft);
  EXPECT_EQ(Lines("refresh: the buyer-rated list is out of date"), 1);

  set = -kDay;
  TimePasses(7 * kHour);  // 22.5 hours left by the platform's clock, 46.5 by the machine's
  Calls();
  world.Pass();
  const auto calls = Calls();
  EXPECT_GE(IndexOf(calls, "taobao.time.get"), 0);
  EXPECT_TRUE(world.Run().Schedule().LastRefresh().Complete());
  ASSERT_EQ(world.Ratings().size(), 1u);
  EXPECT_EQ(world.Ratings()[0].tid, tid);
  EXPECT_EQ(world.Ratings()[0].result, "good");
  EXPECT_EQ(Lines("refresh: the buyer-rated list is out of date"), 2);
}

}  // namespace
}  // namespace qm

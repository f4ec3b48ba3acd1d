// The ten-minute refresh and the platform time check against the sandbox.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>

#include "orders/order_loader.h"
#include "rating/refresh_checks.h"
#include "rating/schedule.h"
#include "rating/scheduler.h"
#include "settings/app_session.h"
#include "platform/platform_time.h"
#include "support/rating_world.h"
#include "support/sandbox_calls.h"
#include "util/event_loop.h"
#include "util/memory_ports.h"

namespace qm {
namespace {

class Refresh : public ::testing::Test {
 protected:
  test::RatingWorld world;
  // The taobao.time.get calls the sandbox has seen.
  int TimeChecks() {
    const auto log = nlohmann::json::parse(world.Market().AdminGet("log"), nullptr, false);
    int n = 0;
    for (const auto& e : log)
      if (e.value("api_method", "") == "taobao.time.get") ++n;
    return n;
  }
  void AwaitLoad() { world.AwaitLoad(); }
};

TEST_F(Refresh, RebuildsTheBuyerRatedListAndRearmsAfterTenMinutes) {
  ASSERT_TRUE(world.Market().Ok());
  const std::string rated = world.AddTrade(50, "已评", "good");
  const std::string open = world.AddTrade(60, "未评");
  world.AddUnratedRow(rated, "已评", 50);  // listed at the first load, rated by its buyer since
  world.AddUnratedRow(open, "未评", 60);
  world.BuyerRated().Append({{"stale", "old", ""}});
  int intervalDuring = -1;
  world.refreshTimer.SetInterval(kRefreshIntervalMs);
  world.Loop().Post([&] { intervalDuring = world.refreshTimer.Interval(); });

  world.Refresh();

  EXPECT_EQ(intervalDuring, 0);
  EXPECT_EQ(world.refreshTimer.Interval(), kRefreshIntervalMs);
  ASSERT_EQ(world.BuyerRated().RowCount(), 1);
  EXPECT_EQ(world.BuyerRated().Cell(0, 0), rated);
  EXPECT_EQ(world.BuyerRated().Cell(0, 1), "已评");
  ASSERT_EQ(world.Unrated().RowCount(), 1);
  EXPECT_EQ(world.Unrated().Cell(0, 0), open);
  EXPECT_EQ(world.cacheClears, 1);
  EXPECT_EQ(world.exitCode, -1);
  EXPECT_TRUE(world.prompts.History().empty());
}

TEST_F(Refresh, TimeCheckPassesOnlyWithATimeReply) {
  EXPECT_TRUE(check_platform_time(world.Session().RunAccount()));
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","error_rate":1})"));
  EXPECT_FALSE(check_platform_time(world.Session().RunAccount()));
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","reset_rate":1})"));
  EXPECT_FALSE(check_platform_time(world.Session().RunAccount()));
}

// An outage is a state the run waits in: the refresh says so once, asks again
// at each interval and the run goes on when the platform answers. Until a
// buyer-rated listing completes nothing is rated automatically: an order its
// buyer rated badly meanwhile is never rated "good".
TEST_F(Refresh, AnOutageNeverEndsTheRunAndAnIncompleteListingLeavesBuyerRatedOrdersAlone) {
  const std::string bad = world.AddTrade(340, "差评买家");
  const std::string quiet = world.AddTrade(341, "未评买家");
  world.AddUnratedRow(bad, "差评买家", 340);  // both due
  world.AddUnratedRow(quiet, "未评买家", 341);
  auto lines = [&](const std::string& start) {
    return std::count_if(world.log.begin(), world.log.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
  };
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","error_rate":1})"));
  world.Refresh();
  EXPECT_EQ(TimeChecks(), 3);
  world.Refresh();
  EXPECT_EQ(TimeChecks(), 6);
  EXPECT_EQ(lines("message: 连接淘宝API服务器失败"), 1);  // said once, asked at each refresh
  EXPECT_TRUE(world.Run().Schedule().PlatformDown());
  EXPECT_EQ(world.exitCode, -1);
  EXPECT_NE(world.Run().Schedule().Phase(), RunPhase::Ended);
  EXPECT_EQ(world.refreshTimer.Interval(), kRefreshIntervalMs);
  EXPECT_EQ(world.cacheClears, 0);

  // The buyer rates badly; the platform answers again, but not with the buyer-rated listing.
  ASSERT_FALSE(world.Market().AdminPost("buyer-rate", nlohmann::json{{"tid", bad}, {"result", "bad"}, {"content", "差"}}.dump()).empty());
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","rate_status":"RATE_BUYER_UNSELLER","error_rate":1})"));
  world.Refresh();
  EXPECT_EQ(lines("platform: answering again"), 1);
  EXPECT_FALSE(world.Run().Schedule().PlatformDown());
  EXPECT_FALSE(world.Run().Schedule().BuyerRatedComplete());
  EXPECT_EQ(world.cacheClears, 1);
  world.Pass();
  EXPECT_EQ(world.RatingPosts(bad), 0);
  EXPECT_EQ(world.RatingPosts(quiet), 0);
  EXPECT_TRUE(world.Unrated().Contains(quiet));

  ASSERT_TRUE(world.Faults("{}"));
  world.Refresh();
  EXPECT_TRUE(world.Run().Schedule().BuyerRatedComplete());
  world.Pass();
  EXPECT_EQ(world.RatingPosts(bad), 0);
  EXPECT_GE(world.BuyerRated().Find(bad), 0);
  EXPECT_FALSE(world.Unrated().Contains(bad));
  EXPECT_EQ(world.RatingPosts(quiet), 1);
}

// A time check that fails twice (error pages or cut replies) and then answers
// keeps the program running; the refresh goes on as usual.
TEST_F(Refresh, TimeCheckThatAnswersOnTheThirdTryKeepsTheProgram) {
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.time.get",)"
                           R"("error_rate":0.5,"truncate_rate":0.5,"first_n":2})"));
  world.Refresh();
  EXPECT_EQ(TimeChecks(), 3);
  EXPECT_EQ(world.exitCode, -1);
  EXPECT_FALSE((world.Run().Schedule().Phase() == RunPhase::Ended));
  EXPECT_EQ(world.refreshTimer.Interval(), kRefreshIntervalMs);
  EXPECT_EQ(world.cacheClears, 1);
}

// A listing page that fails every time: the load is incomplete, the ten-minute
// refresh still runs at every interval, and the reload after the incomplete
// load runs at most once per refresh interval, never back to back.
TEST_F(Refresh, ARefreshRunsAtEveryIntervalWhileAPageFailsEveryTime) {
  const std::string tid = world.AddTrade(100, "买家");
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.trades.sold.get",)"
                           R"("page_no":1,"rate_status":"RATE_UNBUYER","error_rate":1,"latency_ms":100})"));
  ASSERT_TRUE(world.Run().Start());
  AwaitLoad();
  EXPECT_EQ(world.Run().Schedule().LastLoad().problem, "RATE_UNBUYER page 1");
  EXPECT_EQ(world.Unrated().RowCount(), 0);
  EXPECT_EQ(world.refreshTimer.Interval(), kRefreshIntervalMs);
  const int checksAfterStart = TimeChecks();
  EXPECT_EQ(checksAfterStart, 1);
  auto reloads = [&] {
    return std::count(world.log.begin(), world.log.end(),
                      "reload: the last load did not complete; loading the unrated orders again");
  };

  world.Pass();  // within ten minutes: no reload
  EXPECT_FALSE(world.Run().Loader().Running());
  const double start = world.Clock().Now();
  double shift = 0;
  world.Machine().Set([&] { return start + shift; });
  shift = 11 * 60;  // time passes
  ASSERT_FALSE(world.Market().AdminPost("clock", R"({"offset_seconds":660})").empty());
  // Eleven minutes without a tick read as a stop: the buyer-rated list is
  // renewed (a time check) before the pass, and the reload starts after it.
  world.Pass();
  EXPECT_EQ(TimeChecks(), checksAfterStart + 1);
  EXPECT_TRUE(world.Run().Loader().Running());
  world.Refresh();  // 时钟2 during the reload: the refresh runs at its end
  EXPECT_EQ(world.refreshTimer.Interval(), 0);
  AwaitLoad();
  // That refresh looked at the buyers' ratings: the platform answers, and its
  // time was asked minutes ago.
  EXPECT_EQ(TimeChecks(), checksAfterStart + 1);
  EXPECT_EQ(world.refreshTimer.Interval(), kRefreshIntervalMs);
  world.Pass();  // the reload failed again: not back to back
  EXPECT_FALSE(world.Run().Loader().Running());
  EXPECT_EQ(reloads(), 1);

  // The page comes back: the next reload, ten minutes on, completes.
  ASSERT_TRUE(world.Faults("{}"));
  shift = 22 * 60;
  ASSERT_FALSE(world.Market().AdminPost("clock", R"({"offset_seconds":1320})").empty());
  world.Pass();
  AwaitLoad();
  EXPECT_EQ(reloads(), 2);
  EXPECT_TRUE(world.Run().Schedule().LastLoad().Completed());
  EXPECT_TRUE(world.Unrated().Contains(tid));
  world.Refresh();
  world.Pass();
  EXPECT_FALSE(world.Run().Loader().Running());
  EXPECT_EQ(reloads(), 2);
  world.Machine().Set(nullptr);  // before the clock's variables go
}

// A program left running: trades that finish after the start are loaded by
// the reload of the interval and rated when they fall due; the reload keeps
// the rows it finds (and the user's choice), drops what left both-unrated,
// never runs beside the refresh, and says what it did.
TEST_F(Refresh, TradesThatFinishWhileTheProgramRunsAreReloadedAndRated) {
  const std::string early = world.AddTrade(100, "早买家");
  const std::string gone = world.AddTrade(110, "网页评价");
  world.ChangeSettings([](RunSettings& s) { s.reloadMinutes = 60; });
  ASSERT_TRUE(world.Run().Start());
  AwaitLoad();
  ASSERT_EQ(world.Unrated().RowCount(), 2);
  world.unratedView.SetCurrentRow(world.Unrated().Find(early));
  const int resets = world.unratedView.Resets();
  const std::uint64_t earlySerial = world.Unrated().Row(world.Unrated().Find(early)).serial;

  // After the start: a new trade, and one rated on the platform's own page.
  const std::string later = world.AddTrade(0, "新买家");
  ASSERT_FALSE(test::PostRating(world.Market(), gone, "good", "ok").body.empty());
  // Not yet an hour: a pass starts no reload.
  world.Pass();
  EXPECT_FALSE(world.Run().Loader().Running());

  const double start = world.Clock().Now();
  double shift = 0;
  world.Machine().Set([&] { return start + shift; });
  shift = 61 * 60;  // time passes
  ASSERT_FALSE(world.Market().AdminPost("clock", R"({"offset_seconds":3660})").empty());
  // Slow enough that the reload is still under way when the pass ends.
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.trades.sold.increment.get","latency_ms":400})"));
  world.Pass();
  EXPECT_TRUE(world.Run().Loader().Running());
  world.Refresh();  // waits for the reload's end
  EXPECT_EQ(world.refreshTimer.Interval(), 0);
  AwaitLoad();
  world.Loop().RunPending();
  EXPECT_EQ(test::RatingWorld::Column(world.Unrated(), 0), (std::vector<std::string>{early, later}));
  EXPECT_EQ(world.Unrated().Row(0).serial, earlySerial);
  EXPECT_EQ(world.Unrated().CurrentOrder(), early);
  EXPECT_NE(std::find(world.log.begin(), world.log.end(), "reload: added=1 dropped=1"), world.log.end());
  EXPECT_EQ(world.refreshTimer.Interval(), kRefreshIntervalMs);  // the refresh ran after it
  EXPECT_EQ(world.unratedView.Resets(), resets);                  // the list stayed in place

  // Fourteen days on, the new trade is due and the pass rates it.
  shift = 14 * 86400.0;
  ASSERT_FALSE(world.Market().AdminPost("clock", R"({"offset_seconds":1209600})").empty());
  world.Pass();  // starts the reload of the interval
  AwaitLoad();
  world.Pass();
  EXPECT_EQ(world.RatingPosts(later), 1);
  EXPECT_FALSE(world.Unrated().Contains(later));
  world.Machine().Set(nullptr);  // before the clock's variables go
}

}  // namespace
}  // namespace qm

// The ten-minute refresh and the platform time check against the sandbox.
#include <gtest/gtest.h>

#include "rating/schedule.h"
#include "support/rating_world.h"

namespace qm {
namespace {

class Refresh : public ::testing::Test {
 protected:
  test::RatingWorld world;
  int cacheClears = 0;
  void SetUp() override {
    world.View().clearWebCache = [this] { ++cacheClears; };
    world.View().prompts = &world.prompts;
  }
};

TEST_F(Refresh, RebuildsTheBuyerRatedListAndRearmsAfterTenMinutes) {
  ASSERT_TRUE(world.Market().Ok());
  const std::string rated = world.AddTrade(50, "已评", "good");
  const std::string open = world.AddTrade(60, "未评");
  world.AddUnratedRow(rated, "已评", 50);  // listed at the first load, rated by its buyer since
  world.AddUnratedRow(open, "未评", 60);
  world.buyerRated.Append({{"stale", "old", ""}});
  int intervalDuring = -1;
  world.refreshTimer.SetInterval(kRefreshIntervalMs);
  world.Loop().Post([&] { intervalDuring = world.refreshTimer.Interval(); });

  refresh_cycle();

  EXPECT_EQ(intervalDuring, 0);
  EXPECT_EQ(world.refreshTimer.Interval(), kRefreshIntervalMs);
  ASSERT_EQ(world.buyerRated.RowCount(), 1);
  EXPECT_EQ(world.buyerRated.Cell(0, 0), rated);
  EXPECT_EQ(world.buyerRated.Cell(0, 1), "已评");
  ASSERT_EQ(world.unrated.RowCount(), 1);
  EXPECT_EQ(world.unrated.Cell(0, 0), open);
  EXPECT_EQ(cacheClears, 1);
  EXPECT_EQ(world.exitCode, -1);
  EXPECT_TRUE(world.prompts.History().empty());
}

TEST_F(Refresh, TimeCheckPassesOnlyWithATimeReply) {
  EXPECT_TRUE(check_platform_time());
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","error_rate":1})"));
  EXPECT_FALSE(check_platform_time());
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","reset_rate":1})"));
  EXPECT_FALSE(check_platform_time());
}

TEST_F(Refresh, FailedTimeCheckEndsTheProgramAfterTheMessage) {
  const std::string tid = world.AddTrade(340, "到期");
  world.AddUnratedRow(tid, "到期", 340);
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","error_rate":1})"));
  // The box is answered before the exit is asked for.
  auto* prompts = &world.prompts;
  struct Recording : Prompts {
    Prompts* inner;
    std::vector<std::string>* events;
    void Information(const std::string& title, const std::string& text) override {
      events->push_back("box:" + title + "|" + text);
      inner->Information(title, text);
    }
    bool Question(const std::string& t, const std::string& x) override { return inner->Question(t, x); }
    std::optional<std::string> Input(const std::string& t, const std::string& l, const std::string& i) override {
      return inner->Input(t, l, i);
    }
  } recording;
  recording.inner = prompts;
  recording.events = &world.events;
  world.View().prompts = &recording;

  refresh_cycle();

  ASSERT_EQ(world.events.size(), 2u);
  EXPECT_EQ(world.events[0], "box:连接淘宝API服务器失败|淘宝API服务端出问题了，程序将关闭。");
  EXPECT_EQ(world.events[1], "exit:0");
  EXPECT_EQ(world.refreshTimer.Interval(), 0);
  EXPECT_EQ(cacheClears, 0);
  // Nothing runs on after the end was asked for.
  world.Faults("{}");
  RunAutoRatingPass();
  EXPECT_EQ(world.autoTimer.Interval(), 0);
  EXPECT_TRUE(world.Ratings().empty());
  EXPECT_TRUE(ScheduleStopped());
}

}  // namespace
}  // namespace qm

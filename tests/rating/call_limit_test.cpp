// The key's calls of the day used up while the run works: the run waits for
// the platform's next day without failing a page or refusing a rating, says
// so once, and goes on by itself. Against the sandbox's quota, on a clock the
// test moves for the program and the sandbox alike.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/platform_time.h"
#include "rating/rating_stats.h"
#include "support/rating_world.h"

namespace qm {
namespace {

class DailyCallLimit : public test::ClockedWorldTest {
 protected:
  int Lines(const std::string& prefix) const {
    return static_cast<int>(std::count_if(world.log.begin(), world.log.end(),
                                          [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }
  int Refusals() {
    return nlohmann::json::parse(world.Market().AdminGet("quota"))["daily_refusals"].get<int>();
  }
  // The requests the sandbox saw from the program (its admin interface aside).
  int PlatformRequests() {
    int n = 0;
    for (const auto& e : nlohmann::json::parse(world.Market().AdminGet("log")))
      if (e.value("path", "").rfind("/__sandbox", 0) != 0) ++n;
    return n;
  }
  // The run's requests of each of the last `days` days, as the statistics read them.
  std::vector<int> RequestsPerDay(int days) {
    std::vector<int> out;
    for (const DayFigures& f : DailyFigures(world.Run().Log(), days)) out.push_back(f.requests);
    return out;
  }
  void RunFor(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) world.Loop().WaitAndRun(std::chrono::milliseconds(20));
  }
};

TEST_F(DailyCallLimit, TheRunWaitsForTheNextDaySaysSoOnceAndGoesOnByItself) {
  // A minute past the platform's next midnight.
  const double jump = 86400 - std::fmod(start + kPlatformUtcOffsetSeconds, 86400) + 60;
  const int hours = static_cast<int>(std::ceil(jump / 3600));
  // Due just after midnight: about 340 hours old by then.
  const std::string due = world.AddTrade(340 - hours, "午夜买家");
  const std::string later = world.AddTrade(100, "未到期");
  world.Market().AdminPost("quota", R"({"daily_limit":50})");
  world.Market().AdminPost("quota", R"({"spent_today":50})");

  ASSERT_TRUE(world.Run().Start());
  RunFor(1500);
  // Both listings met the limit once; while it holds nothing more goes out.
  ASSERT_EQ(Lines("quota: the application's calls of the day are used up"), 1);
  EXPECT_EQ(Lines("status: 应用今日的调用次数已用完，等到 " +
                  FormatPlatformTime(static_cast<std::int64_t>(start + jump - 60)).substr(5, 5)),
            1);
  const int refusals = Refusals();
  EXPECT_GE(refusals, 1);
  EXPECT_LE(refusals, 2);
  RunFor(1000);
  EXPECT_EQ(Refusals(), refusals);
  EXPECT_EQ(Lines("orders loaded"), 0);
  EXPECT_EQ(Lines("load: incomplete"), 0);

  // The platform's next day: the load, its refresh and its pass go on by themselves.
  MoveClocks(jump);
  world.AwaitLoad();
  EXPECT_EQ(Lines("load: incomplete"), 0);
  EXPECT_EQ(Lines("orders loaded: unrated=2"), 1);
  EXPECT_EQ(Lines("rating order=" + due + " buyer=午夜买家 result=good outcome=rated"), 1);
  EXPECT_EQ(Lines("rating order=" + later), 0);
  EXPECT_EQ(Lines("quota: "), 1);
  EXPECT_EQ(Refusals(), refusals);
  ASSERT_EQ(world.Ratings().size(), 1u);
  EXPECT_EQ(world.Ratings()[0].tid, due);
  // The day's requests count from its midnight: the two listings, the
  // refresh's listing and time check, the buyer's question and the post at least.
  const auto refresh = std::find_if(world.log.begin(), world.log.end(),
                                    [](const std::string& l) { return l.rfind("refresh: buyer-rated=", 0) == 0; });
  ASSERT_NE(refresh, world.log.end());
  const long today = std::stol(refresh->substr(refresh->find("requests-today=") + 15));
  EXPECT_GE(today, 4);
  EXPECT_LE(today, 12);
}

// Each platform day's requests are kept in the rating log as the run makes
// them: every request the platform saw, on its own day, also across a
// restart of the program.
TEST_F(DailyCallLimit, EachDaysRequestsAreKeptInTheLogAcrossARestartAndAMidnight) {
  // An hour before the platform's next midnight.
  const double toMidnight = 86400 - std::fmod(start + kPlatformUtcOffsetSeconds, 86400);
  MoveClocks(toMidnight - 3600);
  world.AddTrade(340, "到期买家");
  world.AddTrade(100, "未到期");
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  const int first = PlatformRequests();
  ASSERT_GE(first, 3);  // the listings, the time check, the post
  EXPECT_EQ(RequestsPerDay(2), (std::vector<int>{0, first}));

  // A restart reads on from what the file holds.
  world.Restart();
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  const int both = PlatformRequests();
  ASSERT_GT(both, first);
  EXPECT_EQ(RequestsPerDay(2), (std::vector<int>{0, both}));

  // Past midnight the requests count for the new day.
  MoveClocks(toMidnight + 60);
  world.Refresh();
  world.AwaitLoad();
  const int all = PlatformRequests();
  ASSERT_GT(all, both);
  EXPECT_EQ(RequestsPerDay(3), (std::vector<int>{0, both, all - both}));
  // The CSV carries them in its last column.
  EXPECT_NE(DailyFiguresCsv(DailyFigures(world.Run().Log(), 2)).find("," + std::to_string(all - both) + "\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace qm

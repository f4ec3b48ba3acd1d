// The platform's call limits against the runner as a process: the sandbox
// turns calls away as the platform does ("App Call Limited"), and the runner
// waits them out, says so once and goes on, without a refused rating, an
// incomplete listing or a refused session.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <ctime>
#include <string>
#include <vector>

#include "headless/runner.h"
#include "support/headless_process.h"
#include "support/runner_fixture.h"
#include "support/sandbox_calls.h"

namespace qm {
namespace {

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

class RunnerQuota : public test::RunnerWorldTest {
 protected:
  std::vector<std::string> Args(bool once) {
    std::vector<std::string> a = {"--account", nick, "--data-dir", world.Dir().str(), "--platform",
                                  world.Market().BaseUrl()};
    if (once) a.push_back("--once");
    return a;
  }
  nlohmann::json Quota(const nlohmann::json& options) {
    return nlohmann::json::parse(world.Market().AdminPost("quota", options.dump()));
  }
  nlohmann::json Counts() { return nlohmann::json::parse(world.Market().AdminGet("quota")); }
};

TEST_F(RunnerQuota, ABanOfOneMethodIsWaitedOutAndSaidOnceWithoutAFailedPageOrARefusedRating) {
  const auto due = world.AddTrades({{340, "到期甲"}, {350, "到期乙"}});
  world.AddTrade(200, "已评买家", "good");
  // The listings are banned for three seconds from now; both sides meet it at once.
  Quota({{"ban_every_seconds", 3600}, {"ban_seconds", 3}, {"ban_method", "taobao.trades.sold.get"}});
  const test::HeadlessRun listed = test::RunHeadless(Args(true));
  EXPECT_EQ(listed.exitCode, kExitOk) << listed.output;
  EXPECT_EQ(Count(listed.output, "quota: "), 1) << listed.output;
  EXPECT_EQ(Count(listed.output, "quota: the platform banned taobao.trades.sold.get for a while; waiting "), 1);
  EXPECT_EQ(Count(listed.output, "status: 平台暂停了 taobao.trades.sold.get 的调用"), 1) << listed.output;
  EXPECT_EQ(listed.output.find("incomplete"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("orders loaded: unrated=2"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("refresh: buyer-rated=1 unrated=2 platform=ok requests-today="), std::string::npos);
  for (const std::string& tid : due)
    EXPECT_NE(listed.output.find("rating order=" + tid), std::string::npos) << listed.output;
  EXPECT_EQ(Count(listed.output, "outcome=rated"), 2) << listed.output;
  // Once met, the ban held the other calls of the method back instead of
  // spending them: one refusal per listing under way, no more.
  const nlohmann::json afterListing = Counts();
  EXPECT_GE(afterListing["ban_refusals"].get<int>(), 1);
  EXPECT_LE(afterListing["ban_refusals"].get<int>(), 2);

  // The rating form banned: the post goes again after the wait and is rated, never refused.
  const auto later = world.AddTrades({{345, "到期丙"}});
  Quota({{"ban_every_seconds", 3600}, {"ban_seconds", 3}, {"ban_method", "taobao.traderate.list.add"}});
  const test::HeadlessRun posted = test::RunHeadless(Args(true));
  EXPECT_EQ(posted.exitCode, kExitOk) << posted.output;
  EXPECT_EQ(Count(posted.output, "quota: the platform banned taobao.traderate.list.add"), 1) << posted.output;
  EXPECT_NE(posted.output.find("rating order=" + later[0] + " buyer=到期丙 result=good outcome=rated"),
            std::string::npos)
      << posted.output;
  EXPECT_EQ(posted.output.find("outcome=refused"), std::string::npos) << posted.output;
  EXPECT_EQ(world.RatingPosts(later[0]), 2);  // the one turned away, and the one taken
  EXPECT_EQ(world.Ratings().size(), 3u);
}

TEST_F(RunnerQuota, TheDaysCallsUsedUpAreAWaitThatAStopEndsNeverARefusedSession) {
  world.AddTrades({{340, "到期甲"}});
  // The key's calls of the day are spent (by other shops on the same key)
  // but one: the start's session check takes it, the first load meets the limit.
  Quota({{"daily_limit", 4}});
  world.Market().AdminPost("quota", R"({"spent_today":3})");
  const test::HeadlessRun run = test::RunHeadless(Args(false), {}, 4000);
  EXPECT_EQ(run.exitCode, kExitOk) << run.output;
  EXPECT_EQ(Count(run.output, "quota: the application's calls of the day are used up"), 1) << run.output;
  EXPECT_NE(run.output.find("status: 应用今日的调用次数已用完，等到 "), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("incomplete"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("refused"), std::string::npos) << run.output;
  EXPECT_TRUE(world.Ratings().empty());
  // Each listing under way meets the limit once, then waits.
  EXPECT_GE(Counts()["daily_refusals"].get<int>(), 1);
  EXPECT_LE(Counts()["daily_refusals"].get<int>(), 2);
}

TEST_F(RunnerQuota, TheSandboxCountsAKeysCallsOfTheDayAndBansOneMethodAsThePlatformAnswers) {
  const auto due = world.AddTrades({{340, "到期甲"}});
  Quota({{"daily_limit", 3}});
  // The gateway and the rating form count alike; a call past the limit is not carried out.
  EXPECT_NE(test::Gateway(world.Market(), "taobao.time.get", {}).body.find("<time_get_response>"), std::string::npos);
  EXPECT_NE(test::SoldPage(world.Market(), "RATE_UNSELLER", 1).body.find("<has_next>"), std::string::npos);
  EXPECT_NE(test::PostRating(world.Market(), due[0], "good", "ok").body.find("<tid>" + due[0] + "</tid>"),
            std::string::npos);
  const std::string limited = test::Gateway(world.Market(), "taobao.time.get", {}).body;
  EXPECT_NE(limited.find("<code>7</code><msg>App Call Limited</msg>"
                         "<sub_code>accesscontrol.limited-by-app-access-count</sub_code>"),
            std::string::npos)
      << limited;
  // The ban lasts until the platform's midnight (Beijing time).
  const std::time_t now = std::time(nullptr);
  const long toMidnight = 86400 - (now + 8 * 3600) % 86400;
  const std::size_t at = limited.find("This ban will last for ");
  ASSERT_NE(at, std::string::npos) << limited;
  EXPECT_NEAR(std::stol(limited.substr(at + 23)), toMidnight, 5);
  EXPECT_NE(test::PostRating(world.Market(), due[0], "good", "ok").body.find("App Call Limited"), std::string::npos);
  nlohmann::json counts = Counts();
  EXPECT_EQ(counts["calls_today"], 3);
  EXPECT_EQ(counts["daily_refusals"], 2);

  // A ban of one method: the others go through, the banned one says how long is left.
  Quota({{"daily_limit", 0}, {"ban_every_seconds", 3600}, {"ban_seconds", 100}, {"ban_method", "taobao.time.get"}});
  EXPECT_NE(test::SoldPage(world.Market(), "RATE_UNSELLER", 1).body.find("<has_next>"), std::string::npos);
  const std::string banned = test::Gateway(world.Market(), "taobao.time.get", {}).body;
  EXPECT_NE(banned.find("<sub_code>accesscontrol.limited-by-api-access-count</sub_code>"), std::string::npos) << banned;
  const std::size_t left = banned.find("This ban will last for ");
  ASSERT_NE(left, std::string::npos);
  EXPECT_NEAR(std::stol(banned.substr(left + 23)), 100, 3);
  counts = Counts();
  EXPECT_EQ(counts["bans"], 1);
  EXPECT_EQ(counts["ban_refusals"], 1);
  // Refused options are refused whole.
  EXPECT_TRUE(world.Market().AdminPost("quota", R"({"ban_seconds":5,"daily_limit":-1})").empty());
  EXPECT_EQ(Counts()["ban_seconds"], 100);
}

}  // namespace
}  // namespace qm

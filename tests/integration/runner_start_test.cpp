// The runner's start against the sandbox when the platform is in trouble or
// its clock disagrees with the machine's: nothing of that is a refused key.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "headless/runner.h"
#include "support/headless_process.h"
#include "support/runner_fixture.h"

namespace qm {
namespace {

class RunnerStart : public test::RunnerWorldTest {
 protected:
  test::HeadlessRun Once() {
    return test::RunHeadless(
        {"--account", nick, "--data-dir", world.Dir().str(), "--platform", world.Market().BaseUrl(), "--once"});
  }
  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
};

// The platform's clock runs a day ahead of the machine's (the machine's was
// set back a day): the session is confirmed, nothing is refused for its
// timestamp, and the order due by the platform's clock is rated now, not a
// day late.
TEST_F(RunnerStart, AMachineClockADayBehindNeitherDelaysRatingsNorGetsRefused) {
  // Hours by the machine's clock: 316.5 and 290.5 ago are 340.5 and 314.5 by the platform's.
  const std::string due = world.AddTrade(316, "钟慢到期");
  const std::string later = world.AddTrade(290, "钟慢未到期");
  ASSERT_FALSE(world.Market().AdminPost("clock", R"({"offset_seconds":86400})").empty());

  const test::HeadlessRun run = Once();

  EXPECT_EQ(run.exitCode, kExitOk) << run.output;
  EXPECT_EQ(run.output.find("did not confirm"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("rating order=" + due + " buyer=钟慢到期 result=good outcome=rated"), std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("rating order=" + later), std::string::npos) << run.output;
  ASSERT_EQ(world.Ratings().size(), 1u);
  EXPECT_EQ(world.Ratings()[0].tid, due);
}

// A call limit, the platform's own time-out, a gateway's error element, a
// portal's page and a reply cut off on the way, each at the session check:
// the runner says so once, waits, and goes on by itself to rate what is due.
// A refused key still ends the start.
TEST_F(RunnerStart, TroubleAtTheStartIsWaitedOutNotTakenForARefusedKey) {
  const std::string due = world.AddTrade(345, "等过再评");
  struct Case {
    nlohmann::json fault;
    std::string said;
  };
  const std::vector<Case> cases = {
      {{{"reply_body",
         "<error_response><code>7</code><msg>App Call Limited</msg><sub_code>accesscontrol.limited-by-app-access-count"
         "</sub_code><sub_msg>This ban will last for 71 more seconds</sub_msg></error_response>"},
        {"first_n", 2}},
       "trouble of its own: App Call Limited (accesscontrol.limited-by-app-access-count)"},
      {{{"reply_body",
         "<error_response><code>15</code><msg>Remote service error</msg><sub_code>isp.remote-service-timeout</sub_code>"
         "<user_id>1</user_id></error_response>"},
        {"first_n", 1}},
       "trouble of its own: Remote service error (isp.remote-service-timeout)"},
      {{{"reply_body", "<?xml version=\"1.0\"?><error_response><code>502</code><msg>Bad Gateway</msg></error_response>"},
        {"first_n", 1}},
       "trouble of its own: Bad Gateway"},
      {{{"reply_body", "<html><head><title>上网认证</title></head><body><form action=\"/portal\">请登录</form></body></html>"},
        {"first_n", 1}},
       "the platform cannot be reached"},
      {{{"truncate_rate", 1}, {"first_n", 1}}, "the platform cannot be reached"},
  };
  for (const Case& c : cases) {
    nlohmann::json fault = c.fault;
    fault["path"] = "/router/rest";
    fault["api_method"] = "taobao.user.seller.get";
    ASSERT_FALSE(world.Market().AdminPost("faults", fault.dump()).empty());

    const test::HeadlessRun run = Once();

    EXPECT_EQ(run.exitCode, kExitOk) << run.output;
    EXPECT_EQ(Count(run.output, "going on by itself"), 1) << run.output;
    EXPECT_EQ(Count(run.output, c.said), 1) << c.said << "\n" << run.output;
    EXPECT_NE(run.output.find("start: seller "), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("did not confirm"), std::string::npos) << run.output;
    world.Faults("{}");
  }
  ASSERT_EQ(world.Ratings().size(), 1u);
  EXPECT_EQ(world.Ratings()[0].tid, due);

  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.user.seller.get","refuse_rate":1,"first_n":1})"));
  const test::HeadlessRun refused = Once();
  EXPECT_EQ(refused.exitCode, kExitSessionRefused) << refused.output;
  EXPECT_EQ(refused.output.find("going on by itself"), std::string::npos) << refused.output;
}

}  // namespace
}  // namespace qm

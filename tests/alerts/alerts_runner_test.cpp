// The runner's side of the alerts, as a seller runs it against the sandbox
// marketplace: a bad buyer rating found by the run reaches the chats while
// the due orders are rated, and --test-alert says what each place answered.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "headless/runner.h"
#include "receivers.h"
#include "support/headless_process.h"
#include "support/runner_fixture.h"
#include "settings/profile.h"

namespace qm {
namespace {

using Json = nlohmann::json;

class RunnerAlerts : public test::RunnerWorldTest {
 protected:
  test::RobotReceiver robots;

  // Sets keys of the seller's section ("key=value" lines), as a person editing the file would.
  void AddSettings(const std::string& lines) {
    std::size_t at = 0;
    for (std::size_t end; (end = lines.find("\r\n", at)) != std::string::npos; at = end + 2) {
      const std::string line = lines.substr(at, end - at);
      const std::size_t eq = line.find('=');
      ASSERT_TRUE(WriteProfileString(world.Dir().File("Config.ini"), nick, line.substr(0, eq), line.substr(eq + 1)));
    }
  }
  test::HeadlessRun Run(const std::string& command) {
    return test::RunHeadless({"--account", nick, "--data-dir", world.Dir().str(), "--platform",
                              world.Market().BaseUrl(), command});
  }
};

// Where the line (after its time) that starts with `start` is in the output.
std::size_t LineAt(const std::string& output, const std::string& start) { return output.find(" " + start); }

TEST_F(RunnerAlerts, ABadBuyerRatingReachesTheChatsWhileTheDueOrdersAreRated) {
  const std::string due = world.AddTrade(350, "甲");
  const std::string bad = world.AddTrade(210, "坏买家");
  const std::string hostile = "<a href=\"http://x.cn\">退款</a>\n买家：假的";
  ASSERT_FALSE(world.Market().AdminPost("buyer-rate", Json{{"tid", bad}, {"result", "bad"}, {"content", hostile}}.dump())
                   .empty());
  // The robot answers only after a while; the rating does not wait for it.
  robots.Stall("/robot/send", 3000);
  AddSettings("钉钉机器人=" + robots.Base() + "/robot/send?access_token=tok-42\r\n钉钉加签密钥=SEC-very-secret\r\n" +
              "提醒网址=" + robots.Base() + "/hook\r\n");

  const test::HeadlessRun run = Run("--once");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  const std::size_t rated = LineAt(run.output, "rating order=" + due + " buyer=甲 result=good outcome=rated");
  const std::size_t robot = LineAt(run.output, "notify: order=" + bad + " sent to dingtalk");
  ASSERT_NE(rated, std::string::npos) << run.output;
  ASSERT_NE(robot, std::string::npos) << run.output;
  EXPECT_LT(rated, robot) << run.output;
  EXPECT_NE(LineAt(run.output, "notify: order=" + bad + " sent to webhook"), std::string::npos) << run.output;
  // Neither the secret nor the robot's token is ever printed.
  EXPECT_EQ(run.output.find("SEC-very-secret"), std::string::npos);
  EXPECT_EQ(run.output.find("tok-42"), std::string::npos);

  const auto hook = robots.Arrivals("/hook");
  ASSERT_EQ(hook.size(), 1u);
  const Json doc = Json::parse(hook[0].body);
  EXPECT_EQ(doc.at("order"), bad);
  EXPECT_EQ(doc.at("buyer"), "坏买家");
  EXPECT_EQ(doc.at("comment"), hostile);
  EXPECT_EQ(doc.at("shop"), nick);
  const auto ding = robots.Arrivals("/robot/send");
  ASSERT_EQ(ding.size(), 1u);
  const std::string content = Json::parse(ding[0].body).at("text").at("content");
  EXPECT_NE(content.find("\n评语：<a href=\"http[:]//x[.]cn\">退款</a> 买家：假的\n"), std::string::npos) << content;

  // The next run knows both were sent and sends nothing again.
  const test::HeadlessRun again = Run("--once");
  EXPECT_EQ(again.exitCode, 0) << again.output;
  EXPECT_EQ(again.output.find("notify:"), std::string::npos) << again.output;
  EXPECT_EQ(robots.Arrivals("/hook").size(), 1u);
}

TEST_F(RunnerAlerts, TestAlertSaysWhatEachPlaceAnswered) {
  test::HeadlessRun run = Run("--test-alert");
  EXPECT_EQ(run.exitCode, kExitAlertNotDelivered) << run.output;
  EXPECT_NE(run.output.find("test-alert: no place to send alerts to is set"), std::string::npos) << run.output;

  AddSettings("提醒网址=" + robots.Base() + "/hook\r\n企业微信机器人=http://127.0.0.1:" +
              std::to_string(test::ClosedPort()) + "/cgi-bin/webhook/send?key=wc-secret\r\n");
  run = Run("--test-alert");
  EXPECT_EQ(run.exitCode, kExitAlertNotDelivered) << run.output;
  EXPECT_NE(run.output.find("test-alert: webhook delivered"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("test-alert: wecom not delivered: 无法连接"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("wc-secret"), std::string::npos);
  ASSERT_EQ(robots.Arrivals("/hook").size(), 1u);
  const Json doc = Json::parse(robots.Arrivals("/hook")[0].body);
  EXPECT_EQ(doc.at("kind"), "test");
  EXPECT_NE(doc.at("text").get<std::string>().find("测试提醒"), std::string::npos);

  AddSettings("企业微信机器人=\r\n");
  run = Run("--test-alert");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(robots.Arrivals("/hook").size(), 2u);
}

}  // namespace
}  // namespace qm

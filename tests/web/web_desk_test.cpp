// The web page's alert settings and statistics through the desk the server
// calls: a save goes to Config.ini and to the running outbox as the desktop's
// window saves; what a hostile or broken request holds is refused without a
// byte of Config.ini changing.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <future>
#include <string>

#include "alerts/alert_outbox.h"
#include "alerts/alert_settings.h"
#include "support/rating_world.h"
#include "web/web_desk.h"

namespace qm {
namespace {

using json = nlohmann::json;

class WebDeskAlerts : public ::testing::Test {
 protected:
  test::RatingWorld world;
  AlertOutbox outbox{world.Loop(), world.Clock(), "shop", {}, [](const AlertEvent&) {}, {}};
  WebDesk desk{world.Run(), world.unratedView, world.buyerRatedView, world.Loop(), &outbox};
  const std::string nick = world.Run().RunAccount().sellerNick;

  // The action's reply, waited for (a test alert answers from its own thread).
  json Act(const std::string& action, const json& args) { return Act(action, args.dump()); }
  json Act(const std::string& action, const std::string& args) {
    auto reply = std::make_shared<std::promise<std::string>>();
    desk.Act(action, args, [reply](const std::string& text) { reply->set_value(text); });
    std::future<std::string> answer = reply->get_future();
    EXPECT_EQ(answer.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    return json::parse(answer.get());
  }
  std::string Config() { return test::ReadFileBytes(world.Dir().File("Config.ini")); }

  static json Form() {
    return {{"dingTalkUrl", " https://oapi.dingtalk.com/robot/send?access_token=t "},
            {"dingTalkSecret", " SEC-kept-secret "},
            {"weComUrl", ""},
            {"webhookUrl", "http://127.0.0.1:9/hook"},
            {"mailServer", "smtp.example.com:465"},
            {"mailUser", "shop@example.com"},
            {"mailPassword", "mail-pass-word"},
            {"mailFrom", ""},
            {"mailTo", "boss@example.com"},
            {"summaryHour", 21}};
  }
};

TEST_F(WebDeskAlerts, WhatCannotBeStoredOrSentIsRefusedAndNothingIsWritten) {
  ASSERT_TRUE(Act("alert-settings", Form())["ok"]);
  const std::string before = Config();
  const AlertSettings stored = ReadAlertSettings(world.Dir().str(), nick);
  ASSERT_EQ(stored.dingTalkSecret, " SEC-kept-secret ");  // a secret is taken as typed
  // The running outbox sends with them at once.
  ASSERT_EQ(outbox.Settings(), stored);

  auto refused = [&](const std::string& action, const std::string& args, const std::string& says) {
    const json reply = Act(action, args);
    EXPECT_FALSE(reply["ok"]) << args;
    EXPECT_NE(reply["message"].get<std::string>().find(says), std::string::npos) << reply.dump();
    EXPECT_EQ(Config(), before) << args;
  };
  auto with = [](const char* key, const json& value) {
    json form = Form();
    form[key] = value;
    return form.dump();
  };
  refused("alert-settings", "{not json", "格式不对");
  refused("alert-settings", "[]", "格式不对");
  refused("alert-settings", R"({"dingTalkUrl":""})", "格式不对");
  refused("alert-settings", with("summaryHour", "21"), "格式不对");
  refused("alert-settings", with("summaryHour", 24), "格式不对");
  refused("alert-settings", with("clearMailPassword", "yes"), "格式不对");
  refused("alert-settings", with("webhookUrl", "javascript:alert(1)"), "提醒网址");
  refused("alert-settings", with("dingTalkUrl", "https://x.example/a b"), "钉钉机器人");
  // A line break would start a section of its own in Config.ini, also in a
  // box that counts only with a mail server.
  json noMail = Form();
  for (const char* key : {"mailServer", "mailTo"}) noMail[key] = "";
  noMail["mailFrom"] = "a@b.c\r\n[other]\r\nAppSecret=x";
  refused("alert-settings", noMail.dump(), "控制字符");
  refused("alert-settings", with("mailPassword", "pass\nword"), "控制字符");
  refused("alert-settings", with("mailTo", "boss@example.com, <evil>"), "不是有效的邮件地址");
  refused("alert-settings", with("mailUser", std::string(100000, 'x') + "\x01"), "控制字符");
  // A byte that is not UTF-8 has been replaced on its way; what no code page can hold is refused.
  refused("alert-settings", with("webhookUrl", "https://example.com/\xF0\x9F\x98\x80"), "无法保存");
  EXPECT_EQ(ReadAlertSettings(world.Dir().str(), nick), stored);
  EXPECT_EQ(outbox.Settings(), stored);

  // A test alert needs somewhere to go, and usable settings; nothing is saved by it.
  json nowhere = Form();
  for (const char* key : {"dingTalkUrl", "webhookUrl", "mailServer", "mailTo"}) nowhere[key] = "";
  refused("alert-test", nowhere.dump(), "至少一个");
  refused("alert-test", with("webhookUrl", "ftp://example.com/"), "提醒网址");
}

TEST_F(WebDeskAlerts, TheStatisticsHoldEveryDayOfTheRange) {
  const std::string day = test::PlatformTimeAgo(world.Clock(), 0).substr(0, 10);
  ASSERT_TRUE(world.Run().Log().AddRequests({{day, 17}}));
  const json days = json::parse(desk.Stats(90));
  ASSERT_EQ(days.size(), 90u);
  EXPECT_EQ(days.back()["day"], day);
  EXPECT_EQ(days.back()["requests"], 17);
  EXPECT_EQ(days.front()["requests"], 0);
  const std::string csv = desk.StatsCsv(30);
  EXPECT_NE(csv.find("\r\n" + day + ",0,0,0,0,0,0,17\r\n"), std::string::npos) << csv;
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

using json = nlohmann::json;

// The page's questions: an action that asks returns at once and goes on
// when the page answers, while the run carries on meanwhile; a cancel, or a
// run that ends first, posts nothing.
TEST(WebDeskQuestions, AnActionGoesOnFromItsAnswerAndTheRunIsNeverHeld) {
  test::RatingWorld world;
  WebDesk desk{world.Run(), world.unratedView, world.buyerRatedView, world.Loop(), nullptr};
  desk.Attach(world.View());
  const std::string a = world.AddTrade(100, "甲");
  const std::string b = world.AddTrade(100, "乙");
  const std::string due = world.AddTrade(15 * 24 - 2, "丙");  // past the lead time: the pass rates it
  world.AddUnratedRow(a, "甲", 100);
  world.AddUnratedRow(b, "乙", 100);
  world.AddUnratedRow(due, "丙", 15 * 24 - 2);
  json reply;
  const auto act = [&](const std::string& action, const json& args) {
    reply = nullptr;
    desk.Act(action, args.dump(), [&](const std::string& text) { reply = json::parse(text); });
    return reply;
  };
  const auto question = [&] { return json::parse(desk.State())["question"]; };

  EXPECT_EQ(act("rate", {{"tid", a}}).value("ok", false), true);
  const json asked = question();
  ASSERT_TRUE(asked.is_object());
  EXPECT_NE(asked["text"].get<std::string>().find(a), std::string::npos);
  // The question waits; the refresh and the pass run and rate what is due,
  // not the order asked about.
  world.Refresh();
  world.Pass();
  world.AwaitQuiet();
  EXPECT_EQ(world.RatingPosts(due), 1);
  EXPECT_EQ(world.RatingPosts(a), 0);
  EXPECT_EQ(act("rate", {{"tid", b}})["message"], "请先回答页面上的问题。");
  EXPECT_EQ(act("question", {{"id", asked["id"]}, {"ok", true}}).value("ok", false), true);
  EXPECT_TRUE(question().is_null());
  world.AwaitQuiet();
  EXPECT_EQ(world.RatingPosts(a), 1);
  EXPECT_FALSE(world.Unrated().Contains(a));
  EXPECT_EQ(act("question", {{"id", asked["id"]}, {"ok", true}})["message"], "这个问题已经不在了。");

  // 取消 posts nothing; nor does a question the end of the run leaves unanswered.
  act("rate", {{"tid", b}});
  act("question", {{"id", question()["id"]}, {"ok", false}});
  act("rate", {{"tid", b}});
  ASSERT_TRUE(question().is_object());
  desk.Close();
  world.AwaitQuiet();
  EXPECT_EQ(world.RatingPosts(b), 0);
  EXPECT_TRUE(world.Unrated().Contains(b));
  EXPECT_TRUE(question().is_null());
}

}  // namespace
}  // namespace qm

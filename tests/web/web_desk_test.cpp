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
  AlertOutbox outbox{world.Loop(), "shop", {}, [](const AlertEvent&) {}, {}};
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
  const std::string day = test::PlatformTimeAgo(0).substr(0, 10);
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

// Alerts on their way to the seller's phone and chats, against local
// receivers on loopback: what each robot, the webhook and the mail server
// receive, the DingTalk signature, plain text for a hostile comment, retries
// that lose nothing, a restart in between, and the daily summary.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "alerts/alert_outbox.h"
#include "platform/platform_time.h"
#include "rating/rating_log.h"
#include "receivers.h"
#include "support/temp_dir.h"
#include "util/event_loop.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// Markup, a link, a mention, line breaks and a line that poses as the alert's own.
const std::string kHostile = "<b>差</b> [点我](http://evil.example.com/x) @all\n订单：999\r\n\xE2\x80\xAE" "第三行";

std::string SignOf(const std::string& timestamp, const std::string& secret) {
  const std::string data = timestamp + "\n" + secret;
  unsigned char mac[32];
  unsigned int length = 0;
  HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()), reinterpret_cast<const unsigned char*>(data.data()),
       data.size(), mac, &length);
  unsigned char b64[64] = {};
  EVP_EncodeBlock(b64, mac, static_cast<int>(length));
  return reinterpret_cast<char*>(b64);
}

// The body of the robots' text message, checked to be one.
std::string RobotContent(const test::Arrival& a) {
  const Json body = Json::parse(a.body);
  EXPECT_EQ(body.at("msgtype"), "text");
  EXPECT_EQ(body.size(), 2u) << "nothing but the plain text message: " << a.body;
  EXPECT_NE(a.contentType.find("application/json"), std::string::npos);
  return body.at("text").at("content").get<std::string>();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  lines.push_back(text.substr(at));
  return lines;
}

class Alerts : public ::testing::Test {
 protected:
  test::TempDir dir;
  // The platform's time the outbox reads: the machine's until a test sets `now`.
  double now = 0;
  PlatformClock clock{[this] { return now > 0 ? now : PlatformClock().Local(); }, {}};
  EventLoop loop;
  test::RobotReceiver robots;
  std::vector<AlertEvent> events;
  std::string logPath = dir.File("shop的评价记录.db");

  void SetUp() override {
    RatingLog log(clock);  // the run makes the log's own tables first
    ASSERT_TRUE(log.Open(logPath));
  }

  std::unique_ptr<AlertOutbox> Outbox(const AlertSettings& settings, std::vector<int> pauses, int timeout = 5) {
    auto outbox = std::make_unique<AlertOutbox>(
        loop, clock, "店铺一号", settings, [this](const AlertEvent& e) { events.push_back(e); },
        AlertOutbox::Options{std::move(pauses), timeout});
    std::string why;
    EXPECT_TRUE(outbox->Open(logPath, &why)) << why;
    return outbox;
  }
  int Count(AlertEvent::Kind kind, Destination d) const {
    int n = 0;
    for (const AlertEvent& e : events) n += e.kind == kind && e.destination == d;
    return n;
  }
  template <class Done>
  void RunUntil(Done done, std::chrono::milliseconds limit = 20s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) loop.WaitAndRun(20ms);
  }
};

TEST_F(Alerts, EachPlaceGetsTheAlertAsPlainTextTheRobotSignedAndTheMailWhole) {
  test::SmtpReceiver smtp;
  AlertSettings s;
  s.dingTalkUrl = robots.Base() + "/robot/send?access_token=tok";
  s.dingTalkSecret = "SECsecret";
  s.weComUrl = robots.Base() + "/cgi-bin/webhook/send?key=k";
  s.webhookUrl = robots.Base() + "/hook";
  s.mailServer = "127.0.0.1:" + std::to_string(smtp.Port());
  s.mailUser = "shop@example.com";
  s.mailPassword = "pass word";
  s.mailTo = "a@example.com; b@example.com";
  ASSERT_EQ(AlertSettingsProblem(s), "");
  auto outbox = Outbox(s, {100});
  outbox->Raise({"1001", "坏买家", "bad", kHostile, "2026-12-10 10:00:00"});
  EXPECT_EQ(outbox->Pending(), 4);
  RunUntil([&] { return events.size() >= 4; });
  for (Destination d : {Destination::DingTalk, Destination::WeCom, Destination::Webhook, Destination::Mail})
    EXPECT_EQ(Count(AlertEvent::Kind::Sent, d), 1) << DestinationKey(d);
  EXPECT_EQ(outbox->Pending(), 0);

  // DingTalk: the token kept, a timestamp of now in milliseconds and its signature.
  const auto ding = robots.Arrivals("/robot/send");
  ASSERT_EQ(ding.size(), 1u);
  ASSERT_EQ(ding[0].params.count("timestamp"), 1u);
  const std::string timestamp = ding[0].params.find("timestamp")->second;
  const auto nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_LT(std::llabs(std::stoll(timestamp) - nowMs), 60000);
  EXPECT_EQ(ding[0].params.find("sign")->second, SignOf(timestamp, "SECsecret"));
  EXPECT_EQ(ding[0].params.find("access_token")->second, "tok");

  // The same seven plain lines to both robots; the comment stays on its own line.
  const std::string content = RobotContent(ding[0]);
  const auto wecom = robots.Arrivals("/cgi-bin/webhook/send");
  ASSERT_EQ(wecom.size(), 1u);
  EXPECT_EQ(RobotContent(wecom[0]), content);
  const auto lines = Lines(content);
  ASSERT_EQ(lines.size(), 7u) << content;
  EXPECT_EQ(lines[1], "店铺：店铺一号");
  EXPECT_EQ(lines[2], "订单：1001");
  EXPECT_EQ(lines[3], "买家：坏买家");
  EXPECT_EQ(lines[4], "评价：差评");
  EXPECT_EQ(lines[5], "评语：<b>差</b> [点我](http[:]//evil[.]example[.]com/x) ＠all 订单：999 第三行");
  EXPECT_EQ(content.find("http://"), std::string::npos);
  EXPECT_EQ(content.find('@'), std::string::npos);

  // The webhook: the fields as data, the buyer's comment exactly, and the same text.
  const auto hook = robots.Arrivals("/hook");
  ASSERT_EQ(hook.size(), 1u);
  const Json doc = Json::parse(hook[0].body);
  EXPECT_EQ(doc.at("kind"), "rating");
  EXPECT_EQ(doc.at("shop"), "店铺一号");
  EXPECT_EQ(doc.at("order"), "1001");
  EXPECT_EQ(doc.at("buyer"), "坏买家");
  EXPECT_EQ(doc.at("verdict"), "bad");
  EXPECT_EQ(doc.at("comment"), kHostile);
  EXPECT_EQ(doc.at("time"), "2026-12-10 10:00:00");
  EXPECT_EQ(doc.at("text"), content);
  EXPECT_EQ(hook[0].body.find('<'), std::string::npos) << "markup characters travel escaped";

  // The mail: authenticated, to both, its subject and text in UTF-8.
  const auto mails = smtp.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].auth, std::string("\0shop@example.com\0pass word", 27));
  EXPECT_EQ(mails[0].from, "<shop@example.com>");
  EXPECT_EQ(mails[0].to, (std::vector<std::string>{"<a@example.com>", "<b@example.com>"}));
  const std::string& data = mails[0].data;
  const std::size_t split = data.find("\r\n\r\n");
  ASSERT_NE(split, std::string::npos);
  const std::string headers = data.substr(0, split + 2);
  EXPECT_NE(headers.find("From: <shop@example.com>\r\n"), std::string::npos);
  EXPECT_NE(headers.find("To: <a@example.com>, <b@example.com>\r\n"), std::string::npos);
  EXPECT_NE(headers.find("Content-Type: text/plain; charset=UTF-8\r\n"), std::string::npos);
  EXPECT_NE(headers.find("Content-Transfer-Encoding: base64\r\n"), std::string::npos);
  std::string subject;
  for (std::size_t at = headers.find("=?UTF-8?B?"); at != std::string::npos; at = headers.find("=?UTF-8?B?", at + 1))
    subject += test::DecodeBase64(headers.substr(at + 10, headers.find("?=", at + 10) - at - 10));
  EXPECT_EQ(subject, "Quillmere 差评提醒（店铺一号）：订单 1001 收到差评");
  std::string body;
  for (const std::string& line : Lines(data.substr(split + 4))) body += line.substr(0, line.find('\r'));
  EXPECT_EQ(test::DecodeBase64(body), content + "\n");

  // Delivered sends are not sent again by the next start.
  events.clear();
  outbox.reset();
  outbox = Outbox(s, {100});
  EXPECT_EQ(outbox->Pending(), 0);
  RunUntil([] { return false; }, 300ms);
  EXPECT_EQ(robots.Requests("/hook"), 1);
  EXPECT_TRUE(events.empty());
}

TEST_F(Alerts, AStalledRefusingOrMissingPlaceHoldsUpNothingAndLosesNoAlertUntilItsTriesEnd) {
  AlertSettings s;
  s.dingTalkUrl = robots.Base() + "/stalls";
  s.weComUrl = robots.Base() + "/refuses";
  s.webhookUrl = robots.Base() + "/busy";
  s.mailServer = "127.0.0.1:" + std::to_string(test::ClosedPort());
  s.mailTo = "a@example.com";
  s.mailFrom = "shop@example.com";
  robots.Stall("/stalls", 3000);
  robots.Reply("/refuses", R"({"errcode":310000,"errmsg":"keywords not in content"})");
  robots.FailFirst("/busy", 2);
  auto outbox = Outbox(s, {50, 100, 150}, 1);

  const auto before = std::chrono::steady_clock::now();
  outbox->Raise({"2002", "买家", "neutral", "慢", "2026-12-10 10:00:00"});
  // The UI thread goes on at once, and its queued work runs while the sends wait.
  bool ran = false;
  loop.Post([&] { ran = true; });
  RunUntil([&] { return ran; }, 2s);
  EXPECT_TRUE(ran);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);

  RunUntil([&] { return outbox->Pending() == 0; });
  EXPECT_EQ(outbox->Pending(), 0);
  // The busy webhook takes it at the third try.
  EXPECT_EQ(Count(AlertEvent::Kind::Retrying, Destination::Webhook), 2);
  EXPECT_EQ(Count(AlertEvent::Kind::Sent, Destination::Webhook), 1);
  EXPECT_EQ(robots.Arrivals("/busy").size(), 1u);
  // The others are given up after four tries, each saying why.
  for (Destination d : {Destination::DingTalk, Destination::WeCom, Destination::Mail}) {
    EXPECT_EQ(Count(AlertEvent::Kind::Retrying, d), 3) << DestinationKey(d);
    EXPECT_EQ(Count(AlertEvent::Kind::GaveUp, d), 1) << DestinationKey(d);
  }
  EXPECT_EQ(robots.Requests("/refuses"), 4);
  for (const AlertEvent& e : events) {
    if (e.kind != AlertEvent::Kind::GaveUp) continue;
    const std::string text = AlertEventText(e);
    EXPECT_EQ(e.tries, 4);
    EXPECT_EQ(text.find("127.0.0.1"), std::string::npos) << "no address in what the seller reads: " << text;
    const char* why = e.destination == Destination::WeCom ? "310000" : e.destination == Destination::DingTalk ? "时限" : "无法连接";
    EXPECT_NE(text.find(why), std::string::npos) << text;
  }
}

TEST_F(Alerts, ASendStillPendingAtTheEndGoesOutAtTheNextStartToTheAddressSetThen) {
  AlertSettings gone;
  gone.webhookUrl = "http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/hook";
  auto outbox = Outbox(gone, {60000});
  outbox->Raise({"3003", "买家", "bad", "坏", "2026-12-10 10:00:00"});
  RunUntil([&] { return !events.empty(); });
  ASSERT_EQ(Count(AlertEvent::Kind::Retrying, Destination::Webhook), 1);
  // The program ends during the pause: at once, and the send stays pending.
  const auto before = std::chrono::steady_clock::now();
  outbox.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);

  AlertSettings back;
  back.webhookUrl = robots.Base() + "/hook";
  events.clear();
  outbox = Outbox(back, {60000});
  EXPECT_EQ(outbox->Pending(), 1);
  RunUntil([&] { return outbox->Pending() == 0; });
  ASSERT_EQ(robots.Arrivals("/hook").size(), 1u);
  EXPECT_EQ(Json::parse(robots.Arrivals("/hook")[0].body).at("order"), "3003");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].tries, 2);

  // An address changed during the pause is tried at once; a place no longer
  // set gives its pending send up instead of holding it.
  outbox->ChangeSettings(gone);
  outbox->Raise({"3004", "买家", "bad", "坏", "2026-12-10 10:00:00"});
  RunUntil([&] { return events.size() == 2; });
  const auto changed = std::chrono::steady_clock::now();
  outbox->ChangeSettings(back);
  RunUntil([&] { return outbox->Pending() == 0; });
  EXPECT_LT(std::chrono::steady_clock::now() - changed, 10s);
  ASSERT_EQ(robots.Arrivals("/hook").size(), 2u);
  EXPECT_EQ(Json::parse(robots.Arrivals("/hook")[1].body).at("order"), "3004");

  outbox->ChangeSettings(gone);
  outbox->Raise({"3005", "买家", "bad", "坏", "2026-12-10 10:00:00"});
  RunUntil([&] { return events.size() == 4; });
  outbox->ChangeSettings(AlertSettings{});
  RunUntil([&] { return outbox->Pending() == 0; });
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[4].kind, AlertEvent::Kind::GaveUp);
  EXPECT_EQ(events[4].item, "3005");
  EXPECT_EQ(robots.Arrivals("/hook").size(), 2u);
}

TEST_F(Alerts, TheDailySummaryCountsTheDayBeforeTheSellersHourAndGoesOnceADay) {
  // 2026-12-10 in Beijing; the summary hour is 20:00.
  const std::int64_t day = *ParsePlatformTime("2026-12-10 00:00:00");
  now = static_cast<double>(day + 19 * 3600);
  {
    RatingLog log(clock);
    ASSERT_TRUE(log.Open(logPath));
    auto rate = [&](std::int64_t at, const char* tid, RatingStart start, const char* outcome) {
      now = static_cast<double>(at);
      log.Answered(log.Sent(tid, "b", "good", "c", start), outcome);
    };
    rate(day - 3 * 3600, "1", RatingStart::Automatic, kLogRated);   // 21:00 the day before: in
    rate(day - 5 * 3600, "0", RatingStart::Automatic, kLogRated);   // 19:00 the day before: out
    rate(day - 3 * 86400, "2", RatingStart::Automatic, kLogRated);  // days before: out
    rate(day + 3600, "3", RatingStart::Automatic, kLogRated);
    rate(day + 3600, "4", RatingStart::Automatic, kLogRefused);     // refused: not given
    rate(day + 7200, "5", RatingStart::Early, kLogRated);
    rate(day + 7200, "6", RatingStart::Answer, kLogRated);
    rate(day + 21 * 3600, "7", RatingStart::Answer, kLogRated);     // after the hour: tomorrow's
    const auto alert = [&](const char* tid, const char* result, std::int64_t at) {
      log.KeepAlert({tid, "b", result, "", FormatPlatformTime(at)}, BuyerVerdict{});
    };
    alert("8", "neutral", day + 600);
    alert("9", "bad", day + 700);
    alert("10", "bad", day + 800);
    alert("11", "bad", day - 2 * 86400);
  }
  AlertSettings s;
  s.webhookUrl = robots.Base() + "/hook";
  s.summaryHour = 20;
  now = static_cast<double>(day + 19 * 3600 + 3599);
  auto outbox = Outbox(s, {100});
  outbox->CheckSummary();
  EXPECT_EQ(outbox->Pending(), 0) << "not before the hour";
  now = static_cast<double>(day + 20 * 3600 + 60);
  outbox->CheckSummary();
  outbox->CheckSummary();
  RunUntil([&] { return outbox->Pending() == 0; });
  ASSERT_EQ(robots.Arrivals("/hook").size(), 1u);
  const Json doc = Json::parse(robots.Arrivals("/hook")[0].body);
  EXPECT_EQ(doc.at("kind"), "summary");
  EXPECT_EQ(doc.at("day"), "2026-12-10");
  EXPECT_EQ(doc.at("given"), (Json{{"automatic", 2}, {"early", 1}, {"answered", 1}}));
  EXPECT_EQ(doc.at("received"), (Json{{"neutral", 1}, {"bad", 2}}));
  EXPECT_NE(doc.at("text").get<std::string>().find("给出的评价：4（自动 2，提前 1，回评 1）"), std::string::npos);

  // Not again after a restart the same day; again the next day.
  outbox = Outbox(s, {100});
  outbox->CheckSummary();
  EXPECT_EQ(outbox->Pending(), 0);
  now += 86400;
  outbox->CheckSummary();
  RunUntil([&] { return outbox->Pending() == 0; });
  EXPECT_EQ(robots.Arrivals("/hook").size(), 2u);
}

}  // namespace
}  // namespace qm

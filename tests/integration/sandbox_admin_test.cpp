// The sandbox as a program and its admin interface: seeded reproducibility,
// the Config.ini it writes, reply quirks, its clock, clean stops.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>

#include "platform/platform_time.h"
#include "platform/transport.h"
#include "support/sandbox_calls.h"
#include "support/temp_dir.h"

namespace qm::test {
namespace {

using nlohmann::json;

// The parts of the trades that do not depend on the moment of seeding.
std::vector<std::string> Shape(const Sandbox& sandbox) {
  std::vector<std::string> out;
  for (const json& t : json::parse(sandbox.AdminGet("trades"))) {
    out.push_back(t["tid"].get<std::string>() + "|" + t["buyer_nick"].get<std::string>() + "|" +
                  t["status"].get<std::string>() + "|" + t["buyer_rate"].get<std::string>() + "|" +
                  t["seller_rate"].get<std::string>());
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(SandboxAdmin, TheSameSeedGivesTheSameMarketplace) {
  Sandbox::Options options;
  options.seed = 7;
  options.trades = 300;
  Sandbox a(options), b(options);
  ASSERT_TRUE(a.Ok() && b.Ok());
  EXPECT_EQ(a.Seller().appKey, b.Seller().appKey);
  EXPECT_EQ(a.Seller().session, b.Seller().session);
  EXPECT_EQ(Shape(a), Shape(b));
  options.seed = 8;
  Sandbox c(options);
  EXPECT_NE(Shape(a), Shape(c));
  EXPECT_NE(a.Seller().appKey, c.Seller().appKey);
}

TEST(SandboxAdmin, SeededDataHasTheAwkwardCases) {
  Sandbox::Options options;
  options.trades = 400;
  Sandbox sandbox(options);
  ASSERT_TRUE(sandbox.Ok());
  const SandboxSeller& s = sandbox.Seller();
  EXPECT_EQ(s.appKey.size(), 8u);
  EXPECT_EQ(s.nick.find_first_of("/\\"), std::string::npos);
  auto trades = json::parse(sandbox.AdminGet("trades"));
  ASSERT_GT(trades.size(), 300u);
  bool emoji = false, markup = false, amp = false, quote = false, space = false, unfinished = false, old = false;
  bool recent = false;
  const std::time_t now = std::time(nullptr);
  for (const json& t : trades) {
    const std::string nick = t["buyer_nick"], tid = t["tid"], end = t["end_time"];
    EXPECT_TRUE(tid.size() == 15 || tid.size() == 16) << tid;
    emoji |= nick.find("\xF0\x9F") != std::string::npos;
    markup |= nick.find('<') != std::string::npos;
    amp |= nick.find('&') != std::string::npos;
    quote |= nick.find('"') != std::string::npos;
    space |= nick.find(' ') != std::string::npos;
    unfinished |= t["status"] != "TRADE_FINISHED";
    if (!end.empty()) {
      const auto ended = ParsePlatformTime(end);
      ASSERT_TRUE(ended.has_value()) << end;
      const double days = static_cast<double>(now - *ended) / 86400.0;
      EXPECT_GE(days, -0.01);
      EXPECT_LE(days, 20.01);
      old |= days > 15;
      recent |= days < 15;
    }
  }
  EXPECT_TRUE(emoji && markup && amp && quote && space && unfinished && old && recent);
}

TEST(SandboxAdmin, WritesTheSellersConfigSectionAndKeepsTheRest) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  TempDir dir;
  const std::string ini = dir.File("Config.ini");
  // An existing file with another account and the seller's section in GBK
  // with an old key and a setting of its own.
  const std::string gbkNick = "\xE3\xE5\xB3\xBF\xC6\xEC\xBD\xA2\xB5\xEA";  // 沐晨旗舰店
  ASSERT_EQ(sandbox.Seller().nick, "沐晨旗舰店");
  ASSERT_TRUE(WriteFileBytes(ini, "; accounts\r\n[other]\r\nappkey=1\r\n\r\n[" + gbkNick +
                                      "]\r\nAPPKEY=old\r\n\xC6\xC0\xBC\xDB\xCA\xB1\xBC\xE4=24\r\n"));
  ASSERT_TRUE(sandbox.WriteConfig(ini));
  const std::string text = ReadFileBytes(ini);
  EXPECT_EQ(text, "; accounts\r\n[other]\r\nappkey=1\r\n\r\n[" + gbkNick + "]\r\nappkey=" + sandbox.Seller().appKey +
                      "\r\n\xC6\xC0\xBC\xDB\xCA\xB1\xBC\xE4=24\r\nAppSecret=" + sandbox.Seller().appSecret +
                      "\r\nSessionKey=" + sandbox.Seller().session + "\r\n");

  // From the command line, into a new file.
  const std::string fresh = dir.File("fresh.ini");
  Sandbox::Options options;
  options.extraArgs = {"--write-config", fresh};
  Sandbox second(options);
  ASSERT_TRUE(second.Ok());
  EXPECT_EQ(ReadFileBytes(fresh), "[" + gbkNick + "]\r\nappkey=" + second.Seller().appKey +
                                      "\r\nAppSecret=" + second.Seller().appSecret +
                                      "\r\nSessionKey=" + second.Seller().session + "\r\n");
  EXPECT_FALSE(sandbox.WriteConfig(dir.File("no/such/dir/Config.ini")));
}

TEST(SandboxAdmin, QuirksChangeHasNextAndLayout) {
  Sandbox::Options options;
  options.trades = 0;
  Sandbox sandbox(options);
  ASSERT_TRUE(sandbox.Ok());
  std::string list;
  for (int i = 0; i < 101; ++i) list += std::string(i ? "," : "") + "{}";
  ASSERT_FALSE(sandbox.AdminPost("trades", "{\"trades\":[" + list + "]}").empty());
  ASSERT_FALSE(sandbox.AdminPost("quirks", "{\"has_next\":\"True\"}").empty());
  EXPECT_EQ(FirstValue(SoldPage(sandbox, "RATE_UNSELLER", 1).body, "<has_next>"), "True");
  EXPECT_EQ(FirstValue(SoldPage(sandbox, "RATE_UNSELLER", 2).body, "<has_next>"), "false");
  ASSERT_FALSE(sandbox.AdminPost("quirks", "{\"has_next\":\"true\",\"pretty\":true}").empty());
  HttpResult r = SoldPage(sandbox, "RATE_UNSELLER", 1);
  const std::string tid = FirstValue(r.body, "<tid>");
  EXPECT_EQ(tid.front(), '\n');
  EXPECT_NE(tid.find_first_of("0123456789"), std::string::npos);
  EXPECT_NE(r.body.find("\n  <has_next>"), std::string::npos);
}

TEST(SandboxAdmin, TheClockMovesTimestampsAndRatingPeriods) {
  Sandbox::Options options;
  options.trades = 0;
  Sandbox sandbox(options);
  ASSERT_TRUE(sandbox.Ok());
  const std::string tid = AddTrade(sandbox, "{\"ended_hours_ago\":340}");
  ASSERT_FALSE(sandbox.AdminPost("clock", "{\"offset_seconds\":86400}").empty());
  // A timestamp of the real clock is now a day stale.
  HttpResult r = Gateway(sandbox, "taobao.time.get", {});
  EXPECT_EQ(FirstValue(r.body, "<code>"), "31");
  SignOptions shifted;
  shifted.timestamp = TimestampAt(std::time(nullptr) + 86400);
  r = Gateway(sandbox, "taobao.time.get", {}, shifted);
  EXPECT_EQ(FirstValue(r.body, "<time>").substr(0, 10), shifted.timestamp.substr(0, 10));
  // 340 hours plus a day is past the fifteen days.
  EXPECT_EQ(FirstValue(PostRating(sandbox, tid, "good", "").body, "<tid>"), "");
  ASSERT_FALSE(sandbox.AdminPost("clock", "{\"offset_seconds\":0}").empty());
  EXPECT_EQ(FirstValue(PostRating(sandbox, tid, "good", "").body, "<tid>"), tid);
}

TEST(SandboxAdmin, ResetKeepsCredentialsAndRefusesBadInput) {
  Sandbox sandbox;
  ASSERT_TRUE(sandbox.Ok());
  const std::string before = sandbox.AdminGet("seller");
  auto reply = json::parse(sandbox.AdminPost("reset", "{\"seed\":5,\"trades\":50}"));
  EXPECT_EQ(reply["trades"], 50);
  EXPECT_EQ(sandbox.AdminGet("seller"), before);
  EXPECT_EQ(Gateway(sandbox, "taobao.time.get", {}).body.find("<error_response>"), std::string::npos);
  EXPECT_TRUE(sandbox.AdminPost("reset", "{\"trades\":-1}").empty());
  EXPECT_TRUE(sandbox.AdminPost("trades", "{\"trades\":[{\"tid\":\"12ab\"}]}").empty());
  EXPECT_TRUE(sandbox.AdminPost("trades", "{\"trades\":[{\"buyer_rate\":\"great\"}]}").empty());
  const std::string tid = AddTrade(sandbox, "{\"tid\":\"123456789012345\"}");
  EXPECT_EQ(tid, "123456789012345");
  EXPECT_TRUE(AddTrade(sandbox, "{\"tid\":\"123456789012345\"}").empty());
  EXPECT_TRUE(sandbox.AdminPost("buyer-rate", "{\"tid\":\"999\",\"result\":\"good\"}").empty());
}

TEST(SandboxAdmin, StopsAtOnceWhileAClientKeepsItsConnection) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point stopping;
  {
    Sandbox sandbox;
    ASSERT_TRUE(sandbox.Ok());
    // The transport keeps a GET's connection open for the next request.
    ASSERT_TRUE(web_request(WebRequest::Get(sandbox.BaseUrl() + "/myRate.htm")).arrived);
    stopping = Clock::now();
  }
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - stopping).count(), 2.0)
      << "the stop does not wait out the kept connection";
}

TEST(SandboxAdmin, StopsCleanlyOnSigintAndSigterm) {
  for (int sig : {SIGINT, SIGTERM}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      execl(QM_SANDBOX_BIN, QM_SANDBOX_BIN, "--port", "0", "--trades", "10", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string line;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') line += c;
    close(fds[0]);
    EXPECT_EQ(line.rfind("listening on http://127.0.0.1:", 0), 0u) << line;
    kill(pid, sig);
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 1000 && done == 0; ++i) {
      done = waitpid(pid, &status, WNOHANG);
      if (done == 0) usleep(10000);
    }
    if (done == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      FAIL() << "the sandbox did not stop on signal " << sig;
    }
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
}

}  // namespace
}  // namespace qm::test

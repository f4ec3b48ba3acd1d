// The seller's safety net against the sandbox marketplace: the rating log
// across a killed run and its CSV, orders and buyers kept from automatic
// rating, and the alerts on neutral and bad buyer ratings.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

#include "orders/order_db.h"
#include "orders/order_loader.h"
#include "rating/keep_list.h"
#include "rating/rating_ledger.h"
#include "rating/rating_log.h"
#include "rating/refresh_checks.h"
#include "rating/schedule.h"
#include "rating/scheduler.h"
#include "settings/app_session.h"
#include "support/headless_process.h"
#include "support/rating_world.h"
#include "support/sandbox_calls.h"
#include "util/text_codec.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

class SafetyNet : public ::testing::Test {
 protected:
  test::RatingWorld world;
  std::string nick;

  void SetUp() override {
    ASSERT_TRUE(world.Market().Ok());
    nick = world.Session().sellerNick;
    std::string error;
    ASSERT_TRUE(PrepareOrderDatabase(world.Session().programDir, nick, &error)) << error;
  }

  void Load() {
    ASSERT_TRUE(world.Run().Start());
    const auto limit = std::chrono::steady_clock::now() + 60s;
    while ((world.autoTimer.Interval() == 0 || world.Run().Loader().Running()) && std::chrono::steady_clock::now() < limit)
      world.Loop().WaitAndRun(50ms);
    ASSERT_FALSE(world.Run().Loader().Running());
  }
  int Alerts() const {
    int n = 0;
    for (const std::string& line : world.log) n += line.rfind("alert:", 0) == 0;
    return n;
  }
  // Buyer-rating queries (role buyer) about one order the sandbox answered.
  int BuyerChecks() {
    int n = 0;
    for (const auto& e : nlohmann::json::parse(world.Market().AdminGet("log"))) {
      const std::string q = "&" + e.value("query", "");
      n += q.find("taobao.traderates.get") != std::string::npos && q.find("role=buyer") != std::string::npos &&
           q.find("&tid=") != std::string::npos;
    }
    return n;
  }
};

TEST_F(SafetyNet, KeptOrdersAndBuyersAreLeftToTheSellerAndEveryRatingIsLogged) {
  const auto due = world.AddTrades({{350, "甲"}, {352, "乙"}, {354, "常客"}, {356, "常客"}});
  const auto later = world.AddTrades({{100, "丙"}});
  // A person edits the file by hand, in GBK, before the run.
  std::ofstream(world.Session().PathOf(KeepListFileName(nick)), std::ios::binary)
      << Utf8ToGbk("[不自动评价的订单]\r\n" + due[0] + "=手工\r\n[不自动评价的买家]\r\n常客=\r\n");
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","error_rate":1,"first_n":1})"));
  Load();

  // Only 乙's order is rated; the first post was refused and is retried.
  auto rated = [&] {
    std::set<std::string> s;
    for (const auto& r : world.Ratings()) s.insert(r.tid);
    return s;
  };
  const auto limit = std::chrono::steady_clock::now() + 30s;
  while (rated().empty() && std::chrono::steady_clock::now() < limit) {
    world.Loop().WaitAndRun(100ms);
    world.Pass();
  }
  EXPECT_EQ(rated(), std::set<std::string>{due[1]});
  for (const std::string& tid : {due[0], due[2], due[3]}) {
    const int row = world.Unrated().Find(tid);
    ASSERT_GE(row, 0) << tid;
    EXPECT_EQ(world.Unrated().Row(row).timeLeft, kKeptTimeLeft);
  }
  // Released by a second run's edit, the order is rated at the next pass.
  KeepList other(KeepListPath(world.Dir().str(), nick), world.Clock());
  ASSERT_TRUE(other.ReleaseOrder(due[0]));
  EXPECT_FALSE(other.KeepBuyer("a=b"));
  world.Pass();
  EXPECT_EQ(rated(), (std::set<std::string>{due[0], due[1]}));
  EXPECT_GE(world.Unrated().Find(later[0]), 0);
  // A copy of the log's file alone (without its write-ahead file) is whole
  // after a pass that rated.
  const std::string copy = world.Dir().File("copy.db");
  std::filesystem::copy_file(world.Dir().File(RatingLogFileName(nick)), copy);
  RatingLog copied(world.Clock());
  ASSERT_TRUE(copied.Open(copy, true));
  EXPECT_EQ(copied.Entries().size(), world.Run().Log().Entries().size());
  EXPECT_GE(copied.Entries().size(), 2u);

  // A second rating of a rated order (by a later run, which does not know
  // it): the platform's refusal with its words, and the order counts as rated.
  world.Restart();
  const RatingAttempt again = world.Rate(due[1], "good", "again", {"乙", RatingStart::Early});
  EXPECT_EQ(again.verdict, LedgerVerdict::AlreadyRated);
  EXPECT_TRUE(again.Done());

  const auto entries = world.Run().Log().Entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].outcome, kLogRated);  // 已评价, with the platform's words
  EXPECT_EQ(entries[0].started, "early");
  EXPECT_FALSE(entries[0].message.empty());
  EXPECT_EQ(entries[1].tid, due[0]);
  // The post without an answer, settled by the check before the retry.
  EXPECT_EQ(entries[3].tid, due[1]);
  EXPECT_EQ(entries[3].OutcomeText(), "not taken: not on the platform");
  EXPECT_EQ(entries[2].outcome, kLogRated);
  EXPECT_EQ(entries[2].buyer, "乙");
  EXPECT_EQ(entries[2].started, "automatic");
  EXPECT_EQ(world.Run().Log().Entries("乙").size(), 3u);
}

TEST_F(SafetyNet, ABadBuyerRatingBetweenRefreshesIsAlertedOnceAndNotAskedAgainAfterARestart) {
  const std::string early = world.AddTrade(200, "好买家", "good");
  const std::string later = world.AddTrade(210, "坏买家");
  Load();
  EXPECT_EQ(Alerts(), 0);
  EXPECT_EQ(BuyerChecks(), 1);  // the good one, once

  ASSERT_FALSE(world.Market().AdminPost("buyer-rate", nlohmann::json{{"tid", later}, {"result", "bad"},
                                                                     {"content", "<b>太差</b>"}}.dump()).empty());
  // A refresh whose look at the buyers' ratings gets no answer alerts nothing
  // and remembers nothing; the next one lists in full and asks the order.
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.traderates.get","error_rate":1})"));
  world.Refresh();
  EXPECT_EQ(Alerts(), 0);
  EXPECT_EQ(world.Run().Log().KnownVerdict(later), nullptr);
  ASSERT_TRUE(world.Faults("{}"));
  world.Refresh();
  world.Refresh();
  EXPECT_EQ(Alerts(), 1);
  EXPECT_EQ(BuyerChecks(), 2);
  const std::string alert = *std::find_if(world.log.begin(), world.log.end(),
                                          [](const std::string& l) { return l.rfind("alert:", 0) == 0; });
  EXPECT_EQ(alert, "alert: order=" + later + " buyer=坏买家 result=bad comment=<b>太差</b>");
  ASSERT_TRUE(AlertStyleOf(world.Run().Log(), later));
  EXPECT_EQ(AlertStyleOf(world.Run().Log(), later)->background, 0x000000u);
  EXPECT_FALSE(AlertStyleOf(world.Run().Log(), early));

  // A restart reads what is known from the log and asks nothing.
  world.Restart();
  world.Refresh();
  EXPECT_EQ(BuyerChecks(), 2);
  EXPECT_EQ(Alerts(), 1);
}

// The runner killed while its post waits for an answer: the entry reads "no
// answer" until the next run settles it; the CSV export reads back.
TEST(SafetyNetRunner, AKilledPostIsSettledByTheNextRunAndTheCsvReadsBack) {
  test::RatingWorld world;
  ASSERT_TRUE(world.Market().Ok());
  const std::string nick = world.Session().sellerNick;
  ASSERT_TRUE(world.Market().WriteConfig(world.Dir().File("Config.ini")));
  const std::string tid = world.AddTrade(350, "引号\"买家");
  // The comment holds a quote, a comma and a line break.
  std::ofstream(world.Dir().File(nick + "的自动评价内容.txt"), std::ios::binary) << Utf8ToGbk("好,评\r\n\"谢谢\"");
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","stall_after_ms":20000})"));
  const std::vector<std::string> args = {"--account", nick, "--data-dir", world.Dir().str(), "--platform",
                                         world.Market().BaseUrl()};
  const pid_t pid = test::StartHeadless(args);
  ASSERT_GT(pid, 0);
  const auto limit = std::chrono::steady_clock::now() + 30s;
  while (world.Ratings().empty() && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(50ms);
  ASSERT_EQ(world.Ratings().size(), 1u);
  std::this_thread::sleep_for(100ms);
  kill(pid, SIGKILL);
  test::WaitForExit(pid);
  {
    RatingLog log(world.Clock());
    ASSERT_TRUE(log.Open(world.Dir().File(RatingLogFileName(nick)), true));
    ASSERT_EQ(log.Entries().size(), 1u);
    EXPECT_EQ(log.Entries()[0].outcome, kLogNoAnswer);
  }
  ASSERT_TRUE(world.Faults("{}"));
  auto once = args;
  once.push_back("--once");
  ASSERT_EQ(test::WaitForExit(test::StartHeadless(once)), 0);
  EXPECT_EQ(world.RatingPosts(tid), 1);

  // Exports go outside the program directory, whose files are never a target.
  test::TempDir elsewhere;
  const std::string csv = elsewhere.File("log.csv");
  auto exportArgs = args;
  exportArgs.insert(exportArgs.end(), {"--export-log", csv});
  ASSERT_EQ(test::WaitForExit(test::StartHeadless(exportArgs)), 0);
  const std::string check =
      "import csv,sys\n"
      "rows=list(csv.reader(open(sys.argv[1],encoding='utf-8-sig',newline='')))\n"
      "assert rows[0]==['时间','订单编号','买家旺旺','评价','评语','方式','结果'],rows[0]\n"
      "assert len(rows)==2,rows\n"
      "r=rows[1]\n"
      "assert r[1:6]==[sys.argv[2],'引号\"买家','好评','好,评\\r\\n\"谢谢\"','自动'],r\n"
      "assert r[6]=='已评价：平台上已有该评价',r\n";
  const std::string script = world.Dir().File("check.py");
  std::ofstream(script) << check;
  EXPECT_EQ(std::system(("python3 '" + script + "' '" + csv + "' " + tid).c_str()), 0);
}

}  // namespace
}  // namespace qm

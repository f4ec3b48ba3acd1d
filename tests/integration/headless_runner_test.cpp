// The headless runner as a process against the sandbox marketplace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "headless/runner.h"
#include "orders/order_db.h"
#include "rating/comments.h"
#include "rating/schedule.h"
#include "rating/startup.h"
#include "settings/app_session.h"
#include "util/file_io.h"
#include "util/held_file.h"
#include "util/text_codec.h"
#include "support/rating_world.h"
#include "support/runner_fixture.h"
#include "support/sandbox_calls.h"

namespace qm {
namespace {

struct Outcome {
  int exitCode = -1;
  std::string output;
  double stopSeconds = -1;  // from the signal to the end of the output
};

// Runs the runner with `args`; with `stopWhen` it sends `sig` `afterMs` after
// that text has appeared in the output. Gives up after 60 seconds.
Outcome RunRunner(const std::vector<std::string>& args, const std::string& stopWhen = "", int sig = SIGTERM,
                  int afterMs = 0) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(out[1], 2);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(QM_HEADLESS_BIN));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QM_HEADLESS_BIN, argv.data());
    _exit(127);
  }
  close(out[1]);
  Outcome o;
  bool stopped = false;
  std::chrono::steady_clock::time_point seenAt{}, stoppedAt{};
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  for (;;) {
    char buf[4096];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n > 0) {
      o.output.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else {
      usleep(10000);
    }
    if (!stopWhen.empty() && seenAt == decltype(seenAt){} && o.output.find(stopWhen) != std::string::npos) {
      seenAt = std::chrono::steady_clock::now();
    }
    if (!stopped && seenAt != decltype(seenAt){} &&
        std::chrono::steady_clock::now() >= seenAt + std::chrono::milliseconds(afterMs)) {
      kill(pid, sig);
      stopped = true;
      stoppedAt = std::chrono::steady_clock::now();
    }
    if (std::chrono::steady_clock::now() > limit) {
      kill(pid, SIGKILL);
      break;
    }
  }
  if (stopped) o.stopSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - stoppedAt).count();
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

class Runner : public test::RunnerWorldTest {
 protected:
  std::vector<std::string> Args(bool once) {
    std::vector<std::string> a = {"--account", nick, "--data-dir", world.Dir().str(), "--platform",
                                  world.Market().BaseUrl()};
    if (once) a.push_back("--once");
    return a;
  }
};

TEST_F(Runner, OnceLoadsRefreshesRatesWhatIsDueAndExits) {
  const auto due = world.AddTrades({{340, "到期甲"}, {350, "到期乙"}});
  const auto later = world.AddTrades({{100, "未到期"}});
  world.AddTrade(200, "已评买家", "good");

  const Outcome o = RunRunner(Args(true));

  EXPECT_EQ(o.exitCode, kExitOk) << o.output;
  EXPECT_NE(o.output.find("orders loaded: unrated=3"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("refresh: buyer-rated=1"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("rating order=" + due[0] + " buyer=到期甲 result=good outcome=rated"), std::string::npos)
      << o.output;
  EXPECT_NE(o.output.find("rating order=" + due[1] + " buyer=到期乙 result=good outcome=rated"), std::string::npos);
  EXPECT_EQ(o.output.find("rating order=" + later[0]), std::string::npos);
  // One line per event: the lists themselves only with --verbose.
  EXPECT_EQ(o.output.find("waiting: order="), std::string::npos) << o.output;
  EXPECT_EQ(o.output.find("buyer-rated: order="), std::string::npos) << o.output;
  std::set<std::string> rated;
  for (const auto& r : world.Ratings()) {
    rated.insert(r.tid);
    EXPECT_EQ(r.content, kDefaultAutoComment);  // the new standing comment file's text
  }
  EXPECT_EQ(rated, std::set<std::string>(due.begin(), due.end()));
}

TEST_F(Runner, ListAndCheckWorkBesideARunningInstanceAndPostNothing) {
  const auto due = world.AddTrades({{340, "到期甲"}});
  const auto later = world.AddTrades({{100, "未到期"}});
  const std::string answered = test::AddTrade(world.Market(), R"({"ended_hours_ago":200,"buyer_nick":"中评买家",)"
                                                               R"("buyer_rate":"neutral","buyer_comment":"发货太慢"})");
  ASSERT_FALSE(answered.empty());
  // This process holds the seller's lock, as a running instance does.
  std::string unused;
  ASSERT_EQ(HoldFileExclusively(world.Dir().File(RunLockFileName(nick)), "", &unused), HeldFileStatus::Ok);
  ASSERT_EQ(RunRunner(Args(true)).exitCode, kExitCommentFile);

  // Kept from automatic rating by a second run beside the first.
  std::vector<std::string> keep = Args(false);
  keep.insert(keep.end(), {"--keep-buyer", "未到期"});
  EXPECT_EQ(RunRunner(keep).exitCode, kExitOk);
  keep.back() = "a=b";
  EXPECT_EQ(RunRunner(keep).exitCode, kExitUsage);

  std::vector<std::string> list = Args(false);
  list.push_back("--list");
  const Outcome listed = RunRunner(list);
  EXPECT_EQ(listed.exitCode, kExitOk) << listed.output;
  EXPECT_NE(listed.output.find("waiting: order=" + due[0] + " buyer=到期甲 到期=" + FormatTimeLeft(19)), std::string::npos)
      << listed.output;
  EXPECT_NE(listed.output.find("waiting: order=" + later[0] + " buyer=未到期 到期=不自动评价 (" + FormatTimeLeft(259)),
            std::string::npos);
  EXPECT_NE(listed.output.find("buyer-rated: order=" + answered + " buyer=中评买家"), std::string::npos);
  EXPECT_EQ(listed.output.find("waiting: order=" + answered), std::string::npos);

  std::vector<std::string> check = Args(false);
  check.insert(check.end(), {"--check", answered});
  const Outcome checked = RunRunner(check);
  EXPECT_EQ(checked.exitCode, kExitOk) << checked.output;
  EXPECT_EQ(checked.output.substr(checked.output.rfind('\n', checked.output.size() - 2) + 1), "neutral|:|发货太慢\n");
  check.back() = "1&tid=2";
  EXPECT_EQ(RunRunner(check).exitCode, kExitUsage);

  // Nothing was rated and no database was made.
  EXPECT_TRUE(world.Ratings().empty());
  EXPECT_FALSE(std::filesystem::exists(world.Dir().File(nick + ".MDB")));
}

TEST_F(Runner, RunsUntilSigterm) {
  world.AddTrades({{100, "未到期"}});
  const Outcome o = RunRunner(Args(false), "orders loaded");
  EXPECT_EQ(o.exitCode, kExitOk) << o.output;
  EXPECT_NE(o.output.find("stopping on SIGTERM"), std::string::npos) << o.output;
}

// A stop signal ends the run within a second wherever it comes: in the middle
// of a slow first load, or while the time check's reply trickles in. Nothing
// is rated after it, though orders are due.
TEST_F(Runner, StopSignalsEndTheRunAtOnceAndNothingIsRatedAfter) {
  std::vector<std::pair<int, std::string>> due;
  for (int i = 0; i < 250; ++i) due.emplace_back(340, "到期" + std::to_string(i));
  ASSERT_EQ(world.AddTrades(due).size(), due.size());

  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","latency_ms":600})"));
  Outcome o = RunRunner(Args(false), "start: loading orders", SIGINT, 1000);
  EXPECT_EQ(o.exitCode, kExitOk) << o.output;
  EXPECT_LT(o.stopSeconds, 1.0) << o.output;
  EXPECT_NE(o.output.find("stopping on SIGINT"), std::string::npos) << o.output;
  EXPECT_EQ(o.output.find("orders loaded"), std::string::npos) << o.output;
  EXPECT_EQ(world.RequestsTo("/apitools/getResult.do"), 0);

  ASSERT_TRUE(world.Faults("{}"));
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.time.get","trickle_ms":500})"));
  o = RunRunner(Args(true), "orders loaded", SIGTERM, 1000);
  EXPECT_EQ(o.exitCode, kExitOk) << o.output;
  EXPECT_LT(o.stopSeconds, 1.0) << o.output;
  EXPECT_NE(o.output.find("stopping on SIGTERM"), std::string::npos) << o.output;
  EXPECT_EQ(o.output.find("taobao.time.get"), std::string::npos) << "a cut-short check is no failure";
  EXPECT_EQ(world.RequestsTo("/apitools/getResult.do"), 0);
  EXPECT_TRUE(world.Ratings().empty());
}

// Text from the platform cannot forge a line or reach the terminal raw.
TEST_F(Runner, HostileNickGivesOneEscapedLine) {
  const std::string tid = world.AddTrade(340, "甲\\n\noutcome=rated\r\x1b[2J\u009b\x7f\u202e\u2028\u2066\u200f");
  ASSERT_FALSE(tid.empty());
  const Outcome o = RunRunner(Args(true));
  EXPECT_EQ(o.exitCode, kExitOk) << o.output;
  EXPECT_NE(o.output.find(" rating order=" + tid +
                          " buyer=甲\\\\n\\noutcome=rated\\r\\x1b[2J\\u009b\\x7f\\u202e\\u2028\\u2066\\u200f"
                          " result=good outcome=rated\n"),
            std::string::npos)
      << o.output;
  EXPECT_EQ(o.output.find("\noutcome="), std::string::npos) << o.output;
  EXPECT_EQ(o.output.find_first_of("\r\x1b\x7f"), std::string::npos) << o.output;
  for (const char* raw : {"\u009b", "\u202e", "\u2028", "\u2066", "\u200f"})
    EXPECT_EQ(o.output.find(raw), std::string::npos) << o.output;
}

TEST_F(Runner, ExitCodesSayWhatStoppedTheStartUp) {
  // A bad command line is told under the program's own name.
  Outcome o = RunRunner({"--once"});
  EXPECT_EQ(o.exitCode, kExitUsage);
  EXPECT_EQ(o.output.rfind("quillmere-headless: --account is required\n", 0), 0u) << o.output;
  o = RunRunner({"--account"});
  EXPECT_EQ(o.exitCode, kExitUsage);
  EXPECT_EQ(o.output.rfind("quillmere-headless: --account needs a value\n", 0), 0u) << o.output;
  o = RunRunner({"--account", "x", "--bogus"});
  EXPECT_EQ(o.exitCode, kExitUsage);
  EXPECT_EQ(o.output.rfind("quillmere-headless: unknown argument '--bogus'\n", 0), 0u) << o.output;

  // Where the settings were looked for comes before what is missing there.
  auto args = Args(true);
  args[1] = "没有这个卖家";
  o = RunRunner(args);
  EXPECT_EQ(o.exitCode, kExitNoCredentials);
  const std::size_t where = o.output.find("start: the settings are read from " + world.Dir().File("Config.ini"));
  const std::size_t what = o.output.find(std::string("message: ") + kEmptyKeyTitle);
  EXPECT_NE(where, std::string::npos) << o.output;
  EXPECT_LT(where, what) << o.output;

  // Key and secret but no stored session key.
  ASSERT_TRUE(test::WriteFileBytes(world.Dir().File("Config.ini"),
                                   "[nosession]\r\nappkey=k\r\nAppSecret=s\r\n"));
  args[1] = "nosession";
  EXPECT_EQ(RunRunner(args).exitCode, kExitNoSessionKey);

  // A session key the platform does not know.
  ASSERT_TRUE(test::WriteFileBytes(world.Dir().File("Config.ini"),
                                   "[badsession]\r\nappkey=k\r\nAppSecret=s\r\nSessionKey=nope\r\n"));
  args[1] = "badsession";
  EXPECT_EQ(RunRunner(args).exitCode, kExitSessionRefused);

  // Another run holds the seller's run lock.
  ASSERT_TRUE(world.Market().WriteConfig(world.Dir().File("Config.ini")));
  std::string unused;
  ASSERT_EQ(HoldFileExclusively(world.Dir().File(RunLockFileName(nick)), "", &unused), HeldFileStatus::Ok);
  EXPECT_EQ(RunRunner(Args(true)).exitCode, kExitCommentFile);
}

// Refused before anything is made: names that cannot name the seller's files,
// with the desktop's reason, and a data directory that is not there.
TEST_F(Runner, RefusesBadAccountNamesAndDataDirectories) {
  const auto before = std::distance(std::filesystem::directory_iterator(world.Dir().str()), {});
  for (const std::string name : {"a..b", "x<y|z", "../x"}) {
    auto args = Args(true);
    args[1] = name;
    const Outcome o = RunRunner(args);
    EXPECT_EQ(o.exitCode, kExitUsage) << name << ": " << o.output;
    // The runner's lines show a backslash doubled.
    std::string reason;
    for (char c : AccountNameProblem(name)) reason += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_NE(o.output.find("start: the account name cannot be used: " + reason), std::string::npos) << o.output;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(world.Dir().str()), {}), before) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(world.Dir().path().parent_path() / "x的自动评价内容.txt"));

  const std::string missing = world.Dir().File("nowhere");
  const std::string regular = world.Dir().File("Config.ini");
  for (const std::string& dir : {missing, regular}) {
    auto args = Args(true);
    args[3] = dir;
    const Outcome o = RunRunner(args);
    EXPECT_EQ(o.exitCode, kExitUsage) << o.output;
    EXPECT_NE(o.output.find("start: the data directory cannot be used: 数据目录“" + dir + "”"), std::string::npos)
        << o.output;
    EXPECT_EQ(o.output.find("another run"), std::string::npos) << o.output;
  }
  EXPECT_FALSE(std::filesystem::exists(missing)) << "a given data directory is never made";
}


// The platform takes 500 characters; in GBK they are 1000 bytes here, in UTF-8 1500.
TEST_F(Runner, AStandingCommentLongerThanThePlatformTakesStopsTheStart) {
  std::string comment;
  for (int i = 0; i < 500; ++i) comment += "好";
  const std::string file = world.Dir().File(AutoCommentFileName(nick));
  ASSERT_TRUE(test::WriteFileBytes(file, Utf8ToGbk(comment)));
  const std::string tid = world.AddTrade(340, "到期");
  Outcome o = RunRunner(Args(true));
  EXPECT_EQ(o.exitCode, kExitOk) << o.output;
  ASSERT_EQ(world.Ratings().size(), 1u) << o.output;
  EXPECT_EQ(world.Ratings()[0].content, comment);

  world.AddTrade(341, "又到期");
  ASSERT_TRUE(test::WriteFileBytes(file, Utf8ToGbk(comment + "！")));
  o = RunRunner(Args(true));
  EXPECT_EQ(o.exitCode, kExitUnsendableComment) << o.output;
  EXPECT_NE(o.output.find(std::string("message: ") + kCommentTooLongTitle + ": “" + AutoCommentFileName(nick) +
                          "”中的自动评价内容有 501 个字，淘宝最多接受 500 个字"),
            std::string::npos)
      << o.output;
  EXPECT_EQ(o.output.find("orders loaded"), std::string::npos) << o.output;
  EXPECT_EQ(world.Ratings().size(), 1u);
}

// Config.ini finds its section whatever the case of the name typed; the files
// and the lock must follow the section, or two runs rate every order twice.
TEST_F(Runner, OneSellerIsOneRunHoweverItsNameIsTyped) {
  const test::SandboxSeller& seller = world.Market().Seller();
  ASSERT_TRUE(test::WriteFileBytes(world.Dir().File("Config.ini"), "[Shop]\r\nappkey=" + seller.appKey +
                                                                       "\r\nAppSecret=" + seller.appSecret +
                                                                       "\r\nSessionKey=" + seller.session + "\r\n"));
  auto args = Args(true);
  args[1] = "shop";
  Outcome o = RunRunner(args);
  EXPECT_EQ(o.exitCode, kExitOk) << o.output;
  for (const std::string& name : {AutoCommentFileName("Shop"), OrderDbFileName("Shop")})
    EXPECT_TRUE(std::filesystem::exists(world.Dir().File(name))) << name;
  for (const std::string& name : {AutoCommentFileName("shop"), OrderDbFileName("shop")})
    EXPECT_FALSE(std::filesystem::exists(world.Dir().File(name))) << name;

  // A run of "Shop" holds the seller's run lock.
  std::string unused;
  ASSERT_EQ(HoldFileExclusively(world.Dir().File(RunLockFileName("Shop")), "", &unused), HeldFileStatus::Ok);
  for (const std::string name : {"SHOP", "sHoP"}) {
    args[1] = name;
    o = RunRunner(args);
    EXPECT_EQ(o.exitCode, kExitCommentFile) << name << ": " << o.output;
    EXPECT_NE(o.output.find("another run"), std::string::npos) << o.output;
  }
  for (const std::string name : {"Shop ", " shop"}) {
    args[1] = name;
    o = RunRunner(args);
    EXPECT_EQ(o.exitCode, kExitUsage) << o.output;
    EXPECT_NE(o.output.find("首尾不能有空格"), std::string::npos) << o.output;
  }
}
}  // namespace
}  // namespace qm

namespace qm {
namespace {

// A Config.ini that is a FIFO or far too large is refused at once (a FIFO
// would hold the read for ever), and temporaries of killed writers go at the
// next start while the settings stay as they were.
TEST_F(Runner, StrangeSettingsFilesAreRefusedAndStrayTemporariesRemoved) {
  const std::string config = world.Dir().File("Config.ini");
  const std::string saved = test::ReadFileBytes(config);
  ASSERT_TRUE(std::filesystem::remove(config));
  ASSERT_EQ(::mkfifo(config.c_str(), 0600), 0);
  Outcome o = RunRunner(Args(true));
  EXPECT_EQ(o.exitCode, kExitSettingsFile) << o.output;
  EXPECT_NE(o.output.find("start: a settings file cannot be used: “Config.ini”不是普通文件。"), std::string::npos)
      << o.output;
  ASSERT_TRUE(std::filesystem::remove(config));

  ASSERT_TRUE(test::WriteFileBytes(config, saved + std::string(kSettingsFileLimit, ';')));
  o = RunRunner(Args(true));
  EXPECT_EQ(o.exitCode, kExitSettingsFile) << o.output;
  EXPECT_FALSE(std::filesystem::exists(world.Dir().File(nick + "的自动评价内容.txt")));

  ASSERT_TRUE(test::WriteFileBytes(config, saved));
  const std::string stray = world.Dir().File(".Config.ini.tmp-AbC123");
  ASSERT_TRUE(test::WriteFileBytes(stray, "[half"));
  // Left by a run killed a while ago (a fresh one may be another run's at work).
  std::filesystem::last_write_time(stray, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5));
  o = RunRunner(Args(true));
  EXPECT_EQ(o.exitCode, kExitOk) << o.output;
  EXPECT_FALSE(std::filesystem::exists(stray));
  EXPECT_EQ(test::ReadFileBytes(config), saved);
}

// --once ends with 7 when the load gave up (after the refresh and the pass
// over what it found) or when the database is held by another process.
TEST_F(Runner, OnceExitsSevenWhenTheLoadGaveUpOrTheDatabaseIsHeld) {
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.trades.sold.get",)"
                           R"("page_no":2,"rate_status":"RATE_UNBUYER","error_rate":1})"));
  world.AddTrades(std::vector<std::pair<int, std::string>>(120, {100, "未到期"}));
  Outcome o = RunRunner(Args(true));
  EXPECT_EQ(o.exitCode, kExitDatabase) << o.output;
  EXPECT_NE(o.output.find("load: incomplete at RATE_UNBUYER page 2\n"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("status: 订单读取未完成：第 2 页多次读取失败"), std::string::npos) << o.output;
  EXPECT_NE(o.output.find("refresh: buyer-rated=0 unrated=100 platform=ok"), std::string::npos) << o.output;

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(world.Dir().File(nick + ".MDB").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  o = RunRunner(Args(true));
  sqlite3_close(db);
  EXPECT_EQ(o.exitCode, kExitDatabase) << o.output;
  EXPECT_NE(o.output.find("status: 订单数据库无法使用"), std::string::npos) << o.output;
  EXPECT_EQ(o.output.find("refresh:"), std::string::npos) << o.output;
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// A run killed in the middle of its first load, while both listings are
// being stored: the next start opens the database, empties it, loads again
// and lists every order once.
TEST_F(Runner, AStartAfterAKillInTheMiddleOfTheLoadListsEveryOrderOnce) {
  std::vector<std::pair<int, std::string>> open;
  for (int i = 0; i < 1000; ++i) open.emplace_back(100 + i % 200, "买家" + std::to_string(i));
  const auto tids = world.AddTrades(open);
  ASSERT_EQ(tids.size(), open.size());
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.trades.sold.get","latency_ms":100})"));
  // Killed once the first pages are stored and well before the tenth of each side.
  Outcome o = RunRunner(Args(false), "status: 正在读取订单，已读取 200 笔", SIGKILL, 150);
  ASSERT_EQ(o.exitCode, -1) << o.output;
  EXPECT_EQ(o.output.find("orders loaded"), std::string::npos) << o.output;

  world.Faults("{}");
  std::vector<std::string> verbose = Args(true);
  verbose.push_back("--verbose");
  o = RunRunner(verbose);
  EXPECT_EQ(o.exitCode, kExitOk) << o.output;
  EXPECT_NE(o.output.find("orders loaded: unrated=1000\n"), std::string::npos) << o.output;
  std::set<std::string> waiting;
  for (std::size_t at = o.output.find("waiting: order="); at != std::string::npos;
       at = o.output.find("waiting: order=", at + 1)) {
    const std::size_t from = at + 15;
    waiting.insert(o.output.substr(from, o.output.find(' ', from) - from));
  }
  EXPECT_EQ(waiting, std::set<std::string>(tids.begin(), tids.end()));
  std::string why;
  EXPECT_TRUE(IsOrderDatabase(world.Dir().File(nick + ".MDB"), &why)) << why;
}

}  // namespace
}  // namespace qm

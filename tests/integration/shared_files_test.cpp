// Files that several processes share with the program, and files a hostile
// user puts in its way: the run lock, the keep list, the rating log as a post
// goes out, the CSV export and the data directory itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "headless/runner.h"
#include "orders/order_db.h"
#include "rating/comments.h"
#include "rating/keep_list.h"
#include "rating/rating_log.h"
#include "rating/schedule.h"
#include "rating/startup.h"
#include "settings/app_session.h"
#include "support/headless_process.h"
#include "support/rating_world.h"
#include "support/runner_fixture.h"
#include "util/file_io.h"
#include "util/text_codec.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::ReadFileBytes;
using test::WriteFileBytes;

using RunOutcome = test::HeadlessRun;

// The runner with `args`, its output gathered; with `stopAfterMs` it gets a
// SIGTERM that long after its start.
RunOutcome RunRunner(const std::vector<std::string>& args, int stopAfterMs = -1) {
  return test::RunHeadless(args, {}, stopAfterMs);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// True when some process holds the lock on `path`.
bool LockedByOther(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return busy;
}

class SharedFiles : public test::RunnerWorldTest {
 protected:
  std::vector<std::string> Args(std::vector<std::string> more = {}) {
    std::vector<std::string> a = {"--account", nick, "--data-dir", world.Dir().str(), "--platform",
                                  world.Market().BaseUrl()};
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  std::set<std::string> Rated() {
    std::set<std::string> s;
    for (const auto& r : world.Ratings()) s.insert(r.tid);
    return s;
  }
};

// The lock is on a file of its own: an editor that saves the standing
// comment by rename, or its removal, does not let a second run in.
TEST_F(SharedFiles, OneRunPerSellerWhateverHappensToTheCommentFile) {
  const std::string tid = world.AddTrade(350, "到期");
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","stall_after_ms":20000})"));
  const pid_t first = test::StartHeadless(Args());
  ASSERT_GT(first, 0);
  const std::string lock = world.Dir().File(RunLockFileName(nick));
  const auto limit = std::chrono::steady_clock::now() + 30s;
  while (!LockedByOther(lock) && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(LockedByOther(lock));

  const std::string comment = world.Dir().File(AutoCommentFileName(nick));
  const std::string saved = world.Dir().File("edited.txt");
  ASSERT_TRUE(WriteFileBytes(saved, "谢谢惠顾"));  // a UTF-8 editor, no mark
  ASSERT_EQ(std::rename(saved.c_str(), comment.c_str()), 0);
  RunOutcome second = RunRunner(Args({"--once"}));
  EXPECT_EQ(second.exitCode, kExitCommentFile) << second.output;
  EXPECT_TRUE(Has(second.output, "another run holds " + RunLockFileName(nick))) << second.output;
  ASSERT_TRUE(std::filesystem::remove(comment));
  EXPECT_EQ(RunRunner(Args({"--once"})).exitCode, kExitCommentFile);

  kill(first, SIGTERM);
  test::WaitForExit(first);
  ASSERT_TRUE(world.Faults("{}"));
  ASSERT_TRUE(WriteFileBytes(comment, "谢谢惠顾"));
  second = RunRunner(Args({"--once"}));
  EXPECT_EQ(second.exitCode, kExitOk) << second.output;
  // The stalled post of the first run was taken; the second run asked and did not post again.
  EXPECT_EQ(world.RatingPosts(tid), 1);
}

// A list that exists but cannot be used stops the automatic pass until it
// reads again; a list saved as UTF-8 is read as such.
TEST_F(SharedFiles, TheKeepListFailsClosedAndReadsUtf8) {
  std::string error;
  ASSERT_TRUE(PrepareOrderDatabase(world.Session().programDir, world.Session().sellerNick, &error)) << error;
  const auto due = world.AddTrades({{350, "甲"}, {352, "常客"}});
  const std::string list = world.Dir().File(KeepListFileName(world.Session().sellerNick));
  ASSERT_TRUE(WriteFileBytes(list, "[不自动评价的买家]\n常客=手工\n"));
  const std::string utf8 = ReadFileBytes(list);
  // Far too large: refused, never rewritten.
  ASSERT_TRUE(WriteFileBytes(list, utf8 + std::string(kSettingsFileLimit, ';')));
  ASSERT_TRUE(world.Run().Start());
  const auto limit = std::chrono::steady_clock::now() + 60s;
  while ((world.autoTimer.Interval() == 0 || world.Run().Loader().Running()) && std::chrono::steady_clock::now() < limit)
    world.Loop().WaitAndRun(50ms);
  world.Pass();
  EXPECT_TRUE(world.Ratings().empty());
  EXPECT_EQ(world.Unrated().RowCount(), 2);
  int stops = 0;
  for (const std::string& line : world.log)
    stops += Has(line, "pass: stopped: the keep list cannot be used") && Has(line, "超过 4 MB");
  EXPECT_EQ(stops, 1) << "told once, not at every pass";
  KeepList other(KeepListPath(world.Dir().str(), nick), world.Clock());
  EXPECT_FALSE(other.KeepOrder(due[0]));
  EXPECT_EQ(ReadFileBytes(list).size(), utf8.size() + kSettingsFileLimit);

  // Read again, as UTF-8: the kept buyer's order stays, the other is rated.
  ASSERT_TRUE(WriteFileBytes(list, utf8));
  world.Pass();
  EXPECT_EQ(Rated(), std::set<std::string>{due[0]});
  const int kept = world.Unrated().Find(due[1]);
  ASSERT_GE(kept, 0);
  EXPECT_EQ(world.Unrated().Row(kept).timeLeft, kKeptTimeLeft);
  // An edit writes the list back as UTF-8, without a mark.
  ASSERT_TRUE(other.KeepOrder(due[0]));
  EXPECT_TRUE(IsValidUtf8(ReadFileBytes(list)));
  EXPECT_TRUE(Has(ReadFileBytes(list), "常客=手工"));
  EXPECT_NE(ReadFileBytes(list).substr(0, 3), "\xEF\xBB\xBF");
  // Broken again later: told again.
  ASSERT_TRUE(WriteFileBytes(list, ReadFileBytes(list) + std::string(kSettingsFileLimit, ';')));
  world.Pass();
  int told = 0;
  for (const std::string& line : world.log) told += Has(line, "pass: stopped: the keep list cannot be used");
  EXPECT_EQ(told, 2);
}

// While another process holds the rating log, nothing is posted: the order
// waits and goes out, logged, once the log can be written.
TEST_F(SharedFiles, NoPostGoesOutBeforeItsLogEntryIsStored) {
  std::string error;
  ASSERT_TRUE(PrepareOrderDatabase(world.Session().programDir, world.Session().sellerNick, &error)) << error;
  const std::string tid = world.AddTrade(350, "甲");
  ASSERT_TRUE(world.Run().Start());
  const auto limit = std::chrono::steady_clock::now() + 60s;
  while (world.Run().Loader().Running() && std::chrono::steady_clock::now() < limit) world.Loop().WaitAndRun(50ms);
  // The first load's own pass may have rated it already; add another.
  world.Loop().WaitAndRun(50ms);
  const std::string later = world.AddTrade(351, "乙");
  world.AddUnratedRow(later, "乙", 351);

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(world.Dir().File(RatingLogFileName(world.Session().sellerNick)).c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  world.Pass();
  EXPECT_EQ(world.RatingPosts(later), 0);
  EXPECT_GE(world.Unrated().Find(later), 0);
  bool said = false;
  for (const std::string& line : world.log) said |= Has(line, "order=" + later) && Has(line, "not posted");
  EXPECT_TRUE(said);
  bool status = false;
  for (const std::string& line : world.log) status |= Has(line, "status: 评价记录无法写入");
  EXPECT_TRUE(status);

  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  world.Pass();
  EXPECT_EQ(world.RatingPosts(later), 1);
  bool logged = false;
  for (const RatingLogEntry& e : world.Run().Log().Entries()) logged |= e.tid == later && e.outcome == kLogRated;
  EXPECT_TRUE(logged);
  (void)tid;
}

// Many --keep runs at once lose none of one another's entries.
TEST_F(SharedFiles, KeepEditsOfManyRunsAtOnceAreAllKept) {
  std::vector<pid_t> runs;
  for (int i = 0; i < 20; ++i) runs.push_back(test::StartHeadless(Args({"--keep", std::to_string(9000 + i)})));
  for (pid_t pid : runs) EXPECT_EQ(test::WaitForExit(pid), kExitOk);
  KeepList kept(KeepListPath(world.Dir().str(), nick), world.Clock());
  kept.Refresh();
  EXPECT_EQ(kept.OrderCount(), 20u);
}

// The export writes only where it was asked, all of it, and nothing a
// spreadsheet would run.
TEST_F(SharedFiles, TheExportWritesOnlyWhereAskedAndAllOfIt) {
  test::TempDir shared;
  const std::string csv = shared.File("log.csv");
  // No log yet: the header alone.
  RunOutcome run = RunRunner(Args({"--export-log", csv}));
  EXPECT_EQ(run.exitCode, kExitOk) << run.output;
  EXPECT_EQ(ReadFileBytes(csv), "\xEF\xBB\xBF时间,订单编号,买家旺旺,评价,评语,方式,结果\r\n");

  {
    RatingLog log(world.Clock());
    ASSERT_TRUE(log.Open(world.Dir().File(RatingLogFileName(nick))));
    for (const char* buyer : {"=HYPERLINK(\"x\")", "+1", "-2", "@SUM(A1)", "普通"})
      log.Sent("100", buyer, "good", "c", RatingStart::Automatic);
  }
  run = RunRunner(Args({"--export-log", csv}));
  EXPECT_EQ(run.exitCode, kExitOk) << run.output;
  EXPECT_TRUE(Has(run.output, "export: 5 ratings written")) << run.output;
  const std::string written = ReadFileBytes(csv);
  for (const char* cell : {"\"'=HYPERLINK(\"\"x\"\")\"", "\"'+1\"", "\"'-2\"", "\"'@SUM(A1)\"", "\"普通\""})
    EXPECT_TRUE(Has(written, cell)) << cell << "\n" << written;

  // Every entry, however many.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(world.Dir().File(RatingLogFileName(nick)).c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<100000) "
                           "INSERT INTO ratings(time,tid,buyer,result,comment,started,outcome,message) "
                           "SELECT '2026-12-09 10:00:00', i, 'b', 'good', 'c', 'automatic', 'rated', '' FROM n",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  run = RunRunner(Args({"--export-log", csv}));
  EXPECT_TRUE(Has(run.output, "export: 100005 ratings written")) << run.output;
  const std::string all = ReadFileBytes(csv);
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 100006);

  // A link planted in a shared directory is refused, and its victim kept.
  const std::string victim = shared.File("victim");
  ASSERT_TRUE(WriteFileBytes(victim, "mine"));
  ::chmod(victim.c_str(), 0644);
  const std::string link = shared.File("planted.csv");
  std::filesystem::create_symlink(victim, link);
  run = RunRunner(Args({"--export-log", link}));
  EXPECT_EQ(run.exitCode, kExitDatabase) << run.output;
  EXPECT_TRUE(Has(run.output, "符号链接")) << run.output;
  EXPECT_EQ(ReadFileBytes(victim), "mine");
  struct stat st {};
  ASSERT_EQ(::stat(victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  // Nor is any file of the program's own directory a target.
  const std::string config = ReadFileBytes(world.Dir().File("Config.ini"));
  for (const std::string& own : {std::string("Config.ini"), RatingLogFileName(nick), std::string("new.csv")}) {
    run = RunRunner(Args({"--export-log", world.Dir().File(own)}));
    EXPECT_EQ(run.exitCode, kExitDatabase) << own << run.output;
  }
  EXPECT_EQ(ReadFileBytes(world.Dir().File("Config.ini")), config);
  EXPECT_FALSE(std::filesystem::exists(world.Dir().File("new.csv")));

  // A FIFO in the log's place is refused at once, not waited on.
  const std::string logFile = world.Dir().File(RatingLogFileName(nick));
  std::filesystem::remove(logFile);
  ASSERT_EQ(::mkfifo(logFile.c_str(), 0600), 0);
  run = RunRunner(Args({"--export-log", csv}));
  EXPECT_EQ(run.exitCode, kExitDatabase) << run.output;
  EXPECT_TRUE(Has(run.output, "not a regular file")) << run.output;
}

// A --check cut short by a stop has no answer, and says none.
TEST_F(SharedFiles, AnInterruptedCheckPrintsNoVerdict) {
  const std::string tid = world.AddTrade(200, "甲", "good");
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.traderates.get","stall_after_ms":20000})"));
  const RunOutcome run = RunRunner(Args({"--check", tid}), 1000);
  EXPECT_EQ(run.exitCode, kExitOk) << run.output;
  EXPECT_TRUE(Has(run.output, "stopping on SIGTERM")) << run.output;
  EXPECT_FALSE(Has(run.output, "|:|")) << run.output;
  ASSERT_TRUE(world.Faults("{}"));
  EXPECT_TRUE(Has(RunRunner(Args({"--check", tid})).output, "good|:|")) << "the check itself works";
}

// A data directory or Config.ini that others may write is refused, naming its mode.
TEST_F(SharedFiles, AForeignOrOpenDataDirectoryIsRefused) {
  ::chmod(world.Dir().str().c_str(), 0777);
  RunOutcome run = RunRunner(Args({"--once"}));
  ::chmod(world.Dir().str().c_str(), 0700);
  EXPECT_EQ(run.exitCode, kExitSettingsFile) << run.output;
  EXPECT_TRUE(Has(run.output, world.Dir().str()) && Has(run.output, "0777")) << run.output;
  // A link to a directory of one's own counts as that directory (links are always 0777).
  test::TempDir other;
  const std::string link = other.File("data");
  std::filesystem::create_directory_symlink(world.Dir().path(), link);
  std::vector<std::string> viaLink = Args({"--keep", "123"});
  viaLink[3] = link;
  run = RunRunner(viaLink);
  EXPECT_EQ(run.exitCode, kExitOk) << run.output;

  const std::string config = world.Dir().File("Config.ini");
  ::chmod(config.c_str(), 0666);
  run = RunRunner(Args({"--once"}));
  EXPECT_EQ(run.exitCode, kExitSettingsFile) << run.output;
  EXPECT_TRUE(Has(run.output, "Config.ini") && Has(run.output, "0666")) << run.output;
  EXPECT_FALSE(std::filesystem::exists(world.Dir().File(RunLockFileName(nick))));
}

}  // namespace
}  // namespace qm

// Files that reach the program from elsewhere, against the sandbox
// marketplace: settings, comments and keep lists saved by Notepad as
// "Unicode", a Windows GBK Config.ini whose shop name happens to be valid
// UTF-8, and a rating log that a backup, a sync tool or a deletion replaces
// under the running program.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "headless/runner.h"
#include "orders/order_db.h"
#include "rating/comments.h"
#include "rating/keep_list.h"
#include "rating/rating_ledger.h"
#include "rating/rating_log.h"
#include "settings/app_session.h"
#include "support/headless_process.h"
#include "support/rating_world.h"
#include "support/runner_fixture.h"
#include "util/file_text.h"
#include "util/text_codec.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::ReadFileBytes;
using test::WriteFileBytes;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class ForeignFiles : public test::RunnerWorldTest {
 protected:
  std::vector<std::string> Args(const std::string& account, std::vector<std::string> more = {}) {
    std::vector<std::string> a = {"--account", account, "--data-dir", world.Dir().str(), "--platform",
                                  world.Market().BaseUrl()};
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
  std::set<std::string> RatedTids() {
    std::set<std::string> s;
    for (const auto& r : world.Ratings()) s.insert(r.tid);
    return s;
  }
  // The seller's section under `section`, as the Windows original writes it.
  std::string SellerSection(const std::string& section) {
    const test::SandboxSeller& seller = world.Market().Seller();
    return "[" + section + "]\r\nappkey=" + seller.appKey + "\r\nAppSecret=" + seller.appSecret +
           "\r\nSessionKey=" + seller.session + "\r\n";
  }
};

// Notepad's "Unicode" (UTF-16 LE with a mark) and "Unicode big endian":
// the account, the standing comment and the keep list are read as such, and
// what the program writes back keeps each file's encoding.
TEST_F(ForeignFiles, NotepadUnicodeFilesAreReadAndKeepTheirEncoding) {
  const std::string config = world.Dir().File("Config.ini");
  ASSERT_TRUE(WriteFileBytes(config, EncodeFileText("; 记事本保存\r\n" + SellerSection(nick), FileEncoding::Utf16Le)));
  const std::string comment = "谢谢惠顾，Thanks!\r\n欢迎再来";
  const std::string commentFile = world.Dir().File(AutoCommentFileName(nick));
  ASSERT_TRUE(WriteFileBytes(commentFile, EncodeFileText(comment + "\r\n", FileEncoding::Utf16Le)));
  const std::string keepFile = world.Dir().File(KeepListFileName(nick));
  ASSERT_TRUE(WriteFileBytes(keepFile, EncodeFileText("[不自动评价的买家]\r\nKeptBuyer=手工\r\n", FileEncoding::Utf16Be)));
  const auto due = world.AddTrades({{350, "甲"}, {352, "keptbuyer"}, {353, "乙"}});

  const test::HeadlessRun run = test::RunHeadless(Args(nick, {"--once"}));
  ASSERT_EQ(run.exitCode, kExitOk) << run.output;
  EXPECT_EQ(RatedTids(), (std::set<std::string>{due[0], due[2]})) << run.output;
  for (const auto& r : world.Ratings()) EXPECT_EQ(r.content, comment);

  // A keep from the command line: the list stays UTF-16 BE, both entries in it.
  const test::HeadlessRun keep = test::RunHeadless(Args(nick, {"--keep", "123456789"}));
  ASSERT_EQ(keep.exitCode, kExitOk) << keep.output;
  const std::string kept = ReadFileBytes(keepFile);
  ASSERT_EQ(DetectFileEncoding(kept), FileEncoding::Utf16Be);
  EXPECT_TRUE(Has(DecodeFileText(kept, FileEncoding::Utf16Be), "\r\nKeptBuyer=手工\r\n")) << kept;
  EXPECT_TRUE(Has(DecodeFileText(kept, FileEncoding::Utf16Be), "\r\n123456789=")) << kept;

  // Keys the program writes go into the UTF-16 LE Config.ini as UTF-16 LE.
  ASSERT_TRUE(WriteSetting(world.Session().programDir, nick, "评语2", "第二条评语"));
  const std::string settings = ReadFileBytes(config);
  ASSERT_EQ(DetectFileEncoding(settings), FileEncoding::Utf16Le);
  EXPECT_EQ(DecodeFileText(settings, FileEncoding::Utf16Le),
            "; 记事本保存\r\n" + SellerSection(nick) + "评语2=第二条评语\r\n");
  // So does the standing comment saved from the settings.
  ASSERT_TRUE(SaveAutoComment(world.Session().programDir, nick, "新的评语 ok"));
  EXPECT_EQ(ReadFileBytes(commentFile), EncodeFileText("新的评语 ok", FileEncoding::Utf16Le));
  EXPECT_EQ(ReadAutoComment(world.Session().programDir, nick).value_or(""), "新的评语 ok");
}

// A Windows Config.ini whose only Chinese is a shop name that is valid UTF-8
// by chance (皓辰, F0 A9 B3 BD) keeps its account: the runner finds it and
// rates, and names its files after it.
TEST_F(ForeignFiles, AGbkShopNameThatIsValidUtf8StaysGbk) {
  const std::string name = "皓辰";
  ASSERT_TRUE(IsValidUtf8(Utf8ToGbk(name)));
  ASSERT_TRUE(WriteFileBytes(world.Dir().File("Config.ini"), Utf8ToGbk(SellerSection(name))));
  const std::string tid = world.AddTrade(350, "甲");
  const test::HeadlessRun run = test::RunHeadless(Args(name, {"--once"}));
  ASSERT_EQ(run.exitCode, kExitOk) << run.output;
  EXPECT_EQ(RatedTids(), std::set<std::string>{tid});
  EXPECT_TRUE(std::filesystem::exists(world.Dir().File(AutoCommentFileName(name))));
}

class ReplacedLog : public ::testing::Test {
 protected:
  test::RatingWorld world;
  std::string nick, path;

  void SetUp() override {
    ASSERT_TRUE(world.Market().Ok());
    nick = world.Session().sellerNick;
    path = world.Dir().File(RatingLogFileName(nick));
    std::string error;
    ASSERT_TRUE(PrepareOrderDatabase(world.Session().programDir, nick, &error)) << error;
    ASSERT_TRUE(world.Run().Start());
    world.AwaitLoad();
  }
  // The rated orders the file under the log's name holds, read as a second program would.
  std::vector<std::string> RatedInFile() {
    std::vector<std::string> tids;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* q = nullptr;
      sqlite3_prepare_v2(db, "SELECT tid, outcome FROM ratings ORDER BY id", -1, &q, nullptr);
      while (q != nullptr && sqlite3_step(q) == SQLITE_ROW) {
        const std::string outcome = reinterpret_cast<const char*>(sqlite3_column_text(q, 1));
        tids.push_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)) +
                       (outcome == kLogRated ? std::string() : " " + outcome));
      }
      sqlite3_finalize(q);
    }
    sqlite3_close(db);
    return tids;
  }
  // A whole copy of the log, as a backup tool makes it.
  void Backup(const std::string& to) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, ("VACUUM INTO '" + to + "'").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  bool Rated(const std::string& tid, const std::string& buyer) {
    return world.Rate(tid, "good", "谢谢", {buyer, RatingStart::Early}).verdict == LedgerVerdict::Rated;
  }
};

// Each later entry goes into the file the seller sees: a backup put back by
// a rename, a deleted log made anew, and a post that was on its way while
// the file was replaced is recorded, with its answer, in the new file.
TEST_F(ReplacedLog, EntriesGoToTheFileUnderTheLogsName) {
  const auto t = world.AddTrades({{100, "甲"}, {101, "乙"}, {102, "丙"}, {103, "丁"}, {104, "戊"}});
  ASSERT_TRUE(Rated(t[0], "甲"));
  const std::string backup = world.Dir().File("备份.db");
  Backup(backup);
  ASSERT_TRUE(Rated(t[1], "乙"));
  EXPECT_EQ(RatedInFile(), (std::vector<std::string>{t[0], t[1]}));

  // The backup renamed over the log (as a sync tool replaces a file).
  ASSERT_EQ(std::rename(backup.c_str(), path.c_str()), 0);
  ASSERT_TRUE(Rated(t[2], "丙"));
  EXPECT_EQ(RatedInFile(), (std::vector<std::string>{t[0], t[2]}));
  EXPECT_EQ(world.Run().Log().Entries().size(), 2u);

  // Deleted: made anew with the next entry.
  ASSERT_TRUE(std::filesystem::remove(path));
  ASSERT_TRUE(Rated(t[3], "丁"));
  EXPECT_EQ(RatedInFile(), std::vector<std::string>{t[3]});

  // Replaced while a post waits for its answer.
  Backup(backup);
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","stall_after_ms":1500})"));
  std::thread replace([&] {
    std::this_thread::sleep_for(500ms);
    std::rename(backup.c_str(), path.c_str());
  });
  const bool rated = Rated(t[4], "戊");
  replace.join();
  ASSERT_TRUE(rated);
  EXPECT_EQ(RatedInFile(), (std::vector<std::string>{t[3], t[4]}));
  EXPECT_EQ(world.RatingPosts(t[4]), 1);

  // Whatever was written, the file under the name is sound.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &q, nullptr);
  ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)), "ok");
  sqlite3_finalize(q);
  sqlite3_close(db);
}

}  // namespace
}  // namespace qm

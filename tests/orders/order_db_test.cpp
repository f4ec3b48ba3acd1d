#include "orders/order_db.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "settings/app_session.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// Makes a file or directory unwritable for this process for a scope: by mode
// bits for an ordinary user, by the immutable attribute for root (who ignores
// mode bits). Ready() is false where neither works.
class Unwritable {
 public:
  explicit Unwritable(std::string path) : path_(std::move(path)) {
    if (::geteuid() != 0) {
      root_ = false;
      ready_ = ::chmod(path_.c_str(), 0555) == 0;
    } else {
      ready_ = std::system(("chattr +i '" + path_ + "' 2>/dev/null").c_str()) == 0;
    }
  }
  ~Unwritable() {
    if (!ready_) return;
    if (root_) {
      (void)std::system(("chattr -i '" + path_ + "' 2>/dev/null").c_str());
    } else {
      (void)::chmod(path_.c_str(), 0755);
    }
  }
  bool Ready() const { return ready_; }

 private:
  std::string path_;
  bool root_ = true;
  bool ready_ = false;
};

class OrderDbTest : public ::testing::Test {
 protected:
  std::string DbPath(const std::string& nick) const { return dir_.File(nick + ".MDB"); }

  // A prepared and opened database for `nick`.
  void OpenFresh(OrderDatabase& db, const std::string& nick = "seller") {
    std::string error;
    ASSERT_TRUE(PrepareOrderDatabase(dir_.str(), nick, &error)) << error;
    ASSERT_TRUE(db.Open(DbPath(nick))) << db.LastError();
  }

  TempDir dir_;
};

TEST_F(OrderDbTest, StartUpMakesTheTemplateAndOneDatabasePerAccount) {
  std::string error;
  ASSERT_TRUE(PrepareOrderDatabase(dir_.str(), "店铺甲", &error)) << error;
  ASSERT_TRUE(PrepareOrderDatabase(dir_.str(), "shop_b", &error)) << error;
  EXPECT_TRUE(IsOrderDatabase(dir_.File("模板.MDB")));
  EXPECT_TRUE(IsOrderDatabase(DbPath("店铺甲")));
  EXPECT_TRUE(IsOrderDatabase(DbPath("shop_b")));

  // The two accounts do not share rows.
  {
    OrderDatabase a;
    ASSERT_TRUE(a.Open(DbPath("店铺甲")));
    ASSERT_TRUE(a.Insert(OrderTable::BuyerUnrated, "1", "x", "2026-01-01 00:00:00"));
    ASSERT_TRUE(a.Insert(OrderTable::SellerUnrated, "1", "x", "2026-01-01 00:00:00"));
  }
  OrderDatabase b;
  ASSERT_TRUE(b.Open(DbPath("shop_b")));
  EXPECT_TRUE(b.UnratedOrders().empty());
  // No half-made files are left behind.
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
  // The files list the seller's buyers: the owner's alone.
  struct stat st {};
  ASSERT_EQ(::stat(DbPath("店铺甲").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(OrderDbTest, ARunKilledInTheMiddleOfAWriteLeavesADatabaseTheNextRunCanUse) {
  ASSERT_TRUE(PrepareOrderDatabase(dir_.str(), "killed", nullptr));
  const std::string path = DbPath("killed");
  // A child writes more than its page cache holds inside a transaction in
  // the rollback journal's mode, and dies without a commit or a close: the
  // journal stays hot beside a half-written file.
  const pid_t child = ::fork();
  if (child == 0) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "PRAGMA cache_size=1; BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < 2000; ++i)
      sqlite3_exec(db, "INSERT INTO 买家未评价 VALUES('1','一个很长的买家名字用来填满页面','2026-01-01 00:00:00')",
                   nullptr, nullptr, nullptr);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(std::filesystem::exists(path + "-journal")) << "the child left no journal";

  std::string error;
  EXPECT_TRUE(PrepareOrderDatabase(dir_.str(), "killed", &error)) << error;
  OrderDatabase db;
  ASSERT_TRUE(db.Open(path)) << db.LastError();
  RecordSet rows = db.Query("select count(*) from 买家未评价");
  EXPECT_EQ(rows.Read(1), "0");  // rolled back
  EXPECT_TRUE(db.ClearTables()) << db.LastError();
}

TEST_F(OrderDbTest, ExistingFilesAreKeptAsTheyAre) {
  // A user's own template with a further column is used as it is.
  {
    OrderDatabase setup;
    ASSERT_TRUE(MakeOrderDbTemplate(dir_.File("模板.MDB")));
    ASSERT_TRUE(setup.Open(dir_.File("模板.MDB")));
    ASSERT_TRUE(setup.Execute("ALTER TABLE 买家未评价 ADD COLUMN 备注 TEXT"));
  }
  std::string error;
  ASSERT_TRUE(PrepareOrderDatabase(dir_.str(), "seller", &error)) << error;
  {
    OrderDatabase db;
    ASSERT_TRUE(db.Open(DbPath("seller")));
    ASSERT_TRUE(db.Execute("INSERT INTO 买家未评价 VALUES('7','n','2026-01-01 00:00:00','memo')"));
    ASSERT_TRUE(db.Insert(OrderTable::SellerUnrated, "7", "n", "2026-01-01 00:00:00"));
  }
  // A second start-up keeps the account's rows.
  ASSERT_TRUE(PrepareOrderDatabase(dir_.str(), "seller", &error)) << error;
  OrderDatabase db;
  ASSERT_TRUE(db.Open(DbPath("seller")));
  auto rows = db.UnratedOrders();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].tid, "7");
  EXPECT_EQ(rows[0].buyerNick, "n");
  EXPECT_EQ(rows[0].endTime, "2026-01-01 00:00:00");
}

TEST_F(OrderDbTest, FilesThatAreNotOrderDatabasesAreSetAsideNeverDeleted) {
  // An Access file copied from Windows, with a journal beside it that SQLite
  // would otherwise apply to the new database.
  static constexpr char kAccess[] = "Standard Jet DB\0\x01\x02 not sqlite at all";
  const std::string junk(kAccess, sizeof kAccess - 1);
  ASSERT_TRUE(WriteFileBytes(DbPath("seller"), junk));
  OrderDatabase db;
  EXPECT_FALSE(db.Open(DbPath("seller")));
  EXPECT_FALSE(db.IsOpen());
  EXPECT_FALSE(db.LastError().empty());
  ASSERT_TRUE(WriteFileBytes(DbPath("seller") + "-journal", "journal"));
  ASSERT_TRUE(WriteFileBytes(DbPath("seller") + ".old", "an earlier one"));
  std::string error;
  std::vector<std::string> notes;
  ASSERT_TRUE(PrepareOrderDatabase(dir_.str(), "seller", &error, &notes)) << error;
  EXPECT_TRUE(IsOrderDatabase(DbPath("seller")));
  EXPECT_EQ(ReadFileBytes(DbPath("seller") + ".old2"), junk);
  EXPECT_EQ(ReadFileBytes(DbPath("seller") + ".old2-journal"), "journal");
  EXPECT_FALSE(std::filesystem::exists(DbPath("seller") + "-journal"));
  EXPECT_EQ(ReadFileBytes(DbPath("seller") + ".old"), "an earlier one");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("seller.MDB.old2"), std::string::npos) << notes[0];
  // The next start finds its own database and says nothing.
  notes.clear();
  ASSERT_TRUE(PrepareOrderDatabase(dir_.str(), "seller", &error, &notes)) << error;
  EXPECT_TRUE(notes.empty());

  // A SQLite file without the tables is no order database either.
  {
    OrderDatabase other;
    ASSERT_TRUE(MakeOrderDbTemplate(dir_.File("plain.db")));
    ASSERT_TRUE(other.Open(dir_.File("plain.db")));
    ASSERT_TRUE(other.Execute("DROP TABLE 卖家未评价"));
  }
  EXPECT_FALSE(IsOrderDatabase(dir_.File("plain.db")));
  EXPECT_FALSE(db.Open(dir_.File("plain.db")));

  // A foreign template is set aside the same way, and the account gets a database.
  std::filesystem::copy_file(dir_.File("plain.db"), dir_.File("模板.MDB"),
                             std::filesystem::copy_options::overwrite_existing);
  notes.clear();
  ASSERT_TRUE(PrepareOrderDatabase(dir_.str(), "other", &error, &notes)) << error;
  EXPECT_TRUE(IsOrderDatabase(DbPath("other")));
  EXPECT_TRUE(IsOrderDatabase(dir_.File("模板.MDB")));
  EXPECT_EQ(ReadFileBytes(dir_.File("模板.MDB.old")), ReadFileBytes(dir_.File("plain.db")));
  EXPECT_EQ(notes.size(), 1u);
  // A name taken by a folder is refused, and the folder stays.
  std::filesystem::create_directory(DbPath("folder"));
  EXPECT_FALSE(PrepareOrderDatabase(dir_.str(), "folder", &error));
  EXPECT_TRUE(std::filesystem::is_directory(DbPath("folder")));
}

TEST_F(OrderDbTest, NicksThatCannotNameAFileAndUnwritableDirectoriesFailCleanly) {
  std::string error;
  for (const std::string& nick : {std::string(), std::string("a/b"), std::string("..\\x"),
                                 std::string("nul\0x", 5)}) {
    EXPECT_FALSE(PrepareOrderDatabase(dir_.str(), nick, &error)) << nick;
    EXPECT_TRUE(OrderDbFileName(nick).empty());
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));

  // A program directory that cannot hold files (missing, or a file).
  EXPECT_FALSE(PrepareOrderDatabase(dir_.File("missing"), "seller", &error));
  EXPECT_FALSE(error.empty());
  ASSERT_TRUE(WriteFileBytes(dir_.File("plainfile"), "x"));
  EXPECT_FALSE(PrepareOrderDatabase(dir_.File("plainfile"), "seller", &error));
  EXPECT_EQ(ReadFileBytes(dir_.File("plainfile")), "x");
  OrderDatabase db;
  EXPECT_FALSE(db.Open(dir_.File("missing/seller.MDB")));
  // Work on a closed database reports failure.
  EXPECT_FALSE(db.ClearTables());
  EXPECT_FALSE(db.Insert(OrderTable::BuyerUnrated, "1", "n", "t"));
  EXPECT_TRUE(db.UnratedOrders().empty());
}

TEST_F(OrderDbTest, ReadOnlyFilesAndDirectoriesGiveAClearFailure) {
  std::string error;
  const std::string sub = dir_.File("ro");
  std::filesystem::create_directory(sub);
  {
    Unwritable guard(sub);
    if (!guard.Ready()) GTEST_SKIP() << "cannot make a directory unwritable here";
    EXPECT_FALSE(PrepareOrderDatabase(sub, "seller", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_empty(sub));
  }
  // An account database that exists in a directory that cannot be written.
  ASSERT_TRUE(PrepareOrderDatabase(sub, "seller", &error)) << error;
  {
    Unwritable guard(sub);
    ASSERT_TRUE(guard.Ready());
    EXPECT_TRUE(PrepareOrderDatabase(sub, "seller", &error)) << error;
    OrderDatabase db;
    if (db.Open(sub + "/seller.MDB")) {
      EXPECT_FALSE(db.ClearTables());
      EXPECT_FALSE(db.LastError().empty());
    } else {
      EXPECT_FALSE(db.LastError().empty());
    }
  }
  // A database file that cannot be written is refused at opening.
  {
    Unwritable guard(sub + "/seller.MDB");
    ASSERT_TRUE(guard.Ready());
    OrderDatabase db;
    EXPECT_FALSE(db.Open(sub + "/seller.MDB"));
    EXPECT_NE(db.LastError().find("只读"), std::string::npos) << db.LastError();
  }
  OrderDatabase db;
  EXPECT_TRUE(db.Open(sub + "/seller.MDB")) << db.LastError();
  EXPECT_TRUE(db.ClearTables()) << db.LastError();
}

TEST_F(OrderDbTest, HostileValuesAreStoredExactlyAsReceived) {
  OrderDatabase db;
  OpenFresh(db);
  const std::vector<std::string> nicks = {
      "O'Brien", "say \"hi\"", "'); delete from 卖家未评价; --", "line\nbreak", "买家'旺旺'",
      std::string("nul\0inside", 10), ""};
  for (size_t i = 0; i < nicks.size(); ++i) {
    const std::string tid = "10" + std::to_string(i);
    const std::string end = "2026-03-0" + std::to_string(i + 1) + " 08:00:00";
    ASSERT_TRUE(db.Insert(OrderTable::BuyerUnrated, tid, nicks[i], end)) << db.LastError();
    ASSERT_TRUE(db.Insert(OrderTable::SellerUnrated, tid, nicks[i], end)) << db.LastError();
  }
  auto rows = db.UnratedOrders();
  ASSERT_EQ(rows.size(), nicks.size());
  for (size_t i = 0; i < nicks.size(); ++i) {
    EXPECT_EQ(rows[i].tid, "10" + std::to_string(i));
    EXPECT_EQ(rows[i].buyerNick, nicks[i]);
  }
}

TEST_F(OrderDbTest, TheJoinListsOrdersInBothTablesOldestFirst) {
  OrderDatabase db;
  OpenFresh(db);
  EXPECT_TRUE(db.UnratedOrders().empty());
  ASSERT_TRUE(db.BeginTransaction());
  // Buyer side in an arbitrary order; "4" is only on the buyer side, "5" only on the seller side.
  ASSERT_TRUE(db.Insert(OrderTable::BuyerUnrated, "1", "b1", "2026-05-03 10:00:00"));
  ASSERT_TRUE(db.Insert(OrderTable::BuyerUnrated, "2", "b2", "2026-05-01 23:59:59"));
  ASSERT_TRUE(db.Insert(OrderTable::BuyerUnrated, "3", "b3", "2026-05-02 00:00:00"));
  ASSERT_TRUE(db.Insert(OrderTable::BuyerUnrated, "4", "b4", "2026-04-01 00:00:00"));
  ASSERT_TRUE(db.Insert(OrderTable::SellerUnrated, "3", "other", "1999-01-01 00:00:00"));
  ASSERT_TRUE(db.Insert(OrderTable::SellerUnrated, "1", "b1", "2026-05-03 10:00:00"));
  ASSERT_TRUE(db.Insert(OrderTable::SellerUnrated, "2", "b2", "2026-05-01 23:59:59"));
  ASSERT_TRUE(db.Insert(OrderTable::SellerUnrated, "5", "b5", "2026-04-01 00:00:00"));
  ASSERT_TRUE(db.CommitTransaction());

  auto rows = db.UnratedOrders();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].tid, "2");
  EXPECT_EQ(rows[1].tid, "3");
  EXPECT_EQ(rows[2].tid, "1");
  // Positions 1..3 are the buyer-side table's columns.
  EXPECT_EQ(rows[1].buyerNick, "b3");
  EXPECT_EQ(rows[1].endTime, "2026-05-02 00:00:00");

  // A trade listed twice on one side is listed once per matching pair.
  ASSERT_TRUE(db.Insert(OrderTable::SellerUnrated, "2", "b2", "2026-05-01 23:59:59"));
  EXPECT_EQ(db.UnratedOrders().size(), 4u);

  // The record-set walk gives the same rows.
  RecordSet set = db.Query(kUnratedJoinSql);
  ASSERT_TRUE(set.Valid());
  int n = 0;
  for (set.MoveFirst(); !set.IsAtEnd(); set.MoveNext()) ++n;
  EXPECT_EQ(n, 4);
  EXPECT_EQ(set.Read(1), "");
  EXPECT_FALSE(db.Query("select * from 不存在的表").Valid());
}

TEST_F(OrderDbTest, ClearingAndTransactions) {
  {
    OrderDatabase db;
    OpenFresh(db);
    ASSERT_TRUE(db.BeginTransaction());
    ASSERT_TRUE(db.Insert(OrderTable::BuyerUnrated, "1", "a", "2026-01-01 00:00:00"));
    ASSERT_TRUE(db.Insert(OrderTable::SellerUnrated, "1", "a", "2026-01-01 00:00:00"));
    ASSERT_TRUE(db.CommitTransaction());
    ASSERT_TRUE(db.BeginTransaction());
    ASSERT_TRUE(db.Insert(OrderTable::BuyerUnrated, "2", "b", "2026-01-02 00:00:00"));
    ASSERT_TRUE(db.Insert(OrderTable::SellerUnrated, "2", "b", "2026-01-02 00:00:00"));
    ASSERT_TRUE(db.RollbackTransaction());
    // A failed commit leaves the connection usable.
    EXPECT_FALSE(db.CommitTransaction());
    ASSERT_TRUE(db.BeginTransaction());
    ASSERT_TRUE(db.CommitTransaction());
  }
  OrderDatabase db;
  ASSERT_TRUE(db.Open(DbPath("seller")));
  auto rows = db.UnratedOrders();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].tid, "1");
  ASSERT_TRUE(db.ClearTables()) << db.LastError();
  EXPECT_TRUE(db.UnratedOrders().empty());
  RecordSet left = db.Query("select count(*) from 买家未评价");
  EXPECT_EQ(left.Read(1), "0");
}

}  // namespace
}  // namespace qm

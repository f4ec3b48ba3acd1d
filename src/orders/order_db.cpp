#include "orders/order_db.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <vector>

#include "settings/app_session.h"
#include "util/file_io.h"
#include "util/libraries.h"

namespace qm {
namespace fs = std::filesystem;

namespace {

constexpr const char* kProbeBuyerSql = "select 订单ID,旺旺ID,确认时间 from 买家未评价 limit 0";
constexpr const char* kProbeSellerSql = "select 订单ID,旺旺ID,确认时间 from 卖家未评价 limit 0";

// File names are UTF-8 inside the program; std::filesystem wants them as such.
fs::path PathFromUtf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::string SqliteMessage(sqlite3* db, int rc) {
  if (db != nullptr && sqlite3_errcode(db) != SQLITE_OK) return sqlite3_errmsg(db);
  return sqlite3_errstr(rc);
}

// One connection of SQLite's, closed with its owner. Close() says whether
// the close itself went well: a database being built is written out there.
class Connection {
 public:
  Connection(const std::string& path, int flags) : rc_(sqlite3_open_v2(path.c_str(), &db_, flags, nullptr)) {}
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* get() const { return db_; }
  // The open's result code; the connection is usable only when SQLITE_OK.
  int OpenCode() const { return rc_; }
  bool Close() {
    const int rc = sqlite3_close(db_);  // a null handle closes as a no-op
    db_ = nullptr;
    return rc == SQLITE_OK;
  }

 private:
  sqlite3* db_ = nullptr;
  int rc_;
};

// A fresh, empty file beside `target` for SQLite to build in (an empty file
// is an empty database): owner-only, and locked while it is being built so
// that the next start can tell one left by a killed run (file_io.h).
struct BuildFile {
  std::string path;  // before fd: the constructor fills it
  int fd = -1;
  explicit BuildFile(const std::string& target) : fd(MakeTemporaryBeside(target, &path)) {}
  ~BuildFile() {
    CloseTemporary(fd);
  }
  BuildFile(const BuildFile&) = delete;
  BuildFile& operator=(const BuildFile&) = delete;
};

void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  fs::remove(PathFromUtf8(path), ec);
}

enum class Placed { Done, TargetExists, Failed };

// Gives the finished file `tmp` the name `target` unless `target` exists by
// then; a file that is already there is never replaced.
Placed PlaceWithoutReplacing(const std::string& tmp, const std::string& target, std::string* error) {
  const fs::path from = PathFromUtf8(tmp), to = PathFromUtf8(target);
  std::error_code ec;
  fs::create_hard_link(from, to, ec);
  if (!ec) {
    RemoveQuietly(tmp);
    return Placed::Done;
  }
  std::error_code ec2;
  if (fs::exists(to, ec2)) {
    RemoveQuietly(tmp);
    return Placed::TargetExists;
  }
  // Filesystems without hard links: a rename while the name is still free.
  fs::rename(from, to, ec);
  if (!ec) return Placed::Done;
  RemoveQuietly(tmp);
  SetError(error, "无法创建文件 " + target + "：" + ec.message());
  return Placed::Failed;
}

bool HasOrderTables(sqlite3* db, std::string* error) {
  for (const char* probe : {kProbeBuyerSql, kProbeSellerSql}) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, probe, -1, &stmt, nullptr);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_OK) {
      SetError(error, SqliteMessage(db, rc));
      return false;
    }
  }
  return true;
}

}  // namespace

const char* OrderTableName(OrderTable table) {
  return table == OrderTable::BuyerUnrated ? "买家未评价" : "卖家未评价";
}

std::string OrderDbFileName(const std::string& nick) {
  if (nick.empty()) return {};
  for (char c : nick)
    if (c == '/' || c == '\\' || c == '\0') return {};
  return nick + kOrderDbSuffix;
}

namespace {

// What a file under a database's name holds.
enum class DbLook {
  Ours,      // an order database
  Foreign,   // something else: an Access file, a SQLite file without the tables, a damaged file
  Unusable,  // a file that cannot be looked at now (locked, no permission, not a regular file)
};

bool ForeignCode(int rc) {
  const int primary = rc & 0xFF;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT || primary == SQLITE_ERROR;
}

// True when the file starts as every SQLite database does. A file that cannot
// be read counts as one, so that SQLite gives the reason.
bool HasSqliteHeader(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) return true;
  char head[16] = {};
  in.read(head, sizeof head);
  return in.gcount() == sizeof head && std::memcmp(head, "SQLite format 3", 16) == 0;
}

DbLook LookAtDatabase(const std::string& path, std::string* error) {
  PrepareLibraries();
  std::error_code ec;
  if (!fs::is_regular_file(PathFromUtf8(path), ec)) {
    SetError(error, fs::exists(PathFromUtf8(path), ec) ? path + " 不是普通文件" : "文件不存在：" + path);
    return DbLook::Unusable;
  }
  // Any other kind of file is told by its first bytes, before SQLite (which
  // may write to roll back a journal) opens it.
  if (!HasSqliteHeader(path)) {
    SetError(error, path + " 不是订单数据库：不是SQLite数据库文件");
    return DbLook::Foreign;
  }
  // A run killed in the middle of a write leaves a hot journal, which only a
  // connection that may write can roll back; a read-only look would refuse
  // the database for good ("attempt to write a readonly database").
  const bool hotJournal = fs::exists(PathFromUtf8(path + "-journal"), ec);
  Connection db(path, hotJournal ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
  DbLook look = DbLook::Ours;
  std::string why;
  if (const int rc = db.OpenCode(); rc != SQLITE_OK) {
    why = SqliteMessage(db.get(), rc);
    look = ForeignCode(rc) ? DbLook::Foreign : DbLook::Unusable;
  } else if (!HasOrderTables(db.get(), &why)) {
    look = ForeignCode(sqlite3_extended_errcode(db.get())) ? DbLook::Foreign : DbLook::Unusable;
  }
  db.Close();
  if (look != DbLook::Ours) SetError(error, path + " 不是订单数据库：" + why);
  return look;
}

// Renames a file that is not an order database (and the journal files
// SQLite would otherwise apply to the new one) to the first free name
// "<name>.old", "<name>.old2", ...; the new name, or empty when it could not
// be moved.
std::string SetAside(const std::string& path, std::string* error) {
  std::error_code ec;
  for (int n = 1; n < 1000; ++n) {
    const std::string suffix = n == 1 ? ".old" : ".old" + std::to_string(n);
    const std::string to = path + suffix;
    bool taken = false;
    for (const char* companion : {"", "-journal", "-wal", "-shm"}) {
      if (fs::exists(PathFromUtf8(to + companion), ec)) taken = true;
    }
    if (taken) continue;
    fs::rename(PathFromUtf8(path), PathFromUtf8(to), ec);
    if (ec) {
      SetError(error, "无法把 " + path + " 改名为 " + to + "：" + ec.message());
      return {};
    }
    for (const char* companion : {"-journal", "-wal", "-shm"}) {
      std::error_code ignored;
      if (fs::exists(PathFromUtf8(path + companion), ignored)) {
        fs::rename(PathFromUtf8(path + companion), PathFromUtf8(to + companion), ignored);
      }
    }
    return to;
  }
  SetError(error, "无法为 " + path + " 找到一个空闲的新名字");
  return {};
}

// Sets a file under the name of an order database aside when it is some
// other file. True when the name is free now or holds an order database.
bool ClearForeign(const std::string& path, std::string* error, std::vector<std::string>* setAside) {
  std::error_code ec;
  if (!fs::exists(PathFromUtf8(path), ec)) return true;
  std::string why;
  switch (LookAtDatabase(path, &why)) {
    case DbLook::Ours: return true;
    case DbLook::Unusable: SetError(error, why); return false;
    case DbLook::Foreign: break;
  }
  const std::string moved = SetAside(path, error);
  if (moved.empty()) return false;
  if (setAside != nullptr) {
    const auto base = [](const std::string& p) {
      const std::size_t slash = p.find_last_of('/');
      return slash == std::string::npos ? p : p.substr(slash + 1);
    };
    setAside->push_back("“" + base(path) + "”不是本程序的订单数据库，已改名为“" + base(moved) +
                        "”保留，并新建了订单数据库。");
  }
  return true;
}

}  // namespace

bool IsOrderDatabase(const std::string& path, std::string* error) {
  return LookAtDatabase(path, error) == DbLook::Ours;
}

bool MakeOrderDbTemplate(const std::string& path, std::string* error) {
  PrepareLibraries();
  std::error_code ec;
  if (fs::exists(PathFromUtf8(path), ec)) return IsOrderDatabase(path, error);

  const BuildFile build(path);
  if (build.fd < 0) {
    SetError(error, "无法创建 " + path + "：" + std::strerror(errno));
    return false;
  }
  const std::string& tmp = build.path;
  Connection db(tmp, SQLITE_OPEN_READWRITE);
  int rc = db.OpenCode();
  if (rc == SQLITE_OK) rc = sqlite3_exec(db.get(), kOrderDbSchemaSql, nullptr, nullptr, nullptr);
  std::string why = rc == SQLITE_OK ? std::string() : SqliteMessage(db.get(), rc);
  if (!db.Close() && rc == SQLITE_OK) {
    rc = SQLITE_ERROR;
    why = "close failed";
  }
  if (rc != SQLITE_OK) {
    RemoveQuietly(tmp);
    SetError(error, "无法创建 " + path + "：" + why);
    return false;
  }
  switch (PlaceWithoutReplacing(tmp, path, error)) {
    case Placed::Done: return true;
    case Placed::TargetExists: return IsOrderDatabase(path, error);
    case Placed::Failed: break;
  }
  return false;
}

bool PrepareOrderDatabase(const std::string& dir, const std::string& nick, std::string* error,
                          std::vector<std::string>* setAside) {
  const std::string name = OrderDbFileName(nick);
  if (name.empty()) {
    SetError(error, "账户名“" + nick + "”不能用作文件名");
    return false;
  }
  const std::string dbPath = PathIn(dir, name);
  // The tables are emptied at every start, so a file of another kind under
  // the name (an Access database copied from Windows) loses nothing by being
  // set aside; it is never deleted.
  if (!ClearForeign(dbPath, error, setAside)) return false;
  std::error_code ec;
  if (fs::exists(PathFromUtf8(dbPath), ec)) return IsOrderDatabase(dbPath, error);

  const std::string templatePath = PathIn(dir, kOrderDbTemplateName);
  if (!ClearForeign(templatePath, error, setAside)) return false;
  if (!MakeOrderDbTemplate(templatePath, error)) return false;

  // Copy through SQLite rather than byte by byte, so a template in any
  // journal mode gives a complete database.
  const BuildFile build(dbPath);
  if (build.fd < 0) {
    SetError(error, "无法创建 " + dbPath + "：" + std::strerror(errno));
    return false;
  }
  const std::string& tmp = build.path;
  Connection source(templatePath, SQLITE_OPEN_READONLY);
  std::string why;
  int rc = source.OpenCode();
  if (rc != SQLITE_OK) why = SqliteMessage(source.get(), rc);
  Connection target(tmp, SQLITE_OPEN_READWRITE);
  if (rc == SQLITE_OK) {
    rc = target.OpenCode();
    if (rc != SQLITE_OK) why = SqliteMessage(target.get(), rc);
  }
  if (rc == SQLITE_OK) {
    sqlite3_backup* backup = sqlite3_backup_init(target.get(), "main", source.get(), "main");
    if (backup == nullptr) {
      rc = SQLITE_ERROR;
      why = sqlite3_errmsg(target.get());
    } else {
      rc = sqlite3_backup_step(backup, -1);
      int finish = sqlite3_backup_finish(backup);
      rc = (rc == SQLITE_DONE && finish == SQLITE_OK) ? SQLITE_OK : SQLITE_ERROR;
      if (rc != SQLITE_OK) why = sqlite3_errmsg(target.get());
    }
  }
  source.Close();
  if (!target.Close() && rc == SQLITE_OK) {
    rc = SQLITE_ERROR;
    why = "close failed";
  }
  if (rc != SQLITE_OK) {
    RemoveQuietly(tmp);
    SetError(error, "无法创建 " + dbPath + "：" + why);
    return false;
  }
  switch (PlaceWithoutReplacing(tmp, dbPath, error)) {
    case Placed::Done: return true;
    case Placed::TargetExists: return IsOrderDatabase(dbPath, error);
    case Placed::Failed: break;
  }
  return false;
}

// --- RecordSet ---

RecordSet::~RecordSet() { sqlite3_finalize(stmt_); }

RecordSet::RecordSet(RecordSet&& other) noexcept : stmt_(other.stmt_), atEnd_(other.atEnd_) {
  other.stmt_ = nullptr;
  other.atEnd_ = true;
}

RecordSet& RecordSet::operator=(RecordSet&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = other.stmt_;
    atEnd_ = other.atEnd_;
    other.stmt_ = nullptr;
    other.atEnd_ = true;
  }
  return *this;
}

bool RecordSet::Step() {
  if (stmt_ == nullptr) return false;
  int rc = sqlite3_step(stmt_);
  atEnd_ = rc != SQLITE_ROW;
  return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool RecordSet::MoveFirst() {
  if (stmt_ == nullptr) return false;
  sqlite3_reset(stmt_);
  return Step();
}

bool RecordSet::MoveNext() {
  if (stmt_ == nullptr || atEnd_) return false;
  return Step();
}

std::string RecordSet::Read(int position) const {
  if (stmt_ == nullptr || atEnd_ || position < 1 || position > sqlite3_column_count(stmt_)) return {};
  const int column = position - 1;
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  if (text == nullptr) return {};
  return std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

// --- OrderDatabase ---

OrderDatabase::~OrderDatabase() { Close(); }

bool OrderDatabase::Fail(const std::string& what) {
  error_ = what;
  if (db_ != nullptr && sqlite3_errcode(db_) != SQLITE_OK) error_ += "：" + std::string(sqlite3_errmsg(db_));
  return false;
}

void OrderDatabase::Close() {
  sqlite3_finalize(insertBuyer_);
  sqlite3_finalize(insertSeller_);
  insertBuyer_ = insertSeller_ = nullptr;
  if (db_ != nullptr) sqlite3_close(db_);
  db_ = nullptr;
  path_.clear();
}

bool OrderDatabase::OpenInMemory() {
  PrepareLibraries();
  Close();
  error_.clear();
  if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK ||
      sqlite3_exec(db_, kOrderDbSchemaSql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail("无法在内存中建立订单数据库");
    Close();
    return false;
  }
  path_ = ":memory:";
  return true;
}

bool OrderDatabase::Open(const std::string& path) {
  PrepareLibraries();
  Close();
  error_.clear();
  std::error_code ec;
  if (!fs::is_regular_file(PathFromUtf8(path), ec)) {
    error_ = "订单数据库不存在：" + path;
    return false;
  }
  // One thread at a time uses a connection, so SQLite need not lock it.
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    Fail("无法打开订单数据库 " + path);
    Close();
    return false;
  }
  std::string why;
  if (!HasOrderTables(db_, &why)) {
    error_ = path + " 不是订单数据库：" + why;
    Close();
    return false;
  }
  if (sqlite3_db_readonly(db_, "main") == 1) {
    error_ = "订单数据库是只读的：" + path;
    Close();
    return false;
  }
  // It lists the seller's buyers: the owner's alone, as the settings are.
  // (SQLite gives its journal and log files the database's mode.)
  fs::permissions(PathFromUtf8(path), fs::perms::owner_read | fs::perms::owner_write, ec);
  sqlite3_busy_timeout(db_, 5000);
  // The tables are scratch data rebuilt on every run: commits need not wait
  // for the disk, but the file must stay consistent if the program is killed.
  // The write-ahead log gives both; where it is unavailable the default
  // journal stays.
  sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  // A load writes a few thousand pages; the log is copied back into the file
  // once, when the connection closes, rather than in the middle of the load.
  sqlite3_exec(db_, "PRAGMA wal_autocheckpoint=20000", nullptr, nullptr, nullptr);
  // Room for the whole of a large load, so that the join reads no page twice.
  sqlite3_exec(db_, "PRAGMA cache_size=-16384", nullptr, nullptr, nullptr);
  // The join's index of the seller side and its sort stay in memory: in
  // temporary files they would be written and read back page by page.
  sqlite3_exec(db_, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr);
  path_ = path;
  return true;
}

bool OrderDatabase::Execute(const std::string& sql) {
  if (db_ == nullptr) return Fail("订单数据库未打开");
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return true;
  error_ = message != nullptr ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  return false;
}

bool OrderDatabase::BeginTransaction() { return Execute("BEGIN"); }

bool OrderDatabase::CommitTransaction() {
  if (Execute("COMMIT")) return true;
  std::string why = error_;
  if (db_ != nullptr && !sqlite3_get_autocommit(db_)) RollbackTransaction();
  error_ = why;
  return false;
}

bool OrderDatabase::RollbackTransaction() { return Execute("ROLLBACK"); }

RecordSet OrderDatabase::Query(const std::string& sql) {
  if (db_ == nullptr) {
    Fail("订单数据库未打开");
    return RecordSet();
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
    Fail("查询失败");
    sqlite3_finalize(stmt);
    return RecordSet();
  }
  RecordSet rows(stmt);
  if (!rows.MoveFirst()) Fail("查询失败");
  return rows;
}

bool OrderDatabase::ClearTables() {
  if (!BeginTransaction()) return false;
  bool ok = Execute(kDeleteBuyerUnratedSql);
  ok = Execute(kDeleteSellerUnratedSql) && ok;
  if (!ok) {
    std::string why = error_;
    RollbackTransaction();
    error_ = why;
    return false;
  }
  return CommitTransaction();
}

sqlite3_stmt* OrderDatabase::InsertStatement(OrderTable table) {
  sqlite3_stmt*& slot = table == OrderTable::BuyerUnrated ? insertBuyer_ : insertSeller_;
  if (slot == nullptr && db_ != nullptr) {
    const char* sql = table == OrderTable::BuyerUnrated ? kInsertBuyerUnratedSql : kInsertSellerUnratedSql;
    if (sqlite3_prepare_v2(db_, sql, -1, &slot, nullptr) != SQLITE_OK) {
      sqlite3_finalize(slot);
      slot = nullptr;
    }
  }
  return slot;
}

bool OrderDatabase::Insert(OrderTable table, const std::string& tid, const std::string& buyerNick,
                           const std::string& endTime) {
  if (db_ == nullptr) return Fail("订单数据库未打开");
  sqlite3_stmt* stmt = InsertStatement(table);
  if (stmt == nullptr) return Fail("无法准备插入语句");
  // The statement is reset after every step, so it is ready here; all three
  // values are bound anew each time.
  const std::string* values[] = {&tid, &buyerNick, &endTime};
  for (int i = 0; i < 3; ++i) {
    const std::string& v = *values[i];
    sqlite3_bind_text(stmt, i + 1, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
  }
  int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE) return Fail("插入失败");
  return true;
}

std::vector<Order> OrderDatabase::UnratedOrders() {
  std::vector<Order> out;
  RecordSet rows = Query(kUnratedJoinSql);
  while (rows.Valid() && !rows.IsAtEnd()) {
    out.push_back({rows.Read(1), rows.Read(2), rows.Read(3)});
    rows.MoveNext();
  }
  return out;
}

}  // namespace qm

#include "rating/rating_log.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>

#include "platform/platform_time.h"
#include "rating/sql_statement.h"
#include "settings/app_session.h"
#include "util/file_guard.h"
#include "util/file_io.h"
#include "util/libraries.h"

namespace qm {
namespace {

constexpr const char* kSchemaSql =
    "CREATE TABLE IF NOT EXISTS ratings(id INTEGER PRIMARY KEY, time TEXT, tid TEXT, buyer TEXT, result TEXT,"
    " comment TEXT, started TEXT, outcome TEXT, message TEXT);"
    "CREATE INDEX IF NOT EXISTS ratings_tid ON ratings(tid);"
    "CREATE TABLE IF NOT EXISTS buyer_verdicts(tid TEXT PRIMARY KEY, verdict TEXT, time TEXT);"
    "CREATE TABLE IF NOT EXISTS buyer_alerts(tid TEXT PRIMARY KEY, buyer TEXT, result TEXT, comment TEXT,"
    " time TEXT, seen INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS requests(day TEXT PRIMARY KEY, count INTEGER NOT NULL DEFAULT 0);";

using Statement = SqlStatement;

std::string CsvField(const std::string& text) {
  std::string out = "\"";
  // A spreadsheet runs a cell that starts like a formula; a buyer picks his nick.
  if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@')) out += '\'';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

const char* RatingStartName(RatingStart start) {
  switch (start) {
    case RatingStart::Automatic: return "automatic";
    case RatingStart::Early: return "early";
    case RatingStart::Answer: return "answer";
    case RatingStart::Selection: return "selection";
  }
  return "automatic";
}

std::string RatingResultWords(const std::string& result) {
  if (result == "good") return "好评";
  if (result == "neutral") return "中评";
  if (result == "bad") return "差评";
  return result;
}

std::string RatingStartWords(const std::string& started) {
  if (started == "automatic") return "自动";
  if (started == "early") return "提前";
  if (started == "answer") return "回评";
  if (started == "selection") return "选中";
  return started;
}

std::string RatingLogEntry::OutcomeWords() const {
  std::string words = outcome;
  if (outcome == kLogRated) words = "已评价";
  if (outcome == kLogRefused) words = "平台拒绝";
  if (outcome == kLogNoAnswer) words = "无回应";
  if (outcome == kLogNotTaken) words = "平台未收到";
  std::string why = message;
  if (why == "confirmed by the platform") why = "平台上已有该评价";
  if (why == "not on the platform") why = "平台上没有该评价";
  return why.empty() ? words : words + "：" + why;
}

std::string RatingLogFileName(const std::string& nick) { return nick + "的评价记录.db"; }

RatingLog::~RatingLog() { Close(); }

std::string RatingLog::Now() const { return FormatPlatformTime(static_cast<std::int64_t>(clock_.Now())); }

void RatingLog::Close() {
  CloseFile();
  path_.clear();
  verdicts_.clear();
  pending_.clear();
}

void RatingLog::CloseFile(bool replaced) {
  if (db_ != nullptr) {
    // SQLite leaves the write-ahead file of a database that was moved away
    // beside its name, where the replacement would read its pages as its
    // own: it is emptied into the file it belongs to first.
    if (replaced && !readOnly_) sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
  db_ = nullptr;
  opened_.reset();
}

void RatingLog::Checkpoint() {
  if (FollowFile()) sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
}

std::string RatingLog::CurrentError() const { return db_ ? sqlite3_errmsg(db_) : "no database"; }

bool RatingLog::Exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  error_ = CurrentError();
  return false;
}

bool RatingLog::Open(const std::string& path, bool readOnly, std::string* error) {
  Close();
  path_ = path;
  dir_ = ParentDirectory(path);
  readOnly_ = readOnly;
  if (OpenFile(error)) return true;
  path_.clear();
  return false;
}

bool RatingLog::OpenFile(std::string* error) {
  const std::string& path = path_;
  const int flags = readOnly_ ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  PrepareLibraries();
  if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    error_ = "评价记录“" + path + "”无法打开：" + CurrentError();
    CloseFile();
    if (error) *error = error_;
    return false;
  }
  // A second run reads the log while the first writes it.
  sqlite3_busy_timeout(db_, 5000);
  bool ok = true;
  if (!readOnly_) {
    std::error_code ec;
    std::filesystem::permissions(std::filesystem::path(std::u8string(path.begin(), path.end())),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
    // Committed entries survive a killed process; the log is small.
    ok = Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=NORMAL") && Exec(kSchemaSql);
  } else {
    Statement probe(db_, "SELECT count(*) FROM ratings");
    ok = probe.Ok() && probe.Step() == SQLITE_ROW;
    if (!ok) error_ = CurrentError();
  }
  if (ok) {
    // The file is open now (SQLite opens it at its first use).
    opened_ = IdentityOf(path);
    Statement verdicts(db_, "SELECT tid, verdict FROM buyer_verdicts");
    while (verdicts.Step() == SQLITE_ROW) verdicts_[verdicts.Text(0)] = SplitVerdict(verdicts.Text(1));
  }
  if (!ok) {
    error_ = "评价记录“" + path + "”无法使用：" + error_;
    CloseFile();
    if (error) *error = error_;
    return false;
  }
  return true;
}

bool RatingLog::SameFileAsOpened() {
  int moved = 0;
  if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved != 0) return false;
  return !opened_ || IdentityOf(path_) == opened_;
}

bool RatingLog::FollowFile() {
  if (path_.empty()) return db_ != nullptr;
  if (db_ != nullptr && SameFileAsOpened()) return true;
  // Replaced or removed (or not usable before): the file under the name is
  // the seller's log now. What the run knew of the buyers stays known.
  CloseFile(true);
  if (!OpenFile(nullptr)) return false;
  for (auto& [post, pending] : pending_) pending.row = InsertRow(pending.entry);
  return true;
}

std::int64_t RatingLog::InsertRow(const RatingLogEntry& e) {
  Statement insert(db_,
                   "INSERT INTO ratings(time,tid,buyer,result,comment,started,outcome,message) "
                   "VALUES(?,?,?,?,?,?,?,?)");
  insert.Bind(1, e.time).Bind(2, e.tid).Bind(3, e.buyer).Bind(4, e.result).Bind(5, e.comment);
  insert.Bind(6, e.started).Bind(7, e.outcome).Bind(8, e.message);
  if (insert.Step() != SQLITE_DONE) {
    error_ = CurrentError();
    return 0;
  }
  return sqlite3_last_insert_rowid(db_);
}

std::int64_t RatingLog::Sent(const std::string& tid, const std::string& buyer, const std::string& result,
                             const std::string& comment, RatingStart start) {
  if (!FollowFile()) return 0;
  RatingLogEntry entry;
  entry.time = Now();
  entry.tid = tid;
  entry.buyer = buyer;
  entry.result = result;
  entry.comment = comment;
  entry.started = RatingStartName(start);
  entry.outcome = kLogNoAnswer;
  const std::int64_t row = InsertRow(entry);
  if (row == 0) return 0;
  const std::int64_t post = ++lastPost_;
  pending_[post] = Pending{row, std::move(entry)};
  return post;
}

void RatingLog::Answered(std::int64_t post, const char* outcome, const std::string& message) {
  // Followed first: a new file gets the post's entry with the others on their way.
  const bool usable = FollowFile();
  const auto it = pending_.find(post);
  if (it == pending_.end()) return;
  Pending pending = std::move(it->second);
  pending_.erase(it);
  if (!usable) return;
  if (pending.row == 0) {
    // Not carried into this file when it was opened: written whole now.
    pending.entry.outcome = outcome;
    pending.entry.message = message;
    InsertRow(pending.entry);
    return;
  }
  Statement update(db_, "UPDATE ratings SET outcome=?, message=? WHERE id=?");
  update.Bind(1, std::string(outcome)).Bind(2, message).Bind(3, pending.row);
  if (update.Step() != SQLITE_DONE) error_ = CurrentError();
}

void RatingLog::Forget(std::int64_t post) {
  const bool usable = FollowFile();
  const auto it = pending_.find(post);
  if (it == pending_.end()) return;
  const std::int64_t row = it->second.row;
  pending_.erase(it);
  if (row == 0 || !usable) return;
  Statement remove(db_, "DELETE FROM ratings WHERE id=?");
  remove.Bind(1, row);
  if (remove.Step() != SQLITE_DONE) error_ = CurrentError();
}

void RatingLog::Settle(const std::string& tid, const char* outcome, const std::string& message) {
  if (!FollowFile()) return;
  Statement update(db_, "UPDATE ratings SET outcome=?, message=? WHERE tid=? AND outcome=?");
  update.Bind(1, std::string(outcome)).Bind(2, message).Bind(3, tid).Bind(4, std::string(kLogNoAnswer));
  if (update.Step() != SQLITE_DONE) error_ = CurrentError();
}

std::vector<std::string> RatingLog::Unsettled(int limit) {
  std::vector<std::string> tids;
  if (!FollowFile()) return tids;
  Statement query(db_, "SELECT tid FROM ratings WHERE outcome=? GROUP BY tid ORDER BY min(id) LIMIT ?");
  query.Bind(1, std::string(kLogNoAnswer)).Bind(2, static_cast<std::int64_t>(limit));
  while (query.Step() == SQLITE_ROW) tids.push_back(query.Text(0));
  return tids;
}

namespace {

// One row of "SELECT id,time,tid,buyer,result,comment,started,outcome,message".
RatingLogEntry EntryOf(const Statement& query) {
  RatingLogEntry e;
  e.id = query.Int(0);
  e.time = query.Text(1);
  e.tid = query.Text(2);
  e.buyer = query.Text(3);
  e.result = query.Text(4);
  e.comment = query.Text(5);
  e.started = query.Text(6);
  e.outcome = query.Text(7);
  e.message = query.Text(8);
  return e;
}

}  // namespace

std::vector<RatingLogEntry> RatingLog::Entries(const std::string& filter, int limit) {
  std::vector<RatingLogEntry> entries;
  if (!FollowFile()) return entries;
  // instr, not LIKE: '%' and '_' in a typed filter are plain characters.
  Statement query(db_,
                  "SELECT id,time,tid,buyer,result,comment,started,outcome,message FROM ratings "
                  "WHERE ?1 = '' OR instr(tid, ?1) > 0 OR instr(buyer, ?1) > 0 ORDER BY id DESC LIMIT ?2");
  query.Bind(1, filter).Bind(2, static_cast<std::int64_t>(limit));
  while (query.Step() == SQLITE_ROW) {
    entries.push_back(EntryOf(query));
  }
  return entries;
}

void RatingLog::RememberVerdict(const std::string& tid, const BuyerVerdict& verdict) {
  if (!FollowFile()) return;
  Statement upsert(db_, "INSERT OR REPLACE INTO buyer_verdicts(tid,verdict,time) VALUES(?,?,?)");
  upsert.Bind(1, tid).Bind(2, verdict.Text()).Bind(3, Now());
  if (upsert.Step() != SQLITE_DONE) error_ = CurrentError();
  verdicts_[tid] = verdict;
}

const BuyerVerdict* RatingLog::KnownVerdict(const std::string& tid) const {
  const auto it = verdicts_.find(tid);
  return it == verdicts_.end() ? nullptr : &it->second;
}

AlertStored RatingLog::KeepAlert(const BuyerAlert& alert, const BuyerVerdict& verdict) {
  // The row's colour follows the verdict even when the file cannot take it.
  verdicts_[alert.tid] = verdict;
  if (!FollowFile()) return AlertStored::Failed;
  if (!Exec("BEGIN IMMEDIATE")) return AlertStored::Failed;
  Statement upsert(db_, "INSERT OR REPLACE INTO buyer_verdicts(tid,verdict,time) VALUES(?,?,?)");
  upsert.Bind(1, alert.tid).Bind(2, verdict.Text()).Bind(3, alert.time);
  Statement insert(db_,
                   "INSERT OR IGNORE INTO buyer_alerts(tid,buyer,result,comment,time,seen) VALUES(?,?,?,?,?,0)");
  insert.Bind(1, alert.tid).Bind(2, alert.buyer).Bind(3, alert.result).Bind(4, alert.comment).Bind(5, alert.time);
  if (upsert.Step() != SQLITE_DONE || insert.Step() != SQLITE_DONE) {
    error_ = CurrentError();
    Exec("ROLLBACK");
    return AlertStored::Failed;
  }
  const bool added = sqlite3_changes(db_) > 0;
  if (!Exec("COMMIT")) {
    Exec("ROLLBACK");
    return AlertStored::Failed;
  }
  return added ? AlertStored::Added : AlertStored::Known;
}

std::vector<BuyerAlert> RatingLog::UnseenAlerts() {
  std::vector<BuyerAlert> alerts;
  if (!FollowFile()) return alerts;
  Statement query(db_, "SELECT tid,buyer,result,comment,time FROM buyer_alerts WHERE seen=0 ORDER BY rowid");
  // A log of an older version (opened read-only) has no such table: no alerts.
  if (!query.Ok()) return alerts;
  while (query.Step() == SQLITE_ROW) {
    alerts.push_back({query.Text(0), query.Text(1), query.Text(2), query.Text(3), query.Text(4)});
  }
  return alerts;
}

bool RatingLog::MarkAlertsSeen(const std::vector<std::string>& tids) {
  if (!FollowFile()) return false;
  if (tids.empty()) return true;
  if (!Exec("BEGIN IMMEDIATE")) return false;
  Statement update(db_, "UPDATE buyer_alerts SET seen=1 WHERE tid=?");
  bool ok = update.Ok();
  for (const std::string& tid : tids) {
    if (!ok) break;
    update.Reset().Bind(1, tid);
    ok = update.Step() == SQLITE_DONE;
  }
  if (!ok) {
    error_ = CurrentError();
    Exec("ROLLBACK");
    return false;
  }
  if (Exec("COMMIT")) return true;
  Exec("ROLLBACK");
  return false;
}

std::vector<RatingLog::DayCount> RatingLog::CountsByDay(const char* sql, const std::string& first,
                                                        const std::string& second) {
  std::vector<DayCount> counts;
  Statement query(db_, sql);
  if (!query.Ok()) return counts;
  query.Bind(1, first).Bind(2, second);
  while (query.Step() == SQLITE_ROW) counts.push_back({query.Text(0), query.Text(1), static_cast<int>(query.Int(2))});
  return counts;
}

std::vector<RatingLog::DayCount> RatingLog::GivenByDay(const std::string& firstDay) {
  return CountsByDay("SELECT substr(time,1,10) AS day, started, count(*) FROM ratings WHERE outcome=?1 AND time>=?2 "
                     "GROUP BY day, started ORDER BY day",
                     kLogRated, firstDay);
}

std::vector<RatingLog::DayCount> RatingLog::ReceivedByDay(const std::string& firstDay) {
  return CountsByDay("SELECT substr(time,1,10) AS day, substr(verdict,1,instr(verdict,?1)-1) AS result, count(*) "
                     "FROM buyer_verdicts WHERE time>=?2 AND instr(verdict,?1)>0 GROUP BY day, result ORDER BY day",
                     kVerdictSeparator, firstDay);
}

bool RatingLog::AddRequests(const std::map<std::string, long>& byDay) {
  if (byDay.empty()) return true;
  if (readOnly_ || !FollowFile()) return false;
  if (!Exec("BEGIN IMMEDIATE")) return false;
  Statement add(db_, "INSERT INTO requests(day,count) VALUES(?1,?2) ON CONFLICT(day) DO UPDATE SET count=count+?2");
  bool ok = add.Ok();
  for (const auto& [day, count] : byDay) {
    if (!ok) break;
    add.Reset().Bind(1, day).Bind(2, static_cast<std::int64_t>(count));
    ok = add.Step() == SQLITE_DONE;
  }
  if (ok && Exec("COMMIT")) return true;
  if (!ok) error_ = CurrentError();
  Exec("ROLLBACK");
  return false;
}

std::vector<RatingLog::DayCount> RatingLog::RequestsByDay(const std::string& firstDay) {
  return CountsByDay("SELECT day, ?1, count FROM requests WHERE day>=?2 ORDER BY day", "requests", firstDay);
}

namespace {

constexpr const char* kCsvHead = "\xEF\xBB\xBF" "时间,订单编号,买家旺旺,评价,评语,方式,结果\r\n";

std::string CsvLine(const RatingLogEntry& e) {
  return CsvField(e.time) + ',' + CsvField(e.tid) + ',' + CsvField(e.buyer) + ',' +
         CsvField(RatingResultWords(e.result)) + ',' + CsvField(e.comment) + ',' +
         CsvField(RatingStartWords(e.started)) + ',' + CsvField(e.OutcomeWords()) + "\r\n";
}

// Opens the export target: never a file of the program's own directory (the
// settings, the databases, this very log), never through a link.
bool OpenExportTarget(StreamedReplacement& out, const std::string& programDir, const std::string& path,
                      std::string* error) {
  const std::string dir = ParentDirectory(path);
  if (!programDir.empty() && SameDirectory(dir, programDir)) {
    *error = "“" + path + "”在程序的数据目录中；导出不会写入程序自己的目录。";
    return false;
  }
  return out.Open(path, error);
}

// The header, then a line for every entry `rows` hands over, into a
// temporary file beside `path` that replaces it once complete.
bool WriteCsv(const std::string& programDir, const std::string& path, std::int64_t* written, std::string* error,
              const std::function<bool(const std::function<bool(const RatingLogEntry&)>&)>& rows) {
  *written = 0;
  StreamedReplacement out;
  std::string why;
  if (!OpenExportTarget(out, programDir, path, &why)) {
    if (error) *error = why;
    return false;
  }
  const bool ok = out.Write(kCsvHead) && rows([&](const RatingLogEntry& e) {
    ++*written;
    return out.Write(CsvLine(e));
  });
  if (ok && out.Commit()) return true;
  *written = 0;
  if (error) *error = "“" + path + "”无法写入。";
  return false;
}

}  // namespace

std::string RatingLogCsv(const std::vector<RatingLogEntry>& entries) {
  std::string out = kCsvHead;
  for (const RatingLogEntry& e : entries) out += CsvLine(e);
  return out;
}

bool WriteRatingLogCsv(const std::string& programDir, const std::vector<RatingLogEntry>& entries, const std::string& path,
                       std::string* error) {
  std::int64_t written = 0;
  return WriteCsv(programDir, path, &written, error, [&entries](const std::function<bool(const RatingLogEntry&)>& line) {
    for (const RatingLogEntry& e : entries)
      if (!line(e)) return false;
    return true;
  });
}

bool RatingLog::ForEachEntry(const std::function<bool(const RatingLogEntry&)>& each) {
  if (!FollowFile()) return false;
  Statement query(db_, "SELECT id,time,tid,buyer,result,comment,started,outcome,message FROM ratings ORDER BY id DESC");
  int rc;
  while ((rc = query.Step()) == SQLITE_ROW) {
    if (!each(EntryOf(query))) return false;
  }
  if (rc == SQLITE_DONE) return true;
  error_ = CurrentError();
  return false;
}

bool WriteExportFile(const std::string& programDir, const std::string& path, const std::string& text, std::string* error) {
  StreamedReplacement out;
  std::string why;
  if (!OpenExportTarget(out, programDir, path, &why)) {
    if (error) *error = why;
    return false;
  }
  if (out.Write(text) && out.Commit()) return true;
  if (error) *error = "“" + path + "”无法写入。";
  return false;
}

bool ExportRatingLog(const std::string& programDir, RatingLog* log, const std::string& path, std::int64_t* written,
                     std::string* error) {
  const bool ok = WriteCsv(programDir, path, written, error, [log](const std::function<bool(const RatingLogEntry&)>& line) {
    return log == nullptr || log->ForEachEntry(line);
  });
  if (!ok && log != nullptr && !log->LastError().empty() && error) *error = "评价记录无法读取：" + log->LastError();
  return ok;
}

}  // namespace qm

#pragma once
// The rating log (评价记录): every rating the program posts, automatic or by
// hand, recorded when it is sent and again when its outcome is known. An
// entry is written before the post goes out, so a run killed in between
// leaves it reading "no answer"; the platform's answer to the later check of
// such an order settles it. Kept per seller in an SQLite file of its own
// beside the order database (nick + "的评价记录.db"), which the order
// database's rebuilds never touch. The same file remembers the buyer ratings
// already checked for the alerts, so a restart does not ask again, and the
// alerts themselves with whether the seller has seen them: a verdict and its
// alert are written together, so a run killed in between cannot leave an
// order remembered but never alerted. It also counts the run's platform
// requests per day, for the statistics.
//
// The file may be replaced or removed under a running program (a backup put
// back, a sync tool's rename, a copy from another computer, a deletion).
// Before each use the log compares the file its path names with the one it
// has open; when they differ it opens the one the seller sees, or makes it
// anew, and carries over the posts still waiting for their answer. Nothing is
// ever written to a file that is no longer there under its name.
#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform_time.h"
#include "rating/buyer_verdict.h"
#include "util/file_guard.h"

namespace qm {

enum class RatingStart { Automatic, Early, Answer, Selection };
// "automatic", "early", "answer", "selection".
const char* RatingStartName(RatingStart start);

// The outcome texts of the log and its CSV.
inline constexpr const char* kLogRated = "rated";
inline constexpr const char* kLogRefused = "refused";
inline constexpr const char* kLogNoAnswer = "no answer";
// A post without an answer that the platform later said it does not hold.
inline constexpr const char* kLogNotTaken = "not taken";

struct RatingLogEntry {
  std::int64_t id = 0;
  std::string time;  // Beijing time, as the platform writes it
  std::string tid, buyer, result, comment, started, outcome, message;
  // "refused: <message>" and the like: the outcome as stored, for the runner's lines.
  std::string OutcomeText() const { return message.empty() ? outcome : outcome + ": " + message; }
  // The same in the seller's words ("平台拒绝：<message>"), as the window and the CSV show it.
  std::string OutcomeWords() const;
};

// A buyer's neutral or bad rating the seller is told of.
struct BuyerAlert {
  std::string tid, buyer, result, comment;
  std::string time;  // when it was raised, Beijing time as the platform writes it
};

enum class AlertStored {
  Added,   // kept, unseen
  Known,   // the order was alerted before (seen or not): nothing changed
  Failed,  // could not be written (LastError says why)
};

// The stored words of the log in the seller's language: "good" → "好评",
// "automatic" → "自动", "rated" → "已评价" and so on; unknown words as they are.
std::string RatingResultWords(const std::string& result);
std::string RatingStartWords(const std::string& started);

std::string RatingLogFileName(const std::string& nick);

class RatingLog {
 public:
  // A log whose entries carry the time of `clock`, which outlives it.
  explicit RatingLog(const PlatformClock& clock) : clock_(clock) {}
  ~RatingLog();
  RatingLog(const RatingLog&) = delete;
  RatingLog& operator=(const RatingLog&) = delete;

  // Opens (making when missing) the log at `path`; with `readOnly` the file
  // must exist and is never written. False with a reason in *error.
  bool Open(const std::string& path, bool readOnly = false, std::string* error = nullptr);
  // Closes the log; it is not opened again until the next Open.
  void Close();
  // Writes what the write-ahead file holds into the database file itself, so
  // that a copy of the .db alone is whole (the desktop ends without closing it).
  void Checkpoint();
  bool IsOpen() const { return db_ != nullptr; }
  // The clock its entries are timed by.
  const PlatformClock& Clock() const { return clock_; }
  // The file the log writes to: the one its path names now.
  const std::string& Path() const { return path_; }
  // The directory the log was opened in (the program directory of its
  // seller), kept after Close; exports never write there.
  const std::string& Directory() const { return dir_; }

  // A post about to go out, recorded as "no answer"; the post's number for
  // Answered and Forget (0 when it could not be written).
  std::int64_t Sent(const std::string& tid, const std::string& buyer, const std::string& result,
                    const std::string& comment, RatingStart start);
  // The post's outcome, with the platform's message for a refusal.
  void Answered(std::int64_t post, const char* outcome, const std::string& message = {});
  // Drops the entry of a post that was not sent after all.
  void Forget(std::int64_t post);
  // Every entry of the order still reading "no answer" gets `outcome`.
  void Settle(const std::string& tid, const char* outcome, const std::string& message);
  // Orders with an entry still reading "no answer", oldest first.
  std::vector<std::string> Unsettled(int limit = 100);

  // Entries, newest first; `filter` (may be empty) matches the order number
  // or the buyer as a part of the text. At most `limit` entries.
  std::vector<RatingLogEntry> Entries(const std::string& filter = {}, int limit = 100000);
  // Every entry, newest first, one at a time (the log may be larger than the
  // window shows); `each` returns false to stop. False when the log could
  // not be read to its end (LastError says why) or `each` stopped.
  bool ForEachEntry(const std::function<bool(const RatingLogEntry&)>& each);

  // The buyer-rating verdicts already known, by order number (held in
  // memory as well: the lists' colours ask for every row they paint).
  void RememberVerdict(const std::string& tid, const BuyerVerdict& verdict);
  // What the run knows, also when the file was replaced since.
  const BuyerVerdict* KnownVerdict(const std::string& tid) const;

  // Remembers the verdict and keeps its alert, unseen, in one transaction,
  // unless the order was alerted before.
  AlertStored KeepAlert(const BuyerAlert& alert, const BuyerVerdict& verdict);
  // The alerts the seller has not seen, oldest first.
  std::vector<BuyerAlert> UnseenAlerts();
  // False when they could not be marked (LastError says why).
  bool MarkAlertsSeen(const std::vector<std::string>& tids);

  // Counts per day (Beijing time, "YYYY-MM-DD") from `firstDay` on: the
  // ratings the platform took, by how they were started, and the buyers'
  // ratings the checks read, by result.
  struct DayCount {
    std::string day, what;
    int count = 0;
  };
  std::vector<DayCount> GivenByDay(const std::string& firstDay);
  std::vector<DayCount> ReceivedByDay(const std::string& firstDay);
  // The platform requests of each day (its `what` is "requests"), and
  // counts to add to them, by day; false (LastError says why) when they
  // could not be added.
  std::vector<DayCount> RequestsByDay(const std::string& firstDay);
  bool AddRequests(const std::map<std::string, long>& byDay);

  const std::string& LastError() const { return error_; }

 private:
  // A post between Sent and its answer: its row in the open file (0 when
  // it could not be carried into a new one) and what the row holds.
  struct Pending {
    std::int64_t row = 0;
    RatingLogEntry entry;
  };

  bool Exec(const char* sql);
  std::string CurrentError() const;
  bool OpenFile(std::string* error);
  // `replaced`: the path names another file, or none, now.
  void CloseFile(bool replaced = false);
  // Opens the file the path names when it is not the open one (replaced,
  // removed), or when the log could not be opened before. False when no
  // file can be used now.
  bool FollowFile();
  bool SameFileAsOpened();
  // A new row for `entry`; its rowid, 0 when it could not be written.
  std::int64_t InsertRow(const RatingLogEntry& entry);
  // (day, what, count) rows of `sql` with its two text parameters.
  std::vector<DayCount> CountsByDay(const char* sql, const std::string& first, const std::string& second);
  // The platform's time now as the log writes it.
  std::string Now() const;

  const PlatformClock& clock_;
  sqlite3* db_ = nullptr;
  std::string path_;  // empty when closed by Close
  std::string dir_;
  bool readOnly_ = false;
  std::optional<FileIdentity> opened_;
  std::string error_;
  std::unordered_map<std::string, BuyerVerdict> verdicts_;
  std::unordered_map<std::int64_t, Pending> pending_;  // by post number
  std::int64_t lastPost_ = 0;
};

// The CSV of a list of entries: UTF-8 with a byte order mark, a header line
// (时间, 订单编号, 买家旺旺, 评价, 评语, 方式, 结果), the words in Chinese as the window shows them, CRLF line ends,
// every field quoted and inner quotes doubled, so that commas, quotes and
// line breaks in a comment survive a spreadsheet program. A field that
// starts with "=", "+", "-" or "@" gets a leading "'", so that a spreadsheet
// shows it as text rather than running it as a formula.
std::string RatingLogCsv(const std::vector<RatingLogEntry>& entries);
// Writes the CSV of `entries` to `path` through a temporary file beside it,
// renamed over it once complete. Refused, with a reason: a path whose last
// part is a symbolic link, one that is not a regular file, and every file
// of the program directory `programDir`.
bool WriteRatingLogCsv(const std::string& programDir, const std::vector<RatingLogEntry>& entries, const std::string& path,
                       std::string* error);
// The same for every entry of `log`, streamed; a null log (none made yet)
// gives the header alone. *written receives the number of entries written.
bool ExportRatingLog(const std::string& programDir, RatingLog* log, const std::string& path, std::int64_t* written,
                     std::string* error);
// Writes `text` as an export is written (a temporary file renamed over the
// target, the same refusals); false with the reason.
bool WriteExportFile(const std::string& programDir, const std::string& path, const std::string& text, std::string* error);

}  // namespace qm

#pragma once
// The account's order database: one SQLite file per seller beside the program,
// named after the account (nick + ".MDB"), made from the template "模板.MDB".
// It holds two scratch tables that every first load empties and refills:
// 买家未评价 (the buyer has not rated) and 卖家未评价 (the seller has not rated),
// each with the text columns 订单ID, 旺旺ID and 确认时间. Their join gives the
// orders that neither side has rated.
//
// Nothing here throws; every operation reports failure by its result and
// leaves a readable reason in LastError(). A file that is not an order
// database is never replaced or repaired behind the user's back.
#include <sqlite3.h>

#include <string>
#include <vector>

#include "orders/order.h"

namespace qm {

inline constexpr const char* kOrderDbTemplateName = "模板.MDB";
inline constexpr const char* kOrderDbSuffix = ".MDB";

// The statements the first load runs. The inserts bind their three values
// (order number, buyer nick, end time) as parameters, so any text, quotes
// included, is stored exactly as received.
inline constexpr const char* kDeleteBuyerUnratedSql = "delete from 买家未评价";
inline constexpr const char* kDeleteSellerUnratedSql = "delete from 卖家未评价";
inline constexpr const char* kInsertBuyerUnratedSql =
    "INSERT INTO 买家未评价(订单ID,旺旺ID,确认时间) values(?,?,?)";
inline constexpr const char* kInsertSellerUnratedSql =
    "INSERT INTO 卖家未评价(订单ID,旺旺ID,确认时间) values(?,?,?)";
inline constexpr const char* kUnratedJoinSql =
    "select * from 买家未评价 a inner join 卖家未评价 b on a.订单ID=b.订单ID order by a.确认时间";

// The schema the program carries for the template.
inline constexpr const char* kOrderDbSchemaSql =
    "CREATE TABLE 买家未评价(订单ID TEXT, 旺旺ID TEXT, 确认时间 TEXT);"
    "CREATE TABLE 卖家未评价(订单ID TEXT, 旺旺ID TEXT, 确认时间 TEXT);";

enum class OrderTable { BuyerUnrated, SellerUnrated };

// The table's name: "买家未评价" or "卖家未评价".
const char* OrderTableName(OrderTable table);

// nick + ".MDB"; empty when the nick cannot name a file beside the program
// (empty, or holding a path separator or a NUL).
std::string OrderDbFileName(const std::string& nick);

// Makes a fresh, empty template database with both tables at `path`. An
// existing file is left alone (true when it already is an order database,
// false otherwise). The file appears whole or not at all.
bool MakeOrderDbTemplate(const std::string& path, std::string* error = nullptr);

// True when `path` is a SQLite database holding both tables with the three
// columns. Opens it read-only; never changes it.
bool IsOrderDatabase(const std::string& path, std::string* error = nullptr);

// The start-up step for the account `nick`: makes "模板.MDB" in the program
// directory when it is missing, then the account's database from the template
// when that is missing. An existing account database or template is kept as
// it is when it is an order database; a file of another kind under either
// name is renamed to "<name>.old" (".old2", ...) and a new one made, with a
// line saying so added to *setAside. False with a reason in *error on a bad
// nick, a file that cannot be looked at or moved, or a directory that cannot
// be written.
// In `dir` (the program directory of the seller's run, any thread):
bool PrepareOrderDatabase(const std::string& dir, const std::string& nick, std::string* error,
                          std::vector<std::string>* setAside = nullptr);

// The rows of one query, walked like a record set. Move-only; it must not
// outlive the database that made it.
class RecordSet {
 public:
  RecordSet() = default;
  ~RecordSet();
  RecordSet(RecordSet&& other) noexcept;
  RecordSet& operator=(RecordSet&& other) noexcept;
  RecordSet(const RecordSet&) = delete;
  RecordSet& operator=(const RecordSet&) = delete;

  bool Valid() const { return stmt_ != nullptr; }
  // Back to the first row; false when the query failed on the way.
  bool MoveFirst();
  bool MoveNext();
  bool IsAtEnd() const { return atEnd_; }
  // The column at a 1-based position of the current row as text; empty for
  // NULL, past the end or out of range.
  std::string Read(int position) const;

 private:
  friend class OrderDatabase;
  explicit RecordSet(sqlite3_stmt* stmt) : stmt_(stmt) {}
  bool Step();

  sqlite3_stmt* stmt_ = nullptr;
  bool atEnd_ = true;
};

// One connection to an account's database. Used by one thread at a time.
class OrderDatabase {
 public:
  OrderDatabase() = default;
  ~OrderDatabase();
  OrderDatabase(const OrderDatabase&) = delete;
  OrderDatabase& operator=(const OrderDatabase&) = delete;

  // Opens an existing order database for reading and writing. False (and
  // closed) when the file is missing, is not an order database or cannot be
  // written.
  bool Open(const std::string& path);
  // A fresh database with both tables that lives in memory only, for
  // loading the lists without touching the seller's file.
  bool OpenInMemory();
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  const std::string& LastError() const { return error_; }

  bool BeginTransaction();
  // On failure the transaction is rolled back, so the connection stays usable.
  bool CommitTransaction();
  bool RollbackTransaction();
  // A statement (or several) without a result set.
  bool Execute(const std::string& sql);
  // A statement with a result set, positioned on its first row. Invalid when
  // the statement cannot be prepared.
  RecordSet Query(const std::string& sql);

  // Empties both tables in one transaction.
  bool ClearTables();
  // One order into a table, its values bound as parameters.
  bool Insert(OrderTable table, const std::string& tid, const std::string& buyerNick,
              const std::string& endTime);
  // The orders in both tables, oldest end time first: positions 1, 2 and 3 of
  // every row of the join (one row per matching pair).
  std::vector<Order> UnratedOrders();

 private:
  bool Fail(const std::string& what);
  sqlite3_stmt* InsertStatement(OrderTable table);

  sqlite3* db_ = nullptr;
  sqlite3_stmt* insertBuyer_ = nullptr;
  sqlite3_stmt* insertSeller_ = nullptr;
  std::string path_;
  std::string error_;
};

}  // namespace qm

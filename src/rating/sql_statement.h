#pragma once
// One prepared SQLite statement for the length of a call, with its values
// bound as parameters. A statement that could not be prepared (a missing
// table in an older file, no database) is not Ok() and steps to SQLITE_MISUSE.
#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace qm {

class SqlStatement {
 public:
  SqlStatement(sqlite3* db, const char* sql) {
    if (db != nullptr) sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~SqlStatement() { sqlite3_finalize(stmt_); }
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;
  bool Ok() const { return stmt_ != nullptr; }
  SqlStatement& Bind(int position, const std::string& text) {
    sqlite3_bind_text(stmt_, position, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  SqlStatement& Bind(int position, std::int64_t value) {
    sqlite3_bind_int64(stmt_, position, value);
    return *this;
  }
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }
  // Ready to run again with new values.
  SqlStatement& Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    return *this;
  }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
  }
  std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace qm

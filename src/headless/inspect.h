#pragma once
// The runner's read-only commands, for scripts and servers. They work beside
// a running instance of the same seller: no lock is taken, no database file
// written, no pass run and nothing posted.
//
//   --list        both lists, loaded into memory: order number, buyer, time left
//   --check TID   the verdict of the buyer-rating check, alone on the last line
//   --export-log FILE                   the rating log as CSV
//   --keep / --release TID, --keep-buyer / --release-buyer NICK
//                 edits of the list of orders and buyers kept from automatic rating
#include <string>

#include "orders/order_book.h"
#include "settings/app_session.h"

namespace qm {

// The two unrated listings into an in-memory database, their join into the
// book's unrated list, then the buyer-rated listing into its own list (which
// takes those orders out of the unrated one). False with a reason when a
// listing gave up or the database could not be made; what was read is kept.
bool LoadListsInMemory(const Account& account, OrderBook& book, std::string* error);

// Both commands print their lines and return the exit code; the account has
// been opened with OpenAccountToRead into `session`.
int ListOrders(const AppSession& session);
int CheckOrder(const AppSession& session, const std::string& tid);

struct KeepEdit {
  bool keep = true;    // false: release
  bool buyer = false;  // the name is a buyer's, not an order number
  std::string name;
};
// These need the account's files only (OpenAccountFiles).
int EditKeepList(const AppSession& session, const KeepEdit& edit);
int ExportLog(const AppSession& session, const std::string& path);

}  // namespace qm

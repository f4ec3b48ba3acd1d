#include "headless/inspect.h"

#include <algorithm>
#include <limits>

#include "headless/output.h"
#include "headless/runner.h"
#include "orders/order_db.h"
#include "orders/listing.h"
#include "platform/platform_link.h"
#include "rating/refresh_checks.h"
#include "platform/platform_time.h"
#include "rating/keep_list.h"
#include "rating/manual_rating.h"
#include "rating/post_rating.h"
#include "rating/rating_log.h"
#include "rating/schedule.h"
#include "settings/app_session.h"
#include "util/file_io.h"
#include "util/stop.h"

namespace qm {

bool LoadListsInMemory(const Account& account, OrderBook& book, std::string* error) {
  OrderDatabase db;
  if (!db.OpenInMemory()) {
    if (error) *error = db.LastError();
    return false;
  }
  std::string gaveUp;
  for (const auto& [status, table] : {std::pair{kRateUnbuyer, OrderTable::BuyerUnrated},
                                      std::pair{kRateUnseller, OrderTable::SellerUnrated}}) {
    const FetchStats stats = FetchUnratedTrades(account, db, status, table);
    if (const std::string problem = ListingProblem(status, stats); !problem.empty() && gaveUp.empty()) gaveUp = problem;
  }
  book.Unrated().Fill(db.UnratedOrders());
  const FetchStats refresh = RefreshBuyerRatedList(account, book);
  if (const std::string problem = ListingProblem(kRateBuyerUnseller, refresh); !problem.empty() && gaveUp.empty())
    gaveUp = problem;
  if (!gaveUp.empty() && error) *error = "the platform did not answer " + gaveUp;
  return gaveUp.empty();
}

int ListOrders(const AppSession& session) {
  OrderBook book;
  std::string error;
  const bool complete = LoadListsInMemory(session.RunAccount(), book, &error);
  const PlatformClock& clock = session.link->Clock();
  const double now = clock.Now();
  KeepList kept(KeepListPath(session.programDir, session.sellerNick), clock);
  kept.Refresh();
  if (!kept.Usable())
    PrintLine("list: the keep list cannot be used: " + kept.Problem() + "; a run rates nothing automatically");
  const OrderRows& unrated = book.Unrated();
  for (int i = 0; i < unrated.RowCount(); ++i) {
    const Order& order = unrated.Row(i).order;
    const std::string left = TimeLeftText(order.endTime, now).value_or("-");
    PrintLine("waiting: order=" + order.tid + " buyer=" + order.buyerNick + " 到期=" +
              (kept.Keeps(order) ? std::string(kKeptTimeLeft) + " (" + left + ")" : left));
  }
  const OrderRows& buyerRated = book.BuyerRated();
  for (int i = 0; i < buyerRated.RowCount(); ++i) {
    const Order& order = buyerRated.Row(i).order;
    PrintLine("buyer-rated: order=" + order.tid + " buyer=" + order.buyerNick);
  }
  if (!complete) {
    PrintLine("list: incomplete: " + error);
    return kExitDatabase;
  }
  PrintLine("list: " + std::to_string(unrated.RowCount()) + " waiting, " + std::to_string(buyerRated.RowCount()) +
            " buyer-rated");
  return kExitOk;
}

int CheckOrder(const AppSession& session, const std::string& tid) {
  if (!IsOrderNumber(tid)) {
    PrintLine("check: '" + tid + "' is no order number");
    return kExitUsage;
  }
  const std::string verdict = check_buyer_rating(tid, session.RunAccount());
  // A question cut short by a stop has no answer; its fallback verdict would read as one.
  if (StopRequested()) return kExitOk;
  PrintBareLine(verdict);
  return kExitOk;
}

int EditKeepList(const AppSession& session, const KeepEdit& edit) {
  KeepList kept(KeepListPath(session.programDir, session.sellerNick), session.link->Clock());
  kept.Refresh();
  if (!kept.Usable()) {
    PrintLine("keep: the keep list cannot be used: " + kept.Problem() + "; nothing was changed");
    return kExitSettingsFile;
  }
  const bool ok = edit.buyer ? (edit.keep ? kept.KeepBuyer(edit.name) : kept.ReleaseBuyer(edit.name))
                             : (edit.keep ? kept.KeepOrder(edit.name) : kept.ReleaseOrder(edit.name));
  const std::string what = std::string(edit.buyer ? "buyer " : "order ") + edit.name;
  if (!ok) {
    PrintLine("keep: " + what + " cannot be stored in " + KeepListFileName(session.sellerNick) +
              (edit.buyer ? " (a name with \"=\", \"]\", a line break or a character outside GBK)"
                          : " (not an order number, or the file cannot be written)"));
    return kExitUsage;
  }
  PrintLine("keep: " + what + (edit.keep ? " kept from automatic rating" : " rated automatically again") + "; " +
            std::to_string(kept.OrderCount()) + " orders and " + std::to_string(kept.BuyerCount()) + " buyers kept");
  return kExitOk;
}

int ExportLog(const AppSession& session, const std::string& path) {
  RatingLog log(session.link->Clock());
  std::string error;
  const std::string file = session.PathOf(RatingLogFileName(session.sellerNick));
  // Looked at before SQLite opens it: a FIFO put in its place would hold the open for ever.
  const FileReadStatus status = CheckReadableFile(file, std::numeric_limits<std::size_t>::max());
  if (status == FileReadStatus::NotRegular) {
    PrintLine("export: the rating log " + file + " is not a regular file");
    return kExitDatabase;
  }
  if (status != FileReadStatus::Missing && !log.Open(file, true, &error)) {
    PrintLine("export: " + error);
    return kExitDatabase;
  }
  std::int64_t written = 0;
  if (!ExportRatingLog(session.programDir, log.IsOpen() ? &log : nullptr, path, &written, &error)) {
    PrintLine("export: " + error);
    return kExitDatabase;
  }
  PrintLine("export: " + std::to_string(written) + " ratings written to " + path);
  return kExitOk;
}

}  // namespace qm

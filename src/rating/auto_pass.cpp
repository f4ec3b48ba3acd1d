#include "rating/auto_pass.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "orders/order_book.h"
#include "platform/platform_time.h"
#include "rating/manual_rating.h"
#include "rating/post_rating.h"
#include "rating/schedule.h"
#include "rating/seller_run.h"
#include "settings/app_session.h"
#include "util/stop.h"

namespace qm {
namespace {

// The time-left texts of one pass, by hours (most rows share a few hundred values).
class TimeLeftTexts {
 public:
  const std::string& For(std::int64_t hours) {
    if (hours >= 0 && hours < kCached) {
      auto& slot = cache_[static_cast<std::size_t>(hours)];
      if (slot.empty()) slot = FormatTimeLeft(static_cast<std::int32_t>(hours));
      return slot;
    }
    other_ = FormatTimeLeft(Clamp(hours));
    return other_;
  }

 private:
  static constexpr std::int64_t kCached = 24 * 400;
  static std::int32_t Clamp(std::int64_t h) {
    if (h > INT32_MAX) return INT32_MAX;
    if (h < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(h);
  }
  std::vector<std::string> cache_ = std::vector<std::string>(static_cast<std::size_t>(kCached));
  std::string other_;
};

// The walk of one pass. A rating call waits for the network while other
// handlers run, and they may remove orders meanwhile; after each wait the
// walk finds its place again by the rated row's serial (rows keep their
// order, so the rows still to visit are those that came before it).
class PassWalk {
 public:
  PassWalk(SellerRun& run, bool buyerRatedComplete)
      : run_(run), list_(run.Book().Unrated()), askBuyer_(!buyerRatedComplete) {}

  int Run() {
    now_ = PlatformNow();
    // The kept orders and buyers, read again when the file changed.
    run_.Keep().Refresh();
    // Any order might be one the seller kept: nothing is rated until the list reads.
    if (!run_.Keep().Usable()) {
      run_.Observer().KeepListUnusable(run_.Keep().Problem(), run_.Keep().ProblemIsNew());
      return 0;
    }
    list_.BeginTimeLeftChanges();
    int i = list_.RowCount() - 1;
    while (i >= 0 && !Ending()) i = Visit(i);
    list_.EndTimeLeftChanges();
    return rated_;
  }

 private:
  bool Ending() const { return StopRequested() || run_.Schedule().Phase() == RunPhase::Ended; }

  int Visit(int i) {
    const OrderRow& row = list_.Row(i);
    if (row.order.endTime.empty()) return i - 1;
    const auto hours = HoursLeft(row.order.endTime, now_);
    // An end time that is not a time gives no deadline: the row is left alone
    // rather than rated at once.
    if (!hours) return i - 1;
    const KeepList& keep = run_.Keep();
    if (!keep.Empty() && keep.Keeps(row.order)) {
      list_.SetTimeLeft(i, kKeptTimeLeft);
      return i - 1;
    }
    const float lead = Session().ratingHours;
    if (static_cast<double>(*hours) - static_cast<double>(lead) > 0.0000001) {
      list_.SetTimeLeft(i, texts_.For(*hours));
      return i - 1;
    }
    // Another handler is posting this very order (this pass runs inside its
    // wait): leave the row to that handler.
    if (RatingInFlight(row.order.tid)) return i - 1;
    return Rate(row);
  }

  // Without a complete buyer-rated listing the pass cannot know that the
  // buyer has not rated since: it asks. True when the order may be rated "good".
  bool BuyerHasNotRated(const Order& order) {
    const std::optional<BuyerVerdict> verdict = QueryBuyerRating(order.tid);
    if (!verdict) return false;  // no answer: a later pass asks again
    if (verdict->result.empty()) return true;
    if (list_.Remove(order.tid)) {
      run_.Book().BuyerRated().Append({order});
      run_.Observer().MovedToBuyerRated(order, verdict->result);
    }
    return false;
  }

  int Rate(const OrderRow& row) {
    const Order order = row.order;  // the row may be gone after the wait
    const std::uint64_t serial = row.serial;

    // The window may paint during the wait: it hears of the texts so far.
    list_.EndTimeLeftChanges();
    bool post = true;
    if (askBuyer_) post = BuyerHasNotRated(order) && list_.Contains(order.tid);
    if (post && !Ending()) {
      PassRating rating{order, run_.Ledger().Rate(order.tid, kResultGood, Session().autoContent,
                                                  {order.buyerNick, RatingStart::Automatic}),
                        false};
      rating.removed = rating.attempt.Done() && list_.Remove(order.tid);
      // One rated elsewhere leaves the list too, but the pass did not rate it.
      if (rating.attempt.Done() && rating.attempt.verdict != LedgerVerdict::AlreadyRated) ++rated_;
      run_.Observer().PassRated(rating);
    }
    list_.BeginTimeLeftChanges();
    now_ = PlatformNow();
    return list_.RowsBefore(serial) - 1;
  }

  SellerRun& run_;
  OrderRows& list_;
  bool askBuyer_;
  double now_ = 0;
  int rated_ = 0;
  TimeLeftTexts texts_;
};

}  // namespace

int RateDueOrders(SellerRun& run, bool buyerRatedListComplete) { return PassWalk(run, buyerRatedListComplete).Run(); }

}  // namespace qm

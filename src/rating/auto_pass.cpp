#include "rating/auto_pass.h"

#include <climits>
#include <cmath>

#include "orders/order_book.h"
#include "platform/platform_time.h"
#include "rating/post_rating.h"
#include "rating/schedule.h"
#include "rating/seller_run.h"
#include "settings/app_session.h"
#include "settings/config.h"
#include "util/stop.h"

namespace qm {
namespace {

constexpr std::int64_t kCachedHours = 24 * 400;
// A due order with fewer whole hours left than this does not wait for the
// next refresh's look.
constexpr std::int64_t kUrgentHoursLeft = 1;

std::int32_t ClampHours(std::int64_t h) {
  if (h > INT32_MAX) return INT32_MAX;
  if (h < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(h);
}

}  // namespace

AutoPass::AutoPass(SellerRun& run) : run_(run), list_(run.Book().Unrated()) {}

bool AutoPass::Ending() const { return StopRequested() || run_.Schedule().Phase() == RunPhase::Ended; }

const std::string& AutoPass::TimeLeftFor(std::int64_t hours) {
  if (hours >= 0 && hours < kCachedHours) {
    if (texts_.empty()) texts_.resize(static_cast<std::size_t>(kCachedHours));
    auto& slot = texts_[static_cast<std::size_t>(hours)];
    if (slot.empty()) slot = FormatTimeLeft(static_cast<std::int32_t>(hours));
    return slot;
  }
  otherText_ = FormatTimeLeft(ClampHours(hours));
  return otherText_;
}

bool AutoPass::Start(std::function<void(int)> done) {
  if (running_) return false;
  running_ = true;
  done_ = std::move(done);
  rated_ = 0;
  posted_ = false;
  lookedJustNow_ = false;
  now_ = run_.Clock().Now();
  // The kept orders and buyers, read again when the file changed.
  run_.Keep().Refresh();
  // Any order might be one the seller kept: nothing is rated until the list reads.
  if (!run_.Keep().Usable()) {
    run_.Observer().KeepListUnusable(run_.Keep().Problem(), run_.Keep().ProblemIsNew());
    Finish();
    return true;
  }
  Look();
  PostDue();
  return true;
}

void AutoPass::Look() {
  due_.clear();
  next_ = 0;
  const KeepList& keep = run_.Keep();
  const float lead = run_.Settings().ratingHours;
  list_.BeginTimeLeftChanges();
  for (int i = list_.RowCount() - 1; i >= 0; --i) {
    const OrderRow& row = list_.Row(i);
    if (row.order.endTime.empty()) continue;
    const auto hours = HoursLeft(row.order.endTime, now_);
    // An end time that is not a time gives no deadline: the row is left alone
    // rather than rated at once.
    if (!hours) continue;
    if (!keep.Empty() && keep.Keeps(row.order)) {
      list_.SetTimeLeft(i, kKeptTimeLeft);
      continue;
    }
    if (static_cast<double>(*hours) - static_cast<double>(lead) > 0.0000001) {
      list_.SetTimeLeft(i, TimeLeftFor(*hours));
      continue;
    }
    due_.push_back(Due{row.order, *hours});
  }
  list_.EndTimeLeftChanges();
  // Gathered from the bottom row up: equal deadlines keep that order.
  std::stable_sort(due_.begin(), due_.end(), [](const Due& a, const Due& b) { return a.hoursLeft < b.hoursLeft; });
}

void AutoPass::PostDue() {
  while (next_ < due_.size() && !Ending()) {
    const Due& due = due_[next_];
    // Gone since the look (rated by hand, its buyer rated, a reload), or the
    // seller's own action is posting this very order: leave it to that.
    if (!list_.Contains(due.order.tid) || run_.Ledger().InFlight(due.order.tid)) {
      ++next_;
      continue;
    }
    // Old news ends the pass here: the refresh renews the list first.
    if (run_.Schedule().NewsIsOld()) break;
    // A buyer whose rating a look has read (a reload may list the order again
    // for a while): the order is an answer's to give, not a "good".
    if (const BuyerVerdict* known = run_.Log().KnownVerdict(due.order.tid); known != nullptr && known->Rated()) {
      const Order order = due.order;
      const BuyerVerdict verdict = *known;
      ++next_;
      MoveToBuyerRated(order, verdict, false);
      continue;
    }
    if (!run_.Schedule().RatingsSeenRecently()) {
      // The due orders go nearest deadline first: when this one can wait for
      // the next refresh's look, so can the rest.
      // A refresh that did not look lately (it listed in full, slowly, or
      // failed) is not waited for either, nor is the next one at the start.
      const bool urgent = due.hoursLeft < kUrgentHoursLeft || run_.Schedule().Phase() == RunPhase::FirstRefresh ||
                          !run_.Schedule().RatingsSeenWithin(kRefreshIntervalMs / 1000.0 + kMostLookAgeSeconds);
      if (lookedJustNow_ || !(posted_ || urgent)) break;
      if (!run_.Schedule().LookForPass([this](bool complete) { Looked(complete); })) break;
      return;  // the look's answer goes on with the posts
    }
    lookedJustNow_ = false;
    const Order order = std::move(due_[next_++].order);
    RatingRequest request{order.tid, kResultGood, run_.NextComment(), {order.buyerNick, RatingStart::Automatic}};
    posted_ = true;
    launching_ = true;
    answeredNow_ = false;
    run_.Ledger().Rate(std::move(request), [this, order](const RatingAttempt& attempt) {
      Answered(order, attempt);
      if (launching_) {
        answeredNow_ = true;  // the loop is still in the call and goes on by itself
        return;
      }
      if (!running_) return;
      PostDue();
    });
    launching_ = false;
    if (!answeredNow_) return;  // the answer goes on with the posts
  }
  due_.clear();
  Finish();
}

void AutoPass::Looked(bool complete) {
  if (!running_) return;
  if (!complete || Ending()) {
    // No post without a complete look.
    due_.clear();
    Finish();
    return;
  }
  lookedJustNow_ = true;
  PostDue();
}

void AutoPass::MoveToBuyerRated(const Order& order, const BuyerVerdict& verdict, bool verdictIsNew) {
  const bool moved = list_.Remove(order.tid);
  // The verdict and its alert are kept together: a run ended in between
  // would otherwise know the verdict and never alert it.
  const bool alert = verdictIsNew && moved && verdict.Unfavourable() && run_.Settings().badRatingAlerts;
  const bool raised = alert && run_.Alerts().Raise(order, verdict);
  if (verdictIsNew && !alert) run_.Log().RememberVerdict(order.tid, verdict);
  if (moved) {
    if (!run_.Book().BuyerRated().Contains(order.tid)) run_.Book().BuyerRated().Append({order});
    run_.Observer().MovedToBuyerRated(order, verdict.result);
    if (raised) run_.Observer().Alert(order, verdict);
  }
}

void AutoPass::Answered(const Order& order, const RatingAttempt& attempt) {
  PassRating rating{order, attempt, false};
  rating.removed = attempt.Done() && list_.Remove(order.tid);
  // One rated elsewhere leaves the list too, but the pass did not rate it.
  if (attempt.Done() && attempt.verdict != LedgerVerdict::AlreadyRated) ++rated_;
  run_.Observer().PassRated(rating);
}

void AutoPass::Finish() {
  running_ = false;
  auto done = std::move(done_);
  done_ = nullptr;
  if (done) done(rated_);
}

}  // namespace qm

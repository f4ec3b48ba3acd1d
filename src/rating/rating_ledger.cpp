#include "rating/rating_ledger.h"

#include <iterator>

#include "platform/platform_time.h"
#include "rating/post_rating.h"

namespace qm {

double RetryPause(int failures) {
  constexpr int n = static_cast<int>(std::size(kRetryPausesSeconds));
  if (failures < 1) failures = 1;
  return kRetryPausesSeconds[failures > n ? n - 1 : failures - 1];
}

RatingAttempt RatingLedger::Rate(const std::string& tid, const std::string& result, const std::string& comment,
                                 const RatingNote& note) {
  RatingAttempt attempt;
  if (RatingInFlight(tid)) return attempt;  // Busy

  // Entries are looked up again after every wait: handlers that ran inside
  // it may have rated or forgotten the order.
  if (auto it = entries_.find(tid); it != entries_.end()) {
    Entry& e = it->second;
    if (PlatformNow() < e.notBefore) {
      attempt.verdict = LedgerVerdict::Waiting;
      attempt.nextTry = e.notBefore;
      attempt.awaitsCheck = !e.afterRefusal;
      attempt.firstWait = !e.waitReported;
      e.waitReported = true;
      return attempt;
    }
    if (e.mustCheck) {
      const SellerRatingCheck check = CheckSellerRating(tid);
      switch (check) {
        case SellerRatingCheck::Busy: return attempt;
        case SellerRatingCheck::Exists:
          if (RatingLog* log = CurrentRatingLog()) log->Settle(tid, kLogRated, "confirmed by the platform");
          entries_.erase(tid);
          attempt.verdict = LedgerVerdict::Confirmed;
          return attempt;
        case SellerRatingCheck::Unknown: {
          Entry& again = entries_[tid];
          again.mustCheck = true;
          ++again.unansweredChecks;
          again.notBefore = PlatformNow() + RetryPause(again.unansweredChecks);
          again.waitReported = false;
          again.afterRefusal = false;
          attempt.verdict = LedgerVerdict::CheckUnanswered;
          attempt.nextTry = again.notBefore;
          return attempt;
        }
        case SellerRatingCheck::Missing: {
          if (RatingLog* log = CurrentRatingLog()) log->Settle(tid, kLogNotTaken, "not on the platform");
          Entry& again = entries_[tid];
          again.mustCheck = false;
          again.unansweredChecks = 0;
          break;
        }
      }
    }
  }

  // Recorded before it goes out: a run killed during the wait leaves "no answer".
  RatingLog* log = CurrentRatingLog();
  const std::int64_t logged = log ? log->Sent(tid, note.buyer, result, comment, note.start) : 0;
  if (log != nullptr && logged == 0) {
    // No post without its entry: the order stays and a later pass tries again.
    attempt.verdict = LedgerVerdict::NotLogged;
    attempt.problem = log->LastError();
    return attempt;
  }
  std::string refusal;
  const RatingOutcome outcome = PostRating(tid, result, "seller", comment, &refusal);
  const double now = PlatformNow();
  // The run's log may have changed hands inside the wait; the entry is by id.
  if (log == CurrentRatingLog() && log != nullptr) {
    switch (outcome) {
      case RatingOutcome::Rated: log->Answered(logged, kLogRated); break;
      case RatingOutcome::Refused:
      case RatingOutcome::AlreadyRated: log->Answered(logged, kLogRefused, refusal); break;
      case RatingOutcome::Unknown: break;  // stays "no answer" until the check
      case RatingOutcome::Busy: log->Forget(logged); break;  // nothing was sent
    }
  }
  switch (outcome) {
    case RatingOutcome::Busy: return attempt;
    case RatingOutcome::Rated:
      entries_.erase(tid);
      attempt.verdict = LedgerVerdict::Rated;
      return attempt;
    case RatingOutcome::AlreadyRated:
      // Rated elsewhere (the platform's own page, another tool): nothing to try again.
      entries_.erase(tid);
      attempt.verdict = LedgerVerdict::AlreadyRated;
      return attempt;
    case RatingOutcome::Refused: {
      Entry& e = entries_[tid];
      ++e.refusals;
      // A refusal may be the platform turning down a second copy of a rating
      // it took before (a post that timed out while it was still working), so
      // it is asked before the retry.
      e.mustCheck = true;
      e.unansweredChecks = 0;
      e.notBefore = now + RetryPause(e.refusals);
      e.waitReported = false;
      e.afterRefusal = true;
      attempt.verdict = LedgerVerdict::Refused;
      attempt.nextTry = e.notBefore;
      attempt.message = refusal;
      return attempt;
    }
    case RatingOutcome::Unknown: {
      Entry& e = entries_[tid];
      e.mustCheck = true;
      e.unansweredChecks = 0;
      e.notBefore = now + kFirstCheckDelaySeconds;
      e.waitReported = false;
      e.afterRefusal = false;
      attempt.verdict = LedgerVerdict::Unknown;
      attempt.nextTry = e.notBefore;
      return attempt;
    }
  }
  return attempt;
}

}  // namespace qm

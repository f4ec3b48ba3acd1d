#include "rating/rating_ledger.h"

#include <iterator>

#include "platform/platform_link.h"
#include "platform/platform_time.h"
#include "rating/post_rating.h"
#include "rating/run_worker.h"
#include "util/stop.h"

namespace qm {
namespace {

// What the worker brings back from one post.
struct PostAnswer {
  RatingOutcome outcome = RatingOutcome::Busy;
  std::string refusal;
};

}  // namespace

double RetryPause(int failures) {
  constexpr int n = static_cast<int>(std::size(kRetryPausesSeconds));
  if (failures < 1) failures = 1;
  return kRetryPausesSeconds[failures > n ? n - 1 : failures - 1];
}

void RatingLedger::Rate(RatingRequest request, Done done) {
  RatingAttempt attempt;
  if (InFlight(request.tid) || StopRequested()) return done(attempt);  // Busy
  if (rated_.count(request.tid) != 0) {
    attempt.verdict = LedgerVerdict::Confirmed;
    return done(attempt);
  }
  if (auto it = entries_.find(request.tid); it != entries_.end()) {
    Entry& e = it->second;
    if (ClockOf(account_).Now() < e.notBefore) {
      attempt.verdict = LedgerVerdict::Waiting;
      attempt.nextTry = e.notBefore;
      attempt.awaitsCheck = !e.afterRefusal;
      attempt.firstWait = !e.waitReported;
      e.waitReported = true;
      return done(attempt);
    }
    if (e.mustCheck) return CheckThenPost(std::move(request), std::move(done));
  }
  Post(std::move(request), std::move(done));
}

void RatingLedger::CheckThenPost(RatingRequest request, Done done) {
  const std::string tid = request.tid;
  inFlight_.insert(tid);
  worker_.Run<SellerRatingCheck>([tid, account = account_] { return CheckSellerRating(tid, account); },
                                 [this, request = std::move(request), done = std::move(done)](SellerRatingCheck check) {
                                   inFlight_.erase(request.tid);
                                   RatingAttempt attempt;
                                   Settle(request.tid, check);
                                   switch (check) {
                                     case SellerRatingCheck::Exists:
                                       attempt.verdict = LedgerVerdict::Confirmed;
                                       return done(attempt);
                                     case SellerRatingCheck::Unknown: {
                                       Entry& again = entries_[request.tid];
                                       again.mustCheck = true;
                                       ++again.unansweredChecks;
                                       again.notBefore = ClockOf(account_).Now() + RetryPause(again.unansweredChecks);
                                       again.waitReported = false;
                                       again.afterRefusal = false;
                                       attempt.verdict = LedgerVerdict::CheckUnanswered;
                                       attempt.nextTry = again.notBefore;
                                       return done(attempt);
                                     }
                                     case SellerRatingCheck::Missing:
                                       return Post(request, done);
                                   }
                                 });
}

bool RatingLedger::Settle(const std::string& tid, SellerRatingCheck check) {
  switch (check) {
    case SellerRatingCheck::Exists:
      log_.Settle(tid, kLogRated, "confirmed by the platform");
      entries_.erase(tid);
      rated_.insert(tid);
      return true;
    case SellerRatingCheck::Missing:
      log_.Settle(tid, kLogNotTaken, "not on the platform");
      if (auto it = entries_.find(tid); it != entries_.end()) {
        it->second.mustCheck = false;
        it->second.unansweredChecks = 0;
      }
      return true;
    case SellerRatingCheck::Unknown: break;
  }
  return false;
}

void RatingLedger::Post(RatingRequest request, Done done) {
  // A stop, or another call that took the order while the check travelled.
  if (InFlight(request.tid) || StopRequested()) return done(RatingAttempt{});
  // Recorded before it goes out: a run killed before the answer leaves "no answer".
  const std::int64_t logged =
      log_.Sent(request.tid, request.note.buyer, request.result, request.comment, request.note.start);
  if (logged == 0) {
    // No post without its entry: the order stays and a later pass tries again.
    RatingAttempt notLogged;
    notLogged.verdict = LedgerVerdict::NotLogged;
    notLogged.problem = log_.LastError();
    return done(notLogged);
  }
  inFlight_.insert(request.tid);
  const RatingRequest sent = request;
  worker_.Run<PostAnswer>(
      [sent, account = account_] {
        PostAnswer answer;
        answer.outcome = PostRating(sent.tid, sent.result, kRoleSeller, sent.comment, &answer.refusal, account);
        return answer;
      },
      [this, logged, request = std::move(request), done = std::move(done)](PostAnswer answer) {
        const std::string& tid = request.tid;
        inFlight_.erase(tid);
        RatingAttempt attempt;
        const double now = ClockOf(account_).Now();
        switch (answer.outcome) {
          case RatingOutcome::Busy:  // nothing was sent
            log_.Forget(logged);
            return done(attempt);
          case RatingOutcome::Rated:
            log_.Answered(logged, kLogRated);
            entries_.erase(tid);
            rated_.insert(tid);
            attempt.verdict = LedgerVerdict::Rated;
            return done(attempt);
          case RatingOutcome::AlreadyRated:
            // Rated elsewhere (the platform's own page, another tool): the
            // order holds the seller's rating, nothing to try again.
            log_.Answered(logged, kLogRated, answer.refusal);
            entries_.erase(tid);
            rated_.insert(tid);
            attempt.verdict = LedgerVerdict::AlreadyRated;
            attempt.message = answer.refusal;
            return done(attempt);
          case RatingOutcome::Refused: {
            log_.Answered(logged, kLogRefused, answer.refusal);
            Entry& e = entries_[tid];
            ++e.refusals;
            // A refusal may be the platform turning down a second copy of a
            // rating it took before (a post that timed out while it was still
            // working), so it is asked before the retry.
            e.mustCheck = true;
            e.unansweredChecks = 0;
            e.notBefore = now + RetryPause(e.refusals);
            e.waitReported = false;
            e.afterRefusal = true;
            attempt.verdict = LedgerVerdict::Refused;
            attempt.nextTry = e.notBefore;
            attempt.message = answer.refusal;
            return done(attempt);
          }
          case RatingOutcome::Unknown: {
            // Stays "no answer" in the log until the check.
            Entry& e = entries_[tid];
            e.mustCheck = true;
            e.unansweredChecks = 0;
            e.notBefore = now + kFirstCheckDelaySeconds;
            e.waitReported = false;
            e.afterRefusal = false;
            attempt.verdict = LedgerVerdict::Unknown;
            attempt.nextTry = e.notBefore;
            return done(attempt);
          }
        }
      });
}

}  // namespace qm

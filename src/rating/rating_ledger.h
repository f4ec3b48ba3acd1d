#pragma once
// What the program knows about its own rating posts, by order number. A post
// whose answer went missing may have been recorded all the same, so the order
// is not posted again until the platform has been asked whether the seller's
// rating of it exists; an order the platform refused is tried again after a
// growing pause instead of on every pass. Times are the platform clock's
// (the account's link keeps it), so tests can move them. Every rating of an
// order by the program goes through Rate, the automatic pass and the
// seller's own actions alike. The ledger lives on the UI thread; its questions and posts run on
// the run's worker and their answers come back to it.
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "rating/buyer_verdict.h"
#include "rating/post_rating.h"
#include "rating/rating_log.h"

namespace qm {

enum class LedgerVerdict {
  Rated,            // posted and the platform answered with this order
  Confirmed,        // the platform already holds the seller's rating of it
  AlreadyRated,     // posted and refused because the order holds a seller's rating (given elsewhere)
  Refused,          // posted and refused; tried again at nextTry
  Unknown,          // posted without a readable answer; the platform is asked at nextTry
  CheckUnanswered,  // the question got no readable answer; asked again at nextTry
  Waiting,          // nothing sent: a pause or a pending question holds it until nextTry
  Busy,             // nothing sent: another call is posting or checking it, or the program is stopping
  NotLogged,        // nothing sent: the rating log could not record the post; tried at a later pass
};

struct RatingAttempt {
  LedgerVerdict verdict = LedgerVerdict::Busy;
  double nextTry = 0;          // platform time; for the verdicts that wait
  bool awaitsCheck = false;    // Waiting: for the question (else for the pause after a refusal)
  bool firstWait = false;      // Waiting: the first skip of this wait (later ones need no word)
  std::string problem;         // NotLogged: why the log could not be written
  std::string message;         // Refused, AlreadyRated: the platform's words
  // The order is rated on the platform: it leaves the lists.
  bool Done() const {
    return verdict == LedgerVerdict::Rated || verdict == LedgerVerdict::Confirmed || verdict == LedgerVerdict::AlreadyRated;
  }
};

// The pauses after the 1st, 2nd, 3rd and every later refusal (or unanswered question).
inline constexpr double kRetryPausesSeconds[] = {5, 30, 120, 600};
// A post without an answer is asked about no sooner than this: the platform
// may still be working on it (a post that timed out can be stored seconds
// later, and a question asked before that reads "not there" and sends a
// second copy, which the platform refuses).
inline constexpr double kFirstCheckDelaySeconds = 30;

double RetryPause(int failures);

// What the rating log records of a rating besides what is posted.
struct RatingNote {
  std::string buyer;
  RatingStart start = RatingStart::Automatic;
};

// One rating the program means to give.
struct RatingRequest {
  std::string tid;
  std::string result;
  std::string comment;
  RatingNote note;
};

class RunWorker;

class RatingLedger {
 public:
  using Done = std::function<void(const RatingAttempt&)>;

  // Posts and questions go out for `account` (the run's; it outlives the ledger).
  RatingLedger(RatingLog& log, RunWorker& worker, const Account& account)
      : log_(log), worker_(worker), account_(account) {}

  // Rates the order as seller, asking the platform first when an earlier
  // post of it had no readable answer (or was refused), and holding it while
  // a pause runs. `done` hears the attempt on the UI thread: at once when
  // nothing needs the network (Waiting, Busy, NotLogged), else when the
  // worker's answer is back. The order leaves the ledger once Done; a later
  // call for it is Confirmed at once, without a post.
  // Every post is recorded in the rating log before it goes out and again
  // with its outcome; a post whose entry cannot be stored is not sent
  // (NotLogged); a check that settles an earlier post without an answer
  // settles its log entries too.
  void Rate(RatingRequest request, Done done);

  // A question or post of this order is on its way.
  bool InFlight(const std::string& tid) const { return inFlight_.count(tid) != 0; }
  // Claims an order for a question asked elsewhere (the refresh's
  // settling); false when it is in flight already.
  bool Claim(const std::string& tid) { return inFlight_.insert(tid).second; }
  void Release(const std::string& tid) { inFlight_.erase(tid); }

  // What the platform said of an earlier post without an answer, in the one
  // place that settles such posts: the log's entries, and whether the order
  // is rated. True when the answer settled it (Exists or Missing).
  bool Settle(const std::string& tid, SellerRatingCheck check);

  bool Holds(const std::string& tid) const { return entries_.count(tid) != 0; }
  // This run saw the seller's rating of the order on the platform.
  bool SawRated(const std::string& tid) const { return rated_.count(tid) != 0; }
  void Clear() {
    entries_.clear();
    rated_.clear();
  }

 private:
  struct Entry {
    bool mustCheck = false;  // ask the platform before the next post
    int refusals = 0;
    int unansweredChecks = 0;
    double notBefore = 0;
    bool waitReported = false;
    bool afterRefusal = false;  // the wait is the pause after a refusal
  };
  void CheckThenPost(RatingRequest request, Done done);
  void Post(RatingRequest request, Done done);

  RatingLog& log_;
  RunWorker& worker_;
  const Account& account_;
  std::map<std::string, Entry> entries_;
  std::set<std::string> inFlight_;
  // The orders this run saw rated on the platform: never posted again (a
  // reload may list one for a while before the platform's listing catches up).
  std::set<std::string> rated_;
};


}  // namespace qm

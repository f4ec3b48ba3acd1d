#pragma once
// What a seller's run tells its front end. The run decides and acts; the
// front end turns each event into its own texts: the status line, colours and
// balloons of the desktop, the output lines of the runner. Every call is made
// on the UI thread. Each has an empty default, so a front end hears only what
// it shows.
#include <string>

#include "orders/listing.h"
#include "orders/order.h"
#include "orders/order_loader.h"
#include "platform/call_limits.h"
#include "rating/manual_rating.h"
#include "rating/rating_ledger.h"

namespace qm {

// Why a reload starts, and what it lists.
enum class ReloadReason {
  Interval,         // the interval's reload, in full (no complete load to start the changes from)
  Changes,          // the interval's reload of the trades modified since the last complete load
  Daily,            // the interval's reload in full, as once a day
  AfterIncomplete,  // in full, after a load that did not complete
};

// One order the automatic pass posted, or asked about, or held back.
struct PassRating {
  Order order;
  RatingAttempt attempt;
  bool removed = false;  // the row left the list with this answer
};

struct RefreshReport {
  FetchStats listing;      // the buyer-rated listing (or the look's pages)
  bool changesOnly = false;  // a look at the ratings received since the last one, not the full listing
  bool platformUp = true;  // the platform answered "taobao.time.get"
  int buyerRated = 0;      // rows of each list afterwards
  int unrated = 0;
  long requestsToday = 0;  // the calls this run made to the platform on its present day
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The first load has read this many trades so far.
  virtual void LoadProgress(int /*tradesRead*/) {}
  virtual void ReloadStarted(ReloadReason /*why*/, int /*intervalMinutes*/) {}
  // A load has ended and its orders are in the list.
  virtual void LoadReported(const LoadReport& /*report*/) {}
  // The first load's refresh and first pass are done: the run is under way.
  virtual void Started() {}
  virtual void RefreshReported(const RefreshReport& /*report*/) {}
  virtual void PassRated(const PassRating& /*rating*/) {}
  // The keep list exists but cannot be read: the pass rated nothing. `first`
  // for the first pass of such a spell.
  virtual void KeepListUnusable(const std::string& /*problem*/, bool /*first*/) {}
  // A pass that rated something, with how many it rated.
  virtual void PassEnded(int /*rated*/) {}
  // A due order whose buyer turned out to have rated: moved to the
  // buyer-rated list instead of being rated "good".
  virtual void MovedToBuyerRated(const Order& /*order*/, const std::string& /*result*/) {}
  // A post of an earlier run without an answer, settled by asking the platform.
  virtual void Settled(const std::string& /*tid*/, bool /*rated*/) {}
  // A buyer's neutral or bad rating, alerted for the first time: it is in the
  // run's alert list (SellerRun::Alerts) until the seller has seen it. The
  // alerts of one refresh come one after the other, in one go.
  virtual void Alert(const Order& /*order*/, const BuyerVerdict& /*verdict*/) {}
  // The buyer-rated list counts as old news (the process was stopped, the
  // machine slept or its clock was set, or the refresh is overdue): the
  // refresh renews it before the next automatic post.
  virtual void NewsOld() {}
  // The platform stopped answering (it is asked again at every refresh) / answers again.
  virtual void PlatformUnreachable() {}
  virtual void PlatformBack() {}
  // The platform limited the key's calls: the run's network work waits until
  // `wait.until` and then goes on by itself. Once per spell.
  virtual void CallLimited(const CallLimitWait& /*wait*/) {}
};

}  // namespace qm

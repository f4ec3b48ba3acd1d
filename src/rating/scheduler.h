#pragma once
// The timed work of one run, and the one place that decides what runs next.
//
// 时钟1 runs the automatic pass every five seconds: orders of the both-unrated
// list whose rating deadline (fifteen days after the trade ended) is at most
// the lead time away are rated "good" with the standing comment; the others
// show the time left in "到期". 时钟2 marks the ten-minute refresh due: the
// buyer-rated list is rebuilt, the platform must still answer
// "taobao.time.get", earlier posts without an answer are settled, new buyer
// ratings are read and the embedded browser's HTTP cache is cleared.
//
// The refresh runs at every interval whatever the loads do; one that falls
// due while a load runs waits for the load's end. A reload runs every
// 重新读取间隔 minutes, and after a load that did not complete at most once
// per refresh interval, never beside the refresh or another load. The reload
// of the interval asks only for the trades modified since the last complete
// load began (a few minutes earlier, for the clocks' skew and late writes);
// the full listing runs once a day and after a first load that did not
// complete, so that what the changes cannot show (an order rated elsewhere
// whose change went unseen) leaves the list within a day; a full listing
// that did not complete is tried in full again an hour later, and the
// reloads between ask for the changes. A
// platform that does not answer is a state the run waits in: the refresh
// asks again at each interval and the run goes on by itself once it answers.
//
// Between full listings of the buyer-rated orders the refresh asks only for
// the ratings buyers gave since its last look (a few minutes earlier, for the
// clocks' skew and late writes), and moves each such order from the unrated
// list to the buyer-rated one with its verdict. The full listing runs at the
// start, after a look that did not complete, after old news (below) and at
// least once a day, so that what the looks cannot show (an order rated by the
// seller elsewhere) leaves the buyer-rated list within a day.
//
// An automatic "good" goes out only within kMostLookAgeSeconds of a complete
// look that reaches back, without a gap, to the last complete full listing:
// a buyer who rated before the look is on the buyer-rated list by then. A
// pass whose orders can wait leaves them to the next refresh's look; one
// whose most urgent order cannot, or one that has begun posting, looks for
// itself. A look that fails or comes back partial posts nothing: the pass
// ends and the next refresh lists in full.
//
// The buyer-rated list is only as good as its last look. After the process
// was stopped or the machine slept (two looks at the clock far more apart
// than the passes' period), after the machine's clock was set (it moved
// against the elapsed clock), or whenever the refresh is overdue, the list
// counts as old news: the refresh runs (its time check sets the platform
// clock again, and it lists in full) before the next automatic post, and a
// pass under way stops at its next post to let it.
//
// Everything here runs on the UI thread. The network work (the listing, the
// time check, the questions and the posts) runs on the run's worker and
// reports back here; one activity of the run's own runs at a time (a pass or
// the refresh), beside a load and the seller's own actions, so a pass never
// decides on a listing that a refresh is halfway through.
#include <functional>
#include <vector>

#include "orders/listing.h"
#include "orders/order_loader.h"
#include "platform/platform_time.h"
#include "rating/auto_pass.h"
#include "rating/run_observer.h"

namespace qm {

class RunWorker;
class SellerRun;
struct BuyerRatedListing;
struct RatingsLook;

inline constexpr int kAutoPassIntervalMs = 5000;   // 时钟1
inline constexpr int kRefreshIntervalMs = 600000;  // 时钟2
// The reload of the changes reaches back this far before the last complete load.
inline constexpr double kChangesOverlapSeconds = 5 * 60;
// A full listing at least this often.
inline constexpr double kFullReloadSeconds = 24 * 3600;
// A full listing that did not complete is tried in full again after this
// long; the reloads between ask for the changes, which keep adding what
// finishes (the full listing only finds rows rated elsewhere unseen).
inline constexpr double kFullRetrySeconds = 3600;
// At most this many rows a full listing did not bring are asked about, one
// question each, before the load's end; the others stay listed.
inline constexpr int kMostNotListedQuestions = 100;
// Two looks at the clocks this much further apart than the work between them
// can take say the process was stopped or the machine slept.
inline constexpr double kClockGapSeconds = 120;
// The machine's clock moved this far against the elapsed one: it was set.
inline constexpr double kClockJumpSeconds = 60;
// The refresh is overdue this long after its interval.
inline constexpr double kRefreshOverdueSeconds = 60;

// An automatic post goes out this soon after a complete look at the ratings
// received, or not at all.
inline constexpr double kMostLookAgeSeconds = 60;
// Between full listings the platform's time is asked this often; a complete
// look in between says it answers.
inline constexpr double kTimeCheckSeconds = 3600;
// A pass's own look that failed is not tried again by a pass sooner than this.
inline constexpr double kPassLookPauseSeconds = 60;

// The time check is made again after each of these pauses in turn before the
// platform counts as not answering.
inline const std::vector<int> kDefaultTimeCheckPausesMs = {20000, 40000};

enum class RunPhase {
  Idle,         // nothing but the passes
  FirstLoad,    // the first load is under way
  FirstRefresh, // the first load's refresh and first pass
  Reloading,    // a reload is under way
  Refreshing,   // the ten-minute refresh is under way
  Ended,        // the run is over; every handler returns at once
};

class Scheduler {
 public:
  explicit Scheduler(SellerRun& run);

  // The first load (the busy picture's load); false when it cannot start.
  bool Start();
  // 时钟1: a pass starts now, unless the refresh or a pass is under way.
  void RunAutoRatingPass();
  // 时钟2: the refresh is due; it runs now or right after the load under way.
  void refresh_cycle();
  // No handler does anything from here on.
  void End() { phase_ = RunPhase::Ended; }

  RunPhase Phase() const { return phase_; }
  bool PlatformDown() const { return platformDown_; }
  // No pass, refresh or load is under way and no work of theirs is on its way.
  bool Quiet() const;
  bool PassRunning() const;
  bool RefreshRunning() const { return refreshing_; }
  const LoadReport& LastLoad() const { return lastLoad_; }
  bool AnyLoadCompleted() const { return loadedOnce_; }
  const FetchStats& LastRefresh() const { return lastRefresh_; }
  // The last refresh's buyer-rated listing (or look) was complete.
  bool BuyerRatedComplete() const { return buyerRatedComplete_; }
  // A complete look at the ratings received began at most kMostLookAgeSeconds ago.
  bool RatingsSeenRecently() const;
  // The same within `seconds`.
  bool RatingsSeenWithin(double seconds) const;
  // The pass's own look: the ratings received since the last complete one,
  // applied to the lists; `done` hears whether it was complete. False (and
  // nothing asked) when no look can be made now: no complete listing to go
  // on from, a look already under way, or one that failed a moment ago.
  bool LookForPass(std::function<void(bool complete)> done);
  // Looks at the clocks: true when the buyer-rated list counts as old news
  // (see above) and the refresh that renews it has not ended yet; the
  // refresh is then due. The pass asks before each post.
  bool NewsIsOld();

  // The loader's end, on the UI thread.
  void OnLoadDone(const LoadReport& report);

 private:
  // The platform's clock the run schedules by.
  PlatformClock& Clock() const;
  // What runs next, when anything may: the refresh that is due, else a due reload.
  void Decide();
  bool ReloadDue() const;
  // Asks the platform about each row the full listing did not bring (on the
  // worker); the rows it says are rated or not ratable leave, then the load ends.
  void AskNotListed(LoadReport report);
  void StartReload(ReloadReason why, bool full);
  // The refresh, as a chain of the worker's reports.
  void RunRefresh();
  void OnBuyerRatedListing(BuyerRatedListing listing);
  void OnRatingsLook(RatingsLook look);
  // The ratings received from the last complete look (less the overlap) to now, on the worker.
  void Look(std::function<void(RatingsLook)> then);
  // The listing or look is in: the time check follows.
  void CheckTime();
  void OnTimeCheck(bool platformUp);
  void EndRefresh();
  // The first load's refresh is over: its first pass, then the run is under way.
  void FirstPass();
  void StartPass();
  void OnPassEnded(int rated);
  bool Ending() const;
  // A gap or a jump of the clocks since the last look; this look is the next one's start.
  bool ClockMoved();
  void MarkNewsOld();

  SellerRun& run_;
  // What the last look at the clocks saw (NewsIsOld).
  bool looked_ = false;
  double lookElapsed_ = 0;   // the elapsed clock
  double lookWallLead_ = 0;  // the machine's clock less the elapsed one
  double lastRefreshEnd_ = 0;  // platform time; 0 before the first
  bool newsOld_ = false;
  RunPhase phase_ = RunPhase::Idle;
  bool refreshDue_ = false;
  bool refreshing_ = false;
  RefreshReport refresh_;   // the refresh under way
  bool platformDown_ = false;
  bool loadedOnce_ = false;
  // No refresh has found the buyer-rated listing incomplete (the first pass
  // always follows the first refresh).
  bool buyerRatedComplete_ = true;
  bool lastLoadComplete_ = true;
  double lastLoadEnd_ = 0;      // platform time of the last load's end
  double lastLoadStart_ = 0;    // platform time of the last load's start
  double lastFullStart_ = 0;    // of the last complete full listing's start
  double lastFullFailed_ = 0;   // of the last full listing's start when it did not complete; 0 after one that did
  double changesSince_ = 0;     // where the next reload of the changes begins; 0 for none
  // Every rating a buyer gave before this platform time has been seen: the
  // start of the last complete look or full listing (0: none yet).
  double ratingsSeenUntil_ = 0;
  double lastFullListing_ = 0;  // the start of the last complete full buyer-rated listing
  bool fullListingDue_ = true;
  double lookStart_ = 0;        // of the listing or look under way
  bool looking_ = false;        // a look is under way
  double passLookFailed_ = 0;   // when a pass's own look last failed
  double lastTimeCheck_ = 0;    // when the platform last told its time
  LoadReport lastLoad_;
  FetchStats lastRefresh_;
  AutoPass pass_;
};

// True when the gateway answers "taobao.time.get" with a 19-character time,
// which sets the platform clock (SyncPlatformClock). Blocks: it runs on the
// run's worker.
bool check_platform_time(const Account& account);
// The time check with its pauses: asked again after each pause (on the
// worker) before the platform counts as not answering.
bool PlatformAnswersTime(RunWorker& worker, const Account& account, const std::vector<int>& pausesMs);

}  // namespace qm

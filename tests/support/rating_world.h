#pragma once
// A running program without windows for the rating tests and benchmarks: a
// sandbox marketplace, a program directory, the in-memory event loop as the
// pump, a seller's run with views of its two lists, the two timers, scripted
// boxes, and the runner's own lines for what the run tells (in `log`).
// Failed pages and time checks are retried after pauses of milliseconds
// instead of seconds.
#include <cmath>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orders/order_book.h"
#include "platform/platform_link.h"
#include "platform/platform_time.h"
#include "rating/seller_run.h"
#include "support/machine_clock.h"
#include "support/sandbox_process.h"
#include "support/temp_dir.h"
#include "util/event_loop.h"
#include "util/memory_ports.h"
#include "util/ports.h"

namespace qm::test {

struct SandboxRating {
  std::string tid, result, content;
};

// The platform's time `secondsAgo` seconds before `clock`'s now, as it writes it.
std::string PlatformTimeAgo(const PlatformClock& clock, std::int64_t secondsAgo);

class RatingWorld {
 private:
  Sandbox sandbox_;
  TempDir dir_;
  std::shared_ptr<MachineClock> machine_ = std::make_shared<MachineClock>();
  AppSession session_;
  EventLoop loop_;
  MainView view_;

 public:
  explicit RatingWorld(const Sandbox::Options& options = {});
  ~RatingWorld();
  RatingWorld(const RatingWorld&) = delete;
  RatingWorld& operator=(const RatingWorld&) = delete;

  Sandbox& Market() { return sandbox_; }
  EventLoop& Loop() { return loop_; }
  TempDir& Dir() { return dir_; }
  // The start-up record the run is built from.
  AppSession& Session() { return session_; }
  // The program's platform clock (the session's link keeps it), and the
  // machine's clocks under it.
  PlatformClock& Clock() { return session_.link->Clock(); }
  MachineClock& Machine() { return *machine_; }
  MainView& View() { return view_; }
  SellerRun& Run() { return *run_; }
  // Makes the run again (as a restart of the program would), with an empty book.
  void Restart();
  // Runs the loop until no load, refresh or pass is under way and none of
  // their network work is on its way (a minute at most), then what is pending.
  void AwaitLoad() { AwaitQuiet(); }
  void AwaitQuiet();
  // Runs the loop until no pass or refresh is under way and the run's worker
  // is idle; a load may go on.
  void AwaitTimedWork();
  // 时钟1 and 时钟2 as their timers would run them, to their end (a reload
  // they start goes on; a refresh that waits for a load returns at once).
  // A clock moved by more than a tick's work between two calls reads as a
  // stop: Pass() then runs the renewing refresh and the pass after it, as
  // two ticks would.
  void Pass();
  void Refresh();
  // The run's settings as the settings window changes them.
  template <class Change>
  void ChangeSettings(Change change) {
    RunSettings settings = run_->Settings();
    change(settings);
    run_->ChangeSettings(settings);
  }
  // One rating through the run's ledger, to its answer.
  RatingAttempt Rate(const std::string& tid, const std::string& result, const std::string& comment,
                     const RatingNote& note = {});

  MemoryTimer autoTimer;
  MemoryTimer refreshTimer;
  ScriptedPrompts prompts;
  int cacheClears = 0;
  // Every line the runner would print for the run, and how the run ended.
  std::vector<std::string> log;
  std::vector<std::string> events;  // "exit:<code>"
  int exitCode = -1;                // -1 while the run goes on

 private:
  std::unique_ptr<RunObserver> lines_;
  std::unique_ptr<SellerRun> run_;
  MemoryOrderList unratedView_;
  MemoryOrderList buyerRatedView_;

 public:
  // The run's book and the views of its two lists.
  MemoryOrderList& unratedView = unratedView_;
  MemoryOrderList& buyerRatedView = buyerRatedView_;
  OrderBook& Book() { return run_->Book(); }
  OrderRows& Unrated() { return run_->Book().Unrated(); }
  OrderRows& BuyerRated() { return run_->Book().BuyerRated(); }

  // Adds a finished trade of the seller that ended `hoursAgo` hours (and half
  // an hour, so that no whole-hour boundary is near) before now; its tid.
  std::string AddTrade(int hoursAgo, const std::string& buyer, const std::string& buyerRate = "none");
  // Many at once: (hoursAgo, buyer) pairs; their tids in the same order.
  std::vector<std::string> AddTrades(const std::vector<std::pair<int, std::string>>& trades);
  // An order of the unrated list as the first load gives it.
  void AddUnratedRow(const std::string& tid, const std::string& buyer, int hoursAgo);

  // The seller's ratings the sandbox holds.
  std::vector<SandboxRating> Ratings() const;
  // How many rating forms for `tid` reached the sandbox.
  int RatingPosts(const std::string& tid) const;
  // How many requests for `path` the sandbox logged.
  int RequestsTo(const std::string& path) const;
  // Sets a fault (JSON body of /__sandbox/faults); "{}" clears.
  bool Faults(const std::string& json);

  // The end time text of a trade that ended `hoursAgo` hours and a half ago.
  std::string EndTimeHoursAgo(int hoursAgo);
  // The texts of one column of a list, top to bottom.
  static std::vector<std::string> Column(const OrderRows& list, int column);
};

// A world on a platform clock the test moves: the program's clock and the
// sandbox's move together, `shift` seconds from `start`.
class ClockedWorldTest : public ::testing::Test {
 protected:
  RatingWorld world;
  double start = std::floor(world.Clock().Now()), shift = 0;

  void SetUp() override { world.Machine().Set([this] { return start + shift; }); }
  void MoveClocks(double seconds);
};

}  // namespace qm::test

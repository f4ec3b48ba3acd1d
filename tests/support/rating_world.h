#pragma once
// A running program without windows for the rating tests and benchmarks: a
// sandbox marketplace, a program directory, the in-memory event loop as the
// pump, the two order lists, the two timers, scripted boxes and a main view
// that records what the program logs and how it ends. Failed pages and time
// checks are retried after pauses of milliseconds instead of seconds.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "orders/order_book.h"
#include "support/sandbox_process.h"
#include "support/temp_dir.h"
#include "util/event_loop.h"
#include "util/memory_ports.h"
#include "util/ports.h"

namespace qm::test {

struct SandboxRating {
  std::string tid, result, content;
};

// The platform's time `secondsAgo` seconds before PlatformNow(), as it writes it.
std::string PlatformTimeAgo(std::int64_t secondsAgo);

class RatingWorld {
 public:
  explicit RatingWorld(const Sandbox::Options& options = {});
  ~RatingWorld();
  RatingWorld(const RatingWorld&) = delete;
  RatingWorld& operator=(const RatingWorld&) = delete;

  Sandbox& Market() { return sandbox_; }
  EventLoop& Loop() { return loop_; }
  TempDir& Dir() { return dir_; }
  MainView& View() { return view_; }
  // The run's book (the program's current one while the world lives) and
  // the views of its two lists.
  OrderBook book;
  OrderRows& unrated = book.Unrated();
  OrderRows& buyerRated = book.BuyerRated();
  MemoryOrderList unratedView;
  MemoryOrderList buyerRatedView;
  MemoryTimer autoTimer;
  MemoryTimer refreshTimer;
  ScriptedPrompts prompts;

  // Everything the program logged, and the order of boxes and the exit.
  std::vector<std::string> log;
  std::vector<std::string> events;  // "box:<title>", "exit:<code>"
  int exitCode = -1;                // -1 while the program runs

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
  static std::string EndTimeHoursAgo(int hoursAgo);
  // The texts of one column of a list, top to bottom.
  static std::vector<std::string> Column(const OrderRows& list, int column);

 private:
  Sandbox sandbox_;
  TempDir dir_;
  EventLoop loop_;
  MainView view_;
};

}  // namespace qm::test

#pragma once
// The automatic pass over the both-unrated list, from the last row to the
// first: due orders are rated "good" with the standing comment, the others
// show the time left. Right before each post the worker asks the platform
// for the buyer's rating of that order: an order its buyer has rated moves to
// the buyer-rated list instead, and one whose question got no answer waits
// for a later pass. When the buyer-rated list has become old news meanwhile
// (Scheduler::NewsIsOld) the pass ends before its next post, and a pass after
// the refresh goes on. The pass is a walk that stops at each post and goes on
// when the post's answer is back, finding its place again by the rated row's
// serial (rows keep their order, so the rows still to visit are those that
// came before it).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "orders/order.h"
#include "rating/rating_ledger.h"

namespace qm {

class SellerRun;
class OrderRows;

class AutoPass {
 public:
  explicit AutoPass(SellerRun& run);

  // Starts a pass; `done` hears how many orders it rated when it ends (at
  // once when nothing was due). False when a pass is under way already.
  bool Start(std::function<void(int rated)> done);
  bool Running() const { return running_; }

 private:
  void Walk();
  // The next row to visit after row `i` (-1: none), or kAwaitAnswer while a post is on its way.
  int Visit(int i);
  void Answered(const Order& order, const RatingAttempt& attempt);
  void Finish();
  bool Ending() const;
  const std::string& TimeLeftFor(std::int64_t hours);

  SellerRun& run_;
  OrderRows& list_;
  bool running_ = false;
  bool launching_ = false;     // inside the ledger's call: an answer now is taken by the walk
  bool answeredNow_ = false;
  std::uint64_t resumeSerial_ = 0;
  int next_ = -1;
  double now_ = 0;
  int rated_ = 0;
  std::function<void(int)> done_;
  // The time-left texts of a pass, by hours (most rows share a few hundred values).
  std::vector<std::string> texts_;
  std::string otherText_;
};

}  // namespace qm

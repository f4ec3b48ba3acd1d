#pragma once
#pragma once
// The automatic pass over the both-unrated list. It first looks at every row,
// from the last to the first: the rows not yet due show the time left, the
// due ones are gathered. It then rates the due orders "good" with the
// standing comment, the nearest deadline first whatever their place in the
// list (at a start after a night off, the orders with minutes left go before
// those with a day left; equal deadlines go from the bottom row up). A post
// goes out only within a minute of a complete look at the ratings buyers gave
// (Scheduler::RatingsSeenRecently): an order whose buyer has rated has moved
// to the buyer-rated list by then, and one whose buyer's rating the run knows
// moves instead of being rated. Without such a look the pass leaves orders
// that can wait to the pass after the next refresh, and otherwise asks for a
// look itself; a look that fails ends the pass without a post. The pass stops
// at each post and goes on with the next due order when the answer is back;
// an order that left the list meanwhile (rated by hand, its buyer rated, a
// reload) is passed over. When the buyer-rated list has become old news
// meanwhile (Scheduler::NewsIsOld) the pass ends before its next post, and a
// pass after the refresh goes on.
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
  // Shows the time left of the rows not due and gathers the due ones, by deadline.
  void Look();
  // Posts the due orders in turn; returns while a post is on its way.
  void PostDue();
  void Answered(const Order& order, const RatingAttempt& attempt);
  // The look the next post needs came back.
  void Looked(bool complete);
  // A due order whose buyer has rated goes to the buyer-rated list instead.
  void MoveToBuyerRated(const Order& order, const BuyerVerdict& verdict, bool verdictIsNew);
  void Finish();
  bool Ending() const;
  const std::string& TimeLeftFor(std::int64_t hours);

  SellerRun& run_;
  OrderRows& list_;
  bool running_ = false;
  bool launching_ = false;     // inside the ledger's call: an answer now is taken by the walk
  bool answeredNow_ = false;
  struct Due {
    Order order;
    std::int64_t hoursLeft;
  };
  std::vector<Due> due_;
  std::size_t next_ = 0;
  double now_ = 0;
  int rated_ = 0;
  bool posted_ = false;      // this pass has sent a post: it may look again to go on
  bool lookedJustNow_ = false;
  std::function<void(int)> done_;
  // The time-left texts of a pass, by hours (most rows share a few hundred values).
  std::vector<std::string> texts_;
  std::string otherText_;
};

}  // namespace qm

#pragma once
// The alerts of buyers' neutral and bad ratings, kept until the seller has
// seen them. They live in the seller's rating log (rating_log.h), so unseen
// ones wait through a restart and seen ones stay seen; an order is alerted
// once in all, whether the next refresh or the next run finds it again.
#include <string>
#include <unordered_set>
#include <vector>

#include "orders/order.h"
#include "rating/buyer_verdict.h"
#include "rating/rating_log.h"

namespace qm {

class AlertList {
 public:
  explicit AlertList(RatingLog& log) : log_(log) {}

  // The unseen alerts of earlier runs, read from the log.
  void Load();
  // The order's neutral or bad rating: its verdict is remembered and the
  // alert kept unseen. True when it is new (the observer is told then);
  // false when the order was alerted before. An alert the log cannot take
  // is still kept for this run.
  bool Raise(const Order& order, const BuyerVerdict& verdict);
  // Oldest first.
  const std::vector<BuyerAlert>& Unseen() const { return unseen_; }
  int UnseenCount() const { return static_cast<int>(unseen_.size()); }
  // The seller has seen these; they leave the list for good. False when the
  // log could not take it (they still leave the list of this run).
  bool MarkSeen(const std::vector<std::string>& tids);

 private:
  RatingLog& log_;
  std::vector<BuyerAlert> unseen_;
  // Alerted in this run, whatever the log managed to keep.
  std::unordered_set<std::string> raised_;
};

}  // namespace qm

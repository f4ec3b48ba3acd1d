#pragma once
// The orders and buyers the seller keeps from automatic rating. The pass
// never rates a kept order or any order of a kept buyer; the seller can still
// rate them by hand. The list is kept per seller beside the program in a GBK
// (or, when saved so by hand, UTF-8) profile file (nick + "的不自动评价.ini")
// that a person can read and edit:
//
//   [不自动评价的订单]
//   1234567890=2026-12-09 10:00:00      (the order number = when it was kept)
//   [不自动评价的买家]
//   某买家=2026-12-09 10:00:00
//
// A run reads the file again whenever it changed, so an edit by hand or by a
// second run (the runner's --keep) counts from the next pass on. Buyer names
// compare without regard to ASCII case, as profile keys do.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "orders/order.h"
#include "platform/platform_time.h"

namespace qm {

inline constexpr const char* kKeptOrdersSection = "不自动评价的订单";
inline constexpr const char* kKeptBuyersSection = "不自动评价的买家";
// What 到期 shows for a kept order.
inline constexpr const char* kKeptTimeLeft = "不自动评价";

std::string KeepListFileName(const std::string& nick);
// The seller's keep list in the data directory `dir`; empty for no seller.
std::string KeepListPath(const std::string& dir, const std::string& nick);

class KeepList {
 public:
  // The list kept in `file` (KeepListPath); none, and nothing kept, when
  // empty. What is kept is marked with the time of `clock`, which outlives it.
  KeepList(std::string file, const PlatformClock& clock) : file_(std::move(file)), clock_(clock) {}
  // Reads the seller's file again when it is another file or changed since
  // the last look. Cheap when nothing changed (one status call).
  void Refresh();
  bool KeepsOrder(std::string_view tid) const { return orders_.count(std::string(tid)) != 0; }
  bool KeepsBuyer(std::string_view nick) const;
  bool Keeps(const Order& order) const { return KeepsOrder(order.tid) || KeepsBuyer(order.buyerNick); }
  bool Empty() const { return orders_.empty() && buyers_.empty(); }
  // False after a Refresh that found the file there but could not read it (no
  // permission, over the size limit, not a regular file): nothing may then be
  // rated automatically, since any order might be one the seller kept.
  bool Usable() const { return problem_.empty(); }
  // Why the list is not usable (names the file); empty when it is.
  const std::string& Problem() const { return problem_; }
  // True once for each new problem, so that it is told once, not every pass.
  bool ProblemIsNew() {
    const bool fresh = !problem_.empty() && problem_ != told_;
    told_ = problem_;
    return fresh;
  }
  std::size_t OrderCount() const { return orders_.size(); }
  std::size_t BuyerCount() const { return buyers_.size(); }
  // What the file holds, as written there, in file order (for the seller to see).
  const std::vector<std::string>& KeptOrders() const { return keptOrders_; }
  const std::vector<std::string>& KeptBuyers() const { return keptBuyers_; }

  // Each edit writes the file at once. False, and nothing changed, when the
  // file cannot hold the name (an order number that is not one; a buyer
  // name holding "=", "]", a line break or a character outside GBK) or
  // cannot be written.
  bool KeepOrder(const std::string& tid);
  bool ReleaseOrder(const std::string& tid);
  bool KeepBuyer(const std::string& nick);
  bool ReleaseBuyer(const std::string& nick);

 private:
  bool Edit(const char* section, const std::string& key, bool keep);

  std::string file_;
  const PlatformClock& clock_;
  std::string path_;
  // The modification time and size of what was read (no time: no file).
  std::optional<std::int64_t> stamp_;
  std::int64_t size_ = -1;
  bool stale_ = true;
  std::unordered_set<std::string> orders_;
  std::unordered_set<std::string> buyers_;  // ASCII lower case
  std::vector<std::string> keptOrders_, keptBuyers_;
  std::string problem_;
  std::string told_;
};

}  // namespace qm

#pragma once
#include <string>

namespace qm {

// A finished trade that waits for the seller's rating, as the platform lists
// it. All three stay text; the end time is the platform's
// "YYYY-MM-DD hh:mm:ss" (empty where it was not asked for).
struct Order {
  std::string tid;
  std::string buyerNick;
  std::string endTime;
};

}  // namespace qm

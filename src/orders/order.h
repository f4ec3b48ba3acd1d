#pragma once
#include <cstdint>
#include <string>

namespace qm {

// A finished trade that waits for the seller's rating, as the platform lists
// it. All three stay text; the end time is the platform's
// "YYYY-MM-DD hh:mm:ss" (empty where it was not asked for).
struct Order {
  std::string tid;
  std::string buyerNick;
  std::string endTime;
  // What a listing that was asked for them said of each side's rating (its
  // buyer_rate and seller_rate); Unsaid where it was not asked or said
  // neither "true" nor "false".
  enum class Said : std::uint8_t { Unsaid, No, Yes };
  Said buyerRated = Said::Unsaid;
  Said sellerRated = Said::Unsaid;
};

}  // namespace qm

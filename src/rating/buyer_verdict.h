#pragma once
// The buyer's rating of one order, as the platform answers
// "taobao.traderates.get" (rate_type "get", role "buyer"). It stays a value
// from the reply to the window; the "result|:|comment" text is made only
// where a verdict is printed or stored.
#include <cstdint>
#include <optional>
#include <string>

#include "settings/app_session.h"

namespace qm {

inline constexpr const char* kVerdictSeparator = "|:|";
// The verdict of a check without a readable result: counted as unfavourable.
inline constexpr const char* kUnfavourableVerdict = "客户给了不好的评价";
inline constexpr const char* kNoBuyerComment = "无";

struct BuyerVerdict {
  std::string result;   // "good", "neutral", "bad"; empty while the buyer has not rated
  std::string comment;  // as the buyer wrote it; may be empty

  bool Rated() const { return !result.empty(); }
  // A neutral or bad rating.
  bool Unfavourable() const { return result == "neutral" || result == "bad"; }
  // "result|:|comment" as stored and printed.
  std::string Text() const { return result + kVerdictSeparator + comment; }
};

// The stored or printed text split at its first separator.
BuyerVerdict SplitVerdict(const std::string& verdict);

// The buyer's rating from a complete answer of the platform (result and
// comment as they stand, either may be empty); nullopt when no complete
// answer came, so that the question can be asked again. Blocks: it runs on
// the run's worker (or in the runner's one-shot commands).
std::optional<BuyerVerdict> QueryBuyerRating(const std::string& tid, const Account& account);

// The buyer's rating of one order as "result|:|comment" ("无" for no
// comment, kUnfavourableVerdict for no result; a failed or timed-out query
// gives "客户给了不好的评价|:|无"). Never empty. What `--check` prints.
std::string check_buyer_rating(const std::string& tid, const Account& account);

// The verdict line and colours of the notice for a result: "neutral", "bad"
// and kUnfavourableVerdict have one; "good" and unknown words none.
struct NoticeStyle {
  const char* line;
  std::uint32_t textColour;  // 0xRRGGBB
  std::uint32_t background;
};
std::optional<NoticeStyle> NoticeStyleFor(const std::string& result);

}  // namespace qm

#pragma once
// The sandbox marketplace's data: sellers with their application credentials,
// and finished (and some unfinished) trades with both sides' ratings. All of
// it lives in memory behind one reader-writer lock; every accessor copies what
// it hands out, so callers never hold references into the store.
#include <cstdint>
#include <ctime>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm::sandbox {

enum class Rate { None, Good, Neutral, Bad };
const char* RateName(Rate rate);  // "none", "good", "neutral", "bad"
// "good", "neutral", "bad" (and "none" when allowNone).
std::optional<Rate> ParseRate(std::string_view text, bool allowNone = false);

struct Rating {
  Rate result = Rate::None;
  std::string content;
  std::time_t time = 0;
};

struct Seller {
  std::string nick, userId, avatarPath, appKey, appSecret, password, session;
};

struct Trade {
  std::string tid;
  int seller = 0;  // index into the sellers
  std::string buyerNick;
  std::string status;  // "TRADE_FINISHED", "TRADE_CLOSED", ...
  std::time_t endTime = 0;
  std::string endTimeText;  // 19 characters, empty while the trade has not ended
  Rating buyer, sellerRating;
  // When the trade last changed as the incremental listing sees it: its end,
  // and either side's rating.
  std::time_t modified = 0;
};

// The rate-status filter of the trade listing.
enum class RateStatus { Any, UnBuyer, UnSeller, BuyerUnSeller, UnBuyerSeller, BuyerSeller };
std::optional<RateStatus> ParseRateStatus(std::string_view text);  // "" is Any
bool MatchesRateStatus(bool buyerRated, bool sellerRated, RateStatus status);
bool MatchesRateStatus(const Trade& trade, RateStatus status);
bool IsKnownTradeStatus(std::string_view status);

// What the rating calls can answer.
enum class RateOutcome { Ok, NoSuchTrade, NotYourTrade, NotFinished, PeriodOver, AlreadyRated, NotRated };
const char* OutcomeText(RateOutcome outcome);

// The rating period after a trade's end.
inline constexpr std::time_t kRatingPeriodSeconds = 15 * 24 * 3600;

struct TradePage {
  std::vector<Trade> trades;
  bool hasNext = false;
  std::size_t total = 0;  // every match, only counted when asked for
};

// A trade to add; empty fields take defaults (a fresh tid, a seeded buyer,
// TRADE_FINISHED, ended a day ago, no ratings).
struct NewTrade {
  std::string tid, buyerNick, status;
  std::optional<std::time_t> endTime;
  Rate buyerRate = Rate::None, sellerRate = Rate::None;
  std::string buyerComment, sellerComment;
  int seller = 0;
};

class Market {
 public:
  // The first seller is the demo seller; a second one owns a few trades so
  // that a foreign order can be tried.
  Market(unsigned seed, int trades, std::time_t now);
  // New buyers and trades from the seed; the sellers and their credentials stay.
  void Reset(unsigned seed, int trades, std::time_t now);

  int SellerCount() const;
  std::optional<Seller> SellerAt(int index) const;
  // Index of the seller whose application key (or session, or nick) this is; -1 when none.
  int SellerByAppKey(std::string_view appKey) const;
  int SellerBySession(std::string_view session) const;
  int SellerByNick(std::string_view nick) const;

  // The seller's trades, newest end first, filtered by status ("" = any) and
  // rate status, one page (pages from 1).
  TradePage SoldTrades(int seller, std::string_view status, RateStatus rateStatus, std::size_t pageNo,
                       std::size_t pageSize, bool countTotal) const;
  // The same listing restricted to trades modified within [from, to].
  TradePage ModifiedTrades(int seller, std::string_view status, RateStatus rateStatus, std::time_t from,
                           std::time_t to, std::size_t pageNo, std::size_t pageSize, bool countTotal) const;
  // Every trade of the seller (or of all sellers when seller < 0) that matches.
  std::vector<Trade> AllTrades(int seller, RateStatus rateStatus) const;
  std::optional<Trade> FindTrade(std::string_view tid) const;
  std::size_t TradeCount() const;

  // The seller rates the buyer of one order (the test-tool call).
  RateOutcome RateAsSeller(int seller, std::string_view tid, Rate result, std::string_view content,
                           std::time_t now);
  // The buyer rates the seller (the admin interface plays the buyer).
  RateOutcome RateAsBuyer(std::string_view tid, Rate result, std::string_view content, std::time_t now);
  // Something else about the trade changes (a memo, logistics): its
  // modification time moves to `now`. False for an unknown trade.
  bool Touch(std::string_view tid, std::time_t now);
  // The seller changes a rating already given (the rating page).
  RateOutcome ChangeSellerRating(int seller, std::string_view tid, Rate result, std::string_view content,
                                 std::time_t now);

  // The seller's ratings given, oldest first, as trades.
  std::vector<Trade> RatingsGiven(int seller) const;
  // The buyers' ratings of the seller's trades, newest first, at most limit.
  std::vector<Trade> RatingsReceived(int seller, std::size_t limit) const;
  // The seller's trades whose buyer's rating (`received`) or seller's rating
  // was given from `from` to `to` (both included), newest rating first.
  std::vector<Trade> RatingsBetween(int seller, bool received, std::time_t from, std::time_t to) const;

  // Adds trades; answers their tids, or an error text in *error (and adds nothing).
  std::vector<std::string> AddTrades(const std::vector<NewTrade>& trades, std::time_t now, std::string* error);

 private:
  void SeedLocked(unsigned seed, int trades, std::time_t now, bool keepSellers);
  void SortLocked();
  TradePage ListLocked(int seller, std::string_view status, RateStatus rateStatus, std::size_t pageNo,
                       std::size_t pageSize, bool countTotal, std::time_t from, std::time_t to) const;
  std::string FreshTidLocked();
  std::uint64_t Next();

  mutable std::shared_mutex mutex_;
  std::uint64_t rngState_ = 0;
  std::vector<Seller> sellers_;
  std::vector<std::string> buyerPool_;
  std::vector<Trade> trades_;  // newest end first
  // What the listing filters on, one compact entry per trade in the same
  // order, so that a page deep in 100000 trades is found by a short scan.
  struct ScanKey {
    std::int32_t seller;
    std::int8_t status;  // index of the status name, -1 for an unknown one
    bool buyerRated, sellerRated;
    std::time_t modified;
  };
  std::vector<ScanKey> keys_;
  std::unordered_map<std::string, std::size_t> byTid_;
  std::vector<std::string> givenOrder_;  // tids in the order the seller rated them
};

}  // namespace qm::sandbox

#include "market.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <mutex>

#include "text.h"

namespace qm::sandbox {

const char* RateName(Rate rate) {
  switch (rate) {
    case Rate::Good: return "good";
    case Rate::Neutral: return "neutral";
    case Rate::Bad: return "bad";
    case Rate::None: break;
  }
  return "none";
}

std::optional<Rate> ParseRate(std::string_view text, bool allowNone) {
  if (text == "good") return Rate::Good;
  if (text == "neutral") return Rate::Neutral;
  if (text == "bad") return Rate::Bad;
  if (allowNone && (text == "none" || text.empty())) return Rate::None;
  return std::nullopt;
}

std::optional<RateStatus> ParseRateStatus(std::string_view text) {
  if (text.empty()) return RateStatus::Any;
  if (text == "RATE_UNBUYER") return RateStatus::UnBuyer;
  if (text == "RATE_UNSELLER") return RateStatus::UnSeller;
  if (text == "RATE_BUYER_UNSELLER") return RateStatus::BuyerUnSeller;
  if (text == "RATE_UNBUYER_SELLER") return RateStatus::UnBuyerSeller;
  if (text == "RATE_BUYER_SELLER") return RateStatus::BuyerSeller;
  return std::nullopt;
}

bool MatchesRateStatus(const Trade& trade, RateStatus status) {
  return MatchesRateStatus(trade.buyer.result != Rate::None, trade.sellerRating.result != Rate::None, status);
}

bool MatchesRateStatus(bool buyerRated, bool sellerRated, RateStatus status) {
  switch (status) {
    case RateStatus::Any: return true;
    case RateStatus::UnBuyer: return !buyerRated;
    case RateStatus::UnSeller: return !sellerRated;
    case RateStatus::BuyerUnSeller: return buyerRated && !sellerRated;
    case RateStatus::UnBuyerSeller: return !buyerRated && sellerRated;
    case RateStatus::BuyerSeller: return buyerRated && sellerRated;
  }
  return false;
}

namespace {

int StatusId(std::string_view status) {
  static const char* const kKnown[] = {"TRADE_NO_CREATE_PAY", "WAIT_BUYER_PAY", "WAIT_SELLER_SEND_GOODS",
                                       "WAIT_BUYER_CONFIRM_GOODS", "TRADE_BUYER_SIGNED", "TRADE_FINISHED",
                                       "TRADE_CLOSED", "TRADE_CLOSED_BY_TAOBAO"};
  for (std::size_t i = 0; i < std::size(kKnown); ++i) {
    if (status == kKnown[i]) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

bool IsKnownTradeStatus(std::string_view status) { return StatusId(status) >= 0; }

const char* OutcomeText(RateOutcome outcome) {
  switch (outcome) {
    case RateOutcome::Ok: return "ok";
    case RateOutcome::NoSuchTrade: return "trade does not exist";
    case RateOutcome::NotYourTrade: return "trade belongs to another seller";
    case RateOutcome::NotFinished: return "trade is not finished";
    case RateOutcome::PeriodOver: return "the rating period of the trade is over";
    case RateOutcome::AlreadyRated: return "the trade has been rated already";
    case RateOutcome::NotRated: return "the trade has not been rated";
  }
  return "unknown";
}

Market::Market(unsigned seed, int trades, std::time_t now) { SeedLocked(seed, trades, now, false); }

void Market::Reset(unsigned seed, int trades, std::time_t now) {
  std::unique_lock lock(mutex_);
  SeedLocked(seed, trades, now, true);
}

std::uint64_t Market::Next() {
  // SplitMix64: the same seed gives the same marketplace on every build.
  std::uint64_t z = (rngState_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void Market::SortLocked() {
  std::sort(trades_.begin(), trades_.end(), [](const Trade& a, const Trade& b) {
    if (a.endTime != b.endTime) return a.endTime > b.endTime;
    return a.tid < b.tid;
  });
  byTid_.clear();
  byTid_.reserve(trades_.size() * 2);
  keys_.clear();
  keys_.reserve(trades_.size());
  for (std::size_t i = 0; i < trades_.size(); ++i) {
    const Trade& t = trades_[i];
    byTid_[t.tid] = i;
    keys_.push_back(ScanKey{t.seller, static_cast<std::int8_t>(StatusId(t.status)), t.buyer.result != Rate::None,
                            t.sellerRating.result != Rate::None, t.modified});
  }
}

std::string Market::FreshTidLocked() {
  for (;;) {
    // 15 or 16 digits.
    std::uint64_t span = 9'900'000'000'000'000ull;
    std::string tid = std::to_string(100'000'000'000'000ull + Next() % span);
    if (!byTid_.count(tid)) return tid;
  }
}

int Market::SellerCount() const {
  std::shared_lock lock(mutex_);
  return static_cast<int>(sellers_.size());
}

std::optional<Seller> Market::SellerAt(int index) const {
  std::shared_lock lock(mutex_);
  if (index < 0 || index >= static_cast<int>(sellers_.size())) return std::nullopt;
  return sellers_[index];
}

int Market::SellerByAppKey(std::string_view appKey) const {
  std::shared_lock lock(mutex_);
  for (std::size_t i = 0; i < sellers_.size(); ++i) {
    if (sellers_[i].appKey == appKey) return static_cast<int>(i);
  }
  return -1;
}

int Market::SellerBySession(std::string_view session) const {
  std::shared_lock lock(mutex_);
  for (std::size_t i = 0; i < sellers_.size(); ++i) {
    if (sellers_[i].session == session) return static_cast<int>(i);
  }
  return -1;
}

int Market::SellerByNick(std::string_view nick) const {
  std::shared_lock lock(mutex_);
  for (std::size_t i = 0; i < sellers_.size(); ++i) {
    if (sellers_[i].nick == nick) return static_cast<int>(i);
  }
  return -1;
}

TradePage Market::SoldTrades(int seller, std::string_view status, RateStatus rateStatus, std::size_t pageNo,
                             std::size_t pageSize, bool countTotal) const {
  std::shared_lock lock(mutex_);
  return ListLocked(seller, status, rateStatus, pageNo, pageSize, countTotal, std::numeric_limits<std::time_t>::min(),
                    std::numeric_limits<std::time_t>::max());
}

TradePage Market::ModifiedTrades(int seller, std::string_view status, RateStatus rateStatus, std::time_t from,
                                 std::time_t to, std::size_t pageNo, std::size_t pageSize, bool countTotal) const {
  std::shared_lock lock(mutex_);
  return ListLocked(seller, status, rateStatus, pageNo, pageSize, countTotal, from, to);
}

TradePage Market::ListLocked(int seller, std::string_view status, RateStatus rateStatus, std::size_t pageNo,
                             std::size_t pageSize, bool countTotal, std::time_t from, std::time_t to) const {
  TradePage page;
  if (pageNo == 0 || pageSize == 0) return page;
  const int statusId = status.empty() ? -2 : StatusId(status);
  if (statusId == -1) return page;
  const std::size_t skip = (pageNo - 1) * pageSize;
  std::size_t seen = 0;
  page.trades.reserve(pageSize);
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    const ScanKey& k = keys_[i];
    if (k.seller != seller) continue;
    if (statusId != -2 && k.status != statusId) continue;
    if (!MatchesRateStatus(k.buyerRated, k.sellerRated, rateStatus)) continue;
    if (k.modified < from || k.modified > to) continue;
    if (seen >= skip && page.trades.size() < pageSize) {
      page.trades.push_back(trades_[i]);
    } else if (seen >= skip + pageSize) {
      page.hasNext = true;
      if (!countTotal) break;
    }
    ++seen;
  }
  if (countTotal) page.total = seen;
  return page;
}

std::vector<Trade> Market::AllTrades(int seller, RateStatus rateStatus) const {
  std::shared_lock lock(mutex_);
  std::vector<Trade> out;
  for (const Trade& t : trades_) {
    if ((seller < 0 || t.seller == seller) && MatchesRateStatus(t, rateStatus)) out.push_back(t);
  }
  return out;
}

std::optional<Trade> Market::FindTrade(std::string_view tid) const {
  std::shared_lock lock(mutex_);
  auto it = byTid_.find(std::string(tid));
  if (it == byTid_.end()) return std::nullopt;
  return trades_[it->second];
}

std::size_t Market::TradeCount() const {
  std::shared_lock lock(mutex_);
  return trades_.size();
}

RateOutcome Market::RateAsSeller(int seller, std::string_view tid, Rate result, std::string_view content,
                                 std::time_t now) {
  std::unique_lock lock(mutex_);
  auto it = byTid_.find(std::string(tid));
  if (it == byTid_.end()) return RateOutcome::NoSuchTrade;
  Trade& t = trades_[it->second];
  if (t.seller != seller) return RateOutcome::NotYourTrade;
  if (t.status != "TRADE_FINISHED") return RateOutcome::NotFinished;
  if (now - t.endTime > kRatingPeriodSeconds) return RateOutcome::PeriodOver;
  if (t.sellerRating.result != Rate::None) return RateOutcome::AlreadyRated;
  t.sellerRating = Rating{result, std::string(content), now};
  t.modified = std::max(t.modified, now);
  keys_[it->second].sellerRated = true;
  keys_[it->second].modified = t.modified;
  givenOrder_.push_back(t.tid);
  return RateOutcome::Ok;
}

RateOutcome Market::RateAsBuyer(std::string_view tid, Rate result, std::string_view content, std::time_t now) {
  std::unique_lock lock(mutex_);
  auto it = byTid_.find(std::string(tid));
  if (it == byTid_.end()) return RateOutcome::NoSuchTrade;
  Trade& t = trades_[it->second];
  if (t.status != "TRADE_FINISHED") return RateOutcome::NotFinished;
  if (t.buyer.result != Rate::None) return RateOutcome::AlreadyRated;
  t.buyer = Rating{result, std::string(content), now};
  t.modified = std::max(t.modified, now);
  keys_[it->second].buyerRated = true;
  keys_[it->second].modified = t.modified;
  return RateOutcome::Ok;
}

bool Market::Touch(std::string_view tid, std::time_t now) {
  std::unique_lock lock(mutex_);
  auto it = byTid_.find(std::string(tid));
  if (it == byTid_.end()) return false;
  Trade& t = trades_[it->second];
  t.modified = std::max(t.modified, now);
  keys_[it->second].modified = t.modified;
  return true;
}

RateOutcome Market::ChangeSellerRating(int seller, std::string_view tid, Rate result, std::string_view content,
                                       std::time_t now) {
  std::unique_lock lock(mutex_);
  auto it = byTid_.find(std::string(tid));
  if (it == byTid_.end()) return RateOutcome::NoSuchTrade;
  Trade& t = trades_[it->second];
  if (t.seller != seller) return RateOutcome::NotYourTrade;
  if (t.sellerRating.result == Rate::None) return RateOutcome::NotRated;
  t.sellerRating.result = result;
  t.sellerRating.content = std::string(content);
  t.sellerRating.time = now;
  t.modified = std::max(t.modified, now);
  keys_[it->second].modified = t.modified;
  return RateOutcome::Ok;
}

std::vector<Trade> Market::RatingsGiven(int seller) const {
  std::shared_lock lock(mutex_);
  std::vector<Trade> out;
  for (const std::string& tid : givenOrder_) {
    auto it = byTid_.find(tid);
    if (it == byTid_.end()) continue;
    const Trade& t = trades_[it->second];
    if (t.seller == seller && t.sellerRating.result != Rate::None) out.push_back(t);
  }
  return out;
}

std::vector<Trade> Market::RatingsReceived(int seller, std::size_t limit) const {
  std::shared_lock lock(mutex_);
  std::vector<Trade> out;
  for (const Trade& t : trades_) {
    if (t.seller == seller && t.buyer.result != Rate::None) out.push_back(t);
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Trade& a, const Trade& b) { return a.buyer.time > b.buyer.time; });
  if (out.size() > limit) out.resize(limit);
  return out;
}

std::vector<Trade> Market::RatingsBetween(int seller, bool received, std::time_t from, std::time_t to) const {
  std::shared_lock lock(mutex_);
  std::vector<Trade> out;
  for (const Trade& t : trades_) {
    const Rating& r = received ? t.buyer : t.sellerRating;
    if (t.seller == seller && r.result != Rate::None && r.time >= from && r.time <= to) out.push_back(t);
  }
  std::stable_sort(out.begin(), out.end(), [received](const Trade& a, const Trade& b) {
    return (received ? a.buyer.time : a.sellerRating.time) > (received ? b.buyer.time : b.sellerRating.time);
  });
  return out;
}

std::vector<std::string> Market::AddTrades(const std::vector<NewTrade>& trades, std::time_t now,
                                           std::string* error) {
  std::unique_lock lock(mutex_);
  std::vector<std::string> tids;
  std::vector<Trade> made;
  std::unordered_map<std::string, int> fresh;
  for (const NewTrade& n : trades) {
    Trade t;
    if (n.seller < 0 || n.seller >= static_cast<int>(sellers_.size())) {
      *error = "unknown seller";
      return {};
    }
    t.seller = n.seller;
    if (n.tid.empty()) {
      do t.tid = FreshTidLocked(); while (fresh.count(t.tid));
    } else {
      if (!IsDigits(n.tid) || n.tid.size() > 20) {
        *error = "tid must be decimal digits";
        return {};
      }
      if (byTid_.count(n.tid) || fresh.count(n.tid)) {
        *error = "tid " + n.tid + " exists already";
        return {};
      }
      t.tid = n.tid;
    }
    fresh[t.tid] = 1;
    t.buyerNick = n.buyerNick.empty() ? buyerPool_[Next() % buyerPool_.size()] : n.buyerNick;
    t.status = n.status.empty() ? "TRADE_FINISHED" : n.status;
    if (!IsKnownTradeStatus(t.status)) {
      *error = "unknown status " + t.status;
      return {};
    }
    t.endTime = n.endTime.value_or(now - 24 * 3600);
    t.endTimeText = FormatBeijingTime(t.endTime);
    if (n.buyerRate != Rate::None) t.buyer = Rating{n.buyerRate, n.buyerComment, std::min(now, t.endTime + 60)};
    if (n.sellerRate != Rate::None)
      t.sellerRating = Rating{n.sellerRate, n.sellerComment, std::min(now, t.endTime + 120)};
    // The record appears now, whatever end time it was given: a listing of
    // the changes since a moment before sees it.
    t.modified = std::max({t.endTime, t.buyer.time, t.sellerRating.time, now});
    made.push_back(std::move(t));
  }
  for (Trade& t : made) {
    tids.push_back(t.tid);
    if (t.sellerRating.result != Rate::None) givenOrder_.push_back(t.tid);
    trades_.push_back(std::move(t));
  }
  SortLocked();
  return tids;
}

}  // namespace qm::sandbox

// The seeded marketplace: two sellers with trades and two without (their
// application keys are of unusual length), a pool of buyers whose nicks
// include every kind of awkward text, and trades that ended over the last
// twenty days. Everything is drawn from SplitMix64 streams, so a seed always
// gives the same marketplace (the times are relative to the moment of
// seeding).
#include <algorithm>
#include <string>

#include "market.h"
#include "text.h"

namespace qm::sandbox {

namespace {

// Nicks that a careless client would break: markup, quotes, ampersands,
// spaces, characters outside GBK (emoji, a CJK extension-B character), text
// that looks like an entity, separators.
const char* const kHostileNicks[] = {
    "张 三",
    "tom & jerry",
    "<script>alert(1)</script>",
    "王\"大锤\"",
    "it's_小美",
    "a<b>c",
    "&amp;不是实体",
    "开心😀买家",
    "🐱猫猫🐾",
    "𠮷野家",
    "100%真心",
    "路径/分隔\\符",
    "&#x41;&lt;",
    "Łukasz ça va",
};

const char* const kSurnames[] = {"王", "李", "张", "刘", "陈", "杨", "赵", "黄", "周", "吴", "徐", "孙", "马", "朱"};
const char* const kGiven[] = {"小", "晓", "子", "雨", "欣", "浩", "宇", "婷", "明", "佳", "俊", "琪", "涵", "睿", "萌"};
const char* const kAdjectives[] = {"快乐的", "爱吃鱼的", "安静的", "追风的", "会飞的", "晒太阳的"};
const char* const kNouns[] = {"小猪", "猫咪", "少年", "蜗牛", "兔子", "橘子", "鲸鱼"};
const char* const kLatin[] = {"lucky_cat", "sunny", "mia", "k.wong", "blue-sky", "tb_shopper"};

const char* const kGoodComments[] = {"很好，发货快", "宝贝不错，好评！", "质量很好 & 包装仔细", "",
                                     "五星好评😀", "和描述一致"};
const char* const kNeutralComments[] = {"一般般吧", "发货太慢", "颜色和图片有点差别", "还行 <凑合>"};
const char* const kBadComments[] = {"质量太差", "客服态度\"很差\"", "<b>差评</b> 不会再买", "物流慢 & 破损", ""};

const char* const kSellerComments[] = {"感谢您的光临，欢迎下次再来！", "好买家，交易愉快", "谢谢亲的支持~"};

template <std::size_t N>
const char* PickFrom(const char* const (&list)[N], std::uint64_t r) {
  return list[r % N];
}

}  // namespace

void Market::SeedLocked(unsigned seed, int tradeCount, std::time_t now, bool keepSellers) {
  rngState_ = 0x5EEDull * 1000003ull + seed;
  std::vector<Seller> kept = std::move(sellers_);
  sellers_.clear();
  buyerPool_.clear();
  trades_.clear();
  keys_.clear();
  byTid_.clear();
  givenOrder_.clear();

  auto digits = [this](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + Next() % 10);
    return s;
  };
  auto hex = [this](int n) {
    static const char* kHex = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < n; ++i) s += kHex[Next() % 16];
    return s;
  };
  const char* const kSellerNicks[] = {"沐晨旗舰店", "青禾小铺"};
  for (const char* nick : kSellerNicks) {
    Seller s;
    s.nick = nick;
    s.userId = std::to_string(1 + Next() % 9) + digits(9);
    s.avatarPath = "/avatar/" + s.userId + ".svg";
    s.appKey = "2" + digits(7);
    s.appSecret = hex(32);
    s.password = "sandbox-" + digits(4);
    s.session = "6100" + hex(36) + s.userId;
    sellers_.push_back(std::move(s));
  }
  // Two more sellers whose application keys are one character shorter and
  // one longer than the platform's eight: the login pages of such keys are
  // left to the user. They are drawn from a stream of their own, so that a
  // seed gives the same trades as before they were added.
  {
    std::uint64_t state = 0xA11CEull * 1000003ull + seed;
    auto draw = [&state] {
      std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      return z ^ (z >> 31);
    };
    auto drawDigits = [&draw](int n) {
      std::string t;
      for (int i = 0; i < n; ++i) t += static_cast<char>('0' + draw() % 10);
      return t;
    };
    static const char* kHex = "0123456789abcdef";
    auto drawHex = [&draw](int n) {
      std::string t;
      for (int i = 0; i < n; ++i) t += kHex[draw() % 16];
      return t;
    };
    const std::pair<const char*, int> kShortAndLong[] = {{"七位键小店", 7}, {"九位键商行", 9}};
    for (const auto& [nick, keyLength] : kShortAndLong) {
      Seller s;
      s.nick = nick;
      s.userId = std::to_string(1 + draw() % 9) + drawDigits(9);
      s.avatarPath = "/avatar/" + s.userId + ".svg";
      s.appKey = "3" + drawDigits(keyLength - 1);
      s.appSecret = drawHex(32);
      s.password = "sandbox-" + drawDigits(4);
      s.session = "6100" + drawHex(36) + s.userId;
      sellers_.push_back(std::move(s));
    }
  }
  // A reset keeps the credentials that clients hold.
  if (keepSellers && kept.size() == sellers_.size()) sellers_ = std::move(kept);

  for (const char* nick : kHostileNicks) buyerPool_.emplace_back(nick);
  for (int i = 0; i < 300; ++i) {
    std::string nick;
    switch (Next() % 4) {
      case 0:
        nick = std::string(PickFrom(kSurnames, Next())) + PickFrom(kGiven, Next()) + PickFrom(kGiven, Next());
        break;
      case 1:
        nick = std::string(PickFrom(kAdjectives, Next())) + PickFrom(kNouns, Next()) + digits(2);
        break;
      case 2:
        nick = std::string(PickFrom(kLatin, Next())) + digits(3);
        break;
      default:
        nick = "tb" + digits(8);
        break;
    }
    buyerPool_.push_back(std::move(nick));
  }

  trades_.reserve(static_cast<std::size_t>(std::max(tradeCount, 0)));
  byTid_.reserve(static_cast<std::size_t>(std::max(tradeCount, 0)) * 2);
  const std::size_t hostile = std::size(kHostileNicks);
  for (int i = 0; i < tradeCount; ++i) {
    Trade t;
    t.tid = FreshTidLocked();
    byTid_[t.tid] = 0;  // reserved; the index is set by the final sort
    // Roughly one trade in ten belongs to the second seller.
    t.seller = (i >= static_cast<int>(hostile) && Next() % 10 == 0) ? 1 : 0;
    t.buyerNick = static_cast<std::size_t>(i) < hostile ? buyerPool_[i] : buyerPool_[Next() % buyerPool_.size()];
    const std::uint64_t kind = Next() % 100;
    t.status = kind < 86 ? "TRADE_FINISHED"
               : kind < 92 ? "TRADE_CLOSED"
               : kind < 96 ? "TRADE_CLOSED_BY_TAOBAO"
                           : "WAIT_BUYER_CONFIRM_GOODS";
    // Ended up to twenty days ago, to the second.
    t.endTime = now - static_cast<std::time_t>(Next() % (20 * 24 * 3600));
    if (t.status == "WAIT_BUYER_CONFIRM_GOODS") {
      t.endTime = now;  // still open: listed first, without an end time
    } else {
      t.endTimeText = FormatBeijingTime(t.endTime);
    }
    if (t.status == "TRADE_FINISHED") {
      const std::time_t elapsed = now - t.endTime;
      const std::time_t window = std::max<std::time_t>(1, std::min(elapsed, kRatingPeriodSeconds));
      const std::uint64_t b = Next() % 100;
      if (b >= 50) {
        Rate r = b < 85 ? Rate::Good : b < 92 ? Rate::Neutral : Rate::Bad;
        const char* comment = r == Rate::Good      ? PickFrom(kGoodComments, Next())
                              : r == Rate::Neutral ? PickFrom(kNeutralComments, Next())
                                                   : PickFrom(kBadComments, Next());
        t.buyer = Rating{r, comment, t.endTime + static_cast<std::time_t>(Next() % window)};
      }
      const bool expired = elapsed > kRatingPeriodSeconds;
      if (Next() % 100 < (expired ? 60u : 25u)) {
        t.sellerRating = Rating{Rate::Good, PickFrom(kSellerComments, Next()),
                                t.endTime + static_cast<std::time_t>(Next() % window)};
      }
    }
    t.modified = std::max({t.endTime, t.buyer.time, t.sellerRating.time});
    trades_.push_back(std::move(t));
  }
  SortLocked();
  std::vector<const Trade*> rated;
  for (const Trade& t : trades_) {
    if (t.sellerRating.result != Rate::None) rated.push_back(&t);
  }
  std::stable_sort(rated.begin(), rated.end(),
                   [](const Trade* a, const Trade* b) { return a->sellerRating.time < b->sellerRating.time; });
  for (const Trade* t : rated) givenOrder_.push_back(t->tid);
}

}  // namespace qm::sandbox

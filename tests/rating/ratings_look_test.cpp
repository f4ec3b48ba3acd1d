// Between full listings the refresh asks only for the ratings buyers gave
// since its last look, and the automatic pass posts only right after a
// complete look. Against the sandbox, on a clock the test moves for the
// program and the sandbox alike.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>

#include "orders/order_book.h"
#include "platform/platform_time.h"
#include "rating/received_ratings.h"
#include "rating/scheduler.h"
#include "support/rating_world.h"

namespace qm {
namespace {

struct Asked {
  std::string method, rateStatus, tid, from, to, pageNo, pageSize;
};

class RatingsLook : public test::ClockedWorldTest {
 protected:
  std::string At(double seconds) const { return FormatPlatformTime(static_cast<std::int64_t>(start + seconds)); }
  // The gateway calls since the last call, oldest first.
  std::vector<Asked> Calls() {
    auto value = [](const std::string& query, const std::string& name) {
      const std::size_t at = query.find("&" + name + "=");
      if (at == std::string::npos) return std::string();
      const std::size_t from = at + name.size() + 2;
      std::string v = query.substr(from, query.find('&', from) - from);
      for (std::size_t p; (p = v.find("%20")) != std::string::npos;) v.replace(p, 3, " ");
      for (std::size_t p; (p = v.find("%3A")) != std::string::npos;) v.replace(p, 3, ":");
      return v;
    };
    std::vector<Asked> out;
    for (const auto& e : nlohmann::json::parse(world.Market().AdminGet("log"))) {
      const std::string q = "&" + e.value("query", "");
      out.push_back({e.value("api_method", ""), value(q, "rate_status"), value(q, "tid"), value(q, "start_date"),
                     value(q, "end_date"), value(q, "page_no"), value(q, "page_size")});
    }
    world.Market().AdminPost("log/clear", "{}");
    return out;
  }
  static std::vector<Asked> Looks(const std::vector<Asked>& calls) {
    std::vector<Asked> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [](const Asked& a) { return a.method == "taobao.traderates.get" && a.tid.empty(); });
    return out;
  }
  static int FullListings(const std::vector<Asked>& calls) {
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [](const Asked& a) {
      return a.method == "taobao.trades.sold.get" && a.rateStatus == "RATE_BUYER_UNSELLER";
    }));
  }
  void BuyerRates(const std::string& tid, const std::string& result, const std::string& content = {}) {
    ASSERT_FALSE(world.Market()
                     .AdminPost("buyer-rate", nlohmann::json{{"tid", tid}, {"result", result}, {"content", content}}.dump())
                     .empty());
  }
  // Trades that ended `hoursAgo` ago and were rated by their buyers a minute later.
  std::vector<std::string> RatedTrades(const std::vector<double>& hoursAgo, const std::string& result) {
    nlohmann::json trades = nlohmann::json::array();
    for (double h : hoursAgo) trades.push_back({{"ended_hours_ago", h}, {"buyer_rate", result}, {"buyer_nick", "买家"}});
    const auto reply = nlohmann::json::parse(world.Market().AdminPost("trades", nlohmann::json{{"trades", trades}}.dump()));
    return reply.at("tids").get<std::vector<std::string>>();
  }
  // The program's life up to `to` seconds from the start: a pass every 100
  // seconds, a refresh every ten minutes (no stop, no overdue refresh).
  void Elapse(double to) {
    while (shift < to) {
      MoveClocks(std::min(to, shift + 100));
      world.Pass();
      if (shift >= lastRefresh_ + kRefreshIntervalMs / 1000.0) Refresh();
    }
  }
  void Refresh() {
    world.Refresh();
    lastRefresh_ = shift;
  }
  double lastRefresh_ = 0;
  int Lines(const std::string& start) const {
    return static_cast<int>(std::count_if(world.log.begin(), world.log.end(),
                                          [&](const std::string& l) { return l.rfind(start, 0) == 0; }));
  }
};

// The start lists in full; the refreshes after it ask one page of the ratings
// given since the last look (a few minutes earlier) and move each order with
// its verdict: alerted when neutral or bad, remembered when good, and an
// order on neither list joins the buyer-rated one as a full listing would
// show it. A day after the last full listing the refresh lists in full again.
TEST_F(RatingsLook, ABuyerWhoRatesBetweenTwoRefreshesMovesWithTheVerdict) {
  const std::string bad = world.AddTrade(100, "差评买家"), good = world.AddTrade(110, "好评买家"),
                    quiet = world.AddTrade(120, "未评买家");
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  ASSERT_EQ(world.Unrated().RowCount(), 3);
  EXPECT_EQ(FullListings(Calls()), 1);

  Elapse(9 * 60);
  BuyerRates(bad, "bad", "<b>差</b>");
  BuyerRates(good, "good");
  const std::string unlisted = RatedTrades({0.05}, "neutral").at(0);  // finished since the load
  Elapse(10 * 60);
  EXPECT_EQ(test::RatingWorld::Column(world.Unrated(), 0), (std::vector<std::string>{quiet}));
  for (const std::string& tid : {bad, good, unlisted}) EXPECT_TRUE(world.BuyerRated().Contains(tid)) << tid;
  ASSERT_NE(world.Run().Log().KnownVerdict(bad), nullptr);
  EXPECT_EQ(world.Run().Log().KnownVerdict(bad)->comment, "<b>差</b>");
  ASSERT_NE(world.Run().Log().KnownVerdict(good), nullptr);
  EXPECT_EQ(world.Run().Log().KnownVerdict(good)->result, "good");
  EXPECT_EQ(Lines("alert: order=" + bad + " buyer=差评买家 result=bad comment=<b>差</b>"), 1);
  EXPECT_EQ(Lines("alert: order=" + unlisted + " buyer=买家 result=neutral"), 1);
  EXPECT_EQ(Lines("alert: order=" + good), 0);
  std::vector<Asked> calls = Calls();
  EXPECT_EQ(FullListings(calls), 0);
  // One page, from five minutes before the full listing began to five minutes ahead;
  // the verdicts came with it: no order was asked about by itself.
  std::vector<Asked> looks = Looks(calls);
  ASSERT_EQ(looks.size(), 1u);
  EXPECT_EQ(looks[0].from, At(-300));
  EXPECT_EQ(looks[0].to, At(900));
  EXPECT_EQ(looks[0].pageSize, "150");
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const Asked& a) { return !a.tid.empty(); }), 0);

  // The next look goes on from this one's start; what it sees again changes nothing.
  Elapse(20 * 60);
  looks = Looks(Calls());
  ASSERT_EQ(looks.size(), 1u);
  EXPECT_EQ(looks[0].from, At(600 - 300));
  EXPECT_EQ(Lines("alert: "), 2);
  EXPECT_EQ(world.BuyerRated().RowCount(), 3);

  // A day after the last full listing, the refresh lists in full again, once.
  Elapse(24 * 3600 + 600);
  calls = Calls();
  EXPECT_EQ(FullListings(calls), 1);
  EXPECT_GE(Looks(calls).size(), 72u);  // the other refreshes (some wait for a reload's end)
  EXPECT_EQ(world.BuyerRated().RowCount(), 3);
}

// More ratings in a gap than the platform lists for one window: the window is
// asked again in halves until each holds fewer, and every order arrives once.
TEST_F(RatingsLook, AGapLongerThanTheWindowIsAskedInParts) {
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  Calls();
  MoveClocks(3600);
  std::vector<double> ages;
  for (int i = 0; i < 1700; ++i) ages.push_back(0.05 + 0.9 * i / 1700.0);
  const std::vector<std::string> tids = RatedTrades(ages, "good");
  ASSERT_EQ(tids.size(), 1700u);
  world.Refresh();
  EXPECT_TRUE(world.Run().Schedule().BuyerRatedComplete());
  EXPECT_EQ(world.BuyerRated().RowCount(), 1700);
  const std::vector<Asked> looks = Looks(Calls());
  std::set<std::pair<std::string, std::string>> windows;
  for (const Asked& a : looks) {
    windows.insert({a.from, a.to});
    EXPECT_EQ(a.pageSize, "150");
    EXPECT_LE(std::stoi(a.pageNo), kMostRatesPerWindow / kRatesPageSize);
  }
  EXPECT_GE(windows.size(), 3u);  // the whole gap, then its halves
  EXPECT_LE(looks.size(), 30u);
  for (const std::string& tid : {tids.front(), tids[850], tids.back()}) {
    ASSERT_NE(world.Run().Log().KnownVerdict(tid), nullptr) << tid;
  }
}

// A look cut off keeps both lists as they are and posts nothing, even for an
// order whose deadline is near; the next refresh lists in full, after which
// the pass posts again, the buyer who rated meanwhile excepted.
TEST_F(RatingsLook, AnIncompleteLookKeepsEverythingAndTheNextRefreshListsInFull) {
  const std::string rater = world.AddTrade(300, "评价了"), urgent = world.AddTrade(359, "快到期");
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  // The first pass after the full listing rated the urgent order.
  ASSERT_EQ(world.RatingPosts(urgent), 1);
  const int buyerRated = world.BuyerRated().RowCount();
  Elapse(9 * 60);
  BuyerRates(rater, "bad", "差");
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.traderates.get","truncate_rate":1})"));
  Calls();
  Elapse(10 * 60);
  EXPECT_FALSE(world.Run().Schedule().BuyerRatedComplete());
  EXPECT_EQ(Lines("refresh: the look at the buyers' ratings did not complete"), 1);
  EXPECT_TRUE(world.Unrated().Contains(rater));
  EXPECT_EQ(world.BuyerRated().RowCount(), buyerRated);
  // Another order a minute from its deadline: the pass's own look is cut off too.
  const std::string late = world.AddTrade(359, "也快到期");
  world.AddUnratedRow(late, "也快到期", 359);
  world.Pass();
  EXPECT_EQ(world.RatingPosts(late), 0);
  EXPECT_EQ(FullListings(Calls()), 0);

  // Whole answers again: a pass's own look goes on from the last complete
  // one and the order is rated; the next refresh lists in full.
  ASSERT_TRUE(world.Faults("{}"));
  Elapse(20 * 60);
  EXPECT_EQ(FullListings(Calls()), 1);
  EXPECT_TRUE(world.Run().Schedule().BuyerRatedComplete());
  EXPECT_FALSE(world.Unrated().Contains(rater));
  EXPECT_TRUE(world.BuyerRated().Contains(rater));
  // (The sandbox's request log was read and emptied: its ratings tell.)
  std::vector<std::string> rated;
  for (const auto& r : world.Ratings()) rated.push_back(r.tid);
  EXPECT_EQ(rated, (std::vector<std::string>{urgent, late}));
}

// The audit's case: a pass posts while time goes by; the buyer of an order it
// has yet to post rates "bad" and the ten-minute refresh falls due. The pass
// looks again before its next post and the look fails: the pass ends, the
// refresh (in full) moves the order, and no "good" reaches that buyer. A
// buyer who rates while the pass's own look succeeds is moved by it.
TEST_F(RatingsLook, ABuyerWhoRatesBadWhileAPassRunsIsNeverRatedGood) {
  const auto tids = world.AddTrades({{340, "甲"}, {341, "乙"}, {342, "丙"}, {343, "丁"}});
  world.ChangeSettings([](RunSettings& s) { s.ratingHours = 12; });
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  ASSERT_EQ(world.Unrated().RowCount(), 4);  // not due yet: some 19 hours left
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","latency_ms":150})"));
  world.ChangeSettings([](RunSettings& s) { s.ratingHours = 24; });
  world.Refresh();
  // Due now; the pass starts right after the refresh's look and posts the oldest first.
  world.Run().RunAutoRatingPass();
  ASSERT_TRUE(world.Run().Schedule().PassRunning());
  // While the first post is on its way: a minute goes by, the buyer of the
  // newest order rates, 时钟2 fires, and looks fail from now on.
  MoveClocks(61);
  BuyerRates(tids[0], "bad", "差");
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.traderates.get","error_rate":1})"));
  world.Run().refresh_cycle();
  world.AwaitQuiet();
  EXPECT_EQ(world.RatingPosts(tids[3]), 1);
  for (int i : {0, 1, 2}) EXPECT_EQ(world.RatingPosts(tids[static_cast<std::size_t>(i)]), 0) << i;
  EXPECT_FALSE(world.Unrated().Contains(tids[0]));
  EXPECT_TRUE(world.BuyerRated().Contains(tids[0]));
  EXPECT_EQ(world.refreshTimer.Interval(), kRefreshIntervalMs);
  EXPECT_EQ(world.autoTimer.Interval(), kAutoPassIntervalMs);

  // The platform answers again: the next pass posts the two left. The buyer
  // of the second rates while they go out, and a minute goes by: the pass's
  // own look finds it.
  ASSERT_TRUE(world.Faults("{}"));
  ASSERT_TRUE(world.Faults(R"({"path":"/apitools/getResult.do","latency_ms":150})"));
  MoveClocks(122);
  world.Refresh();
  world.Run().RunAutoRatingPass();
  MoveClocks(183);
  BuyerRates(tids[1], "neutral");
  world.AwaitQuiet();
  EXPECT_EQ(world.RatingPosts(tids[2]), 1);
  EXPECT_EQ(world.RatingPosts(tids[1]), 0);
  EXPECT_TRUE(world.BuyerRated().Contains(tids[1]));
  EXPECT_EQ(world.RatingPosts(tids[0]), 0);
  EXPECT_EQ(Lines("alert: order=" + tids[1]), 1);
  EXPECT_EQ(world.Unrated().RowCount(), 0);
}

}  // namespace
}  // namespace qm

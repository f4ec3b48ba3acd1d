// The reload of the interval asks only for what changed; the full listing
// runs once a day and after a load that did not complete; an order rated
// elsewhere leaves at its refused post. All of it against the sandbox, on a
// clock the test moves for the program and the sandbox alike.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "orders/listing.h"
#include "platform/platform_time.h"
#include "platform/reply.h"
#include "platform/transport.h"
#include "rating/scheduler.h"
#include "settings/app_session.h"
#include "support/rating_world.h"
#include "support/sandbox_calls.h"

namespace qm {
namespace {

struct Listing {
  std::string method, rateStatus, from, to;
};

// A query value of the sandbox's log, with the transport's %20 turned back.
std::string QueryValue(const std::string& query, const std::string& name) {
  const std::size_t at = query.find(name + "=");
  if (at == std::string::npos) return {};
  const std::size_t start = at + name.size() + 1;
  std::string value = query.substr(start, query.find('&', start) - start);
  for (std::size_t p; (p = value.find("%20")) != std::string::npos;) value.replace(p, 3, " ");
  return value;
}

class ReloadChanges : public ::testing::Test {
 protected:
  test::RatingWorld world;
  double start = 0;
  double shift = 0;

  void SetUp() override {
    Session().reloadMinutes = 60;
    start = std::floor(PlatformNow());
    SetPlatformClock([this] { return start + shift; });
  }
  void TearDown() override { SetPlatformClock(nullptr); }

  // Both clocks, the program's and the sandbox's, `seconds` after the start.
  void MoveClocks(double seconds) {
    shift = seconds;
    ASSERT_FALSE(world.Market()
                     .AdminPost("clock", nlohmann::json{{"offset_seconds", static_cast<long long>(seconds)}}.dump())
                     .empty());
  }
  // The listings of the unrated orders since the last call.
  std::vector<Listing> Listings() {
    const auto log = nlohmann::json::parse(world.Market().AdminGet("log"), nullptr, false);
    world.Market().AdminPost("log/clear", "{}");
    std::vector<Listing> out;
    for (const auto& e : log) {
      const std::string method = e.value("api_method", "");
      const std::string query = e.value("query", "");
      const std::string rate = QueryValue(query, "rate_status");
      if (method.rfind("taobao.trades.sold", 0) != 0 || rate == kRateBuyerUnseller) continue;
      out.push_back({method, rate, QueryValue(query, "start_modified"), QueryValue(query, "end_modified")});
    }
    return out;
  }
  bool Logged(const std::string& line) const {
    return std::find(world.log.begin(), world.log.end(), line) != world.log.end();
  }
  void Reload() {
    world.Run().RunAutoRatingPass();  // starts the reload that is due
    ASSERT_TRUE(world.Run().Loader().Running());
    world.AwaitLoad();
  }
};

TEST_F(ReloadChanges, TheIntervalReloadAsksOnlyForTheChangesAndATradeThatFinishesBetweenReloadsIsRated) {
  const std::string waiting = world.AddTrade(10, "老买家");
  const std::string elsewhere = world.AddTrade(120, "网页评价");
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  ASSERT_EQ(world.Unrated().RowCount(), 2);
  Listings();

  // Half an hour on: a trade finishes, and the seller rates one on the platform's own page.
  MoveClocks(30 * 60);
  const std::string finished = world.AddTrade(0, "新买家");
  ASSERT_FALSE(test::PostRating(world.Market(), elsewhere, "good", "ok").body.empty());

  MoveClocks(61 * 60);
  Reload();
  EXPECT_TRUE(Logged("reload: loading the orders changed since the last load (every 60 minutes)"));
  EXPECT_TRUE(Logged("reload: added=1 dropped=1"));
  EXPECT_EQ(test::RatingWorld::Column(world.Unrated(), 0), (std::vector<std::string>{waiting, finished}));
  // Two requests, one a side, from a few minutes before the first load to now.
  const std::vector<Listing> asked = Listings();
  ASSERT_EQ(asked.size(), 2u);
  for (const Listing& l : asked) {
    EXPECT_EQ(l.method, "taobao.trades.sold.increment.get");
    EXPECT_EQ(l.from, FormatPlatformTime(static_cast<std::int64_t>(start - kChangesOverlapSeconds)));
    EXPECT_EQ(l.to, FormatPlatformTime(static_cast<std::int64_t>(start + 61 * 60)));
  }
  EXPECT_NE(asked[0].rateStatus, asked[1].rateStatus);

  // The next one begins where that one began, less the overlap.
  MoveClocks(122 * 60);
  Reload();
  EXPECT_TRUE(Logged("reload: added=0 dropped=0"));
  const std::vector<Listing> again = Listings();
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[0].from, FormatPlatformTime(static_cast<std::int64_t>(start + 61 * 60 - kChangesOverlapSeconds)));

  // Fourteen days on the new trade is due: the reload is the day's full
  // listing, and the pass rates it once.
  MoveClocks(14 * 86400.0);
  Reload();
  EXPECT_TRUE(Logged("reload: loading the unrated orders again in full (once a day)"));
  for (const Listing& l : Listings()) EXPECT_EQ(l.method, "taobao.trades.sold.get");
  world.Run().RunAutoRatingPass();
  const auto ratings = world.Ratings();
  EXPECT_EQ(std::count_if(ratings.begin(), ratings.end(), [&](const auto& r) { return r.tid == finished; }), 1);
  EXPECT_TRUE(Logged("rating order=" + finished + " buyer=新买家 result=good outcome=rated"));
  EXPECT_FALSE(world.Unrated().Contains(finished));
}

TEST_F(ReloadChanges, AnOrderRatedElsewhereLeavesAtItsRefusedPostOrAtTheNextFullListing) {
  Session().ratingHours = 1;
  const std::string due = world.AddTrade(340, "网页已评");
  const std::string unseen = world.AddTrade(100, "漏看");
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  ASSERT_EQ(world.Unrated().RowCount(), 2);

  // Rated on the platform's page; the pass, with a longer lead time, posts it
  // and the platform refuses it as rated: the row leaves as rated.
  ASSERT_FALSE(test::PostRating(world.Market(), due, "good", "网页").body.empty());
  Session().ratingHours = 24;
  world.Run().RunAutoRatingPass();
  EXPECT_EQ(world.RatingPosts(due), 2);
  EXPECT_FALSE(world.Unrated().Contains(due));
  EXPECT_FALSE(world.Run().Ledger().Holds(due));
  EXPECT_TRUE(Logged("rating order=" + due +
                     " buyer=网页已评 result=good outcome=already-rated (the platform holds a rating of it; removed as rated)"));
  for (const std::string& line : world.log) EXPECT_EQ(line.find("outcome=refused"), std::string::npos) << line;
  world.Run().RunAutoRatingPass();
  EXPECT_EQ(world.RatingPosts(due), 2);

  // Another is rated elsewhere while the changes cannot be read: nothing is
  // concluded from them, and the full listing after them drops it.
  ASSERT_FALSE(test::PostRating(world.Market(), unseen, "good", "网页").body.empty());
  ASSERT_TRUE(world.Faults(R"({"path":"/router/rest","api_method":"taobao.trades.sold.increment.get",)"
                           R"("rate_status":"RATE_UNSELLER","page_no":1,"error_rate":1})"));
  MoveClocks(61 * 60);
  Reload();
  EXPECT_TRUE(world.Unrated().Contains(unseen));
  EXPECT_TRUE(Logged("reload: added=0 dropped=0; incomplete at RATE_UNSELLER page 1, loading again within ten minutes"));
  ASSERT_TRUE(world.Faults("{}"));
  MoveClocks(72 * 60);
  Reload();
  EXPECT_TRUE(Logged("reload: the last load did not complete; loading the unrated orders again"));
  EXPECT_TRUE(Logged("reload: added=0 dropped=1"));
  EXPECT_FALSE(world.Unrated().Contains(unseen));

  // A row whose change no listing of the changes shows stays until the day's full listing.
  world.AddUnratedRow("5550001", "旧行", 100);
  Listings();
  MoveClocks(133 * 60);
  Reload();
  EXPECT_TRUE(world.Unrated().Contains("5550001"));
  Listings();
  MoveClocks(72 * 60 + 86400.0);
  Reload();
  EXPECT_TRUE(Logged("reload: loading the unrated orders again in full (once a day)"));
  EXPECT_FALSE(world.Unrated().Contains("5550001"));
  const std::vector<Listing> daily = Listings();
  ASSERT_FALSE(daily.empty());
  for (const Listing& l : daily) EXPECT_EQ(l.method, "taobao.trades.sold.get");
  EXPECT_EQ(world.Ratings().size(), 2u);  // only the two given on the platform's page
}

TEST_F(ReloadChanges, AGapLongerThanADayIsAskedDayByDay) {
  Session().reloadMinutes = 0;  // no reload of the interval beside this one
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  Listings();
  MoveClocks(2 * 3600);
  const std::string early = world.AddTrade(0, "第一天");
  MoveClocks(26 * 3600);
  const std::string late = world.AddTrade(0, "第二天");
  MoveClocks(30 * 3600);

  ASSERT_TRUE(world.Run().Loader().StartChanges(start));
  world.AwaitLoad();
  const LoadReport& report = world.Run().Schedule().LastLoad();
  EXPECT_TRUE(report.Completed());
  EXPECT_EQ(report.windows, 2);
  EXPECT_EQ(test::RatingWorld::Column(world.Unrated(), 0), (std::vector<std::string>{early, late}));
  const std::vector<Listing> asked = Listings();
  ASSERT_EQ(asked.size(), 4u);
  for (const Listing& l : asked) {
    EXPECT_EQ(l.method, "taobao.trades.sold.increment.get");
    const auto from = ParsePlatformTime(l.from), to = ParsePlatformTime(l.to);
    ASSERT_TRUE(from && to);
    EXPECT_GT(*to, *from);
    EXPECT_LE(*to - *from, 86400);
  }
  EXPECT_EQ(asked.front().from, FormatPlatformTime(static_cast<std::int64_t>(start)));
  EXPECT_EQ(asked.back().to, FormatPlatformTime(static_cast<std::int64_t>(start + 30 * 3600)));

  // The platform itself takes no window longer than a day.
  const std::string reply = decode_reply(
      web_request(WebRequest::Get(TradesSoldIncrementUrl(kRateUnbuyer, 1, kUnratedFields,
                                                         FormatPlatformTime(static_cast<std::int64_t>(start)),
                                                         FormatPlatformTime(static_cast<std::int64_t>(start) + 86401)))).body);
  EXPECT_NE(reply.find("<error_response>"), std::string::npos);
  EXPECT_NE(reply.find("within one day"), std::string::npos);
}

}  // namespace
}  // namespace qm

// The reload of the interval asks only for what changed; the full listing
// runs once a day, and one that did not complete goes again an hour later
// with the changes asked for between; an order rated elsewhere leaves at its
// refused post. Against the sandbox, on a clock the
// test moves for the program and the sandbox alike.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

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
  std::string method, from, to;  // the window's times, for the incremental listing
};

class ReloadChanges : public test::ClockedWorldTest {
 protected:
  std::string At(double seconds) const { return FormatPlatformTime(static_cast<std::int64_t>(start + seconds)); }
  // The unrated-order listings asked since the last call.
  std::vector<Listing> Listings() {
    auto value = [](const std::string& query, const std::string& name) {
      const std::size_t at = query.find(name + "=");
      if (at == std::string::npos) return std::string();
      std::string v = query.substr(at + name.size() + 1, query.find('&', at) - at - name.size() - 1);
      for (std::size_t p; (p = v.find("%20")) != std::string::npos;) v.replace(p, 3, " ");
      return v;
    };
    std::vector<Listing> out;
    for (const auto& e : nlohmann::json::parse(world.Market().AdminGet("log"))) {
      const std::string method = e.value("api_method", ""), query = e.value("query", "");
      if (method.rfind("taobao.trades.sold", 0) == 0 && value(query, "rate_status") != kRateBuyerUnseller)
        out.push_back({method, value(query, "start_modified"), value(query, "end_modified")});
    }
    world.Market().AdminPost("log/clear", "{}");
    return out;
  }
  bool Logged(const std::string& line) const { return std::count(world.log.begin(), world.log.end(), line) > 0; }
  // The pass starts the reload that is due; the reload may end before the pass does.
  void Reload() {
    const auto started = [this] {
      return std::count_if(world.log.begin(), world.log.end(),
                           [](const std::string& l) { return l.rfind("reload: ", 0) == 0 && l.rfind("reload: added=", 0) != 0; });
    };
    const auto before = started();
    world.Pass();
    world.AwaitLoad();
    ASSERT_EQ(started(), before + 1);
  }
};

TEST_F(ReloadChanges, TheIntervalReloadAsksForTheChangesAndATradeThatFinishesBetweenReloadsIsRated) {
  const std::string waiting = world.AddTrade(10, "老买家"), elsewhere = world.AddTrade(120, "网页评价");
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  Listings();
  MoveClocks(30 * 60);  // a trade finishes; the seller rates one on the platform's own page
  const std::string finished = world.AddTrade(0, "新买家");
  ASSERT_FALSE(test::PostRating(world.Market(), elsewhere, "good", "ok").body.empty());

  MoveClocks(61 * 60);
  Reload();
  EXPECT_TRUE(Logged("reload: loading the orders changed since the last load (every 60 minutes)"));
  EXPECT_TRUE(Logged("reload: added=1 dropped=1"));
  EXPECT_EQ(test::RatingWorld::Column(world.Unrated(), 0), (std::vector<std::string>{waiting, finished}));
  // One request a side, from a few minutes before the last load began to now.
  std::vector<Listing> asked = Listings();
  ASSERT_EQ(asked.size(), 1u);  // every rate status at once
  for (const Listing& l : asked) {
    EXPECT_EQ(l.method, "taobao.trades.sold.increment.get");
    EXPECT_EQ(l.from, At(-kChangesOverlapSeconds));
    EXPECT_EQ(l.to, At(61 * 60));
  }
  MoveClocks(122 * 60);
  Reload();
  asked = Listings();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].from, At(61 * 60 - kChangesOverlapSeconds));

  // A row whose change no listing of the changes shows leaves at the day's
  // full listing, once the platform asked about it says it is rated;
  // fourteen days on the new trade is due and rated once.
  const auto rated = nlohmann::json::parse(world.Market().AdminPost(
      "trades", R"({"trades":[{"buyer_nick":"旧行","ended_hours_ago":1,"seller_rate":"good"}]})"));
  const std::string old = rated["tids"][0].get<std::string>();
  world.AddUnratedRow(old, "旧行", 0);
  MoveClocks(14 * 86400.0);
  Reload();
  EXPECT_TRUE(Logged("reload: loading the unrated orders again in full (once a day)"));
  asked = Listings();
  EXPECT_TRUE(!asked.empty() && std::all_of(asked.begin(), asked.end(), [](const Listing& l) {
    return l.method == "taobao.trades.sold.get";
  }));
  EXPECT_FALSE(world.Unrated().Contains(old));
  world.Pass();
  EXPECT_TRUE(Logged("rating order=" + finished + " buyer=新买家 result=good outcome=rated"));
  EXPECT_EQ(world.Ratings().size(), 4u);  // old's, elsewhere's, waiting's and finished's
}

TEST_F(ReloadChanges, AnOrderRatedElsewhereLeavesAtItsRefusedPostOrAtTheReloadAfterAnIncompleteOne) {
  world.ChangeSettings([](RunSettings& s) { s.ratingHours = 1; });
  const std::string due = world.AddTrade(340, "网页已评"), unseen = world.AddTrade(100, "漏看");
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  ASSERT_FALSE(test::PostRating(world.Market(), due, "good", "网页").body.empty());
  world.ChangeSettings([](RunSettings& s) { s.ratingHours = 24; });
  world.Pass();  // posted, refused as rated: the row leaves as rated
  world.Pass();
  EXPECT_EQ(world.RatingPosts(due), 2);
  EXPECT_FALSE(world.Unrated().Contains(due));
  EXPECT_TRUE(Logged("rating order=" + due +
                     " buyer=网页已评 result=good outcome=already-rated (the platform holds a rating of it; removed as rated)"));

  // Rated elsewhere while the changes cannot be read: nothing is concluded
  // from them, and the reload after them (of the changes since the last
  // complete load) drops it.
  ASSERT_FALSE(test::PostRating(world.Market(), unseen, "good", "网页").body.empty());
  ASSERT_TRUE(world.Faults(R"({"api_method":"taobao.trades.sold.increment.get","page_no":1,"error_rate":1})"));
  MoveClocks(61 * 60);
  Reload();
  EXPECT_TRUE(Logged("reload: added=0 dropped=0; incomplete at changes page 1, loading again within ten minutes"));
  EXPECT_TRUE(world.Unrated().Contains(unseen));
  ASSERT_TRUE(world.Faults("{}"));
  MoveClocks(72 * 60);
  Listings();
  Reload();
  EXPECT_TRUE(Logged("reload: the last load did not complete; loading the unrated orders again"));
  EXPECT_TRUE(Logged("reload: added=0 dropped=1"));
  EXPECT_EQ(world.Unrated().RowCount(), 0);
  const std::vector<Listing> asked = Listings();
  EXPECT_TRUE(!asked.empty() && std::all_of(asked.begin(), asked.end(), [](const Listing& l) {
    return l.method == "taobao.trades.sold.increment.get";
  }));
}

// The day's full listing fails on a page through an outage: the next
// reload asks for the changes (a trade finished meanwhile comes in), and the
// full listing goes again only an hour after the failed one.
TEST_F(ReloadChanges, AFullListingThatFailsGoesAgainAnHourLaterWithTheChangesBetween) {
  world.AddTrade(10, "老买家");
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  MoveClocks(86400 + 60);
  ASSERT_TRUE(world.Faults(
      R"({"api_method":"taobao.trades.sold.get","rate_status":"RATE_UNBUYER","page_no":1,"error_rate":1})"));
  Listings();
  Reload();
  EXPECT_TRUE(Logged("reload: loading the unrated orders again in full (once a day)"));
  ASSERT_TRUE(world.Faults("{}"));
  const std::string finished = world.AddTrade(0, "新买家");

  MoveClocks(86400 + 21 * 60);  // the clocks stand this far from the test's start
  Listings();
  Reload();
  EXPECT_TRUE(Logged("reload: the last load did not complete; loading the unrated orders again"));
  std::vector<Listing> asked = Listings();
  EXPECT_TRUE(!asked.empty() && std::all_of(asked.begin(), asked.end(), [](const Listing& l) {
    return l.method == "taobao.trades.sold.increment.get";
  }));
  EXPECT_TRUE(world.Unrated().Contains(finished));

  MoveClocks(86400 + 83 * 60);  // the hourly reload after the changes
  Listings();
  Reload();
  asked = Listings();
  EXPECT_TRUE(!asked.empty() && std::all_of(asked.begin(), asked.end(), [](const Listing& l) {
    return l.method == "taobao.trades.sold.get";
  }));
}

TEST_F(ReloadChanges, AGapLongerThanADayIsAskedDayByDay) {
  world.ChangeSettings([](RunSettings& s) { s.reloadMinutes = 0; });  // no reload of the interval beside this one
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
  EXPECT_TRUE(world.Run().Schedule().LastLoad().Completed());
  EXPECT_EQ(test::RatingWorld::Column(world.Unrated(), 0), (std::vector<std::string>{early, late}));
  const std::vector<Listing> asked = Listings();
  ASSERT_EQ(asked.size(), 2u);  // two windows
  EXPECT_EQ(asked[0].from, At(0));
  EXPECT_EQ(asked[0].to, At(86400));
  EXPECT_EQ(asked[1].from, At(86400));
  EXPECT_EQ(asked[1].to, At(30 * 3600));

  // The platform takes no longer window.
  const std::string reply = decode_reply(
      web_request(WebRequest::Get(TradesSoldIncrementUrl(world.Session().RunAccount(), kRateUnbuyer, 1, kUnratedFields, At(0), At(86401)))).body);
  EXPECT_NE(reply.find("start_modified and end_modified must be within one day"), std::string::npos) << reply;
}

}  // namespace
}  // namespace qm

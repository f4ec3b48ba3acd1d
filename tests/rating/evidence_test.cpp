// Nothing leaves the both-unrated list without proof for that order, and the
// most urgent order is rated first. Against the sandbox, through a gateway of
// the tests' own in front of it that changes the shop while the program reads
// it and answers with replies the platform should not give.
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "orders/order_book.h"
#include "platform/platform_time.h"
#include "rating/rating_ledger.h"
#include "settings/app_session.h"
#include "support/rating_world.h"
#include "support/sandbox_calls.h"
#include "util/ports.h"

namespace qm {
namespace {

using test::RatingWorld;

// Forwards every request to the sandbox; `before` and `after` see each one
// around its forwarding (the shop changing while the program reads it), and
// `answer` may answer a request itself instead (nothing reaches the sandbox).
class HostileGateway {
 public:
  using Hook = std::function<void(const httplib::Request&)>;
  using Answer = std::function<std::optional<std::string>(const httplib::Request&)>;

  explicit HostileGateway(const test::Sandbox& sandbox) : target_(sandbox.BaseUrl()) {
    auto forward = [this](const httplib::Request& req, httplib::Response& res) {
      Hook before, after;
      Answer answer;
      {
        std::lock_guard lock(mutex_);
        before = before_, after = after_, answer = answer_;
      }
      if (answer) {
        if (auto body = answer(req)) {
          res.set_content(*body, "text/xml;charset=UTF-8");
          return;
        }
      }
      if (before) before(req);
      httplib::Client client(target_);
      client.set_read_timeout(30, 0);
      auto reply = req.method == "POST"
                       ? client.Post(req.target.c_str(), req.body, req.get_header_value("Content-Type").c_str())
                       : client.Get(req.target.c_str());
      if (!reply) {
        res.status = 502;
        return;
      }
      res.status = reply->status;
      res.set_content(reply->body, reply->get_header_value("Content-Type").c_str());
      if (after) after(req);
    };
    server_.Get(".*", forward);
    server_.Post(".*", forward);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~HostileGateway() {
    server_.stop();
    thread_.join();
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  void Before(Hook hook) {
    std::lock_guard lock(mutex_);
    before_ = std::move(hook);
  }
  void After(Hook hook) {
    std::lock_guard lock(mutex_);
    after_ = std::move(hook);
  }
  void Answers(Answer answer) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
  }

 private:
  std::string target_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  Hook before_, after_;
  Answer answer_;
};

std::size_t LinesWith(const std::vector<std::string>& log, const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

// One parameter of a logged query.
std::string Param(const std::string& query, const std::string& name) {
  const std::size_t at = query.find(name + "=");
  if (at == std::string::npos) return {};
  const std::size_t from = at + name.size() + 1;
  return query.substr(from, query.find('&', from) - from);
}

// The platform's requests of one gateway method the sandbox logged.
std::vector<std::string> Queries(const test::Sandbox& sandbox, const std::string& method) {
  std::vector<std::string> out;
  for (const auto& e : nlohmann::json::parse(sandbox.AdminGet("log")))
    if (e.value("api_method", "") == method) out.push_back(e.value("query", ""));
  return out;
}

class Evidence : public ::testing::Test {
 protected:
  RatingWorld world;
  HostileGateway gateway{world.Market()};
  double start = std::floor(world.Clock().Now());
  std::atomic<long long> shift{0};

  void SetUp() override {
    world.Machine().Set([this] { return start + static_cast<double>(shift.load()); });
    world.Session().endpoints = Endpoints::AtBase(gateway.Base());
    world.Restart();
  }
  void TearDown() override {
    gateway.Before(nullptr);
    gateway.After(nullptr);
    gateway.Answers(nullptr);
  }
  // The program's platform clock and the sandbox's move together.
  void MoveClocks(long long seconds) {
    shift = seconds;
    world.Market().AdminPost("clock", nlohmann::json{{"offset_seconds", seconds}}.dump());
  }
  // The pass starts the reload that is due; waits for its end.
  void Reload() {
    world.Pass();
    world.AwaitLoad();
  }
  bool Logged(const std::string& line) const { return std::count(world.log.begin(), world.log.end(), line) > 0; }
};

// The daily full listing pages newest first while a buyer rates an order of
// its first page: every later order moves up a place and the first of the
// second page is never seen. It is asked about and stays; an order the
// seller rated on the platform's own page is asked about and leaves.
TEST_F(Evidence, APageShiftDuringTheDailyListingDropsNoUnratedOrder) {
  std::vector<std::pair<int, std::string>> trades;
  for (int i = 0; i < 250; ++i) trades.emplace_back(10 + i, "买家" + std::to_string(i));
  const auto tids = world.AddTrades(trades);
  ASSERT_EQ(tids.size(), 250u);
  const std::string elsewhere = world.AddTrade(300, "网页评价");
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  ASSERT_EQ(world.Unrated().RowCount(), 251);

  ASSERT_FALSE(test::PostRating(world.Market(), elsewhere, "good", "网页").body.empty());
  std::mutex mutex;
  std::string rater, unseen;
  gateway.Before([&](const httplib::Request& req) {
    if (req.get_param_value("method") != "taobao.trades.sold.get" || req.get_param_value("rate_status") != "RATE_UNBUYER" ||
        req.get_param_value("page_no") != "2")
      return;
    std::lock_guard lock(mutex);
    if (!rater.empty()) return;
    // The listing as the program's first page read it.
    const auto listed = nlohmann::json::parse(world.Market().AdminGet("trades?rate_status=RATE_UNBUYER"));
    rater = listed.at(0).value("tid", "");
    unseen = listed.at(100).value("tid", "");
    world.Market().AdminPost("buyer-rate", nlohmann::json{{"tid", rater}, {"result", "good"}, {"content", "好"}}.dump());
  });
  world.Market().AdminPost("log/clear", "{}");
  MoveClocks(25 * 3600);
  Reload();
  EXPECT_TRUE(Logged("reload: loading the unrated orders again in full (once a day)"));
  gateway.Before(nullptr);
  ASSERT_FALSE(unseen.empty());
  EXPECT_TRUE(world.Unrated().Contains(unseen));
  EXPECT_FALSE(world.Unrated().Contains(elsewhere));
  EXPECT_TRUE(Logged("reload: added=0 dropped=1; kept 1 the listing did not bring (not proven rated)"));
  // One question each, about that very order.
  std::set<std::string> about;
  for (const std::string& query : Queries(world.Market(), "taobao.trade.get")) about.insert(Param(query, "tid"));
  EXPECT_EQ(about, (std::set<std::string>{unseen, elsewhere}));

  // The next refresh takes the order its buyer rated to the buyer-rated list;
  // the unseen one is listed again by the next day's listing, without a question.
  world.Refresh();
  EXPECT_FALSE(world.Unrated().Contains(rater));
  EXPECT_TRUE(world.BuyerRated().Contains(rater));
  world.Market().AdminPost("log/clear", "{}");
  MoveClocks(50 * 3600);
  Reload();
  EXPECT_TRUE(Logged("reload: added=0 dropped=0"));
  EXPECT_TRUE(world.Unrated().Contains(unseen));
  EXPECT_TRUE(Queries(world.Market(), "taobao.trade.get").empty());
  EXPECT_EQ(world.Unrated().RowCount(), 249);
}

// The listing of the changes reads each trade's record with both sides'
// flags at once: a trade changed for another reason while it is read (a
// memo) stays, and only a record that says a side has rated takes a row out.
TEST_F(Evidence, ATradeChangedWhileTheChangesAreReadStays) {
  const std::string memo = world.AddTrade(10, "备注"), buyerRated = world.AddTrade(11, "买家评"),
                    sellerRated = world.AddTrade(12, "网页评"), quiet = world.AddTrade(13, "无变化");
  ASSERT_TRUE(world.Run().Start());
  world.AwaitLoad();
  ASSERT_EQ(world.Unrated().RowCount(), 4);

  // The ten-minute refresh has run (a clock that leapt since reads as a stop
  // and is renewed on the way); the trades change after it.
  MoveClocks(59 * 60);
  world.Refresh();
  ASSERT_FALSE(world.Market().AdminPost("touch", nlohmann::json{{"tid", memo}}.dump()).empty());
  ASSERT_FALSE(world.Market().AdminPost("buyer-rate", nlohmann::json{{"tid", buyerRated}, {"result", "good"}, {"content", "好"}}.dump()).empty());
  ASSERT_FALSE(test::PostRating(world.Market(), sellerRated, "good", "网页").body.empty());
  // Right after the first read of the changes, the memo changes again: its
  // record leaves the window.
  std::atomic<int> touched{0};
  gateway.After([&](const httplib::Request& req) {
    if (req.get_param_value("method") != "taobao.trades.sold.increment.get" || touched.exchange(1) != 0) return;
    world.Market().AdminPost("clock", nlohmann::json{{"offset_seconds", 61 * 60 + 5}}.dump());
    world.Market().AdminPost("touch", nlohmann::json{{"tid", memo}}.dump());
  });
  world.Market().AdminPost("log/clear", "{}");
  MoveClocks(61 * 60);
  Reload();
  EXPECT_EQ(touched.load(), 1);
  EXPECT_TRUE(Logged("reload: loading the orders changed since the last load (every 60 minutes)"));
  EXPECT_TRUE(Logged("reload: added=0 dropped=2"));
  EXPECT_EQ(RatingWorld::Column(world.Unrated(), 0), (std::vector<std::string>{quiet, memo}));
  // One request: the changes whatever their rate status, with both flags.
  const auto asked = Queries(world.Market(), "taobao.trades.sold.increment.get");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].find("rate_status"), std::string::npos);
  EXPECT_NE(asked[0].find("seller_rate"), std::string::npos) << asked[0];
}

// A reply that carries the order number but is an error, whole or cut off, in
// any letter case, beside a success or without any platform element, is no
// rating: the order stays, the platform is asked, and the order is rated once.
TEST_F(Evidence, AnErrorReplyEchoingTheOrderIsNoRating) {
  world.ChangeSettings([](RunSettings& s) { s.ratingHours = 24; });
  const auto tids = world.AddTrades({{340, "截断"}, {341, "大写"}, {342, "成功加错误"}, {343, "网关页"}});
  ASSERT_EQ(tids.size(), 4u);
  for (int i = 0; i < 4; ++i) world.AddUnratedRow(tids[i], "买家" + std::to_string(i), 340 + i);
  const std::map<std::string, std::string> replies = {
      {tids[0], "<?xml version=\"1.0\" encoding=\"utf-8\" ?><error_response><code>15</code><msg>Remote service error</msg>"
                "<sub_code>isp.remote-service-timeout</sub_code><args><tid>" + tids[0] + "</tid><result>good</result>"},
      {tids[1], "<ERROR_RESPONSE><code>15</code><args><tid>" + tids[1] + "</tid></args></ERROR_RESPONSE>"},
      {tids[2], "<traderate_list_add_response><trade_rate><tid>" + tids[2] +
                "</tid></trade_rate></traderate_list_add_response><error_response><code>7</code><msg>App Call Limited</msg>"},
      {tids[3], "<html><body><p>系统繁忙</p><tid>" + tids[3] + "</tid></body></html>"},
  };
  std::mutex mutex;
  std::set<std::string> answered;
  gateway.Answers([&](const httplib::Request& req) -> std::optional<std::string> {
    if (req.path != "/apitools/getResult.do") return std::nullopt;
    const std::size_t at = req.body.find("&tid=") + 5;
    const std::string tid = req.body.substr(at, req.body.find('&', at) - at);
    std::lock_guard lock(mutex);
    if (!replies.count(tid) || !answered.insert(tid).second) return std::nullopt;
    return replies.at(tid);
  });
  world.Refresh();
  world.Pass();
  EXPECT_EQ(world.Unrated().RowCount(), 4);
  EXPECT_TRUE(world.Ratings().empty());
  EXPECT_EQ(LinesWith(world.log, "result=good outcome=unknown"), 4u);
  EXPECT_EQ(LinesWith(world.log, "outcome=rated"), 0u);

  MoveClocks(static_cast<long long>(kFirstCheckDelaySeconds));
  world.Pass();
  EXPECT_EQ(world.Unrated().RowCount(), 0);
  EXPECT_EQ(LinesWith(world.log, "result=good outcome=rated"), 4u);
  for (const std::string& tid : tids) EXPECT_EQ(world.RatingPosts(tid), 1) << tid;
  EXPECT_EQ(world.Ratings().size(), 4u);
}

// A rating counts only when it names its order: a look whose rating names no
// order is no look (nothing is posted, the next refresh lists in full), and a
// rating of another order moves nothing (the due orders are rated "good").
TEST_F(Evidence, ARatingOfAnotherOrderMovesNothingAndOneNamingNoOrderPostsNothing) {
  const auto tids = world.AddTrades({{340, "别人的差评"}, {341, "无单号"}});
  ASSERT_EQ(tids.size(), 2u);
  for (int i = 0; i < 2; ++i) world.AddUnratedRow(tids[i], i == 0 ? "别人的差评" : "无单号", 340 + i);
  std::atomic<bool> named{false};
  gateway.Answers([&](const httplib::Request& req) -> std::optional<std::string> {
    if (req.get_param_value("method") != "taobao.traderates.get" || req.get_param_value("rate_type") != "get")
      return std::nullopt;
    return std::string("<traderates_get_response><has_next>false</has_next><trade_rates list=\"true\"><trade_rate>"
                       "<content>差</content><result>bad</result>") +
           (named ? "<tid>1234567890</tid>" : "") + "</trade_rate></trade_rates></traderates_get_response>";
  });
  world.Refresh();  // the first lists in full
  MoveClocks(61);
  world.Refresh();  // then a look, whose rating names no order
  EXPECT_FALSE(world.Run().Schedule().BuyerRatedComplete());
  world.Pass();
  EXPECT_EQ(world.RatingPosts(tids[0]) + world.RatingPosts(tids[1]), 0);
  EXPECT_EQ(world.Unrated().RowCount(), 2);

  named = true;
  MoveClocks(61);
  world.Refresh();  // in full after the incomplete look
  MoveClocks(61);
  world.Refresh();  // a look again: its rating is another order's
  EXPECT_TRUE(world.Run().Schedule().BuyerRatedComplete());
  world.Pass();
  EXPECT_EQ(world.RatingPosts(tids[0]), 1);
  EXPECT_EQ(world.RatingPosts(tids[1]), 1);
  EXPECT_EQ(world.Unrated().RowCount(), 0);
  // The other order is shown and alerted as the full listing would show it.
  EXPECT_EQ(RatingWorld::Column(world.BuyerRated(), kColumnOrderNumber), (std::vector<std::string>{"1234567890"}));
  ASSERT_EQ(world.Run().Alerts().UnseenCount(), 1);
  EXPECT_EQ(world.Run().Alerts().Unseen()[0].tid, "1234567890");
}

// After a night off a thousand orders are due at the start; the ones with
// minutes left go first, then the rest by deadline, whatever the list's order
// (oldest end at the top, the walk from the bottom up). Rows removed while
// the pass posts are passed over.
TEST(MostUrgentFirst, AThousandDueOrdersAtTheStartAreRatedNearestDeadlineFirst) {
  RatingWorld world;
  std::vector<std::pair<int, std::string>> trades;
  for (int i = 0; i < 5; ++i) trades.emplace_back(359, "急" + std::to_string(i));  // half an hour left
  for (int i = 0; i < 995; ++i) trades.emplace_back(337 + i % 22, "买家" + std::to_string(i));  // 22 to 1 hours
  trades.emplace_back(300, "未到期");
  const auto tids = world.AddTrades(trades);
  ASSERT_EQ(tids.size(), 1001u);
  std::map<std::string, int> hoursAgo;
  for (std::size_t i = 0; i < tids.size(); ++i) hoursAgo[tids[i]] = trades[i].first;
  // Three orders with the most hours left leave the list while the pass posts.
  std::vector<std::string> removed;
  for (std::size_t i = 5; i < tids.size() && removed.size() < 3; ++i)
    if (trades[i].first == 337) removed.push_back(tids[i]);
  bool removedNow = false;
  Timer* watch = world.Loop().NewTimer([&] {
    if (removedNow || LinesWith(world.log, "result=good outcome=rated") < 10) return;
    removedNow = true;
    EXPECT_EQ(world.Unrated().RemoveAll(removed), 3);
  });
  watch->SetInterval(10);

  ASSERT_TRUE(world.Run().Start());
  world.AwaitQuiet();
  watch->SetInterval(0);
  ASSERT_TRUE(removedNow);
  const auto ratings = world.Ratings();
  ASSERT_EQ(ratings.size(), 997u);
  std::set<std::string> first;
  for (int i = 0; i < 5; ++i) first.insert(ratings[static_cast<std::size_t>(i)].tid);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(first.count(tids[static_cast<std::size_t>(i)])) << tids[static_cast<std::size_t>(i)];
  for (std::size_t i = 1; i < ratings.size(); ++i)
    ASSERT_GE(hoursAgo[ratings[i - 1].tid], hoursAgo[ratings[i].tid]) << "rating " << i;
  for (const std::string& tid : removed) EXPECT_EQ(world.RatingPosts(tid), 0) << tid;
  EXPECT_EQ(RatingWorld::Column(world.Unrated(), kColumnOrderNumber), (std::vector<std::string>{tids[1000]}));
}

}  // namespace
}  // namespace qm

// The first load and the buyer-rated refresh against the sandbox marketplace,
// with the in-memory event loop and lists standing in for the main window.
#include <set>
#include <tuple>

#include "integration/sync_fixture.h"

namespace qm {
namespace {

using test::json;
using test::GatewayCall;
using test::StoredRows;
using test::SyncTest;
using namespace std::chrono_literals;

TEST_F(SyncTest, AFullPageSayingFalseIsTheLastPage) {
  AddUnrated(100);
  RunFirstLoad();
  for (const char* side : {kRateUnbuyer, kRateUnseller}) {
    const auto calls = PageCalls(side);
    ASSERT_EQ(calls.size(), 1u) << side;
    EXPECT_EQ(calls[0].query.at("page_no"), "1");
    EXPECT_EQ(calls[0].query.at("page_size"), "100");
    EXPECT_EQ(calls[0].query.at("fields"), "tid,buyer_nick,end_time");
    EXPECT_EQ(calls[0].status, 200);
  }
  EXPECT_EQ(unrated_.RowCount(), 100);
  const LoadReport& r = LastSyncResult();
  EXPECT_TRUE(r.databaseOk) << r.error;
  EXPECT_EQ(r.buyerSide.kept, 100);
  EXPECT_EQ(r.sellerSide.kept, 100);
}

TEST_F(SyncTest, TrueFetchesTheNextPageWithItsOwnTimestampAndSignature) {
  AddUnrated(150);
  // Over a second per request, so that a timestamp taken anew must differ.
  Admin("faults", json{{"path", "/router/rest"}, {"latency_ms", 1100}});
  // The window stays responsive: a 20 ms timer keeps ticking during the load.
  std::atomic<int> ticks{0};
  loop_.NewTimer([&] { ++ticks; })->SetInterval(20);
  const auto start = std::chrono::steady_clock::now();
  RunFirstLoad();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Admin("faults", json::object());

  for (const char* side : {kRateUnbuyer, kRateUnseller}) {
    const auto calls = PageCalls(side);
    ASSERT_EQ(calls.size(), 2u) << side;
    EXPECT_EQ(calls[0].query.at("page_no"), "1");
    EXPECT_EQ(calls[1].query.at("page_no"), "2");
    EXPECT_NE(calls[0].query.at("timestamp"), calls[1].query.at("timestamp"));
    EXPECT_NE(calls[0].query.at("sign"), calls[1].query.at("sign"));
    // The sandbox checked both signatures.
    EXPECT_EQ(calls[0].status, 200);
    EXPECT_EQ(calls[1].status, 200);
  }
  EXPECT_EQ(unrated_.RowCount(), 150);
  EXPECT_GT(ticks.load(), static_cast<int>(seconds * 1000 / 20 / 4)) << "the loop stalled during the load";
  // The two listings ran at once: the seller side's first page was answered
  // before the buyer side's second was asked for.
  const std::vector<std::string> order = CallOrder();
  const auto at = [&order](const std::string& call) {
    return std::find(order.begin(), order.end(), call) - order.begin();
  };
  EXPECT_LT(at("RATE_UNSELLER 1"), at("RATE_UNBUYER 2")) << ::testing::PrintToString(order);
  // The status line counted the orders of both sides as the pages came in.
  std::vector<int> counts;
  const std::string prefix = "正在读取订单，已读取 ";
  for (const std::string& s : statuses_)
    if (s.rfind(prefix, 0) == 0) counts.push_back(std::stoi(s.substr(prefix.size())));
  ASSERT_EQ(counts.size(), 5u) << ::testing::PrintToString(statuses_);
  EXPECT_EQ(counts.front(), 0);
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
  EXPECT_EQ(counts.back(), 300);
}

// The first load asks for the pages that the two listings ask for one after
// the other, in the same order and with the same parameters but for the
// timestamp and the signature; beyond them only the few pages it asked ahead
// past the last, which it reports as wasted.
TEST_F(SyncTest, ALoadAsksForTheSamePagesAsTheListingsOneAfterTheOtherAndAFewAhead) {
  AddUnrated(250);
  auto pages = [this](const char* side) {
    std::vector<std::map<std::string, std::string>> out;
    for (GatewayCall& call : PageCalls(side)) {
      EXPECT_EQ(call.status, 200);
      call.query.erase("timestamp");
      call.query.erase("sign");
      out.push_back(call.query);
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
      return std::stoi(a.at("page_no")) < std::stoi(b.at("page_no"));
    });
    return out;
  };
  ASSERT_TRUE(PrepareOrderDatabase(session_.programDir, session_.sellerNick, nullptr));
  Admin("log/clear", json::object());
  {
    OrderDatabase db;
    ASSERT_TRUE(db.Open(dir_.File(session_.sellerNick + ".MDB")));
    EXPECT_EQ(FetchUnratedTrades(session_.RunAccount(), db, kRateUnbuyer, OrderTable::BuyerUnrated).kept, 250);
    EXPECT_EQ(FetchUnratedTrades(session_.RunAccount(), db, kRateUnseller, OrderTable::SellerUnrated).kept, 250);
  }
  const auto buyerSide = pages(kRateUnbuyer), sellerSide = pages(kRateUnseller);
  ASSERT_EQ(buyerSide.size(), 3u);
  ASSERT_EQ(sellerSide.size(), 3u);
  EXPECT_EQ(buyerSide[2].at("page_no"), "3");
  const std::size_t requests = CallOrder().size();

  RunFirstLoad();
  const LoadReport& r = LastSyncResult();
  for (const auto& [side, sequential, stats] :
       {std::tuple(kRateUnbuyer, buyerSide, r.buyerSide), std::tuple(kRateUnseller, sellerSide, r.sellerSide)}) {
    auto asked = pages(side);
    ASSERT_GE(asked.size(), sequential.size()) << side;
    EXPECT_LE(stats.wasted, kLoadPagesInFlight - 1) << side;
    EXPECT_EQ(static_cast<int>(asked.size()), 3 + stats.wasted) << side;
    for (std::size_t i = 3; i < asked.size(); ++i) EXPECT_GT(std::stoi(asked[i].at("page_no")), 3) << side;
    asked.resize(3);
    EXPECT_EQ(asked, sequential) << side;
  }
  EXPECT_EQ(CallOrder().size(), requests + r.buyerSide.wasted + r.sellerSide.wasted);
  EXPECT_EQ(unrated_.RowCount(), 250);
  EXPECT_TRUE(r.Completed());
}

TEST_F(SyncTest, ACapitalisedOrEmptyHasNextEndsThePaging) {
  AddUnrated(150);
  for (const std::string& text : {std::string("True"), std::string()}) {
    ASSERT_FALSE(Admin("quirks", json{{"has_next", text}}).empty());
    unrated_.Clear();
    RunFirstLoad();
    for (const char* side : {kRateUnbuyer, kRateUnseller}) EXPECT_EQ(PageCalls(side).size(), 1u) << side;
    EXPECT_EQ(LastSyncResult().buyerSide.kept, 100) << "has_next \"" << text << "\"";
  }
}

TEST_F(SyncTest, OnlyTradesOfTheLastFifteenDaysAreStored) {
  AddTrades(json::array({{{"tid", "361"}, {"buyer_nick", "old"}, {"ended_hours_ago", 15 * 24 + 1}},
                         {{"tid", "359"}, {"buyer_nick", "young"}, {"ended_hours_ago", 14 * 24 + 23}}}));
  RunFirstLoad();
  EXPECT_EQ(UnratedTids(), std::vector<std::string>{"359"});
  OrderDatabase db;
  ASSERT_TRUE(db.Open(dir_.File(session_.sellerNick + ".MDB"))) << db.LastError();
  for (const char* table : {"买家未评价", "卖家未评价"}) {
    RecordSet rows = db.Query(std::string("select 订单ID from ") + table);
    ASSERT_TRUE(rows.Valid());
    EXPECT_EQ(rows.Read(1), "359") << table;
    rows.MoveNext();
    EXPECT_TRUE(rows.IsAtEnd()) << table;
  }
}

TEST_F(SyncTest, TheLeftListHoldsOrdersUnratedOnBothSidesOldestFirst) {
  AddTrades(json::array({
      {{"tid", "2001"}, {"buyer_nick", "middle"}, {"ended_hours_ago", 100}},
      {{"tid", "2002"}, {"buyer_nick", "rated-by-buyer"}, {"ended_hours_ago", 50}, {"buyer_rate", "good"}},
      {{"tid", "2003"}, {"buyer_nick", "rated-by-seller"}, {"ended_hours_ago", 60}, {"seller_rate", "good"}},
      {{"tid", "2004"}, {"buyer_nick", "oldest"}, {"ended_hours_ago", 300}},
      {{"tid", "2005"}, {"buyer_nick", "newest"}, {"ended_hours_ago", 5}},
  }));
  // A stale row from an earlier run must not survive the emptying.
  ASSERT_TRUE(PrepareOrderDatabase(session_.programDir, session_.sellerNick, nullptr));
  {
    OrderDatabase db;
    ASSERT_TRUE(db.Open(dir_.File(session_.sellerNick + ".MDB")));
    ASSERT_TRUE(db.Insert(OrderTable::BuyerUnrated, "7777", "stale", "2026-01-01 00:00:00"));
    ASSERT_TRUE(db.Insert(OrderTable::SellerUnrated, "7777", "stale", "2026-01-01 00:00:00"));
  }

  // The report is heard once the list is filled, and the load is over by then.
  std::vector<std::string> seenByHandler;
  int handlerRuns = 0;
  bool loadOver = false;
  onReport_ = [&] {
    ++handlerRuns;
    seenByHandler = UnratedTids();
    loadOver = !loader_->Running();
  };
  RunFirstLoad();

  const std::vector<std::string> expected = {"2004", "2001", "2005"};
  EXPECT_EQ(UnratedTids(), expected);
  EXPECT_EQ(unrated_.Cell(0, 1), "oldest");
  EXPECT_EQ(unrated_.Cell(0, 2).size(), 19u);
  EXPECT_LT(unrated_.Cell(0, 2), unrated_.Cell(1, 2));
  EXPECT_EQ(unrated_.Cell(0, 3), "");
  EXPECT_EQ(handlerRuns, 1);
  EXPECT_EQ(seenByHandler, expected);
  EXPECT_TRUE(loadOver);
  EXPECT_EQ(buyerRated_.RowCount(), 0);
  ASSERT_FALSE(statuses_.empty());
  EXPECT_NE(statuses_.back().find("双方未评价 3 笔"), std::string::npos) << statuses_.back();
  EXPECT_EQ(LastSyncResult().listed, 3);
}

TEST_F(SyncTest, QuotedNicksAndPrettyPrintedRepliesArriveIntact) {
  ASSERT_FALSE(Admin("quirks", json{{"pretty", true}}).empty());
  const std::string quoted = "O'Brien \"Bob\" & <Co>";
  AddTrades(json::array({{{"tid", "3001"}, {"buyer_nick", quoted}, {"ended_hours_ago", 10}},
                         {{"tid", "3002"}, {"buyer_nick", "买家'旺旺'"}, {"ended_hours_ago", 20}}}));
  AddUnrated(120, 30, "8");  // two pages, in pretty form
  RunFirstLoad();
  ASSERT_EQ(unrated_.RowCount(), 122);
  const int a = unrated_.Find("3001"), b = unrated_.Find("3002");
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(unrated_.Cell(a, 1), quoted);
  EXPECT_EQ(unrated_.Cell(b, 1), "买家'旺旺'");
  EXPECT_EQ(unrated_.Cell(a, 2).size(), 19u);
  EXPECT_EQ(PageCalls(kRateUnbuyer).size(), 2u);

  // The same nicks through the buyer-rated list.
  Admin("buyer-rate", json{{"tid", "3001"}, {"result", "good"}, {"content", "ok"}});
  RefreshBuyerRatedList();
  ASSERT_EQ(buyerRated_.RowCount(), 1);
  EXPECT_EQ(buyerRated_.Cell(0, 0), "3001");
  EXPECT_EQ(buyerRated_.Cell(0, 1), quoted);
}

TEST_F(SyncTest, AnErrorReplyAddsNothing) {
  AddUnrated(30);
  session_.SessionKey = "not-a-session";
  MakeLoader();
  RunFirstLoad();
  EXPECT_EQ(unrated_.RowCount(), 0);
  // Each page asked for once and again after each of the three pauses; page
  // 1 skipped, page 2 failing too, then given up.
  const auto calls = PageCalls(kRateUnbuyer);
  ASSERT_EQ(calls.size(), 8u);
  for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].query.at("page_no"), i < 4 ? "1" : "2");
  EXPECT_EQ(LastSyncResult().problem, "RATE_UNBUYER pages 1, 2, RATE_UNSELLER pages 1, 2");
  RefreshBuyerRatedList();
  EXPECT_EQ(buyerRated_.RowCount(), 0);
  EXPECT_EQ(LastRefreshStats().end, ListingEnd::GaveUp);

  // Failed requests (connections reset, server errors) are the same.
  sandbox_->UseInSession(session_);
  MakeLoader();
  Admin("faults", json{{"path", "/router/rest"}, {"reset_rate", 1.0}});
  RunFirstLoad();
  EXPECT_EQ(unrated_.RowCount(), 0);
  Admin("faults", json{{"path", "/router/rest"}, {"error_rate", 1.0}});
  RunFirstLoad();
  EXPECT_EQ(unrated_.RowCount(), 0);
  EXPECT_TRUE(LastSyncResult().databaseOk);
  Admin("faults", json::object());
  RunFirstLoad();
  EXPECT_EQ(unrated_.RowCount(), 30);
}

TEST_F(SyncTest, TheRefreshMovesBuyerRatedOrdersFromTheLeftListToTheRight) {
  AddUnrated(5, 40, "5");
  AddTrades(json::array({{{"tid", "6001"}, {"buyer_nick", "only-right"}, {"ended_hours_ago", 40},
                          {"buyer_rate", "good"}}}));
  RunFirstLoad();
  ASSERT_EQ(unrated_.RowCount(), 5);
  const std::string moved(unrated_.Cell(2, 0)), movedNick(unrated_.Cell(2, 1));
  unratedView_.SetCurrentRow(4);
  const std::string focused(unrated_.Cell(4, 0));
  ASSERT_FALSE(Admin("buyer-rate", json{{"tid", moved}, {"result", "good"}, {"content", "好"}}).empty());

  RefreshBuyerRatedList();
  EXPECT_EQ(unrated_.RowCount(), 4);
  EXPECT_EQ(unrated_.Find(moved), -1);
  ASSERT_EQ(buyerRated_.RowCount(), 2);
  const int row = buyerRated_.Find(moved);
  ASSERT_GE(row, 0);
  EXPECT_EQ(buyerRated_.Cell(row, 1), movedNick);
  EXPECT_GE(buyerRated_.Find("6001"), 0);
  EXPECT_EQ(unrated_.CurrentOrder(), focused);
  EXPECT_EQ(LastRefreshStats().kept, 2);
  const auto calls = PageCalls(kRateBuyerUnseller);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().query.at("fields"), "tid,buyer_nick");

  // From another thread the list work still happens on the UI thread.
  buyerRated_.Clear();
  std::atomic<bool> done{false};
  std::thread worker([&] {
    RefreshBuyerRatedList();
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!done && std::chrono::steady_clock::now() < deadline) loop_.WaitAndRun(20ms);
  worker.join();
  loop_.RunPending();
  EXPECT_EQ(buyerRated_.RowCount(), 2);
  EXPECT_EQ(unrated_.RowCount(), 4);
}

// A page that fails is asked for again after growing pauses, with the events
// running, and the load completes; one that keeps failing ends the load, which
// says so but lists what both sides gave.
TEST_F(SyncTest, FailedPagesAreAskedForAgainBeforeTheLoadGivesUp) {
  AddUnrated(300);
  SetPageRetryPauses({100, 200, 300});
  // Page 2 of the buyer side's listing: an error page, a reset and a cut reply in turn.
  const json page2 = {{"path", "/router/rest"}, {"api_method", "taobao.trades.sold.get"}, {"page_no", 2},
                      {"rate_status", kRateUnbuyer}};
  for (const char* fault : {"error_rate", "reset_rate", "truncate_rate"}) {
    json rule = page2;
    rule[fault] = 1.0;
    rule["first_n"] = 3;
    Admin("faults", rule);
    RunFirstLoad();
    LoadReport r = LastSyncResult();
    // Page 2 four times, pages 1 and 3 once, and what was asked past the last.
    std::multiset<std::string> asked;
    for (const GatewayCall& call : PageCalls(kRateUnbuyer)) asked.insert(call.query.at("page_no"));
    EXPECT_EQ(asked.count("1"), 1u) << fault;
    EXPECT_EQ(asked.count("2"), 4u) << fault;
    EXPECT_EQ(asked.count("3"), 1u) << fault;
    EXPECT_EQ(asked.size(), 6u + static_cast<std::size_t>(r.buyerSide.wasted)) << fault;
    EXPECT_TRUE(r.Completed()) << fault << ": " << r.problem;
    // (libcurl itself sends again after a reset on a kept connection, and
    // with both listings under way it keeps more than one: a reset may never
    // reach the listing's own retries.)
    if (std::string(fault) != "reset_rate") {
      EXPECT_GE(r.buyerSide.retries, 2) << fault;
    }
    EXPECT_EQ(unrated_.RowCount(), 300) << fault;
    EXPECT_EQ(statuses_.back().substr(0, statuses_.back().find("（")), "订单读取完成");
    EXPECT_NE(statuses_.back().find("），共读取 600 笔，双方未评价 300 笔"), std::string::npos) << statuses_.back();
  }

  // Page 2 of the buyer side's listing never comes: it is skipped, page 3 is
  // listed, and the load counts as incomplete; the seller side goes on.
  json rule = page2;
  rule["error_rate"] = 1.0;
  rule.erase("first_n");
  Admin("faults", rule);
  RunFirstLoad();
  const LoadReport& r = LastSyncResult();
  EXPECT_FALSE(r.Completed());
  EXPECT_EQ(r.problem, "RATE_UNBUYER page 2");
  EXPECT_EQ(r.buyerSide.skippedPages, std::vector<int>{2});
  EXPECT_EQ(r.sellerSide.end, ListingEnd::LastPage);
  EXPECT_EQ(unrated_.RowCount(), 200);
  EXPECT_TRUE(unrated_.Contains("9100000") && unrated_.Contains("9100299") && !unrated_.Contains("9100150"));
  EXPECT_EQ(PageCalls(kRateUnbuyer).back().query.at("page_no"), "3");
  EXPECT_EQ(statuses_.back(), "订单读取未完成：第 2 页多次读取失败，共读取 500 笔，双方未评价 200 笔，下次刷新时重新读取");
  // Two pages in a row that never come: the platform is not answering, and the listing ends.
  rule.erase("page_no");
  Admin("faults", rule);
  RunFirstLoad();
  EXPECT_EQ(LastSyncResult().buyerSide.end, ListingEnd::GaveUp);
  EXPECT_EQ(LastSyncResult().problem, "RATE_UNBUYER pages 1, 2");
  Admin("faults", json::object());

  // The buyer-rated listing asks for a failed page again too.
  Admin("buyer-rate", json{{"tid", "9100007"}, {"result", "good"}, {"content", "ok"}});
  rule["page_no"] = 1;
  rule["first_n"] = 2;
  rule["rate_status"] = kRateBuyerUnseller;
  Admin("faults", rule);
  RefreshBuyerRatedList();
  EXPECT_EQ(LastRefreshStats().retries, 2);
  EXPECT_EQ(LastRefreshStats().end, ListingEnd::LastPage);
  EXPECT_EQ(buyerRated_.RowCount(), 1);
}

// Pages that repeat, a has_next that never turns false and a NUL byte inside a
// page: each listing ends, every order is stored once, nothing after the NUL
// is lost.
TEST_F(SyncTest, MisbehavingListingsEndAndStoreEachOrderOnce) {
  AddUnrated(250);
  const std::string path = dir_.File(session_.sellerNick + ".MDB");
  for (const json& quirk : {json{{"repeat_page", 2}}, json{{"endless", true}}}) {
    Admin("quirks", quirk);
    RunFirstLoad();
    for (const char* side : {kRateUnbuyer, kRateUnseller}) EXPECT_EQ(PageCalls(side).size(), 2u) << quirk;
    for (const char* table : {"买家未评价", "卖家未评价"})
      EXPECT_EQ(StoredRows(path, table), std::make_pair(100, 100)) << table << quirk;
    EXPECT_EQ(unrated_.RowCount(), 100);
    // A repeated page is no proof of the end: the load is incomplete (and a
    // reload would remove nothing after it).
    EXPECT_EQ(LastSyncResult().buyerSide.end, ListingEnd::Repeated);
    EXPECT_FALSE(LastSyncResult().Completed());
  }
  Admin("quirks", json{{"repeat_page", 0}, {"endless", false}, {"nul_after_trade", true}});
  RunFirstLoad();
  for (const char* table : {"买家未评价", "卖家未评价"})
    EXPECT_EQ(StoredRows(path, table), std::make_pair(250, 250)) << table;
  ASSERT_EQ(unrated_.RowCount(), 250);
  EXPECT_TRUE(LastSyncResult().Completed());
  const int last = unrated_.Find("9100249");
  ASSERT_GE(last, 0);
  EXPECT_EQ(unrated_.Cell(last, 1), "buyer249");
}

}  // namespace
}  // namespace qm

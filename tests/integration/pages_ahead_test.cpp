// The loads' listings with pages asked ahead, against the sandbox: pages
// that come back out of order, a page past the last that holds trades, a
// page failing midway and a listing that grows while it is paged.
#include <set>

#include "integration/sync_fixture.h"
#include "platform/platform_time.h"

namespace qm {
namespace {

using test::json;
using test::StoredRows;
using test::SyncTest;
using namespace std::chrono_literals;

class PagesAheadTest : public SyncTest {
 protected:
  // The page numbers asked for one rate status, smallest first.
  std::multiset<int> PagesAsked(const std::string& rateStatus) {
    std::multiset<int> out;
    for (const auto& call : PageCalls(rateStatus)) out.insert(std::stoi(call.query.at("page_no")));
    return out;
  }

  void RunReload() {
    ASSERT_TRUE(loader_->Start(LoadKind::Reload));
    const auto deadline = std::chrono::steady_clock::now() + 90s;
    while (loader_->Running() && std::chrono::steady_clock::now() < deadline) loop_.WaitAndRun(20ms);
    ASSERT_FALSE(loader_->Running()) << "the reload did not finish";
    loop_.RunPending();
  }

  // Every order of the list once, and in end-time order.
  void ExpectListInOrder() {
    std::set<std::string> tids;
    for (int i = 0; i < unrated_.RowCount(); ++i) {
      EXPECT_TRUE(tids.insert(std::string(unrated_.Cell(i, 0))).second) << "listed twice: " << unrated_.Cell(i, 0);
      if (i > 0) {
        EXPECT_LE(unrated_.Cell(i - 1, 2), unrated_.Cell(i, 2)) << "row " << i;
      }
    }
  }
};

// The buyer side's page 3 says it is the last although the marketplace
// holds two pages more; page 4 has been asked ahead by then and comes back
// full of trades. Nothing of it is kept: not in the table, not in the list.
// Replies that arrive out of order are read in page order (page 3 is the
// slowest of its side, page 4 comes back first).
TEST_F(PagesAheadTest, NothingIsKeptFromPagesPastTheLast) {
  AddUnrated(450);  // all ended at one time: listed by order number, 100 a page
  const json all = json::parse(sandbox_->AdminGet("trades"));
  std::string trades;
  std::string endTime;
  for (const auto& t : all) {
    const std::string tid = t.at("tid");
    if (tid >= "9100200" && tid <= "9100299") {
      endTime = t.at("end_time");
      trades += "<trade><tid>" + tid + "</tid><buyer_nick>" + t.at("buyer_nick").get<std::string>() +
                "</buyer_nick><end_time>" + endTime + "</end_time></trade>";
    }
  }
  ASSERT_FALSE(endTime.empty());
  const std::string lastPage = "<?xml version=\"1.0\" encoding=\"utf-8\"?><trades_sold_get_response><trades list=\"true\">" +
                               trades + "</trades><has_next>false</has_next></trades_sold_get_response>";
  ASSERT_FALSE(Admin("faults", json{{"path", "/router/rest"}, {"api_method", "taobao.trades.sold.get"},
                                    {"rate_status", kRateUnbuyer}, {"page_no", 3}, {"reply_body", lastPage},
                                    {"latency_ms", 30}})
                   .empty());
  RunFirstLoad();
  const LoadReport& r = LastSyncResult();
  EXPECT_TRUE(r.Completed()) << r.problem;
  EXPECT_EQ(r.buyerSide.end, ListingEnd::LastPage);
  // Page 4 travelled beside page 3 and was dropped unread.
  EXPECT_EQ(PagesAsked(kRateUnbuyer), (std::multiset<int>{1, 2, 3, 4}));
  EXPECT_EQ(r.buyerSide.wasted, 1);
  EXPECT_EQ(r.buyerSide.kept, 300);
  EXPECT_EQ(StoredRows(dir_.File(session_.sellerNick + ".MDB"), "买家未评价"), std::make_pair(300, 300));
  // The seller side's five pages, and no more than two asked past them.
  EXPECT_EQ(r.sellerSide.kept, 450);
  EXPECT_LE(r.sellerSide.wasted, kLoadPagesInFlight - 1);
  EXPECT_EQ(static_cast<int>(PagesAsked(kRateUnseller).size()), 5 + r.sellerSide.wasted + r.sellerSide.rechecked);
  ASSERT_EQ(unrated_.RowCount(), 300);
  EXPECT_FALSE(unrated_.Contains("9100300"));
  EXPECT_TRUE(unrated_.Contains("9100299"));
  ExpectListInOrder();
}

// Page 5 of the buyer side fails twice while pages 6 and 7 travel: it is
// asked again and the load completes with every trade once. Failing for
// good, it is skipped: its trades are missing, the load says so, and a
// reload that cannot read it removes nothing.
TEST_F(PagesAheadTest, APageFailingMidwayIsAskedAgainOrLeavesTheLoadIncomplete) {
  AddUnrated(800);
  SetPageRetryPauses({50, 50, 50});
  const json page5 = {{"path", "/router/rest"}, {"api_method", "taobao.trades.sold.get"}, {"page_no", 5},
                      {"rate_status", kRateUnbuyer}, {"error_rate", 1.0}, {"latency_ms", 20}};
  json twice = page5;
  twice["first_n"] = 2;
  Admin("faults", twice);
  RunFirstLoad();
  LoadReport r = LastSyncResult();
  EXPECT_TRUE(r.Completed()) << r.problem;
  EXPECT_EQ(r.buyerSide.retries, 2);
  EXPECT_EQ(PagesAsked(kRateUnbuyer).count(5), 3u);
  EXPECT_GE(PagesAsked(kRateUnbuyer).count(7), 1u);
  EXPECT_EQ(unrated_.RowCount(), 800);
  EXPECT_EQ(StoredRows(dir_.File(session_.sellerNick + ".MDB"), "买家未评价"), std::make_pair(800, 800));
  ExpectListInOrder();

  Admin("faults", page5);
  unrated_.Clear();
  RunFirstLoad();
  r = LastSyncResult();
  EXPECT_FALSE(r.Completed());
  EXPECT_EQ(r.problem, "RATE_UNBUYER page 5");
  EXPECT_EQ(r.buyerSide.skippedPages, std::vector<int>{5});
  EXPECT_EQ(unrated_.RowCount(), 700);
  EXPECT_FALSE(unrated_.Contains("9100450"));
  EXPECT_TRUE(unrated_.Contains("9100399") && unrated_.Contains("9100500"));

  // A complete load, then a reload that cannot read page 5 while the
  // trades of page 5 are still there: nothing is removed on a partial look.
  Admin("faults", json::object());
  unrated_.Clear();
  RunFirstLoad();
  ASSERT_EQ(unrated_.RowCount(), 800);
  Admin("faults", page5);
  RunReload();
  r = LastSyncResult();
  EXPECT_FALSE(r.Completed());
  EXPECT_EQ(r.dropped, 0);
  EXPECT_TRUE(r.notListed.empty());
  EXPECT_EQ(unrated_.RowCount(), 800);
}

// Trades finish while the load pages: they come in ahead of the pages read
// so far and move every later trade down. Here the buyer side's page 3 is
// slow, and the trades come in after page 4, asked beside it, has been
// answered and before page 3 is: page 4 holds what came after the old page
// 3, page 3 now ends five trades early, and five trades were on neither.
// The move shows on page 3 (trades of page 2 again): the pages that
// travelled beside it are asked again, and every trade that was there when
// the load began is listed, each once, in order.
TEST_F(PagesAheadTest, AListingThatGrowsWhilePagedLosesNoTrade) {
  AddUnrated(600);
  Admin("faults", json{{"path", "/router/rest"}, {"api_method", "taobao.trades.sold.get"},
                       {"rate_status", kRateUnbuyer}, {"page_no", 3}, {"latency_ms", 600}, {"first_n", 1}});
  std::atomic<bool> grown{false};
  std::thread grower([&] {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      bool page4 = false;
      for (const auto& call : PageCalls(kRateUnbuyer)) page4 = page4 || call.query.at("page_no") == "4";
      if (page4) {
        AddUnrated(5, 1, "71");  // newer than the rest: listed first
        grown = true;
        return;
      }
      std::this_thread::sleep_for(5ms);
    }
  });
  RunFirstLoad();
  grower.join();
  ASSERT_TRUE(grown);
  const LoadReport& r = LastSyncResult();
  EXPECT_TRUE(r.Completed()) << r.problem;
  EXPECT_GT(r.buyerSide.rechecked, 0);
  for (int i = 0; i < 600; ++i) EXPECT_TRUE(unrated_.Contains("9" + std::to_string(100000 + i))) << i;
  EXPECT_GE(unrated_.RowCount(), 600);
  EXPECT_LE(unrated_.RowCount(), 605);
  ExpectListInOrder();
  for (const char* table : {"买家未评价", "卖家未评价"}) {
    const auto [rows, distinct] = StoredRows(dir_.File(session_.sellerNick + ".MDB"), table);
    EXPECT_EQ(rows, distinct) << table;
    EXPECT_GE(rows, 600) << table;
  }
}

// A trade joins the listing inside the slow page 4 after page 5, the last,
// has been answered: page 4 holds it and pushes its own last trade (9100399)
// onto page 5, which was read without it. No later page repeats a trade to
// show the move, so the load asks its last pages once more before it ends.
TEST_F(PagesAheadTest, ATradeJoiningInsideTheLastPagesLosesNoTrade) {
  AddUnrated(500);  // five pages, all ended at one time: listed by order number
  const json all = json::parse(sandbox_->AdminGet("trades"));
  std::string endTime;
  for (const auto& t : all)
    if (t.at("tid") == "9100350") endTime = t.at("end_time");
  ASSERT_FALSE(endTime.empty());
  Admin("faults", json{{"path", "/router/rest"}, {"api_method", "taobao.trades.sold.get"},
                       {"rate_status", kRateUnbuyer}, {"page_no", 4}, {"latency_ms", 600}, {"first_n", 1}});
  std::atomic<bool> grown{false};
  std::thread grower([&] {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      bool page5 = false;
      for (const auto& call : PageCalls(kRateUnbuyer)) page5 = page5 || call.query.at("page_no") == "5";
      if (page5) {
        std::this_thread::sleep_for(100ms);  // page 5 answered, page 4 still on its way
        // Between 9100350 and 9100351 in the listing's order.
        AddTrades(json::array({{{"tid", "91003505"}, {"buyer_nick", "joiner"}, {"end_time", endTime}}}));
        grown = true;
        return;
      }
      std::this_thread::sleep_for(5ms);
    }
  });
  RunFirstLoad();
  grower.join();
  ASSERT_TRUE(grown);
  const LoadReport& r = LastSyncResult();
  EXPECT_TRUE(r.Completed()) << r.problem;
  EXPECT_GT(r.buyerSide.rechecked, 0);
  for (int i = 0; i < 500; ++i) EXPECT_TRUE(unrated_.Contains("9" + std::to_string(100000 + i))) << i;
  // The newcomer itself waits for the reload of the changes: the seller's
  // side was read before it came.
  EXPECT_LE(unrated_.RowCount(), 501);
  ExpectListInOrder();
}

// A page that fails after its retries is asked once more when the listing has
// reached its end, with a page on either side. Between the two asks buyers
// rate orders listed ahead of it and the listing moves up: a move of less
// than a page is bridged, every order still there is brought and the listing
// is complete; a move of more than a page cannot be bridged and the listing
// stays incomplete, saying which page.
TEST_F(PagesAheadTest, ASkippedPageIsAskedOnceMoreAtTheEndOfItsListing) {
  AddUnrated(800);
  for (const int moved : {30, 150}) {
    Admin("faults", json{{"path", "/router/rest"}, {"api_method", "taobao.trades.sold.get"},
                         {"rate_status", kRateUnbuyer}, {"page_no", 5}, {"error_rate", 1.0}, {"first_n", 4}});
    const std::size_t askedBefore = PagesAsked(kRateUnbuyer).size();
    const std::size_t page5Before = PagesAsked(kRateUnbuyer).count(5);
    bool rated = false;
    ListingRequest request{kRateUnbuyer, kUnratedFields, true, {20, 20, 20}, {}, {}, {}, session_.RunAccount(), 3};
    request.cancelled = [&] {
      // Right after page 5's fourth failure, buyers of orders listed ahead of it rate.
      if (!rated && PagesAsked(kRateUnbuyer).count(5) >= page5Before + 4) {
        rated = true;
        for (int i = 0; i < moved; ++i)
          Admin("buyer-rate", json{{"tid", std::to_string((moved == 30 ? 9100100 : 9100200) + i)},
                                   {"result", "good"}, {"content", ""}});
      }
      return false;
    };
    std::set<std::string> brought;
    const FetchStats stats = PageThrough(request, [&](std::vector<Order>&& trades) {
      for (const Order& t : trades) EXPECT_TRUE(brought.insert(t.tid).second) << t.tid;
    });
    ASSERT_TRUE(rated);
    EXPECT_EQ(PagesAsked(kRateUnbuyer).size() - askedBefore,
              static_cast<std::size_t>(stats.pages)) << moved;
    if (moved == 30) {
      EXPECT_TRUE(stats.Complete()) << ListingProblem(kRateUnbuyer, stats);
      for (int i = 400; i < 500; ++i) EXPECT_TRUE(brought.contains("9" + std::to_string(100000 + i))) << i;
      EXPECT_GE(brought.size(), 770u);
    } else {
      EXPECT_FALSE(stats.Complete());
      EXPECT_EQ(ListingProblem(kRateUnbuyer, stats), "RATE_UNBUYER page 5");
    }
  }
}

}  // namespace
}  // namespace qm

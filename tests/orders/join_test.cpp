// The load joins in memory what it has just stored; the database's own join
// of the same tables is the reference.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orders/listing.h"
#include "orders/order_db.h"
#include "orders/order_loader.h"
#include "platform/platform_time.h"

namespace qm {
namespace {

// The machine's clock, as a program that has not yet asked the platform reads it.
double Now() { return PlatformClock().Now(); }

std::string HoursAgo(double hours) { return FormatPlatformTime(static_cast<std::int64_t>(Now() - hours * 3600)); }

// Pages of both sides stored as the load stores them, joined both ways:
// equal end times in numbers (ties keep their storing order), orders on
// one side only, trades past the rating period, hostile texts and rows the
// table refuses.
TEST(JoinListingsTest, TheJoinInMemoryListsWhatTheDatabasesJoinLists) {
  OrderDatabase db;
  ASSERT_TRUE(db.OpenInMemory()) << db.LastError();
  std::vector<Order> buyerStored;
  OrderIndex sellerStored;
  auto store = [&](OrderTable table, std::vector<Order> page) {
    const int n = StoreUnratedPage(db, table, page, Now());
    EXPECT_EQ(n, static_cast<int>(page.size()));
    for (Order& o : page) {
      if (table == OrderTable::BuyerUnrated) {
        buyerStored.push_back(std::move(o));
      } else {
        sellerStored.Insert(o.tid, 0);
      }
    }
    return n;
  };
  // 600 trades over four pages per side, in a listing order unlike their
  // end-time order; only 12 distinct end times, so most rows tie.
  std::vector<std::vector<Order>> buyerPages(4), sellerPages(4);
  for (int i = 0; i < 600; ++i) {
    const std::string tid = std::to_string(5000000 + (i * 7919) % 600);
    Order o{tid, i % 5 == 0 ? "O'Brien & \"<Co>\"" : "买家" + std::to_string(i), HoursAgo(1 + (i * 5) % 12)};
    if (i % 9 != 0) buyerPages[static_cast<std::size_t>(i / 150)].push_back(o);  // not on the buyer side
    if (i % 11 != 0) sellerPages[static_cast<std::size_t>(3 - i / 150)].push_back(o);
  }
  // Past the rating period on the buyer side: stored by neither.
  buyerPages[1].push_back({"7000001", "old", HoursAgo(15 * 24 + 1)});
  sellerPages[2].push_back({"7000001", "old", HoursAgo(15 * 24 + 1)});
  int stored = 0;
  for (auto& page : buyerPages) stored += store(OrderTable::BuyerUnrated, page);
  for (auto& page : sellerPages) store(OrderTable::SellerUnrated, page);
  EXPECT_EQ(stored, 600 - 67);  // every ninth left out, the old one skipped

  const std::vector<Order> fromDatabase = db.UnratedOrders();
  const std::vector<Order> inMemory = JoinListings(buyerStored, sellerStored);
  ASSERT_GT(fromDatabase.size(), 400u);
  ASSERT_EQ(inMemory.size(), fromDatabase.size());
  for (std::size_t i = 0; i < inMemory.size(); ++i) {
    EXPECT_EQ(inMemory[i].tid, fromDatabase[i].tid) << "row " << i;
    EXPECT_EQ(inMemory[i].buyerNick, fromDatabase[i].buyerNick) << "row " << i;
    EXPECT_EQ(inMemory[i].endTime, fromDatabase[i].endTime) << "row " << i;
  }
  EXPECT_TRUE(JoinListings({}, sellerStored).empty());
  EXPECT_TRUE(JoinListings(buyerStored, OrderIndex()).empty());

  // Rows the table refuses are not kept beside it either.
  ASSERT_TRUE(db.Execute("DROP TABLE 买家未评价"));
  std::vector<Order> refused = {{"8000001", "x", HoursAgo(2)}};
  EXPECT_EQ(StoreUnratedPage(db, OrderTable::BuyerUnrated, refused, Now()), 0);
  EXPECT_TRUE(refused.empty());
}

}  // namespace
}  // namespace qm

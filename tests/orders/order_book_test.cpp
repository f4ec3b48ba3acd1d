// The order book's lists: keyed by order number, in arrival order, with a
// view that is told of every change and gives the user's choice back.
#include "orders/order_book.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "util/memory_ports.h"

namespace qm {
namespace {

std::vector<Order> Orders(int first, int count) {
  std::vector<Order> out;
  for (int i = first; i < first + count; ++i)
    out.push_back({std::to_string(i), "买家" + std::to_string(i), "2026-01-02 03:04:05"});
  return out;
}

std::vector<std::string> Numbers(const OrderRows& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.RowCount(); ++i) out.emplace_back(list.Cell(i, kColumnOrderNumber));
  return out;
}

TEST(OrderBook, ListsEachOrderOnceInArrivalOrderAndFindsItByNumber) {
  OrderBook book;
  OrderRows& list = book.Unrated();
  MemoryOrderList view;
  list.AttachView(&view);

  // A repeated order number (a page the platform sent twice) is listed once.
  std::vector<Order> first = Orders(1, 4);
  first.push_back({"2", "again", "2026-01-01 00:00:00"});
  list.Fill(first);
  EXPECT_EQ(Numbers(list), (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(list.Cell(1, kColumnBuyer), "买家2");
  EXPECT_EQ(list.Cell(1, kColumnEndTime), "2026-01-02 03:04:05");
  EXPECT_EQ(list.Cell(1, kColumnTimeLeft), "");
  EXPECT_EQ(list.Cell(9, 0), "");
  EXPECT_EQ(list.Cell(0, 4), "");
  EXPECT_EQ(view.Rows(), 4);

  EXPECT_EQ(list.Append(Orders(3, 4)), 2);  // 3 and 4 are there already
  EXPECT_EQ(Numbers(list), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
  EXPECT_EQ(view.Rows(), 6);
  EXPECT_EQ(list.Find("5"), 4);
  EXPECT_EQ(list.Find("55"), -1);

  // Rows are found by their number, whatever went meanwhile.
  view.SetCurrentRow(4);
  EXPECT_TRUE(list.Remove("2"));
  EXPECT_FALSE(list.Remove("2"));
  EXPECT_EQ(list.Find("4"), 2);
  EXPECT_TRUE(list.Remove("4"));
  EXPECT_EQ(list.Find("4"), -1);
  EXPECT_EQ(list.Find("5"), 2);
  EXPECT_EQ(view.Rows(), 4);
  EXPECT_EQ(list.CurrentOrder(), "5");  // the focus moved with its order

  list.SetTimeLeft(0, "01天01小时");
  EXPECT_EQ(list.Cell(0, kColumnTimeLeft), "01天01小时");
  list.SetTimeLeft(7, "ignored");

  // A refill replaces everything.
  list.Fill(Orders(10, 3));
  EXPECT_EQ(Numbers(list), (std::vector<std::string>{"10", "11", "12"}));
  EXPECT_EQ(list.Find("1"), -1);
  EXPECT_EQ(list.CurrentOrder(), "");
  list.Clear();
  EXPECT_EQ(list.RowCount(), 0);
  EXPECT_EQ(view.Rows(), 0);
}

TEST(OrderBook, RemovingManyOrdersMatchesRemovingThemOneByOne) {
  std::mt19937 random(7);
  for (int doomedCount : {0, 5, 40, 300, 1000}) {
    OrderRows fast(4), slow(4);
    MemoryOrderList fastView, slowView;
    fast.AttachView(&fastView);
    slow.AttachView(&slowView);
    fast.Fill(Orders(0, 1000));
    slow.Fill(Orders(0, 1000));
    std::vector<std::string> doomed;
    for (int i = 0; i < doomedCount; ++i) doomed.push_back(std::to_string(random() % 1200));  // some unlisted, some twice
    doomed.push_back("not-an-order");
    // A selected order that stays keeps its selection.
    std::string kept;
    for (int i = 999; i >= 0 && kept.empty(); --i)
      if (std::find(doomed.begin(), doomed.end(), std::to_string(i)) == doomed.end()) kept = std::to_string(i);
    fastView.SetSelected(fast.Find(kept), true);

    const std::set<std::string> distinct(doomed.begin(), doomed.end());
    const int resetsBefore = fastView.Resets();
    int listed = 0;
    for (const auto& tid : distinct) listed += slow.Remove(tid) ? 1 : 0;
    EXPECT_EQ(fast.RemoveAll(doomed), listed) << doomedCount;
    EXPECT_EQ(Numbers(fast), Numbers(slow)) << doomedCount;
    EXPECT_EQ(fastView.Rows(), fast.RowCount());
    for (const auto& tid : distinct) EXPECT_EQ(fast.Find(tid), -1);
    for (int i = 0; i < fast.RowCount(); ++i) ASSERT_EQ(fast.Find(fast.Cell(i, 0)), i);
    // The view hears of every run, never of a reset, so the selection stays.
    EXPECT_EQ(fastView.Resets(), resetsBefore);
    EXPECT_EQ(fast.SelectedOrders(), std::vector<std::string>{kept});
    // Rows that come afterwards take the freed room and keep their order.
    fast.Append(Orders(5000, 50));
    slow.Append(Orders(5000, 50));
    fast.RemoveAll({"5003", "5004", "5049"});
    for (const char* tid : {"5003", "5004", "5049"}) slow.Remove(tid);
    EXPECT_EQ(Numbers(fast), Numbers(slow)) << doomedCount;
    for (int i = 0; i < fast.RowCount(); ++i) ASSERT_EQ(fast.Find(fast.Cell(i, 0)), i);
  }
}

// A pass writes every row's "到期": the view hears of the changed rows as one
// range, and before any row goes, so its rows never stand for others.
TEST(OrderBook, TimeLeftChangesOfAPassReachTheViewAsOneRange) {
  struct Changes : MemoryOrderList {
    std::vector<std::pair<int, int>> ranges;
    void RowsChanged(int first, int last, int) override { ranges.emplace_back(first, last); }
  } view;
  OrderRows list(4);
  list.AttachView(&view);
  list.Fill(Orders(0, 10));
  list.SetTimeLeft(1, "a");
  EXPECT_EQ(view.ranges, (std::vector<std::pair<int, int>>{{1, 1}}));
  view.ranges.clear();
  list.BeginTimeLeftChanges();
  list.SetTimeLeft(8, "b");
  list.SetTimeLeft(6, "b");
  list.SetTimeLeft(1, "a");  // unchanged
  EXPECT_TRUE(view.ranges.empty());
  list.Remove("3");  // the rows after it move up: first the view hears of the texts
  EXPECT_EQ(view.ranges, (std::vector<std::pair<int, int>>{{6, 8}}));
  list.SetTimeLeft(0, "c");
  list.EndTimeLeftChanges();
  EXPECT_EQ(view.ranges, (std::vector<std::pair<int, int>>{{6, 8}, {0, 0}}));
  EXPECT_EQ(list.Cell(5, kColumnTimeLeft), "b");  // order 6, one row up
}

}  // namespace
}  // namespace qm

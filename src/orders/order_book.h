#pragma once
// The order book: the two lists of the main window, owned by the core and
// keyed by order number. 超级列表框1 shows the orders neither side has rated
// (order number, buyer, end time, time left), 超级列表框2 the orders whose
// buyer has rated (order number, buyer). The first load, the ten-minute
// refresh, the automatic pass and every menu action work on the book and find
// an order by its number after each wait; the windows only show it.
//
// An order number is listed at most once in each list. Rows keep the order in
// which they came; removal never reorders the rest. Everything here runs on
// the UI thread, except OrderRows::Prepare, which a worker may call.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "orders/order.h"
#include "util/ports.h"

namespace qm {

// The columns of the lists, in the windows' order.
inline constexpr int kColumnOrderNumber = 0;  // 订单编号
inline constexpr int kColumnBuyer = 1;        // 买家旺旺
inline constexpr int kColumnEndTime = 2;      // 确认时间 (hidden in 超级列表框1)
inline constexpr int kColumnTimeLeft = 3;     // 到期

struct OrderRow {
  Order order;
  std::string timeLeft;  // "到期"; empty until the automatic pass has looked
  // Rises with every row any list is given, so rows stand in serial order and
  // a walk can find its place again after a wait.
  std::uint64_t serial = 0;
};

// Lets the index be asked with a string_view, without a copy of the number.
struct OrderNumberHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

class OrderRows {
 public:
  // Rows and their index, made ready off the UI thread and handed over whole.
  struct Contents {
    std::vector<OrderRow> rows;
    // order number -> serial
    std::unordered_map<std::string, std::uint64_t, OrderNumberHash, std::equal_to<>> serials;
  };

  explicit OrderRows(int columns) : columns_(columns) {}
  OrderRows(const OrderRows&) = delete;
  OrderRows& operator=(const OrderRows&) = delete;

  int ColumnCount() const { return columns_; }
  int RowCount() const { return static_cast<int>(contents_.rows.size()); }
  // Precondition: 0 <= row < RowCount().
  const OrderRow& Row(int row) const { return contents_.rows[static_cast<std::size_t>(row)]; }
  // A cell's text; empty for a row or column out of range.
  std::string_view Cell(int row, int column) const;
  // The row of an order, -1 when it is not listed.
  int Find(std::string_view tid) const;
  bool Contains(std::string_view tid) const { return Find(tid) >= 0; }
  // How many rows came before the row with `serial` (listed or not): the walk
  // of the automatic pass goes on from there after a wait.
  int RowsBefore(std::uint64_t serial) const;

  // Rows for `orders` in their order, the first of each order number kept.
  // Safe on any thread; touches no list.
  static Contents Prepare(std::vector<Order> orders);
  // Replaces every row.
  void Fill(Contents contents);
  void Fill(std::vector<Order> orders) { Fill(Prepare(std::move(orders))); }
  // Appends the orders that are not listed yet; returns how many were.
  int Append(std::vector<Order> orders);
  // Removes an order by its number; false when it was not listed.
  bool Remove(std::string_view tid);
  // Removes every listed order of `tids`; returns how many went.
  int RemoveAll(const std::vector<std::string>& tids);
  void Clear();
  // Sets the "到期" text of a row (the view hears of it only when it changed).
  void SetTimeLeft(int row, const std::string& text);

  // The view that shows this list; nullptr for none. The book tells it of
  // every change from then on (a view attached to a filled list starts with
  // a reset).
  void AttachView(OrderList* view);
  OrderList* View() const { return view_; }
  // The user's choice in the view, as order numbers (empty when there is none).
  std::string CurrentOrder() const;
  std::vector<std::string> SelectedOrders() const;
  void Repaint();
  void SetColours(std::uint32_t text, std::uint32_t background);

 private:
  // Removes the rows marked in `doomed` (a flag per row), telling the view.
  int RemoveMarked(const std::vector<bool>& doomed, int count);

  int columns_;
  Contents contents_;
  OrderList* view_ = nullptr;
};

class OrderBook {
 public:
  OrderBook() : unrated_(4), buyerRated_(2) {}
  OrderRows& Unrated() { return unrated_; }        // 超级列表框1
  OrderRows& BuyerRated() { return buyerRated_; }  // 超级列表框2
  const OrderRows& Unrated() const { return unrated_; }
  const OrderRows& BuyerRated() const { return buyerRated_; }

 private:
  OrderRows unrated_;
  OrderRows buyerRated_;
};

// The book of the running program; nullptr until the desktop or the runner
// sets one (and again after it is released).
void SetOrderBook(OrderBook* book);
OrderBook* CurrentOrderBook();

}  // namespace qm

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
  // Rises with every row its list is given, so rows stand in serial order and
  // a row is found by its serial without reading the others.
  std::uint64_t serial = 0;
};

// Lets the index be asked with a string_view, without a copy of the number.
struct OrderNumberHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// The platform's order numbers are decimal numbers: one of at most 19
// digits without a leading zero is its own key, above 0 (at most 10^19).
// False for any other text.
inline bool OrderNumberKey(std::string_view tid, std::uint64_t* key) {
  if (tid.empty() || tid.size() > 19 || tid[0] == '0') return false;
  std::uint64_t v = 0;
  for (char c : tid) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *key = v + 1;
  return true;
}

// Order number -> slot. Numbers (OrderNumberKey) sit in an open table without
// an allocation each; other texts in a map beside it.
class OrderIndex {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  std::uint32_t Find(std::string_view tid) const;
  // False (and nothing changes) when the number is there already.
  bool Insert(std::string_view tid, std::uint32_t slot);
  void Erase(std::string_view tid);
  void Reserve(std::size_t orders);
  void Clear();

 private:
  struct Entry {
    std::uint64_t key = 0;  // 0: free
    std::uint32_t slot = 0;
  };
  std::size_t Home(std::uint64_t key) const { return (key * 0x9E3779B97F4A7C15ull) >> 20 & (table_.size() - 1); }
  void Grow(std::size_t atLeast);

  std::vector<Entry> table_;
  std::size_t count_ = 0;
  std::unordered_map<std::string, std::uint32_t, OrderNumberHash, std::equal_to<>> texts_;
};

// The listed rows in list order, each as its serial and its slot packed in
// one number (serial above kSlotBits, so the numbers ascend with the
// serials), with a gap that moves to where rows go: rows removed in
// ascending order move each row behind them once, and only as numbers, and
// a search by serial reads no row.
class RowOrder {
 public:
  static constexpr int kSlotBits = 24;
  // Far beyond any listing (kMaxListingPages pages of 100); rows past it are
  // not taken.
  static constexpr std::uint32_t kMostRows = (1u << kSlotBits) - 1;
  static std::uint64_t Entry(std::uint64_t serial, std::uint32_t slot) { return serial << kSlotBits | slot; }
  static std::uint32_t SlotOf(std::uint64_t entry) { return static_cast<std::uint32_t>(entry & ((1u << kSlotBits) - 1)); }
  static std::uint64_t SerialOf(std::uint64_t entry) { return entry >> kSlotBits; }

  std::size_t Size() const { return entries_.size() - (gapEnd_ - gapBegin_); }
  std::uint64_t At(std::size_t i) const { return entries_[i < gapBegin_ ? i : i + (gapEnd_ - gapBegin_)]; }
  // The first position whose serial is `serial` or more.
  std::size_t LowerBound(std::uint64_t serial) const;
  void Assign(std::vector<std::uint64_t> entries);
  void PushBack(std::uint64_t entry);
  // Drops positions [first, first + count).
  void Erase(std::size_t first, std::size_t count);

 private:
  void MoveGapTo(std::size_t position);

  std::vector<std::uint64_t> entries_;
  std::size_t gapBegin_ = 0, gapEnd_ = 0;
};

class OrderRows {
 public:
  // Rows and their index, made ready off the UI thread and handed over whole.
  struct Contents {
    std::vector<OrderRow> rows;
    // order number -> its row in `rows`
    OrderIndex index;
  };

  explicit OrderRows(int columns) : columns_(columns) {}
  OrderRows(const OrderRows&) = delete;
  OrderRows& operator=(const OrderRows&) = delete;

  int ColumnCount() const { return columns_; }
  int RowCount() const { return static_cast<int>(order_.Size()); }
  // Precondition: 0 <= row < RowCount().
  const OrderRow& Row(int row) const { return slots_[RowOrder::SlotOf(order_.At(static_cast<std::size_t>(row)))]; }
  // A cell's text; empty for a row or column out of range.
  std::string_view Cell(int row, int column) const;
  // The row of an order, -1 when it is not listed.
  int Find(std::string_view tid) const;
  bool Contains(std::string_view tid) const { return index_.Find(tid) != OrderIndex::kNone; }

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
  // Removes every listed order of `tids`; returns how many went. The view
  // hears of each run of neighbouring rows, so the user's choice stays.
  int RemoveAll(const std::vector<std::string>& tids);
  void Clear();
  // Sets the "到期" text of a row (the view hears of it only when it changed).
  void SetTimeLeft(int row, const std::string& text);
  // Between these two the view hears of the changed "到期" texts as one range
  // at the end (and before any row comes or goes), not row by row: a pass
  // writes every row's text at once.
  void BeginTimeLeftChanges();
  void EndTimeLeftChanges();

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
  // Takes the rows at positions [first, first + count) out, telling the view.
  void RemoveRun(int first, int count);
  // Tells the view of the "到期" texts changed since the batch began.
  void FlushTimeLeftChanges();

  int columns_;
  // Rows live in slots that stay put while rows come and go (a removed row's
  // slot is reused); order_ says which slots are listed, in list order.
  std::vector<OrderRow> slots_;
  std::vector<std::uint32_t> freeSlots_;
  // The serial of the next row this list is given; never reused.
  std::uint64_t nextSerial_ = 1;
  OrderIndex index_;  // order number -> slot
  RowOrder order_;
  OrderList* view_ = nullptr;
  bool batchingTimeLeft_ = false;
  int changedFirst_ = -1, changedLast_ = -1;  // rows changed in the batch
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

}  // namespace qm

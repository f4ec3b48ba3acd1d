#include "orders/order_book.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace qm {
namespace {

std::atomic<std::uint64_t> g_nextSerial{1};
OrderBook* g_book = nullptr;

// Past this many separate runs of removed rows the view is told of one reset:
// erasing run by run would move the tail of the list once per run.
constexpr int kMostRemovalRuns = 64;

}  // namespace

std::string_view OrderRows::Cell(int row, int column) const {
  if (row < 0 || row >= RowCount() || column < 0 || column >= columns_) return {};
  const OrderRow& r = Row(row);
  switch (column) {
    case kColumnOrderNumber: return r.order.tid;
    case kColumnBuyer: return r.order.buyerNick;
    case kColumnEndTime: return r.order.endTime;
    case kColumnTimeLeft: return r.timeLeft;
    default: return {};
  }
}

int OrderRows::RowsBefore(std::uint64_t serial) const {
  const auto& rows = contents_.rows;
  auto it = std::lower_bound(rows.begin(), rows.end(), serial,
                             [](const OrderRow& r, std::uint64_t s) { return r.serial < s; });
  return static_cast<int>(it - rows.begin());
}

int OrderRows::Find(std::string_view tid) const {
  auto it = contents_.serials.find(tid);
  if (it == contents_.serials.end()) return -1;
  const int row = RowsBefore(it->second);
  return row < RowCount() && Row(row).serial == it->second ? row : -1;
}

OrderRows::Contents OrderRows::Prepare(std::vector<Order> orders) {
  Contents c;
  c.rows.reserve(orders.size());
  c.serials.reserve(orders.size());
  const std::uint64_t first = g_nextSerial.fetch_add(orders.size());
  std::uint64_t serial = first;
  for (Order& o : orders) {
    if (!c.serials.emplace(o.tid, serial).second) continue;
    c.rows.push_back(OrderRow{std::move(o), std::string(), serial++});
  }
  return c;
}

void OrderRows::Fill(Contents contents) {
  if (view_ != nullptr) view_->BeginReset();
  std::swap(contents_, contents);
  if (view_ != nullptr) view_->EndReset(RowCount());
  // The old rows go after the view has let go of them.
}

int OrderRows::Append(std::vector<Order> orders) {
  // The index may learn of the new rows first: the view reads only the rows.
  std::uint64_t serial = g_nextSerial.fetch_add(orders.size());
  std::vector<OrderRow> fresh;
  fresh.reserve(orders.size());
  for (Order& o : orders) {
    if (!contents_.serials.emplace(o.tid, serial).second) continue;
    fresh.push_back(OrderRow{std::move(o), std::string(), serial++});
  }
  if (fresh.empty()) return 0;
  const int first = RowCount();
  const int count = static_cast<int>(fresh.size());
  if (view_ != nullptr) view_->BeginInsert(first, first + count - 1);
  // No reserve to the exact size here: page after page, that would copy the
  // whole list on every append.
  for (OrderRow& r : fresh) contents_.rows.push_back(std::move(r));
  if (view_ != nullptr) view_->EndInsert();
  return count;
}

bool OrderRows::Remove(std::string_view tid) {
  const int row = Find(tid);
  if (row < 0) return false;
  if (view_ != nullptr) view_->BeginRemove(row, row);
  contents_.serials.erase(contents_.serials.find(tid));
  contents_.rows.erase(contents_.rows.begin() + row);
  if (view_ != nullptr) view_->EndRemove();
  return true;
}

int OrderRows::RemoveAll(const std::vector<std::string>& tids) {
  // The serials of the listed ones, then one walk down the rows (which stand
  // in serial order) instead of a search per order.
  std::vector<std::uint64_t> gone;
  gone.reserve(tids.size());
  for (const std::string& tid : tids) {
    auto it = contents_.serials.find(tid);
    if (it != contents_.serials.end()) gone.push_back(it->second);
  }
  if (gone.empty()) return 0;
  std::sort(gone.begin(), gone.end());
  gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
  std::vector<bool> doomed(contents_.rows.size(), false);
  std::size_t next = 0;
  int count = 0;
  for (std::size_t i = 0; i < contents_.rows.size() && next < gone.size(); ++i) {
    const std::uint64_t serial = contents_.rows[i].serial;
    while (next < gone.size() && gone[next] < serial) ++next;
    if (next < gone.size() && gone[next] == serial) {
      doomed[i] = true;
      ++count;
      ++next;
    }
  }
  return count == 0 ? 0 : RemoveMarked(doomed, count);
}

int OrderRows::RemoveMarked(const std::vector<bool>& doomed, int count) {
  auto& rows = contents_.rows;
  // Runs of marked rows, first to last.
  std::vector<std::pair<int, int>> runs;
  for (int i = 0; i < RowCount(); ++i) {
    if (!doomed[static_cast<std::size_t>(i)]) continue;
    if (!runs.empty() && runs.back().second == i - 1) {
      runs.back().second = i;
    } else {
      runs.emplace_back(i, i);
    }
  }
  for (int i = 0; i < RowCount(); ++i)
    if (doomed[static_cast<std::size_t>(i)]) contents_.serials.erase(contents_.serials.find(rows[static_cast<std::size_t>(i)].order.tid));

  if (static_cast<int>(runs.size()) <= kMostRemovalRuns) {
    // From the last run to the first, so the earlier runs keep their rows.
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
      if (view_ != nullptr) view_->BeginRemove(it->first, it->second);
      rows.erase(rows.begin() + it->first, rows.begin() + it->second + 1);
      if (view_ != nullptr) view_->EndRemove();
    }
    return count;
  }
  if (view_ != nullptr) view_->BeginReset();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (doomed[i]) continue;
    if (kept != i) rows[kept] = std::move(rows[i]);
    ++kept;
  }
  rows.resize(kept);
  if (view_ != nullptr) view_->EndReset(RowCount());
  return count;
}

void OrderRows::Clear() {
  if (contents_.rows.empty()) return;
  Fill(Contents{});
}

void OrderRows::SetTimeLeft(int row, const std::string& text) {
  if (row < 0 || row >= RowCount()) return;
  std::string& cell = contents_.rows[static_cast<std::size_t>(row)].timeLeft;
  if (cell == text) return;
  cell = text;
  if (view_ != nullptr) view_->RowsChanged(row, row, kColumnTimeLeft);
}

void OrderRows::AttachView(OrderList* view) {
  view_ = view;
  if (view_ != nullptr) {
    view_->BeginReset();
    view_->EndReset(RowCount());
  }
}

std::string OrderRows::CurrentOrder() const {
  if (view_ == nullptr) return {};
  const int row = view_->CurrentRow();
  return row >= 0 && row < RowCount() ? Row(row).order.tid : std::string();
}

std::vector<std::string> OrderRows::SelectedOrders() const {
  std::vector<std::string> out;
  if (view_ == nullptr) return out;
  for (int row : view_->SelectedRows())
    if (row >= 0 && row < RowCount()) out.push_back(Row(row).order.tid);
  return out;
}

void OrderRows::Repaint() {
  if (view_ != nullptr) view_->Repaint();
}

void OrderRows::SetColours(std::uint32_t text, std::uint32_t background) {
  if (view_ != nullptr) view_->SetColours(text, background);
}

void SetOrderBook(OrderBook* book) { g_book = book; }
OrderBook* CurrentOrderBook() { return g_book; }

}  // namespace qm

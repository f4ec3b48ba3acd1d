#include "orders/order_book.h"

#include <algorithm>
#include <utility>

namespace qm {
std::uint32_t OrderIndex::Find(std::string_view tid) const {
  std::uint64_t key = 0;
  if (!OrderNumberKey(tid, &key)) {
    auto it = texts_.find(tid);
    return it == texts_.end() ? kNone : it->second;
  }
  if (table_.empty()) return kNone;
  for (std::size_t i = Home(key);; i = (i + 1) & (table_.size() - 1)) {
    if (table_[i].key == key) return table_[i].slot;
    if (table_[i].key == 0) return kNone;
  }
}

bool OrderIndex::Insert(std::string_view tid, std::uint32_t slot) {
  std::uint64_t key = 0;
  if (!OrderNumberKey(tid, &key)) return texts_.emplace(std::string(tid), slot).second;
  if ((count_ + 1) * 2 > table_.size()) Grow(count_ + 1);
  for (std::size_t i = Home(key);; i = (i + 1) & (table_.size() - 1)) {
    if (table_[i].key == key) return false;
    if (table_[i].key == 0) {
      table_[i] = Entry{key, slot};
      ++count_;
      return true;
    }
  }
}

void OrderIndex::Erase(std::string_view tid) {
  std::uint64_t key = 0;
  if (!OrderNumberKey(tid, &key)) {
    if (auto it = texts_.find(tid); it != texts_.end()) texts_.erase(it);
    return;
  }
  if (table_.empty()) return;
  const std::size_t mask = table_.size() - 1;
  std::size_t i = Home(key);
  while (table_[i].key != key) {
    if (table_[i].key == 0) return;
    i = (i + 1) & mask;
  }
  // Entries after the freed one move back over it unless their home lies
  // between: every entry stays reachable from its home without a gap.
  for (std::size_t j = (i + 1) & mask; table_[j].key != 0; j = (j + 1) & mask) {
    const std::size_t home = Home(table_[j].key);
    const bool between = i <= j ? (i < home && home <= j) : (i < home || home <= j);
    if (between) continue;
    table_[i] = table_[j];
    i = j;
  }
  table_[i] = Entry{};
  --count_;
}

void OrderIndex::Reserve(std::size_t orders) {
  if (orders * 2 > table_.size()) Grow(orders);
}

void OrderIndex::Clear() {
  std::fill(table_.begin(), table_.end(), Entry{});
  count_ = 0;
  texts_.clear();
}

void OrderIndex::Grow(std::size_t atLeast) {
  std::size_t size = table_.empty() ? 1024 : table_.size();
  while (atLeast * 2 > size) size *= 2;
  std::vector<Entry> old = std::move(table_);
  table_.assign(size, Entry{});
  for (const Entry& e : old) {
    if (e.key == 0) continue;
    std::size_t i = Home(e.key);
    while (table_[i].key != 0) i = (i + 1) & (size - 1);
    table_[i] = e;
  }
}

std::size_t RowOrder::LowerBound(std::uint64_t serial) const {
  const std::uint64_t key = serial << kSlotBits;
  // The part before the gap, then the part after it.
  auto before = entries_.begin() + static_cast<std::ptrdiff_t>(gapBegin_);
  auto it = std::lower_bound(entries_.begin(), before, key);
  if (it != before) return static_cast<std::size_t>(it - entries_.begin());
  auto after = entries_.begin() + static_cast<std::ptrdiff_t>(gapEnd_);
  return gapBegin_ + static_cast<std::size_t>(std::lower_bound(after, entries_.end(), key) - after);
}

void RowOrder::Assign(std::vector<std::uint64_t> entries) {
  entries_ = std::move(entries);
  gapBegin_ = gapEnd_ = entries_.size();
}

void RowOrder::MoveGapTo(std::size_t position) {
  const auto at = [this](std::size_t i) { return entries_.begin() + static_cast<std::ptrdiff_t>(i); };
  if (position < gapBegin_) {
    const std::size_t n = gapBegin_ - position;
    std::copy_backward(at(position), at(gapBegin_), at(gapEnd_));
    gapBegin_ -= n;
    gapEnd_ -= n;
  } else if (position > gapBegin_) {
    const std::size_t n = position - gapBegin_;
    std::copy(at(gapEnd_), at(gapEnd_ + n), at(gapBegin_));
    gapBegin_ += n;
    gapEnd_ += n;
  }
}

void RowOrder::PushBack(std::uint64_t entry) {
  MoveGapTo(Size());
  if (gapBegin_ < gapEnd_) {
    entries_[gapBegin_++] = entry;
  } else {
    entries_.push_back(entry);
    gapBegin_ = gapEnd_ = entries_.size();
  }
}

void RowOrder::Erase(std::size_t first, std::size_t count) {
  MoveGapTo(first);
  gapEnd_ += count;
}

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

int OrderRows::Find(std::string_view tid) const {
  const std::uint32_t slot = index_.Find(tid);
  if (slot == OrderIndex::kNone) return -1;
  const std::uint64_t serial = slots_[slot].serial;
  const std::size_t row = order_.LowerBound(serial);
  return row < order_.Size() && RowOrder::SerialOf(order_.At(row)) == serial ? static_cast<int>(row) : -1;
}

OrderRows::Contents OrderRows::Prepare(std::vector<Order> orders) {
  Contents c;
  c.rows.reserve(orders.size());
  c.index.Reserve(orders.size());
  for (Order& o : orders) {
    if (c.rows.size() >= RowOrder::kMostRows) break;
    if (!c.index.Insert(o.tid, static_cast<std::uint32_t>(c.rows.size()))) continue;
    c.rows.push_back(OrderRow{std::move(o), std::string(), 0});  // numbered by Fill
  }
  return c;
}

void OrderRows::Fill(Contents contents) {
  FlushTimeLeftChanges();
  std::vector<std::uint64_t> order(contents.rows.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    contents.rows[i].serial = nextSerial_++;
    order[i] = RowOrder::Entry(contents.rows[i].serial, static_cast<std::uint32_t>(i));
  }
  if (view_ != nullptr) view_->BeginReset();
  std::swap(slots_, contents.rows);
  std::swap(index_, contents.index);
  freeSlots_.clear();
  order_.Assign(std::move(order));
  if (view_ != nullptr) view_->EndReset(RowCount());
  // The old rows go after the view has let go of them.
}

int OrderRows::Append(std::vector<Order> orders) {
  const int first = RowCount();
  std::vector<std::uint64_t> fresh;
  fresh.reserve(orders.size());
  for (Order& o : orders) {
    const bool reuse = !freeSlots_.empty();
    const std::uint32_t slot = reuse ? freeSlots_.back() : static_cast<std::uint32_t>(slots_.size());
    if (!reuse && slot >= RowOrder::kMostRows) break;
    if (!index_.Insert(o.tid, slot)) continue;
    const std::uint64_t rowSerial = nextSerial_++;
    OrderRow row{std::move(o), std::string(), rowSerial};
    if (reuse) {
      freeSlots_.pop_back();
      slots_[slot] = std::move(row);
    } else {
      // Grows geometrically: page after page, an exact reserve would copy
      // the whole list on every append.
      slots_.push_back(std::move(row));
    }
    fresh.push_back(RowOrder::Entry(rowSerial, slot));
  }
  if (fresh.empty()) return 0;
  // The slots and the index may learn of the new rows first: the view reads
  // only the listed rows.
  const int count = static_cast<int>(fresh.size());
  FlushTimeLeftChanges();
  if (view_ != nullptr) view_->BeginInsert(first, first + count - 1);
  for (std::uint64_t entry : fresh) order_.PushBack(entry);
  if (view_ != nullptr) view_->EndInsert();
  return count;
}

void OrderRows::RemoveRun(int first, int count) {
  FlushTimeLeftChanges();
  if (view_ != nullptr) view_->BeginRemove(first, first + count - 1);
  for (int i = first; i < first + count; ++i) {
    const std::uint32_t slot = RowOrder::SlotOf(order_.At(static_cast<std::size_t>(i)));
    OrderRow& row = slots_[slot];
    index_.Erase(row.order.tid);
    row = OrderRow{};
    freeSlots_.push_back(slot);
  }
  order_.Erase(static_cast<std::size_t>(first), static_cast<std::size_t>(count));
  if (view_ != nullptr) view_->EndRemove();
}

bool OrderRows::Remove(std::string_view tid) {
  const int row = Find(tid);
  if (row < 0) return false;
  RemoveRun(row, 1);
  return true;
}

int OrderRows::RemoveAll(const std::vector<std::string>& tids) {
  // The rows of the listed ones, ascending, then run after run from the
  // first: the gap of the row order moves down the list once.
  std::vector<int> rows;
  rows.reserve(tids.size());
  for (const std::string& tid : tids) {
    const int row = Find(tid);
    if (row >= 0) rows.push_back(row);
  }
  if (rows.empty()) return 0;
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  int removed = 0;
  for (std::size_t i = 0; i < rows.size();) {
    std::size_t j = i + 1;
    while (j < rows.size() && rows[j] == rows[j - 1] + 1) ++j;
    const int count = static_cast<int>(j - i);
    // Earlier runs are gone by now: the rows after them moved up.
    RemoveRun(rows[i] - removed, count);
    removed += count;
    i = j;
  }
  return removed;
}

void OrderRows::Clear() {
  if (RowCount() == 0 && slots_.empty()) return;
  changedFirst_ = changedLast_ = -1;
  // The room stays: the refresh empties 超级列表框2 every ten minutes and
  // fills it again to about the same size.
  if (view_ != nullptr) view_->BeginReset();
  order_.Assign({});
  index_.Clear();
  slots_.clear();
  freeSlots_.clear();
  if (view_ != nullptr) view_->EndReset(0);
}

void OrderRows::SetTimeLeft(int row, const std::string& text) {
  if (row < 0 || row >= RowCount()) return;
  std::string& cell = slots_[RowOrder::SlotOf(order_.At(static_cast<std::size_t>(row)))].timeLeft;
  if (cell == text) return;
  cell = text;
  if (view_ == nullptr) return;
  if (!batchingTimeLeft_) {
    view_->RowsChanged(row, row, kColumnTimeLeft);
  } else if (changedFirst_ < 0) {
    changedFirst_ = changedLast_ = row;
  } else {
    changedFirst_ = std::min(changedFirst_, row);
    changedLast_ = std::max(changedLast_, row);
  }
}

void OrderRows::BeginTimeLeftChanges() { batchingTimeLeft_ = true; }

void OrderRows::EndTimeLeftChanges() {
  FlushTimeLeftChanges();
  batchingTimeLeft_ = false;
}

void OrderRows::FlushTimeLeftChanges() {
  if (changedFirst_ < 0) return;
  const int first = changedFirst_, last = std::min(changedLast_, RowCount() - 1);
  changedFirst_ = changedLast_ = -1;
  if (view_ != nullptr && first <= last) view_->RowsChanged(first, last, kColumnTimeLeft);
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


}  // namespace qm

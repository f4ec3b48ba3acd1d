#include "util/memory_ports.h"

namespace qm {

std::string MemoryOrderList::Cell(int row, int column) const {
  if (row < 0 || row >= RowCount() || column < 0 || column >= columns_) return {};
  return rows_[static_cast<size_t>(row)].cells[static_cast<size_t>(column)];
}

std::vector<int> MemoryOrderList::SelectedRows() const {
  std::vector<int> out;
  for (int i = 0; i < RowCount(); ++i)
    if (rows_[static_cast<size_t>(i)].selected) out.push_back(i);
  return out;
}

int MemoryOrderList::AppendRow(const std::vector<std::string>& cells) {
  Row row;
  row.cells.assign(static_cast<size_t>(columns_), std::string());
  for (size_t i = 0; i < cells.size() && i < row.cells.size(); ++i) row.cells[i] = cells[i];
  rows_.push_back(std::move(row));
  return RowCount() - 1;
}

void MemoryOrderList::AppendRows(const std::vector<std::vector<std::string>>& rows) {
  rows_.reserve(rows_.size() + rows.size());
  for (const auto& cells : rows) AppendRow(cells);
}

void MemoryOrderList::SetCell(int row, int column, const std::string& text) {
  if (row < 0 || row >= RowCount() || column < 0 || column >= columns_) return;
  rows_[static_cast<size_t>(row)].cells[static_cast<size_t>(column)] = text;
}

void MemoryOrderList::DeleteRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  rows_.erase(rows_.begin() + row);
  if (current_ == row) {
    current_ = -1;
  } else if (current_ > row) {
    --current_;
  }
}

void MemoryOrderList::DeleteRows(const std::vector<int>& rows) {
  std::vector<bool> doomed(rows_.size(), false);
  bool any = false;
  for (int row : rows) {
    if (row < 0 || row >= RowCount()) continue;
    doomed[static_cast<size_t>(row)] = true;
    any = true;
  }
  if (!any) return;
  size_t kept = 0;
  int currentAfter = -1;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (doomed[i]) continue;
    if (static_cast<int>(i) == current_) currentAfter = static_cast<int>(kept);
    if (kept != i) rows_[kept] = std::move(rows_[i]);
    ++kept;
  }
  rows_.resize(kept);
  current_ = currentAfter;
}

void MemoryOrderList::DeleteAllRows() {
  rows_.clear();
  current_ = -1;
}

void MemoryOrderList::SetSelected(int row, bool selected) {
  if (row < 0 || row >= RowCount()) return;
  rows_[static_cast<size_t>(row)].selected = selected;
}

int MemoryOrderList::FindRow(int column, const std::string& text) const {
  for (int i = 0; i < RowCount(); ++i)
    if (Cell(i, column) == text) return i;
  return -1;
}

void ScriptedPrompts::Information(const std::string& title, const std::string& text) {
  shown_.push_back({"information", title, text});
}

bool ScriptedPrompts::Question(const std::string& title, const std::string& text) {
  shown_.push_back({"question", title, text});
  if (questionAnswers_.empty()) return true;
  bool ok = questionAnswers_.front();
  questionAnswers_.pop_front();
  return ok;
}

std::optional<std::string> ScriptedPrompts::Input(const std::string& title, const std::string& label,
                                                  const std::string& initial) {
  shown_.push_back({"input", title, label});
  if (inputAnswers_.empty()) return initial;
  auto answer = inputAnswers_.front();
  inputAnswers_.pop_front();
  return answer;
}

}  // namespace qm

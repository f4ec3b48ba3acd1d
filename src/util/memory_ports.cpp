#include "util/memory_ports.h"

#include <algorithm>

namespace qm {

void MemoryOrderList::BeginReset() {
  rows_ = 0;
  current_ = -1;
  selected_.clear();
  ++resets_;
}

void MemoryOrderList::BeginInsert(int first, int last) {
  const int n = last - first + 1;
  if (n <= 0) return;
  rows_ += n;
  selected_.insert(selected_.begin() + std::min<std::size_t>(selected_.size(), static_cast<std::size_t>(first)),
                   static_cast<std::size_t>(n), false);
  if (current_ >= first) current_ += n;
}

void MemoryOrderList::BeginRemove(int first, int last) {
  const int n = last - first + 1;
  if (n <= 0) return;
  rows_ -= n;
  if (static_cast<std::size_t>(first) < selected_.size())
    selected_.erase(selected_.begin() + first,
                    selected_.begin() + std::min<std::size_t>(selected_.size(), static_cast<std::size_t>(last) + 1));
  if (current_ > last) {
    current_ -= n;
  } else if (current_ >= first) {
    current_ = -1;
  }
}

std::vector<int> MemoryOrderList::SelectedRows() const {
  std::vector<int> out;
  for (std::size_t i = 0; i < selected_.size(); ++i)
    if (selected_[i]) out.push_back(static_cast<int>(i));
  return out;
}

void MemoryOrderList::SetSelected(int row, bool selected) {
  if (row < 0 || row >= rows_) return;
  if (selected_.size() < static_cast<std::size_t>(rows_)) selected_.resize(static_cast<std::size_t>(rows_), false);
  selected_[static_cast<std::size_t>(row)] = selected;
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

#pragma once
// In-memory forms of the user-interface ports, for the headless runner and
// the tests: a view of an order list, a timer that only keeps its interval, boxes that
// answer from a script and remember what they showed, and a clipboard.
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "util/ports.h"

namespace qm {

// A view of one list of the order book that keeps what a list view keeps of
// its own: the rows' count, the focus and the selection (moved along when rows
// go, as a list view moves them), repaints and colours.
class MemoryOrderList : public OrderList {
 public:
  void BeginReset() override;
  void EndReset(int rows) override { rows_ = rows; }
  void BeginInsert(int first, int last) override;
  void EndInsert() override {}
  void BeginRemove(int first, int last) override;
  void EndRemove() override {}
  int CurrentRow() const override { return current_; }
  std::vector<int> SelectedRows() const override;
  void Repaint() override { ++repaints_; }
  void SetColours(std::uint32_t text, std::uint32_t background) override {
    textColour_ = text;
    backgroundColour_ = background;
  }

  // What a user does: focus a row (-1 for none) and select rows.
  void SetCurrentRow(int row) { current_ = (row >= 0 && row < rows_) ? row : -1; }
  void SetSelected(int row, bool selected);

  int Rows() const { return rows_; }
  int Repaints() const { return repaints_; }
  int Resets() const { return resets_; }
  std::uint32_t TextColour() const { return textColour_; }
  std::uint32_t BackgroundColour() const { return backgroundColour_; }

 private:
  int rows_ = 0;
  int current_ = -1;
  std::vector<bool> selected_;
  int repaints_ = 0;
  int resets_ = 0;
  std::uint32_t textColour_ = 0x000000;
  std::uint32_t backgroundColour_ = 0xFFFFFF;
};

// Keeps the interval only; something else (EventLoop::NewTimer, a test) fires it.
class MemoryTimer : public Timer {
 public:
  void SetInterval(int milliseconds) override { interval_ = milliseconds > 0 ? milliseconds : 0; }
  int Interval() const override { return interval_; }

 private:
  int interval_ = 0;
};

// Answers questions and input boxes from queues (OK / the initial text when a
// queue is empty) and records every box shown.
class ScriptedPrompts : public Prompts {
 public:
  struct Shown {
    std::string kind;  // "information", "question" or "input"
    std::string title;
    std::string text;
  };

  void Information(const std::string& title, const std::string& text) override;
  bool Question(const std::string& title, const std::string& text) override;
  std::optional<std::string> Input(const std::string& title, const std::string& label,
                                   const std::string& initial) override;

  void QueueQuestionAnswer(bool ok) { questionAnswers_.push_back(ok); }
  void QueueInputAnswer(std::optional<std::string> answer) { inputAnswers_.push_back(std::move(answer)); }
  const std::vector<Shown>& History() const { return shown_; }

 private:
  std::deque<bool> questionAnswers_;
  std::deque<std::optional<std::string>> inputAnswers_;
  std::vector<Shown> shown_;
};

class MemoryClipboard : public Clipboard {
 public:
  bool SetText(const std::string& text) override {
    text_ = text;
    return true;
  }
  std::string Text() const override { return text_; }
  bool SetPicture(const std::vector<std::uint8_t>& png) override {
    picture_ = png;
    return true;
  }
  std::vector<std::uint8_t> Picture() const override { return picture_; }

 private:
  std::string text_;
  std::vector<std::uint8_t> picture_;
};

}  // namespace qm

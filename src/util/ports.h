#pragma once
// The small interfaces through which the core reaches the user interface.
// app/ implements them with Qt widgets; the headless runner and the tests
// implement them in memory. Every call is made on the UI thread.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qm {

// A timer of a window: an interval in milliseconds; 0 means stopped.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void SetInterval(int milliseconds) = 0;
  virtual int Interval() const = 0;
};

// A report-style list of rows of text cells (UTF-8).
class OrderList {
 public:
  virtual ~OrderList() = default;
  virtual int RowCount() const = 0;
  virtual int ColumnCount() const = 0;
  // Empty text for a row or column out of range.
  virtual std::string Cell(int row, int column) const = 0;
  // The row with the focus, -1 when there is none.
  virtual int CurrentRow() const = 0;
  // The selected rows, ascending.
  virtual std::vector<int> SelectedRows() const = 0;
  // Appends a row; missing cells are empty, extra cells are dropped. Returns its index.
  virtual int AppendRow(const std::vector<std::string>& cells) = 0;
  // Appends many rows at once (one repaint).
  virtual void AppendRows(const std::vector<std::vector<std::string>>& rows) = 0;
  virtual void SetCell(int row, int column, const std::string& text) = 0;
  // Out-of-range rows are ignored.
  virtual void DeleteRow(int row) = 0;
  // Deletes several rows at once (indices as they are before the call; repeated
  // and out-of-range ones are ignored). The default deletes them one by one from
  // the last; lists that can drop many rows in one pass override it.
  virtual void DeleteRows(const std::vector<int>& rows) {
    std::vector<int> order(rows);
    std::sort(order.begin(), order.end(), [](int a, int b) { return a > b; });
    order.erase(std::unique(order.begin(), order.end()), order.end());
    for (int row : order) DeleteRow(row);
  }
  virtual void DeleteAllRows() = 0;
  virtual void Repaint() = 0;
  // Colours as 0xRRGGBB.
  virtual void SetColours(std::uint32_t text, std::uint32_t background) = 0;
};

// The user's boxes. Texts are UTF-8.
class Prompts {
 public:
  virtual ~Prompts() = default;
  // An information box with an OK button.
  virtual void Information(const std::string& title, const std::string& text) = 0;
  // An OK/Cancel question; true for OK.
  virtual bool Question(const std::string& title, const std::string& text) = 0;
  // A one-line input box; nullopt when cancelled.
  virtual std::optional<std::string> Input(const std::string& title, const std::string& label,
                                           const std::string& initial) = 0;
};

// The system clipboard. Text is UTF-8 here; callers that need the local code
// page convert at their boundary. Pictures travel as PNG bytes.
class Clipboard {
 public:
  virtual ~Clipboard() = default;
  virtual bool SetText(const std::string& text) = 0;
  virtual std::string Text() const = 0;
  virtual bool SetPicture(const std::vector<std::uint8_t>& png) = 0;
  virtual std::vector<std::uint8_t> Picture() const = 0;
};

// What the core touches of the main window. The desktop fills it with adapters
// of its widgets, the headless runner and the tests with in-memory ones. A
// missing member means "nothing to show"; callers check before use.
struct MainView {
  OrderList* unrated = nullptr;     // 超级列表框1: 订单编号, 买家旺旺, 确认时间 (hidden), 到期
  OrderList* buyerRated = nullptr;  // 超级列表框2: 订单编号, 买家旺旺
  Timer* autoTimer = nullptr;       // 时钟1: the automatic rating pass, every 5000 ms
  Timer* refreshTimer = nullptr;    // 时钟2: the buyer-rated refresh, every 600000 ms
  Prompts* prompts = nullptr;
  std::function<void(const std::string&)> setStatus;  // the status line 标签3
  std::function<void(bool)> showBusy;                 // the busy picture 图片框2
  std::function<void()> clearWebCache;                // the embedded browser's HTTP cache
  // Ends the program with the code (the desktop quits at once; tests record it).
  std::function<void(int)> exitProgram;
  // One line per event for the headless runner's output; may be empty.
  std::function<void(const std::string&)> log;
};

// The view the running program uses; nullptr until the desktop or the runner sets it.
void SetMainView(MainView* view);
MainView* CurrentMainView();

}  // namespace qm

